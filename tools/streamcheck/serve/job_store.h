// The jobs the virtual printer has received: one folder each under the output
// folder (the stream, the label pictures, a record), named by job number only.
// The records are read back when the store starts on a folder an earlier run
// used, so a restart forgets nothing; every file is written whole or not at
// all (durable_file). Keeps within a count and a byte budget by dropping the
// oldest finished jobs, never one that still has to go on to the printer
// behind. Thread-safe; readers can wait for news. A label is recorded as soon
// as it is printed; its picture is filed later (see PictureWriter), and a
// reader who asks for it first waits for it.
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

#include "job_json.h"
#include "job_record.h"
#include "spool.h"
#include "stream_checker.h"

namespace streamcheck::serve {

struct StoreLimits {
  size_t maxStoredBytes = 0;
  size_t maxStoredJobs = 0;
};

class JobStore {
 public:
  // Reads back the jobs an earlier run left in `out`. `forwardTo`: the
  // printer behind this one every job received whole goes on to; empty for none.
  JobStore(std::filesystem::path out, StoreLimits limits, std::string forwardTo = {});

  // Creates the job's folder and record, as arriving; the id numbers the
  // folder. None when jobs that still have to go on fill the store.
  std::optional<uint64_t> Begin(const std::string& source, const std::string& via);
  // The job's name and user as its client gave them.
  void Describe(uint64_t id, const std::string& title, const std::string& user);
  // The bytes of an arriving job so far.
  void Arrived(uint64_t id, size_t bytes);
  // Its last byte is in: the spool's bytes go to the job's folder as its
  // stream, with the connection's `faults`, before the job waits for the
  // printer (and to go on). False (with a fault) when it cannot be stored.
  bool Received(uint64_t id, Spool& spool, const std::vector<std::string>& faults);
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
  // Every pending picture of every job is missing (the server stops), and
  // their records say so.
  void AbandonPictures();
  void AddFault(uint64_t id, Fault fault);
  // Closes the record after printing (`stream`: the bytes printed, for the
  // faults' context) and drops old jobs.
  void Finish(uint64_t id, std::string_view stream, const CheckResult& result, const std::optional<LabelSetup>& inForce,
              std::chrono::milliseconds took);

  // Forwarding: the jobs still to go on, in their order; one job's state,
  // changed and written to its record at once.
  std::vector<uint64_t> ForwardQueue() const;
  std::optional<ForwardRecord> Forward(uint64_t id) const;
  void SetForward(uint64_t id, const ForwardRecord& forward);

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
  // A picture still pending is waited for, up to `patience`; `pending` then
  // says it is still being drawn.
  std::filesystem::path LabelFile(uint64_t id, size_t number,
                                  std::chrono::milliseconds patience = std::chrono::seconds(30),
                                  bool* pending = nullptr) const;
  std::filesystem::path StreamFile(uint64_t id) const;
  // The job's folder (made by Begin).
  std::filesystem::path Folder(uint64_t id) const;

 private:
  void Load();
  JobRecord LoadJob(uint64_t id, bool& rewrite);
  JobRecord* Find(uint64_t id);
  const JobRecord* Find(uint64_t id) const;
  void Changed();
  void DropOldJobs();
  bool FullOfHeldJobs() const;
  size_t WriteFile(JobRecord& job, const std::filesystem::path& path, std::string_view bytes);
  void WriteRecord(JobRecord& job);
  LabelRecord* FindLabel(JobRecord& job, size_t number);
  void SettlePicture(LabelRecord& label, bool stored);

  const std::filesystem::path out_;
  const StoreLimits limits_;
  const std::string forwardTo_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  mutable std::condition_variable pictures_;  // a pending picture was settled
  std::deque<JobRecord> jobs_;                // oldest first
  uint64_t nextId_ = 1;
  uint64_t nextForward_ = 1;
  uint64_t version_ = 0;
  size_t storedBytes_ = 0;
  size_t powerCycles_ = 0;
  size_t earlierJobs_ = 0;  // read back from an earlier run
  bool abandoned_ = false;  // AbandonPictures was called
  std::string lastPowerCycle_;
  std::string runToken_;
  mutable std::shared_ptr<const std::string> snapshotText_;  // guarded by mutex_
  mutable uint64_t snapshotTextVersion_ = 0;
};

}  // namespace streamcheck::serve
