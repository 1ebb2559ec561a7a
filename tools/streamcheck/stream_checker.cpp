#include "stream_checker.h"

#include <array>
#include <map>

#include "page_images.h"
#include "png_codec.h"

namespace streamcheck {

namespace {

// The set-up label's commands, in the order the plug-in writes them.
constexpr std::array kSetupOrder{
    CommandKind::MediaType, CommandKind::LabelWidth,  CommandKind::LabelLength,
    CommandKind::PrinterClock, CommandKind::CutMode,  CommandKind::PagesPerCut,
    CommandKind::PrintMode, CommandKind::Direction,   CommandKind::SetupEnd,
};

const char* TokenName(CommandKind kind) {
  switch (kind) {
    case CommandKind::FormatStart: return "^XA";
    case CommandKind::FormatEnd: return "^XZ";
    case CommandKind::Comment: return "^FX";
    case CommandKind::MediaType: return "^S(CLM,T,";
    case CommandKind::LabelWidth: return "^S(CLS,P,";
    case CommandKind::LabelLength: return "^S(CLS,L,";
    case CommandKind::PrinterClock: return "^ST";
    case CommandKind::CutMode: return "^S(CX0,L,";
    case CommandKind::PagesPerCut: return "^S(CX0,C,";
    case CommandKind::PrintMode: return "^S(CX0,Q,";
    case CommandKind::Direction: return "^S(CMP,D,";
    case CommandKind::SetupEnd: return "^C(D";
    case CommandKind::PageCarryIn: return "^C(L";
    case CommandKind::PageCarryOut: return "^C(S";
    case CommandKind::ImageDownload: return "~DYR:";
    case CommandKind::ImageRecall: return "^FO";
  }
  return "?";
}

bool IsSetupCommand(CommandKind kind) {
  for (CommandKind k : kSetupOrder) {
    if (k == kind) return true;
  }
  return false;
}

enum class FormatKind { Empty, Marker, Setup, Page, Image };

struct Download {
  size_t command = 0;
  int32_t width = 0;
  int32_t height = 0;
};

struct LastBand {
  size_t format = 0;
  int64_t x = 0, y = 0;
  int32_t width = 0, height = 0;
};

class Replay {
 public:
  Replay(std::string_view bytes, const std::vector<Command>& commands, const LabelSink* sink)
      : bytes_(bytes), commands_(commands), sink_(sink) {}

  CheckResult Run(const std::optional<StreamError>& parseError) {
    result_.stats.bytes = bytes_.size();
    result_.stats.commands = commands_.size();
    for (size_t i = 0; i < commands_.size() && !Done(); ++i) {
      Apply(i, commands_[i]);
    }
    if (!Done()) {
      if (parseError) {
        result_.error = parseError;
      } else if (inFormat_) {
        Fail(formatOffset_, "label format opened here is never closed (no ^XZ)");
      }
    }
    return std::move(result_);
  }

 private:
  bool Done() const { return result_.error.has_value() || result_.stoppedBySink; }
  void Fail(size_t offset, std::string message) { result_.error = StreamError{offset, std::move(message)}; }
  bool Drawing() const { return sink_ != nullptr; }

  void Apply(size_t index, const Command& c) {
    if (!inFormat_) {
      if (c.kind != CommandKind::FormatStart) return Fail(c.offset, std::string(TokenName(c.kind)) + " outside a label format");
      inFormat_ = true;
      formatOffset_ = c.offset;
      format_ = FormatKind::Empty;
      setupStep_ = 0;
      carriedOut_ = false;
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
        if (Drawing()) pages_.StartFromKept(setup_.width, setup_.length);
        return;
      case CommandKind::PageCarryOut:
        if (format_ != FormatKind::Page) return Fail(c.offset, "^C(S outside a page format (no ^C(L)");
        carriedOut_ = true;
        if (Drawing()) pages_.Keep();
        return;
      case CommandKind::ImageDownload: return ApplyDownload(index, c);
      case CommandKind::ImageRecall: return ApplyRecall(c);
      default: return;
    }
  }

