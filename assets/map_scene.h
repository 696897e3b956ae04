// The sample map: a made-up town drawn from a seed. A grid of streets with a
// few diagonal avenues, blocks of buildings in muted colours, a meandering
// river with darker banks and a grassy embankment, parks with trees, an old
// town of terraced houses, a market square and place names. The drawing is a
// function of the pixel position alone, so any part of it can be drawn on its
// own (tile by tile) and the parts fit together into the whole picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "assets/raster.h"

namespace mosalin_assets {

inline constexpr int kTileEdge = 256;
inline constexpr int kMaxTiles = 999;  // band and tile numbers keep three digits

struct SceneOptions {
  int tiles = 4;             // the map is tiles x tiles tiles of kTileEdge pixels
  std::uint64_t seed = 1;    // the same seed draws the same map
  bool translucent = false;  // water is half transparent instead of opaque
};

// Alpha of water in a translucent map (everything else stays opaque).
inline constexpr std::uint8_t kWaterAlpha = 128;

// How a place name is written: bitmap-font scale, halo width, ink, halo
// colour and how far the halo covers what lies under it (0..255).
struct LabelStyle {
  int scale, halo;
  Rgb ink, haloColour;
  int haloCover;
};

class MapScene {
 public:
  explicit MapScene(const SceneOptions& options);

  int edge() const { return edge_; }

  // Draws the rectangle of the map whose top-left pixel is (left, top) and
  // whose size is that of `out` into `out`. The rectangle must lie inside
  // the map (std::out_of_range otherwise).
  void Render(Raster& out, int left, int top) const;

  // Place names written on the map, for the curious.
  std::vector<std::string> LabelTexts() const;

 private:
  enum Part : std::uint8_t { kNoRoad, kCasing, kFill, kCentre, kDashedCentre };
  enum CellKind : std::uint8_t { kBlock, kOldTown, kPark, kPlaza };

  // The streets that cross one axis: vertical streets are indexed by x,
  // horizontal ones by y. Land between two streets is a strip.
  struct Axis {
    std::vector<std::uint8_t> part;         // per position: which part of a street, if any
    std::vector<std::uint8_t> major;        // per position: the street there is a main street
    std::vector<int> strip;                 // per position: the strip it lies in, or lies after
    std::vector<int> stripStart, stripEnd;  // land of each strip: [start, end)
  };

  struct Avenue {           // a straight diagonal main street
    double px, py, nx, ny;  // a point on its centre line and the unit normal (|nx| >= 0.5)
  };

  struct Rect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
    bool Overlaps(const Rect& o) const { return x0 < o.x1 && o.x0 < x1 && y0 < o.y1 && o.y0 < y1; }
  };

  struct Label {
    TextStencil stencil;
    int left, top;
    Rgb ink, halo;
    int haloCover;
    std::string text;
  };

  struct BigPark {  // a park over several blocks, with a pond and crossing paths
    Rect area;
    double pondX, pondY, pondRx, pondRy;
  };

  struct RoadHit {
    Part part = kNoRoad;
    bool major = false;
    bool bridge = false;  // main streets and avenues cross the river
  };

  Axis MakeAxis(std::uint64_t salt);
  void MakeRiver();
  void MakeDistricts();
  void MakeLabels();
  // Puts a label centred on (centreX, centreY), or on the first of a few
  // nearby points when `nudge` is set, where it stays inside the map, clear
  // of the river and apart from the labels placed before. False when none fits.
  bool PlaceLabel(const std::string& text, const LabelStyle& style, int centreX, int centreY,
                  bool nudge);
  bool ClearOfRiver(const Rect& box) const;

  CellKind KindAt(int sx, int sy) const;
  Rect CellLand(int sx, int sy) const;
  // What the pixels of one row share, worked out once per row, and the block
  // and lot last drawn on it: neighbouring pixels mostly fall in the same lot.
  struct Row {
    int y;
    Part street;  // the part of a horizontal street this row crosses
    bool streetMajor;
    int strip;                              // the strip of blocks the row lies in
    Rect stripLand;                         // x0 and x1 unused
    std::vector<double> avenueX;            // per avenue: where its centre line crosses the row
    std::vector<int> avenueFrom, avenueTo;  // per avenue: the columns it may cover
    int blockSx = -1;                       // the block whose lot layout is below
    int blockX0, blockW, lotsX, lotRow, lotY0, lotY1;
    int lotX0 = 0, lotX1 = 0, lotKx = -1;  // the lot last looked at, [lotX0, lotX1)
    std::uint64_t lot = 0;
  };
  Row MakeRow(int y) const;

  // The street surface at (x, row.y); `grid` false leaves out all but the avenues.
  RoadHit RoadAt(int x, const Row& row, bool grid = true) const;
  Rgb Pixel(int x, Row& row, std::uint8_t& alpha) const;
  Rgb RoadColour(const RoadHit& hit, bool onBridge) const;
  Rgb LandPixel(int x, Row& row, std::uint8_t& alpha) const;
  Rgb BlockPixel(int x, int y, int sx, int sy, const Rect& land, Row& row) const;
  Rgb OldTownPixel(int x, int y, int sx, int sy, const Rect& land) const;
  // Grass (or `ground`) with trees on `density` percent of a grid of spots.
  Rgb ParkPixel(int x, int y, Rgb ground, int density) const;
  Rgb PlazaPixel(int x, int y, const Rect& land, std::uint8_t& alpha) const;
  Rgb BigParkPixel(const BigPark& park, int x, int y, std::uint8_t& alpha) const;

  std::uint64_t Hash(std::int64_t a, std::int64_t b, std::uint64_t salt) const;

  SceneOptions options_;
  int edge_;
  Axis columns_, rows_;
  std::vector<Avenue> avenues_;
  std::vector<float> riverCentre_, riverHalf_, riverAcross_;  // per x
  std::vector<std::uint8_t> kinds_;                           // per strip pair: CellKind
  int stripsX_ = 0, stripsY_ = 0;
  std::vector<BigPark> bigParks_;
  std::uint64_t seedKey_ = 0;
  std::vector<Label> labels_;
  std::vector<Rect> labelBoxes_;
};

}  // namespace mosalin_assets
