// Passes each job on to the printer behind the virtual one, once it is
// stored whole, in the order jobs finished arriving, byte for byte. A printer
// that refuses or cannot be reached holds the queue; it is tried again after
// a wait that doubles each time (the thread sleeps meanwhile). A job cut off
// mid-send is never sent again on its own: the queue waits for the user's
// "Send again" or "Skip", as a spooler holds a queue. Its state lives in the
// job's record, so it survives a restart.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "forward_target.h"
#include "job_store.h"
#include "serve_options.h"

namespace streamcheck::serve {

class Forwarder {
 public:
  Forwarder(const ServeOptions& options, JobStore& store, std::unique_ptr<JobSender> sender);
  ~Forwarder() { Stop(); }
  Forwarder(const Forwarder&) = delete;
  Forwarder& operator=(const Forwarder&) = delete;

  // Takes up the jobs an earlier run left to go on, then runs.
  void Start();
  // A job stored whole: it goes on after those before it.
  void Enqueue(uint64_t id);
  // The user's word for a job that waits or was cut off: send it again now,
  // or drop it from the queue. False with `error` set when the job is not one
  // that waits to go on.
  bool SendAgain(uint64_t id, std::string& error);
  bool Skip(uint64_t id, std::string& error);
  // A job being sent is cut off (and held, as any cut-off job).
  void Stop();

 private:
  void Run();
  // Waits for the next job to try; false when stopping.
  bool Next(uint64_t& id);
  void Attempt(uint64_t id, ForwardRecord record);
  bool Word(uint64_t id, bool again, std::string& error);

  const ServeOptions& options_;
  JobStore& store_;
  std::unique_ptr<JobSender> sender_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<uint64_t> queue_;  // guarded by mutex_
  std::chrono::steady_clock::time_point nextTry_{};
  std::chrono::milliseconds backoff_{0};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace streamcheck::serve
