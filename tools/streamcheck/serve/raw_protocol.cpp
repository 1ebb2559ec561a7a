#include "raw_protocol.h"

namespace streamcheck::serve {

namespace {

class RawProtocol final : public ConnectionProtocol {
 public:
  void Opened(Connection& connection) override {
    // A store full of jobs still to go on to the printer behind takes no more: refused, as a busy printer would.
    if (!connection.BeginJob("port " + std::to_string(connection.LocalPort()) + " from " + connection.Peer(), "raw")) {
      connection.Close();
    }
  }

  void Received(Connection& connection, std::string_view bytes) override {
    if (!connection.Spool(bytes)) connection.Close();
  }

  void Ended(Connection& connection, ConnectionEnd how, const std::string& detail) override {
    if (how == ConnectionEnd::Closed && connection.JobBytes() == 0) {
      connection.Fault("the connection closed without sending anything");
    }
    NoteConnectionEnd(connection, how, detail);
  }
};

}  // namespace

std::unique_ptr<ConnectionProtocol> MakeRawProtocol() { return std::make_unique<RawProtocol>(); }

}  // namespace streamcheck::serve
