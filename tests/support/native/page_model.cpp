#include "support/native/page_model.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>

namespace page_model {

namespace {

constexpr Colour kWhite{255, 255, 255};

// The pixel range [begin, end) of an extent of `size` starting at `at` that
// lies on [0, limit).
struct Range {
  int64_t begin = 0, end = 0;
  int64_t Size() const { return end > begin ? end - begin : 0; }
};
Range OnPage(int64_t at, int64_t size, int64_t limit) {
  return {std::max<int64_t>(at, 0), std::min<int64_t>(at + size, limit)};
}

bool FitsInt32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

}  // namespace

std::optional<PageModel::Grid> PageModel::GridOf(const LayoutData& layout, int32_t resolution) {
  const int64_t h = TenthsToDots(layout.horizontalPitch, resolution);
  const int64_t v = TenthsToDots(layout.verticalPitch, resolution);
  const int64_t rows = layout.labelRows, columns = layout.labelColumns;
  switch (layout.rotation) {
    case 0: return Grid{rows, columns, v, h, false};
    case 90: return Grid{columns, rows, -h, v, true};
    case 180: return Grid{rows, columns, -v, -h, false};
    case 270: return Grid{columns, rows, h, -v, true};
    default: return std::nullopt;
  }
}

namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// The copies k in [0, count) of an extent at origin + k × step that reach
// [0, limit). Along an axis without a step every copy lies on one spot: the
// last stands for them all, as it covers the others and has the highest
// cell index. The range is worked out, then checked at its ends.
Range Reaching(int64_t origin, int64_t step, int64_t count, int64_t extent, int64_t limit) {
  const auto reaches = [&](int64_t k) { return origin + k * step < limit && origin + k * step + extent > 0; };
  if (count <= 0 || extent <= 0) return {};
  Range range;
  if (step == 0) {
    range = reaches(0) ? Range{count - 1, count} : Range{};
  } else if (step > 0) {
    range = {FloorDiv(-extent - origin, step) + 1, -FloorDiv(origin - limit, step)};
  } else {
    range = {FloorDiv(origin - limit, -step) + 1, -FloorDiv(-origin - extent, -step)};
  }
  range = {std::max<int64_t>(range.begin, 0), std::min(range.end, count)};
  if (range.Size() == 0) return {};
  if (!reaches(range.begin) || !reaches(range.end - 1) || (range.begin > 0 && step != 0 && reaches(range.begin - 1)) ||
      (range.end < count && step != 0 && reaches(range.end))) {
    std::abort();  // the model's own arithmetic is wrong
  }
  return range;
}

}  // namespace

int64_t TenthsToDots(int64_t tenths, int32_t resolution) {
  // Exactly, in integers: the quotient and what is left of it.
  constexpr int64_t kTenthsPerInch = 254;
  const int64_t product = tenths * resolution;
  int64_t dots = product / kTenthsPerInch;
  const int64_t left = product % kTenthsPerInch;
  if (2 * std::abs(left) >= kTenthsPerInch) dots += product < 0 ? -1 : 1;
  return std::clamp<int64_t>(dots, INT32_MIN, INT32_MAX);
}

void Picture::Set(int64_t x, int64_t y, Colour c) {
  if (x < 0 || y < 0 || x >= width || y >= height) return;
  uint8_t* p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
  p[0] = c.r, p[1] = c.g, p[2] = c.b;
}

Colour Picture::At(int64_t x, int64_t y) const {
  const uint8_t* p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3];
  return {p[0], p[1], p[2]};
}

void PageModel::GiveUp(std::string why) {
  if (notModelled_.empty()) notModelled_ = std::move(why);
}

void PageModel::Disagree(std::string what) {
  if (disagreement_.empty()) disagreement_ = std::move(what);
  GiveUp("disagreement");
}

bool PageModel::Spend(int64_t pixels) {
  spent_ += pixels;
  if (spent_ > budget_) GiveUp("more to paint than the budget");
  return Modelled();
}

std::optional<DotPoint> PageModel::Moved(DotPoint at) {
  const int64_t x = int64_t{at.x} + offsetX_, y = int64_t{at.y} + offsetY_;
  if (!FitsInt32(x) || !FitsInt32(y)) {
    GiveUp("a position beyond 32 bits");
    return std::nullopt;
  }
  return DotPoint{static_cast<int32_t>(x), static_cast<int32_t>(y)};
}

