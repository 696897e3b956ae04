// The placeholder that the merge draws for a missing tile: a 256 x 256 tile
// that says "NO DATA" on a hatched grey ground, so a gap in a tile set shows
// as a gap rather than as a blank or as map.
#pragma once

#include "assets/raster.h"

namespace mosalin_assets {

Raster DrawNoData();

}  // namespace mosalin_assets
