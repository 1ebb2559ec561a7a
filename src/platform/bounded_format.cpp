#include "platform/bounded_format.h"

#include <string>

namespace {

template <typename Char>
class Writer {
 public:
  Writer(Char* out, size_t capacity) : out_(out), limit_(capacity - 1) {}
  void Put(Char c) {
    if (length_ < limit_) {
      out_[length_++] = c;
    } else {
      truncated_ = true;
    }
  }
  void Finish() { out_[length_] = Char(0); }
  bool Truncated() const { return truncated_; }

 private:
  Char* out_;
  size_t limit_;
  size_t length_ = 0;
  bool truncated_ = false;
};

template <typename Char>
void PutNumber(Writer<Char>& writer, int64_t value, int width, bool zeroPad) {
  char digits[24];
  int count = 0;
  // Magnitude in unsigned arithmetic: the most negative value has no positive twin.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const int signWidth = value < 0 ? 1 : 0;
  int pad = width - count - signWidth;
  if (!zeroPad) {
    for (; pad > 0; --pad) writer.Put(Char(' '));
  }
  if (value < 0) writer.Put(Char('-'));
  for (; pad > 0; --pad) writer.Put(Char('0'));
  while (count > 0) writer.Put(Char(digits[--count]));
}

template <typename Char>
FormatStatus Format(Char* out, size_t capacity, std::basic_string_view<Char> format,
                    std::initializer_list<FormatArg<Char>> args) {
  if (out == nullptr || capacity == 0 || capacity > kFormatMaxChars) return kFormatInvalid;
  Writer<Char> writer(out, capacity);
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    const Char c = format[i];
    if (c != Char('%')) {
      writer.Put(c);
      continue;
    }
    if (++i >= format.size()) break;
    if (format[i] == Char('%')) {
      writer.Put(Char('%'));
      continue;
    }
    bool zeroPad = false;
    int width = 0;
    if (format[i] == Char('0')) {
      zeroPad = true;
      ++i;
    }
    while (i < format.size() && format[i] >= Char('0') && format[i] <= Char('9')) {
      width = width * 10 + static_cast<int>(format[i] - Char('0'));
      ++i;
    }
    if (i >= format.size() || next == args.end()) break;
    const FormatArg<Char>& arg = *next++;
    if (format[i] == Char('d') && arg.kind == FormatArg<Char>::Kind::Number) {
      PutNumber(writer, arg.number, width, zeroPad);
    } else if (format[i] == Char('s') && arg.kind == FormatArg<Char>::Kind::Text) {
      for (Char t : arg.text) writer.Put(t);
    } else {
      writer.Finish();
      return kFormatInvalid;
    }
  }
  writer.Finish();
  return writer.Truncated() ? kFormatTruncated : kFormatOk;
}

}  // namespace

FormatStatus BoundedFormat(char* out, size_t capacity, std::string_view format,
                           std::initializer_list<FormatArg<char>> args) {
  return Format<char>(out, capacity, format, args);
}

FormatStatus BoundedFormat(char16_t* out, size_t capacity, std::u16string_view format,
                           std::initializer_list<FormatArg<char16_t>> args) {
  return Format<char16_t>(out, capacity, format, args);
}
