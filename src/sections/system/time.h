#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace tallowin {

using SystemTime = Platform::SystemTime;

// A value of the host's date type: a date with its time of day, or a time of
// day alone (hasDate false: only wHour, wMinute and wSecond count).
struct DateValue {
  bool hasDate = false;
  SystemTime at;
};

// Short date, a blank, long time; a date at midnight shows the date only, a
// time of day shows the time only.
std::string GeneralDate(Platform& platform, const DateValue& value);

// "+60 minutes", "0 minutes", "-300 minutes".
std::string SignedMinutes(int64_t minutes);

struct RuleRendering {
  std::string text;
  std::optional<SystemTime> changeOver;  // only for a valid relative rule
};
// The text of a zone's change-over rule; for a relative rule also the moment
// it falls on in the given year.
RuleRendering RenderRule(Platform& platform, const SystemTime& rule, int year);

// The wDay-th (5: last) wDayOfWeek of wMonth in the year, at the rule's time
// of day. The rule's fields must be in range.
SystemTime ChangeOverDate(const SystemTime& rule, int year);

// The counter's two halves, each read as unsigned.
inline uint64_t CombineCounter(uint32_t low, int32_t high) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
}

}  // namespace tallowin
