// One of our programs run by a Windows test: started from the test's folder
// with its standard output and error in a file, ended (terminated if still
// running) and its process handle released when the owner goes.
#pragma once
#include <windows.h>

#include <filesystem>
#include <string>

#include "platform/win32/unique_handle.h"
#include "support/win32/test_files.h"

// How long a test waits for one of our programs to finish its job.
inline constexpr DWORD kProgramWaitMs = 120000;

class TestProgram {
 public:
  TestProgram(const std::wstring& name, const std::wstring& arguments, const std::filesystem::path& output) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueFile out(CreateFileW(output.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return;
    std::wstring command = L"\"" + ProgramFolder() + name + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
      process_.reset(info.hProcess);
      CloseHandle(info.hThread);
    }
  }
  ~TestProgram() {
    if (process_) {
      TerminateProcess(process_.get(), kTerminated);
      WaitForSingleObject(process_.get(), kEndWaitMs);
    }
  }
  TestProgram(const TestProgram&) = delete;
  TestProgram& operator=(const TestProgram&) = delete;

  bool Started() const { return static_cast<bool>(process_); }
  // Its exit code once it has ended, or -1 when it is still running after
  // `waitMs` (it is then terminated when the owner goes).
  long Wait(DWORD waitMs) {
    if (!process_ || WaitForSingleObject(process_.get(), waitMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    process_.reset();
    return static_cast<long>(code);
  }

 private:
  static constexpr UINT kTerminated = 9;
  static constexpr DWORD kEndWaitMs = 10000;
  UniqueAny<handle_traits::Kernel> process_;
};
