// The socket calls whose spelling differs between Winsock and POSIX, for the
// server's own sockets (the page's guard and the forwarder's connection).
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#include <sys/socket.h>
#endif

namespace streamcheck::serve {

#ifdef _WIN32
inline constexpr int kSendFlags = 0;  // Winsock raises no signal for a peer gone
inline int PollOne(pollfd& fd, int timeoutMs) { return WSAPoll(&fd, 1, timeoutMs); }
#else
inline constexpr int kSendFlags = MSG_NOSIGNAL;  // a peer gone answers EPIPE, not SIGPIPE
inline int PollOne(pollfd& fd, int timeoutMs) { return poll(&fd, 1, timeoutMs); }
#endif

}  // namespace streamcheck::serve
