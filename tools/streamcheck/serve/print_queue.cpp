#include "print_queue.h"

namespace streamcheck::serve {

namespace {
// How often the record of an arriving job is told its bytes so far: the page
// follows a job as it comes, without a new version for every packet.
constexpr auto kReportEvery = std::chrono::milliseconds(250);
constexpr const char* kSpoolName = "receiving.part";
}  // namespace

ArrivingJob::ArrivingJob(PrintQueue& queue, uint64_t id, std::unique_ptr<Spool> spool)
    : queue_(&queue), id_(id), spool_(std::move(spool)) {}

bool ArrivingJob::Add(std::string_view bytes) {
  if (cut_) return false;
  const size_t limit = queue_->printer_.Options().maxJobBytes;
  const size_t room = limit - std::min(limit, spool_->Size());
  const bool over = bytes.size() > room;
  std::string error;
  if (!spool_->Append(bytes.substr(0, room), error)) {
    Fault("the job could not be kept while it arrived (" + error + "): the stream is checked as far as it was kept");
    cut_ = true;
  } else if (over) {
    Fault("the job is larger than the limit of " + std::to_string(limit) +
          " bytes: the rest was not read, the stream is checked as far as the limit");
    cut_ = true;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - reported_ >= kReportEvery) {
    reported_ = now;
    queue_->printer_.Store().Arrived(id_, spool_->Size());
  }
  return !cut_;
}

PrintQueue::PrintQueue(VirtualPrinter& printer) : printer_(printer), budget_(printer.Options().spoolMemoryBytes) {}

void PrintQueue::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

ArrivingJob PrintQueue::Arrive(const std::string& source, const std::string& via) {
  JobStore& store = printer_.Store();
  const uint64_t id = store.Begin(source, via);
  return ArrivingJob(
      *this, id,
      std::make_unique<Spool>(budget_, printer_.Options().spoolJobMemoryBytes, store.Folder(id) / kSpoolName));
}

void PrintQueue::Submit(ArrivingJob job, std::function<void()> printed) {
  Entry entry{std::move(job), std::move(printed)};
  printer_.Store().Arrived(entry.job.Id(), entry.job.Bytes(), true);
  {
    std::lock_guard lock(mutex_);
    if (!stopping_) {
      waiting_.push_back(std::move(entry));
      wake_.notify_one();
      return;
    }
  }
  StoreUnprinted(entry);
}

size_t PrintQueue::Waiting() const {
  std::lock_guard lock(mutex_);
  return waiting_.size();
}

void PrintQueue::Run() {
  for (;;) {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (stopping_) return;
    Entry entry = std::move(waiting_.front());
    waiting_.pop_front();
    lock.unlock();
    try {
      Print(entry);
    } catch (...) {
      // A failure of one job (memory exhausted) must not end the printer.
    }
    if (entry.printed) entry.printed();
  }
}

void PrintQueue::Print(Entry& entry) {
  const auto job = printer_.StartJob(entry.job.Id());
  for (const std::string& fault : entry.job.faults_) job->Fault(fault);
  std::string error;
  if (!entry.job.spool_->Read([&](std::string_view piece) { return job->Feed(piece); }, error)) job->Fault(error);
  job->Finish();
}

void PrintQueue::StoreUnprinted(Entry& entry) {
  JobStore& store = printer_.Store();
  const uint64_t id = entry.job.Id();
  for (const std::string& fault : entry.job.faults_) store.AddFault(id, {std::nullopt, fault, {}, {}});
  store.AddFault(
      id, {std::nullopt, "the virtual printer was stopped before it printed the job: it is kept as received", {}, {}});
  std::string stream, error;
  if (!entry.job.spool_->Read(
          [&](std::string_view piece) {
            stream.append(piece);
            return true;
          },
          error)) {
    store.AddFault(id, {std::nullopt, error, {}, {}});
  }
  store.Finish(id, stream, CheckResult{}, std::nullopt, std::chrono::milliseconds(0));
  if (entry.printed) entry.printed();
}

void PrintQueue::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  printer_.Stop();
  if (thread_.joinable()) thread_.join();
  std::deque<Entry> rest;
  {
    std::lock_guard lock(mutex_);
    rest.swap(waiting_);
  }
  for (Entry& entry : rest) StoreUnprinted(entry);
}

}  // namespace streamcheck::serve
