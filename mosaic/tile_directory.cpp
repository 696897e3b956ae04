// The steps that the tile-directory button and the fixed-path test share:
// the prefix taken from the directory's own name, and the count of its row
// directories.
#include "image/link.h"
#include "image/texts.h"
#include "mosaic/mosaic.h"

namespace mosaic {

using image::g;
using image::pool;

void DeriveTilePrefix() {
  const host::Services svc = image::Svc();
  const std::int32_t len = svc.TextLength(g.tileDir);
  const std::int32_t pos = svc.FindTextBack(g.tileDir, pool.backslash);
  // In floating point and truncated, which for these integers is exact.
  const auto n = static_cast<std::int32_t>(static_cast<std::int64_t>(static_cast<double>(len) - pos));
  g.tilePrefix.Replace(svc.RightText(g.tileDir, n));
}

void CountRowDirectories(host::Word& search) {
  const host::Services svc = image::Svc();
  host::Text pattern = image::JoinTexts({g.tileDir, pool.allPattern});
  g.entryName.Replace(svc.FindFirst(pattern, host::kAttrDirectory, &search));
  svc.Free(pattern);
  // Every name the search returns, less "." and "..".
  g.gridSize = -2;
  while (!host::TextEmpty(g.entryName)) {
    g.entryName.Replace(svc.FindNext(host::kAttrDirectory, 0, &search));
    g.gridSize = g.gridSize + 1;
  }
}

void SetMosaicEdge() {
  g.mosaicEdge = static_cast<std::int32_t>(static_cast<std::int64_t>(g.gridSize * pool.tileSide));
}

}  // namespace mosaic
