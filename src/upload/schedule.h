// The scheduled run's pacing: how long to wait first, whether the record is
// worth sending, and what the run leaves behind for the next one and for
// `tallowin.exe status`. Decided here, away from the clock and the registry,
// so that a native test can walk through every case.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "upload/inventory_upload.h"

namespace tallowin {

inline constexpr int kDefaultIntervalHours = 24;
inline constexpr int kMinIntervalHours = 1;
inline constexpr int kMaxIntervalHours = 168;
inline constexpr int kDefaultMaxDelayMinutes = 10;
inline constexpr int kMaxMaxDelayMinutes = 240;

struct ScheduleSettings {
  bool enabled = true;
  int intervalHours = kDefaultIntervalHours;
  int maxDelayMinutes = kDefaultMaxDelayMinutes;
  // Where each came from, for `status`: a source's name, or "default".
  std::string enabledSource = "default";
  std::string intervalSource = "default";
  std::string delaySource = "default";
};

// One place the schedule may be set (the policy, then the package): each
// value it holds, as read (out of range values are ignored there).
struct ScheduleSource {
  std::string name;
  std::optional<int64_t> enabled;
  std::optional<int64_t> intervalHours;
  std::optional<int64_t> maxDelayMinutes;
};

// Each setting from the first source that holds it within its range, else
// its default: a policy that sets only the delay leaves the package's interval.
ScheduleSettings ChooseSchedule(const std::vector<ScheduleSource>& sources);

// What one user's runs on this PC remember (times in seconds since 1970;
// 0 is never).
struct ScheduleState {
  int64_t acceptedAt = 0;
  std::string acceptedDigest;  // of the record and the server it went to
  int64_t attemptAt = 0;
  std::string attemptOutcome;  // one line
};

// A digest of the record, the complete profile and where they go: a new
// server gets the record at once. Traffic counters, the measured clock rate,
// memory in use and the battery's charge are left out: they change by
// themselves. Change detection only, not security.
std::string RecordDigest(const UploadRecord& record, const std::string& server, const std::string& profile = {});

// The wait before collecting, in seconds: random spread evenly over
// 0..maxDelayMinutes * 60.
uint32_t ScheduledDelaySeconds(const ScheduleSettings& settings, uint32_t random);

struct SendDecision {
  bool send = false;
  std::string reason;  // why not, as `status` shows it
};

// Disabled: nothing. Sent when the record differs from the one last accepted
// or that acceptance is an interval old (or from the future: a clock set back).
SendDecision DecideSend(const ScheduleSettings& settings, const ScheduleState& state, const std::string& digest,
                        int64_t now);

// The state after a run: an accepted record becomes the last acceptance; a
// busy service (429, 503) is "not sent, try later"; anything else is kept as
// the attempt's outcome line.
ScheduleState AfterRun(ScheduleState state, const SendDecision& decision, const UploadOutcome& outcome,
                       const std::string& digest, int64_t now);

// What `tallowin.exe status` reports, as the binding read it; times come as
// text already (the local clock's business).
struct StatusFacts {
  ServerChoice server;
  std::string secretSource;  // where the enrollment secret is set; empty: none
  std::string taskName;
  bool taskRegistered = false;
  ScheduleSettings settings;
  ScheduleState state;
  std::string attemptTime;
  std::string acceptedTime;
};

// The lines `tallowin.exe status` prints.
std::vector<std::string> ScheduleStatusLines(const StatusFacts& facts);

}  // namespace tallowin
