#include "durable_file.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace streamcheck::serve {

namespace {

constexpr const char* kTemporarySuffix = ".part-new";

bool SyncToDisk(std::FILE* file) {
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

bool ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
#ifdef _WIN32
  return MoveFileExW(from.wstring().c_str(), to.wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return std::rename(from.string().c_str(), to.string().c_str()) == 0;
#endif
}

}  // namespace

bool IsTemporaryName(const std::string& name) {
  const std::string suffix = kTemporarySuffix;
  return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::filesystem::path TemporaryPath(const std::filesystem::path& path) { return path.string() + kTemporarySuffix; }

DurableWriter::DurableWriter(std::filesystem::path path) : path_(std::move(path)), temporary_(TemporaryPath(path_)) {
#ifdef _WIN32
  file_ = _wfopen(temporary_.wstring().c_str(), L"wb");
#else
  file_ = std::fopen(temporary_.string().c_str(), "wb");
#endif
  failed_ = file_ == nullptr;
}

DurableWriter::~DurableWriter() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  std::error_code ec;
  std::filesystem::remove(temporary_, ec);
}

bool DurableWriter::Write(std::string_view bytes) {
  if (failed_) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
  size_ += bytes.size();
  return !failed_;
}

bool DurableWriter::Commit(std::string& error) {
  const std::string name = path_.filename().string();
  if (failed_ || std::fflush(file_) != 0 || !SyncToDisk(file_)) {
    error = "cannot write " + name;
    return false;
  }
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed || !ReplaceFile(temporary_, path_)) {
    std::error_code ec;
    std::filesystem::remove(temporary_, ec);
    error = "cannot put " + name + " in place";
    return false;
  }
  return true;
}

bool WriteDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error) {
  DurableWriter writer(path);
  writer.Write(bytes);
  return writer.Commit(error);
}

}  // namespace streamcheck::serve
