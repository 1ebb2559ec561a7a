// The jobs the virtual printer has received: one folder each under the output
// folder (the stream, the label pictures, a summary), named by job number only,
// and their records for the web page. Keeps within a count and a byte budget
// by dropping the oldest finished jobs. Thread-safe; readers can wait for news.
// A label is recorded as soon as it is printed; its picture is filed later
// (see PictureWriter), and a reader who asks for it first waits for it.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "rgb_image.h"
#include "stream_checker.h"

namespace streamcheck::serve {

struct StoreLimits {
  size_t maxStoredBytes = 0;
  size_t maxStoredJobs = 0;
};

struct Fault {
  std::optional<size_t> offset;  // none for faults of the connection (timeout, size limit)
  std::string message;
  std::string before, after;  // the stream's bytes around the offset, filled in when the job ends
};

// Where a label's picture stands: being drawn and encoded, in the job's
// folder, or never to be stored (a limit, a failure, the server stopping).
enum class PictureState { Pending, Stored, Missing };

struct LabelRecord {
  size_t number = 0;
  size_t offset = 0;
  int32_t width = 0;
  int32_t height = 0;
  PictureState picture = PictureState::Pending;
  size_t sameAs = 0;            // an earlier label of the job drawn the same, whose picture this one shares; 0 none
  std::vector<SentArea> areas;  // the first of them; a label of thousands of bands lists no more
  size_t areaCount = 0;
};

struct JobRecord {
  uint64_t id = 0;
  std::string received;  // UTC, ISO 8601
  std::string source;
  std::string via;    // the way it came: "raw", "lpd" or "http"
  std::string title;  // the job's name and user, where its protocol gives them (LPD)
  std::string user;
  // arriving (its bytes coming in), waiting (for the printer), printing, finished
  std::string state = "arriving";
  bool finished = false;
  bool freshPrinter = false;  // started on a printer that held nothing
  size_t bytes = 0;
  std::vector<LabelSetup> setups;     // set-up labels in the job
  std::optional<LabelSetup> inForce;  // the set-up its labels were printed with (last one)
  std::vector<LabelRecord> labels;
  std::vector<Fault> faults;
  JobStats stats;
  size_t storedBytes = 0;
  size_t recordBytes = 0;         // of summary.json as last written
  std::optional<int64_t> tookMs;  // from taking the printer to the end of the job
  bool picturesDone = false;      // no picture of the job is pending any more
};

class JobStore {
 public:
  JobStore(std::filesystem::path out, StoreLimits limits);

  // Creates the job's folder and record, as arriving; the id numbers the folder.
  uint64_t Begin(const std::string& source, const std::string& via);
  // The job's name and user as its client gave them.
  void Describe(uint64_t id, const std::string& title, const std::string& user);
  // The bytes of an arriving job so far; `complete`: its last byte is in, it
  // waits for the printer.
  void Arrived(uint64_t id, size_t bytes, bool complete = false);
  // The printer takes the job, empty (`freshPrinter`) or as the last job left it.
  void Printing(uint64_t id, bool freshPrinter);
  // Records a printed label, its picture pending; `sameAs`: the earlier label
  // of the job whose picture it shares, 0 when it has its own.
  void AddLabel(uint64_t id, const PrintedLabel& label, size_t sameAs);
  // Files a label's picture (PNG); the bytes written, 0 when the job is gone
  // or the file cannot be written. They count against the store's budget at
  // once: older jobs go to make room while a job runs.
  size_t AddPicture(uint64_t id, size_t number, const std::vector<uint8_t>& png);
  // The label shows the picture of label `sameAs`, linked (or copied) under
  // its own name; the bytes that took.
  size_t SharePicture(uint64_t id, size_t number, size_t sameAs);
  // The label's picture will not be stored; `fault` says why, when not empty.
  void MissPicture(uint64_t id, size_t number, const std::string& fault);
  // No more pictures of the job will come: pending ones are missing, and the
  // job's record file is written again when that changed it.
  void PicturesDone(uint64_t id);
  // Every pending picture of every job is missing (the server stops).
  void AbandonPictures();
  void AddFault(uint64_t id, Fault fault);
  // Stores the stream and the summary, closes the record and drops old jobs.
  void Finish(uint64_t id, std::string_view stream, const CheckResult& result, const std::optional<LabelSetup>& inForce,
              std::chrono::milliseconds took);

  // A note for the page (power cycles): bumps the version.
  void NotePowerCycle();

  // Records, newest first, and the version they have.
  nlohmann::json Snapshot() const;
  // The same as JSON text, made once per version and shared by its readers.
  std::shared_ptr<const std::string> SnapshotText() const;
  // Tells this run's picture addresses from an earlier run's of the same numbers.
  const std::string& RunToken() const { return runToken_; }
  std::optional<nlohmann::json> Job(uint64_t id) const;
  uint64_t Version() const;
  // Waits until the version passes `seen` or `timeout` ends; the version then.
  uint64_t WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) const;

  // Paths built from numbers only; empty when the job or label is not stored.
  // A picture still pending is waited for, up to `patience`.
  std::filesystem::path LabelFile(uint64_t id, size_t number,
                                  std::chrono::milliseconds patience = std::chrono::seconds(30)) const;
  std::filesystem::path StreamFile(uint64_t id) const;
  // The job's folder (made by Begin).
  std::filesystem::path Folder(uint64_t id) const;

 private:
  JobRecord* Find(uint64_t id);
  const JobRecord* Find(uint64_t id) const;
  void Changed();
  void DropOldJobs();
  size_t WriteFile(JobRecord& job, const std::filesystem::path& path, const void* data, size_t size);
  void WriteRecord(JobRecord& job);
  LabelRecord* FindLabel(JobRecord& job, size_t number);
  void SettlePicture(LabelRecord& label, bool stored);

  const std::filesystem::path out_;
  const StoreLimits limits_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  mutable std::condition_variable pictures_;  // a pending picture was settled
  std::deque<JobRecord> jobs_;                // oldest first
  uint64_t nextId_ = 1;
  uint64_t version_ = 0;
  size_t storedBytes_ = 0;
  size_t powerCycles_ = 0;
  bool abandoned_ = false;  // AbandonPictures was called
  std::string lastPowerCycle_;
  std::string runToken_;
  mutable std::shared_ptr<const std::string> snapshotText_;  // guarded by mutex_
  mutable uint64_t snapshotTextVersion_ = 0;
};

nlohmann::json SetupJson(const LabelSetup& setup);

}  // namespace streamcheck::serve
