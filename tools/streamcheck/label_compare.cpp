#include "label_compare.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace streamcheck {

namespace {

// Differing pixels are gathered in tiles; tiles with differences within
// kBoxGap of each other make one area.
constexpr int32_t kTile = kBoxGap / 2;
constexpr int32_t kReach = 2;  // tiles: kReach * kTile = kBoxGap
constexpr uint8_t kWhite[3] = {255, 255, 255};
constexpr int32_t kOutline = 2;  // dots of the outline drawn around an area

struct Tile {
  int32_t x0 = std::numeric_limits<int32_t>::max(), y0 = std::numeric_limits<int32_t>::max();
  int32_t x1 = -1, y1 = -1;  // inclusive
  uint64_t count = 0;
};

class DifferenceMap {
 public:
  DifferenceMap(int32_t width, int32_t height)
      : columns_((width + kTile - 1) / kTile),
        rows_((height + kTile - 1) / kTile),
        tiles_(static_cast<size_t>(columns_) * static_cast<size_t>(rows_)) {}

  void Add(int32_t x, int32_t y) {
    Tile& t = tiles_[static_cast<size_t>(y / kTile) * static_cast<size_t>(columns_) + static_cast<size_t>(x / kTile)];
    t.x0 = std::min(t.x0, x);
    t.y0 = std::min(t.y0, y);
    t.x1 = std::max(t.x1, x);
    t.y1 = std::max(t.y1, y);
    ++t.count;
    ++pixels_;
  }

  uint64_t Pixels() const { return pixels_; }

  // The areas: tiles with differences joined when within kReach of each other.
  // Each area is the union of its tiles' differing pixels.
  std::vector<Tile> Areas() {
    std::vector<Tile> areas;
    std::vector<uint8_t> seen(tiles_.size(), 0);
    std::vector<int32_t> todo;
    for (int32_t start = 0; start < static_cast<int32_t>(tiles_.size()); ++start) {
      if (seen[static_cast<size_t>(start)] || tiles_[static_cast<size_t>(start)].count == 0) continue;
      Tile area;
      seen[static_cast<size_t>(start)] = 1;
      todo.assign(1, start);
      while (!todo.empty()) {
        const int32_t at = todo.back();
        todo.pop_back();
        Join(area, tiles_[static_cast<size_t>(at)]);
        Neighbours(at, seen, todo);
      }
      areas.push_back(area);
    }
    return areas;
  }

 private:
  static void Join(Tile& into, const Tile& t) {
    into.x0 = std::min(into.x0, t.x0);
    into.y0 = std::min(into.y0, t.y0);
    into.x1 = std::max(into.x1, t.x1);
    into.y1 = std::max(into.y1, t.y1);
    into.count += t.count;
  }

  void Neighbours(int32_t at, std::vector<uint8_t>& seen, std::vector<int32_t>& todo) const {
    const int32_t cx = at % columns_, cy = at / columns_;
    for (int32_t y = std::max(0, cy - kReach); y <= std::min(rows_ - 1, cy + kReach); ++y) {
      for (int32_t x = std::max(0, cx - kReach); x <= std::min(columns_ - 1, cx + kReach); ++x) {
        const size_t i = static_cast<size_t>(y) * static_cast<size_t>(columns_) + static_cast<size_t>(x);
        if (!seen[i] && tiles_[i].count) {
          seen[i] = 1;
          todo.push_back(static_cast<int32_t>(i));
        }
      }
    }
  }

  int32_t columns_, rows_;
  std::vector<Tile> tiles_;
  uint64_t pixels_ = 0;
};

bool Differs(const uint8_t* p, const uint8_t* q, int tolerance) {
  return std::abs(p[0] - q[0]) > tolerance || std::abs(p[1] - q[1]) > tolerance || std::abs(p[2] - q[2]) > tolerance;
}

// The page lays its marks at 70 % over the picture.
void Mark(uint8_t* pixel) {
  pixel[0] = static_cast<uint8_t>((pixel[0] * 3 + kMarkRed * 7) / 10);
  pixel[1] = static_cast<uint8_t>((pixel[1] * 3 + kMarkGreen * 7) / 10);
  pixel[2] = static_cast<uint8_t>((pixel[2] * 3 + kMarkBlue * 7) / 10);
}

void Outline(RgbImage& image, const PixelBox& box) {
  for (int32_t y = box.y - kOutline; y < box.y + box.height + kOutline; ++y) {
    for (int32_t x = box.x - kOutline; x < box.x + box.width + kOutline; ++x) {
      const bool inside = x >= box.x && x < box.x + box.width && y >= box.y && y < box.y + box.height;
      if (inside || x < 0 || y < 0 || x >= image.width || y >= image.height) continue;
      uint8_t* pixel = image.rgb.data() + static_cast<size_t>(y) * image.RowBytes() + static_cast<size_t>(x) * 3;
      pixel[0] = kMarkRed;
      pixel[1] = kMarkGreen;
      pixel[2] = kMarkBlue;
    }
  }
}

// Scans one row of the compared area; rows equal byte for byte are skipped.
void CompareRow(const RgbImage& a, const RgbImage& b, int32_t y, int32_t width, int tolerance, DifferenceMap& map,
                RgbImage* marked) {
  const bool inA = y < a.height, inB = y < b.height;
  if (inA && inB && a.width == b.width && std::memcmp(a.Pixel(0, y), b.Pixel(0, y), a.RowBytes()) == 0) return;
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t* p = inA && x < a.width ? a.Pixel(x, y) : kWhite;
    const uint8_t* q = inB && x < b.width ? b.Pixel(x, y) : kWhite;
    if (!Differs(p, q, tolerance)) continue;
    map.Add(x, y);
    if (marked) Mark(marked->rgb.data() + static_cast<size_t>(y) * marked->RowBytes() + static_cast<size_t>(x) * 3);
  }
}

}  // namespace

LabelComparison CompareLabels(const RgbImage& a, const RgbImage& b, int tolerance, RgbImage* marked) {
  const int32_t width = std::max(a.width, b.width), height = std::max(a.height, b.height);
  if (marked) *marked = b.width == width && b.height == height ? b : Resized(b, width, height);
  DifferenceMap map(width, height);
  for (int32_t y = 0; y < height; ++y) CompareRow(a, b, y, width, tolerance, map, marked);
  LabelComparison result;
  result.pixels = map.Pixels();
  if (result.pixels == 0) return result;
  std::vector<Tile> areas = map.Areas();
  // Most differing pixels first; among equals, the one found first (top left).
  std::stable_sort(areas.begin(), areas.end(), [](const Tile& l, const Tile& r) { return l.count > r.count; });
  for (const Tile& area : areas) {
    if (result.boxes.size() == kMostBoxes) {
      ++result.moreBoxes;
      continue;
    }
    result.boxes.push_back(PixelBox{area.x0, area.y0, area.x1 - area.x0 + 1, area.y1 - area.y0 + 1});
  }
  if (marked) {
    for (const PixelBox& box : result.boxes) Outline(*marked, box);
  }
  return result;
}

}  // namespace streamcheck
