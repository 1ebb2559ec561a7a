// "streamcheck diff A.prn B.prn [--out DIR] [--tolerance N]": what changed in
// what the printer prints from job A to job B.
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace streamcheck {

inline constexpr const char* kDiffUsage =
    "       streamcheck diff A.prn B.prn [--out DIR] [--tolerance N]   (exit 0 same, 1 differ)\n";

// args: the words after "diff". Exit status: 0 the jobs print the same, 1
// they differ, 2 usage, 3 a file cannot be read or holds no job, or a
// picture cannot be written.
int RunDiff(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace streamcheck
