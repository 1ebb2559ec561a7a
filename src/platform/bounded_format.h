// The bounded formatter every formatted text goes through, with the rules of
// the platform's safe formatter (StringCbPrintf family): the result is always
// terminated inside the capacity; a text that does not fit is cut and reported
// as kFormatTruncated; a capacity of 0 or beyond the limit is kFormatInvalid.
// It knows the conversions the plug-in uses: %d with an optional zero-padded
// width (%04d), %s (a text of the same character type) and %%.
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

using FormatStatus = uint32_t;
inline constexpr FormatStatus kFormatOk = 0;
inline constexpr FormatStatus kFormatTruncated = 0x8007007A;
inline constexpr FormatStatus kFormatInvalid = 0x80070057;
inline constexpr size_t kFormatMaxChars = 2147483647;

template <typename Char>
struct FormatArg {
  enum class Kind { Number, Text } kind;
  int64_t number = 0;
  std::basic_string_view<Char> text;

  FormatArg(int64_t value) : kind(Kind::Number), number(value) {}                   // NOLINT
  FormatArg(int value) : kind(Kind::Number), number(value) {}                       // NOLINT
  FormatArg(unsigned value) : kind(Kind::Number), number(value) {}                  // NOLINT
  FormatArg(std::basic_string_view<Char> value) : kind(Kind::Text), text(value) {}  // NOLINT
  FormatArg(const Char* value) : kind(Kind::Text), text(value) {}                   // NOLINT
};

// Formats into out[0 .. capacity-1]; capacity counts characters including the terminator.
FormatStatus BoundedFormat(char* out, size_t capacity, std::string_view format,
                           std::initializer_list<FormatArg<char>> args);
FormatStatus BoundedFormat(char16_t* out, size_t capacity, std::u16string_view format,
                           std::initializer_list<FormatArg<char16_t>> args);
