// Offsets of the constants in the const segment (the constant pool) that the
// code and the image header use. The pool's bytes are laid out in
// const_pool.cpp; every offset named here holds its value there.
#pragma once

#include <cstdint>

namespace image {

enum class K : std::uint32_t {
  FixedMergeDir = 0x000,      // text: tile directory of the fixed-path merge
  Empty = 0x025,              // text ""
  Backslash = 0x026,          // text "\"
  AllPattern = 0x028,         // text "\*.*"
  D256 = 0x02D,               // double 256.0
  BitmapFailShort = 0x035,    // text "创建位图失败!"
  DotDot = 0x043,             // text ".."
  Dot = 0x046,                // text "."
  EmptyBuffer = 0x048,        // byte buffer {1, 0}
  FixedMergeOut = 0x050,      // text "f:\tilbern.bmp"
  D1 = 0x060,                 // double 1.0
  ZeroZero = 0x068,           // text "00"
  Zero = 0x06B,               // text "0"
  PngSuffix = 0x06D,          // text ".png"
  NodataName = 0x072,         // text "\Nodata.dll"
  D120 = 0x07E,               // double 120.0
  DEpsilon = 0x086,           // double 1e-7
  D2 = 0x08E,                 // double 2.0
  D14 = 0x096,                // double 14.0
  FixedTile = 0x09E,          // text "c:\tttaaa\4x002002.png"
  FixedTileOut = 0x0B5,       // text "c:\tilbern.bmp"
  FixedPngPattern = 0x0C5,    // text: PNG files of the fixed row directory
  BitmapFailLong = 0x0ED,     // text: bitmap-failure message of the merge
  MergeDone = 0x125,          // text "图片拼合并保存完成!!"
  SaveFailed = 0x13A,         // text "保存图片失败!"
  FolderPrompt = 0x148,       // text "选择你要拼合的图片目录:"
  LetterX = 0x160,            // text "x"
  WrongDir = 0x162,           // text: wrong-directory message
  NoTiles = 0x1AA,            // text "此路径下没有可用的图片数据!"
  Star = 0x1C6,               // text "*"
  TilePathLabel = 0x1C8,      // text "小图路径:"
  SavePrompt = 0x1D2,         // text "请选择拼合后的图片保存地址:"
  SaveFilter = 0x1EE,         // text "(位图文件)*.bmp|*.bmp|(所有文件)*.*|*.*"
  BmpSuffix = 0x216,          // text ".bmp"
  SavePathLabel = 0x21B,      // text "保存在:"
  AuthorUrl = 0x223,          // text: the author's web address
  FixedDirPattern = 0x235,    // text: entries of the fixed zoom directory
  GdiplusLower = 0x257,       // text "gdiplus.dll"
  GdiplusMixed = 0x263,       // text "GdiPlus.dll"
  EntryNames = 0x26F,         // the 18 entry names of the native calls
};

inline constexpr std::uint32_t kConstSize = 905;

}  // namespace image
