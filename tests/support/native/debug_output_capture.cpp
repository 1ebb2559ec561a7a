#include "support/native/debug_output_capture.h"

#include <mutex>

namespace {
std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}
std::u16string& Captured() {
  static std::u16string text;
  return text;
}
}  // namespace

void WriteDebugOutput(std::u16string_view text) noexcept {
  std::lock_guard guard(Lock());
  Captured().append(text);
}

std::u16string TakeDebugOutput() {
  std::lock_guard guard(Lock());
  std::u16string text;
  text.swap(Captured());
  return text;
}
