#include "virtual_printer.h"

#include <algorithm>
#include <utility>

#include "png_codec.h"

namespace streamcheck::serve {

namespace {

constexpr size_t kMostImagesListed = 500;  // the memory panel lists this many names
constexpr size_t kMostNameShown = 200;     // characters of a name the panel shows

std::string ShownName(const std::string& name) {
  return name.size() <= kMostNameShown ? name : name.substr(0, kMostNameShown) + "…";
}

}  // namespace

PrinterJob::PrinterJob(VirtualPrinter& printer, std::unique_lock<std::mutex> hold, uint64_t id)
    : printer_(printer), hold_(std::move(hold)), id_(id) {
  if (printer_.options_.freshEachJob) printer_.Empty();
  const bool fresh = printer_.options_.freshEachJob || printer_.empty_;
  printer_.empty_ = false;
  printer_.store_.Printing(id_, fresh);
  printer_.pictures_.Begin(id_);
  sink_ = [this](const PrintedLabel& label) { return TakeLabel(label); };
  feed_ = std::make_unique<StreamFeed>(printer_.memory_, &sink_);
}

PrinterJob::~PrinterJob() {
  try {
    Finish();
  } catch (...) {
    // Nothing may escape a destructor; the record keeps what it had.
  }
}

bool PrinterJob::StopRequested() {
  if (!printer_.stopping_) return false;
  if (!overLimit_) Fault("the virtual printer was stopped during the job");
  overLimit_ = true;
  return true;
}

bool PrinterJob::TakeLabel(const PrintedLabel& label) {
  if (StopRequested()) return false;
  const ServeOptions& options = printer_.options_;
  // A label drawn exactly as an earlier label of the job shares that one's
  // picture: it costs no pixels to encode. (The picture writer bounds the bytes.)
  const auto drawn = drawn_.find(label.version);
  const size_t sameAs = drawn != drawn_.end() ? drawn->second : 0;
  const uint64_t pixels = sameAs != 0 ? 0 : uint64_t(label.picture.width) * uint64_t(label.picture.height);
  std::string refusal;
  if (labels_ >= options.maxJobLabels) {
    refusal = "the job prints more than " + std::to_string(options.maxJobLabels) + " labels";
  } else if (pixels_ + pixels > options.maxJobPixels) {
    refusal = "the job's labels come to more than " + std::to_string(options.maxJobPixels) + " pixels";
  }
  if (refusal.empty()) {
    ++labels_;
    pixels_ += pixels;
    if (sameAs == 0) drawn_.emplace(label.version, label.number);
    printer_.store_.AddLabel(id_, label, sameAs);
    sameAs_.push_back(sameAs);
    return true;
  }
  overLimit_ = true;
  printer_.store_.AddFault(
      id_, {label.offset,
            refusal + ": the job was cut at label " + std::to_string(label.number) + ", the rest was not printed",
            {},
            {}});
  faulted_ = true;
  return false;
}

bool PrinterJob::Feed(std::string_view piece) {
  if (overLimit_ || finished_ || StopRequested()) return false;
  // Once the replay has ended (a fault), the picture writer's has ended at the
  // same byte: the rest is kept as the job's stream but not passed on.
  const bool replaying = !feed_->Done();
  feed_->Feed(piece);
  if (replaying) PassOn(piece);
  return !overLimit_;
}

void PrinterJob::PassOn(std::string_view bytes) {
  if (bytes.empty() && sameAs_.empty()) return;
  printer_.pictures_.Feed(bytes, std::exchange(sameAs_, {}));
}

void PrinterJob::Fault(const std::string& message) {
  faulted_ = true;
  printer_.store_.AddFault(id_, {std::nullopt, message, {}, {}});
}

void PrinterJob::Finish() {
  if (finished_) return;
  finished_ = true;
  if (feed_->Bytes().empty() && !faulted_) Fault("the job is empty: no bytes were received");
  const CheckResult result = feed_->Finish();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_);
  printer_.TakeSnapshot();  // before the record is closed, so that a page that sees it sees the memory after it
  printer_.store_.Finish(id_, feed_->Bytes(), result, printer_.memory_.setup, took);
  printer_.pictures_.End(std::exchange(sameAs_, {}));
  feed_.reset();
  if (hold_.owns_lock()) hold_.unlock();
}

void VirtualPrinter::Empty() {
  memory_ = EmptyPrinterMemory(options_);
  pictures_.Empty();
  empty_ = true;
}

void VirtualPrinter::TakeSnapshot() {
  nlohmann::json json{{"imageBytes", memory_.imageBytes},
                      {"imageByteLimit", memory_.imageByteLimit},
                      {"imageCount", memory_.images.size()},
                      {"empty", empty_}};
  json["setup"] = memory_.setup ? SetupJson(*memory_.setup) : nlohmann::json(nullptr);
  json["images"] = nlohmann::json::array();
  for (const auto& [name, image] : memory_.images) {
    if (json["images"].size() >= kMostImagesListed) break;
    json["images"].push_back({{"name", ShownName(name)},
                              {"width", image.width},
                              {"height", image.height},
                              {"pngBytes", image.png.size()},
                              {"bytes", StoredImageBytes(name, image.png.size())},
                              {"download", image.downloadOffset}});
  }
  const RgbImage* kept = memory_.pages.Kept();
  std::shared_ptr<const RgbImage> copy = kept && kept->width > 0 ? std::make_shared<RgbImage>(*kept) : nullptr;
  std::lock_guard lock(snapshotMutex_);
  ++snapshots_;
  json["version"] = snapshots_;
  json["kept"] =
      copy ? nlohmann::json{{"width", copy->width},
                            {"height", copy->height},
                            {"url", "/memory/kept.png?v=" + std::to_string(snapshots_) + "-" + store_.RunToken()}}
           : nlohmann::json(nullptr);
  snapshot_ = std::move(json);
  if (kept_.picture) keptBefore_ = std::move(kept_);
  kept_ = KeptPage{snapshots_, std::move(copy), {}};
}

nlohmann::json VirtualPrinter::Memory() const {
  std::lock_guard lock(snapshotMutex_);
  return snapshot_;
}

std::vector<uint8_t> VirtualPrinter::KeptPicture(std::optional<uint64_t> version) const {
  std::lock_guard lock(snapshotMutex_);
  const KeptPage* page = !version || *version == kept_.version ? &kept_
                         : *version == keptBefore_.version     ? &keptBefore_
                                                               : nullptr;
  if (page == nullptr || !page->picture) return {};
  if (page->png.empty() && !EncodePng(*page->picture, LabelPictureEncoding(options_.labelPngLevel), page->png)) {
    page->png.clear();
  }
  return page->png;
}

std::string VirtualPrinter::KeptToken() const { return store_.RunToken(); }

std::unique_ptr<PrinterJob> VirtualPrinter::StartJob(uint64_t id) {
  std::unique_lock hold(busy_);
  return std::unique_ptr<PrinterJob>(new PrinterJob(*this, std::move(hold), id));
}

void VirtualPrinter::PowerCycle() {
  {
    std::lock_guard hold(busy_);
    Empty();
    TakeSnapshot();
  }
  store_.NotePowerCycle();
}

}  // namespace streamcheck::serve
