// Draws and files the label pictures of the virtual printer's jobs behind the
// printer, so that encoding them never holds it: the printer hands over each
// job's stream as it replays it, with what it decided for each label it
// printed (a picture of its own, or the picture of an earlier label drawn the
// same); a thread replays the same bytes on a printer memory of its own that
// follows the printer's, and encodes and files the pictures. What waits here
// is stream bytes, not pictures: a bound on them bounds the memory, and the
// printer waits only when more than that is queued.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "job_store.h"
#include "serve_options.h"
#include "stream_checker.h"

namespace streamcheck::serve {

// A printer memory as after power-on, with the bounds the options set.
PrinterMemory EmptyPrinterMemory(const ServeOptions& options);

class PictureWriter {
 public:
  PictureWriter(const ServeOptions& options, JobStore& store);
  PictureWriter(const PictureWriter&) = delete;
  PictureWriter& operator=(const PictureWriter&) = delete;
  ~PictureWriter();

  // Called by the printer, in its order. The printer's memory was emptied.
  void Empty();
  void Begin(uint64_t id);
  // Bytes the printer replayed, and for each label they printed, in order,
  // the label whose picture it shares (0: its own). A label the printer
  // refused has none: the replay stops there, as the printer's did.
  void Feed(std::string_view bytes, std::vector<size_t> sameAs);
  // The end of the job's stream, with the labels its end printed.
  void End(std::vector<size_t> sameAs);
  // Nothing more is drawn; pictures still pending are missing.
  void Stop();

 private:
  struct Work {
    enum class Kind { Empty, Begin, Bytes, End } kind;
    uint64_t id = 0;
    std::string bytes;
    std::vector<size_t> sameAs;
  };
  void Push(Work work);
  void Run();
  void Do(Work& work);
  bool TakeLabel(const PrintedLabel& label);

  const ServeOptions& options_;
  JobStore& store_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Work> queue_;  // guarded by mutex_
  size_t queuedBytes_ = 0;  // guarded by mutex_
  std::atomic<bool> stopping_{false};
  std::once_flag stopped_;

  // The thread's own.
  PrinterMemory memory_;
  LabelSink sink_;
  std::unique_ptr<StreamFeed> feed_;
  uint64_t job_ = 0;
  std::vector<size_t> plan_;  // sameAs of each label the printer took, by number - 1
  size_t jobBytes_ = 0;       // of the job's pictures
  bool full_ = false;         // the job's pictures reached their byte bound
  std::vector<uint8_t> png_;
  std::thread thread_;  // last: starts once the rest is in place
};

}  // namespace streamcheck::serve
