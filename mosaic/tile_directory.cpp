// The steps that the tile-directory button and the fixed-path test share:
// the prefix taken from the directory's own name, and the count of its row
// directories.
#include "app/link.h"
#include "app/texts.h"
#include "mosaic/mosaic.h"

namespace mosaic {

using app::G;

void DeriveTilePrefix() {
  const host::Services svc = app::Svc();
  const std::int32_t len = svc.TextLength(app::TextVar<G::tileDir>());
  const std::int32_t pos = svc.FindTextBack(app::TextVar<G::tileDir>(), app::ConstText<image::K::Backslash>());
  // In floating point and truncated, which for these integers is exact.
  const auto n = static_cast<std::int32_t>(static_cast<std::int64_t>(static_cast<double>(len) - pos));
  app::Assign<G::tilePrefix>(svc.RightText(app::TextVar<G::tileDir>(), n));
}

void CountRowDirectories(host::Word& search) {
  const host::Services svc = app::Svc();
  host::Text pattern = app::JoinTexts({app::TextVar<G::tileDir>(), app::ConstText<image::K::AllPattern>()});
  app::Assign<G::entryName>(svc.FindFirst(pattern, host::kAttrDirectory, &search));
  svc.Free(pattern);
  // Every name the search returns, less "." and "..".
  app::SetInt<G::gridSize>(-2);
  while (!host::TextEmpty(app::TextVar<G::entryName>())) {
    app::Assign<G::entryName>(svc.FindNext(host::kAttrDirectory, 0, &search));
    app::SetInt<G::gridSize>(app::Int<G::gridSize>() + 1);
  }
}

void SetMosaicEdge() {
  app::SetInt<G::mosaicEdge>(static_cast<std::int32_t>(
      static_cast<std::int64_t>(app::Int<G::gridSize>() * app::ConstDouble<image::K::D256>())));
}

}  // namespace mosaic
