#include "job_diff.h"

#include <algorithm>
#include <deque>
#include <memory>

namespace streamcheck {

namespace {

// Bytes fed to a replay at a time. A is fed only as far as B's labels need,
// in small pieces: each label of A is copied until its pair comes, and few
// are held at once (labels drawn alike share one copy).
constexpr size_t kPiece = 256 * 1024;
constexpr size_t kPieceOfA = 16 * 1024;
// Copies of A's labels whose memory is reused once their pairs are done.
constexpr size_t kPooled = 8;

// A label of A waiting for its pair in B.
struct HeldLabel {
  size_t number = 0;
  size_t offset = 0;
  uint64_t version = 0;
  bool inCommonBytes = false;  // everything up to its end is the same in both jobs
  std::shared_ptr<const RgbImage> picture;
};

class JobComparer {
 public:
  JobComparer(std::string_view a, std::string_view b, const DiffOptions& options)
      : a_(a),
        b_(b),
        options_(options),
        common_(static_cast<size_t>(
            std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first - a.begin())),
        sinkA_([this](const PrintedLabel& label) { return HoldA(label); }),
        sinkB_([this](const PrintedLabel& label) { return PairB(label); }),
        feedA_(memoryA_, &sinkA_),
        feedB_(memoryB_, &sinkB_) {}

  JobDiff Run() {
    diff_.tolerance = options_.tolerance;
    for (size_t at = 0; at < b_.size() && !feedB_.Done(); at += kPiece) {
      fedB_ = std::min(b_.size(), at + kPiece);
      feedB_.Feed(b_.substr(at, fedB_ - at));
    }
    const CheckResult b = feedB_.Finish();
    while (!doneA_ && !diff_.stopped) FeedA();
    for (; !held_.empty() && !diff_.stopped; held_.pop_front()) OnlyInA(held_.front());
    Side(diff_.b, b);
    Side(diff_.a, resultA_);
    diff_.setup = CompareSetups(diff_.a.setups, diff_.b.setups);
    return std::move(diff_);
  }

 private:
  static void Side(DiffSide& side, const CheckResult& result) {
    side.bytes = result.stats.bytes;
    side.labels = result.stats.labels;
    side.setups = result.stats.setups;
    side.damage = result.error;
  }

  void FeedA() {
    if (fedA_ < a_.size() && !feedA_.Done()) {
      const size_t from = fedA_;
      fedA_ = std::min(a_.size(), from + kPieceOfA);
      feedA_.Feed(a_.substr(from, fedA_ - from));
    } else {
      resultA_ = feedA_.Finish();
      doneA_ = true;
    }
  }

  bool HoldA(const PrintedLabel& label) {
    HeldLabel held{label.number, label.offset, label.version, fedA_ <= common_, nullptr};
    // A copy of the same page state is shared rather than made again.
    held.picture = last_ && lastVersion_ == label.version ? last_ : CopyOf(label.picture);
    last_ = held.picture;
    lastVersion_ = label.version;
    held_.push_back(std::move(held));
    return true;
  }

  // Copies a label of A into a picture no pair needs any more when there is
  // one: its memory is reused rather than fresh memory touched for every label.
  std::shared_ptr<const RgbImage> CopyOf(const RgbImage& picture) {
    for (std::shared_ptr<RgbImage>& spare : pool_) {
      if (spare.use_count() == 1) {
        *spare = picture;
        return spare;
      }
    }
    auto copy = std::make_shared<RgbImage>(picture);
    if (pool_.size() < kPooled) pool_.push_back(copy);
    return copy;
  }

  bool PairB(const PrintedLabel& label) {
    while (held_.empty() && !doneA_) FeedA();
    if (held_.empty()) {
      LabelDiff d;
      d.number = label.number;
      d.verdict = LabelVerdict::OnlyInB;
      d.widthB = label.picture.width;
      d.heightB = label.picture.height;
      ++diff_.onlyInB;
      diff_.labels.push_back(std::move(d));
      return true;
    }
    const HeldLabel held = std::move(held_.front());
    held_.pop_front();
    return Pair(held, label);
  }

  bool Pair(const HeldLabel& held, const PrintedLabel& label) {
    LabelDiff d;
    d.number = label.number;
    d.widthA = held.picture->width;
    d.heightA = held.picture->height;
    d.widthB = label.picture.width;
    d.heightB = label.picture.height;
    const bool repeat = previous_ && held.version == previous_->versionA && label.version == previous_->versionB;
    if (held.inCommonBytes && fedB_ <= common_ && held.offset == label.offset) {
      d.provenBy = d.number;  // the same bytes from an empty printer print the same
    } else if (repeat) {
      d.comparison = previous_->diff.comparison;
      d.provenBy = previous_->diff.provenBy ? previous_->diff.provenBy : previous_->diff.number;
    } else {
      d.comparison = CompareLabels(*held.picture, label.picture, options_.tolerance);
    }
    const bool differs = d.comparison.pixels > 0 || d.widthA != d.widthB || d.heightA != d.heightB;
    d.verdict = differs ? LabelVerdict::Differ : LabelVerdict::Same;
    ++(differs ? diff_.differ : diff_.same);
    bool go = true;
    if (differs && options_.marked) {
      if (!repeat || !marked_) {
        marked_ = std::make_unique<RgbImage>();
        CompareLabels(*held.picture, label.picture, options_.tolerance, marked_.get());
      }
      go = options_.marked(d, *marked_);
      diff_.stopped = !go;
    }
    previous_ = Previous{held.version, label.version, d};
    diff_.labels.push_back(std::move(d));
    return go;
  }

