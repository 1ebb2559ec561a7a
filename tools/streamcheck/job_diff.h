// What changed in what the printer prints between two jobs: both are replayed
// side by side, each on a printer that holds nothing, their labels paired in
// order and compared dot for dot, their set-ups setting by setting. A damaged
// job is compared as far as it prints.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "label_compare.h"
#include "stream_checker.h"

namespace streamcheck {

enum class LabelVerdict { Same, Differ, OnlyInA, OnlyInB };

struct LabelDiff {
  size_t number = 0;  // the label's number in its job(s): pairs are in order
  LabelVerdict verdict = LabelVerdict::Same;
  int32_t widthA = 0, heightA = 0;  // 0 when it is only in B
  int32_t widthB = 0, heightB = 0;  // 0 when it is only in A
  LabelComparison comparison;
  // Known without comparing pixels again: 0, or the number of the earlier
  // pair it equals (both labels are that pair's labels, unchanged), or its own
  // number when both jobs' bytes up to it are the same.
  size_t provenBy = 0;
};

// One set-up setting that differs; `index` counts the jobs' set-ups from 1.
struct SetupDifference {
  size_t index = 0;
  std::string setting;  // "media", "label size", "cutting", "quality", "direction" or "set-up"
  std::string a, b;
};

struct DiffSide {
  size_t bytes = 0;
  size_t labels = 0;
  std::vector<LabelSetup> setups;
  std::optional<StreamError> damage;  // what stopped it printing
};

struct JobDiff {
  DiffSide a, b;
  int tolerance = 0;
  bool identicalBytes = false;  // drawn once: the same bytes print the same
  std::vector<LabelDiff> labels;
  std::vector<SetupDifference> setup;
  size_t same = 0, differ = 0, onlyInA = 0, onlyInB = 0;
  bool stopped = false;  // the picture callback asked to stop

  bool PrintsTheSame() const { return differ == 0 && onlyInA == 0 && onlyInB == 0 && setup.empty(); }
};

struct DiffOptions {
  int tolerance = 0;
  // With each differing label: B's picture with the differences marked (see
  // CompareLabels). A label proven equal to an earlier pair comes with that
  // pair's picture again. Returning false ends the comparison.
  std::function<bool(const LabelDiff&, const RgbImage&)> marked;
};

JobDiff DiffJobs(std::string_view a, std::string_view b, const DiffOptions& options = {});

// Why `bytes` is no printer job at all (empty, or not one command of the
// printer's language before its first fault); nullopt for a job, damaged or not.
std::optional<std::string> NoJobReason(std::string_view bytes);

// The settings of two set-ups that differ (the clock is not a setting).
std::vector<SetupDifference> CompareSetups(const std::vector<LabelSetup>& a, const std::vector<LabelSetup>& b);

}  // namespace streamcheck
