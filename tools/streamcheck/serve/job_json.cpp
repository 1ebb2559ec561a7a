#include "job_json.h"

#include <cstdio>

namespace streamcheck::serve {

namespace {

constexpr const char* kStateNames[] = {"arriving", "waiting", "printing", "finished", "interrupted", "damaged"};
constexpr const char* kForwardNames[] = {"none", "waiting", "sending", "forwarded", "interrupted", "skipped"};

template <typename Enum, size_t N>
std::optional<Enum> EnumFromName(const std::string& name, const char* const (&names)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (name == names[i]) return static_cast<Enum>(i);
  }
  return std::nullopt;
}

template <typename Number>
nlohmann::json Optional(const std::optional<Number>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

nlohmann::json ForwardJson(const ForwardRecord& f) {
  return {{"state", ForwardStateName(f.state)},
          {"order", f.order},
          {"reason", f.reason},
          {"nextTry", f.nextTry},
          {"when", f.when},
          {"sent", f.sent},
          {"total", f.total},
          {"tookMs", f.tookMs},
          {"attempts", f.attempts}};
}

ForwardRecord ForwardFromJson(const nlohmann::json& json) {
  ForwardRecord f;
  if (!json.is_object()) return f;
  const auto state = EnumFromName<ForwardState>(json.at("state").get<std::string>(), kForwardNames);
  if (!state) throw std::runtime_error("unknown forwarding state");
  f.state = *state;
  f.order = json.at("order").get<uint64_t>();
  f.reason = json.at("reason").get<std::string>();
  f.nextTry = json.at("nextTry").get<std::string>();
  f.when = json.at("when").get<std::string>();
  f.sent = json.at("sent").get<size_t>();
  f.total = json.at("total").get<size_t>();
  f.tookMs = json.at("tookMs").get<int64_t>();
  f.attempts = json.at("attempts").get<uint32_t>();
  return f;
}

LabelSetup SetupFromJson(const nlohmann::json& json) {
  LabelSetup s;
  s.offset = json.at("offset").get<size_t>();
  s.media = json.at("media").get<std::string>();
  s.width = json.at("width").get<int32_t>();
  s.length = json.at("length").get<int32_t>();
  s.cutMode = json.at("cutting").get<std::string>() == "on" ? 'E' : 'N';
  s.pagesPerCut = json.at("pagesPerCut").get<uint32_t>();
  s.printMode = json.at("quality").get<int32_t>();
  s.direction = json.at("direction").get<std::string>() == "bidirectional" ? 'B' : 'U';
  const std::string clock = json.at("clock").get<std::string>();
  ClockValue& c = s.clock;
  if (std::sscanf(clock.c_str(), "%d-%d-%d %d:%d:%d", &c.year, &c.month, &c.day, &c.hour, &c.minute, &c.second) != 6) {
    throw std::runtime_error("bad clock");
  }
  return s;
}

nlohmann::json LabelJson(const JobRecord& job, const LabelRecord& label, const std::string& runToken) {
  nlohmann::json areas = nlohmann::json::array();
  for (const SentArea& a : label.areas) {
    areas.push_back({{"x", a.x},
                     {"y", a.y},
                     {"width", a.width},
                     {"height", a.height},
                     {"bytes", a.pngBytes},
                     {"download", a.downloadOffset},
                     {"recall", a.recallOffset}});
  }
  // A pending picture has its address already: asking for it waits for it.
  return {{"number", label.number},
          {"areas", std::move(areas)},
          {"areaCount", label.areaCount},
          {"offset", label.offset},
          {"width", label.width},
          {"height", label.height},
          {"sameAs", label.sameAs},
          {"url", label.picture != PictureState::Missing
                      ? "/jobs/" + std::to_string(job.id) + "/" + LabelFileName(label.number) + "?v=" + runToken
                      : std::string()}};
}

LabelRecord LabelFromJson(const nlohmann::json& json) {
  LabelRecord label;
  label.number = json.at("number").get<size_t>();
  label.offset = json.at("offset").get<size_t>();
  label.width = json.at("width").get<int32_t>();
  label.height = json.at("height").get<int32_t>();
  label.sameAs = json.at("sameAs").get<size_t>();
  label.areaCount = json.at("areaCount").get<size_t>();
  label.picture = json.at("url").get<std::string>().empty() ? PictureState::Missing : PictureState::Stored;
  for (const auto& a : json.at("areas")) {
    label.areas.push_back({a.at("x").get<int64_t>(), a.at("y").get<int64_t>(), a.at("width").get<int32_t>(),
                           a.at("height").get<int32_t>(), a.at("bytes").get<size_t>(), a.at("download").get<size_t>(),
                           a.at("recall").get<size_t>()});
  }
  return label;
}

}  // namespace

std::string LabelFileName(size_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "label-%03zu.png", number);
  return name;
}

