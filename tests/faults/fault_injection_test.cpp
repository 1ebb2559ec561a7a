// Faults at every step of a whole job: the k-th allocation inside a host
// call fails, for every k the job makes, and the spooler refuses or takes
// part of each write, for every write. Its own executable, because it
// replaces the global operator new. Leaks are left to LeakSanitizer.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "output/png_encoder.h"
#include "stream_checker.h"
#include "support/native/protocol_harness.h"

namespace {

// Allocation failure on demand: while armed, allocations are counted and the
// one numbered `failAt` throws.
struct Injector {
  bool armed = false;
  long count = 0;
  long failAt = 0;  // 0: none fails
  bool failed = false;
};
Injector injector;

bool FailThisAllocation() noexcept {
  if (!injector.armed) return false;
  ++injector.count;
  if (injector.count != injector.failAt) return false;
  injector.failed = true;
  return true;
}

void* Allocate(std::size_t size) {
  if (FailThisAllocation()) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
  if (FailThisAllocation()) throw std::bad_alloc();
  const auto alignment = static_cast<std::size_t>(align);
  const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
  if (void* p = std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return AllocateAligned(size, align); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

// Traces are not looked at here; writing them must not allocate.
void WriteDebugOutput(std::u16string_view) noexcept {}

namespace {

// A log that keeps its lines without allocating, so that it sees every
// failure even while allocations fail.
class FixedLog : public LogSink {
 public:
  struct Line {
    std::array<char16_t, 64> message{};
    std::array<char16_t, 64> source{};
    std::u16string_view Message() const { return message.data(); }
    std::u16string_view Source() const { return source.data(); }
  };
  std::array<Line, 16> lines{};
  size_t count = 0;

  void WriteLogEntry(std::u16string_view message, std::u16string_view source) noexcept override {
    if (count == lines.size()) return;
    Line& line = lines[count++];
    message.copy(line.message.data(), line.message.size() - 1);
    source.copy(line.source.data(), line.source.size() - 1);
  }
};

using Harness = ProtocolHarness<FixedLog>;

// What one host call of a job under faults did.
struct FailedCall {
  bool happened = false;
  PluginState stateAfter = PluginState::Created;
  size_t linesBefore = 0;
};

// Which host call of the job made each allocation, and in which one the
// injected failure struck.
struct AllocationTrace {
  std::vector<int> callOf;  // [k - 1]: the call that made allocation k
  int failedIn = -1;
};

// Runs the sample job with allocations failing at `failAt` (0: none); the
// injector is armed only inside the host calls. Returns whether the job ran
// through, and in `failure` what the call that returned false left behind.
bool JobWithFailingAllocation(Harness& h, long failAt, FailedCall& failure, long& allocations, AllocationTrace& trace) {
  injector = {false, 0, failAt, false};
  int callNumber = 0;
  const bool ran = h.SampleJob([&](auto&& call) {
    ++callNumber;
    const size_t lines = h.log.count;
    const long before = injector.count;
    injector.armed = true;
    const bool result = call();
    injector.armed = false;
    trace.callOf.insert(trace.callOf.end(), static_cast<size_t>(injector.count - before), callNumber);
    if (injector.failed && trace.failedIn < 0) trace.failedIn = callNumber;
    if (!result) failure = {true, h.protocol.State(), lines};
    return result;
  });
  allocations = injector.count;
  return ran;
}

std::string_view Printed(const MemoryPrinter& printer, size_t from) {
  return {reinterpret_cast<const char*>(printer.output.data()) + from, printer.output.size() - from};
}

// After a failed job, a new initialisation runs the next job whole, and it
// prints a sound stream.
void NextJobRunsClean(Harness& h) {
  const size_t from = h.printer.output.size();
  const size_t lines = h.log.count;
  int callNumber = 0, failedAt = -1;
  PluginState stateAtFailure = PluginState::Created;
  const bool ran = h.SampleJob([&](auto&& call) {
    ++callNumber;
    const PluginState before = h.protocol.State();
    const bool result = call();
    if (!result && failedAt < 0) {
      failedAt = callNumber;
      stateAtFailure = before;
    }
    return result;
  });
  const std::u16string_view last = h.log.count > lines ? h.log.lines[h.log.count - 1].Source() : u"";
  const std::u16string_view code = h.log.count > lines ? h.log.lines[h.log.count - 1].Message() : u"";
  ASSERT_TRUE(ran) << "call " << failedAt << " in state " << static_cast<int>(stateAtFailure) << " "
                   << std::string(last.begin(), last.end()) << " " << std::string(code.begin(), code.end());
  EXPECT_EQ(h.log.count, lines);
  const streamcheck::CheckResult checked = streamcheck::CheckStream(Printed(h.printer, from));
  EXPECT_FALSE(checked.error) << checked.error->message;
}

TEST(FaultInjection, EveryFailingAllocationFailsItsCallIntoFailedAndTheNextJobRuns) {
  // Into a fresh object's first job, and into a second job on an object that
  // already printed one (its engine keeps the base image and the areas).
  long covered = 0;
  long total = 0;
  long absorbed = 0;
  for (const bool warm : {false, true}) {
    // The fault-free job: how many allocations its calls make, which call
    // makes each, and what it prints.
    std::string reference;
    long allocations = 0;
    AllocationTrace made;
    {
      Harness h;
      if (warm) ASSERT_TRUE(h.SampleJob());
      const size_t from = h.printer.output.size();
      FailedCall none;
      ASSERT_TRUE(JobWithFailingAllocation(h, 0, none, allocations, made));
      reference.assign(Printed(h.printer, from));
    }
    ASSERT_GT(allocations, 0);
    total += allocations;

    for (long k = 1; k <= allocations; ++k) {
      SCOPED_TRACE(testing::Message() << (warm ? "second job, allocation " : "first job, allocation ") << k);
      Harness h;
      if (warm) ASSERT_TRUE(h.SampleJob());
      const size_t from = h.printer.output.size();
      FailedCall failure;
      long count = 0;
      AllocationTrace trace;
      const bool ran = JobWithFailingAllocation(h, k, failure, count, trace);
      ASSERT_TRUE(injector.failed);
      // The failure struck the call that makes this allocation in the
      // fault-free job: each run reaches a point of its own.
      if (trace.failedIn == made.callOf[static_cast<size_t>(k - 1)]) ++covered;
      if (ran) {
        ++absorbed;
        // The failure was absorbed on the way: then nothing printed may differ.
        EXPECT_EQ(Printed(h.printer, from), reference);
      } else {
        EXPECT_EQ(failure.stateAfter, PluginState::Failed);
        ASSERT_EQ(h.log.count, failure.linesBefore + 1);
        const std::u16string_view message = h.log.lines[failure.linesBefore].Message();
        EXPECT_TRUE(message.starts_with(u"ERROR: ")) << std::string(message.begin(), message.end());
        // Every host call after the failure is refused until the next initialisation.
        EXPECT_FALSE(h.protocol.lpxCreateNewPage());
        EXPECT_FALSE(h.protocol.lpxWritePrinter());
      }
      NextJobRunsClean(h);
    }
  }
  EXPECT_EQ(covered, total);
  std::printf("allocation failures injected: %ld of %ld (%ld absorbed without a change in print)\n", covered, total,
              absorbed);
  ::testing::Test::RecordProperty("allocation_injection_points", static_cast<int>(covered));
}

TEST(FaultInjection, ASpoolerThatRefusesAnyWriteFails304AndOneTakingPartOfItPrintsEverything) {
  std::string reference;
  size_t writes = 0;
  {
    Harness h;
    ASSERT_TRUE(h.SampleJob());
    reference.assign(Printed(h.printer, 0));
    writes = h.printer.sends.size();
  }
  ASSERT_GT(writes, 0u);

  size_t covered = 0;
  for (size_t k = 0; k < writes; ++k) {
    for (const bool refuse : {true, false}) {
      SCOPED_TRACE(testing::Message() << "write " << k << (refuse ? " refused" : " partly taken"));
      Harness h;
      size_t calls = 0;
      h.printer.writeBehaviour = [&, k, refuse](uint32_t offered, uint32_t& accepted) {
        if (calls++ != k) return true;
        if (refuse) return false;
        accepted = offered / 3;  // at least one byte is always offered
        return true;
      };
      const bool ran = h.SampleJob();
      ++covered;
      if (refuse) {
        EXPECT_FALSE(ran);
        EXPECT_EQ(h.protocol.State(), PluginState::Failed);
        ASSERT_EQ(h.log.count, 1u);
        EXPECT_EQ(h.log.lines[0].Message(), u"ERROR: 304");
        EXPECT_EQ(h.log.lines[0].Source(), u"lpxWritePrinter");
      } else {
        // The rest of a partly taken write goes in the next write call.
        EXPECT_TRUE(ran);
        EXPECT_EQ(Printed(h.printer, 0), reference);
      }
      h.printer.writeBehaviour = nullptr;
      NextJobRunsClean(h);
    }
  }
  // A write that takes nothing at all is refused like a failing one.
  {
    Harness h;
    h.printer.writeBehaviour = [](uint32_t, uint32_t& accepted) {
      accepted = 0;
      return true;
    };
    EXPECT_FALSE(h.SampleJob());
    ASSERT_EQ(h.log.count, 1u);
    EXPECT_EQ(h.log.lines[0].Message(), u"ERROR: 304");
  }
  std::printf("spooler faults injected: %zu (%zu writes, refused and partly taken)\n", covered, writes);
  ::testing::Test::RecordProperty("spooler_injection_points", static_cast<int>(covered));
}

}  // namespace

// The PNG's own vector that cannot grow is memory exhaustion, not a failed
// encoding: it travels as std::bad_alloc, after libpng's structures are
// released (the leak check sees to that), and the next encoding works.
TEST(FaultInjection, APngThatCannotGrowThrowsOutOfMemory) {
  const std::vector<uint8_t> pixels(4 * 4 * 3, 0x80);
  std::vector<uint8_t> png;
  injector = {true, 0, 1, false};
  EXPECT_THROW((void)PngWriteSettings{}.EncodePng(png, pixels.data(), 4, 4, 12, 360, 360), std::bad_alloc);
  injector.armed = false;
  EXPECT_TRUE(injector.failed);
  EXPECT_EQ(PngWriteSettings{}.EncodePng(png, pixels.data(), 4, 4, 12, 360, 360), result::kOk);
}

TEST(FaultInjection, AnErrorPrintOutThatRunsOutOfMemoryEndsSilentlyAndForcedPrintingGoesOn) {
  // A header too wide for the printer, with "PrintError" (by default) and
  // "ForcePrinting": the error label is printed, then the job goes on.
  const auto header = [](Harness& h, long failAt, bool printErrors) {
    h.printer.Set(u"ForcePrinting", 1);
    h.printer.Set(u"PrintError", printErrors ? 1 : 0);
    h.Initialize();
    injector = {true, 0, failAt, false};
    const bool accepted = h.Header(2000, 1200);
    injector.armed = false;
    return accepted;
  };
  long withPrintOut = 0, without = 0;
  {
    Harness h;
    ASSERT_TRUE(header(h, 0, true));
    withPrintOut = injector.count;
    Harness plain;
    ASSERT_TRUE(header(plain, 0, false));
    without = injector.count;
  }
  ASSERT_GT(withPrintOut, without);
  // Every allocation of the print-out (those it adds to the header's) may
  // fail without failing the header; a call that fails goes into Failed.
  std::vector<long> endedInside;
  for (long k = 1; k <= withPrintOut; ++k) {
    Harness h;
    const bool accepted = header(h, k, true);
    if (!accepted) {
      EXPECT_EQ(h.protocol.State(), PluginState::Failed) << k;
      continue;
    }
    EXPECT_EQ(h.protocol.State(), PluginState::Ready) << k;
    if (injector.failed) endedInside.push_back(k);
    // What reached the printer and what follows it form a sound stream: no
    // unfinished error label stands ahead of the job's set-up.
    ASSERT_TRUE(h.protocol.lpxWritePrinter()) << k;
    const streamcheck::CheckResult checked = streamcheck::CheckStream(Printed(h.printer, 0));
    EXPECT_FALSE(checked.error) << "allocation " << k << ": " << checked.error->message;
  }
  // At least every allocation the print-out adds ended it without failing the header.
  EXPECT_GE(static_cast<long>(endedInside.size()), withPrintOut - without);
}
