#include "job_store.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <system_error>

#include "durable_file.h"
#include "job_summary.h"
#include "store_files.h"

namespace streamcheck::serve {

namespace {

// Stream bytes as the page shows them: printable ASCII as it is, the rest as \xNN.
std::string Printable(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      text += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      text += escaped;
    }
  }
  return text;
}

// A fault's message as stored: long enough for any of ours, cut when it
// quotes a client's bytes at length.
std::string Bounded(std::string message) {
  constexpr size_t kMostMessage = 600;
  if (message.size() > kMostMessage) message = message.substr(0, kMostMessage) + "… (cut)";
  return message;
}

}  // namespace

JobStore::JobStore(std::filesystem::path out, StoreLimits limits, std::string forwardTo)
    : out_(std::move(out)), limits_(limits), forwardTo_(std::move(forwardTo)) {
  std::random_device random;
  char token[24];
  std::snprintf(token, sizeof token, "%08x%08x", random(), random());
  runToken_ = token;
  Load();
}

std::filesystem::path JobStore::Folder(uint64_t id) const { return out_ / JobFolderName(id); }

JobRecord* JobStore::Find(uint64_t id) {
  const auto found = std::find_if(jobs_.begin(), jobs_.end(), [id](const JobRecord& job) { return job.id == id; });
  return found == jobs_.end() ? nullptr : &*found;
}

const JobRecord* JobStore::Find(uint64_t id) const {
  const auto found = std::find_if(jobs_.begin(), jobs_.end(), [id](const JobRecord& job) { return job.id == id; });
  return found == jobs_.end() ? nullptr : &*found;
}

void JobStore::Changed() {
  ++version_;
  changed_.notify_all();
}

std::optional<uint64_t> JobStore::Begin(const std::string& source, const std::string& via) {
  std::lock_guard lock(mutex_);
  if (FullOfHeldJobs()) return std::nullopt;
  JobRecord job;
  job.id = nextId_++;
  job.received = UtcNow();
  job.source = source;
  job.via = via;
  std::error_code ec;
  std::filesystem::create_directories(Folder(job.id), ec);
  if (ec) job.faults.push_back({std::nullopt, FaultText::CannotCreateFolder(ec.message()), {}, {}});
  jobs_.push_back(std::move(job));
  WriteRecord(jobs_.back());  // a crash from now on leaves it interrupted, not unknown
  Changed();
  return jobs_.back().id;
}

void JobStore::Describe(uint64_t id, const std::string& title, const std::string& user) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr) return;
  job->title = title;
  job->user = user;
  Changed();
}

void JobStore::Arrived(uint64_t id, size_t bytes) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr || job->state != JobState::Arriving) return;
  job->bytes = bytes;
  Changed();
}

bool JobStore::Received(uint64_t id, Spool& spool, const std::vector<std::string>& faults) {
  // The stream is written outside the lock: the job's folder is its receiver's alone until now.
  std::string error;
  DurableWriter writer(Folder(id) / kStreamName);
  const bool read = spool.Read([&](std::string_view piece) { return writer.Write(piece); }, error);
  const bool stored = read && writer.Commit(error);
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr) return false;
  for (const std::string& fault : faults) job->faults.push_back({std::nullopt, Bounded(fault), {}, {}});
  if (!stored) job->faults.push_back({std::nullopt, error, {}, {}});
  job->bytes = spool.Size();
  job->state = JobState::Waiting;
  job->streamStored = stored;
  job->storedBytes += stored ? writer.Size() : 0;
  storedBytes_ += stored ? writer.Size() : 0;
  // Only a job stored whole goes on: the printer behind gets what this one got.
  if (!forwardTo_.empty() && stored) {
    job->forward.state = ForwardState::Waiting;
    job->forward.order = nextForward_++;
    job->forward.total = writer.Size();
  }
  WriteRecord(*job);
  Changed();
  return stored;
}

void JobStore::Printing(uint64_t id, bool freshPrinter) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr) return;
  job->state = JobState::Printing;
  job->freshPrinter = freshPrinter;
  Changed();
}