const char* StateName(JobState state) { return kStateNames[static_cast<size_t>(state)]; }
const char* ForwardStateName(ForwardState state) { return kForwardNames[static_cast<size_t>(state)]; }

nlohmann::json SetupJson(const LabelSetup& s) {
  char clock[40];
  std::snprintf(clock, sizeof clock, "%04d-%02d-%02d %02d:%02d:%02d", s.clock.year, s.clock.month, s.clock.day,
                s.clock.hour, s.clock.minute, s.clock.second);
  return {{"offset", s.offset},
          {"media", s.media},
          {"width", s.width},
          {"length", s.length},
          {"cutting", s.cutMode == 'E' ? "on" : "off"},
          {"pagesPerCut", s.pagesPerCut},
          {"quality", s.printMode},
          {"direction", s.direction == 'B' ? "bidirectional" : "unidirectional"},
          {"clock", clock}};
}

nlohmann::json FaultJson(const Fault& fault) {
  nlohmann::json json{{"message", fault.message}, {"before", fault.before}, {"after", fault.after}};
  json["offset"] = Optional(fault.offset);
  return json;
}

nlohmann::json JobJson(const JobRecord& job, const std::string& runToken) {
  nlohmann::json json{
      {"id", job.id},
      {"received", job.received},
      {"source", job.source},
      {"via", job.via},
      {"title", job.title},
      {"user", job.user},
      {"state", StateName(job.state)},
      {"finished", job.Settled()},
      {"freshPrinter", job.freshPrinter},
      {"bytes", job.bytes},
      {"formats", job.stats.formats},
      {"downloads", job.stats.downloads},
      {"recalls", job.stats.recalls},
      {"labelCount", job.stats.labels},
      {"stream", job.streamStored ? "/jobs/" + std::to_string(job.id) + "/" + kStreamName + "?v=" + runToken : ""},
      {"picturesDone", job.picturesDone},
      {"forward", ForwardJson(job.forward)},
  };
  json["tookMs"] = Optional(job.tookMs);
  json["setups"] = nlohmann::json::array();
  for (const LabelSetup& setup : job.setups) json["setups"].push_back(SetupJson(setup));
  json["setup"] = job.inForce ? SetupJson(*job.inForce) : nlohmann::json(nullptr);
  json["labels"] = nlohmann::json::array();
  for (const LabelRecord& label : job.labels) json["labels"].push_back(LabelJson(job, label, runToken));
  json["faults"] = nlohmann::json::array();
  for (const Fault& fault : job.faults) json["faults"].push_back(FaultJson(fault));
  return json;
}

std::optional<JobRecord> JobFromJson(const nlohmann::json& json) try {
  JobRecord job;
  job.id = json.at("id").get<uint64_t>();
  job.received = json.at("received").get<std::string>();
  job.source = json.at("source").get<std::string>();
  job.via = json.at("via").get<std::string>();
  job.title = json.at("title").get<std::string>();
  job.user = json.at("user").get<std::string>();
  const auto state = EnumFromName<JobState>(json.at("state").get<std::string>(), kStateNames);
  if (!state) return std::nullopt;
  job.state = *state;
  job.freshPrinter = json.at("freshPrinter").get<bool>();
  job.bytes = json.at("bytes").get<size_t>();
  job.stats.formats = json.at("formats").get<size_t>();
  job.stats.downloads = json.at("downloads").get<size_t>();
  job.stats.recalls = json.at("recalls").get<size_t>();
  job.stats.labels = json.value("labelCount", size_t{0});
  job.streamStored = !json.at("stream").get<std::string>().empty();
  job.picturesDone = json.at("picturesDone").get<bool>();
  job.forward = ForwardFromJson(json.at("forward"));
  if (!json.at("tookMs").is_null()) job.tookMs = json.at("tookMs").get<int64_t>();
  for (const auto& setup : json.at("setups")) job.setups.push_back(SetupFromJson(setup));
  if (!json.at("setup").is_null()) job.inForce = SetupFromJson(json.at("setup"));
  for (const auto& label : json.at("labels")) job.labels.push_back(LabelFromJson(label));
  for (const auto& f : json.at("faults")) {
    Fault fault{std::nullopt, f.at("message").get<std::string>(), f.at("before").get<std::string>(),
                f.at("after").get<std::string>()};
    if (!f.at("offset").is_null()) fault.offset = f.at("offset").get<size_t>();
    job.faults.push_back(std::move(fault));
  }
  return job;
} catch (const std::exception&) {
  return std::nullopt;
}

}  // namespace streamcheck::serve
