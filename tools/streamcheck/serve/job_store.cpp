#include "job_store.h"

#include <algorithm>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <system_error>

#include "job_summary.h"

namespace streamcheck::serve {

namespace {

constexpr const char* kFolderPrefix = "job-";
constexpr size_t kFolderDigits = 6;
constexpr const char* kStreamName = "stream.prn";
constexpr const char* kSummaryName = "summary.txt";
constexpr const char* kRecordName = "summary.json";

std::string Now() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string FolderName(uint64_t id) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%0*llu", kFolderPrefix, static_cast<int>(kFolderDigits),
                static_cast<unsigned long long>(id));
  return name;
}

std::string LabelName(size_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "label-%03zu.png", number);
  return name;
}

// The number of a folder this store made ("job-000123", "job-1234567"), or 0.
uint64_t FolderNumber(const std::string& name) {
  constexpr size_t kMostDigits = 18;  // as job addresses take them
  const size_t prefix = std::char_traits<char>::length(kFolderPrefix);
  if (name.size() <= prefix || name.size() > prefix + kMostDigits || name.rfind(kFolderPrefix, 0) != 0) return 0;
  uint64_t number = 0;
  for (size_t i = prefix; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  return number;
}

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

nlohmann::json FaultJson(const Fault& fault) {
  nlohmann::json json{{"message", fault.message}, {"before", fault.before}, {"after", fault.after}};
  json["offset"] = fault.offset ? nlohmann::json(*fault.offset) : nlohmann::json(nullptr);
  return json;
}

nlohmann::json JobJson(const JobRecord& job, const std::string& runToken) {
  nlohmann::json json{
      {"id", job.id},
      {"received", job.received},
      {"source", job.source},
      {"via", job.via},
      {"title", job.title},
      {"user", job.user},
      {"state", job.state},
      {"finished", job.finished},
      {"freshPrinter", job.freshPrinter},
      {"bytes", job.bytes},
      {"formats", job.stats.formats},
      {"downloads", job.stats.downloads},
      {"recalls", job.stats.recalls},
      {"stream", "/jobs/" + std::to_string(job.id) + "/" + kStreamName + "?v=" + runToken},
  };
  json["tookMs"] = job.tookMs ? nlohmann::json(*job.tookMs) : nlohmann::json(nullptr);
  json["setups"] = nlohmann::json::array();
  for (const LabelSetup& setup : job.setups) json["setups"].push_back(SetupJson(setup));
  json["setup"] = job.inForce ? SetupJson(*job.inForce) : nlohmann::json(nullptr);
  json["picturesDone"] = job.picturesDone;
  json["labels"] = nlohmann::json::array();
  for (const LabelRecord& label : job.labels) {
    nlohmann::json areas = nlohmann::json::array();
    for (const SentArea& a : label.areas) {
      areas.push_back({{"x", a.x},
                       {"y", a.y},
                       {"width", a.width},
                       {"height", a.height},
                       {"bytes", a.pngBytes},
                       {"download", a.downloadOffset},
                       {"recall", a.recallOffset}});
    }
    json["labels"].push_back(
        {{"number", label.number},
         {"areas", std::move(areas)},
         {"areaCount", label.areaCount},
         {"offset", label.offset},
         {"width", label.width},
         {"height", label.height},
         {"sameAs", label.sameAs},
         // A pending picture has its address already: asking for it waits for it.
         {"url", label.picture != PictureState::Missing
                     ? "/jobs/" + std::to_string(job.id) + "/" + LabelName(label.number) + "?v=" + runToken
                     : std::string()}});
  }
  json["faults"] = nlohmann::json::array();
  for (const Fault& fault : job.faults) json["faults"].push_back(FaultJson(fault));
  return json;
}

}  // namespace

nlohmann::json SetupJson(const LabelSetup& s) {
  char clock[40];
  std::snprintf(clock, sizeof clock, "%04d-%02d-%02d %02d:%02d:%02d", s.clock.year, s.clock.month, s.clock.day,
                s.clock.hour, s.clock.minute, s.clock.second);
  return {{"offset", s.offset},
          {"media", s.media},
          {"width", s.width},
          {"length", s.length},
          {"cutting", s.cutMode == 'E' ? "on" : "off"},
          {"pagesPerCut", s.pagesPerCut},
          {"quality", s.printMode},
          {"direction", s.direction == 'B' ? "bidirectional" : "unidirectional"},
          {"clock", clock}};
}

JobStore::JobStore(std::filesystem::path out, StoreLimits limits) : out_(std::move(out)), limits_(limits) {
  std::random_device random;
  char token[24];
  std::snprintf(token, sizeof token, "%08x%08x", random(), random());
  runToken_ = token;
  // Folders of an earlier run keep their numbers; new jobs count on after them.
  std::error_code ec;
  for (std::filesystem::directory_iterator it(out_, ec), end; !ec && it != end; it.increment(ec)) {
    const uint64_t number = FolderNumber(it->path().filename().string());
    if (number >= nextId_) nextId_ = number + 1;
  }
}

std::filesystem::path JobStore::Folder(uint64_t id) const { return out_ / FolderName(id); }

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

