// The diagnostic log's files as the tests see them: where they are, reading
// them back line by line, and starting from a machine that has never logged.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace logfiles {

struct LogFiles {
  std::wstring vendorFolder;
  std::wstring productFolder;
  std::wstring file;
  std::wstring backup;
};

// The log's folders and files below this prefix's common application-data folder.
LogFiles Files();

bool Exists(const std::wstring& path);
// The whole file, or "" when it cannot be opened.
std::string ReadAll(const std::wstring& path);
// Removes the file, its backup and both folders.
void RemoveLog(const LogFiles& files);
// The lines of a log's content, without their CR LF.
std::vector<std::string> SplitLines(const std::string& content);
// One line (without CR LF): a time stamp, then tag, module, source and message.
testing::AssertionResult IsLogLine(const std::string& line, const std::string& source, const std::string& message);

}  // namespace logfiles
