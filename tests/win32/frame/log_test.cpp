// The diagnostic log against the real file system, named mutex and other
// processes (qvr_logwriter), and through the plug-in DLL as the host loads it.
#include <windows.h>
// After windows.h:
#include <aclapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame/report_error.h"
#include "frame/win32/file_log.h"
#include "frame/win32/log_mutex.h"
#include "platform/win32/unique_handle.h"
#include "win32/frame/log_files.h"
#include "support/win32/test_files.h"

namespace {

using namespace logfiles;

constexpr DWORD kChildWaitMs = 300000;
constexpr size_t kExactlyBelowRotation = 5'238'784;

void WriteAll(const std::wstring& path, const std::string& content) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &done, nullptr));
  ASSERT_EQ(done, content.size());
}

std::string LocalStamp() {
  SYSTEMTIME t{};
  GetLocalTime(&t);
  char stamp[32];
  wsprintfA(stamp, "%04d/%02d/%02d %02d:%02d:%02d.%03d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
            t.wMilliseconds);
  return stamp;
}

// A named event unique to this test process.
struct TestEvent {
  explicit TestEvent(const char* purpose) {
    name = "qvr_log_test_" + std::to_string(GetCurrentProcessId()) + "_" + purpose;
    handle.reset(CreateEventA(nullptr, TRUE, FALSE, name.c_str()));
  }
  std::string name;
  UniqueAny<handle_traits::Kernel> handle;
};

// A qvr_logwriter child process.
class LogWriterProcess {
 public:
  explicit LogWriterProcess(const std::string& arguments) {
    std::wstring command =
        L"\"" + ProgramFolder() + L"qvr_logwriter.exe\" " + std::wstring(arguments.begin(), arguments.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    if (started_) {
      process_.reset(info.hProcess);
      CloseHandle(info.hThread);
    }
  }
  bool started() const { return started_ != FALSE; }
  // The exit code, or -1 when the process did not end in time.
  long Wait() {
    if (!started_ || WaitForSingleObject(process_.get(), kChildWaitMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return static_cast<long>(code);
  }
  ~LogWriterProcess() {
    if (started_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 9);
  }

 private:
  BOOL started_ = FALSE;
  UniqueAny<handle_traits::Kernel> process_;
};

bool WaitFor(const TestEvent& event) { return WaitForSingleObject(event.handle.get(), 60000) == WAIT_OBJECT_0; }

}  // namespace

TEST(FileLog, FirstLineCreatesBothFoldersAndTheFile) {
  const LogFiles files = Files();
  RemoveLog(files);
  FileLog log;
  log.WriteLogEntry(u"ERROR: 1", u"lpxCreateNewPage");
  EXPECT_TRUE(Exists(files.vendorFolder));
  EXPECT_TRUE(Exists(files.productFolder));
  const std::vector<std::string> lines = SplitLines(ReadAll(files.file));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLine(lines[0], "lpxCreateNewPage", "ERROR: 1"));
}

TEST(FileLog, ReportErrorAppendsTimeStampedLinesEndingInCrLf) {
  const LogFiles files = Files();
  RemoveLog(files);
  FileLog log;
  const std::string before = LocalStamp();
  EXPECT_EQ(ReportError(log, 304, u"lpxWritePrinter"), kFormatOk);
  const std::string after = LocalStamp();
  EXPECT_EQ(ReportError(log, -2147483647 - 1, u"lpxCloseNewPageFinal"), kFormatOk);

  const std::string content = ReadAll(files.file);
  const std::vector<std::string> lines = SplitLines(content);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(IsLogLine(lines[0], "lpxWritePrinter", "ERROR: 304"));
  EXPECT_TRUE(IsLogLine(lines[1], "lpxCloseNewPageFinal", "ERROR: -2147483648"));
  const std::string stamp = lines[0].substr(0, 23);
  EXPECT_LE(before, stamp);
  EXPECT_GE(after, stamp);
  EXPECT_EQ(content.substr(lines[0].size() - 27, 29), ",lpxWritePrinter,ERROR: 304\r\n");
}

TEST(FileLog, LineFeedAndPercentSignsStayInsideTheLine) {
  const LogFiles files = Files();
  RemoveLog(files);
  FileLog log;
  log.WriteLogEntry(u"ERROR:\nPaper is too short to cut", u"lpxWritePrintJobHeader");
  log.WriteLogEntry(u"100%d %s%%", u"lpxWritePrintJobHeader");
  const std::vector<std::string> lines = SplitLines(ReadAll(files.file));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(IsLogLine(lines[0], "lpxWritePrintJobHeader", "ERROR:\nPaper is too short to cut"));
  EXPECT_TRUE(IsLogLine(lines[1], "lpxWritePrintJobHeader", "100%d %s%%"));
}

TEST(FileLog, LongMessageAndLineAreCutButWritten) {
  const LogFiles files = Files();
  RemoveLog(files);
  FileLog log;
  log.WriteLogEntry(std::u16string(3000, u'm'), u"lpxWritePrinter");
  log.WriteLogEntry(std::u16string(1000, u'm'), std::u16string(1500, u's'));
  const std::vector<std::string> lines = SplitLines(ReadAll(files.file));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(IsLogLine(lines[0], "lpxWritePrinter", std::string(kLogMessageChars - 1, 'm')));
  ASSERT_EQ(lines[1].size(), kLogLineChars - 1);
  EXPECT_EQ(lines[1].back(), 'm');
}

TEST(FileLog, TextIsWrittenInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "expectations written for code page 1252, this system uses " << GetACP();
  const LogFiles files = Files();
  RemoveLog(files);
  FileLog log;
  // U+00E9 exists in the code page; U+0416 does not and becomes its default character.
  log.WriteLogEntry(u"caf\u00e9 \u0416", u"lpxWriteClock");
  const std::vector<std::string> lines = SplitLines(ReadAll(files.file));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLine(lines[0], "lpxWriteClock", "caf\xe9 ?"));
}

