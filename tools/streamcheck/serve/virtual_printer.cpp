#include "virtual_printer.h"

#include <algorithm>

namespace streamcheck::serve {

PrinterJob::PrinterJob(VirtualPrinter& printer, std::unique_lock<std::mutex> hold, const std::string& source)
    : printer_(printer), hold_(std::move(hold)) {
  if (printer_.options_.freshEachJob) printer_.Empty();
  const bool fresh = printer_.options_.freshEachJob || printer_.empty_;
  printer_.empty_ = false;
  id_ = printer_.store_.Begin(source, fresh);
  sink_ = [this](const PrintedLabel& label) {
    printer_.store_.AddLabel(id_, label);
    return true;
  };
  feed_ = std::make_unique<StreamFeed>(printer_.memory_, &sink_);
}

PrinterJob::~PrinterJob() {
  try {
    Finish();
  } catch (...) {
    // Nothing may escape a destructor; the record keeps what it had.
  }
}

bool PrinterJob::Feed(std::string_view piece) {
  if (overLimit_ || finished_) return false;
  const size_t limit = printer_.options_.maxJobBytes;
  const size_t room = limit - std::min(limit, feed_->Bytes().size());
  if (piece.size() > room) {
    feed_->Feed(piece.substr(0, room));
    overLimit_ = true;
    Fault("the job is larger than the limit of " + std::to_string(limit) +
          " bytes: the rest was not read, the stream is checked as far as the limit");
    return false;
  }
  feed_->Feed(piece);
  return true;
}

void PrinterJob::Fault(const std::string& message) { printer_.store_.AddFault(id_, {std::nullopt, message}); }

void PrinterJob::Finish() {
  if (finished_) return;
  finished_ = true;
  const CheckResult result = feed_->Finish();
  printer_.store_.Finish(id_, feed_->Bytes(), result, printer_.memory_.setup);
  feed_.reset();
  if (hold_.owns_lock()) hold_.unlock();
}

void VirtualPrinter::Empty() {
  memory_ = PrinterMemory{};
  memory_.imageByteLimit = options_.printerMemoryBytes;
  empty_ = true;
}

std::unique_ptr<PrinterJob> VirtualPrinter::StartJob(const std::string& source) {
  std::unique_lock hold(busy_);
  return std::unique_ptr<PrinterJob>(new PrinterJob(*this, std::move(hold), source));
}

void VirtualPrinter::PowerCycle() {
  {
    std::lock_guard hold(busy_);
    Empty();
  }
  store_.NotePowerCycle();
}

}  // namespace streamcheck::serve
