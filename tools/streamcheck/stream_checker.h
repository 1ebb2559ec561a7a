// Replays a parsed printer stream the way the printer would: checks that the
// label formats are framed as the plug-in frames them, that every recall names
// an image downloaded before it and that every downloaded PNG is sound, counts
// what the job holds and, when asked, hands over every printed label.
#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "page_images.h"
#include "rgb_image.h"
#include "stream_parser.h"

namespace streamcheck {

// Label sizes the printer accepts, in dots.
inline constexpr int32_t kNarrowestLabel = 425;
inline constexpr int32_t kShortestLabel = 113;

struct LabelSetup {
  size_t offset = 0;  // of the set-up format's "^XA"
  std::string media;
  int32_t width = 0;
  int32_t length = 0;
  ClockValue clock;
  char cutMode = 0;
  uint32_t pagesPerCut = 0;
  int32_t printMode = 0;
  char direction = 0;
};

struct JobStats {
  size_t bytes = 0;
  size_t commands = 0;
  size_t formats = 0;
  size_t labels = 0;  // printed labels
  size_t downloads = 0;
  size_t recalls = 0;  // bands printed
  size_t images = 0;   // rasters: runs of bands stacked one below the other
  size_t pngBytes = 0;
  std::vector<LabelSetup> setups;
};

// One band a recall drew onto a label: where, how large, and the bytes that
// sent it.
struct SentArea {
  int64_t x = 0, y = 0;
  int32_t width = 0, height = 0;
  size_t pngBytes = 0;        // size of the PNG file the recall drew
  size_t downloadOffset = 0;  // of the "~DYR:" that stored it, in the stream of the job that sent it
  size_t recallOffset = 0;    // of the recall's "^FO"
  bool operator==(const SentArea&) const = default;
};

struct PrintedLabel {
  size_t number = 0;  // 1 for the first label of the stream
  size_t offset = 0;  // of its format's "^XA"
  const RgbImage& picture;
  const std::vector<SentArea>& areas;  // every band recalled onto this label, in stream order
  // Equal for two labels of one printer memory only when their pictures are
  // equal dot for dot (PageImages::CurrentVersion).
  uint64_t version = 0;
};

// Receives each printed label; returning false stops the replay.
using LabelSink = std::function<bool(const PrintedLabel&)>;

struct CheckResult {
  JobStats stats;
  std::optional<StreamError> error;  // the first fault of the stream
  bool stoppedBySink = false;
};

// An image downloaded into printer memory under a name: its PNG file, kept
// so that it can be recalled by a later format or a later job.
struct StoredImage {
  std::vector<uint8_t> png;
  int32_t width = 0;
  int32_t height = 0;
  uint64_t id = 0;            // tells downloads apart, also two under the same name
  size_t downloadOffset = 0;  // of its "~DYR:" in the stream of the job that sent it
};

// The longest image name the printer stores; the plug-in's names are a few
// bytes long.
inline constexpr size_t kLongestImageName = 64;
// What an image costs in printer memory besides its PNG file and its name.
inline constexpr size_t kStoredImageOverhead = 128;

// The printer memory an image stored under `name` takes.
inline size_t StoredImageBytes(std::string_view name, size_t pngBytes) {
  return pngBytes + name.size() + kStoredImageOverhead;
}

// The work one job may make the printer do; a job that goes past a bound is
// cut there with a fault that names it. Pixels painted are the label area
// each recall covers and, for each "^C(L" format, the whole label it copies
// from the kept page. The defaults leave any job of the plug-in far below
// them: 20 G pixels are over 800 labels of the largest size (1587 x 14400)
// each painted whole, minutes of rendering; 100 000 labels are a long roll.
struct ReplayLimits {
  uint64_t paintedPixels = 20'000'000'000;
  uint64_t labels = 100'000;
};

// What the printer holds between jobs until it is switched off: the set-up
// in force, the images downloaded by name and the page kept by "^C(S".
struct PrinterMemory {
  std::optional<LabelSetup> setup;
  std::map<std::string, StoredImage> images;
  PageImages pages;
  RgbImage decoded;        // the image decoded last, to draw it again without decoding
  uint64_t decodedId = 0;  // its StoredImage::id; 0 for none
  uint64_t nextId = 1;
  size_t imageBytes = 0;  // StoredImageBytes of all stored images
  // A download that would take the stored images past this is refused, as by
  // a printer whose memory is full. A single stream is bounded by its own size.
  size_t imageByteLimit = std::numeric_limits<size_t>::max();
  ReplayLimits limits;  // for each job replayed on this memory
};

// Replays one job's commands, in stream order, against the printer's memory.
class JobReplay {
 public:
  JobReplay(PrinterMemory& memory, const LabelSink* sink);
  // `bytes` holds the job as far as it has come; `command` lies within it.
  void Apply(const Command& command, std::string_view bytes);
  // True once a fault or the sink has ended the replay.
  bool Done() const { return result_.error.has_value() || result_.stoppedBySink; }
  // The end of the job. `parseError`: what stopped the parser, if anything.
  CheckResult Finish(const std::optional<StreamError>& parseError, size_t bytes, size_t commands);

