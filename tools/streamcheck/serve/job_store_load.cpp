// The store's start on a folder an earlier run used: its own job folders are
// read back, whatever state the last run left them in.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <system_error>

#include "durable_file.h"
#include "job_store.h"
#include "store_files.h"

namespace streamcheck::serve {

namespace {

// What a job's folder holds: its bytes, with the leftovers of a write a crash
// cut short removed.
size_t FolderBytes(const std::filesystem::path& folder) {
  size_t bytes = 0;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code fileEc;
    if (IsTemporaryName(it->path().filename().string())) {
      std::filesystem::remove(it->path(), fileEc);
      continue;
    }
    const auto size = it->is_regular_file(fileEc) ? it->file_size(fileEc) : 0;
    if (!fileEc) bytes += static_cast<size_t>(size);
  }
  return bytes;
}

std::optional<size_t> FileSize(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return std::nullopt;
  return static_cast<size_t>(size);
}

// The record as written, or why not.
std::optional<JobRecord> ReadRecord(const std::filesystem::path& path, uint64_t id, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "is missing";
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  const nlohmann::json json = nlohmann::json::parse(text.str(), nullptr, false);
  std::optional<JobRecord> job = json.is_discarded() ? std::nullopt : JobFromJson(json);
  if (!job || job->id != id) {
    why = "is damaged";
    return std::nullopt;
  }
  return job;
}

// A job the last run left unfinished: what reached the disk, not printed here.
void Interrupt(JobRecord& job, const std::filesystem::path& folder) {
  if (job.state == JobState::Arriving) {
    // The bytes its spool file kept are the stream as far as it came.
    std::error_code ec;
    const std::filesystem::path spool = folder / kSpoolName;
    if (std::filesystem::exists(spool, ec)) std::filesystem::rename(spool, folder / kStreamName, ec);
    const std::optional<size_t> bytes = FileSize(folder / kStreamName);
    job.streamStored = bytes.has_value();
    job.bytes = bytes.value_or(0);
    job.faults.push_back({std::nullopt, FaultText::CutWhileArriving(job.bytes), {}, {}});
  } else if (job.state == JobState::Waiting || job.state == JobState::Printing) {
    job.faults.push_back({std::nullopt, FaultText::CutBeforePrinted(), {}, {}});
  }
  job.state = JobState::Interrupted;
}

}  // namespace

JobRecord JobStore::LoadJob(uint64_t id, bool& rewrite) {
  const std::filesystem::path folder = Folder(id);
  std::string why;
  std::optional<JobRecord> read = ReadRecord(folder / kRecordName, id, why);
  JobRecord job;
  if (read) {
    job = std::move(*read);
    rewrite = !job.Settled() || !job.picturesDone || job.forward.state == ForwardState::Sending;
    if (!job.Settled()) Interrupt(job, folder);
  } else {
    job.id = id;
    job.state = JobState::Damaged;
    job.source = "an earlier run";
    job.faults.push_back({std::nullopt, FaultText::DamagedRecord(why), {}, {}});
    const std::optional<size_t> bytes = FileSize(folder / kStreamName);
    job.streamStored = bytes.has_value();
    job.bytes = bytes.value_or(0);
  }
  // Pictures a crash kept from being filed are missing; none is pending any more.
  for (LabelRecord& label : job.labels) {
    const bool there = label.picture != PictureState::Missing && FileSize(folder / LabelFileName(label.number));
    label.picture = there ? PictureState::Stored : PictureState::Missing;
  }
  job.picturesDone = true;
  if (job.forward.state == ForwardState::Sending) {
    // Some of it may have reached the printer: only the user may send it again.
    job.forward.state = ForwardState::Interrupted;
    job.forward.reason = FaultText::CutWhileSending();
  }
  if (job.forward.state == ForwardState::Waiting && !job.streamStored) job.forward.state = ForwardState::None;
  job.storedBytes = FolderBytes(folder);
  job.recordBytes = read ? FileSize(folder / kRecordName).value_or(0) : 0;
  return job;
}

void JobStore::Load() {
  std::vector<uint64_t> ids;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(out_, ec), end; !ec && it != end; it.increment(ec)) {
    const uint64_t number = JobFolderNumber(it->path().filename().string());
    if (number == 0) continue;
    std::error_code dirEc;
    if (it->is_directory(dirEc)) ids.push_back(number);
    nextId_ = std::max(nextId_, number + 1);  // new jobs count on after every folder of ours
  }
  std::sort(ids.begin(), ids.end());
  std::lock_guard lock(mutex_);
  for (const uint64_t id : ids) {
    bool rewrite = false;
    JobRecord job = LoadJob(id, rewrite);
    nextForward_ = std::max(nextForward_, job.forward.order + 1);
    storedBytes_ += job.storedBytes;
    jobs_.push_back(std::move(job));
    // Written back as found, so that the next start reads what this one shows.
    if (rewrite) WriteRecord(jobs_.back());
  }
  earlierJobs_ = jobs_.size();
  DropOldJobs();
  Changed();
}

}  // namespace streamcheck::serve
