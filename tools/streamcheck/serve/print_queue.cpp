#include "print_queue.h"

#include <fstream>

#include "store_files.h"

namespace streamcheck::serve {

namespace {
// How often the record of an arriving job is told its bytes so far: the page
// follows a job as it comes, without a new version for every packet.
constexpr auto kReportEvery = std::chrono::milliseconds(250);
constexpr size_t kReadPiece = 64 * 1024;

std::string JobTooLargeFault(size_t limit) {
  return "the job is larger than the limit of " + std::to_string(limit) +
         " bytes: the rest was not read, the stream is checked as far as the limit";
}
}  // namespace

ArrivingJob::ArrivingJob(PrintQueue& queue, uint64_t id, std::unique_ptr<Spool> spool)
    : queue_(&queue), id_(id), spool_(std::move(spool)) {}

bool ArrivingJob::Add(std::string_view bytes) {
  if (cut_) return false;
  const size_t limit = queue_->options_.maxJobBytes;
  const size_t room = limit - std::min(limit, spool_->Size());
  const bool over = bytes.size() > room;
  std::string error;
  if (!spool_->Append(bytes.substr(0, room), error)) {
    Fault("the job could not be kept while it arrived (" + error + "): the stream is checked as far as it was kept");
    cut_ = true;
  } else if (over) {
    Fault(JobTooLargeFault(limit));
    cut_ = true;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - reported_ >= kReportEvery) {
    reported_ = now;
    queue_->store_.Arrived(id_, spool_->Size());
  }
  return !cut_;
}

PrintQueue::PrintQueue(const ServeOptions& options, JobStore& store, VirtualPrinter& printer, StoredHook stored)
    : options_(options),
      store_(store),
      printer_(printer),
      stored_(std::move(stored)),
      budget_(options.spoolMemoryBytes) {}

void PrintQueue::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

std::optional<ArrivingJob> PrintQueue::Arrive(const std::string& source, const std::string& via) {
  const std::optional<uint64_t> id = store_.Begin(source, via);
  if (!id) return std::nullopt;
  return ArrivingJob(*this, *id,
                     std::make_unique<Spool>(budget_, options_.spoolJobMemoryBytes, store_.Folder(*id) / kSpoolName));
}

void PrintQueue::Submit(ArrivingJob job, std::function<void()> printed) {
  Entry entry{std::move(job), std::move(printed)};
  const uint64_t id = entry.job.Id();
  // Stored whole before anything else: the printer reads it back from the
  // folder, and the spool's memory goes back to the budget at once.
  if (store_.Received(id, *entry.job.spool_, entry.job.faults_)) {
    entry.job.spool_.reset();
    if (stored_) stored_(id);
  }
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
  if (!entry.job.faults_.empty()) job->Faulted();  // recorded with the stream
  const auto feed = [&](std::string_view piece) { return job->Feed(piece); };
  std::string error;
  if (entry.job.spool_) {
    // Its stream could not be stored: printed from the spool all the same.
    if (!entry.job.spool_->Read(feed, error)) job->Fault(error);
  } else {
    std::ifstream in(store_.StreamFile(entry.job.Id()), std::ios::binary);
    std::vector<char> piece(kReadPiece);
    while (in) {
      in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
      if (in.gcount() <= 0 || !feed(std::string_view(piece.data(), static_cast<size_t>(in.gcount())))) break;
    }
    if (in.bad()) job->Fault("cannot read the job's stream back from its folder");
  }
  job->Finish();
}

void PrintQueue::StoreUnprinted(Entry& entry) {
  const uint64_t id = entry.job.Id();
  store_.AddFault(id, {std::nullopt, FaultText::StoppedBeforePrinted(), {}, {}});
  store_.Finish(id, {}, CheckResult{}, std::nullopt, std::chrono::milliseconds(0));
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
