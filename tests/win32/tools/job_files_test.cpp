// Job files run by qvr_host.exe through the DLL, each with what its printed
// labels must show: a region that carries ink, or one that is plain paper.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "win32/engine/whole_job_support.h"
#include "host/spooler_setup.h"
#include "support/win32/test_files.h"
#include "support/win32/test_program.h"

namespace {

// Pixels of `box` on `label` that are not plain white paper.
int InkedPixels(const streamcheck::RgbImage& label, wholejob::Box box) {
  int inked = 0;
  for (int32_t y = std::max(0, box.y); y < std::min(label.height, box.y + box.height); ++y) {
    for (int32_t x = std::max(0, box.x); x < std::min(label.width, box.x + box.width); ++x) {
      const uint8_t* p = label.Pixel(x, y);
      if (p[0] != 255 || p[1] != 255 || p[2] != 255) ++inked;
    }
  }
  return inked;
}

struct RegionCheck {
  size_t label;  // from 0
  wholejob::Box box;
  bool inked;  // else plain paper
};

struct JobFile {
  const wchar_t* name;
  size_t labels;
  std::vector<RegionCheck> regions;
};

TEST(JobFiles, EachRunsThroughTheDllAndPrintsWhatItPlaced) {
  const JobFile jobs[] = {
      // The field placed after an empty clock prints on the one label.
      {L"empty-clock-keeps-field.job", 1, {{0, {20, 100, 200, 40}, true}}},
      // Page 1: both rows of the 2 x 2 grid. Page 2: the base laid out again
      // three across in one row (copies 280 x 380 from 10,10), nothing below it.
      {L"layout-between-pages.job",
       2,
       {{0, {10, 411, 580, 380}, true}, {1, {0, 391, 600, 409}, false}, {1, {410, 10, 190, 380}, true}}},
  };
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("qvr-jobfiles-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  for (const JobFile& job : jobs) {
    SCOPED_TRACE(std::filesystem::path(job.name).string());
    const std::filesystem::path stream = folder / (std::wstring(job.name) + L".prn");
    const std::filesystem::path said = folder / (std::wstring(job.name) + L".txt");
    {
      TestProgram host(L"qvr_host.exe",
                       L"\"" + ProgramFolder() + L"jobs\\" + job.name + L"\" --output \"" + stream.wstring() + L"\"",
                       said);
      ASSERT_TRUE(host.Started());
      const std::vector<uint8_t> text = host.Wait(kProgramWaitMs) == 0 ? std::vector<uint8_t>{} : ReadWholeFile(said);
      ASSERT_TRUE(text.empty()) << std::string(text.begin(), text.end());
    }
    const wholejob::PrintedJob printed = wholejob::ReadPrintedJob(stream.wstring());
    ASSERT_FALSE(printed.check.error) << printed.check.error->message;
    ASSERT_EQ(printed.labels.size(), job.labels);
    for (const RegionCheck& region : job.regions) {
      const int inked = InkedPixels(printed.labels[region.label], region.box);
      if (region.inked) {
        EXPECT_GT(inked, 20) << "label " << region.label + 1 << " at " << region.box.x << "," << region.box.y;
      } else {
        EXPECT_EQ(inked, 0) << "label " << region.label + 1 << " at " << region.box.x << "," << region.box.y;
      }
    }
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