std::shared_ptr<const Picture> PageModel::TakePending() {
  if (!hasPending_) Disagree("a bitmap was placed that the host never sent");
  hasPending_ = false;
  if (pending_ == nullptr) GiveUp("a bitmap too large to model");
  return std::exchange(pending_, nullptr);
}

void PageModel::Adjust(StoredAdjustment adjustment) {
  // The stored values are signed tenths of a millimetre.
  const auto dots = [&](std::optional<uint32_t> stored) {
    return stored ? TenthsToDots(static_cast<int32_t>(*stored), resolution_) : 0;
  };
  offsetY_ = dots(adjustment.vertical);
  offsetX_ = dots(adjustment.horizontal);
}

void PageModel::StartJob(StoredAdjustment adjustment) {
  Adjust(adjustment);
  // A base the last job kept on after a clear goes with that job.
  if (clearedSinceBase_) ForgetBase();
  clearedSinceBase_ = false;
  pageRefers_ = 0;
  labelWidth_ = labelLength_ = headerWidth_ = headerLength_ = 0;
  hasPending_ = false;
  pending_.reset();
  referCount_ = 0;
  extraCopies_ = 0;
  jobBase_.reset();
  elements_.clear();
  labels_.clear();
  spent_ = 0;
  notModelled_.clear();
  disagreement_.clear();
}

void PageModel::Header(int32_t width, int32_t length) {
  headerWidth_ = width, headerLength_ = length;
  labelWidth_ = std::clamp(width, printer_limits::kMinWidth, printer_limits::kMaxWidth);
  labelLength_ = std::clamp(length, printer_limits::kMinLength, printer_limits::kMaxLength);
  if (int64_t{labelWidth_} * labelLength_ > kLargestPage) GiveUp("a label too large to paint");
}

void PageModel::Bitmap(const DibRows& rows, std::string_view name) {
  hasPending_ = true;
  pendingName_ = name;
  pending_.reset();
  if (rows.width <= 0 || rows.height <= 0) return Disagree("a bitmap without pixels was accepted");
  const int64_t width = rows.width, height = rows.height;
  const auto step = static_cast<int64_t>(rows.bytes.size() / static_cast<size_t>(height));
  if (rows.bitCount == 24 ? step < width * 3 : rows.bitCount == 1 ? step < (width + 7) / 8 : true) {
    return Disagree("a bitmap of " + std::to_string(rows.bitCount) + " bits and " + std::to_string(step) +
                    " bytes a row was accepted at width " + std::to_string(width));
  }
  // Kept for a later job as its base, so decoded even when this job is not modelled.
  spent_ += width * height;
  if (width * height > budget_ / 4) return;  // too large: pending_ stays unknown
  auto picture = std::make_shared<Picture>(rows.width, rows.height);
  for (int64_t y = 0; y < height; ++y) {
    for (int64_t x = 0; x < width; ++x) {
      const uint8_t* row = rows.bytes.data() + y * step;
      if (rows.bitCount == 24) {
        picture->Set(x, y, {row[x * 3 + 2], row[x * 3 + 1], row[x * 3]});  // rows hold blue, green, red
      } else {
        const bool set = (row[x / 8] & (0x80 >> (x % 8))) != 0;  // set bits are white
        picture->Set(x, y, set ? kWhite : Colour{0, 0, 0});
      }
    }
  }
  pending_ = std::move(picture);
}

void PageModel::NewPage() {
  elements_.clear();
  pageRefers_ = 0;
}

