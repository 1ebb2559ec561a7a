#include "picture_writer.h"

#include <algorithm>
#include <utility>

#include "png_codec.h"

#if defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace streamcheck::serve {

namespace {

// The printer comes first: on a busy machine the pictures wait, not the jobs.
void YieldToThePrinter() {
#if defined(__linux__)
  constexpr int kNiceness = 10;
  (void)setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), kNiceness);  // best effort
#endif
}

}  // namespace

PrinterMemory EmptyPrinterMemory(const ServeOptions& options) {
  PrinterMemory memory;
  memory.imageByteLimit = options.printerMemoryBytes;
  // The checker's own bounds stay behind the store's, which cut a job first
  // and say what they cut; they bound the painting nothing is stored of.
  memory.limits.labels = options.maxJobLabels + 1;
  memory.limits.paintedPixels = 4 * options.maxJobPixels;
  return memory;
}

PictureWriter::PictureWriter(const ServeOptions& options, JobStore& store)
    : options_(options), store_(store), memory_(EmptyPrinterMemory(options)) {
  sink_ = [this](const PrintedLabel& label) { return TakeLabel(label); };
  thread_ = std::thread([this] { Run(); });
}

PictureWriter::~PictureWriter() { Stop(); }

void PictureWriter::Empty() { Push({Work::Kind::Empty, 0, {}, {}}); }

void PictureWriter::Begin(uint64_t id) { Push({Work::Kind::Begin, id, {}, {}}); }

void PictureWriter::Feed(std::string_view bytes, std::vector<size_t> sameAs) {
  Push({Work::Kind::Bytes, 0, std::string(bytes), std::move(sameAs)});
}

void PictureWriter::End(std::vector<size_t> sameAs) { Push({Work::Kind::End, 0, {}, std::move(sameAs)}); }

void PictureWriter::Push(Work work) {
  std::unique_lock lock(mutex_);
  // Past the bound the printer waits; a piece larger than the bound alone
  // still goes once the queue is empty.
  changed_.wait(lock, [&] {
    return stopping_ || queue_.empty() || queuedBytes_ + work.bytes.size() <= options_.pictureBacklogBytes;
  });
  if (stopping_) return;
  queuedBytes_ += work.bytes.size();
  queue_.push_back(std::move(work));
  changed_.notify_all();
}

void PictureWriter::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
    queuedBytes_ = 0;
    changed_.notify_all();
  }
  std::call_once(stopped_, [this] {
    if (thread_.joinable()) thread_.join();
    store_.AbandonPictures();
  });
}

void PictureWriter::Run() {
  YieldToThePrinter();
  for (;;) {
    Work work;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      work = std::move(queue_.front());
      queue_.pop_front();
    }
    Do(work);
    {
      std::lock_guard lock(mutex_);
      queuedBytes_ -= std::min(queuedBytes_, work.bytes.size());
      changed_.notify_all();
    }
  }
}

void PictureWriter::Do(Work& work) {
  plan_.insert(plan_.end(), work.sameAs.begin(), work.sameAs.end());
  switch (work.kind) {
    case Work::Kind::Empty: memory_ = EmptyPrinterMemory(options_); return;
    case Work::Kind::Begin:
      job_ = work.id;
      plan_.clear();
      jobBytes_ = 0;
      full_ = false;
      feed_ = std::make_unique<StreamFeed>(memory_, &sink_);
      return;
    case Work::Kind::Bytes:
      if (feed_) feed_->Feed(work.bytes);
      return;
    case Work::Kind::End:
      if (feed_) feed_->Finish();
      feed_.reset();
      store_.PicturesDone(job_);
      return;
  }
}

bool PictureWriter::TakeLabel(const PrintedLabel& label) {
  if (stopping_) return false;
  if (label.number == 0 || label.number > plan_.size()) return false;  // the printer stopped here
  const size_t sameAs = plan_[label.number - 1];
  if (sameAs != 0) {
    jobBytes_ += store_.SharePicture(job_, label.number, sameAs);
    return true;
  }
  if (full_) {
    store_.MissPicture(job_, label.number, {});
    return true;
  }
  if (!EncodePng(label.picture, LabelPictureEncoding(options_.labelPngLevel), png_)) {
    store_.MissPicture(job_, label.number, "cannot encode the picture of label " + std::to_string(label.number));
    return true;
  }
  const size_t byteLimit = std::min(options_.maxJobStoredBytes, options_.maxStoredBytes);
  if (jobBytes_ + png_.size() > byteLimit) {
    full_ = true;
    store_.MissPicture(job_, label.number,
                       "the job's pictures take more than " + std::to_string(byteLimit) + " bytes: label " +
                           std::to_string(label.number) + " and the later ones were printed without pictures");
    return true;
  }
  jobBytes_ += store_.AddPicture(job_, label.number, png_);
  return true;
}

}  // namespace streamcheck::serve
