#include "job_script.h"

#include <windows.h>

namespace {
std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
  return wide;
}
}  // namespace

bool ParseJobScript(const std::string& text, std::vector<ScriptLine>& lines, std::wstring& error) {
  const std::wstring all = Widen(text);
  int number = 0;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(L'\n', start);
    if (end == std::wstring::npos) end = all.size();
    std::wstring line = all.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    ScriptLine parsed;
    parsed.number = number;
    size_t i = 0;
    while (i < line.size()) {
      if (line[i] == L' ' || line[i] == L'\t') {
        ++i;
        continue;
      }
      if (line[i] == L'#' && parsed.words.empty()) break;
      std::wstring word;
      if (line[i] == L'"') {
        ++i;
        bool closed = false;
        while (i < line.size()) {
          if (line[i] == L'"') {
            closed = true;
            ++i;
            break;
          }
          if (line[i] == L'\\' && i + 1 < line.size()) {
            ++i;
            word.push_back(line[i] == L'n' ? L'\n' : line[i]);
          } else {
            word.push_back(line[i]);
          }
          ++i;
        }
        if (!closed) {
          error = L"line " + std::to_wstring(number) + L": unterminated quote";
          return false;
        }
      } else {
        while (i < line.size() && line[i] != L' ' && line[i] != L'\t') word.push_back(line[i++]);
      }
      parsed.words.push_back(word);
    }
    if (!parsed.words.empty()) lines.push_back(std::move(parsed));
    if (end == all.size()) break;
  }
  return true;
}
