#include "stream_parser.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

namespace streamcheck {

namespace {

struct Token {
  std::string_view text;
  CommandKind kind;
};

// Every command that may begin a command. ^FS and ^IMR: only occur inside a
// comment or a recall and are matched there.
constexpr std::array kTokens{
    Token{"^XA", CommandKind::FormatStart},       Token{"^XZ", CommandKind::FormatEnd},
    Token{"^FX", CommandKind::Comment},           Token{"^S(CLM,T,", CommandKind::MediaType},
    Token{"^S(CLS,P,", CommandKind::LabelWidth},  Token{"^S(CLS,L,", CommandKind::LabelLength},
    Token{"^ST", CommandKind::PrinterClock},      Token{"^S(CX0,L,", CommandKind::CutMode},
    Token{"^S(CX0,C,", CommandKind::PagesPerCut}, Token{"^S(CX0,Q,", CommandKind::PrintMode},
    Token{"^S(CMP,D,", CommandKind::Direction},   Token{"^C(D", CommandKind::SetupEnd},
    Token{"^C(L", CommandKind::PageCarryIn},      Token{"^C(S", CommandKind::PageCarryOut},
    Token{"~DYR:", CommandKind::ImageDownload},   Token{"^FO", CommandKind::ImageRecall},
};

constexpr std::string_view kFieldEnd = "^FS";
constexpr std::string_view kRecallName = "^IMR:";
constexpr std::string_view kImageExtension = ".PNG";
constexpr std::string_view kDownloadFormat = ",B,P,";
constexpr std::string_view kDownloadTail = ",0,";
constexpr std::string_view kClockEnd = ",M";
constexpr size_t kMinYearDigits = 4;
constexpr size_t kShownBytes = 12;

// Where a message shows the bytes that follow a fault.
std::string Shown(std::string_view bytes) { return ShownText(bytes, kShownBytes); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Image names: printable ASCII without the characters that end a name.
bool IsNameByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte < 0x7F && c != ',' && c != '^' && c != '~' && c != '.';
}

class Parser {
 public:
  Parser(std::string_view bytes, size_t from) : bytes_(bytes), pos_(from) {}

  ParsedStream Run() {
    while (pos_ < bytes_.size() && !result_.error) {
      ParseCommand();
    }
    return std::move(result_);
  }

 private:
  std::string_view Rest() const { return bytes_.substr(pos_); }

  void Fail(size_t offset, std::string message) { result_.error = StreamError{offset, std::move(message)}; }

  bool Expect(std::string_view literal, const char* what) {
    if (Rest().substr(0, literal.size()) == literal) {
      pos_ += literal.size();
      return true;
    }
    if (literal.substr(0, Rest().size()) == Rest()) {
      Fail(pos_, std::string("stream ends inside ") + what);
    } else {
      Fail(pos_,
           std::string("expected \"") + std::string(literal) + "\" in " + what + ", found \"" + Shown(Rest()) + "\"");
    }
    return false;
  }

  // Decimal as the plug-in writes it: optional "-" when signed, no padding.
  bool Number(int64_t low, int64_t high, const char* what, int64_t& value, bool yearPadding = false) {
    const size_t start = pos_;
    bool negative = false;
    if (low < 0 && pos_ < bytes_.size() && bytes_[pos_] == '-') {
      negative = true;
      ++pos_;
    }
    const size_t digitsStart = pos_;
    uint64_t magnitude = 0;
    bool tooLarge = false;
    while (pos_ < bytes_.size() && IsDigit(bytes_[pos_])) {
      const auto digit = static_cast<uint64_t>(bytes_[pos_] - '0');
      if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) tooLarge = true;
      if (!tooLarge) magnitude = magnitude * 10 + digit;
      ++pos_;
    }
    const size_t digits = pos_ - digitsStart;
    if (digits == 0) {
      if (pos_ == bytes_.size()) {
        Fail(start, std::string("stream ends before the ") + what);
        return false;
      }
      Fail(start, std::string("expected a number for the ") + what + ", found \"" + Shown(Rest()) + "\"");
      return false;
    }
    const bool padded =
        yearPadding ? digits > kMinYearDigits && bytes_[digitsStart] == '0' : digits > 1 && bytes_[digitsStart] == '0';
    if (padded || (negative && magnitude == 0)) {
      Fail(start, std::string("the ") + what + " \"" + Shown(bytes_.substr(start, pos_ - start)) +
                      "\" is not written as plain decimal");
      return false;
    }
    const uint64_t limit = negative ? static_cast<uint64_t>(-(low + 1)) + 1 : static_cast<uint64_t>(high);
    if (tooLarge || magnitude > limit) {
      Fail(start,
           std::string("the ") + what + " " + ShownText(bytes_.substr(start, pos_ - start)) + " is out of range");
      return false;
    }
    if (pos_ == bytes_.size()) {
      // More digits may have followed in bytes that never came: no value to judge.
      Fail(start, std::string("stream ends inside the ") + what);
      return false;
    }
    if (yearPadding && digits < kMinYearDigits) {
      Fail(start, std::string("the ") + what + " has fewer than four digits");
      return false;
    }
    value = negative ? -static_cast<int64_t>(magnitude - 1) - 1 : static_cast<int64_t>(magnitude);
    return true;
  }

