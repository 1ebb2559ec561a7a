// Receive, then print: a job is taken in by its connection (ArrivingJob: its
// record, shown as arriving with its bytes so far, and its spool within the
// job's size bound). Once its last byte has arrived it is stored whole in its
// folder, goes on to the printer behind (Forwarder) if there is one, and is
// printed in the order jobs finished arriving (PrintQueue: one thread feeds
// the printer, reading the stored stream). Every way of receiving a job (the
// raw and LPD ports, HTTP) goes through it.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "job_store.h"
#include "serve_options.h"
#include "spool.h"
#include "virtual_printer.h"

namespace streamcheck::serve {

class PrintQueue;

// Told of each job stored whole, in the order they finished arriving (the
// forwarder); on the receiver's thread.
using StoredHook = std::function<void(uint64_t id)>;

// A job whose bytes are arriving. Not thread-safe: one receiver feeds it.
class ArrivingJob {
 public:
  uint64_t Id() const { return id_; }
  // Keeps the next bytes; false once the job is cut (its size bound, or the
  // spool failed), with the fault noted: nothing more is to be read.
  bool Add(std::string_view bytes);
  // A fault of the connection (timeout, deadline, ...), recorded before the
  // stream's own faults.
  void Fault(std::string message) { faults_.push_back(std::move(message)); }
  size_t Bytes() const { return spool_ ? spool_->Size() : 0; }
  bool Cut() const { return cut_; }

 private:
  friend class PrintQueue;
  ArrivingJob(PrintQueue& queue, uint64_t id, std::unique_ptr<Spool> spool);

  PrintQueue* queue_;
  uint64_t id_;
  std::unique_ptr<Spool> spool_;  // gone once the stream is stored
  std::vector<std::string> faults_;
  bool cut_ = false;
  std::chrono::steady_clock::time_point reported_{};
};

class PrintQueue {
 public:
  // `stored`: told of each job once it is stored; empty without a printer behind.
  PrintQueue(const ServeOptions& options, JobStore& store, VirtualPrinter& printer, StoredHook stored = {});
  ~PrintQueue() { Stop(); }
  PrintQueue(const PrintQueue&) = delete;
  PrintQueue& operator=(const PrintQueue&) = delete;

  void Start();
  // A new job from `source`, come by `via` (the port's protocol): its record
  // appears at once, as arriving. None when the store is full of jobs that
  // still have to go on to the printer behind: the job is refused.
  std::optional<ArrivingJob> Arrive(const std::string& source, const std::string& via);
  // Its last byte has arrived: stored, then printed after the jobs that
  // arrived before it. `printed` runs (on the printer's thread) once its
  // record is closed.
  void Submit(ArrivingJob job, std::function<void()> printed = {});
  // Jobs arrived and not yet printing.
  size_t Waiting() const;
  // Cuts the job printing; jobs still waiting (and any submitted later) are
  // stored as received, with a fault saying they were not printed.
  void Stop();

 private:
  friend class ArrivingJob;
  struct Entry {
    ArrivingJob job;
    std::function<void()> printed;
  };
  void Run();
  void Print(Entry& entry);
  void StoreUnprinted(Entry& entry);

  const ServeOptions& options_;
  JobStore& store_;
  VirtualPrinter& printer_;
  StoredHook stored_;
  SpoolBudget budget_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Entry> waiting_;  // guarded by mutex_
  bool stopping_ = false;      // guarded by mutex_
  std::thread thread_;
};

}  // namespace streamcheck::serve