TEST(FileLog, RotatesToOneBackupOnlyPastTheLimit) {
  const LogFiles files = Files();
  RemoveLog(files);
  FileLog log;
  log.WriteLogEntry(u"ERROR: 0", u"setup");  // makes the folders
  const std::string full(kExactlyBelowRotation, 'x');
  WriteAll(files.file, full);
  log.WriteLogEntry(u"ERROR: 1", u"append");
  std::string content = ReadAll(files.file);
  ASSERT_GT(content.size(), full.size());
  EXPECT_EQ(content.compare(0, full.size(), full), 0);
  std::vector<std::string> lines = SplitLines(content.substr(full.size()));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLine(lines[0], "append", "ERROR: 1"));
  EXPECT_FALSE(Exists(files.backup));

  // One byte more: the old content becomes the backup, replacing an older one.
  WriteAll(files.backup, "an older backup\r\n");
  const std::string over(kExactlyBelowRotation + 1, 'y');
  WriteAll(files.file, over);
  log.WriteLogEntry(u"ERROR: 2", u"rotate");
  EXPECT_TRUE(ReadAll(files.backup) == over) << "backup does not hold the rotated content";
  lines = SplitLines(ReadAll(files.file));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLine(lines[0], "rotate", "ERROR: 2"));
}

TEST(LogMutex, IsOneNamedMutexThatGrantsEveryoneFullAccess) {
  UniqueMutex first = OpenLogMutex();
  ASSERT_TRUE(first);
  UniqueMutex second = OpenLogMutex();
  ASSERT_TRUE(second);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));

  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(first.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  EXPECT_EQ(dacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, &ace));
  auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(allowed->Mask, kLogMutexAccess);
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  UniqueSid everyone;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put()));
  EXPECT_TRUE(EqualSid(&allowed->SidStart, everyone.get()));
  LocalFree(descriptor);
}

