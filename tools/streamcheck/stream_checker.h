// Replays a parsed printer stream the way the printer would: checks that the
// label formats are framed as the plug-in frames them, that every recall names
// an image downloaded before it and that every downloaded PNG is sound, counts
// what the job holds and, when asked, hands over every printed label.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  size_t labels = 0;      // printed labels
  size_t downloads = 0;
  size_t recalls = 0;     // bands printed
  size_t images = 0;      // rasters: runs of bands stacked one below the other
  size_t pngBytes = 0;
  std::vector<LabelSetup> setups;
};

struct PrintedLabel {
  size_t number = 0;  // 1 for the first label of the stream
  size_t offset = 0;  // of its format's "^XA"
  const RgbImage& picture;
};

// Receives each printed label; returning false stops the replay.
using LabelSink = std::function<bool(const PrintedLabel&)>;

struct CheckResult {
  JobStats stats;
  std::optional<StreamError> error;  // the first fault of the stream
  bool stoppedBySink = false;
};

// Checks `parsed` (the parse of `bytes`). With a sink the labels are drawn
// and handed over as their formats close; without one nothing is drawn, but
// every PNG is still decoded to check it.
CheckResult CheckStream(std::string_view bytes, const ParsedStream& parsed, const LabelSink* sink = nullptr);

// Parse and check in one.
CheckResult CheckStream(std::string_view bytes, const LabelSink* sink = nullptr);

}  // namespace streamcheck