size_t JobStore::WriteFile(JobRecord& job, const std::filesystem::path& path, std::string_view bytes) {
  std::string error;
  if (!WriteDurably(path, bytes, error)) {
    job.faults.push_back({std::nullopt, error, {}, {}});
    return 0;
  }
  return bytes.size();
}

LabelRecord* JobStore::FindLabel(JobRecord& job, size_t number) {
  // Labels are recorded in order, numbered from 1.
  if (number >= 1 && number <= job.labels.size() && job.labels[number - 1].number == number) {
    return &job.labels[number - 1];
  }
  const auto found = std::find_if(job.labels.begin(), job.labels.end(),
                                  [number](const LabelRecord& label) { return label.number == number; });
  return found == job.labels.end() ? nullptr : &*found;
}

void JobStore::AddLabel(uint64_t id, const PrintedLabel& label, size_t sameAs) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr) return;
  constexpr size_t kMostAreasListed = 64;
  // Once the server stops, no picture will come.
  LabelRecord record{label.number,
                     label.offset,
                     label.picture.width,
                     label.picture.height,
                     abandoned_ ? PictureState::Missing : PictureState::Pending,
                     sameAs,
                     {},
                     0};
  record.areaCount = label.areas.size();
  record.areas.assign(label.areas.begin(), label.areas.begin() + std::min(label.areas.size(), kMostAreasListed));
  job->labels.push_back(std::move(record));
  Changed();
}

// Ends a pending picture: stored, or missing. Readers waiting for it go on;
// the page hears of it only when its address goes.
void JobStore::SettlePicture(LabelRecord& label, bool stored) {
  label.picture = stored ? PictureState::Stored : PictureState::Missing;
  pictures_.notify_all();
  if (label.picture == PictureState::Missing) Changed();
}

size_t JobStore::AddPicture(uint64_t id, size_t number, const std::vector<uint8_t>& png) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  LabelRecord* label = job != nullptr ? FindLabel(*job, number) : nullptr;
  if (label == nullptr || label->picture != PictureState::Pending) return 0;
  const size_t written = WriteFile(*job, Folder(id) / LabelFileName(number),
                                   std::string_view(reinterpret_cast<const char*>(png.data()), png.size()));
  job->storedBytes += written;
  storedBytes_ += written;
  SettlePicture(*label, written > 0);
  DropOldJobs();  // last: it may drop this very job
  return written;
}

size_t JobStore::SharePicture(uint64_t id, size_t number, size_t sameAs) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  LabelRecord* label = job != nullptr ? FindLabel(*job, number) : nullptr;
  const LabelRecord* shown = job != nullptr ? FindLabel(*job, sameAs) : nullptr;
  if (label == nullptr || label->picture != PictureState::Pending) return 0;
  if (shown == nullptr || shown->picture != PictureState::Stored) {
    SettlePicture(*label, false);
    return 0;
  }
  const std::filesystem::path from = Folder(id) / LabelFileName(sameAs), to = Folder(id) / LabelFileName(number);
  const std::optional<size_t> bytes = LinkOrCopy(from, to);
  if (!bytes) job->faults.push_back({std::nullopt, FaultText::CannotWrite(to.filename().string()), {}, {}});
  job->storedBytes += bytes.value_or(0);
  storedBytes_ += bytes.value_or(0);
  SettlePicture(*label, bytes.has_value());
  DropOldJobs();
  return bytes.value_or(0);
}

void JobStore::MissPicture(uint64_t id, size_t number, const std::string& fault) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  LabelRecord* label = job != nullptr ? FindLabel(*job, number) : nullptr;
  if (label == nullptr || label->picture != PictureState::Pending) return;
  if (!fault.empty()) job->faults.push_back({label->offset, Bounded(fault), {}, {}});
  SettlePicture(*label, false);
}

