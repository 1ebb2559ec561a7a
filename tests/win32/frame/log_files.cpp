#include "win32/frame/log_files.h"

#include <windows.h>
// After windows.h:
#include <shlobj.h>

#include <regex>

#include "frame/log_line.h"
#include "platform/win32/text_casts.h"
#include "platform/win32/unique_handle.h"

namespace logfiles {

LogFiles Files() {
  wchar_t appData[MAX_PATH] = {};
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
  LogPaths paths;
  EXPECT_TRUE(BuildLogPaths(AsU16(appData), paths));
  const std::wstring file = AsWide(paths.file);
  return {AsWide(paths.vendorFolder), AsWide(paths.productFolder), file, file + L".bak"};
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadAll(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string content;
  if (!file) return content;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) content.append(chunk, got);
  return content;
}

void RemoveLog(const LogFiles& files) {
  DeleteFileW(files.file.c_str());
  DeleteFileW(files.backup.c_str());
  RemoveDirectoryW(files.productFolder.c_str());
  RemoveDirectoryW(files.vendorFolder.c_str());
  ASSERT_FALSE(Exists(files.vendorFolder));
}

std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(content.substr(start, end - start));
  }
  EXPECT_EQ(start, content.size()) << "text after the last CR LF";
  return lines;
}

testing::AssertionResult IsLogLine(const std::string& line, const std::string& source, const std::string& message) {
  static const std::regex stamp(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}\.\d{3})");
  constexpr size_t kStampChars = 23;
  if (line.size() < kStampChars || !std::regex_match(line.substr(0, kStampChars), stamp)) {
    return testing::AssertionFailure() << "no time stamp: " << line.substr(0, 80);
  }
  const std::string rest = line.substr(kStampChars);
  const std::string expected = ",NOVRA_QVR,QVR_PLUGIN_ZK-R41x0," + source + "," + message;
  if (rest != expected) return testing::AssertionFailure() << "line ends '" << rest.substr(0, 120) << "'";
  return testing::AssertionSuccess();
}

}  // namespace logfiles
