#include "stream_checker.h"

#include <algorithm>
#include <array>

#include "page_images.h"
#include "png_codec.h"

namespace streamcheck {

namespace {

// The set-up label's commands, in the order the plug-in writes them.
constexpr std::array kSetupOrder{
    CommandKind::MediaType,    CommandKind::LabelWidth, CommandKind::LabelLength,
    CommandKind::PrinterClock, CommandKind::CutMode,    CommandKind::PagesPerCut,
    CommandKind::PrintMode,    CommandKind::Direction,  CommandKind::SetupEnd,
};

std::string TokenName(CommandKind kind) { return std::string(CommandToken(kind)); }

std::string ImageName(const std::string& name) { return "image \"" + ShownText(name) + "\""; }

// The pixels of a `width` x `height` image at (x, y) that fall on the label.
uint64_t PaintedArea(int64_t x, int64_t y, int32_t width, int32_t height, const LabelSetup& label) {
  const int64_t left = std::max<int64_t>(x, 0), right = std::min<int64_t>(x + width, label.width);
  const int64_t top = std::max<int64_t>(y, 0), bottom = std::min<int64_t>(y + height, label.length);
  if (right <= left || bottom <= top) return 0;
  return static_cast<uint64_t>(right - left) * static_cast<uint64_t>(bottom - top);
}

bool IsSetupCommand(CommandKind kind) {
  for (CommandKind k : kSetupOrder) {
    if (k == kind) return true;
  }
  return false;
}

// Commands whose last operand runs until a byte that cannot belong to it.
bool EndsOpen(CommandKind kind) {
  switch (kind) {
    case CommandKind::MediaType:
    case CommandKind::LabelWidth:
    case CommandKind::LabelLength:
    case CommandKind::PagesPerCut:
    case CommandKind::PrintMode: return true;
    default: return false;
  }
}

}  // namespace

JobReplay::JobReplay(PrinterMemory& memory, const LabelSink* sink) : memory_(memory), sink_(sink) {}

CheckResult JobReplay::Finish(const std::optional<StreamError>& parseError, size_t bytes, size_t commands) {
  result_.stats.bytes = bytes;
  result_.stats.commands = commands;
  if (!Done()) {
    if (parseError) {
      result_.error = parseError;
    } else if (inFormat_) {
      Fail(formatOffset_, "label format opened here is never closed (no ^XZ)");
    }
  }
  inFormat_ = false;
  return std::move(result_);
}

void JobReplay::Apply(const Command& c, std::string_view bytes) {
  if (Done()) return;
  if (!inFormat_) {
    if (c.kind != CommandKind::FormatStart)
      return Fail(c.offset, std::string(TokenName(c.kind)) + " outside a label format");
    inFormat_ = true;
    formatOffset_ = c.offset;
    format_ = FormatKind::Empty;
    setupStep_ = 0;
    carriedOut_ = false;
    areas_.clear();
    ++result_.stats.formats;
    return;
  }
  if (carriedOut_ && c.kind != CommandKind::FormatEnd) {
    return Fail(c.offset, std::string("only ^XZ may follow ^C(S, found ") + TokenName(c.kind));
  }
  if (IsSetupCommand(c.kind)) return ApplySetup(c);
  switch (c.kind) {
    case CommandKind::FormatStart:
      return Fail(c.offset, "^XA inside the label format opened at offset " + std::to_string(formatOffset_));
    case CommandKind::FormatEnd: return CloseFormat(c);
    case CommandKind::Comment:
      if (format_ != FormatKind::Empty) return Fail(c.offset, "a comment in a label that holds other commands");
      format_ = FormatKind::Marker;
      return;
    case CommandKind::PageCarryIn:
      if (format_ != FormatKind::Empty) return Fail(c.offset, "^C(L must follow ^XA directly");
      if (!StartPrinting(c, FormatKind::Page)) return;
      if (!Paint(c.offset, static_cast<uint64_t>(memory_.setup->width) * static_cast<uint64_t>(memory_.setup->length)))
        return;
      if (Drawing()) memory_.pages.StartFromKept(memory_.setup->width, memory_.setup->length);
      return;
    case CommandKind::PageCarryOut:
      if (format_ != FormatKind::Page) return Fail(c.offset, "^C(S outside a page format (no ^C(L)");
      carriedOut_ = true;
      if (Drawing()) memory_.pages.Keep();
      return;
    case CommandKind::ImageDownload: return ApplyDownload(c, bytes);
    case CommandKind::ImageRecall: return ApplyRecall(c);
    default: return;
  }
}

// A format that prints needs a label size; the set-up label gives it, in this
// job or in one before it.
bool JobReplay::StartPrinting(const Command& c, FormatKind kind) {
  if (!memory_.setup) {
    Fail(c.offset, "a label is printed before any set-up label");
    return false;
  }
  format_ = kind;
  return true;
}

bool JobReplay::EnterImageFormat(const Command& c) {
  if (format_ == FormatKind::Empty) {
    if (!StartPrinting(c, FormatKind::Image)) return false;
    if (Drawing()) memory_.pages.StartBlank(memory_.setup->width, memory_.setup->length);
  }
  if (format_ != FormatKind::Page && format_ != FormatKind::Image) {
    Fail(c.offset, std::string(TokenName(c.kind)) + " in a label that holds no images");
    return false;
  }
  return true;
}

void JobReplay::ApplySetup(const Command& c) {
  if (format_ == FormatKind::Empty) {
    format_ = FormatKind::Setup;
    pending_ = LabelSetup{};
    pending_.offset = formatOffset_;
  }
  if (format_ != FormatKind::Setup) {
    return Fail(c.offset, std::string(TokenName(c.kind)) + " in a label that is not a set-up label");
  }
  if (setupStep_ >= kSetupOrder.size() || kSetupOrder[setupStep_] != c.kind) {
    return Fail(c.offset, std::string("set-up label: expected ") +
                              (setupStep_ < kSetupOrder.size() ? TokenName(kSetupOrder[setupStep_]) : "^XZ") +
                              ", found " + TokenName(c.kind));
  }
  ++setupStep_;
  switch (c.kind) {
    case CommandKind::MediaType: pending_.media = c.text; break;
    case CommandKind::LabelWidth:
      if (c.value < kNarrowestLabel || c.value > kLargestLabelWidth) {
        return Fail(c.offset, "label width " + std::to_string(c.value) + " is outside 425..1587 dots");
      }
      pending_.width = static_cast<int32_t>(c.value);
      break;
    case CommandKind::LabelLength:
      if (c.value < kShortestLabel || c.value > kLargestLabelLength) {
        return Fail(c.offset, "label length " + std::to_string(c.value) + " is outside 113..14400 dots");
      }
      pending_.length = static_cast<int32_t>(c.value);
      break;
    case CommandKind::PrinterClock: pending_.clock = c.clock; break;
    case CommandKind::CutMode: pending_.cutMode = c.letter; break;
    case CommandKind::PagesPerCut: pending_.pagesPerCut = static_cast<uint32_t>(c.value); break;
    case CommandKind::PrintMode: pending_.printMode = static_cast<int32_t>(c.value); break;
    case CommandKind::Direction: pending_.direction = c.letter; break;
    case CommandKind::SetupEnd:
      memory_.setup = pending_;
      result_.stats.setups.push_back(pending_);
      carriedOut_ = true;  // like ^C(S, ^C(D stands directly before ^XZ
      break;
    default: break;
  }
}

void JobReplay::CloseFormat(const Command& c) {
  inFormat_ = false;
  switch (format_) {
    case FormatKind::Empty: return Fail(formatOffset_, "label format holds no command");
    case FormatKind::Setup:
      if (setupStep_ != kSetupOrder.size()) {
        return Fail(c.offset, std::string("set-up label ends before ") + TokenName(kSetupOrder[setupStep_]));
      }
      return;
    case FormatKind::Marker: return;
    case FormatKind::Page:
      if (!carriedOut_) return Fail(c.offset, "page format closes without ^C(S");
      break;
    case FormatKind::Image: break;
  }
  if (result_.stats.labels >= memory_.limits.labels) {
    return Fail(formatOffset_, "the job prints more than " + std::to_string(memory_.limits.labels) + " labels");
  }
  ++result_.stats.labels;
  if (Drawing()) {
    const PrintedLabel label{result_.stats.labels, formatOffset_, memory_.pages.Current(), areas_,
                             memory_.pages.CurrentVersion()};
    if (!(*sink_)(label)) result_.stoppedBySink = true;
  }
}

void JobReplay::ApplyDownload(const Command& c, std::string_view bytes) {
  if (!EnterImageFormat(c)) return;
  if (c.text.size() > kLongestImageName) {
    return Fail(c.offset, ImageName(c.text) + ": a name of " + std::to_string(c.text.size()) +
                              " bytes is longer than the " + std::to_string(kLongestImageName) +
                              " bytes the printer keeps");
  }
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data()) + c.dataOffset;
  PngHeader header;
  const std::string problem = DecodePng(data, c.dataSize, PngLimits{}, memory_.decoded, &header);
  if (!problem.empty()) {
    memory_.decodedId = 0;
    return Fail(c.offset, ImageName(c.text) + ": " + problem);
  }
  const auto replaced = memory_.images.find(c.text);
  const size_t freed = replaced == memory_.images.end() ? 0 : StoredImageBytes(c.text, replaced->second.png.size());
  const size_t held = memory_.imageBytes - freed;
  const size_t needed = StoredImageBytes(c.text, c.dataSize);
  if (needed > memory_.imageByteLimit || held > memory_.imageByteLimit - needed) {
    memory_.decodedId = 0;
    return Fail(c.offset, ImageName(c.text) + ": printer memory full (" + std::to_string(held) +
                              " bytes of images stored, limit " + std::to_string(memory_.imageByteLimit) + ")");
  }
  StoredImage& stored = memory_.images[c.text];
  stored.png.assign(data, data + c.dataSize);
  memory_.imageBytes = held + needed;
  stored.width = memory_.decoded.width;
  stored.height = memory_.decoded.height;
  stored.id = memory_.nextId++;
  stored.downloadOffset = c.offset;
  memory_.decodedId = stored.id;
  ++result_.stats.downloads;
  result_.stats.pngBytes += c.dataSize;
}

