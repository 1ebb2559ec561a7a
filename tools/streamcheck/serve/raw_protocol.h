// The raw printing port (9100): every connection is one job, its bytes the
// stream, from the first byte to the client's close.
#pragma once
#include <memory>

#include "receive_loop.h"

namespace streamcheck::serve {

std::unique_ptr<ConnectionProtocol> MakeRawProtocol();

}  // namespace streamcheck::serve
