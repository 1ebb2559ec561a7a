// Jobs whose failures cannot be logged: a regular file stands where one of the
// log's folders should be. The failing calls answer as usual and every job
// prints exactly what it prints when the log can be written.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "win32/engine/whole_job_support.h"
#include "win32/frame/log_files.h"

namespace {

using namespace wholejob;

constexpr const wchar_t* kLogPrinter = L"QVR Unwritable Log Printer";
constexpr int32_t kLogPageWidth = 900;
constexpr int32_t kLogPageLength = 400;
constexpr int32_t kTooNarrow = 300;  // below the printer's narrowest label
constexpr const char kBlockerContent[] = "a file, not a folder";

// What the host saw of a job: every call's answer, in order, and the stream.
struct JobRecord {
  std::vector<bool> answers;
  PrintedJob printed;
};

HostPicture EightBitPicture() {
  HostPicture picture;
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
  } info{};
  info.header = {sizeof(BITMAPINFOHEADER), 40, -20, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  picture.bitmap.reset(
      CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0));
  return picture;
}

// A refused job header (its error label printed at once, its message logged),
// a two-label page with a field and a clock, a refused 8-bit bitmap after it
// (logged as 401), and a new job.
JobRecord RunJobWithFailures(const LoadedPlugin& plugin, const std::wstring& file) {
  JobRecord record;
  std::vector<bool>& a = record.answers;
  const HostPicture base = PaintColourPicture(400, 300, RGB(255, 248, 220), RGB(20, 40, 140));
  const HostPicture field = PaintMonoPicture(120, 40, 4);
  const HostPicture deep = EightBitPicture();
  HostSession host(plugin, kLogPrinter, file);
  EXPECT_TRUE(host.Ready());

  host.Initialize();
  a.push_back(host.Header(kTooNarrow, kLogPageLength));
  host.Initialize();
  a.push_back(host.Header(kLogPageWidth, kLogPageLength));
  host.Layout(0, 2, 1, 300, 0);
  a.push_back(host.Page());
  a.push_back(host.Send("BASE01", base));
  a.push_back(host.Base(10, 20));
  a.push_back(host.Base(10 + TenthsToDots(300), 20));
  a.push_back(host.Send("SERIAL", field));
  a.push_back(host.Variable("SERIAL", 40, 60));
  a.push_back(host.Clock(L"08:15", 40, 200, 28, L"Lucida Console"));
  a.push_back(host.CloseStatic(1));
  a.push_back(host.Final());
  a.push_back(host.Write());

  a.push_back(host.Send("SERIAL", deep));
  a.push_back(host.Page());  // refused: the job failed

  host.Initialize();
  a.push_back(host.Header(kLogPageWidth, kLogPageLength));
  a.push_back(host.Page());
  a.push_back(host.Base(10, 20));
  a.push_back(host.Send("SERIAL", field));
  a.push_back(host.Variable("SERIAL", 470, 60));
  a.push_back(host.CloseDynamic(2));
  a.push_back(host.Final());
  a.push_back(host.Write());
  record.printed = host.Finish();
  return record;
}

// The stream without the printer clock's setting, the one part that depends on when it ran.
std::string WithoutClockSetting(const std::string& stream) {
  static const std::regex clockSetting(R"(\^ST[0-9,]*M)");
  return std::regex_replace(stream, clockSetting, "^ST");
}

