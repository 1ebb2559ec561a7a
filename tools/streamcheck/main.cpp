// streamcheck: checks a printer stream file, renders its labels and sums it up;
// also a virtual printer on the network ("serve"), on Linux and Windows.
#include <exception>
#include <iostream>

#include "command_line.h"
#ifdef STREAMCHECK_HAS_SERVE
#include "serve/serve_command.h"
#endif

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> args(argv + 1, argv + argc);
#ifdef STREAMCHECK_HAS_SERVE
    if (!args.empty() && args[0] == "serve") {
      return streamcheck::serve::RunServe({args.begin() + 1, args.end()}, std::cout, std::cerr);
    }
#endif
    return streamcheck::RunCommandLine(args, std::cout, std::cerr);
  } catch (const std::exception& e) {
    std::cerr << "streamcheck: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "streamcheck: unexpected failure\n";
  }
  return streamcheck::kExitFiles;
}
