// The line printer daemon port (RFC 1179): a client hands over print jobs as
// a control file (job name, user, host) and a data file (the stream), each
// announced with its byte count and acknowledged. The data file is the job,
// printed like a raw job; the control file names it on the page. Queue state
// and remove-jobs get a short answer; anything else is refused.
#pragma once
#include <memory>

#include "receive_loop.h"

namespace streamcheck::serve {

// The largest control file taken: a few lines of names, never megabytes.
inline constexpr size_t kLpdMostControlBytes = 16 * 1024;
// The longest command line (a command, a count and a file name).
inline constexpr size_t kLpdMostLineBytes = 1024;

std::unique_ptr<ConnectionProtocol> MakeLpdProtocol();

}  // namespace streamcheck::serve