// Puts a regular file where `folder` should be (after removing the log),
// and gives the log its folders back afterwards.
class BlockedFolder {
 public:
  BlockedFolder(const logfiles::LogFiles& files, const std::wstring& folder) : files_(files), folder_(folder) {
    logfiles::RemoveLog(files_);
    if (folder_ == files_.productFolder) CreateDirectoryW(files_.vendorFolder.c_str(), nullptr);
    UniqueFile blocker(
        CreateFileW(folder_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    made_ = blocker && WriteFile(blocker.get(), kBlockerContent, sizeof kBlockerContent - 1, &written, nullptr) &&
            written == sizeof kBlockerContent - 1;
  }
  ~BlockedFolder() {
    DeleteFileW(folder_.c_str());
    CreateDirectoryW(files_.vendorFolder.c_str(), nullptr);
    CreateDirectoryW(files_.productFolder.c_str(), nullptr);
  }
  BlockedFolder(const BlockedFolder&) = delete;
  BlockedFolder& operator=(const BlockedFolder&) = delete;
  bool Made() const { return made_; }

 private:
  const logfiles::LogFiles& files_;
  std::wstring folder_;
  bool made_ = false;
};

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

class UnwritableLog : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin.Loaded());
    ASSERT_TRUE(StoreNeutralSettings(kLogPrinter));
  }
  LoadedPlugin plugin;
};

TEST_F(UnwritableLog, JobsPrintAndAnswerAsWithAWritableLog) {
  const logfiles::LogFiles files = logfiles::Files();

  // With a writable log: the reference job, and the lines its failures leave.
  logfiles::RemoveLog(files);
  const JobRecord reference = RunJobWithFailures(plugin, L"log-writable.prn");
  ASSERT_FALSE(reference.printed.parsed.error);
  ASSERT_FALSE(reference.printed.check.error) << reference.printed.check.error->message;
  const std::vector<bool> expectedAnswers = {false, true,  true,  true, true, true, true, true, true, true, true,
                                             true,  false, false, true, true, true, true, true, true, true, true};
  EXPECT_EQ(reference.answers, expectedAnswers);
  // The error label, the two-label page and the dynamic page.
  EXPECT_EQ(reference.printed.labels.size(), 3u);
  const std::vector<std::string> lines = logfiles::SplitLines(logfiles::ReadAll(files.file));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(logfiles::IsLogLine(lines[0], "lpxWritePrintJobHeader", "ERROR: Invalid Paper Size"));
  EXPECT_TRUE(logfiles::IsLogLine(lines[1], "lpxWritePrintJobHeader", "ERROR: 102"));
  EXPECT_TRUE(logfiles::IsLogLine(lines[2], "lpxSendBitmap", "ERROR: 401"));

  struct Blocked {
    const char* what;
    std::wstring folder;
  } cases[] = {{"vendor folder is a file", files.vendorFolder}, {"product folder is a file", files.productFolder}};
  for (const Blocked& blocked : cases) {
    SCOPED_TRACE(blocked.what);
    {
      BlockedFolder block(files, blocked.folder);
      ASSERT_TRUE(block.Made());
      const JobRecord job = RunJobWithFailures(plugin, L"log-blocked.prn");
      EXPECT_EQ(job.answers, expectedAnswers);
      ASSERT_FALSE(job.printed.check.error) << job.printed.check.error->message;
      EXPECT_EQ(WithoutClockSetting(job.printed.stream), WithoutClockSetting(reference.printed.stream));
      ASSERT_EQ(job.printed.labels.size(), reference.printed.labels.size());
      for (size_t i = 0; i < job.printed.labels.size(); ++i) {
        EXPECT_TRUE(SameLabel(job.printed.labels[i], reference.printed.labels[i])) << "label " << i;
      }
      // Nothing was written into the file in the folder's place, nor anywhere else.
      EXPECT_FALSE(IsDirectory(blocked.folder));
      EXPECT_EQ(logfiles::ReadAll(blocked.folder), kBlockerContent);
      EXPECT_FALSE(logfiles::Exists(files.file));
    }
    // The folders are back, and the next failure is logged again.
    ASSERT_TRUE(IsDirectory(files.productFolder));
    HostSession host(plugin, kLogPrinter, L"log-restored.prn");
    host.Initialize();
    EXPECT_FALSE(host.Header(kTooNarrow, kLogPageLength));
    EXPECT_EQ(logfiles::SplitLines(logfiles::ReadAll(files.file)).size(), 2u);
  }
}

}  // namespace
