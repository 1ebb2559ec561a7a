#include "raw_protocol.h"

namespace streamcheck::serve {

namespace {

class RawProtocol final : public ConnectionProtocol {
 public:
  void Opened(Connection& connection) override {
    connection.BeginJob("port " + std::to_string(connection.LocalPort()) + " from " + connection.Peer());
  }

  void Received(Connection& connection, std::string_view bytes) override {
    if (!connection.Spool(bytes)) connection.Close();
  }

  void Ended(Connection& connection, ConnectionEnd how, const std::string& detail) override {
    const ServeOptions& options = connection.Options();
    const bool none = connection.JobBytes() == 0;
    switch (how) {
      case ConnectionEnd::Quiet:
        connection.Fault(std::string(none ? "the client sent nothing" : "the client sent nothing more") + " for " +
                         std::to_string(options.readTimeout.count()) + " ms: the job ends here");
        break;
      case ConnectionEnd::Late:
        connection.Fault("the job took longer than the deadline of " + std::to_string(options.jobDeadline.count()) +
                         " s: the rest was not read, the stream is checked as far as it came");
        break;
      case ConnectionEnd::Closed:
        if (none) connection.Fault("the connection closed without sending anything");
        break;
      case ConnectionEnd::Failed: connection.Fault("the connection failed: " + detail); break;
      case ConnectionEnd::Stopped:
        connection.Fault("the virtual printer was stopped while the job was arriving");
        break;
      case ConnectionEnd::Cut: break;  // the bound that cut it noted its fault
    }
  }
};

}  // namespace

std::unique_ptr<ConnectionProtocol> MakeRawProtocol() { return std::make_unique<RawProtocol>(); }

}  // namespace streamcheck::serve
