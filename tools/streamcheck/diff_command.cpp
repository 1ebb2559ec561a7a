#include "diff_command.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "command_line.h"
#include "diff_report.h"
#include "png_codec.h"

namespace streamcheck {

namespace {

struct DiffArgs {
  std::string a, b;
  std::optional<std::string> out;
  int tolerance = 0;
};

std::optional<DiffArgs> ParseDiffArgs(const std::vector<std::string>& args) {
  DiffArgs parsed;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool valued = args[i] == "--out" || args[i] == "--tolerance";
    if (valued && i + 1 == args.size()) return std::nullopt;
    if (args[i] == "--out") {
      parsed.out = args[++i];
    } else if (args[i] == "--tolerance") {
      const std::string& text = args[++i];
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed.tolerance);
      if (ec != std::errc() || end != text.data() + text.size() || parsed.tolerance < 0 || parsed.tolerance > 255) {
        return std::nullopt;
      }
    } else if (args[i].rfind("--", 0) == 0) {
      return std::nullopt;
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) return std::nullopt;
  parsed.a = files[0];
  parsed.b = files[1];
  return parsed;
}

// Reads a job; an empty optional (and a message) when it cannot be read or is no job.
std::optional<std::string> ReadJob(const std::string& path, std::ostream& err) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::string bytes;
  if (in) bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in || in.bad()) {
    err << "cannot read " << path << "\n";
    return std::nullopt;
  }
  if (const auto reason = NoJobReason(bytes)) {
    err << path << " holds no printer job: " << *reason << "\n";
    return std::nullopt;
  }
  return bytes;
}

bool WriteFile(const std::filesystem::path& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  return out && out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)) && out.flush();
}

}  // namespace

int RunDiff(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const std::optional<DiffArgs> parsed = ParseDiffArgs(args);
  if (!parsed) {
    err << "usage:" << (kDiffUsage + 6);
    return kExitUsage;
  }
  const auto a = ReadJob(parsed->a, err);
  const auto b = a ? ReadJob(parsed->b, err) : std::nullopt;
  if (!a || !b) return kExitFiles;
  const std::filesystem::path dir = parsed->out.value_or("");
  std::error_code ec;
  if (parsed->out) std::filesystem::create_directories(dir, ec);
  if (ec) {
    err << "cannot create " << *parsed->out << ": " << ec.message() << "\n";
    return kExitFiles;
  }
  DiffOptions options;
  options.tolerance = parsed->tolerance;
  std::vector<uint8_t> png;
  size_t encodedFor = 0;  // the pair `png` shows; a pair proven equal to it is not encoded again
  std::string failed;
  if (parsed->out) {
    options.marked = [&](const LabelDiff& d, const RgbImage& marked) {
      const size_t key = d.provenBy ? d.provenBy : d.number;
      if (key != encodedFor || png.empty()) encodedFor = EncodePng(marked, LabelPictureEncoding(), png) ? key : 0;
      const std::filesystem::path file = dir / DiffPictureName(d.number);
      if (encodedFor == 0 || !WriteFile(file, png.data(), png.size())) failed = file.string();
      return failed.empty();
    };
  }
  const JobDiff diff = DiffJobs(*a, *b, options);
  if (parsed->out && failed.empty()) {
    const std::string json = DiffJson(diff, parsed->a, parsed->b, true);
    if (!WriteFile(dir / "diff.json", json.data(), json.size())) failed = (dir / "diff.json").string();
  }
  if (!failed.empty()) {
    err << "cannot write " << failed << "\n";
    return kExitFiles;
  }
  out << DiffReport(diff, parsed->a, parsed->b);
  return diff.PrintsTheSame() ? kExitOk : kExitDamaged;
}

}  // namespace streamcheck
