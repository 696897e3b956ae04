#include "assets/map_scene.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "assets/bitmap_font.h"

namespace mosalin_assets {

namespace {

std::uint64_t Mix64(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Seeded pseudo-random numbers (SplitMix64): the same sequence everywhere, so
// one seed draws one map.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() { return Mix64(state_ += 0x9E3779B97F4A7C15ull); }
  int Range(int lo, int hi) {  // [lo, hi]
    return lo + static_cast<int>(Next() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  double Between(double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(Next() >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t state_;
};

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Colours: muted, like a printed town plan.
constexpr Rgb kGround{242, 239, 233};
constexpr Rgb kCourtyard{236, 230, 214};
constexpr Rgb kSidewalk{226, 222, 214};
constexpr Rgb kMainCasing{196, 146, 66}, kMainFill{247, 208, 126}, kMainCentre{255, 242, 200};
constexpr Rgb kSideCasing{168, 166, 160}, kSideFill{208, 207, 202}, kSideCentre{242, 241, 236};
constexpr Rgb kParapet{112, 108, 104};
constexpr Rgb kWater{158, 198, 232}, kBank{96, 140, 188};
constexpr Rgb kEmbankment{200, 225, 178}, kPromenade{234, 224, 198};
constexpr Rgb kGrass{188, 220, 158}, kHedge{150, 190, 124};
constexpr Rgb kTree{112, 164, 94}, kTreeLight{142, 190, 118}, kTreeDark{90, 138, 78};
constexpr Rgb kPath{234, 220, 186};
constexpr Rgb kPaving{233, 223, 204}, kPavingJoint{220, 208, 186}, kStone{178, 174, 166};
constexpr Rgb kBuildings[] = {{216, 207, 199}, {205, 199, 214}, {199, 209, 219}, {221, 213, 190},
                              {213, 199, 185}, {204, 214, 199}, {224, 205, 200}};
constexpr Rgb kOldHouses[] = {
    {204, 158, 138}, {221, 195, 160}, {211, 150, 120}, {217, 183, 130}, {196, 170, 150}};
constexpr Rgb kLabelHalo{252, 250, 246};

constexpr int kMainWidth = 16, kSideWidth = 10, kSidewalkWidth = 4;
constexpr float kBankWidth = 3.0f, kEmbankmentWidth = 12.0f;
constexpr double kAvenueHalf = 8.0;
constexpr int kTreeGrid = 16;
constexpr int kDistrictEdge = 1024;  // one district name per square of this size

constexpr LabelStyle kOldTownStyle{3, 2, {122, 54, 40}, kLabelHalo, 210};
constexpr LabelStyle kRiversideStyle{2, 2, {40, 84, 150}, kLabelHalo, 210};
constexpr LabelStyle kParkStyle{2, 2, {44, 104, 44}, kLabelHalo, 190};
constexpr LabelStyle kSmallParkStyle{1, 1, {44, 104, 44}, kLabelHalo, 190};
constexpr LabelStyle kMarketStyle{2, 2, {118, 84, 50}, kLabelHalo, 210};
constexpr LabelStyle kStreetStyle{1, 1, {112, 72, 24}, kMainFill, 255};
constexpr LabelStyle kDistrictStyle{2, 2, {72, 72, 86}, kLabelHalo, 210};

const char* const kDistrictNames[] = {
    "NORTH END", "EAST GATE", "WESTFIELD", "HIGHBURY",   "MILLBROOK", "STONEBRIDGE", "ASHFORD",
    "KINGSWAY",  "HARBOUR",   "ST MARY'S", "GREENHILL",  "FAIRVIEW",  "OAKWOOD",     "BROOKSIDE",
    "HILLTOP",   "LOWFIELD",  "NEWTOWN",   "SOUTH DOCK", "ELMHURST",  "CASTLEGATE"};
const char* const kStreetNames[] = {"HIGH ST",    "MILL RD",     "KING ST",   "QUAY RD",
                                    "STATION RD", "BRIDGE ST",   "CHURCH LN", "PARK AVE",
                                    "ELM ST",     "WEST RD",     "CANAL ST",  "MARKET ST",
                                    "NEW RD",     "VICTORIA ST", "ABBEY RD",  "HILL ST"};

// Index k of the piece of [0, size) split into n pieces that holds `offset`;
// piece k starts at PieceStart(k, size, n).
int PieceIndex(int offset, int size, int n) { return offset * n / size; }
int PieceStart(int k, int size, int n) { return (k * size + n - 1) / n; }

}  // namespace

MapScene::MapScene(const SceneOptions& options) : options_(options) {
  if (options.tiles < 1 || options.tiles > kMaxTiles)
    throw std::invalid_argument("the map takes 1 to " + std::to_string(kMaxTiles) +
                                " tiles a side");
  edge_ = options.tiles * kTileEdge;
  seedKey_ = Mix64(options.seed ^ 0x6D6F73616C696EULL);
  columns_ = MakeAxis(1);
  rows_ = MakeAxis(2);
  stripsX_ = static_cast<int>(columns_.stripStart.size());
  stripsY_ = static_cast<int>(rows_.stripStart.size());
  MakeRiver();

  // Diagonal avenues, leaning alternately one way and the other, each through
  // its own stretch of the map so that no two run side by side.
  Random rnd(seedKey_ + 3);
  int avenues = 1 + edge_ / 2048;
  int flip = rnd.Range(0, 1);
  for (int i = 0; i < avenues; ++i) {
    double angle = rnd.Between(30.0, 60.0) * std::numbers::pi / 180.0;
    if ((i + flip) % 2) angle += std::numbers::pi / 2;
    double along = (i + rnd.Between(0.3, 0.7)) / avenues;
    avenues_.push_back(
        {edge_ * along, edge_ * rnd.Between(0.3, 0.7), -std::sin(angle), std::cos(angle)});
  }
  MakeDistricts();
  MakeLabels();
}

MapScene::Axis MapScene::MakeAxis(std::uint64_t salt) {
  Random rnd(seedKey_ + salt * 0x1000);
  Axis a;
  a.part.assign(edge_, kNoRoad);
  a.major.assign(edge_, 0);
  a.strip.assign(edge_, 0);
  int pos = rnd.Range(40, 150);
  // The first strip reaches beyond the map's edge: its blocks are cut by the
  // edge of the map, not shrunk to fit it.
  a.stripStart.push_back(pos - rnd.Range(150, 220));
  int sinceMain = rnd.Range(0, 2);
  while (pos < edge_) {
    bool main = sinceMain >= 3 || (sinceMain >= 1 && rnd.Range(0, 99) < 35);
    sinceMain = main ? 0 : sinceMain + 1;
    int width = main ? kMainWidth : kSideWidth;
    a.stripEnd.push_back(pos);
    for (int i = 0; i < width && pos + i < edge_; ++i) {
      Part part = kFill;
      if (i == 0 || i == width - 1)
        part = kCasing;
      else if (i == width / 2 - 1 || i == width / 2)
        part = main ? kCentre : kDashedCentre;
      a.part[pos + i] = part;
      a.major[pos + i] = main;
    }
    pos += width;
    a.stripStart.push_back(pos);
    pos += rnd.Range(110, 230);
  }
  a.stripEnd.push_back(pos);
  for (int p = 0, s = 0; p < edge_; ++p) {
    while (s + 1 < static_cast<int>(a.stripStart.size()) && a.stripStart[s + 1] <= p) ++s;
    a.strip[p] = s;
  }
  return a;
}

void MapScene::MakeRiver() {
  Random rnd(seedKey_ + 4);
  double base = edge_ * rnd.Between(0.5, 0.62);
  double a1 = std::min(0.12 * edge_, 170.0), l1 = rnd.Between(900, 1400),
         p1 = rnd.Between(0, kTwoPi);
  double a2 = 0.15 * a1, l2 = rnd.Between(420, 560), p2 = rnd.Between(0, kTwoPi);
  double l3 = rnd.Between(250, 400), p3 = rnd.Between(0, kTwoPi);
  riverCentre_.resize(edge_);
  riverHalf_.resize(edge_);
  riverAcross_.resize(edge_);
  for (int x = 0; x < edge_; ++x) {
    double xc = x + 0.5;
    double centre =
        base + a1 * std::sin(kTwoPi * xc / l1 + p1) + a2 * std::sin(kTwoPi * xc / l2 + p2);
    double slope = a1 * kTwoPi / l1 * std::cos(kTwoPi * xc / l1 + p1) +
                   a2 * kTwoPi / l2 * std::cos(kTwoPi * xc / l2 + p2);
    riverCentre_[x] = static_cast<float>(centre);
    riverHalf_[x] = static_cast<float>(24.0 + 5.0 * std::sin(kTwoPi * xc / l3 + p3));
    // A vertical distance times this is the distance across the current.
    riverAcross_[x] = static_cast<float>(1.0 / std::sqrt(1.0 + slope * slope));
  }
}

void MapScene::MakeDistricts() {
  kinds_.assign(static_cast<std::size_t>(stripsX_) * stripsY_, kBlock);
  auto set = [this](int sx, int sy, CellKind k) {
    if (sx >= 0 && sy >= 0 && sx < stripsX_ && sy < stripsY_) kinds_[sy * stripsX_ + sx] = k;
  };
  Random rnd(seedKey_ + 5);

  // The old town: three by three blocks on the north bank at the middle of
  // the map, with the market square among them.
  int midX = edge_ / 2;
  int riverRow = std::clamp(static_cast<int>(riverCentre_[midX]), 0, edge_ - 1);
  int ox = columns_.strip[midX], oy = rows_.strip[riverRow];
  for (int sy = oy - 2; sy <= oy; ++sy)
    for (int sx = ox - 1; sx <= ox + 1; ++sx) set(sx, sy, kOldTown);
  set(ox, oy - 2, kPlaza);

  // Large parks over two blocks or two by two blocks, inside the map.
  for (int i = 0, want = 1 + edge_ / 3072, tries = 0; i < want && tries < 60; ++tries) {
    int w = rnd.Range(1, 2), h = w == 1 ? 2 : rnd.Range(1, 2);
    int sx = rnd.Range(0, std::max(0, stripsX_ - w)), sy = rnd.Range(0, std::max(0, stripsY_ - h));
    if (sx + w > stripsX_ || sy + h > stripsY_) continue;
    Rect area{columns_.stripStart[sx], rows_.stripStart[sy], columns_.stripEnd[sx + w - 1],
              rows_.stripEnd[sy + h - 1]};
    if (area.x0 < 0 || area.y0 < 0 || area.x1 > edge_ || area.y1 > edge_) continue;
    if (tries < 40 && !ClearOfRiver(area)) continue;  // rather on dry land
    bool free = true;
    for (int y = sy; y < sy + h; ++y)
      for (int x = sx; x < sx + w; ++x) free = free && KindAt(x, y) == kBlock;
    if (!free) continue;
    for (int y = sy; y < sy + h; ++y)
      for (int x = sx; x < sx + w; ++x) set(x, y, kPark);
    double pw = area.x1 - area.x0, ph = area.y1 - area.y0;
    bigParks_.push_back({area, area.x0 + pw * rnd.Between(0.55, 0.7),
                         area.y0 + ph * rnd.Between(0.6, 0.7), pw * rnd.Between(0.12, 0.18),
                         ph * rnd.Between(0.08, 0.12)});
    ++i;
  }

  // Small parks and squares scattered among the blocks.
  int cells = stripsX_ * stripsY_;
  for (int i = 0, n = std::max(1, cells / 18); i < n; ++i) {
    int sx = rnd.Range(0, stripsX_ - 1), sy = rnd.Range(0, stripsY_ - 1);
    if (KindAt(sx, sy) == kBlock) set(sx, sy, kPark);
  }
  for (int i = 0, n = cells / 60; i < n; ++i) {
    int sx = rnd.Range(0, stripsX_ - 1), sy = rnd.Range(0, stripsY_ - 1);
    if (KindAt(sx, sy) == kBlock) set(sx, sy, kPlaza);
  }
}

void MapScene::MakeLabels() {
  Random rnd(seedKey_ + 6);

  // The old town's name over its middle block.
  {
    int midX = edge_ / 2;
    int riverRow = std::clamp(static_cast<int>(riverCentre_[midX]), 0, edge_ - 1);
    Rect r = CellLand(columns_.strip[midX], rows_.strip[riverRow] - 1);
    PlaceLabel("OLD TOWN", kOldTownStyle, (r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2, true);
  }
  // The riverside: just north of the embankment, somewhere along the river.
  for (int attempt = 0; attempt < 12; ++attempt) {
    int x = static_cast<int>(edge_ * rnd.Between(0.15, 0.85));
    int y =
        static_cast<int>(riverCentre_[x] - (riverHalf_[x] + kEmbankmentWidth) / riverAcross_[x]) -
        16;
    if (PlaceLabel("RIVERSIDE", kRiversideStyle, x, y, false)) break;
  }
  for (const BigPark& p : bigParks_)
    PlaceLabel("PARK", kParkStyle, (p.area.x0 + p.area.x1) / 2,
               p.area.y0 + (p.area.y1 - p.area.y0) / 3, true);
  for (int sy = 0; sy < stripsY_; ++sy) {
    for (int sx = 0; sx < stripsX_; ++sx) {
      CellKind k = KindAt(sx, sy);
      Rect r = CellLand(sx, sy);
      bool inBigPark = false;
      for (const BigPark& p : bigParks_) inBigPark = inBigPark || p.area.Overlaps(r);
      if (k == kPark && !inBigPark)
        PlaceLabel("PARK", kSmallParkStyle, (r.x0 + r.x1) / 2, (r.y0 + r.y1) / 2, false);
      if (k == kPlaza) PlaceLabel("MARKET", kMarketStyle, (r.x0 + r.x1) / 2, r.y0 + 22, false);
    }
  }

  // Street names on the main streets, centred on the roadway between two
  // cross streets, about one every 600 pixels.
  int street = static_cast<int>(seedKey_ % std::size(kStreetNames));
  for (int y = 0; y + kMainWidth <= edge_; ++y) {
    if (!(rows_.major[y] && rows_.part[y] == kCasing && (y == 0 || rows_.part[y - 1] == kNoRoad)))
      continue;
    const char* name = kStreetNames[street++ % std::size(kStreetNames)];
    int lastX = -1000;
    for (int sx = 0; sx < stripsX_; ++sx) {
      Rect r = CellLand(sx, 0);
      int cx = (r.x0 + r.x1) / 2;
      if (r.x1 - r.x0 < TextWidth(name, 1) + 24 || cx - lastX < 600) continue;
      Rect box{cx - TextWidth(name, 1) / 2 - 1, y + 3, cx + TextWidth(name, 1) / 2 + 1, y + 13};
      bool inPark = false;
      for (const BigPark& p : bigParks_) inPark = inPark || p.area.Overlaps(box);
      if (!inPark && PlaceLabel(name, kStreetStyle, cx, y + kMainWidth / 2, false)) lastX = cx;
    }
  }

  // One district name for every square of the map, where there is room.
  int districts = (edge_ + kDistrictEdge - 1) / kDistrictEdge;
  int name = static_cast<int>((seedKey_ >> 8) % std::size(kDistrictNames));
  for (int gy = 0; gy < districts; ++gy) {
    for (int gx = 0; gx < districts; ++gx) {
      const char* text = kDistrictNames[name++ % std::size(kDistrictNames)];
      int x0 = gx * kDistrictEdge, y0 = gy * kDistrictEdge;
      int size = std::min(kDistrictEdge, edge_ - std::min(x0, y0));
      for (int attempt = 0; attempt < 6; ++attempt) {
        int cx = x0 + static_cast<int>(size * rnd.Between(0.2, 0.8));
        int cy = y0 + static_cast<int>(size * rnd.Between(0.15, 0.85));
        if (PlaceLabel(text, kDistrictStyle, cx, cy, false)) break;
      }
    }
  }
}

bool MapScene::PlaceLabel(const std::string& text, const LabelStyle& style, int centreX,
                          int centreY, bool nudge) {
  static constexpr int kNudges[][2] = {{0, 0},    {0, -28}, {0, 28},    {-48, 0}, {48, 0},
                                       {0, -56},  {0, 56},  {-48, -28}, {48, 28}, {-48, 28},
                                       {48, -28}, {0, -84}, {0, 84}};
  TextStencil stencil(text, style.scale, style.halo);
  for (const auto& [dx, dy] : kNudges) {
    Rect box{centreX + dx - stencil.width() / 2, centreY + dy - stencil.height() / 2, 0, 0};
    box.x1 = box.x0 + stencil.width();
    box.y1 = box.y0 + stencil.height();
    bool fits = box.x0 >= 0 && box.y0 >= 0 && box.x1 <= edge_ && box.y1 <= edge_;
    Rect spaced{box.x0 - 8, box.y0 - 8, box.x1 + 8, box.y1 + 8};
    for (const Rect& other : labelBoxes_) fits = fits && !other.Overlaps(spaced);
    if (fits && ClearOfRiver(box)) {
      labelBoxes_.push_back(box);
      labels_.push_back(
          {std::move(stencil), box.x0, box.y0, style.ink, style.haloColour, style.haloCover, text});
      return true;
    }
    if (!nudge) break;
  }
  return false;
}

bool MapScene::ClearOfRiver(const Rect& box) const {
  for (int x = box.x0; x < box.x1; ++x) {
    float reach = (riverHalf_[x] + kEmbankmentWidth + 2.0f) / riverAcross_[x];
    if (box.y0 < riverCentre_[x] + reach && box.y1 > riverCentre_[x] - reach) return false;
  }
  return true;
}

std::vector<std::string> MapScene::LabelTexts() const {
  std::vector<std::string> texts;
  for (const Label& l : labels_) texts.push_back(l.text);
  return texts;
}

std::uint64_t MapScene::Hash(std::int64_t a, std::int64_t b, std::uint64_t salt) const {
  return Mix64(static_cast<std::uint64_t>(a) * 0x9E3779B97F4A7C15ull ^
               static_cast<std::uint64_t>(b) * 0xC2B2AE3D27D4EB4Full ^
               salt * 0x165667B19E3779F9ull ^ seedKey_);
}

MapScene::CellKind MapScene::KindAt(int sx, int sy) const {
  return static_cast<CellKind>(kinds_[sy * stripsX_ + sx]);
}

MapScene::Rect MapScene::CellLand(int sx, int sy) const {
  sx = std::clamp(sx, 0, stripsX_ - 1);
  sy = std::clamp(sy, 0, stripsY_ - 1);
  return {columns_.stripStart[sx], rows_.stripStart[sy], columns_.stripEnd[sx], rows_.stripEnd[sy]};
}

void MapScene::Render(Raster& out, int left, int top) const {
  if (left < 0 || top < 0 || left + out.width() > edge_ || top + out.height() > edge_)
    throw std::out_of_range("the part to draw lies outside the map");
  for (int y = 0; y < out.height(); ++y) {
    Row row = MakeRow(top + y);
    for (int x = 0; x < out.width(); ++x) {
      std::uint8_t alpha = 255;
      Rgb c = Pixel(left + x, row, alpha);
      out.Put(x, y, c, alpha);
    }
  }
  Rect area{left, top, left + out.width(), top + out.height()};
  for (const Label& l : labels_) {
    Rect box{l.left, l.top, l.left + l.stencil.width(), l.top + l.stencil.height()};
    if (box.Overlaps(area))
      l.stencil.Stamp(out, left, top, l.left, l.top, l.ink, l.halo, l.haloCover);
  }
}

MapScene::Row MapScene::MakeRow(int y) const {
  Row row;
  row.y = y;
  row.street = static_cast<Part>(rows_.part[y]);
  row.streetMajor = rows_.major[y];
  row.strip = rows_.strip[y];
  row.stripLand = CellLand(0, row.strip);
  for (const Avenue& a : avenues_) {
    // Across the avenue, distance = |x + 0.5 - centre| * |nx|.
    double centre = a.px - (y + 0.5 - a.py) * a.ny / a.nx;
    double reach = kAvenueHalf / std::fabs(a.nx) + 1.0;
    row.avenueX.push_back(centre);
    row.avenueFrom.push_back(static_cast<int>(std::floor(centre - reach)));
    row.avenueTo.push_back(static_cast<int>(std::ceil(centre + reach)));
  }
  return row;
}

MapScene::RoadHit MapScene::RoadAt(int x, const Row& row, bool grid) const {
  RoadHit hit;
  int roads = 0;
  auto dashes = [](Part p, int along) {
    return p == kDashedCentre ? ((along >> 3) & 1 ? kFill : kCentre) : p;
  };
  if (Part v = grid ? dashes(static_cast<Part>(columns_.part[x]), row.y) : kNoRoad; v != kNoRoad) {
    hit.part = v;
    hit.major = hit.bridge = columns_.major[x];
    ++roads;
  }
  if (Part h = grid ? dashes(row.street, x) : kNoRoad; h != kNoRoad) {
    hit.part = h;
    hit.major = hit.major || row.streetMajor;
    ++roads;
  }
  for (std::size_t i = 0; i < avenues_.size(); ++i) {
    if (x < row.avenueFrom[i] || x > row.avenueTo[i]) continue;
    double d = std::fabs(x + 0.5 - row.avenueX[i]) * std::fabs(avenues_[i].nx);
    if (d >= kAvenueHalf) continue;
    hit.part = d < 1.0 ? kCentre : d < kAvenueHalf - 1.5 ? kFill : kCasing;
    hit.major = hit.bridge = true;
    ++roads;
  }
  // Where streets meet, the roadway is open: no casing and no centre line.
  if (roads > 1) hit.part = kFill;
  return hit;
}

Rgb MapScene::RoadColour(const RoadHit& hit, bool onBridge) const {
  switch (hit.part) {
    case kCasing:
      return onBridge ? kParapet : hit.major ? kMainCasing : kSideCasing;
    case kCentre:
      return hit.major ? kMainCentre : kSideCentre;
    default:
      return hit.major ? kMainFill : kSideFill;
  }
}

Rgb MapScene::Pixel(int x, Row& row, std::uint8_t& alpha) const {
  const int y = row.y;
  float across = std::fabs(static_cast<float>(y) + 0.5f - riverCentre_[x]) * riverAcross_[x];
  float half = riverHalf_[x];
  if (across < half + kEmbankmentWidth) {
    RoadHit road = RoadAt(x, row);
    if (road.part != kNoRoad && road.bridge) return RoadColour(road, true);
    if (across < half - kBankWidth) {
      if (options_.translucent) alpha = kWaterAlpha;
      return kWater;
    }
    if (across < half) return kBank;
    float beyond = across - half;
    Rgb ground = beyond >= 5.0f && beyond < 7.0f ? kPromenade : kEmbankment;
    // The outer edge of the bank is softened over one pixel.
    return beyond < 1.0f ? Mix(kBank, ground, static_cast<int>(beyond * 255.0f)) : ground;
  }
  for (const BigPark& p : bigParks_) {
    if (!p.area.Contains(x, y)) continue;
    RoadHit avenue = RoadAt(x, row, false);  // avenues run through parks, streets end at them
    return avenue.part != kNoRoad ? RoadColour(avenue, false) : BigParkPixel(p, x, y, alpha);
  }
  RoadHit road = RoadAt(x, row);
  if (road.part != kNoRoad) return RoadColour(road, false);
  return LandPixel(x, row, alpha);
}

Rgb MapScene::LandPixel(int x, Row& row, std::uint8_t& alpha) const {
  const int y = row.y, sx = columns_.strip[x], sy = row.strip;
  Rect land{columns_.stripStart[sx], row.stripLand.y0, columns_.stripEnd[sx], row.stripLand.y1};
  int fromEdge = std::min({x - land.x0, land.x1 - 1 - x, y - land.y0, land.y1 - 1 - y});
  if (fromEdge < kSidewalkWidth) return kSidewalk;
  switch (KindAt(sx, sy)) {
    case kPark:
      return fromEdge < kSidewalkWidth + 2 ? kHedge : ParkPixel(x, y, kGrass, 45);
    case kPlaza:
      return PlazaPixel(x, y, land, alpha);
    case kOldTown:
      return OldTownPixel(x, y, sx, sy, land);
    default:
      return BlockPixel(x, y, sx, sy, land, row);
  }
}

Rgb MapScene::BlockPixel(int x, int y, int sx, int sy, const Rect& land, Row& row) const {
  // Lots: the block within its sidewalk split into a grid of pieces.
  if (row.blockSx != sx) {
    int iy0 = land.y0 + kSidewalkWidth, ih = land.y1 - kSidewalkWidth - iy0;
    std::uint64_t h = Hash(sx, sy, 0xB10C);
    row.blockSx = sx;
    row.blockX0 = land.x0 + kSidewalkWidth;
    row.blockW = land.x1 - kSidewalkWidth - row.blockX0;
    row.lotsX = std::max(1, row.blockW / 52 + static_cast<int>(h & 1));
    int lotsY = std::max(1, ih / 52 + static_cast<int>((h >> 1) & 1));
    row.lotRow = PieceIndex(y - iy0, ih, lotsY);
    row.lotY0 = iy0 + PieceStart(row.lotRow, ih, lotsY);
    row.lotY1 = iy0 + PieceStart(row.lotRow + 1, ih, lotsY);
    row.lotKx = -1;
  }
  if (row.lotKx < 0 || x < row.lotX0 || x >= row.lotX1) {
    row.lotKx = PieceIndex(x - row.blockX0, row.blockW, row.lotsX);
    row.lotX0 = row.blockX0 + PieceStart(row.lotKx, row.blockW, row.lotsX);
    row.lotX1 = row.blockX0 + PieceStart(row.lotKx + 1, row.blockW, row.lotsX);
    row.lot = Hash(sx * 64 + row.lotKx, sy * 64 + row.lotRow, 0x107);
  }
  std::uint64_t lot = row.lot;
  if (lot % 13 == 0) return ParkPixel(x, y, kGrass, 45);  // a garden
  // The building stands back from the lot's edges by 2 to 5 pixels.
  int lx0 = row.lotX0 + 2 + static_cast<int>((lot >> 4) % 4);
  int lx1 = row.lotX1 - 2 - static_cast<int>((lot >> 8) % 4);
  int ly0 = row.lotY0 + 2 + static_cast<int>((lot >> 12) % 4);
  int ly1 = row.lotY1 - 2 - static_cast<int>((lot >> 16) % 4);
  if (x < lx0 || x >= lx1 || y < ly0 || y >= ly1) return kGround;
  Rgb c = kBuildings[(lot >> 20) % std::size(kBuildings)];
  if (x >= lx1 - 2 || y >= ly1 - 2) return Shade(c, 218);  // shaded sides
  if (x == lx0 || y == ly0) return Shade(c, 270);          // lit edges
  return c;
}

Rgb MapScene::OldTownPixel(int x, int y, int sx, int sy, const Rect& land) const {
  // Terraced houses round the edge of the block, a courtyard in the middle.
  int ix0 = land.x0 + kSidewalkWidth, iy0 = land.y0 + kSidewalkWidth;
  int ix1 = land.x1 - kSidewalkWidth, iy1 = land.y1 - kSidewalkWidth;
  std::uint64_t h = Hash(sx, sy, 0x01D);
  int depth = 26 + static_cast<int>(h % 10), frontage = 14 + static_cast<int>((h >> 8) % 8);
  int toSide = std::min(x - ix0, ix1 - 1 - x), toEnd = std::min(y - iy0, iy1 - 1 - y);
  int inward = std::min(toSide, toEnd);
  if (inward >= depth) {
    return ParkPixel(x, y, kCourtyard, 18);  // a few trees in the courtyard
  }
  bool alongX = toEnd <= toSide;  // houses on the north and south sides front the x direction
  int run = alongX ? x - ix0 : y - iy0;
  int side = alongX ? (2 * y > iy0 + iy1 ? 1 : 0) : (2 * x > ix0 + ix1 ? 3 : 2);
  std::uint64_t house = Hash(sx * 1024 + run / frontage, sy * 4 + side, 0x0A);
  Rgb c = kOldHouses[house % std::size(kOldHouses)];
  if (run % frontage == 0) return Shade(c, 200);  // party walls
  if (inward == depth - 1) return Shade(c, 212);  // the back of the row
  return c;
}

Rgb MapScene::ParkPixel(int x, int y, Rgb ground, int density) const {
  int tx = x / kTreeGrid, ty = y / kTreeGrid;
  std::uint64_t h = Hash(tx, ty, 0x7EE);
  if (static_cast<int>(h % 100) >= density) return ground;
  int r = 3 + static_cast<int>((h >> 8) % 3);
  int cx = tx * kTreeGrid + r + static_cast<int>((h >> 16) % (kTreeGrid - 2 * r));
  int cy = ty * kTreeGrid + r + static_cast<int>((h >> 24) % (kTreeGrid - 2 * r));
  int dx = x - cx, dy = y - cy;
  if (dx * dx + dy * dy <= r * r) {
    if (2 * (dx + dy) < -r) return kTreeLight;
    if (2 * (dx + dy) > r) return kTreeDark;
    return kTree;
  }
  int sdx = dx - 2, sdy = dy - 2;  // the tree's shadow
  return sdx * sdx + sdy * sdy <= r * r ? Shade(ground, 228) : ground;
}

Rgb MapScene::PlazaPixel(int x, int y, const Rect& land, std::uint8_t& alpha) const {
  double cx = (land.x0 + land.x1) / 2.0, cy = (land.y0 + land.y1) / 2.0 + 10.0;
  double radius = std::min(land.x1 - land.x0, land.y1 - land.y0) / 7.0;
  double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
  if (d < radius - 3.0) {  // the fountain
    if (options_.translucent) alpha = kWaterAlpha;
    return kWater;
  }
  if (d < radius) return kStone;
  if ((x - land.x0) % 12 == 0 || (y - land.y0) % 12 == 0) return kPavingJoint;
  return kPaving;
}

Rgb MapScene::BigParkPixel(const BigPark& park, int x, int y, std::uint8_t& alpha) const {
  const Rect& a = park.area;
  int fromEdge = std::min({x - a.x0, a.x1 - 1 - x, y - a.y0, a.y1 - 1 - y});
  if (fromEdge < kSidewalkWidth) return kSidewalk;
  if (fromEdge < kSidewalkWidth + 3) return kHedge;
  double px = (x + 0.5 - park.pondX) / park.pondRx, py = (y + 0.5 - park.pondY) / park.pondRy;
  double q = px * px + py * py;
  if (q < 1.0) {
    if ((1.0 - std::sqrt(q)) * std::min(park.pondRx, park.pondRy) < 2.5) return kBank;
    if (options_.translucent) alpha = kWaterAlpha;
    return kWater;
  }
  // Two paths from corner to corner.
  double w = a.x1 - a.x0, h = a.y1 - a.y0, len = std::hypot(w, h);
  double d1 = std::fabs((x + 0.5 - a.x0) * h - (y + 0.5 - a.y0) * w) / len;
  double d2 = std::fabs((x + 0.5 - a.x0) * h + (y + 0.5 - a.y1) * w) / len;
  if (d1 < 2.0 || d2 < 2.0) return kPath;
  return ParkPixel(x, y, kGrass, 45);
}

}  // namespace mosalin_assets
