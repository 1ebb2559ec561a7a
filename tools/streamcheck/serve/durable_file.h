// Files that must survive a crash of the server (job records, streams,
// pictures): written under a temporary name in the same folder, flushed to
// the disk and renamed into place, so that a reader finds the old file or the
// new one whole, never a part.
#pragma once
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace streamcheck::serve {

// The temporary names these writes use: a reader skips them, and a start
// after a crash removes them.
bool IsTemporaryName(const std::string& name);
std::filesystem::path TemporaryPath(const std::filesystem::path& path);

// Writes `bytes` as `path`; false with `error` set (the old file, if any, stays).
bool WriteDurably(const std::filesystem::path& path, std::string_view bytes, std::string& error);

// A file written a piece at a time, put in place by Commit. Not committed: removed.
class DurableWriter {
 public:
  explicit DurableWriter(std::filesystem::path path);
  ~DurableWriter();
  DurableWriter(const DurableWriter&) = delete;
  DurableWriter& operator=(const DurableWriter&) = delete;

  bool Write(std::string_view bytes);
  // Flushes, syncs and renames into place; false with `error` set.
  bool Commit(std::string& error);
  size_t Size() const { return size_; }

 private:
  std::filesystem::path path_;
  std::filesystem::path temporary_;
  std::FILE* file_ = nullptr;
  size_t size_ = 0;
  bool failed_ = false;
};

}  // namespace streamcheck::serve
