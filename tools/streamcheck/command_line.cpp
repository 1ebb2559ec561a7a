#include "command_line.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "diff_command.h"
#include "job_summary.h"
#include "png_codec.h"
#include "stream_checker.h"
#include "stream_parser.h"

namespace streamcheck {

namespace {

constexpr const char* kUsage =
    "usage: streamcheck check FILE\n"
    "       streamcheck render FILE OUTDIR   (writes OUTDIR/label-001.png ...)\n"
    "       streamcheck summary FILE [--list]\n"
    "       streamcheck diff A.prn B.prn [--out DIR] [--tolerance N]   (exit 0 same, 1 differ)\n"
#ifdef STREAMCHECK_HAS_SERVE
    "       streamcheck serve [--out DIR] [--port N] [--http N] [--listen ADDRESS] ...   (virtual printer)\n"
#endif
    "exit status: 0 sound, 1 damaged stream, 2 usage, 3 file error\n";

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

void ReportDamage(const StreamError& error, std::ostream& err) {
  err << "offset " << error.offset << ": " << error.message << "\n";
}

std::string LabelFileName(size_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "label-%03zu.png", number);
  return name;
}

int Check(const std::string& bytes, std::ostream& out, std::ostream& err) {
  const CheckResult result = CheckStream(bytes);
  if (result.error) {
    ReportDamage(*result.error, err);
    return kExitDamaged;
  }
  out << "ok: " << result.stats.labels << " labels, " << result.stats.bytes << " bytes\n";
  return kExitOk;
}

int Render(const std::string& bytes, const std::string& outDir, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::path(outDir);
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    err << "cannot create " << outDir << ": " << ec.message() << "\n";
    return kExitFiles;
  }
  std::vector<uint8_t> png;
  uint64_t encoded = 0;  // the version `png` shows; a label drawn the same is not encoded again
  std::string failedFile;
  const LabelSink sink = [&](const PrintedLabel& label) {
    const std::filesystem::path file = dir / LabelFileName(label.number);
    std::ofstream stream(file, std::ios::binary);
    if (label.version != encoded || png.empty()) {
      encoded = EncodePng(label.picture, LabelPictureEncoding(), png) ? label.version : 0;
    }
    if (encoded == 0 || !stream ||
        !stream.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()))) {
      failedFile = file.string();
      return false;
    }
    return true;
  };
  const CheckResult result = CheckStream(bytes, &sink);
  if (result.stoppedBySink) {
    err << "cannot write " << failedFile << "\n";
    return kExitFiles;
  }
  out << "wrote " << result.stats.labels << " labels to " << outDir << "\n";
  if (result.error) {
    ReportDamage(*result.error, err);
    return kExitDamaged;
  }
  return kExitOk;
}

int Summary(const std::string& bytes, bool listing, std::ostream& out, std::ostream& err) {
  const ParsedStream parsed = ParseStream(bytes);
  const CheckResult result = CheckStream(bytes, parsed);
  if (listing) out << FormatListing(parsed.commands);
  out << FormatSummary(result.stats);
  if (result.error) {
    ReportDamage(*result.error, err);
    return kExitDamaged;
  }
  return kExitOk;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (!args.empty() && args[0] == "diff") return RunDiff({args.begin() + 1, args.end()}, out, err);
  const bool known =
      args.size() >= 2 && ((args[0] == "check" && args.size() == 2) || (args[0] == "render" && args.size() == 3) ||
                           (args[0] == "summary" && (args.size() == 2 || (args.size() == 3 && args[2] == "--list"))));
  if (!known) {
    err << kUsage;
    return kExitUsage;
  }
  std::string bytes;
  if (!ReadWholeFile(args[1], bytes)) {
    err << "cannot read " << args[1] << "\n";
    return kExitFiles;
  }
  if (args[0] == "check") return Check(bytes, out, err);
  if (args[0] == "render") return Render(bytes, args[2], out, err);
  return Summary(bytes, args.size() == 3, out, err);
}

}  // namespace streamcheck
