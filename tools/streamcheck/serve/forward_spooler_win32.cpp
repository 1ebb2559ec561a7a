// Windows only: "--forward printer:NAME" hands each job to an installed
// printer through the spooler with the RAW datatype, as a USB label printer
// is reached: OpenPrinterW, StartDocPrinterW, WritePrinter, EndDocPrinter.
#ifdef _WIN32
#include <windows.h>
#include <winspool.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "forward_target.h"
#include "platform/win32/unique_handle.h"

namespace streamcheck::serve {

namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

class SpoolerSender final : public JobSender {
 public:
  explicit SpoolerSender(const ForwardTarget& target) : name_(Wide(target.printer)) {}

  SendOutcome Send(const ForwardJob& job, const std::atomic<bool>& stop) override {
    UniquePrinter printer;  // closed on every path
    if (!OpenPrinterW(name_.data(), printer.put(), nullptr)) {
      return {SendOutcome::Kind::NotReached,
              "unreachable (no printer of that name: error " + std::to_string(GetLastError()) + ")", 0};
    }
    std::wstring title = Wide(job.title.empty() ? "job " + std::to_string(job.id) : job.title);
    std::wstring datatype = L"RAW";
    DOC_INFO_1W document{title.data(), nullptr, datatype.data()};
    if (StartDocPrinterW(printer.get(), 1, reinterpret_cast<BYTE*>(&document)) == 0) {
      return {SendOutcome::Kind::NotReached,
              "refused (the spooler would not start the job: error " + std::to_string(GetLastError()) + ")", 0};
    }
    // From here the spooler holds a job of ours: a failure leaves part of it there.
    size_t sent = 0;
    std::string reason = WriteStream(printer.get(), job, stop, sent);
    if (!EndDocPrinter(printer.get()) && reason.empty()) {
      reason = "the spooler did not end the job: error " + std::to_string(GetLastError());
    }
    if (!reason.empty()) return {SendOutcome::Kind::Cut, reason, sent};
    return {SendOutcome::Kind::Sent, {}, sent};
  }

 private:
  static std::string WriteStream(HANDLE printer, const ForwardJob& job, const std::atomic<bool>& stop, size_t& sent) {
    std::ifstream in(job.stream, std::ios::binary);
    std::vector<char> piece(kSendPiece);
    for (size_t left = job.bytes; left > 0;) {
      if (stop) return kStoppedWhileSending;
      in.read(piece.data(), static_cast<std::streamsize>(std::min(left, piece.size())));
      const auto got = static_cast<DWORD>(in.gcount());
      if (got == 0) return "the job's stored stream cannot be read";
      DWORD written = 0;
      if (!WritePrinter(printer, piece.data(), got, &written) || written != got) {
        const DWORD error = GetLastError();
        sent += written;
        return "the spooler took " + std::to_string(written) + " of " + std::to_string(got) + " bytes: error " +
               std::to_string(error);
      }
      sent += written;
      left -= got;
    }
    return {};
  }

  std::wstring name_;
};

}  // namespace

std::unique_ptr<JobSender> MakeSpoolerSender(const ForwardTarget& target) {
  return std::make_unique<SpoolerSender>(target);
}

}  // namespace streamcheck::serve
#endif
