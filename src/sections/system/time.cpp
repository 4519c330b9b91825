// The time section: the time zone with its offsets and change-over rules, the
// performance counter's frequency and the system clock's adjustment.
#include "sections/system/time.h"

#include <string>

#include "platform/decimal.h"
#include "platform/global.h"
#include "platform/registry.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1 to 12).
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The date of a day count, with the time of day; a year outside the host's
// range gives year 0, which no formatter accepts.
SystemTime fromDays(int64_t days, int64_t secondsOfDay) {
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2);
  SystemTime t;
  if (y >= 1 && y <= 9999) {
    t.wYear = static_cast<uint16_t>(y);
    t.wMonth = static_cast<uint16_t>(m);
    t.wDay = static_cast<uint16_t>(d);
    t.wDayOfWeek = static_cast<uint16_t>(((days % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  }
  t.wHour = static_cast<uint16_t>(secondsOfDay / 3600);
  t.wMinute = static_cast<uint16_t>(secondsOfDay / 60 % 60);
  t.wSecond = static_cast<uint16_t>(secondsOfDay % 60);
  return t;
}

int64_t secondsOf(const SystemTime& t) {
  return int64_t{t.wHour} * 3600 + int64_t{t.wMinute} * 60 + int64_t{t.wSecond};
}

// The time of day of a rule; hours past a day wrap round like a clock.
DateValue timeOfDay(const SystemTime& rule) { return {false, fromDays(0, secondsOf(rule) % kSecondsPerDay)}; }

const char* const kOrdinals[] = {"1st", "2nd", "3rd", "4th", "Last"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};

std::string zoneName(const std::string& name, const char* none) {
  const std::string text = TrimNull(name);
  return IsPresent(text) ? text : none;
}

}  // namespace

std::string GeneralDate(Platform& platform, const DateValue& value) {
  if (!value.hasDate) return platform.GetTimeFormat(Platform::kTimeLongTime, value.at);
  std::string date = platform.GetDateFormat(Platform::kDateShortDate, value.at);
  if (secondsOf(value.at) == 0) return date;
  return date + " " + platform.GetTimeFormat(Platform::kTimeLongTime, value.at);
}

std::string SignedMinutes(int64_t minutes) {
  std::string out = minutes > 0 ? "+" : "";
  out += std::to_string(minutes);
  out += " minutes";
  return out;
}

SystemTime ChangeOverDate(const SystemTime& rule, int year) {
  int64_t d = daysFromCivil(year, rule.wMonth, 1);
  const int64_t firstWeekday = ((d % 7) + 7 + 4) % 7;
  d += (rule.wDayOfWeek - firstWeekday + 7) % 7;
  if (rule.wDay < 5) {
    d += int64_t{7} * (rule.wDay - 1);
  } else {
    const int64_t nextMonth =
        rule.wMonth == 12 ? daysFromCivil(year + 1, 1, 1) : daysFromCivil(year, rule.wMonth + 1, 1);
    while (d + 7 < nextMonth) d += 7;
  }
  // A time of day past midnight carries into the following days.
  const int64_t seconds = secondsOf(rule);
  return fromDays(d + seconds / kSecondsPerDay, seconds % kSecondsPerDay);
}

RuleRendering RenderRule(Platform& platform, const SystemTime& rule, int year) {
  const std::string at = " at " + GeneralDate(platform, timeOfDay(rule));
  RuleRendering out;
  if (rule.wYear > 0) {
    // Out-of-range months and days carry over, as the host's date arithmetic does.
    const int64_t months = int64_t{rule.wYear} * 12 + rule.wMonth - 1;
    const int64_t days = daysFromCivil(months / 12, months % 12 + 1, 1) + rule.wDay - 1;
    out.text = GeneralDate(platform, {true, fromDays(days, 0)}) + at;
    return out;
  }
  if (rule.wDay < 1 || rule.wDay > 5 || rule.wDayOfWeek > 6 || rule.wMonth < 1 || rule.wMonth > 12) {
    out.text = "Invalid Relative TZ Start Date";
    return out;
  }
  out.text = std::string(kOrdinals[rule.wDay - 1]) + " " + kDays[rule.wDayOfWeek] + " of " + kMonths[rule.wMonth - 1] + at;
  out.changeOver = ChangeOverDate(rule, year);
  return out;
}

void CollectTime(SectionContext& ctx) {
  Platform& p = ctx.platform();
  ReportList& list = ctx.list();

  Platform::TimeZoneInformation tz;
  const uint32_t zone = p.GetTimeZoneInformation(&tz);
  if (zone == Platform::kTimeZoneIdInvalid) tz = {};
  const int64_t standard = -(int64_t{tz.Bias} + tz.StandardBias);
  // cppcheck-suppress cppcheckError ; its own analysis gives up on this line, no finding
  const int64_t daylight = -(int64_t{tz.Bias} + tz.DaylightBias);
  const char* state = "Unknown";
  int64_t current = 0;
  if (zone == Platform::kTimeZoneIdStandard) {
    state = "Standard Time";
    current = standard;
  } else if (zone == Platform::kTimeZoneIdDaylight) {
    state = "Daylight Time";
    current = daylight;
  }
  list.append(std::string("Currently On: ") + state, 7010);
  list.append("Current Bias (relative to UTC): " + SignedMinutes(current), 7020);

  const int year = p.GetLocalTime().wYear;
  auto rule = [&](const char* label, const SystemTime& when, int32_t itemValue) {
    const RuleRendering r = RenderRule(p, when, year);
    list.append(label + r.text, itemValue);
    if (r.changeOver) list.append(label + GeneralDate(p, {true, *r.changeOver}), itemValue);
  };
  list.append("Standard Time Name: " + zoneName(tz.StandardName, "None Specified"), 7030);
  list.append("Standard Time Bias: " + SignedMinutes(standard), 7040);
  rule("Standard Time Begins: ", tz.StandardDate, 7050);
  list.append("Daylight Time Name: " + zoneName(tz.DaylightName, "None specified"), 7060);
  list.append("Daylight Time Bias: " + SignedMinutes(daylight), 7070);
  rule("Daylight Time Begins: ", tz.DaylightDate, 7080);

  Platform::LargeInteger counter;
  if (!p.QueryPerformanceFrequency(&counter)) counter = {};
  const uint64_t hz = CombineCounter(counter.LowPart, counter.HighPart);
  list.append("High Resolution Timer Frequency: " + FormatDecimal(p, std::to_string(hz), 0) + " Hz (" +
                  FormatDecimal(p, DecimalOfPow10Fraction(hz, 6, 2), 2) + " Mhz)",
              7090);

  Platform::SystemTimeAdjustment adj;
  // A call that fails has told nothing about the clock.
  if (!ApiExists(p, "kernel32", "GetSystemTimeAdjustment") || !p.GetSystemTimeAdjustment(&adj)) {
    list.append("RTC Adjustment: Not Available", 7095);
    return;
  }
  if (adj.TimeAdjustmentDisabled) {
    list.append("RTC Adjustment: Disabled", 7095);
    return;
  }
  list.append("RTC Adjustment: Enabled", 7095);
  list.append("RTC Adjusted Every: " + FormatDecimal(p, std::to_string(uint64_t{adj.TimeIncrement} * 100), 0) + " ns (" +
                  FormatDecimal(p, DecimalOfPow10Fraction(adj.TimeIncrement, 7, 9), 9) + " secs)",
              7100);
  const int64_t by = (int64_t{adj.TimeAdjustment} - int64_t{adj.TimeIncrement}) * 100;
  list.append("RTC Adjusted By: " + std::string(by > 0 ? "+" : "") + FormatDecimal(p, std::to_string(by), 0) + " ns",
              7110);
}

}  // namespace tallowin
