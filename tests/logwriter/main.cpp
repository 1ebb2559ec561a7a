// qvr_logwriter: another process for the log tests.
//   qvr_logwriter write <count> <source> <start event>
//       waits for the named event, then writes <count> lines under <source>.
//   qvr_logwriter hold <ready event> <release event>
//       takes the log mutex, signals <ready event>, keeps the mutex until
//       <release event> is signalled, then releases it.
//   qvr_logwriter abandon <ready event>
//       takes the log mutex, signals <ready event> and ends without releasing it.
// Exit code 0 when the work was done, 2 for bad arguments, 1 for a failed step.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "frame/win32/file_log.h"
#include "frame/win32/log_mutex.h"

namespace {

constexpr DWORD kStepWaitMs = 60000;

std::wstring Widen(const char* text) { return std::wstring(text, text + std::strlen(text)); }

// The message of every line this writer makes: long enough that torn writes would show.
std::u16string MessageFor(const std::u16string& source) {
  std::u16string message = u"ERROR: from " + source + u" ";
  message.append(600, source.empty() ? u'x' : source[0]);
  return message;
}

bool WaitForEvent(const char* name) {
  HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, Widen(name).c_str());
  if (event == nullptr) return false;
  const bool signalled = WaitForSingleObject(event, kStepWaitMs) == WAIT_OBJECT_0;
  CloseHandle(event);
  return signalled;
}

bool SignalEvent(const char* name) {
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, Widen(name).c_str());
  if (event == nullptr) return false;
  const bool set = SetEvent(event) != FALSE;
  CloseHandle(event);
  return set;
}

int Write(int count, const char* sourceText, const char* startEvent) {
  const std::u16string source(sourceText, sourceText + std::strlen(sourceText));
  const std::u16string message = MessageFor(source);
  if (!WaitForEvent(startEvent)) return 1;
  FileLog log;
  for (int i = 0; i < count; ++i) log.WriteLogEntry(message, source);
  return 0;
}

int Hold(const char* readyEvent, const char* releaseEvent, bool release) {
  UniqueMutex mutex = OpenLogMutex();
  if (!mutex) return 1;
  const DWORD wait = WaitForSingleObject(mutex.get(), kStepWaitMs);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) return 1;
  if (!SignalEvent(readyEvent)) return 1;
  if (!release) ExitProcess(0);  // ends while owning the mutex: it becomes abandoned
  const bool released = WaitForEvent(releaseEvent);
  ReleaseMutex(mutex.get());
  return released ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "write") == 0) return Write(std::atoi(argv[2]), argv[3], argv[4]);
  if (argc == 4 && std::strcmp(argv[1], "hold") == 0) return Hold(argv[2], argv[3], true);
  if (argc == 3 && std::strcmp(argv[1], "abandon") == 0) return Hold(argv[2], nullptr, false);
  return 2;
}
