// The printer behind the network ports: takes one job at a time, checks and
// draws it as it arrives against the memory that earlier jobs left (unless
// every job starts fresh), and files it in the job store: each label as soon
// as it is printed, its picture later, by the PictureWriter.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "job_store.h"
#include "picture_writer.h"
#include "serve_options.h"
#include "stream_checker.h"

namespace streamcheck::serve {

class VirtualPrinter;

// One job being received. Holds the printer for itself until it finishes, as
// a printer prints one job at a time.
class PrinterJob {
 public:
  PrinterJob(const PrinterJob&) = delete;
  PrinterJob& operator=(const PrinterJob&) = delete;
  ~PrinterJob();

  uint64_t Id() const { return id_; }
  // Takes the next piece of the stream; false once the job has reached a
  // limit of what it may print (the fault recorded) or the printer stops.
  bool Feed(std::string_view piece);
  // A fault of the connection rather than of the stream (timeout, ...).
  void Fault(const std::string& message);
  // The job's record holds faults of its connection already.
  void Faulted() { faulted_ = true; }
  // The end of the stream: checks the rest and stores the job. Runs by itself
  // at destruction if not called.
  void Finish();

 private:
  friend class VirtualPrinter;
  PrinterJob(VirtualPrinter& printer, std::unique_lock<std::mutex> hold, uint64_t id);
  // Takes a drawn label: recorded, or refused (ending the replay) past a limit.
  bool TakeLabel(const PrintedLabel& label);
  // Hands what was replayed last, and the labels it printed, to the picture writer.
  void PassOn(std::string_view bytes);
  // True (and the job cut, once) when the printer is being stopped.
  bool StopRequested();

  VirtualPrinter& printer_;
  std::unique_lock<std::mutex> hold_;
  uint64_t id_ = 0;
  LabelSink sink_;
  std::unique_ptr<StreamFeed> feed_;
  bool overLimit_ = false;
  bool faulted_ = false;
  bool finished_ = false;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  size_t labels_ = 0;
  uint64_t pixels_ = 0;                         // of the labels with pictures of their own
  std::unordered_map<uint64_t, size_t> drawn_;  // picture version -> first label of the job drawn so
  std::vector<size_t> sameAs_;                  // labels printed since the last PassOn
};

class VirtualPrinter {
 public:
  // `pictures` draws and files the pictures of the labels it prints.
  VirtualPrinter(const ServeOptions& options, JobStore& store, PictureWriter& pictures)
      : options_(options), store_(store), pictures_(pictures) {
    Empty();
    TakeSnapshot();
  }

  // Prints the job of the record `id` (from JobStore::Begin). Waits while
  // another job is printing.
  std::unique_ptr<PrinterJob> StartJob(uint64_t id);
  // Switched off and on: the memory is empty again. Waits for a running job.
  void PowerCycle();
  // The server stops: a running job is cut at its next piece or label, and
  // the pictures still to draw are marked as without one.
  void Stop() {
    stopping_ = true;
    pictures_.Stop();
  }
  // What the printer holds now, as the page shows it (taken after each job
  // and power cycle, so it never waits for a running job), and the picture of
  // the kept label then (PNG, empty when none).
  nlohmann::json Memory() const;
  // `version`: the one a snapshot named in its URL (the current and the one
  // before are held, so that a page reads the picture it showed, not a newer
  // one); nullopt: the current. Empty when it is not held.
  std::vector<uint8_t> KeptPicture(std::optional<uint64_t> version = std::nullopt) const;
  // What the snapshots' URLs of the kept label end in: "-" and this.
  std::string KeptToken() const;

 private:
  friend class PrinterJob;
  void Empty();         // as after power-on; busy_ held or not yet shared
  void TakeSnapshot();  // busy_ held
  const ServeOptions& options_;
  JobStore& store_;
  std::mutex busy_;
  PrinterMemory memory_;  // guarded by busy_
  bool empty_ = true;     // nothing printed since power-up
  std::atomic<bool> stopping_{false};
  mutable std::mutex snapshotMutex_;
  nlohmann::json snapshot_;  // guarded by snapshotMutex_
  struct KeptPage {
    uint64_t version = 0;  // the snapshot it was taken with
    std::shared_ptr<const RgbImage> picture;
    mutable std::vector<uint8_t> png;  // encoded when first asked for
  };
  KeptPage kept_, keptBefore_;  // the current and the one before; guarded by snapshotMutex_
  uint64_t snapshots_ = 0;      // guarded by snapshotMutex_
  PictureWriter& pictures_;
};

}  // namespace streamcheck::serve
