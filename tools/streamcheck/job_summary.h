// Plain-text reports of a checked stream: the job summary and the command
// listing with byte offsets.
#pragma once
#include <string>
#include <vector>

#include "stream_checker.h"
#include "stream_parser.h"

namespace streamcheck {

std::string FormatSummary(const JobStats& stats);
std::string FormatListing(const std::vector<Command>& commands);

}  // namespace streamcheck
