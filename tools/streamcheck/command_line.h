// The streamcheck program's commands, callable without a process so that
// tests can drive them.
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace streamcheck {

enum ExitStatus : int {
  kExitOk = 0,
  kExitDamaged = 1,  // the stream breaks the command language: "offset N: ..."
  kExitUsage = 2,
  kExitFiles = 3,  // the input cannot be read or a label picture cannot be written
};

// args: the words after the program name.
int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace streamcheck