  bool Name(const char* what, std::string& name) {
    const size_t start = pos_;
    while (pos_ < bytes_.size() && IsNameByte(bytes_[pos_])) ++pos_;
    if (pos_ == start) {
      Fail(start,
           pos_ == bytes_.size() ? std::string("stream ends before the ") + what : std::string("missing ") + what);
      return false;
    }
    name.assign(bytes_.substr(start, pos_ - start));
    return true;
  }

  bool Letter(std::string_view allowed, const char* what, char& letter) {
    if (pos_ >= bytes_.size()) {
      Fail(pos_, std::string("stream ends before the ") + what);
      return false;
    }
    const char c = bytes_[pos_];
    if (allowed.find(c) == std::string_view::npos) {
      Fail(pos_, std::string("the ") + what + " \"" + Shown(bytes_.substr(pos_, 1)) + "\" is not one of \"" +
                     std::string(allowed) + "\"");
      return false;
    }
    letter = c;
    ++pos_;
    return true;
  }

  bool MediaCode(std::string& code) {
    static constexpr std::array<std::string_view, 6> kMediaCodes{"P1", "M1", "M2", "S1", "S2", "G1"};
    const size_t start = pos_;
    while (pos_ < bytes_.size() && bytes_[pos_] != '^' && bytes_[pos_] != '~') ++pos_;
    if (pos_ == bytes_.size()) {
      Fail(start, "stream ends inside the media code");
      return false;
    }
    code.assign(bytes_.substr(start, pos_ - start));
    for (auto known : kMediaCodes) {
      if (code == known) return true;
    }
    Fail(start, "unknown media code \"" + Shown(code) + "\"");
    return false;
  }

  bool Clock(ClockValue& clock) {
    int64_t month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    constexpr int64_t kLargestYear = 99999;
    if (!Number(1, 12, "clock month", month) || !Expect(",", "the clock") || !Number(1, 31, "clock day", day) ||
        !Expect(",", "the clock") || !Number(0, kLargestYear, "clock year", year, true) || !Expect(",", "the clock") ||
        !Number(0, 23, "clock hour", hour) || !Expect(",", "the clock") || !Number(0, 59, "clock minute", minute) ||
        !Expect(",", "the clock") || !Number(0, 59, "clock second", second) || !Expect(kClockEnd, "the clock")) {
      return false;
    }
    clock = {static_cast<int32_t>(month), static_cast<int32_t>(day),    static_cast<int32_t>(year),
             static_cast<int32_t>(hour),  static_cast<int32_t>(minute), static_cast<int32_t>(second)};
    return true;
  }

  bool Comment(std::string& text) {
    const size_t start = pos_;
    const size_t caret = bytes_.find('^', pos_);
    if (caret == std::string_view::npos) {
      Fail(start, "stream ends inside a comment (no ^FS)");
      return false;
    }
    text.assign(bytes_.substr(start, caret - start));
    pos_ = caret;
    return Expect(kFieldEnd, "the comment");
  }

  bool Download(Command& command) {
    int64_t count = 0;
    if (!Name("image name", command.text) || !Expect(kDownloadFormat, "the download header") ||
        !Number(0, std::numeric_limits<int64_t>::max(), "byte count", count) ||
        !Expect(kDownloadTail, "the download header")) {
      return false;
    }
    const size_t available = bytes_.size() - pos_;
    if (static_cast<uint64_t>(count) > available) {
      Fail(command.offset, "the download announces " + std::to_string(count) + " bytes but only " +
                               std::to_string(available) + " follow");
      return false;
    }
    command.dataOffset = pos_;
    command.dataSize = static_cast<size_t>(count);
    pos_ += command.dataSize;
    return true;
  }

  bool Recall(Command& command) {
    constexpr int64_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    return Number(kMin, kMax, "x position", command.x) && Expect(",", "the field origin") &&
           Number(kMin, kMax, "y position", command.y) && Expect(kRecallName, "the image recall") &&
           Name("image name", command.text) && Expect(kImageExtension, "the image recall") &&
           Expect(kFieldEnd, "the image recall");
  }

