// The soak program's short run: 300 labels with clocks and variable bitmaps
// through the DLL's table leave the process's private memory, handles and GDI
// objects where they were after the warm-up; and a leak of one handle, GDI
// object or 64 KiB per label is reported as growth.
#include <gtest/gtest.h>

#include <string>

#include "win32/engine/whole_job_support.h"
#include "support/win32/test_files.h"
#include "support/win32/test_program.h"

namespace {

using namespace wholejob;

constexpr DWORD kSoakWaitMs = 540000;
constexpr int kExitNoGrowth = 0;
constexpr int kExitGrowth = 1;

struct SoakRun {
  long exitCode = -1;
  std::string report;
};

// Runs qvr_soak with `arguments`, its standard output kept in a file.
SoakRun RunSoak(const std::wstring& arguments) {
  SoakRun run;
  TempFile report(L"soak-report.txt");
  {
    TestProgram soak(L"qvr_soak.exe", arguments, report.Path());
    if (!soak.Started()) return run;
    run.exitCode = soak.Wait(kSoakWaitMs);  // -1, and terminated, when it runs past the wait
  }
  const std::vector<uint8_t> bytes = ReadWholeFile(report.Path());
  run.report.assign(bytes.begin(), bytes.end());
  return run;
}

TEST(Soak, ThreeHundredLabelsEndWithTheMemoryHandlesAndGdiObjectsOfTheStart) {
  TempFile stream(L"soak.prn");
  const SoakRun run = RunSoak(L"--labels 300 --labels-per-job 100 --samples 3 --output \"" + stream.Path() + L"\"");
  EXPECT_EQ(run.exitCode, kExitNoGrowth) << run.report;
  EXPECT_NE(run.report.find("qvr_soak: no growth"), std::string::npos) << run.report;

  // The last job's stream: 100 sound labels, each with its serial number and clock.
  const PrintedJob job = ReadPrintedJob(stream.Path());
  ASSERT_FALSE(job.parsed.error);
  ASSERT_FALSE(job.check.error) << job.check.error->message;
  ASSERT_EQ(job.labels.size(), 100u);
  const Box field{20, 150, 200, 40};
  const Box clock{20, 230, 200, 40};
  for (size_t i = 0; i < job.labels.size(); i += 33) {
    EXPECT_GT(DarkPixelsIn(job.labels[i], field), 50) << "label " << i;
    EXPECT_GT(DarkPixelsIn(job.labels[i], clock), 50) << "label " << i;
  }
}

TEST(Soak, ReportsALeakOfOneHandleGdiObjectOrBlockPerLabel) {
  struct Case {
    const wchar_t* leak;
    const char* grown;
  } cases[] = {{L"handle", "GREW: handles;"}, {L"gdi", "GREW: GDI objects;"}, {L"memory", "GREW: private memory;"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.grown);
    const SoakRun run = RunSoak(std::wstring(L"--labels 30 --warmup 10 --samples 1 --inject-leak ") + c.leak);
    EXPECT_EQ(run.exitCode, kExitGrowth) << run.report;
    EXPECT_NE(run.report.find(c.grown), std::string::npos) << run.report;
  }
}

}  // namespace