  // A format that prints needs a label size; the set-up label gives it.
  bool StartPrinting(const Command& c, FormatKind kind) {
    if (result_.stats.setups.empty()) {
      Fail(c.offset, "a label is printed before any set-up label");
      return false;
    }
    format_ = kind;
    return true;
  }

  bool EnterImageFormat(const Command& c) {
    if (format_ == FormatKind::Empty) {
      if (!StartPrinting(c, FormatKind::Image)) return false;
      if (Drawing()) pages_.StartBlank(setup_.width, setup_.length);
    }
    if (format_ != FormatKind::Page && format_ != FormatKind::Image) {
      Fail(c.offset, std::string(TokenName(c.kind)) + " in a label that holds no images");
      return false;
    }
    return true;
  }

  void ApplySetup(const Command& c) {
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
        setup_ = pending_;
        result_.stats.setups.push_back(setup_);
        carriedOut_ = true;  // like ^C(S, ^C(D stands directly before ^XZ
        break;
      default: break;
    }
  }

  void CloseFormat(const Command& c) {
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
    ++result_.stats.labels;
    if (Drawing()) {
      const PrintedLabel label{result_.stats.labels, formatOffset_, pages_.Current()};
      if (!(*sink_)(label)) result_.stoppedBySink = true;
    }
  }

  void ApplyDownload(size_t index, const Command& c) {
    if (!EnterImageFormat(c)) return;
    PngHeader header;
    const std::string problem = DecodePng(reinterpret_cast<const uint8_t*>(bytes_.data()) + c.dataOffset,
                                          c.dataSize, PngLimits{}, decoded_, &header);
    if (!problem.empty()) {
      decodedCommand_.reset();
      return Fail(c.offset, "image \"" + c.text + "\": " + problem);
    }
    decodedCommand_ = index;
    downloads_[c.text] = Download{index, decoded_.width, decoded_.height};
    ++result_.stats.downloads;
    result_.stats.pngBytes += c.dataSize;
  }

  void ApplyRecall(const Command& c) {
    if (!EnterImageFormat(c)) return;
    const auto found = downloads_.find(c.text);
    if (found == downloads_.end()) {
      return Fail(c.offset, "recall of image \"" + c.text + "\", which no earlier download stored");
    }
    const Download& image = found->second;
    ++result_.stats.recalls;
    const bool continues = band_ && band_->format == result_.stats.formats && band_->x == c.x &&
                           band_->y + band_->height == c.y && band_->width == image.width;
    if (!continues) ++result_.stats.images;
    band_ = LastBand{result_.stats.formats, c.x, c.y, image.width, image.height};

    if (!Drawing()) return;
    if (decodedCommand_ != image.command) {
      // Another name was downloaded since: decode this one again (it was sound then).
      const Command& stored = commands_[image.command];
      const std::string problem = DecodePng(reinterpret_cast<const uint8_t*>(bytes_.data()) + stored.dataOffset,
                                            stored.dataSize, PngLimits{}, decoded_);
      if (!problem.empty()) return Fail(c.offset, problem);
      decodedCommand_ = image.command;
    }
    pages_.Draw(decoded_, c.x, c.y);
  }

  std::string_view bytes_;
  const std::vector<Command>& commands_;
  const LabelSink* sink_;
  CheckResult result_;

  bool inFormat_ = false;
  size_t formatOffset_ = 0;
  FormatKind format_ = FormatKind::Empty;
  size_t setupStep_ = 0;
  bool carriedOut_ = false;  // ^C(S or ^C(D seen: only ^XZ may follow
  LabelSetup pending_;
  LabelSetup setup_;

  std::map<std::string, Download> downloads_;
  RgbImage decoded_;
  std::optional<size_t> decodedCommand_;
  std::optional<LastBand> band_;
  PageImages pages_;
};

}  // namespace

CheckResult CheckStream(std::string_view bytes, const ParsedStream& parsed, const LabelSink* sink) {
  return Replay(bytes, parsed.commands, sink).Run(parsed.error);
}

CheckResult CheckStream(std::string_view bytes, const LabelSink* sink) {
  const ParsedStream parsed = ParseStream(bytes);
  return CheckStream(bytes, parsed, sink);
}

}  // namespace streamcheck
