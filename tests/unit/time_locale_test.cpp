// The time and locale sections: the whole run in en-US, the time zone rules,
// and each locale setting as its reading shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "sections/system/time.h"
#include "support/collect.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using test::Lines;

using Rule = SystemTime;  // year, month, day of the week, day, hour[, minute, second]

TEST(Time, UsEasternInSummer) {
  FakePlatform p;
  p.exports.insert("kernel32!GetSystemTimeAdjustment");
  p.timeZoneId = Platform::kTimeZoneIdDaylight;
  p.timeZone = {300, "Eastern Standard Time", Rule(0, 11, 0, 1, 2), 0, "Eastern Daylight Time", Rule(0, 3, 0, 2, 2), -60};
  EXPECT_EQ(test::RunPairs(p, CollectTime), (test::Pairs{
      {"Currently On: Daylight Time", 7010}, {"Current Bias (relative to UTC): -240 minutes", 7020},
      {"Standard Time Name: Eastern Standard Time", 7030}, {"Standard Time Bias: -300 minutes", 7040},
      {"Standard Time Begins: 1st Sunday of November at 2:00:00 AM", 7050},
      {"Standard Time Begins: 11/3/2024 2:00:00 AM", 7050}, {"Daylight Time Name: Eastern Daylight Time", 7060},
      {"Daylight Time Bias: -240 minutes", 7070}, {"Daylight Time Begins: 2nd Sunday of March at 2:00:00 AM", 7080},
      {"Daylight Time Begins: 3/10/2024 2:00:00 AM", 7080},
      {"High Resolution Timer Frequency: 3,579,545 Hz (3.58 Mhz)", 7090}, {"RTC Adjustment: Enabled", 7095},
      {"RTC Adjusted Every: 15,625,000 ns (0.015625000 secs)", 7100}, {"RTC Adjusted By: 0 ns", 7110}}));
  // A failed zone query reads as a zeroed record.
  p.timeZoneId = Platform::kTimeZoneIdInvalid;
  EXPECT_EQ(test::From(test::Run(p, CollectTime), "Currently On: ", 8), (Lines{
      "Currently On: Unknown", "Current Bias (relative to UTC): 0 minutes", "Standard Time Name: None Specified",
      "Standard Time Bias: 0 minutes", "Standard Time Begins: Invalid Relative TZ Start Date",
      "Daylight Time Name: None specified", "Daylight Time Bias: 0 minutes",
      "Daylight Time Begins: Invalid Relative TZ Start Date"}));
}

TEST(Time, ZoneStatesOffsetsAndNames) {
  const struct { uint32_t id; int32_t bias, standardBias, daylightBias; std::string name; Lines lines; } rows[] = {
      {Platform::kTimeZoneIdDaylight, 0, 0, -60, "\x01Zone", {"Currently On: Daylight Time", "Current Bias (relative to UTC): +60 minutes",
       "Standard Time Name: None Specified", "Standard Time Bias: 0 minutes"}},
      {Platform::kTimeZoneIdStandard, 480, 0, -60, "  Two", {"Currently On: Standard Time",
       "Current Bias (relative to UTC): -480 minutes", "Standard Time Name:   Two", "Standard Time Bias: -480 minutes"}},
      // Sums beyond 32 bits are still exact.
      {Platform::kTimeZoneIdStandard, INT32_MIN, -1, 0, "Zeit", {"Currently On: Standard Time",
       "Current Bias (relative to UTC): +2147483649 minutes", "Standard Time Name: Zeit",
       "Standard Time Bias: +2147483649 minutes"}},
  };
  for (const auto& r : rows) {
    FakePlatform p;
    p.timeZoneId = r.id;
    p.timeZone.Bias = r.bias;
    p.timeZone.StandardBias = r.standardBias;
    p.timeZone.DaylightBias = r.daylightBias;
    p.timeZone.StandardName = r.name;
    EXPECT_EQ(test::From(test::Run(p, CollectTime), "Currently On: ", 4), r.lines) << r.bias;
  }
}