void PageModel::Base(DotPoint at) {
  ++pageRefers_;
  const std::optional<Grid> grid = GridOf(layout_, resolution_);
  // After a clear, a base bitmap sent again is a new design, laid out as the
  // job's first was. A layout that lays the copies out otherwise than the
  // base's grid lays the same tile out again on the new one.
  const bool newDesign = clearedSinceBase_ && hasPending_ && pendingName_ == kBaseBitmapName;
  const bool moved = grid && baseGrid_ &&
                     (grid->outer != baseGrid_->outer || grid->inner != baseGrid_->inner ||
                      grid->outerStep != baseGrid_->outerStep || grid->innerStep != baseGrid_->innerStep ||
                      grid->columnsOuter != baseGrid_->columnsOuter || layout_.labelColumns != baseColumns_);
  const bool again = referCount_++ > 0;
  if (again && !newDesign && !moved) return;
  if (!again || newDesign) clearedSinceBase_ = false;
  // The job's first reference lays out its base: the base bitmap it sent,
  // or the tile an earlier job left.
  std::shared_ptr<const Picture> tile;
  if (again && !newDesign) {
    if (!keptKnown_) return GiveUp("the base laid out again is not known");
    tile = keptTile_;
  } else if (hasPending_) {
    if (pendingName_ != kBaseBitmapName) Disagree("a base reference took the bitmap \"" + pendingName_ + "\"");
    tile = TakePending();
    keptTile_ = tile;
    keptKnown_ = tile != nullptr;
  } else if (!keptKnown_) {
    GiveUp("the base an earlier job left is not known");
  } else if (keptTile_ == nullptr) {
    Disagree("a base reference was accepted without any base");
  } else {
    tile = keptTile_;
  }
  if (!grid) return Disagree("a base reference was accepted at rotation " + std::to_string(layout_.rotation));
  cell_ = tile != nullptr && (grid->outer > 1 || grid->inner > 1) ? Cell{tile->width, tile->height} : Cell{};
  const std::optional<DotPoint> start = Moved(at);
  baseGrid_ = grid;
  baseColumns_ = layout_.labelColumns;
  if (start) baseX_ = start->x, baseY_ = start->y;
  if (tile == nullptr) {
    keptKnown_ = false;  // the cell size is not known either
    return;
  }
  if (!Modelled() || !start) return;
  const Range lines = Reaching(start->y, grid->outerStep, grid->outer, tile->height, labelLength_);
  const Range places = Reaching(start->x, grid->innerStep, grid->inner, tile->width, labelWidth_);
  // Worked out before painting: a grid that cannot be painted within the budget is not begun.
  const int64_t copies = lines.Size() * places.Size();
  if (copies > 1'000'000 ||
      copies * std::min(int64_t{tile->width} * tile->height, int64_t{labelWidth_} * labelLength_) > budget_ - spent_) {
    return GiveUp("more copies of the tile than the budget paints");
  }
  auto page = std::make_shared<Picture>(labelWidth_, labelLength_);
  // Every copy of the tile on the page, in grid order: a later copy covers an earlier one.
  for (int64_t j = lines.begin; j < lines.end; ++j) {
    for (int64_t i = places.begin; i < places.end; ++i) {
      Paint(*page, {start->x + i * grid->innerStep, start->y + j * grid->outerStep, tile->width, tile->height, tile});
      if (!Modelled()) return;
    }
  }
  jobBase_ = std::move(page);
}

void PageModel::Variable(DotPoint at) {
  std::shared_ptr<const Picture> pixels = TakePending();
  const std::optional<DotPoint> moved = Moved(at);
  if (pixels == nullptr || !moved || !Modelled()) return;
  elements_.push_back({moved->x, moved->y, pixels->width, pixels->height, std::move(pixels)});
}

void PageModel::Clock(std::u16string_view text, DotPoint at, int32_t fontHeight, std::u16string_view face) {
  // A text that prints nothing leaves the waiting bitmap waiting; one that
  // prints takes its place.
  if (text.empty()) return;
  // Clock positions are on the label as the host laid it out: turned with the layout.
  const int64_t x = at.x, y = at.y, w = headerWidth_, l = headerLength_;
  int64_t tx = x, ty = y;
  switch (layout_.rotation) {
    case 0: break;
    case 90: tx = y, ty = l - x; break;
    case 180: tx = w - x, ty = l - y; break;
    case 270: tx = w - y, ty = x; break;
    default: return Disagree("a clock was accepted at rotation " + std::to_string(layout_.rotation));
  }
  const std::optional<DotPoint> moved =
      FitsInt32(tx) && FitsInt32(ty) ? Moved({static_cast<int32_t>(tx), static_cast<int32_t>(ty)}) : std::nullopt;
  if (!moved) {
    hasPending_ = false;  // whether the text printed is not known: nor is what waits
    return GiveUp("a turned clock position beyond 32 bits");
  }
  DotPoint drawAt{moved->x, moved->y};
  RasterImage raster;
  if (text_.RenderMessageText(drawAt, text, fontHeight, face, layout_.rotation, raster) != result::kOk) {
    return Disagree("a clock was accepted that its renderer refuses");
  }
  if (raster.Empty() || raster.width <= 0 || raster.height <= 0) return;
  hasPending_ = false;
  pending_.reset();
  if (!Modelled() || !Spend(int64_t{raster.width} * raster.height)) return;
  auto pixels = std::make_shared<Picture>(raster.width, raster.height);
  for (int32_t ry = 0; ry < raster.height; ++ry) {
    for (int32_t rx = 0; rx < raster.width; ++rx) {
      const uint8_t* p = raster.pixels.data() + static_cast<size_t>(ry) * raster.stride + static_cast<size_t>(rx) * 3;
      pixels->Set(rx, ry, {p[2], p[1], p[0]});
    }
  }
  elements_.push_back({drawAt.x, drawAt.y, raster.width, raster.height, std::move(pixels)});
}

