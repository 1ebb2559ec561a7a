// Splits a printer stream into its commands, each with the byte offset where
// it starts. Knows the syntax of every command the plug-in emits and nothing
// else: an unknown command, a malformed value or a download whose data runs
// past the end stops the parse with the offset and a message.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace streamcheck {

enum class CommandKind {
  FormatStart,    // ^XA
  FormatEnd,      // ^XZ
  Comment,        // ^FX text ^FS
  MediaType,      // ^S(CLM,T,code
  LabelWidth,     // ^S(CLS,P,n
  LabelLength,    // ^S(CLS,L,n
  PrinterClock,   // ^STmonth,day,year,hour,minute,second,M
  CutMode,        // ^S(CX0,L,E|D
  PagesPerCut,    // ^S(CX0,C,n
  PrintMode,      // ^S(CX0,Q,n
  Direction,      // ^S(CMP,D,B|U
  SetupEnd,       // ^C(D
  PageCarryIn,    // ^C(L
  PageCarryOut,   // ^C(S
  ImageDownload,  // ~DYR:name,B,P,count,0,<count bytes>
  ImageRecall,    // ^FOx,y^IMR:name.PNG^FS
};

struct ClockValue {
  int32_t month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
};

struct Command {
  CommandKind kind = CommandKind::FormatStart;
  size_t offset = 0;  // first byte of the command
  size_t length = 0;  // all its bytes, download data included
  std::string text;   // comment text, media code or image name
  int64_t value = 0;  // width, length, pages per cut or print mode
  int64_t x = 0, y = 0;
  char letter = 0;  // cut mode or direction
  ClockValue clock;
  size_t dataOffset = 0, dataSize = 0;  // a download's PNG bytes
};

struct StreamError {
  size_t offset = 0;
  std::string message;
};

struct ParsedStream {
  std::vector<Command> commands;  // everything before the error, if any
  std::optional<StreamError> error;
};

ParsedStream ParseStream(std::string_view bytes);

// Parses `bytes` from `from` on, which must be where a command begins (0, or
// the end of a command parsed before); offsets stay those of `bytes`. Lets a
// stream that arrives piece by piece be parsed as far as it has come.
ParsedStream ParseStream(std::string_view bytes, size_t from);

// The token that begins a command of this kind ("^XA", "~DYR:", ...): the
// same table the parser matches the stream against.
std::string_view CommandToken(CommandKind kind);

// Stream text as a message quotes it: printable bytes as they are, others as
// \xNN, and no more than `most` bytes, with "..." where it was cut, so that a
// fault stays short whatever the stream holds.
inline constexpr size_t kQuotedBytes = 40;
std::string ShownText(std::string_view text, size_t most = kQuotedBytes);

// The command as it stands in the stream (a download without its data; names
// cut as a message quotes them).
std::string DescribeCommand(const Command& command);

}  // namespace streamcheck
