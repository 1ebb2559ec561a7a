// Settings stored in the real spooler as printer data reach the job's set-up
// label: media, cutting, print mode and direction, forced printing, and a
// value stored with the wrong size.
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "win32/engine/whole_job_support.h"

namespace {

using namespace wholejob;

constexpr const wchar_t* kSpoolerPrinter = L"QVR Settings Spooler Printer";
constexpr const wchar_t* kSettingsKey = L"NOVRA_ZK-R41x0_Config";

class SettingsThroughSpooler : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin.Loaded());
    ASSERT_TRUE(StoreNeutralSettings(kSpoolerPrinter));
  }

  // Stores the settings, runs a header-only job and returns its one set-up label.
  streamcheck::LabelSetup SetupFor(std::initializer_list<std::pair<const wchar_t*, int64_t>> settings,
                                   int32_t width = 832, int32_t length = 1200) {
    for (const auto& [name, value] : settings) EXPECT_TRUE(StorePrinterSetting(kSpoolerPrinter, name, value)) << name;
    HostSession host(plugin, kSpoolerPrinter, L"settings.prn");
    EXPECT_TRUE(host.Ready());
    host.Initialize();
    EXPECT_TRUE(host.Header(width, length));
    EXPECT_TRUE(host.Write());
    const PrintedJob job = host.Finish();
    EXPECT_FALSE(job.check.error) << job.check.error->message;
    EXPECT_EQ(job.check.stats.setups.size(), 1u);
    return job.check.stats.setups.empty() ? streamcheck::LabelSetup{} : job.check.stats.setups[0];
  }

  LoadedPlugin plugin;
};

TEST_F(SettingsThroughSpooler, MediaTypeAndQualityPickTheCodeAndPrintMode) {
  const auto synthetic = SetupFor({{L"MediaType", 3}, {L"PrintQuality", 1}, {L"BandR", 0}});
  EXPECT_EQ(synthetic.media, "S1");
  EXPECT_EQ(synthetic.printMode, 2) << "quality mode ignores banding reduction";
  const auto speed = SetupFor({{L"MediaType", 0}, {L"PrintQuality", 0}, {L"BandR", 0}});
  EXPECT_EQ(speed.media, "P1");
  EXPECT_EQ(speed.printMode, 0);
  const auto banding = SetupFor({{L"BandR", 1}});
  EXPECT_EQ(banding.printMode, 1);
}

TEST_F(SettingsThroughSpooler, CutSettingsGiveModeLetterAndPagesPerCut) {
  const auto interval = SetupFor({{L"AutoCut", 1}, {L"CutTiming", 2}, {L"CutInterval", 300}});
  EXPECT_EQ(interval.cutMode, 'E');
  EXPECT_EQ(interval.pagesPerCut, 300u) << "the job side does not clamp the interval";
  const auto notAFlag = SetupFor({{L"AutoCut", 2}});  // timing 2 and interval 300 still stored
  EXPECT_EQ(notAFlag.cutMode, 'D');
  EXPECT_EQ(notAFlag.pagesPerCut, 0u);
  const auto lastPageOnly = SetupFor({{L"AutoCut", 1}, {L"CutTiming", 1}});
  EXPECT_EQ(lastPageOnly.cutMode, 'E');
  EXPECT_EQ(lastPageOnly.pagesPerCut, 0u);
}

TEST_F(SettingsThroughSpooler, OnlyExactlyOneMeansBidirectional) {
  EXPECT_EQ(SetupFor({{L"Bi-d", 0}}).direction, 'U');
  EXPECT_EQ(SetupFor({{L"Bi-d", 5}}).direction, 'U');
  EXPECT_EQ(SetupFor({{L"Bi-d", 1}}).direction, 'B');
}

TEST_F(SettingsThroughSpooler, ForcedPrintingWithoutErrorPageClampsTheLabel) {
  ASSERT_TRUE(StorePrinterSetting(kSpoolerPrinter, L"ForcePrinting", 1));
  ASSERT_TRUE(StorePrinterSetting(kSpoolerPrinter, L"PrintError", 0));
  HostSession host(plugin, kSpoolerPrinter, L"forced-clamped.prn");
  ASSERT_TRUE(host.Ready());
  host.Initialize();
  ASSERT_TRUE(host.Header(2000, 20000));
  ASSERT_TRUE(host.EmptyPage());
  ASSERT_TRUE(host.Write());
  const PrintedJob job = host.Finish();
  ASSERT_FALSE(job.check.error) << job.check.error->message;
  // No error page went ahead: one marker, one set-up, one white label of the printer's largest size.
  ASSERT_EQ(job.check.stats.setups.size(), 1u);
  EXPECT_EQ(job.check.stats.setups[0].width, 1587);
  EXPECT_EQ(job.check.stats.setups[0].length, 14400);
  EXPECT_EQ(job.stream.find("LTCommand", job.stream.find("LTCommand") + 1), std::string::npos);
  ASSERT_EQ(job.labels.size(), 1u);
  EXPECT_TRUE(SameLabel(job.labels[0], RgbImage::White(1587, 14400)));
}

TEST_F(SettingsThroughSpooler, ValueStoredWithMoreThanFourBytesReadsAsItsDefault) {
  // Eight bytes whose first four would mean "S1", unidirectional and quality mode.
  auto storeEightBytes = [](const wchar_t* name, uint8_t first) {
    PRINTER_DEFAULTSW access{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<wchar_t*>(kSpoolerPrinter), &printer, &access)) return false;
    BYTE data[8] = {first, 0, 0, 0, 0, 0, 0, 0};
    const DWORD status = SetPrinterDataExW(printer, kSettingsKey, name, REG_BINARY, data, sizeof data);
    ClosePrinter(printer);
    return status == ERROR_SUCCESS;
  };
  ASSERT_TRUE(storeEightBytes(L"MediaType", 3));
  ASSERT_TRUE(storeEightBytes(L"Bi-d", 0));
  ASSERT_TRUE(storeEightBytes(L"PrintQuality", 1));
  const auto setup = SetupFor({});
  EXPECT_EQ(setup.media, "M2");
  EXPECT_EQ(setup.direction, 'B');
  EXPECT_EQ(setup.printMode, 1);
}

}  // namespace
