// Offsets of the constants in the const segment (the constant pool) that the
// code and the image header use. The pool's bytes are laid out in
// const_pool.cpp; every offset named here holds its value there.
#pragma once

#include <cstdint>

namespace image {

enum class K : std::uint32_t {
  kFixedMergeDir = 0x000,      // text: tile directory of the fixed-path merge
  kEmpty = 0x025,              // text ""
  kBackslash = 0x026,          // text "\"
  kAllPattern = 0x028,         // text "\*.*"
  kTileSide = 0x02D,           // double 256.0: a tile's side in pixels
  kBitmapFailShort = 0x035,    // text "创建位图失败!"
  kDotDot = 0x043,             // text ".."
  kDot = 0x046,                // text "."
  kEmptyBuffer = 0x048,        // byte buffer {1, 0}
  kFixedMergeOut = 0x050,      // text "f:\tilbern.bmp"
  kOne = 0x060,                // double 1.0
  kZeroZero = 0x068,           // text "00"
  kZero = 0x06B,               // text "0"
  kPngSuffix = 0x06D,          // text ".png"
  kNodataName = 0x072,         // text "\Nodata.dll"
  kProgressSteps = 0x07E,      // double 120.0: the progress bar's steps
  kSizeEpsilon = 0x086,        // double 1e-7: sizes at most this are none
  kWideCharBytes = 0x08E,      // double 2.0: bytes of a UTF-16 unit
  kFileHeaderBytes = 0x096,    // double 14.0: bytes of a BMP file header
  kFixedTile = 0x09E,          // text "c:\tttaaa\4x002002.png"
  kFixedTileOut = 0x0B5,       // text "c:\tilbern.bmp"
  kFixedPngPattern = 0x0C5,    // text: PNG files of the fixed row directory
  kBitmapFailLong = 0x0ED,     // text: bitmap-failure message of the merge
  kMergeDone = 0x125,          // text "图片拼合并保存完成!!"
  kSaveFailed = 0x13A,         // text "保存图片失败!"
  kFolderPrompt = 0x148,       // text "选择你要拼合的图片目录:"
  kLetterX = 0x160,            // text "x"
  kWrongDir = 0x162,           // text: wrong-directory message
  kNoTiles = 0x1AA,            // text "此路径下没有可用的图片数据!"
  kStar = 0x1C6,               // text "*"
  kTilePathLabel = 0x1C8,      // text "小图路径:"
  kSavePrompt = 0x1D2,         // text "请选择拼合后的图片保存地址:"
  kSaveFilter = 0x1EE,         // text "(位图文件)*.bmp|*.bmp|(所有文件)*.*|*.*"
  kBmpSuffix = 0x216,          // text ".bmp"
  kSavePathLabel = 0x21B,      // text "保存在:"
  kAuthorUrl = 0x223,          // text: the author's web address
  kFixedDirPattern = 0x235,    // text: entries of the fixed zoom directory
  kGdiplusLower = 0x257,       // text "gdiplus.dll"
  kGdiplusMixed = 0x263,       // text "GdiPlus.dll"
  kEntryNames = 0x26F,         // the 18 entry names of the native calls
};

inline constexpr std::uint32_t kConstSize = 905;

}  // namespace image
