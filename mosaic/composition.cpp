// Mosaic composition: the tile directory's row directories, in the order the
// directory search returns them, drawn band by band into one bitmap of
// mosaicEdge x mosaicEdge pixels, then written as one BMP file.
#include <cstring>

#include "host/ui.h"
#include "image/link.h"
#include "image/texts.h"
#include "mosaic/mosaic.h"

namespace mosaic {

using host::Word;
using image::g;
using image::native;
using image::pool;

void SetInputsDisabled(std::int32_t disabled) {
  image::WriteInt<image::kPickDirButton>(host::kPropDisabled, disabled);
  image::WriteInt<image::kSavePathButton>(host::kPropDisabled, disabled);
  image::WriteInt<image::kStartButton>(host::kPropDisabled, disabled);
  image::WriteInt<image::kPrefixEdit>(host::kPropDisabled, disabled);
  image::WriteInt<image::kSizeEdit>(host::kPropDisabled, disabled);
}

void MergeTiles() {
  // A fresh search.
  Word search = 0;
  ComposeAndSave(search, MergeKind::kWindow);
}

void ComposeAndSave(Word& search, MergeKind kind) {
  const host::Services svc = image::Svc();
  const bool window = kind == MergeKind::kWindow;
  // Rows and tiles counted from the start.
  g.rowIndex = -1;
  g.tilesDrawn = 0;

  // GDI+ for this merge: version 1, nothing suppressed.
  std::uint32_t* startup = g.gdipStartupInput;
  startup[0] = 1;
  native.GdiplusStartup(g.gdipToken.Address(), startup, nullptr);

  // A memory context and one bitmap in the screen's format.
  g.screenDc = native.GetDC(0);
  g.mosaicDc = native.CreateCompatibleDC(g.screenDc);
  const auto edge = static_cast<std::uint32_t>(g.mosaicEdge);
  g.mosaicBitmap = native.CreateCompatibleBitmap(g.screenDc, edge, edge);

  // No bitmap: the side is more than the platform can give.
  if (static_cast<std::uint32_t>(g.mosaicBitmap) == 0) {
    if (window) {
      svc.ShowMessage(pool.bitmapFailLong, host::kStyleInfo);
      SetInputsDisabled(0);
    } else {
      svc.ShowMessage(pool.bitmapFailShort, host::kStylePlain);
    }
    native.ReleaseDC(0, g.screenDc);
    native.GdiplusShutdown(g.gdipToken);
    svc.EndFind(search);
    return;
  }

  // The screen context is no longer needed; draw into the bitmap.
  native.ReleaseDC(0, g.screenDc);
  g.savedBitmap = native.SelectObject(g.mosaicDc, g.mosaicBitmap);

  // The row directories, in search order.
  host::Text pattern = image::JoinTexts({g.tileDir, pool.allPattern});
  host::Text name = svc.FindFirst(pattern, host::kAttrDirectory, &search);
  svc.Free(pattern);
  g.entryName.Replace(name);

  // One band per row directory other than "." and "..".
  while (!host::TextEmpty(g.entryName)) {
    const char* entry = g.entryName;
    if (!host::TextEqual(entry, pool.dotDot) && !host::TextEqual(entry, pool.dot)) {
      g.rowIndex = g.rowIndex + 1;
      DrawTileRow();
    }
    g.entryName.Replace(svc.FindNext(host::kAttrDirectory, 0, &search));
  }

  // The bitmap out of the context, as the export requires.
  g.mosaicBitmap = native.SelectObject(g.mosaicDc, g.savedBitmap);

  // The file's bytes.
  host::Buffer bytes = BitmapToBmpBytes(g.mosaicBitmap);
  g.bmpFileBytes.Replace(bytes);

  // Write and report; the fixed-path test writes its fixed file and
  // reports nothing.
  const host::BufferHeader* toWrite = g.bmpFileBytes;
  if (!toWrite) toWrite = pool.emptyBuffer;
  if (window) {
    if (svc.WriteBytes(g.outputPath, toWrite) == host::kTrue)
      svc.ShowMessage(pool.mergeDone, host::kStyleInfo);
    else
      svc.ShowMessage(pool.saveFailed, host::kStyleError);
  } else {
    svc.WriteBytes(pool.fixedMergeOut, toWrite);
  }

  // GDI+ and the search end with the merge.
  native.GdiplusShutdown(g.gdipToken);
  svc.EndFind(search);
}

void DrawTileRow() {
  const host::Services svc = image::Svc();
  g.colIndex = -1;
  const std::int32_t n = g.gridSize;
  const double side = pool.tileSide;
  host::Text number = nullptr;
  host::Text name = nullptr;

  for (std::int32_t k = 1; k <= n; ++k) {
    g.colIndex = g.colIndex + 1;

    // The tile number, three digits at least.
    image::AssignLocal(number, svc.ToText(static_cast<double>(k) - pool.one));
    if (svc.TextLength(number) == 1) image::AssignLocal(number, image::JoinTexts({pool.zeroZero, number}));
    if (svc.TextLength(number) == 2) image::AssignLocal(number, image::JoinTexts({pool.zero, number}));

    // tileDir\row\prefix + row + number + ".png"
    const char* dir = g.tileDir;
    const char* row = g.entryName;
    const char* sep = pool.backslash;
    image::AssignLocal(name, image::JoinTexts({dir, sep, row, sep, g.tilePrefix, row, number, pool.pngSuffix}));

    // A missing tile is drawn with the placeholder beside the executable.
    if (svc.FileExists(name) == 0) {
      host::Text programDir = svc.ProgramDir();
      image::AssignLocal(name, image::JoinTexts({programDir, pool.nodataName}));
      svc.Free(programDir);
    }

    const auto x = static_cast<std::int32_t>(static_cast<std::int64_t>(g.colIndex * side));
    const auto y = static_cast<std::int32_t>(static_cast<std::int64_t>(g.rowIndex * side));
    DrawTile(g.mosaicDc, name, x, y, 0.0f, 0.0f);

    // Progress: tilesDrawn / (N * N / 120), truncated.
    g.tilesDrawn = g.tilesDrawn + 1;
    const double perUnit = static_cast<double>(n) * n / pool.progressSteps;
    const double position = g.tilesDrawn / perUnit;
    image::WriteInt<image::kProgressBar>(host::kPropProgress,
                                         static_cast<std::int32_t>(static_cast<std::int64_t>(position)));
  }
  svc.Free(number);
  svc.Free(name);
}

}  // namespace mosaic