TEST(FileLog, TwoProcessesWritingAtOnceLeaveWholeLines) {
  constexpr int kLinesEach = 500;
  const LogFiles files = Files();
  RemoveLog(files);
  TestEvent start("start");
  LogWriterProcess a("write " + std::to_string(kLinesEach) + " A " + start.name);
  LogWriterProcess b("write " + std::to_string(kLinesEach) + " B " + start.name);
  ASSERT_TRUE(a.started() && b.started());
  SetEvent(start.handle.get());
  ASSERT_EQ(a.Wait(), 0);
  ASSERT_EQ(b.Wait(), 0);

  const std::vector<std::string> lines = SplitLines(ReadAll(files.file));
  ASSERT_EQ(lines.size(), 2u * kLinesEach);
  int fromA = 0;
  int fromB = 0;
  for (const std::string& line : lines) {
    // What qvr_logwriter writes: "ERROR: from <source> " and 600 copies of the source letter.
    const bool isA = IsLogLine(line, "A", "ERROR: from A " + std::string(600, 'A'));
    const bool isB = IsLogLine(line, "B", "ERROR: from B " + std::string(600, 'B'));
    ASSERT_TRUE(isA || isB) << "torn line: " << line.substr(0, 100);
    (isA ? fromA : fromB)++;
  }
  EXPECT_EQ(fromA, kLinesEach);
  EXPECT_EQ(fromB, kLinesEach);
}

namespace {
DWORD WINAPI WriteOneLine(void*) {
  FileLog log;
  log.WriteLogEntry(u"ERROR: 5", u"blocked");
  return 0;
}
}  // namespace

TEST(FileLog, WriterGivesUpWhileAnotherProcessHoldsTheLock) {
  const LogFiles files = Files();
  RemoveLog(files);
  TestEvent ready("ready");
  TestEvent release("release");
  LogWriterProcess holder("hold " + ready.name + " " + release.name);
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(WaitFor(ready));

  const ULONGLONG began = GetTickCount64();
  UniqueAny<handle_traits::Kernel> writer(CreateThread(nullptr, 0, WriteOneLine, nullptr, 0, nullptr));
  ASSERT_TRUE(writer);
  const bool returned = WaitForSingleObject(writer.get(), 60000) == WAIT_OBJECT_0;
  const ULONGLONG waited = GetTickCount64() - began;
  SetEvent(release.handle.get());
  ASSERT_TRUE(returned) << "the writer hangs on a held lock";
  EXPECT_GE(waited + 250, kLogLockWaitMs) << "gave up without waiting";
  EXPECT_EQ(ReadAll(files.file), "");
  ASSERT_EQ(holder.Wait(), 0);

  // Once the lock is free again, lines are written as usual.
  FileLog log;
  log.WriteLogEntry(u"ERROR: 6", u"free");
  const std::vector<std::string> lines = SplitLines(ReadAll(files.file));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLine(lines[0], "free", "ERROR: 6"));
}

TEST(FileLog, LockAbandonedByAnEndedProcessIsTakenOver) {
  const LogFiles files = Files();
  RemoveLog(files);
  TestEvent ready("abandon");
  LogWriterProcess holder("abandon " + ready.name);
  ASSERT_TRUE(holder.started());
  ASSERT_TRUE(WaitFor(ready));
  ASSERT_EQ(holder.Wait(), 0);
  FileLog log;
  log.WriteLogEntry(u"ERROR: 7", u"after");
  const std::vector<std::string> lines = SplitLines(ReadAll(files.file));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLine(lines[0], "after", "ERROR: 7"));
}

// The host's view: the DLL loaded by name, the object called through its table.
TEST(PluginLog, FailedOperationIsLoggedUnderItsName) {
  using CreateFn = void* (*)();
  using DestroySlot = void* (*)(void* self, unsigned flags);                                        // slot 0
  using InitializeSlot = void (*)(void* self, HANDLE printer, const void* job, const void* extra);  // slot 2
  constexpr size_t kDestroySlot = 0;
  constexpr size_t kInitializeSlot = 2;

  const LogFiles files = Files();
  RemoveLog(files);
  HMODULE dll = LoadLibraryW((ProgramFolder() + L"QVR_PLUGIN_ZK-R41x0.dll").c_str());
  ASSERT_NE(dll, nullptr);
  auto create = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(dll, "CreatePluginObject")));
  ASSERT_NE(create, nullptr);
  void* object = create();
  ASSERT_NE(object, nullptr);
  void** table = *static_cast<void***>(object);
  reinterpret_cast<InitializeSlot>(table[kInitializeSlot])(object, nullptr, nullptr, nullptr);
  reinterpret_cast<DestroySlot>(table[kDestroySlot])(object, 1);
  FreeLibrary(dll);

  const std::vector<std::string> lines = SplitLines(ReadAll(files.file));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLine(lines[0], "lpxInitialize", "ERROR: 101"));
}
