// The plug-in as the host sees it: the DLL loaded by name, the object called
// through a hand-written 22-slot table, jobs spooled through Wine's spooler.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "host/plugin_abi.h"
#include "host/spooler_setup.h"
#include "support/win32/test_files.h"

namespace {

constexpr const wchar_t* kAbiPrinter = L"QVR ABI Test Printer";

class PluginAbi : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin.Loaded());
    ASSERT_TRUE(InstallRawPrinter(kAbiPrinter));
    ASSERT_TRUE(ClearPrinterSettings(kAbiPrinter));
    object = plugin.Create();
    ASSERT_NE(object, nullptr);
  }
  void TearDown() override {
    if (object != nullptr) plugin.Delete(object);
  }
  const HostPluginVtbl& T() const { return *object->vtbl; }
  void Initialize(HANDLE printer, int16_t resolution = 360) {
    HostJobRecord record(resolution);
    HostExtraRecord extra;
    T().initialize(object, printer, record.bytes, extra.bytes);
  }
  bool Header(int32_t width, int32_t length) {
    const int32_t header[2] = {width, length};
    return T().writePrintJobHeader(object, header);
  }

  LoadedPlugin plugin;
  HostPluginObject* object = nullptr;
};

TEST_F(PluginAbi, FreshObjectRefusesJobCallsAndAnswersTheUncheckedOnes) {
  EXPECT_FALSE(Header(832, 1200));
  EXPECT_FALSE(T().createNewPage(object));
  EXPECT_FALSE(T().writePrinter(object));
  const HostDotPoint at{0, 0};
  EXPECT_FALSE(T().referToBaseBitmap(object, &at));
  EXPECT_FALSE(T().referToStartLabel(object, &at));
  EXPECT_FALSE(T().writeText(object, nullptr));
  EXPECT_FALSE(T().referToBarcode(object, L"123", nullptr));
  EXPECT_FALSE(T().writeRFID(object, nullptr));
  EXPECT_TRUE(T().eject(object, nullptr));
  EXPECT_TRUE(T().clear(object));  // also without a job engine
  // Refusals changed nothing: a job still starts normally.
  TempFile out(L"fresh.prn");
  SpoolJob job(kAbiPrinter, out.Path());
  ASSERT_TRUE(job.Started());
  Initialize(job.Printer());
  EXPECT_TRUE(Header(832, 1200));
}

TEST_F(PluginAbi, HeaderOnlyJobReachesTheSpoolerFileByteForByte) {
  TempFile out(L"header.prn");
  {
    SpoolJob job(kAbiPrinter, out.Path());
    ASSERT_TRUE(job.Started());
    Initialize(job.Printer());
    ASSERT_TRUE(Header(832, 1200));
    ASSERT_TRUE(T().writePrinter(object));
    ASSERT_TRUE(job.End());
  }
  const std::vector<uint8_t> bytes = ReadWholeFile(out.Path());
  const std::string stream(bytes.begin(), bytes.end());
  const std::regex expected(
      R"(\^XA\^FXLTCommand\^FS\^XZ\^XA\^S\(CLM,T,M2\^S\(CLS,P,832\^S\(CLS,L,1200)"
      R"(\^ST(1[0-2]|[1-9]),([1-9]|[12][0-9]|3[01]),20[0-9][0-9],([0-9]|1[0-9]|2[0-3]),([0-9]|[1-5][0-9]),([0-9]|[1-5][0-9]),M)"
      R"(\^S\(CX0,L,E\^S\(CX0,C,1\^S\(CX0,Q,1\^S\(CMP,D,B\^C\(D\^XZ)");
  EXPECT_TRUE(std::regex_match(stream, expected)) << stream;
}

