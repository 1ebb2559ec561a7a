#include "job_summary.h"

#include <cstdio>

namespace streamcheck {

namespace {

std::string Setup(const LabelSetup& s) {
  char text[256];
  std::snprintf(text, sizeof text,
                "set-up at offset %zu: media %s, size %d x %d dots, cutting %s (%u pages per cut), "
                "print mode %d, direction %s, clock %04d-%02d-%02d %02d:%02d:%02d\n",
                s.offset, s.media.c_str(), s.width, s.length, s.cutMode == 'E' ? "on" : "off", s.pagesPerCut,
                s.printMode, s.direction == 'B' ? "bidirectional" : "unidirectional", s.clock.year, s.clock.month,
                s.clock.day, s.clock.hour, s.clock.minute, s.clock.second);
  return text;
}

}  // namespace

std::string FormatSummary(const JobStats& stats) {
  std::string out;
  out += "bytes: " + std::to_string(stats.bytes) + " in " + std::to_string(stats.commands) + " commands, " +
         std::to_string(stats.formats) + " label formats\n";
  out += "labels printed: " + std::to_string(stats.labels) + "\n";
  out += "images: " + std::to_string(stats.images) + " in " + std::to_string(stats.recalls) + " bands (" +
         std::to_string(stats.downloads) + " downloads, " + std::to_string(stats.pngBytes) + " bytes of PNG)\n";
  if (stats.labels > 0) {
    out += "bytes per label: " + std::to_string(stats.bytes / stats.labels) + "\n";
  } else {
    out += "bytes per label: -\n";
  }
  if (stats.setups.empty()) out += "set-up: none\n";
  for (const LabelSetup& setup : stats.setups) out += Setup(setup);
  return out;
}

std::string FormatListing(const std::vector<Command>& commands) {
  std::string out;
  char offset[32];
  for (const Command& command : commands) {
    std::snprintf(offset, sizeof offset, "%10zu  ", command.offset);
    out += offset + DescribeCommand(command) + "\n";
  }
  return out;
}

}  // namespace streamcheck
