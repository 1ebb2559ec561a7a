#include "frame/log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr LocalTime kTime{2015, 4, 21, 9, 5, 7, 42};
// Length of the path parts that follow the common application-data folder:
// "\NOVRA" "\NOVRA_QVR" "\" "QVR_PLUGIN_ZK-R41x0" ".log".
constexpr size_t kPathSuffixChars = 6 + 10 + 1 + 19 + 4;

std::u16string Line(std::u16string_view source, std::u16string_view message, size_t capacity = kLogLineChars,
                    FormatStatus* status = nullptr) {
  std::u16string out(capacity, u'\xFFFF');
  const FormatStatus s =
      FormatLogLine(out.data(), capacity, kTime, kLogApplicationTag, kLogModuleName, source, message);
  if (status != nullptr) *status = s;
  return out.substr(0, out.find(u'\0'));
}

}  // namespace

TEST(LogLine, FormatsTimeTagModuleSourceAndMessage) {
  EXPECT_EQ(Line(u"lpxWritePrinter", u"ERROR: 304"),
            u"2015/04/21 09:05:07.042,NOVRA_QVR,QVR_PLUGIN_ZK-R41x0,lpxWritePrinter,ERROR: 304");
}

TEST(LogLine, MessageArrivesUnchangedWithLineFeedsAndPercentSigns) {
  std::u16string out(kLogMessageChars, u'\0');
  const std::u16string_view message = u"ERROR:\nPaper is too short to cut 100%d %s %%";
  ASSERT_EQ(FormatLogMessageText(out.data(), out.size(), message), kFormatOk);
  EXPECT_EQ(out.substr(0, out.find(u'\0')), message);
  EXPECT_EQ(Line(u"lpxWritePrintJobHeader", message),
            u"2015/04/21 09:05:07.042,NOVRA_QVR,QVR_PLUGIN_ZK-R41x0,lpxWritePrintJobHeader," + std::u16string(message));
}

TEST(LogLine, LongMessageIsCutAt1663Characters) {
  std::u16string out(kLogMessageChars, u'\xFFFF');
  const std::u16string exact(kLogMessageChars - 1, u'a');
  EXPECT_EQ(FormatLogMessageText(out.data(), out.size(), exact), kFormatOk);
  EXPECT_EQ(std::u16string_view(out.data()), exact);

  std::u16string longer = exact + u"bcdef";
  EXPECT_EQ(FormatLogMessageText(out.data(), out.size(), longer), kFormatTruncated);
  EXPECT_EQ(std::u16string_view(out.data()), exact);
  EXPECT_EQ(out[kLogMessageChars - 1], u'\0');
}

TEST(LogLine, LongLineIsCutAt2047CharactersAndStillTerminated) {
  const std::u16string source(500, u's');
  const std::u16string message(kLogMessageChars - 1, u'm');
  FormatStatus status = kFormatOk;
  const std::u16string line = Line(source, message, kLogLineChars, &status);
  EXPECT_EQ(status, kFormatTruncated);
  ASSERT_EQ(line.size(), kLogLineChars - 1);
  const std::u16string head = u"2015/04/21 09:05:07.042,NOVRA_QVR,QVR_PLUGIN_ZK-R41x0," + source + u",";
  EXPECT_EQ(line.substr(0, head.size()), head);
  EXPECT_EQ(line.substr(head.size()), std::u16string(kLogLineChars - 1 - head.size(), u'm'));
}

TEST(LogLine, RotatesOnlyOnceTheFileIsLargerThanLimitLessOneLine) {
  EXPECT_FALSE(LogNeedsRotation(0, kLogSizeLimit));
  EXPECT_FALSE(LogNeedsRotation(5'238'784, kLogSizeLimit));
  EXPECT_TRUE(LogNeedsRotation(5'238'785, kLogSizeLimit));
  EXPECT_TRUE(LogNeedsRotation(kLogSizeLimit, kLogSizeLimit));
  // Sizes near the top of the range must not wrap round to "small".
  EXPECT_TRUE(LogNeedsRotation(0xFFFFFFFFu, kLogSizeLimit));
  EXPECT_TRUE(LogNeedsRotation(0xFFFFF000u, kLogSizeLimit));
  EXPECT_TRUE(LogNeedsRotation(0x1'0000'0010ull, kLogSizeLimit));
  // A limit smaller than one line's reserve rotates every time; one exactly a line allows an empty file only.
  EXPECT_TRUE(LogNeedsRotation(0, 100));
  EXPECT_FALSE(LogNeedsRotation(0, kLogLineReserve));
  EXPECT_TRUE(LogNeedsRotation(1, kLogLineReserve));
}

TEST(LogPaths, PlacesFileInVendorAndProductFoldersUpTo259Characters) {
  LogPaths paths;
  ASSERT_TRUE(BuildLogPaths(u"C:\\ProgramData", paths));
  EXPECT_EQ(std::u16string_view(paths.vendorFolder), u"C:\\ProgramData\\NOVRA");
  EXPECT_EQ(std::u16string_view(paths.productFolder), u"C:\\ProgramData\\NOVRA\\NOVRA_QVR");
  EXPECT_EQ(std::u16string_view(paths.file), u"C:\\ProgramData\\NOVRA\\NOVRA_QVR\\QVR_PLUGIN_ZK-R41x0.log");

  const std::u16string fits(kLogPathChars - 1 - kPathSuffixChars, u'd');
  ASSERT_TRUE(BuildLogPaths(fits, paths));
  EXPECT_EQ(std::u16string_view(paths.file).size(), kLogPathChars - 1);

  EXPECT_FALSE(BuildLogPaths(fits + u"d", paths));
  EXPECT_FALSE(BuildLogPaths(std::u16string(400, u'd'), paths));
}

TEST(LogPaths, BackupAppendsBakAndReportsANameThatDoesNotFit) {
  char16_t backup[kLogPathChars];
  ASSERT_EQ(FormatLogBackupPath(backup, u"C:\\P\\QVR_PLUGIN_ZK-R41x0.log"), kFormatOk);
  EXPECT_EQ(std::u16string_view(backup), u"C:\\P\\QVR_PLUGIN_ZK-R41x0.log.bak");
  // A cut name could be the log itself: the caller must be told.
  const std::u16string longPath(kLogPathChars - 3, u'p');
  EXPECT_EQ(FormatLogBackupPath(backup, longPath), kFormatTruncated);
}