void JobStore::PicturesDone(uint64_t id) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr) return;
  for (LabelRecord& label : job->labels) {
    if (label.picture == PictureState::Pending) label.picture = PictureState::Missing;
  }
  job->picturesDone = true;
  pictures_.notify_all();
  if (job->Settled()) WriteRecord(*job);  // now with every picture in place
  DropOldJobs();
  Changed();
}

void JobStore::AbandonPictures() {
  std::lock_guard lock(mutex_);
  abandoned_ = true;
  for (JobRecord& job : jobs_) {
    if (job.picturesDone) continue;
    for (LabelRecord& label : job.labels) {
      if (label.picture == PictureState::Pending) label.picture = PictureState::Missing;
    }
    job.picturesDone = true;
    if (job.Settled()) WriteRecord(job);  // its labels are marked as without a picture
  }
  pictures_.notify_all();
  Changed();
}

void JobStore::AddFault(uint64_t id, Fault fault) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr) return;
  fault.message = Bounded(std::move(fault.message));
  job->faults.push_back(std::move(fault));
  Changed();
}

void JobStore::Finish(uint64_t id, std::string_view stream, const CheckResult& result,
                      const std::optional<LabelSetup>& inForce, std::chrono::milliseconds took) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr) return;
  job->state = JobState::Finished;
  job->stats = result.stats;
  job->setups = result.stats.setups;
  job->inForce = inForce;
  job->tookMs = took.count();
  if (result.error) job->faults.push_back({result.error->offset, Bounded(result.error->message), {}, {}});
  constexpr size_t kContext = 32;  // bytes shown on either side of a fault's offset
  for (Fault& fault : job->faults) {
    if (!fault.offset || *fault.offset > stream.size() || !fault.before.empty() || !fault.after.empty()) continue;
    const size_t from = *fault.offset - std::min(*fault.offset, kContext);
    fault.before = Printable(stream.substr(from, *fault.offset - from));
    fault.after = Printable(stream.substr(*fault.offset, kContext));
  }
  std::string summary = FormatSummary(result.stats);
  for (const Fault& fault : job->faults) {
    summary += "fault" + (fault.offset ? " at offset " + std::to_string(*fault.offset) : std::string()) + ": " +
               fault.message + "\n";
  }
  const size_t written = WriteFile(*job, Folder(id) / kSummaryName, summary);
  job->storedBytes += written;
  storedBytes_ += written;
  WriteRecord(*job);
  DropOldJobs();
  Changed();
}

// (Re)writes summary.json; the store counts its size once, as last written.
void JobStore::WriteRecord(JobRecord& job) {
  const std::string record = JobJson(job, runToken_).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  const size_t written = WriteFile(job, Folder(job.id) / kRecordName, record);
  const size_t before = std::min(job.recordBytes, job.storedBytes);
  job.storedBytes = job.storedBytes - before + written;
  storedBytes_ = storedBytes_ - std::min(storedBytes_, before) + written;
  job.recordBytes = written;
}

bool JobStore::FullOfHeldJobs() const {
  size_t count = 0, bytes = 0;
  for (const JobRecord& job : jobs_) {
    if (!job.Held()) continue;
    ++count;
    bytes += job.storedBytes;
  }
  return count > 0 && (count >= limits_.maxStoredJobs || bytes >= limits_.maxStoredBytes);
}

void JobStore::DropOldJobs() {
  // The oldest settled jobs go first; jobs still arriving, printing or to go
  // on stay, and so does the newest job, whatever its size.
  for (auto it = jobs_.begin(); it != jobs_.end() && jobs_.size() > 1 && std::next(it) != jobs_.end() &&
                                (jobs_.size() > limits_.maxStoredJobs || storedBytes_ > limits_.maxStoredBytes);) {
    if (!it->Settled() || it->Held()) {
      ++it;
      continue;
    }
    std::error_code ec;
    std::filesystem::remove_all(Folder(it->id), ec);
    storedBytes_ -= std::min(storedBytes_, it->storedBytes);
    it = jobs_.erase(it);
    pictures_.notify_all();  // readers waiting for its pictures
  }
}

