#include "upload/schedule.h"

#include <algorithm>
#include <string_view>

#include "platform/text.h"
#include "upload/section_text.h"

namespace tallowin {

namespace {

// The first source's value within [low, high], with its source's name.
template <typename Field>
void choose(const std::vector<ScheduleSource>& sources, Field field, int64_t low, int64_t high, int& value,
            std::string& source) {
  for (const ScheduleSource& s : sources) {
    const std::optional<int64_t>& v = s.*field;
    if (v && *v >= low && *v <= high) {
      value = static_cast<int>(*v);
      source = s.name;
      return;
    }
  }
}

// FNV-1a, 64 bits, over each text with its length first (so that texts
// cannot run into each other).
void mix(uint64_t& h, const std::string& text) {
  constexpr uint64_t kPrime = 1099511628211ULL;
  const std::string length = std::to_string(text.size()) + ":";
  for (const std::string* part : {&length, &text}) {
    for (const char c : *part) {
      h ^= static_cast<unsigned char>(c);
      h *= kPrime;
    }
  }
}

// Lines that change by themselves, run after run: traffic counters and the
// clock rate Windows measures at boot. Left out of the digest, or every
// run would find a "changed" record.
bool volatileLine(std::string_view line) {
  static constexpr std::string_view kLabels[] = {
      "Packets Sent: ",     "Error Packets Sent: ",     "Send Error Rate: ",
      "Packets Received: ", "Error Packets Received: ", "Receive Error Rate: ",
      "Approximate CPU Clock Rate: ",
      // The complete profile's: memory in use, the battery.
      "Memory Load: ", "Available Physical Memory: ", "In-Use Physical Memory: ",
      "Available Page File Size: ", "In-Use Page File Size: ", "Available Virtual Memory: ",
      "In-Use Virtual Memory: ", "Charge Remaining: ", "Lifetime on Current Charge: ",
      "AC Line Status: ", "Battery Condition: ",
  };
  line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
  for (const std::string_view label : kLabels)
    if (line.substr(0, label.size()) == label) return true;
  return false;
}

std::string steadyLines(const std::string& text) {
  std::string out;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find(kSectionSeparator, start);
    const size_t stop = end == std::string::npos ? text.size() : end + std::string_view(kSectionSeparator).size();
    if (!volatileLine(std::string_view(text).substr(start, stop - start))) out += text.substr(start, stop - start);
    start = stop;
  }
  return out;
}

bool busy(int status) { return status == 429 || status == 503; }

}  // namespace

ScheduleSettings ChooseSchedule(const std::vector<ScheduleSource>& sources) {
  ScheduleSettings s;
  int enabled = 1;
  choose(sources, &ScheduleSource::enabled, 0, 1, enabled, s.enabledSource);
  s.enabled = enabled == 1;
  choose(sources, &ScheduleSource::intervalHours, kMinIntervalHours, kMaxIntervalHours, s.intervalHours,
         s.intervalSource);
  choose(sources, &ScheduleSource::maxDelayMinutes, 0, kMaxMaxDelayMinutes, s.maxDelayMinutes, s.delaySource);
  return s;
}

std::string RecordDigest(const UploadRecord& record, const std::string& server, const std::string& profile) {
  uint64_t h = 14695981039346656037ULL;
  for (const std::string& text : {server, record.userName, record.adapterAddress, record.programs,
                                  steadyLines(record.network), steadyLines(record.processor)})
    mix(h, text);
  // Without a profile the digest is the record's alone, as it always was.
  if (!profile.empty()) mix(h, steadyLines(profile));
  return HexText(h, 16);
}

uint32_t ScheduledDelaySeconds(const ScheduleSettings& settings, uint32_t random) {
  const auto span = static_cast<uint32_t>(settings.maxDelayMinutes) * 60U;
  return span == 0 ? 0 : random % (span + 1);
}

SendDecision DecideSend(const ScheduleSettings& settings, const ScheduleState& state, const std::string& digest,
                        int64_t now) {
  if (!settings.enabled) return {false, "not sent: scheduled inventory is disabled by " + settings.enabledSource};
  if (state.acceptedAt == 0 || digest != state.acceptedDigest) return {true, ""};
  const int64_t age = now - state.acceptedAt;
  if (age < 0 || age >= static_cast<int64_t>(settings.intervalHours) * 3600) return {true, ""};
  return {false, "not sent: the record is unchanged since the service last accepted it"};
}

ScheduleState AfterRun(ScheduleState state, const SendDecision& decision, const UploadOutcome& outcome,
                       const std::string& digest, int64_t now) {
  state.attemptAt = now;
  if (!decision.send) {
    state.attemptOutcome = decision.reason;
  } else if (outcome.accepted) {
    state.acceptedAt = now;
    state.acceptedDigest = digest;
    state.attemptOutcome =
        outcome.profileMessage.empty() ? outcome.message : outcome.message + "; " + outcome.profileMessage;
  } else if (busy(outcome.status)) {
    state.attemptOutcome = "not sent, try later: the service is busy (HTTP status " + std::to_string(outcome.status) +
                           "); the next scheduled run tries again";
  } else {
    state.attemptOutcome = outcome.message;
  }
  return state;
}

std::vector<std::string> ScheduleStatusLines(const StatusFacts& facts) {
  const ScheduleSettings& settings = facts.settings;
  const ScheduleState& state = facts.state;
  const std::string& attemptTime = facts.attemptTime;
  const std::string& acceptedTime = facts.acceptedTime;
  return {
      "inventory server: " + (facts.server.server ? HostPort(*facts.server.server) + " (from " + facts.server.source + ")"
                                                  : "none: " + facts.server.problem),
      "scheduled task: " + facts.taskName + (facts.taskRegistered ? ": registered" : ": not registered"),
      "enrollment secret: " + (facts.secretSource.empty() ? std::string("none") : "set (from " + facts.secretSource + ")"),
      "scheduled inventory: " + std::string(settings.enabled ? "enabled" : "disabled") + " (from " +
          settings.enabledSource + ")",
      "interval: " + std::to_string(settings.intervalHours) + " hours (from " + settings.intervalSource + ")",
      "maximum random delay: " + std::to_string(settings.maxDelayMinutes) + " minutes (from " +
          settings.delaySource + ")",
      "last attempt: " + (state.attemptAt == 0 ? std::string("never") : attemptTime + ": " + state.attemptOutcome),
      "last accepted: " + (state.acceptedAt == 0 ? std::string("never") : acceptedTime),
  };
}

}  // namespace tallowin
