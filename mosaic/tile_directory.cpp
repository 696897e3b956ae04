// The steps that the tile-directory button and the fixed-path test share:
// the prefix taken from the directory's own name, and the count of its row
// directories.
#include "image/link.h"
#include "image/texts.h"
#include "mosaic/mosaic.h"

namespace mosaic {

using image::G;

void DeriveTilePrefix() {
  const host::Services svc = image::Svc();
  const std::int32_t len = svc.TextLength(image::TextVar<G::tileDir>());
  const std::int32_t pos = svc.FindTextBack(image::TextVar<G::tileDir>(), image::ConstText<image::K::Backslash>());
  // In floating point and truncated, which for these integers is exact.
  const auto n = static_cast<std::int32_t>(static_cast<std::int64_t>(static_cast<double>(len) - pos));
  image::Assign<G::tilePrefix>(svc.RightText(image::TextVar<G::tileDir>(), n));
}

void CountRowDirectories(host::Word& search) {
  const host::Services svc = image::Svc();
  host::Text pattern = image::JoinTexts({image::TextVar<G::tileDir>(), image::ConstText<image::K::AllPattern>()});
  image::Assign<G::entryName>(svc.FindFirst(pattern, host::kAttrDirectory, &search));
  svc.Free(pattern);
  // Every name the search returns, less "." and "..".
  image::SetInt<G::gridSize>(-2);
  while (!host::TextEmpty(image::TextVar<G::entryName>())) {
    image::Assign<G::entryName>(svc.FindNext(host::kAttrDirectory, 0, &search));
    image::SetInt<G::gridSize>(image::Int<G::gridSize>() + 1);
  }
}

void SetMosaicEdge() {
  image::SetInt<G::mosaicEdge>(static_cast<std::int32_t>(
      static_cast<std::int64_t>(image::Int<G::gridSize>() * image::ConstDouble<image::K::D256>())));
}

}  // namespace mosaic