std::vector<uint64_t> JobStore::ForwardQueue() const {
  std::lock_guard lock(mutex_);
  std::vector<const JobRecord*> held;
  for (const JobRecord& job : jobs_) {
    if (job.Held()) held.push_back(&job);
  }
  std::sort(held.begin(), held.end(),
            [](const JobRecord* a, const JobRecord* b) { return a->forward.order < b->forward.order; });
  std::vector<uint64_t> ids;
  for (const JobRecord* job : held) ids.push_back(job->id);
  return ids;
}

std::optional<ForwardRecord> JobStore::Forward(uint64_t id) const {
  std::lock_guard lock(mutex_);
  const JobRecord* job = Find(id);
  if (job == nullptr) return std::nullopt;
  return job->forward;
}

void JobStore::SetForward(uint64_t id, const ForwardRecord& forward) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr) return;
  job->forward = forward;
  WriteRecord(*job);
  if (!job->Held()) DropOldJobs();
  Changed();
}

void JobStore::NotePowerCycle() {
  std::lock_guard lock(mutex_);
  ++powerCycles_;
  lastPowerCycle_ = UtcNow();
  Changed();
}

nlohmann::json JobStore::Snapshot() const {
  std::lock_guard lock(mutex_);
  nlohmann::json json{{"version", version_},
                      {"storedBytes", storedBytes_},
                      {"powerCycles", powerCycles_},
                      {"earlierJobs", earlierJobs_},
                      {"forwardTo", forwardTo_}};
  json["lastPowerCycle"] = lastPowerCycle_;
  json["jobs"] = nlohmann::json::array();
  for (auto it = jobs_.rbegin(); it != jobs_.rend(); ++it) json["jobs"].push_back(JobJson(*it, runToken_));
  return json;
}

std::shared_ptr<const std::string> JobStore::SnapshotText() const {
  {
    std::lock_guard lock(mutex_);
    if (snapshotText_ && snapshotTextVersion_ == version_) return snapshotText_;
  }
  // Made outside the lock from a consistent copy; two readers may both make
  // it, and the later one's stays.
  const nlohmann::json json = Snapshot();
  auto text = std::make_shared<const std::string>(json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  std::lock_guard lock(mutex_);
  const uint64_t version = json["version"].get<uint64_t>();
  if (!snapshotText_ || snapshotTextVersion_ <= version) {
    snapshotText_ = text;
    snapshotTextVersion_ = version;
  }
  return text;
}

std::optional<nlohmann::json> JobStore::Job(uint64_t id) const {
  std::lock_guard lock(mutex_);
  const JobRecord* job = Find(id);
  if (job == nullptr) return std::nullopt;
  return JobJson(*job, runToken_);
}

uint64_t JobStore::Version() const {
  std::lock_guard lock(mutex_);
  return version_;
}

uint64_t JobStore::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return version_ > seen; });
  return version_;
}

std::filesystem::path JobStore::LabelFile(uint64_t id, size_t number, std::chrono::milliseconds patience,
                                          bool* pending) const {
  std::unique_lock lock(mutex_);
  auto state = [&]() -> std::optional<PictureState> {
    const JobRecord* job = Find(id);
    if (job == nullptr) return std::nullopt;
    for (const LabelRecord& label : job->labels) {
      if (label.number == number) return label.picture;
    }
    return std::nullopt;
  };
  pictures_.wait_for(lock, patience, [&] { return state() != PictureState::Pending; });
  const auto now = state();
  if (pending != nullptr) *pending = now == PictureState::Pending;
  return now == PictureState::Stored ? Folder(id) / LabelFileName(number) : std::filesystem::path();
}

std::filesystem::path JobStore::StreamFile(uint64_t id) const {
  std::lock_guard lock(mutex_);
  const JobRecord* job = Find(id);
  if (job == nullptr || !job->streamStored) return {};
  return Folder(id) / kStreamName;
}

}  // namespace streamcheck::serve
