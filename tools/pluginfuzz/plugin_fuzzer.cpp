// libFuzzer entry for the whole plug-in core: the input is decoded into a
// sequence of host calls, with their arguments, on one call protocol over
// in-memory stand-ins (printer, clock, text renderer, log, host bitmaps).
// After every call: the result agrees with the log and the call state. Every
// job that ended cleanly wrote a stream the stream checker accepts, whose
// labels, drawn by the checker, equal a naive painter's pages of what the
// host placed (support/native/page_model.h), wherever that painter can
// follow the job within its budget.
// Memory is bounded by the fuzzer's -malloc_limit_mb: an engine that tried
// to allocate because of a host count would be reported there.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "frame/plugin_protocol.h"
#include "platform/debug_output.h"
#include "stream_checker.h"
#include "support/native/page_model.h"
#include "support/native/protocol_harness.h"

// Traces are not looked at here; keeping them would only grow memory.
void WriteDebugOutput(std::u16string_view) noexcept {}

namespace {

// The most host calls decoded from one input, and the largest fake bitmap.
constexpr int kMaxCalls = 48;
constexpr size_t kMaxBitmapBytes = size_t{4} << 20;
// Printed bytes kept for the stream check of the job in progress.
constexpr size_t kMaxKeptOutput = size_t{64} << 20;
// The largest clean job kept to stand before the next one's stream, and the
// most the two may hold together: the checker's parse of a job of many copies
// takes far more memory than its bytes.
constexpr size_t kMaxPreviousJob = size_t{4} << 20;

constexpr int32_t kInteresting[] = {0,           1,
                                    -1,          2,
                                    7,           113,
                                    212,         360,
                                    425,         832,
                                    1200,        1587,
                                    1588,        2976,
                                    14400,       14401,
                                    65535,       65536,
                                    1071360,     INT_MAX,
                                    INT_MAX - 1, INT_MIN,
                                    INT_MIN + 1, -425,
                                    kMaxCopies,  kMaxCopies + 1,
                                    254,         32768};

// Values are read in statements or braced lists of their own, never as two
// arguments of one call: compilers order arguments differently, and the
// corpus replay (built by gcc) must read an input as the fuzzer (clang) did.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return v;
  }
  // Mostly small values, often a boundary, sometimes any 32-bit value.
  int32_t Int() {
    const uint8_t kind = Byte();
    if (kind < 96) return static_cast<int32_t>(Byte()) * 8 - 64;
    if (kind < 192) return kInteresting[Byte() % std::size(kInteresting)];
    return static_cast<int32_t>(U32());
  }
  bool Chance(uint8_t in256) { return Byte() < in256; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

const char* Name(Input& in, std::string& storage) {
  static constexpr const char* kNames[] = {"BASE01", "START01", "END01", "LOT", "DIFF", ""};
  const uint8_t pick = in.Byte() % 8;
  if (pick < std::size(kNames)) return kNames[pick];
  if (pick == 6) return nullptr;
  storage.clear();
  for (uint8_t n = in.Byte() % 12; n > 0; --n) storage.push_back(static_cast<char>(in.Byte() | 1));
  return storage.c_str();
}

std::u16string Text(Input& in) {
  switch (in.Byte() % 7) {
    case 0: return u"";
    case 1: return u"\n\n";
    case 2: return u"12:00";
    case 3: return u"at ###HWGEN### now";
    case 4: return std::u16string(static_cast<size_t>(in.Byte()) * 40 + 1, u'8');  // up to 10,000 characters
    case 5: return std::u16string(static_cast<size_t>(in.Byte()) + 1, u'\n') + u"x";
    default: {
      std::u16string text;
      for (uint8_t n = in.Byte() % 24; n > 0; --n)
        text.push_back(static_cast<char16_t>(in.Byte() % 3 == 0 ? u'\n' : u'a' + in.Byte() % 26));
      return text;
    }
  }
}

// A host bitmap of any depth the host might hand over, with any claimed size,
// padded rows and, for claims too large to hold, fewer bytes than claimed.
MemoryHostBitmap Bitmap(Input& in) {
  static constexpr uint16_t kDepths[] = {1, 4, 8, 16, 24, 32, 0, 24};
  MemoryHostBitmap bitmap;
  bitmap.rows.bitCount = kDepths[in.Byte() % std::size(kDepths)];
  const bool small = in.Chance(200);
  bitmap.rows.width = small ? in.Byte() % 64 + 1 : in.Int();
  bitmap.rows.height = small ? in.Byte() % 64 + 1 : in.Int();
  if (in.Chance(8)) bitmap.readResult = result::kBadSourceBitmap;
  const int64_t rowBits = int64_t{std::max(bitmap.rows.width, 0)} * bitmap.rows.bitCount;
  const int64_t stride = (rowBits + 31) / 32 * 4 + int64_t{in.Byte() % 3} * 4;  // sometimes padded further
  const int64_t rows = std::max(bitmap.rows.height, 0);
  const auto most = static_cast<int64_t>(kMaxBitmapBytes);
  int64_t bytes = rows != 0 && stride > most / rows ? most : stride * rows;
  if (in.Chance(16)) bytes = std::max<int64_t>(0, bytes - in.Byte());  // a short delivery
  bitmap.rows.bytes.assign(static_cast<size_t>(bytes), in.Byte());
  for (size_t i = 0; i < bitmap.rows.bytes.size() && !in.Empty() && i < 64; ++i)
    bitmap.rows.bytes[i * 7 % bitmap.rows.bytes.size()] = in.Byte();
  return bitmap;
}

LayoutData Layout(Input& in) {
  static constexpr int32_t kRotations[] = {0, 90, 180, 270, 45, -90, 360, INT_MIN};
  LayoutData layout;
  layout.rotation = kRotations[in.Byte() % std::size(kRotations)];
  layout.horizontalPitch = in.Int();
  layout.verticalPitch = in.Int();
  layout.labelColumns = in.Int();
  layout.labelRows = in.Int();
  layout.unused2 = in.Int();
  layout.unused13 = in.Byte();
  return layout;
}

// A job's stream is checked when the job ended cleanly: never failed, back
// between pages, and everything it built written.
struct JobWatch {
  size_t streamStart = 0;
  size_t ownLabelsFrom = 0;  // labels before this offset are the header's error print-out
  bool failed = false;
  // A page with the largest count of copies: its stream of 16 MiB of empty
  // formats would take the checker longer than a run may last.
  bool tooLargeToCheck = false;
  // A call since the last write may have built bytes not yet written.
  bool unwritten = false;
};

// The host calls, each noted in the naive model when it did its work.
struct Driver {
  ProtocolHarness<>& h;
  page_model::PageModel& model;
  PluginProtocol& p = h.protocol;
  int32_t resolution = 0;  // the engine's, fixed by the first initialisation
  int32_t baseRefers = 0;  // base references that succeeded in this job

  // The model found the engine doing what it had nothing to do with.
  bool Noted(bool result) {
    if (!model.Disagreement().empty()) {
      std::fprintf(stderr, "the engine accepted what it could not do: %s\n", model.Disagreement().c_str());
      std::abort();
    }
    return result;
  }
  bool Failed(PluginState before) const { return before != PluginState::Failed && p.State() == PluginState::Failed; }

  void Initialize(bool nulls, JobWatch& job) {
    const bool first = p.Engine() == nullptr;
    p.lpxInitialize(nulls ? nullptr : &h.hostPrinter, h.records.job.data(), h.records.extra.data());
    if (p.State() != PluginState::Initialized) return;
    if (first) {
      int16_t fromRecord = 0;
      std::memcpy(&fromRecord, h.records.job.data() + kResolutionOffset, sizeof fromRecord);
      resolution = fromRecord;
      model.SetResolution(resolution);
    }
    model.StartJob({h.printer.ReadSetting(u"VOffset"), h.printer.ReadSetting(u"HOffset")});
    job = {h.printer.output.size(), 0, false};
    baseRefers = 0;
  }
  bool Header(const int32_t* header, JobWatch& job) {
    const size_t printed = h.printer.output.size();
    const bool result = p.lpxWritePrintJobHeader(header);
    // A refused header may print an error label at once, which drops the kept base.
    if (h.printer.output.size() != printed) {
      job.ownLabelsFrom = h.printer.output.size() - job.streamStart;
      if (!p.Engine()->HasBase()) model.ForgetBase();
    }
    if (result) model.Header(header[0], header[1]);
    return result;
  }
  void Layout(const LayoutData& layout) {
    if (p.State() == PluginState::Ready) model.Layout(layout);
    p.lpxSendLayoutData(layout);
  }
  bool Send(MemoryHostBitmap* bitmap, const char* name) {
    const bool result = p.lpxSendBitmap(bitmap, name);
    if (result) model.Bitmap(bitmap->rows, name);
    return result;
  }
  bool NewPage() {
    const bool result = p.lpxCreateNewPage();
    if (result) model.NewPage();
    return result;
  }
  bool Base(const DotPoint* at) {
    const PluginState before = p.State();
    const bool result = p.lpxReferToBaseBitmap(at);
    if (result) {
      model.Base(*at);
      ++baseRefers;
    }
    // A failed first reference may have laid out its base or not.
    if (Failed(before)) model.LoseTrack();
    return Noted(result);
  }
  bool Variable(const char* name, const DotPoint* at) {
    const bool result = p.lpxReferToVariableBitmap(name, at);
    if (result) model.Variable(*at);
    return Noted(result);
  }
  bool CloseStatic(int32_t copies) {
    const bool result = p.lpxCloseNewPageStatic(copies);
    if (result) model.CloseStatic(copies);
    return Noted(result);
  }
  bool CloseDynamic(int32_t used) {
    const bool result = p.lpxCloseNewPageDynamic(used);
    if (result) model.CloseDynamic(used);
    return Noted(result);
  }
  bool Final() {
    const bool result = p.lpxCloseNewPageFinal();
    if (result) model.Final();
    return result;
  }
  bool EmptyPage() {
    const bool result = p.lpxAddEmptyPage();
    if (result) model.EmptyPage();
    return result;
  }
  bool Label(bool end, const DotPoint* at) {
    const bool result = end ? p.lpxReferToEndLabel(at) : p.lpxReferToStartLabel(at);
    if (result) model.Label(*at);
    return Noted(result);
  }
  bool Clock(const char16_t* text, const DotPoint* at, int32_t height, const char16_t* face) {
    const bool result = p.lpxWriteClock(text, at, height, face);
    if (result) model.Clock(text, *at, height, face);
    return Noted(result);
  }
  void Clear() {
    if (!p.lpxClear()) std::abort();
    model.Clear();
  }
};

// Checks the job's stream and, where the model followed the job, compares
// every label with the model's pages: on a printer that holds nothing, and
// on one that holds what the last clean job left (its kept page and
// images), since a job must stand alone on either. `previous` then becomes
// this job's stream.
void CheckJobStream(const std::vector<uint8_t>& output, const JobWatch& job, const page_model::PageModel& model,
                    std::string& previous) {
  if (job.streamStart >= output.size() || job.tooLargeToCheck) return;
  const std::string_view stream(reinterpret_cast<const char*>(output.data()) + job.streamStart,
                                output.size() - job.streamStart);
  static const bool verbose = std::getenv("PLUGIN_FUZZ_VERBOSE") != nullptr;
  if (verbose) {
    std::fprintf(stderr, "job of %zu bytes: %s\n", stream.size(),
                 model.NotModelled().empty() ? "labels compared" : ("not modelled: " + model.NotModelled()).c_str());
  }
  if (!model.NotModelled().empty()) {
    const streamcheck::CheckResult checked = page_model::CheckInPieces(stream);
    if (checked.error) {
      std::fprintf(stderr, "stream fault at offset %zu: %s\n", checked.error->offset, checked.error->message.c_str());
      std::abort();
    }
  } else {
    std::string difference = page_model::CompareLabels(stream, model.JobLabels(), job.ownLabelsFrom);
    if (difference.empty() && !previous.empty() && previous.size() + stream.size() <= kMaxPreviousJob) {
      difference = page_model::CompareLabels(previous + std::string(stream), model.JobLabels(),
                                             previous.size() + job.ownLabelsFrom);
      if (!difference.empty()) difference += ", after the job before";
    }
    if (!difference.empty()) {
      std::fprintf(stderr, "printed is not placed: %s\n", difference.c_str());
      std::abort();
    }
  }
  if (stream.size() <= kMaxPreviousJob) previous.assign(stream);
}

// Never failed, back between pages, and everything it built written.
bool EndedCleanly(const ProtocolHarness<>& h, const JobWatch& job) {
  return !job.failed && h.protocol.State() == PluginState::Ready && h.protocol.Engine() != nullptr && !job.unwritten;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  ProtocolHarness<> h;
  PluginProtocol& p = h.protocol;
  BlockTextRenderer modelText;
  page_model::PageModel model(modelText);
  Driver d{h, model};
  std::string previousJob;  // the last clean job's stream
  h.printer.Set(u"ForcePrinting", in.Chance(128) ? 1 : 0);
  h.printer.Set(u"PrintError", in.Chance(128) ? 1 : 0);
  h.printer.Set(u"HOffset", static_cast<uint32_t>(in.Int()));
  h.printer.Set(u"VOffset", static_cast<uint32_t>(in.Int()));
  if (in.Chance(16)) {
    // A spooler that takes part of each write, or refuses from some write on.
    const uint32_t cut = in.Byte();
    h.printer.writeBehaviour = [cut](uint32_t offered, uint32_t& accepted) {
      if (cut == 0) return false;
      accepted = std::min(offered, cut * 97u);
      return true;
    };
  }

  // PLUGIN_FUZZ_VERBOSE=1 lists the decoded calls, for reading a finding.
  static const bool verbose = std::getenv("PLUGIN_FUZZ_VERBOSE") != nullptr;
  JobWatch job;
  std::string nameStorage;
  bool largestCopiesUsed = false;
  for (int call = 0; call < kMaxCalls && !in.Empty(); ++call) {
    const PluginState before = p.State();
    const size_t logged = h.log.entries.size();
    const DotPoint point{in.Int(), in.Int()};
    const DotPoint* at = in.Chance(12) ? nullptr : &point;
    bool result = true;
    bool answers = true;  // false for the calls without a result
    const uint8_t op = in.Byte() % 21;
    switch (op) {
      case 0: {
        if (EndedCleanly(h, job)) CheckJobStream(h.printer.output, job, model, previousJob);
        h.records = HostRecords(static_cast<int16_t>(in.Chance(224) ? printer_limits::kResolution : in.Int()));
        // Every job starts from an empty command buffer: what a job left
        // unwritten would lead the next one's stream, and its check would fail.
        d.Initialize(in.Chance(10), job);
        if (p.State() != PluginState::Initialized) job.failed = true;
        answers = false;
        break;
      }
      case 1: {
        const int32_t header[2] = {in.Int(), in.Int()};
        result = in.Chance(8) ? p.lpxWritePrintJobHeader(nullptr) : d.Header(header, job);
        break;
      }
      case 2:
        d.Layout(Layout(in));
        answers = false;
        break;
      case 3:
      case 4: {
        MemoryHostBitmap bitmap = Bitmap(in);
        const char* name = Name(in, nameStorage);
        result = in.Chance(8) ? p.lpxSendBitmap(nullptr, name) : d.Send(&bitmap, name);
        break;
      }
      case 5: result = d.NewPage(); break;
      case 6: result = d.Base(at); break;
      case 7: result = d.Variable(Name(in, nameStorage), at); break;
      case 8: {
        // The largest count once per input: its 16 MiB of copies are then held until written.
        const bool largest = !largestCopiesUsed && in.Chance(16);
        largestCopiesUsed = largestCopiesUsed || largest;
        result = d.CloseStatic(largest ? kMaxCopies : in.Int() % 4096);
        if (largest && result) job.tooLargeToCheck = true;
        break;
      }
      case 9: result = d.CloseDynamic(in.Int()); break;
      case 10: result = d.Final(); break;
      case 11: result = d.EmptyPage(); break;
      case 12: result = d.Label(true, at); break;
      case 13: result = d.Label(false, at); break;
      case 14: {
        const std::u16string text = Text(in);
        static constexpr const char16_t* kFaces[] = {u"Arial", u"", u"Lucida Console", nullptr};
        const char16_t* face = kFaces[in.Byte() % std::size(kFaces)];
        const bool noText = in.Chance(8);
        const int32_t height = in.Int();
        result = d.Clock(noText ? nullptr : text.c_str(), at, height, face);
        break;
      }
      case 15: result = p.lpxWritePrinter(); break;
      case 16: d.Clear(); break;
      case 17:
        result = p.lpxEject();
        if (!result) std::abort();
        break;
      case 18:
        if (p.lpxWriteText() || p.lpxReferToBarcode() || p.lpxWriteRFID()) std::abort();
        break;
      case 19:
      case 20: {
        // A well-formed stretch of a job, so that deep states are reached often.
        answers = false;
        const DotPoint origin{in.Int() % 64, in.Int() % 64};
        const auto send = [&](int32_t width, int32_t height, const char* name) {
          // Colours from the sizes, so that base and field differ without reading more input.
          MemoryHostBitmap bitmap =
              MemoryHostBitmap::Solid(width, height, static_cast<uint8_t>(width * 37),
                                      static_cast<uint8_t>(height * 11), name[0] == 'B' ? 200 : 60);
          return d.Send(&bitmap, name);
        };
        if (p.State() == PluginState::Initialized) {
          const int32_t header[2] = {832, 1200};
          (void)d.Header(header, job);
        } else if (p.State() == PluginState::Ready && d.NewPage()) {
          if (d.baseRefers == 0) {
            const int32_t width = in.Byte() % 200 + 1;
            (void)send(width, in.Byte() % 200 + 1, "BASE01");
          }
          for (uint8_t n = in.Byte() % 4; n > 0; --n) (void)d.Base(&origin);
          if (in.Chance(128)) {
            const int32_t width = in.Byte() % 90 + 1;
            (void)send(width, in.Byte() % 40 + 1, "LOT");
            (void)d.Variable("LOT", &origin);
          }
          (void)(in.Chance(128) ? d.CloseStatic(in.Byte() % 3 + 1) : d.CloseDynamic(in.Byte() % 7 + 1));
          (void)d.Final();
        }
        break;
      }
    }
    const PluginState after = p.State();
    // Which calls may build bytes for the printer; a write sends them all.
    constexpr uint32_t kBuilding = 1u << 1 | 1u << 5 | 1u << 6 | 1u << 7 | 1u << 8 | 1u << 9 | 1u << 10 | 1u << 11 |
                                   1u << 12 | 1u << 13 | 1u << 14 | 1u << 19 | 1u << 20;
    if (op == 15 && result) job.unwritten = false;
    if ((kBuilding >> op & 1u) != 0 && (result || !answers)) job.unwritten = true;
    if (verbose) {
      std::fprintf(stderr, "call %d: op %u -> %d, state %d -> %d, printed %zu\n", call, op, result,
                   static_cast<int>(before), static_cast<int>(after), h.printer.output.size());
    }
    // A failure's line is "ERROR: <code>"; the header check also logs its own messages.
    bool loggedLine = false;
    for (size_t i = logged; i < h.log.entries.size(); ++i) {
      const std::u16string_view message = h.log.entries[i].message;
      constexpr std::u16string_view kError = u"ERROR: ";
      if (message.starts_with(kError) && message.size() > kError.size() &&
          (message[kError.size()] == u'-' || (message[kError.size()] >= u'0' && message[kError.size()] <= u'9'))) {
        loggedLine = true;
      }
    }
    if (after == PluginState::Failed && before != PluginState::Failed) job.failed = true;
    // A call that logs a code fails into Failed; a refused or successful call logs none.
    if (loggedLine && after != PluginState::Failed) std::abort();
    if (answers && result && loggedLine) std::abort();
    if (answers && !result && before == PluginState::Failed && after != PluginState::Failed) std::abort();
    if (h.log.entries.size() > 4096) h.log.entries.clear();
    if (h.printer.output.size() > kMaxKeptOutput) {
      // Too much to keep: this job's stream goes unchecked.
      std::vector<uint8_t>().swap(h.printer.output);
      job = {.streamStart = 0, .failed = true};
    }
  }
  // The input is used up: the host finishes the job it is in, as a host
  // does, so that the last job is judged whenever it can end cleanly.
  if (p.State() == PluginState::PageOpen) (void)d.Final();
  if (p.State() == PluginState::Ready && p.lpxWritePrinter() && h.printer.output.size() > kMaxKeptOutput)
    job.failed = true;
  if (EndedCleanly(h, job)) CheckJobStream(h.printer.output, job, model, previousJob);
  return 0;
}