 private:
  enum class FormatKind { Empty, Marker, Setup, Page, Image };
  struct LastBand {
    size_t format = 0;
    int64_t x = 0, y = 0;
    int32_t width = 0, height = 0;
  };

  void Fail(size_t offset, std::string message) { result_.error = StreamError{offset, std::move(message)}; }
  bool Drawing() const { return sink_ != nullptr; }
  bool StartPrinting(const Command& c, FormatKind kind);
  bool EnterImageFormat(const Command& c);
  void ApplySetup(const Command& c);
  void CloseFormat(const Command& c);
  void ApplyDownload(const Command& c, std::string_view bytes);
  void ApplyRecall(const Command& c);
  // Counts pixels painted against the job's bound; false (and a fault) past it.
  bool Paint(size_t offset, uint64_t pixels);

  PrinterMemory& memory_;
  const LabelSink* sink_;
  CheckResult result_;

  bool inFormat_ = false;
  size_t formatOffset_ = 0;
  FormatKind format_ = FormatKind::Empty;
  size_t setupStep_ = 0;
  bool carriedOut_ = false;  // ^C(S or ^C(D seen: only ^XZ may follow
  LabelSetup pending_;
  std::optional<LastBand> band_;
  std::vector<SentArea> areas_;
  uint64_t painted_ = 0;  // pixels painted in this job  // of the label being printed, kept only when drawing
};

// A stream that arrives piece by piece: each command is replayed as soon as
// it is complete, and the result and the labels are those CheckStream gives
// for the whole stream.
class StreamFeed {
 public:
  StreamFeed(PrinterMemory& memory, const LabelSink* sink) : replay_(memory, sink) {}
  void Feed(std::string_view more);
  // The stream has ended: replays what is left and gives the verdict.
  CheckResult Finish();
  const std::string& Bytes() const { return bytes_; }
  // A fault or the sink has ended the replay: later bytes change nothing.
  bool Done() const { return replay_.Done(); }

 private:
  void Advance(bool ended);

  std::string bytes_;
  size_t replayed_ = 0;  // end of the last command replayed
  size_t commands_ = 0;  // commands parsed so far
  size_t lastTry_ = 0;   // size of the stream when a parse last stopped short
  std::optional<StreamError> parseError_;
  JobReplay replay_;
};

// Checks `parsed` (the parse of `bytes`) on a printer that holds nothing.
// With a sink the labels are drawn and handed over as their formats close;
// without one nothing is drawn, but every PNG is still decoded to check it.
CheckResult CheckStream(std::string_view bytes, const ParsedStream& parsed, const LabelSink* sink = nullptr);

// Parse and check in one.
CheckResult CheckStream(std::string_view bytes, const LabelSink* sink = nullptr);

}  // namespace streamcheck