TEST(Time, RulesRendered) {
  FakePlatform p;
  const struct { SystemTime rule; int year; const char* text; const char* changeOver; } rows[] = {
      {Rule(0, 10, 0, 5, 3), 2026, "Last Sunday of October at 3:00:00 AM", "10/25/2026 3:00:00 AM"},
      {Rule(0, 3, 0, 2, 2), 2026, "2nd Sunday of March at 2:00:00 AM", "3/8/2026 2:00:00 AM"},
      // The last Sunday on the month's last day; the last Friday of a leap February, a week before March.
      {Rule(0, 3, 0, 5, 1), 2024, "Last Sunday of March at 1:00:00 AM", "3/31/2024 1:00:00 AM"},
      {Rule(0, 2, 5, 5, 23, 59, 59), 2024, "Last Friday of February at 11:59:59 PM", "2/23/2024 11:59:59 PM"},
      {Rule(0, 9, 4, 3, 14, 30), 2024, "3rd Thursday of September at 2:30:00 PM", "9/19/2024 2:30:00 PM"},
      {Rule(0, 1, 1, 1, 0), 2024, "1st Monday of January at 12:00:00 AM", "1/1/2024"},  // midnight: the date alone
      {Rule(2010, 13, 0, 1, 2), 2024, "1/1/2011 at 2:00:00 AM", nullptr},  // months carry over
      {Rule(2024, 3, 0, 0, 0), 2024, "2/29/2024 at 12:00:00 AM", nullptr},
      {Rule(0, 3, 0, 0, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
      {Rule(0, 3, 0, 6, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
      {Rule(0, 3, 7, 1, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
      {Rule(0, 13, 0, 1, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
  };
  for (const auto& r : rows) {
    const RuleRendering got = RenderRule(p, r.rule, r.year);
    EXPECT_EQ(got.text, r.text);
    ASSERT_EQ(got.changeOver.has_value(), r.changeOver != nullptr) << r.text;
    if (r.changeOver) {
      EXPECT_EQ(GeneralDate(p, {true, *got.changeOver}), r.changeOver) << r.text;
    }
  }
  EXPECT_EQ(GeneralDate(p, {false, Rule(0, 0, 0, 0, 9, 30)}), "9:30:00 AM");
  EXPECT_EQ(CombineCounter(0xFFFFFFFFu, -1), UINT64_MAX);
}

TEST(Time, CounterAndClockAdjustment) {
  const struct { Platform::LargeInteger f; bool counter, exported, fails; Platform::SystemTimeAdjustment adj; Lines lines; } rows[] = {
      {{5000, 0}, true, true, false, {156251, 156250, false}, {"High Resolution Timer Frequency: 5,000 Hz (0.01 Mhz)",
       "RTC Adjustment: Enabled", "RTC Adjusted Every: 15,625,000 ns (0.015625000 secs)", "RTC Adjusted By: +100 ns"}},
      {{0xFFFFFFFFu, -1}, true, true, false, {100000, 100144, false},
       {"High Resolution Timer Frequency: 18,446,744,073,709,551,615 Hz (18,446,744,073,709.55 Mhz)",
        "RTC Adjustment: Enabled", "RTC Adjusted Every: 10,014,400 ns (0.010014400 secs)", "RTC Adjusted By: -14,400 ns"}},
      {{0xFFFFFFFFu, 1}, false, true, false, {156250, 156250, true},
       {"High Resolution Timer Frequency: 0 Hz (0.00 Mhz)", "RTC Adjustment: Disabled"}},
      {{1, 0}, true, false, false, {}, {"High Resolution Timer Frequency: 1 Hz (0.00 Mhz)", "RTC Adjustment: Not Available"}},
      {{1, 0}, true, true, true, {}, {"High Resolution Timer Frequency: 1 Hz (0.00 Mhz)", "RTC Adjustment: Not Available"}},
  };
  for (const auto& r : rows) {
    FakePlatform p;
    p.performanceFrequency = r.f;
    p.hasPerformanceCounter = r.counter;
    if (r.exported) p.exports.insert("kernel32!GetSystemTimeAdjustment");
    p.timeAdjustmentFails = r.fails;
    p.timeAdjustment = r.adj;
    EXPECT_EQ(test::From(test::Run(p, CollectTime), "High Resolution", 9), r.lines);
  }
}

TEST(Locale, UsEnglishEveryLine) {
  FakePlatform p;
  EXPECT_EQ(test::RunPairs(p, CollectLocale), (test::Pairs{
      {"Locale ID: 1033 / 0x409", 6500}, {"  Sort ID: 0 / 0x0 - Default Order", 6503},
      {"  Language ID: 1033 / 0x409", 6505}, {"    Primary Language ID: 9 / 0x9 - English", 6507},
      {"    Sub-Language ID: 1 / 0x1 - English (USA)", 6509}, {"", 0}, {"Language ID: 1033 / 0x409", 6505},
      {"Language Name (in Local Language): English (United States)", 6510}, {"Language Name (in English): English", 6520},
      {"Abbreviated Language Name: ENU", 6530}, {"ISO Abbreviated Language Name: en", 6540}, {"", 0},
      {"Country Code: 1", 6550}, {"Country/Region Name (in Local Language): United States", 6560},
      {"Country/Region Name (in English): United States", 6570}, {"Abbreviated Country Name: USA", 6580},
      {"ISO Abbreviated Country Name: US", 6590}, {"", 0}, {"Local Currency Name: US Dollar", 6600},
      {"Local Monetary Symbol: $", 6610}, {"Int'l Currency Symbol: USD", 6620},
      {"Name of Currency (in English): US Dollar", 6630}, {"Fractional Digits in Currency: 2", 6640},
      {"Monetary Decimal Separator: .", 6650}, {"Monetary Thousands Separator: ,", 6660},
      {"Non-Monetary Decimal Separator: .", 6670}, {"Non-Monetary Thousands Separator: ,", 6680}, {"", 0},
      {"Type Of Calendar: 1 (Gregorian (localized))", 6700}, {"Century Format: 1 (Full 4-digit century)", 6720},
      {"Date Separator: /", 6730}, {"Long Date Format: dddd, MMMM d, yyyy", 6740}, {"Short Date Format: M/d/yyyy", 6750},
      {"First Day of Week: Sunday", 6760}, {"", 0}, {"Time Separator: :", 6800}, {"Time Format: h:mm:ss tt", 6810},
      {"Clock Format: AM / PM 12-hour format", 6820}, {"AM Indicator: AM", 6830}, {"PM Indicator: PM", 6840},
      {"", 0}, {"Measurement System: 1 (US)", 6900}, {"List Item Separator: ,", 6910},
      {"Standard Paper Size: 1 (US Letter)", 6920}}));
  EXPECT_EQ(p.yields, 0);
}

// One setting's answer ("(fails)": the query fails), and the lines from its
// own (or its error) on; no other error line. A
// reading that fails keeps the number of the reading before it; a text that
// is no number is that however many digits it starts with.
TEST(Locale, EachSettingAsItsReadingShowsIt) {
  const struct { uint32_t lcType; std::string text; Lines lines; } rows[] = {
      {0x1013, "Dictionary", {"  Sort ID: 0 / 0x0 - Dictionary Order"}},
      {0x1, "1G0000000", {"ERROR: 2 - Locale setting 0x1 is not a hexadecimal number", "Language ID: 0 / 0x0"}},
      {0x1, "100000000", {"ERROR: 3 - Locale setting 0x1 is out of range", "Language ID: 0 / 0x0"}},
      {0x1, "0000000409", {"Language ID: 1033 / 0x409"}},
      {0x1, "ffffFFFF", {"Language ID: 4294967295 / 0xFFFFFFFF"}},
      {0x14, "(fails)", {"Local Monetary Symbol: ", "Int'l Currency Symbol: USD"}},
      {0x1009, "12", {"Type Of Calendar: 12 ((Gregorian Transliterated French))"}},
      {0x1009, "13", {"Type Of Calendar: 13 (unknown)"}},
      {0x1009, "(fails)", {"Type Of Calendar: 0 (unknown)", "ERROR: 1 - Locale setting 0x1009 is not a whole number"}},
      {0x24, "x", {"Century Format: 1 (Full 4-digit century)", "ERROR: 1 - Locale setting 0x24 is not a whole number"}},
      {0x23, "1", {"Clock Format: 24-hour format"}},
      {0x23, "7", {"Clock Format: unknown"}},
      {0xD, "12345678901x", {"Measurement System: 0 (Metric)", "ERROR: 1 - Locale setting 0xD is not a whole number"}},
      {0xD, "-2147483649", {"Measurement System: 0 (Metric)", "ERROR: 3 - Locale setting 0xD is out of range"}},
      {0xD, " +2147483647 ", {"Measurement System: 2147483647 (unknown)"}},
      {0x100C, "0", {"First Day of Week: Monday"}},
      {0x100C, "7", {"First Day of Week: ", "ERROR: 3 - Locale setting 0x100C is out of range"}},
      {0x100C, "-42", {"First Day of Week: ", "ERROR: 3 - Locale setting 0x100C is out of range"}},
      // The century's 1 stays in the shared number.
      {0x100C, "", {"First Day of Week: Tuesday", "ERROR: 1 - Locale setting 0x100C is not a whole number"}},
      {0x100A, " 09 ", {"Standard Paper Size: 9 (A4)"}},
      {0x100A, "8.6", {"Standard Paper Size: 9 (A4)"}},
      {0x100A, "A3", {"Standard Paper Size: A3 (A3)"}},
      {0x100A, "\x01\x1b", {"Standard Paper Size: 0x011B (unknown)"}},
      {0x100A, "2147483646.5", {"Standard Paper Size: 2147483647 (unknown)"}},
      {0x100A, "-2147483648.5", {"Standard Paper Size: -2147483648.5 (unknown)", "ERROR: 3 - Locale setting 0x100A is out of range"}},
      {0x100A, "99999999999x", {"Standard Paper Size: 99999999999x (unknown)"}},
      {0x100A, "   ", {}},
  };
  for (const auto& r : rows) {
    FakePlatform p;
    p.localeInfo[r.lcType] = r.text;
    if (r.text == "(fails)") p.localeInfo.erase(r.lcType);
    const Lines lines = test::Run(p, CollectLocale);
    const std::string anchor = r.lines.empty() ? "Standard Paper Size: " : r.lines[0].substr(0, r.lines[0].find(": ") + 2);
    EXPECT_EQ(test::From(lines, anchor, r.lines.size()), r.lines) << r.text;
    const auto errors = [](const Lines& l) { return std::count_if(l.begin(), l.end(), [](auto& t) { return t.rfind("ERROR: ", 0) == 0; }); };
    EXPECT_EQ(errors(lines), errors(r.lines)) << r.text;
  }
}

TEST(Locale, AnErrorInsideAStepIsReportedAndTheRunGoesOn) {
  struct Throwing : FakePlatform {
    int32_t GetLocaleInfo(uint32_t lcType, std::string* data) override {
      if (lcType == 0x1002) throw std::runtime_error("locale store unavailable");
      return FakePlatform::GetLocaleInfo(lcType, data);
    }
  } p;
  const Lines lines = test::Run(p, CollectLocale);
  EXPECT_EQ(test::From(lines, "Country/Region Name (in English): ", 3), (Lines{"Country/Region Name (in English): ",
      "ERROR: 9 - Unexpected failure: locale store unavailable", "Abbreviated Country Name: USA"}));
  EXPECT_EQ(lines.back(), "Standard Paper Size: 1 (US Letter)");
}

}  // namespace
}  // namespace tallowin
