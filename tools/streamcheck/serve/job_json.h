// The job records as JSON: the view the page and the API read, which is also
// what a job's folder keeps as its record (summary.json) and what a later run
// reads back.
#pragma once
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "job_record.h"

namespace streamcheck::serve {

// The names of a job's files, in its folder and in its addresses.
inline constexpr const char* kStreamName = "stream.prn";
inline constexpr const char* kSummaryName = "summary.txt";
inline constexpr const char* kRecordName = "summary.json";
std::string LabelFileName(size_t number);

const char* StateName(JobState state);
const char* ForwardStateName(ForwardState state);

nlohmann::json SetupJson(const LabelSetup& setup);
nlohmann::json FaultJson(const Fault& fault);
// `runToken` tells this run's picture addresses from an earlier run's.
nlohmann::json JobJson(const JobRecord& job, const std::string& runToken);
// A record read back; none when it is not one of ours or is damaged.
std::optional<JobRecord> JobFromJson(const nlohmann::json& json);

}  // namespace streamcheck::serve
