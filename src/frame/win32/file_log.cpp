#include "frame/win32/file_log.h"

// Interim: the log file arrives with the diagnostic log work.
void FileLog::WriteLogEntry(std::u16string_view, std::u16string_view) noexcept {}
