// libFuzzer entry: any bytes through the parser, the checker and the label
// drawing. Whatever the input, the replay must end with a result, an error
// offset inside the input and labels of the size the set-up label gave.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "stream_checker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  size_t labels = 0;
  const streamcheck::LabelSink sink = [&](const streamcheck::PrintedLabel& label) {
    const auto& picture = label.picture;
    if (picture.rgb.size() != picture.RowBytes() * static_cast<size_t>(picture.height)) std::abort();
    ++labels;
    return true;
  };
  const streamcheck::CheckResult result = streamcheck::CheckStream(bytes, &sink);
  if (result.error && result.error->offset > size) std::abort();
  if (result.stats.labels != labels) std::abort();
  return 0;
}