  void OnlyInA(const HeldLabel& held) {
    LabelDiff d;
    d.number = held.number;
    d.verdict = LabelVerdict::OnlyInA;
    d.widthA = held.picture->width;
    d.heightA = held.picture->height;
    ++diff_.onlyInA;
    diff_.labels.push_back(std::move(d));
  }

  struct Previous {
    uint64_t versionA = 0, versionB = 0;
    LabelDiff diff;
  };

  std::string_view a_, b_;
  const DiffOptions& options_;
  size_t common_;  // bytes at the start that are the same in both
  LabelSink sinkA_, sinkB_;
  PrinterMemory memoryA_, memoryB_;
  StreamFeed feedA_, feedB_;
  size_t fedA_ = 0, fedB_ = 0;
  bool doneA_ = false;
  CheckResult resultA_;
  std::deque<HeldLabel> held_;
  std::vector<std::shared_ptr<RgbImage>> pool_;  // copies of A's labels, reused once free
  std::shared_ptr<const RgbImage> last_;
  uint64_t lastVersion_ = 0;
  std::optional<Previous> previous_;
  std::unique_ptr<RgbImage> marked_;  // the picture of the last differing pair, marked
  JobDiff diff_;
};

// Both jobs are the same bytes: drawn once, every label the same.
JobDiff SameBytes(std::string_view bytes, int tolerance) {
  JobDiff diff;
  diff.tolerance = tolerance;
  diff.identicalBytes = true;
  const LabelSink sink = [&diff](const PrintedLabel& label) {
    LabelDiff d;
    d.number = d.provenBy = label.number;
    d.widthA = d.widthB = label.picture.width;
    d.heightA = d.heightB = label.picture.height;
    diff.labels.push_back(d);
    return true;
  };
  const CheckResult result = CheckStream(bytes, &sink);
  diff.same = diff.labels.size();
  for (DiffSide* side : {&diff.a, &diff.b}) {
    side->bytes = result.stats.bytes;
    side->labels = result.stats.labels;
    side->setups = result.stats.setups;
    side->damage = result.error;
  }
  return diff;
}

std::string Cutting(const LabelSetup& s) {
  return s.cutMode == 'E' ? "on (" + std::to_string(s.pagesPerCut) + " pages per cut)" : "off";
}

}  // namespace

JobDiff DiffJobs(std::string_view a, std::string_view b, const DiffOptions& options) {
  if (a == b) return SameBytes(a, options.tolerance);
  JobComparer comparer(a, b, options);
  return comparer.Run();
}

std::optional<std::string> NoJobReason(std::string_view bytes) {
  if (bytes.empty()) return "it is empty";
  // A job's first command is short, unless it is a download: look at the
  // start first, and at the whole only when nothing there is a command.
  if (!ParseStream(bytes.substr(0, std::min<size_t>(bytes.size(), 4096))).commands.empty()) return std::nullopt;
  const ParsedStream parsed = ParseStream(bytes);
  if (!parsed.commands.empty() || !parsed.error) return std::nullopt;
  return "no printer command at its start: offset " + std::to_string(parsed.error->offset) + ": " +
         parsed.error->message;
}

std::vector<SetupDifference> CompareSetups(const std::vector<LabelSetup>& a, const std::vector<LabelSetup>& b) {
  std::vector<SetupDifference> out;
  const auto size = [](const LabelSetup& s) { return std::to_string(s.width) + " x " + std::to_string(s.length); };
  const auto direction = [](const LabelSetup& s) { return s.direction == 'B' ? "bidirectional" : "unidirectional"; };
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i >= a.size() || i >= b.size()) {
      out.push_back({i + 1, "set-up", i < a.size() ? "present" : "none", i < b.size() ? "present" : "none"});
      continue;
    }
    const LabelSetup& x = a[i];
    const LabelSetup& y = b[i];
    if (x.media != y.media) out.push_back({i + 1, "media", x.media, y.media});
    if (size(x) != size(y)) out.push_back({i + 1, "label size", size(x), size(y)});
    if (Cutting(x) != Cutting(y)) out.push_back({i + 1, "cutting", Cutting(x), Cutting(y)});
    if (x.printMode != y.printMode) {
      out.push_back({i + 1, "quality", std::to_string(x.printMode), std::to_string(y.printMode)});
    }
    if (x.direction != y.direction) out.push_back({i + 1, "direction", direction(x), direction(y)});
  }
  return out;
}

}  // namespace streamcheck