void JobReplay::ApplyRecall(const Command& c) {
  if (!EnterImageFormat(c)) return;
  const auto found = memory_.images.find(c.text);
  if (found == memory_.images.end()) {
    return Fail(c.offset, "recall of " + ImageName(c.text) + ", which no earlier download stored");
  }
  const StoredImage& image = found->second;
  ++result_.stats.recalls;
  const bool continues = band_ && band_->format == result_.stats.formats && band_->x == c.x &&
                         band_->y + band_->height == c.y && band_->width == image.width;
  if (!continues) ++result_.stats.images;
  band_ = LastBand{result_.stats.formats, c.x, c.y, image.width, image.height};
  if (!Paint(c.offset, PaintedArea(c.x, c.y, image.width, image.height, *memory_.setup))) return;

  if (!Drawing()) return;
  if (memory_.decodedId != image.id) {
    // Another image was decoded since: decode this one again (it was sound then).
    const std::string problem = DecodePng(image.png.data(), image.png.size(), PngLimits{}, memory_.decoded);
    if (!problem.empty()) {
      memory_.decodedId = 0;
      return Fail(c.offset, problem);
    }
    memory_.decodedId = image.id;
  }
  memory_.pages.Draw(memory_.decoded, c.x, c.y);
  areas_.push_back(SentArea{c.x, c.y, image.width, image.height, image.png.size(), image.downloadOffset, c.offset});
}

