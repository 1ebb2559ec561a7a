#include "spool.h"

#include <algorithm>
#include <vector>

namespace streamcheck::serve {

namespace {
constexpr size_t kReadPiece = 64 * 1024;
}

bool SpoolBudget::Take(size_t bytes) {
  size_t used = used_.load();
  do {
    if (bytes > limit_ || used > limit_ - bytes) return false;
  } while (!used_.compare_exchange_weak(used, used + bytes));
  return true;
}

Spool::~Spool() {
  budget_.Give(taken_);
  if (file_ != nullptr) {
    std::fclose(file_);
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

bool Spool::MoveToFile(std::string& error) {
  file_ = std::fopen(path_.string().c_str(), "w+b");
  if (file_ == nullptr) {
    error = "cannot open the spool file " + path_.filename().string();
    return false;
  }
  if (!memory_.empty() && std::fwrite(memory_.data(), 1, memory_.size(), file_) != memory_.size()) {
    error = "cannot write the spool file " + path_.filename().string();
    return false;
  }
  std::string().swap(memory_);
  budget_.Give(taken_);
  taken_ = 0;
  return true;
}

bool Spool::Append(std::string_view bytes, std::string& error) {
  if (file_ == nullptr) {
    if (memory_.size() + bytes.size() <= memoryLimit_ && budget_.Take(bytes.size())) {
      taken_ += bytes.size();
      memory_.append(bytes);
      size_ += bytes.size();
      return true;
    }
    if (!MoveToFile(error)) return false;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    error = "cannot write the spool file " + path_.filename().string();
    return false;
  }
  size_ += bytes.size();
  return true;
}

bool Spool::Read(const std::function<bool(std::string_view)>& take, std::string& error) {
  if (file_ == nullptr) {
    for (size_t at = 0; at < memory_.size(); at += kReadPiece) {
      if (!take(std::string_view(memory_).substr(at, kReadPiece))) return true;
    }
    return true;
  }
  if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
    error = "cannot read the spool file back";
    return false;
  }
  std::vector<char> piece(kReadPiece);
  for (size_t left = size_; left > 0;) {
    const size_t n = std::fread(piece.data(), 1, std::min(left, piece.size()), file_);
    if (n == 0) {
      error = "cannot read the spool file back";
      return false;
    }
    left -= n;
    if (!take(std::string_view(piece.data(), n))) return true;
  }
  return true;
}

}  // namespace streamcheck::serve