uint64_t JobStore::Begin(const std::string& source, const std::string& via) {
  std::lock_guard lock(mutex_);
  JobRecord job;
  job.id = nextId_++;
  job.received = Now();
  job.source = source;
  job.via = via;
  std::error_code ec;
  std::filesystem::create_directories(Folder(job.id), ec);
  if (ec) job.faults.push_back({std::nullopt, "cannot create the job's folder: " + ec.message(), {}, {}});
  jobs_.push_back(std::move(job));
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

void JobStore::Arrived(uint64_t id, size_t bytes, bool complete) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr || job->state != "arriving") return;
  job->bytes = bytes;
  if (complete) job->state = "waiting";
  Changed();
}

void JobStore::Printing(uint64_t id, bool freshPrinter) {
  std::lock_guard lock(mutex_);
  JobRecord* job = Find(id);
  if (job == nullptr) return;
  job->state = "printing";
  job->freshPrinter = freshPrinter;
  Changed();
}

size_t JobStore::WriteFile(JobRecord& job, const std::filesystem::path& path, const void* data, size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file || !file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)) || !file.flush()) {
    job.faults.push_back({std::nullopt, "cannot write " + path.filename().string(), {}, {}});
    return 0;
  }
  return size;
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
  const size_t written = WriteFile(*job, Folder(id) / LabelName(number), png.data(), png.size());
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
  // A second name for the same file costs no bytes; where the file system
  // has no links, a copy does.
  const std::filesystem::path from = Folder(id) / LabelName(sameAs), to = Folder(id) / LabelName(number);
  std::error_code ec;
  std::filesystem::create_hard_link(from, to, ec);
  size_t bytes = 0;
  bool placed = !ec;
  if (!placed) {
    ec.clear();
    placed = std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec) && !ec;
    bytes = placed ? static_cast<size_t>(std::filesystem::file_size(to, ec)) : 0;
    if (ec) bytes = 0;
  }
  if (!placed) job->faults.push_back({std::nullopt, "cannot write " + to.filename().string(), {}, {}});
  job->storedBytes += bytes;
  storedBytes_ += bytes;
  SettlePicture(*label, placed);
  DropOldJobs();
  return bytes;
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
  if (job->finished) WriteRecord(*job);  // now with every picture in place
  DropOldJobs();
  Changed();
}

void JobStore::AbandonPictures() {
  std::lock_guard lock(mutex_);
  abandoned_ = true;
  for (JobRecord& job : jobs_) {
    for (LabelRecord& label : job.labels) {
      if (label.picture == PictureState::Pending) label.picture = PictureState::Missing;
    }
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
  job->state = "finished";
  job->finished = true;
  job->bytes = stream.size();
  job->stats = result.stats;
  job->setups = result.stats.setups;
  job->inForce = inForce;
  job->tookMs = took.count();
  if (result.error) job->faults.push_back({result.error->offset, Bounded(result.error->message), {}, {}});
  constexpr size_t kContext = 32;  // bytes shown on either side of a fault's offset
  for (Fault& fault : job->faults) {
    if (!fault.offset || *fault.offset > stream.size()) continue;
    const size_t from = *fault.offset - std::min(*fault.offset, kContext);
    fault.before = Printable(stream.substr(from, *fault.offset - from));
    fault.after = Printable(stream.substr(*fault.offset, kContext));
  }
  const std::filesystem::path folder = Folder(id);
  size_t written = WriteFile(*job, folder / kStreamName, stream.data(), stream.size());
  std::string summary = FormatSummary(result.stats);
  for (const Fault& fault : job->faults) {
    summary += "fault" + (fault.offset ? " at offset " + std::to_string(*fault.offset) : std::string()) + ": " +
               fault.message + "\n";
  }
  written += WriteFile(*job, folder / kSummaryName, summary.data(), summary.size());
  job->storedBytes += written;
  storedBytes_ += written;
  WriteRecord(*job);
  DropOldJobs();
  Changed();
}

// (Re)writes summary.json; the store counts its size once, as last written.
void JobStore::WriteRecord(JobRecord& job) {
  const std::string record = JobJson(job, runToken_).dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  const size_t written = WriteFile(job, Folder(job.id) / kRecordName, record.data(), record.size());
  const size_t before = std::min(job.recordBytes, job.storedBytes);
  job.storedBytes = job.storedBytes - before + written;
  storedBytes_ = storedBytes_ - std::min(storedBytes_, before) + written;
  job.recordBytes = written;
}

void JobStore::DropOldJobs() {
  // The oldest finished jobs go first; jobs still arriving or printing stay,
  // and so does the newest job, whatever its size.
  for (auto it = jobs_.begin(); it != jobs_.end() && jobs_.size() > 1 && std::next(it) != jobs_.end() &&
                                (jobs_.size() > limits_.maxStoredJobs || storedBytes_ > limits_.maxStoredBytes);) {
    if (!it->finished) {
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

void JobStore::NotePowerCycle() {
  std::lock_guard lock(mutex_);
  ++powerCycles_;
  lastPowerCycle_ = Now();
  Changed();
}

nlohmann::json JobStore::Snapshot() const {
  std::lock_guard lock(mutex_);
  nlohmann::json json{{"version", version_}, {"storedBytes", storedBytes_}, {"powerCycles", powerCycles_}};
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

std::filesystem::path JobStore::LabelFile(uint64_t id, size_t number, std::chrono::milliseconds patience) const {
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
  return state() == PictureState::Stored ? Folder(id) / LabelName(number) : std::filesystem::path();
}

std::filesystem::path JobStore::StreamFile(uint64_t id) const {
  std::lock_guard lock(mutex_);
  const JobRecord* job = Find(id);
  if (job == nullptr || !job->finished) return {};
  return Folder(id) / kStreamName;
}

}  // namespace streamcheck::serve
