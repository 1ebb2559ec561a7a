// What the store knows of one job: its state, its labels and faults, and how
// far it has gone on to the printer behind the virtual one. Plain data; the
// store (job_store) keeps them, job_json turns them into JSON and back.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stream_checker.h"

namespace streamcheck::serve {

struct Fault {
  std::optional<size_t> offset;  // none for faults of the connection (timeout, size limit)
  std::string message;
  std::string before, after;  // the stream's bytes around the offset, filled in when the job ends
};

// Where a label's picture stands: being drawn and encoded, in the job's
// folder, or never to be stored (a limit, a failure, the server stopping).
enum class PictureState { Pending, Stored, Missing };

struct LabelRecord {
  size_t number = 0;
  size_t offset = 0;
  int32_t width = 0;
  int32_t height = 0;
  PictureState picture = PictureState::Pending;
  size_t sameAs = 0;            // an earlier label of the job drawn the same, whose picture this one shares; 0 none
  std::vector<SentArea> areas;  // the first of them; a label of thousands of bands lists no more
  size_t areaCount = 0;
};

// A job's life: its bytes arrive, it waits for the printer, prints and is
// finished. A job an earlier run left unfinished is interrupted; one whose
// record cannot be read back is damaged.
enum class JobState { Arriving, Waiting, Printing, Finished, Interrupted, Damaged };

// The job on its way to the printer behind the virtual one: not to go (no
// printer behind, or not received whole), waiting its turn or for the
// printer, being sent, sent whole, cut off mid-send (held until the user
// says "Send again" or "Skip"), or skipped by the user.
enum class ForwardState { None, Waiting, Sending, Forwarded, Interrupted, Skipped };

struct ForwardRecord {
  ForwardState state = ForwardState::None;
  uint64_t order = 0;   // its place in the forwarding queue: the order jobs finished arriving
  std::string reason;   // why it waits (refused, unreachable, timed out) or what cut it off
  std::string nextTry;  // while it waits for the printer: when it is tried again, UTC
  std::string when;     // when it was sent whole, UTC
  size_t sent = 0;      // bytes that reached the printer (forwarded), or may have (interrupted)
  size_t total = 0;
  int64_t tookMs = 0;
  uint32_t attempts = 0;
};

struct JobRecord {
  uint64_t id = 0;
  std::string received;  // UTC, ISO 8601
  std::string source;
  std::string via;    // the way it came: "raw", "lpd" or "http"
  std::string title;  // the job's name and user, where its protocol gives them (LPD)
  std::string user;
  JobState state = JobState::Arriving;
  bool freshPrinter = false;  // started on a printer that held nothing
  size_t bytes = 0;
  std::vector<LabelSetup> setups;     // set-up labels in the job
  std::optional<LabelSetup> inForce;  // the set-up its labels were printed with (last one)
  std::vector<LabelRecord> labels;
  std::vector<Fault> faults;
  JobStats stats;
  ForwardRecord forward;
  size_t storedBytes = 0;
  size_t recordBytes = 0;         // of summary.json as last written
  std::optional<int64_t> tookMs;  // from taking the printer to the end of the job
  bool picturesDone = false;      // no picture of the job is pending any more
  bool streamStored = false;      // its stream is in the job's folder, whole

  // Nothing more will happen to it in the printer (it may still go on).
  bool Settled() const {
    return state == JobState::Finished || state == JobState::Interrupted || state == JobState::Damaged;
  }
  // It still has to go on to the printer behind: retention keeps it.
  bool Held() const {
    return forward.state == ForwardState::Waiting || forward.state == ForwardState::Sending ||
           forward.state == ForwardState::Interrupted;
  }
};

}  // namespace streamcheck::serve