TEST_F(PluginAbi, CallStateMachine) {
  TempFile out(L"states.prn");
  SpoolJob job(kAbiPrinter, out.Path());
  ASSERT_TRUE(job.Started());
  const HostDotPoint at{0, 0};

  Initialize(job.Printer());
  EXPECT_FALSE(T().createNewPage(object));  // no header yet
  ASSERT_TRUE(Header(832, 1200));
  EXPECT_FALSE(Header(832, 1200));  // a second header is refused and changes nothing
  ASSERT_TRUE(T().createNewPage(object));
  EXPECT_FALSE(T().referToStartLabel(object, &at));  // not within a page
  EXPECT_FALSE(T().createNewPage(object));
  // A clock the printer draws itself is declined without failing the job.
  EXPECT_FALSE(T().writeClock(object, L"12:00###HWGEN###", &at, 20, L"Arial"));
  EXPECT_TRUE(T().closeNewPageFinal(object));

  // A count below 1 fails the job; everything is refused until the next initialisation.
  ASSERT_TRUE(T().createNewPage(object));
  EXPECT_FALSE(T().closeNewPageStatic(object, 0));
  EXPECT_FALSE(T().closeNewPageFinal(object));
  EXPECT_FALSE(T().writePrinter(object));
  EXPECT_FALSE(T().addEmptyPage(object));
  Initialize(job.Printer());
  EXPECT_TRUE(Header(832, 1200));
  EXPECT_FALSE(T().referToBaseBitmap(object, nullptr));  // refused outside a page, no failure
  EXPECT_TRUE(T().createNewPage(object));
  EXPECT_FALSE(T().referToBaseBitmap(object, nullptr));  // null point: failed
  EXPECT_FALSE(T().closeNewPageFinal(object));

  // Null records fail the initialisation itself.
  HostJobRecord record(360);
  T().initialize(object, job.Printer(), record.bytes, nullptr);
  EXPECT_FALSE(Header(832, 1200));
  T().initialize(object, nullptr, record.bytes, record.bytes);
  EXPECT_FALSE(Header(832, 1200));
  Initialize(job.Printer());
  EXPECT_TRUE(Header(832, 1200));
}

TEST_F(PluginAbi, SecondInitialisationStartsAFreshJobOnItsOwnHandle) {
  TempFile first(L"first.prn");
  TempFile second(L"second.prn");
  SpoolJob job1(kAbiPrinter, first.Path());
  SpoolJob job2(kAbiPrinter, second.Path());
  ASSERT_TRUE(job1.Started());
  ASSERT_TRUE(job2.Started());
  Initialize(job1.Printer(), 360);
  ASSERT_TRUE(Header(832, 1200));
  ASSERT_TRUE(T().createNewPage(object));  // a job given up inside a page
  // The engine keeps its resolution: 300 dpi is not looked at again. The new
  // job goes to its own handle, without the bytes of the one given up.
  Initialize(job2.Printer(), 300);
  ASSERT_TRUE(Header(832, 1200));
  ASSERT_TRUE(T().writePrinter(object));
  ASSERT_TRUE(job1.End());
  ASSERT_TRUE(job2.End());
  EXPECT_EQ(ReadWholeFile(first.Path()).size(), 0u);
  const std::vector<uint8_t> bytes = ReadWholeFile(second.Path());
  const std::string stream(bytes.begin(), bytes.end());
  EXPECT_TRUE(stream.starts_with("^XA^FXLTCommand^FS^XZ")) << stream;
  EXPECT_EQ(stream.find("^C(L"), std::string::npos) << stream;
  size_t markers = 0;
  for (size_t at = stream.find("LTCommand"); at != std::string::npos; at = stream.find("LTCommand", at + 1)) ++markers;
  EXPECT_EQ(markers, 1u) << stream;
}

TEST_F(PluginAbi, SpoolerRefusalFailsTheWriteWith304) {
  // A printer handle with no open document: the spooler refuses the bytes.
  SpoolJob idle(kAbiPrinter, L"", /*startDocument=*/false);
  ASSERT_NE(idle.Printer(), nullptr);
  Initialize(idle.Printer());
  ASSERT_TRUE(Header(832, 1200));
  EXPECT_FALSE(T().writePrinter(object));
  EXPECT_FALSE(T().createNewPage(object));  // failed until the next initialisation
  Initialize(idle.Printer());
  EXPECT_TRUE(Header(832, 1200));
}

TEST_F(PluginAbi, SlotZeroIsTheScalarDeletingDestructor) {
  HostPluginObject* other = plugin.Create();
  ASSERT_NE(other, nullptr);
  ASSERT_NE(other, object);
  // Flags 1: destroy and free; the slot answers the object's address.
  EXPECT_EQ(other->vtbl->destructor(other, 1), static_cast<void*>(other));
  plugin.Delete(nullptr);  // does nothing
  // The table has exactly the operations in the host's order: slot 19 answers true, slot 14 false.
  EXPECT_TRUE(object->vtbl->eject(object, nullptr));
  EXPECT_FALSE(object->vtbl->writeText(object, nullptr));
}

}  // namespace
