// The job store's files and words: folder names, the clock its records use,
// second names for shared pictures, and the texts of the faults it records.
#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace streamcheck::serve {

// "job-000123": the folder of job 123.
std::string JobFolderName(uint64_t id);
// The number of a folder the store made ("job-000123", "job-1234567"), or 0.
uint64_t JobFolderNumber(const std::string& name);
// The spool of a job still arriving, in its folder.
inline constexpr const char* kSpoolName = "receiving.part";

// Now (or `later` from now), UTC, ISO 8601.
std::string UtcNow(std::chrono::milliseconds later = {});

// `to` names the same picture as `from`: a hard link, or a copy where the
// file system has none. The bytes it took (0 for a link); none on failure.
std::optional<size_t> LinkOrCopy(const std::filesystem::path& from, const std::filesystem::path& to);

// What the store records when its files fail it, or a restart finds a job
// the last run left unfinished.
namespace FaultText {
std::string CannotCreateFolder(const std::string& why);
std::string CannotWrite(const std::string& name);
std::string CutWhileArriving(size_t bytesOnDisk);
std::string CutBeforePrinted();
std::string DamagedRecord(const std::string& why);
std::string StoppedBeforePrinted();
std::string CutWhileSending();
}  // namespace FaultText

}  // namespace streamcheck::serve
