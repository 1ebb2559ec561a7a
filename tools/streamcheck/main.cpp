// streamcheck: checks a printer stream file, renders its labels and sums it up.
#include <exception>
#include <iostream>

#include "command_line.h"

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return streamcheck::RunCommandLine(args, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "streamcheck: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "streamcheck: unexpected failure\n";
  }
  return streamcheck::kExitFiles;
}
