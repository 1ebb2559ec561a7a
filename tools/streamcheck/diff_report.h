// A job comparison as people read it (a line per label, set-up differences,
// damage, one summary line) and as programs read it (JSON: the command line's
// --out and the virtual printer's /api/diff answer the same document).
#pragma once
#include <string>

#include "job_diff.h"

namespace streamcheck {

// The file a differing label's marked picture is written to: label-001.png ...
std::string DiffPictureName(size_t number);

// The one line that ends the report: "same: ..." or "differ: ...".
std::string DiffSummaryLine(const JobDiff& diff);

// The whole report, summary line last. `a` and `b` name the jobs.
std::string DiffReport(const JobDiff& diff, const std::string& a, const std::string& b);

// The comparison as JSON. With `pictures`, each differing label names its
// marked picture (DiffPictureName); otherwise "picture" is null.
std::string DiffJson(const JobDiff& diff, const std::string& a, const std::string& b, bool pictures);

}  // namespace streamcheck
