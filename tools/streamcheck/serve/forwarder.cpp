#include "forwarder.h"

#include <algorithm>

#include "store_files.h"

namespace streamcheck::serve {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

Forwarder::Forwarder(const ServeOptions& options, JobStore& store, std::unique_ptr<JobSender> sender)
    : options_(options), store_(store), sender_(std::move(sender)) {}

void Forwarder::Start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    const std::vector<uint64_t> held = store_.ForwardQueue();
    queue_.insert(queue_.begin(), held.begin(), held.end());
  }
  thread_ = std::thread([this] { Run(); });
}

void Forwarder::Enqueue(uint64_t id) {
  std::lock_guard lock(mutex_);
  queue_.push_back(id);
  wake_.notify_all();
}

void Forwarder::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

bool Forwarder::Next(uint64_t& id) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (stopping_) return false;
    // Jobs gone (skipped, or dropped with the store) leave the queue.
    while (!queue_.empty()) {
      const std::optional<ForwardRecord> record = store_.Forward(queue_.front());
      if (record && (record->state == ForwardState::Waiting || record->state == ForwardState::Interrupted)) break;
      queue_.pop_front();
    }
    if (queue_.empty()) {
      wake_.wait(lock);
      continue;
    }
    // A job cut off holds the queue until the user's word (which wakes us).
    if (store_.Forward(queue_.front())->state == ForwardState::Interrupted) {
      wake_.wait(lock);
      continue;
    }
    if (Clock::now() < nextTry_) {
      wake_.wait_until(lock, nextTry_);
      continue;
    }
    id = queue_.front();
    return true;
  }
}

void Forwarder::Run() {
  uint64_t id = 0;
  while (Next(id)) {
    const std::optional<ForwardRecord> record = store_.Forward(id);
    if (record) Attempt(id, *record);
  }
}

void Forwarder::Attempt(uint64_t id, ForwardRecord record) {
  const std::optional<nlohmann::json> job = store_.Job(id);
  if (!job) return;
  ForwardJob sending{id, store_.StreamFile(id), record.total, (*job)["title"], (*job)["user"]};
  // Marked as being sent before the first byte goes: a crash from here on
  // leaves it cut off, never sent again unasked.
  record.state = ForwardState::Sending;
  record.attempts += 1;
  record.nextTry.clear();
  store_.SetForward(id, record);
  const auto started = Clock::now();
  const SendOutcome outcome = sender_->Send(sending, stopping_);
  record.tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
  record.sent = outcome.sent;
  record.reason = outcome.reason;
  switch (outcome.kind) {
    case SendOutcome::Kind::Sent:
      record.state = ForwardState::Forwarded;
      record.when = UtcNow();
      backoff_ = std::chrono::milliseconds(0);
      break;
    case SendOutcome::Kind::NotReached: {
      record.state = ForwardState::Waiting;
      backoff_ = std::clamp(backoff_ * 2, options_.forwardRetryFirst, options_.forwardRetryMost);
      record.nextTry = UtcNow(backoff_);
      std::lock_guard lock(mutex_);
      nextTry_ = Clock::now() + backoff_;
      break;
    }
    case SendOutcome::Kind::Cut: record.state = ForwardState::Interrupted; break;
  }
  store_.SetForward(id, record);
}

bool Forwarder::Word(uint64_t id, bool again, std::string& error) {
  std::lock_guard lock(mutex_);
  std::optional<ForwardRecord> record = store_.Forward(id);
  if (!record || (record->state != ForwardState::Waiting && record->state != ForwardState::Interrupted)) {
    error = record ? "the job is not waiting to go on to the printer" : "no such job";
    return false;
  }
  record->nextTry.clear();
  if (again) {
    record->state = ForwardState::Waiting;
    record->reason = "sent again at the user's word";
    nextTry_ = Clock::now();
    backoff_ = std::chrono::milliseconds(0);
  } else {
    record->state = ForwardState::Skipped;
    record->reason = "skipped at the user's word";
  }
  store_.SetForward(id, *record);
  wake_.notify_all();
  return true;
}

bool Forwarder::SendAgain(uint64_t id, std::string& error) { return Word(id, true, error); }
bool Forwarder::Skip(uint64_t id, std::string& error) { return Word(id, false, error); }

}  // namespace streamcheck::serve