  bool Operands(Command& command) {
    constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMaxU32 = std::numeric_limits<uint32_t>::max();
    switch (command.kind) {
      case CommandKind::Comment: return Comment(command.text);
      case CommandKind::MediaType: return MediaCode(command.text);
      case CommandKind::LabelWidth: return Number(kMin32, kMax32, "label width", command.value);
      case CommandKind::LabelLength: return Number(kMin32, kMax32, "label length", command.value);
      case CommandKind::PrinterClock: return Clock(command.clock);
      case CommandKind::CutMode: return Letter("ED", "cut mode", command.letter);
      case CommandKind::PagesPerCut: return Number(0, kMaxU32, "pages per cut", command.value);
      case CommandKind::PrintMode: return Number(kMin32, kMax32, "print mode", command.value);
      case CommandKind::Direction: return Letter("BU", "print direction", command.letter);
      case CommandKind::ImageDownload: return Download(command);
      case CommandKind::ImageRecall: return Recall(command);
      default: return true;
    }
  }

  void ParseCommand() {
    const size_t start = pos_;
    const char first = bytes_[pos_];
    if (first != '^' && first != '~') {
      Fail(start, "unexpected bytes \"" + Shown(Rest()) + "\" where a command should begin");
      return;
    }
    const Token* matched = nullptr;
    bool partial = false;
    for (const Token& token : kTokens) {
      if (Rest().substr(0, token.text.size()) == token.text) {
        matched = &token;
        break;
      }
      if (token.text.substr(0, Rest().size()) == Rest()) partial = true;
    }
    if (matched == nullptr) {
      Fail(start, partial ? "stream ends inside a command" : "unknown command \"" + Shown(Rest()) + "\"");
      return;
    }
    Command command;
    command.kind = matched->kind;
    command.offset = start;
    pos_ += matched->text.size();
    if (!Operands(command)) return;
    command.length = pos_ - start;
    result_.commands.push_back(std::move(command));
  }

  std::string_view bytes_;
  size_t pos_ = 0;
  ParsedStream result_;
};

}  // namespace

std::string ShownText(std::string_view text, size_t most) {
  std::string shown;
  for (char c : text.substr(0, most)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown.push_back(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown.append(escaped);
    }
  }
  if (text.size() > most) shown.append("...");
  return shown;
}

ParsedStream ParseStream(std::string_view bytes) { return Parser(bytes, 0).Run(); }

ParsedStream ParseStream(std::string_view bytes, size_t from) {
  return Parser(bytes, std::min(from, bytes.size())).Run();
}

std::string_view CommandToken(CommandKind kind) {
  for (const Token& token : kTokens) {
    if (token.kind == kind) return token.text;
  }
  return "?";
}

std::string DescribeCommand(const Command& c) {
  auto n = [](int64_t v) { return std::to_string(v); };
  std::string text(CommandToken(c.kind));
  switch (c.kind) {
    case CommandKind::FormatStart:
    case CommandKind::FormatEnd:
    case CommandKind::SetupEnd:
    case CommandKind::PageCarryIn:
    case CommandKind::PageCarryOut: break;
    case CommandKind::Comment: text.append(Shown(c.text)).append(kFieldEnd); break;
    case CommandKind::MediaType: text += c.text; break;
    case CommandKind::LabelWidth:
    case CommandKind::LabelLength:
    case CommandKind::PagesPerCut:
    case CommandKind::PrintMode: text += n(c.value); break;
    case CommandKind::PrinterClock: {
      char operands[64];
      std::snprintf(operands, sizeof operands, "%d,%d,%04d,%d,%d,%d", c.clock.month, c.clock.day, c.clock.year,
                    c.clock.hour, c.clock.minute, c.clock.second);
      text.append(operands).append(kClockEnd);
      break;
    }
    case CommandKind::CutMode:
    case CommandKind::Direction: text += c.letter; break;
    case CommandKind::ImageDownload:
      text.append(ShownText(c.text)).append(kDownloadFormat).append(std::to_string(c.dataSize)).append(kDownloadTail);
      text.append(" + " + std::to_string(c.dataSize) + " bytes");
      break;
    case CommandKind::ImageRecall:
      text.append(n(c.x) + "," + n(c.y))
          .append(kRecallName)
          .append(ShownText(c.text))
          .append(kImageExtension)
          .append(kFieldEnd);
      break;
  }
  return text;
}

}  // namespace streamcheck