bool JobReplay::Paint(size_t offset, uint64_t pixels) {
  if (pixels > memory_.limits.paintedPixels - std::min(painted_, memory_.limits.paintedPixels)) {
    Fail(offset, "the job paints more than " + std::to_string(memory_.limits.paintedPixels) + " pixels");
    return false;
  }
  painted_ += pixels;
  return true;
}

void StreamFeed::Feed(std::string_view more) {
  bytes_.append(more);
  // A command that stops short may be waiting for a large download or be
  // damaged; parse it again only once the waiting part has grown by half, so
  // that a long stream in small pieces is not parsed over and over.
  const size_t waiting = lastTry_ - std::min(lastTry_, replayed_);
  if (bytes_.size() - lastTry_ >= waiting / 2) Advance(false);
}

void StreamFeed::Advance(bool ended) {
  if (replay_.Done() && !ended) return;
  lastTry_ = bytes_.size();
  const ParsedStream parsed = ParseStream(bytes_, replayed_);
  for (const Command& command : parsed.commands) {
    // A command that ends in a number or a media code may still grow: it is
    // complete only once a byte follows it or the stream has ended.
    if (!ended && EndsOpen(command.kind) && command.offset + command.length >= bytes_.size()) return;
    ++commands_;
    replayed_ = command.offset + command.length;
    replay_.Apply(command, bytes_);
  }
  if (ended) parseError_ = parsed.error;
}

CheckResult StreamFeed::Finish() {
  Advance(true);
  return replay_.Finish(parseError_, bytes_.size(), commands_);
}

CheckResult CheckStream(std::string_view bytes, const ParsedStream& parsed, const LabelSink* sink) {
  PrinterMemory memory;
  JobReplay replay(memory, sink);
  for (const Command& command : parsed.commands) {
    if (replay.Done()) break;
    replay.Apply(command, bytes);
  }
  return replay.Finish(parsed.error, bytes.size(), parsed.commands.size());
}

CheckResult CheckStream(std::string_view bytes, const LabelSink* sink) {
  const ParsedStream parsed = ParseStream(bytes);
  return CheckStream(bytes, parsed, sink);
}

}  // namespace streamcheck