void PageModel::CloseStatic(int32_t copies) {
  extraCopies_ = copies - 1;
  // The page's cells from the first it did not refer to the base in. Counts
  // of unlike sign make a negative number of cells.
  const int64_t cells = int64_t{layout_.labelRows} * layout_.labelColumns;
  if (cells != 0 && pageRefers_ > 0 && pageRefers_ < std::abs(cells)) Blank(pageRefers_);
}

void PageModel::CloseDynamic(int32_t labelsUsed) {
  const int64_t cells = int64_t{layout_.labelRows} * layout_.labelColumns;
  if (cells != 0 && labelsUsed % cells > 0) Blank(labelsUsed % cells);
}

void PageModel::Blank(int64_t firstCell) {
  // The cells from `firstCell` on go white, on top of whatever this page
  // placed so far, on the copies of the base as it was last laid out.
  // The cells are the layout's, from the base's first copy.
  const std::optional<Grid> cells = GridOf(layout_, resolution_);
  if (!cells) return Disagree("a close was accepted at rotation " + std::to_string(layout_.rotation));
  if (!keptKnown_) return GiveUp("the base cell an earlier job left is not known");
  if (cell_.width <= 0 || cell_.height <= 0 || !Modelled() || !baseGrid_) return;
  const Grid* grid = &*cells;
  const int64_t originX = baseX_, originY = baseY_;
  const Range lines = Reaching(originY, grid->outerStep, grid->outer, cell_.height, labelLength_);
  const Range places = Reaching(originX, grid->innerStep, grid->inner, cell_.width, labelWidth_);
  if (lines.Size() * places.Size() > 250'000) return GiveUp("too many cells to blank");
  for (int64_t j = lines.begin; j < lines.end; ++j) {
    for (int64_t i = places.begin; i < places.end; ++i) {
      if (grid->Index(j, i, layout_.labelColumns) < firstCell) continue;
      const Element white{originX + i * grid->innerStep, originY + j * grid->outerStep, cell_.width, cell_.height,
                          nullptr};
      elements_.push_back(white);
    }
  }
}

void PageModel::Paint(Picture& page, const Element& e) {
  const Range xs = OnPage(e.x, e.width, page.width), ys = OnPage(e.y, e.height, page.height);
  if (!Spend(xs.Size() * ys.Size() + 1)) return;
  // Row by row: the element's pixels of the row, or white, over the page's.
  const auto bytes = static_cast<size_t>(xs.Size()) * 3;
  for (int64_t y = ys.begin; y < ys.end; ++y) {
    uint8_t* to =
        &page.rgb[(static_cast<size_t>(y) * static_cast<size_t>(page.width) + static_cast<size_t>(xs.begin)) * 3];
    if (e.pixels == nullptr) {
      std::fill_n(to, bytes, uint8_t{255});
    } else {
      const Picture& from = *e.pixels;
      std::copy_n(&from.rgb[(static_cast<size_t>(y - e.y) * static_cast<size_t>(from.width) +
                             static_cast<size_t>(xs.begin - e.x)) *
                            3],
                  bytes, to);
    }
  }
}

void PageModel::Final() {
  const int64_t count = 1 + std::clamp(extraCopies_, 0, kMaxCopies - 1);
  std::shared_ptr<const Picture> page;
  if (Modelled() && Spend(int64_t{labelWidth_} * labelLength_)) {
    // The job's base, or white while it has none, and on it everything
    // placed in order. A label with nothing placed is that page itself.
    if (elements_.empty()) {
      page = jobBase_ != nullptr ? jobBase_ : WhitePage();
    } else {
      auto painted = jobBase_ != nullptr ? std::make_shared<Picture>(*jobBase_)
                                         : std::make_shared<Picture>(labelWidth_, labelLength_);
      for (const Element& e : elements_) Paint(*painted, e);
      page = std::move(painted);
    }
  }
  labels_.push_back({Modelled() ? std::move(page) : nullptr, count});
  elements_.clear();
}

std::shared_ptr<const Picture> PageModel::WhitePage() {
  // Pictures are never changed once made: one white page serves every label that is white.
  if (white_ == nullptr || white_->width != labelWidth_ || white_->height != labelLength_) {
    white_ = std::make_shared<Picture>(labelWidth_, labelLength_);
  }
  return white_;
}

void PageModel::EmptyPage() {
  const bool painted = Modelled() && Spend(int64_t{labelWidth_} * labelLength_);
  labels_.push_back({painted ? WhitePage() : nullptr, 1});
}

void PageModel::Label(DotPoint at) {
  std::shared_ptr<const Picture> pixels = TakePending();
  const std::optional<DotPoint> moved = Moved(at);
  std::shared_ptr<Picture> page;
  if (pixels != nullptr && moved && Modelled() && Spend(int64_t{labelWidth_} * labelLength_)) {
    page = std::make_shared<Picture>(labelWidth_, labelLength_);
    Paint(*page, {moved->x, moved->y, pixels->width, pixels->height, pixels});
  }
  labels_.push_back({Modelled() ? std::move(page) : nullptr, 1});
}

void PageModel::Clear() {
  hasPending_ = false;
  pending_.reset();
  // The pages of this job go on as placed, on the base it laid out.
  if (referCount_ > 0) {
    clearedSinceBase_ = true;
  } else {
    ForgetBase();
  }
}

void PageModel::ForgetBase() {
  keptTile_.reset();
  keptKnown_ = true;
  cell_ = {};
  baseGrid_.reset();
}

streamcheck::CheckResult CheckInPieces(std::string_view stream, const streamcheck::LabelSink* sink) {
  constexpr size_t kPiece = size_t{1} << 20;
  streamcheck::PrinterMemory memory;
  streamcheck::StreamFeed feed(memory, sink);
  for (size_t at = 0; at < stream.size(); at += kPiece) feed.Feed(stream.substr(at, kPiece));
  return feed.Finish();
}

std::string CompareLabels(std::string_view stream, const std::vector<ExpectedLabel>& expected, size_t firstOffset) {
  std::string difference;
  size_t entry = 0;
  int64_t copy = 0;  // of expected[entry]
  const streamcheck::LabelSink sink = [&](const streamcheck::PrintedLabel& label) {
    if (label.offset < firstOffset) return true;
    const auto where = [&] {
      return "label " + std::to_string(label.number) + " (at byte " + std::to_string(label.offset) + ")";
    };
    if (entry >= expected.size()) {
      difference = where() + " is printed beyond the " + std::to_string(expected.size()) + " placed";
      return false;
    }
    const ExpectedLabel& want = expected[entry];
    // Copies repeat one format; the first and the last of a run stand for all of them.
    if (want.picture != nullptr && (copy == 0 || copy == want.count - 1)) {
      const auto& got = label.picture;
      const Picture& page = *want.picture;
      if (got.width != page.width || got.height != page.height) {
        difference = where() + " is " + std::to_string(got.width) + " x " + std::to_string(got.height) +
                     " dots, placed " + std::to_string(page.width) + " x " + std::to_string(page.height);
        return false;
      }
      if (got.rgb != page.rgb) {
        size_t at = 0;
        while (got.rgb[at] == page.rgb[at]) ++at;
        const size_t pixel = at / 3;
        const Colour c = page.At(static_cast<int64_t>(pixel % page.width), static_cast<int64_t>(pixel / page.width));
        difference = where() + " differs first at x " + std::to_string(pixel % page.width) + ", y " +
                     std::to_string(pixel / page.width) + ": printed " + std::to_string(got.rgb[pixel * 3]) + "," +
                     std::to_string(got.rgb[pixel * 3 + 1]) + "," + std::to_string(got.rgb[pixel * 3 + 2]) +
                     ", placed " + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
        return false;
      }
    }
    if (++copy == want.count) ++entry, copy = 0;
    return true;
  };
  const streamcheck::CheckResult result = CheckInPieces(stream, &sink);
  if (!difference.empty()) return difference;
  if (result.error)
    return "stream fault at byte " + std::to_string(result.error->offset) + ": " + result.error->message;
  if (entry < expected.size()) {
    return "the stream prints " + std::to_string(entry) + " of the " + std::to_string(expected.size()) +
           " placed labels (and " + std::to_string(copy) + " copies of the next)";
  }
  return {};
}

}  // namespace page_model
