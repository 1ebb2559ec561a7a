// libFuzzer entry: any bytes through the parser, the checker and the label
// drawing. Whatever the input, the replay must end with a result, an error
// offset inside the input and labels of the size the set-up label gave; and
// the same bytes fed in pieces, as the virtual printer receives them, must
// give the same labels and the same verdict.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string_view>
#include <vector>

#include "stream_checker.h"

namespace {

struct Verdict {
  std::vector<size_t> pictures;  // a hash of each label
  bool failed = false;
  size_t offset = 0;
  std::string message;
};

streamcheck::LabelSink Collect(Verdict& verdict) {
  return [&verdict](const streamcheck::PrintedLabel& label) {
    const auto& picture = label.picture;
    if (picture.rgb.size() != picture.RowBytes() * static_cast<size_t>(picture.height)) std::abort();
    verdict.pictures.push_back(std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(picture.rgb.data()), picture.rgb.size())));
    return true;
  };
}

void Note(Verdict& verdict, const streamcheck::CheckResult& result) {
  verdict.failed = result.error.has_value();
  if (result.error) {
    verdict.offset = result.error->offset;
    verdict.message = result.error->message;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  Verdict whole;
  const streamcheck::LabelSink sink = Collect(whole);
  const streamcheck::CheckResult result = streamcheck::CheckStream(bytes, &sink);
  if (result.error && result.error->offset > size) std::abort();
  if (result.stats.labels != whole.pictures.size()) std::abort();
  Note(whole, result);

  // In pieces: a cut chosen by the input's length, then pieces of 1..7 bytes.
  for (size_t step : {size_t{0}, size_t{1} + size % 7}) {
    Verdict fed;
    const streamcheck::LabelSink feedSink = Collect(fed);
    streamcheck::PrinterMemory memory;
    streamcheck::StreamFeed feed(memory, &feedSink);
    if (step == 0) {
      feed.Feed(bytes.substr(0, size * 2 / 5));
      feed.Feed(bytes.substr(size * 2 / 5));
    } else {
      for (size_t at = 0; at < size; at += step) feed.Feed(bytes.substr(at, step));
    }
    Note(fed, feed.Finish());
    if (fed.pictures != whole.pictures || fed.failed != whole.failed || fed.offset != whole.offset ||
        fed.message != whole.message) {
      std::abort();
    }
  }
  return 0;
}
