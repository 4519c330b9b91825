#include <gtest/gtest.h>

#include <climits>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "sections/system/time.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using Lines = std::vector<std::pair<std::string, int32_t>>;

SystemTime rule(uint16_t year, uint16_t month, uint16_t dayOfWeek, uint16_t day, uint16_t hour, uint16_t minute = 0,
                uint16_t second = 0) {
  return {year, month, dayOfWeek, day, hour, minute, second, 0};
}

class TimeSection : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  void SetUp() override { p.exports.insert("kernel32!GetSystemTimeAdjustment"); }
  Lines run() {
    CollectTime(control);
    Lines out;
    for (const auto& l : control.list().lines()) out.push_back({l.text, l.itemValue});
    return out;
  }
  std::vector<std::string> texts() {
    CollectTime(control);
    return test::Texts(control.list());
  }
};

TEST_F(TimeSection, UsEasternInSummer) {
  p.timeZoneId = Platform::kTimeZoneIdDaylight;
  p.timeZone = {300, "Eastern Standard Time", rule(0, 11, 0, 1, 2), 0, "Eastern Daylight Time", rule(0, 3, 0, 2, 2), -60};
  EXPECT_EQ(run(), (Lines{{"Currently On: Daylight Time", 7010},
                          {"Current Bias (relative to UTC): -240 minutes", 7020},
                          {"Standard Time Name: Eastern Standard Time", 7030},
                          {"Standard Time Bias: -300 minutes", 7040},
                          {"Standard Time Begins: 1st Sunday of November at 2:00:00 AM", 7050},
                          {"Standard Time Begins: 11/3/2024 2:00:00 AM", 7050},
                          {"Daylight Time Name: Eastern Daylight Time", 7060},
                          {"Daylight Time Bias: -240 minutes", 7070},
                          {"Daylight Time Begins: 2nd Sunday of March at 2:00:00 AM", 7080},
                          {"Daylight Time Begins: 3/10/2024 2:00:00 AM", 7080},
                          {"High Resolution Timer Frequency: 3,579,545 Hz (3.58 Mhz)", 7090},
                          {"RTC Adjustment: Enabled", 7095},
                          {"RTC Adjusted Every: 15,625,000 ns (0.015625000 secs)", 7100},
                          {"RTC Adjusted By: 0 ns", 7110}}));
}

TEST_F(TimeSection, ZoneStatesAndOffsets) {
  struct Row {
    uint32_t id;
    int32_t bias, standardBias, daylightBias;
    const char* state;
    const char* current;
    const char* standard;
    const char* daylight;
  } rows[] = {
      {Platform::kTimeZoneIdDaylight, 0, 0, -60, "Daylight Time", "+60 minutes", "0 minutes", "+60 minutes"},
      {Platform::kTimeZoneIdStandard, 0, 0, -60, "Standard Time", "0 minutes", "0 minutes", "+60 minutes"},
      {Platform::kTimeZoneIdUnknown, -540, 0, 0, "Unknown", "0 minutes", "+540 minutes", "+540 minutes"},
      {Platform::kTimeZoneIdStandard, -330, 0, -60, "Standard Time", "+330 minutes", "+330 minutes", "+390 minutes"},
      {Platform::kTimeZoneIdStandard, 480, 0, -60, "Standard Time", "-480 minutes", "-480 minutes", "-420 minutes"},
      // Sums beyond 32 bits are still exact.
      {Platform::kTimeZoneIdStandard, INT32_MIN, -1, 0, "Standard Time", "+2147483649 minutes",
       "+2147483649 minutes", "+2147483648 minutes"},
  };
  for (const Row& r : rows) {
    FakePlatform fp;
    ProfileControl c{fp};
    fp.timeZoneId = r.id;
    fp.timeZone.Bias = r.bias;
    fp.timeZone.StandardBias = r.standardBias;
    fp.timeZone.DaylightBias = r.daylightBias;
    CollectTime(c);
    const auto t = test::Texts(c.list());
    EXPECT_EQ(t[0], std::string("Currently On: ") + r.state) << r.bias;
    EXPECT_EQ(t[1], std::string("Current Bias (relative to UTC): ") + r.current) << r.bias;
    EXPECT_TRUE(test::HasLine(t, std::string("Standard Time Bias: ") + r.standard)) << r.bias;
    EXPECT_TRUE(test::HasLine(t, std::string("Daylight Time Bias: ") + r.daylight)) << r.bias;
  }
}

TEST_F(TimeSection, EastOfUtcWithoutDaylightSaving) {
  p.timeZoneId = Platform::kTimeZoneIdUnknown;
  p.timeZone.Bias = -540;
  p.timeZone.StandardName = "Tokyo Standard Time";
  const auto t = texts();
  EXPECT_EQ(std::vector<std::string>(t.begin(), t.begin() + 8),
            (std::vector<std::string>{"Currently On: Unknown", "Current Bias (relative to UTC): 0 minutes",
                                      "Standard Time Name: Tokyo Standard Time", "Standard Time Bias: +540 minutes",
                                      "Standard Time Begins: Invalid Relative TZ Start Date",
                                      "Daylight Time Name: None specified", "Daylight Time Bias: +540 minutes",
                                      "Daylight Time Begins: Invalid Relative TZ Start Date"}));
}

TEST_F(TimeSection, FailedZoneQueryReadsAsAZeroedRecord) {
  p.timeZoneId = Platform::kTimeZoneIdInvalid;
  p.timeZone = {300, "Eastern Standard Time", rule(0, 11, 0, 1, 2), 0, "Eastern Daylight Time", rule(0, 3, 0, 2, 2), -60};
  const auto t = texts();
  EXPECT_EQ(std::vector<std::string>(t.begin(), t.begin() + 8),
            (std::vector<std::string>{"Currently On: Unknown", "Current Bias (relative to UTC): 0 minutes",
                                      "Standard Time Name: None Specified", "Standard Time Bias: 0 minutes",
                                      "Standard Time Begins: Invalid Relative TZ Start Date",
                                      "Daylight Time Name: None specified", "Daylight Time Bias: 0 minutes",
                                      "Daylight Time Begins: Invalid Relative TZ Start Date"}));
}

TEST_F(TimeSection, ZoneNamesThatAreNotPresent) {
  const struct {
    std::string name;
    const char* standard;
    const char* daylight;
  } rows[] = {
      {"", "None Specified", "None specified"},
      {" ", "None Specified", "None specified"},
      {"\x01Zone", "None Specified", "None specified"},
      {std::string("\0Hidden", 7), "None Specified", "None specified"},
      {"  Two leading", "  Two leading", "  Two leading"},
      {"Mitteleuropäische Zeit", "Mitteleuropäische Zeit", "Mitteleuropäische Zeit"},
  };
  for (const auto& r : rows) {
    FakePlatform fp;
    ProfileControl c{fp};
    fp.timeZone.StandardName = r.name;
    fp.timeZone.DaylightName = r.name;
    CollectTime(c);
    const auto t = test::Texts(c.list());
    EXPECT_EQ(t[2], std::string("Standard Time Name: ") + r.standard);
    EXPECT_EQ(t[5], std::string("Daylight Time Name: ") + r.daylight);
  }
}

TEST(RuleRendering, RelativeAbsoluteAndInvalid) {
  FakePlatform p;
  const struct {
    SystemTime rule;
    int year;
    const char* text;
    const char* changeOver;  // nullptr: none
  } rows[] = {
      {rule(0, 10, 0, 5, 3), 2024, "Last Sunday of October at 3:00:00 AM", "10/27/2024 3:00:00 AM"},
      {rule(0, 10, 0, 5, 3), 2026, "Last Sunday of October at 3:00:00 AM", "10/25/2026 3:00:00 AM"},
      {rule(0, 3, 0, 2, 2), 2024, "2nd Sunday of March at 2:00:00 AM", "3/10/2024 2:00:00 AM"},
      {rule(0, 3, 0, 2, 2), 2026, "2nd Sunday of March at 2:00:00 AM", "3/8/2026 2:00:00 AM"},
      // The last Sunday on the month's last day; the last Friday of a leap February.
      {rule(0, 3, 0, 5, 1), 2024, "Last Sunday of March at 1:00:00 AM", "3/31/2024 1:00:00 AM"},
      {rule(0, 2, 5, 5, 23, 59, 59), 2024, "Last Friday of February at 11:59:59 PM", "2/23/2024 11:59:59 PM"},
      {rule(0, 12, 6, 4, 12), 2024, "4th Saturday of December at 12:00:00 PM", "12/28/2024 12:00:00 PM"},
      {rule(0, 9, 4, 3, 14, 30), 2024, "3rd Thursday of September at 2:30:00 PM", "9/19/2024 2:30:00 PM"},
      // Midnight: the change-over date shows the date alone, the rule's time the time alone.
      {rule(0, 1, 1, 1, 0), 2024, "1st Monday of January at 12:00:00 AM", "1/1/2024"},
      {rule(2024, 3, 0, 10, 2), 2024, "3/10/2024 at 2:00:00 AM", nullptr},
      {rule(2010, 13, 0, 1, 2), 2024, "1/1/2011 at 2:00:00 AM", nullptr},  // months carry over
      {rule(2024, 3, 0, 0, 0), 2024, "2/29/2024 at 12:00:00 AM", nullptr},
      {rule(0, 0, 0, 0, 0), 2024, "Invalid Relative TZ Start Date", nullptr},
      {rule(0, 3, 0, 0, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
      {rule(0, 3, 0, 6, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
      {rule(0, 3, 7, 1, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
      {rule(0, 13, 0, 1, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
  };
  for (const auto& r : rows) {
    const RuleRendering got = RenderRule(p, r.rule, r.year);
    EXPECT_EQ(got.text, r.text);
    ASSERT_EQ(got.changeOver.has_value(), r.changeOver != nullptr) << r.text;
    if (r.changeOver) {
      EXPECT_EQ(GeneralDate(p, {true, *got.changeOver}), r.changeOver) << r.text;
    }
  }
}

TEST(RuleRendering, ChangeOverDateFields) {
  const SystemTime d = ChangeOverDate(rule(0, 10, 0, 5, 3), 2024);
  EXPECT_EQ(d.wYear, 2024);
  EXPECT_EQ(d.wMonth, 10);
  EXPECT_EQ(d.wDay, 27);
  EXPECT_EQ(d.wDayOfWeek, 0);
  EXPECT_EQ(d.wHour, 3);
  // The 1st of the month already the rule's weekday.
  const SystemTime s = ChangeOverDate(rule(0, 9, 0, 1, 2), 2024);
  EXPECT_EQ(s.wDay, 1);
  EXPECT_EQ(s.wDayOfWeek, 0);
}

TEST(GeneralDateFormat, DateTimeDateOnlyTimeOnly) {
  FakePlatform p;
  EXPECT_EQ(GeneralDate(p, {true, rule(2024, 7, 1, 15, 14, 5, 9)}), "7/15/2024 2:05:09 PM");
  EXPECT_EQ(GeneralDate(p, {true, rule(2024, 7, 1, 15, 0)}), "7/15/2024");
  EXPECT_EQ(GeneralDate(p, {false, rule(0, 0, 0, 0, 0)}), "12:00:00 AM");
  EXPECT_EQ(GeneralDate(p, {false, rule(0, 0, 0, 0, 9, 30)}), "9:30:00 AM");
}

TEST(SignedMinutesText, Signs) {
  EXPECT_EQ(SignedMinutes(0), "0 minutes");
  EXPECT_EQ(SignedMinutes(-300), "-300 minutes");
  EXPECT_EQ(SignedMinutes(60), "+60 minutes");
}

TEST(Counter, HalvesReadAsUnsigned) {
  EXPECT_EQ(CombineCounter(3579545, 0), 3579545u);
  EXPECT_EQ(CombineCounter(0xFFFFFFFFu, 1), 8589934591u);
  EXPECT_EQ(CombineCounter(0, -1), 0xFFFFFFFF00000000u);
  EXPECT_EQ(CombineCounter(0xFFFFFFFFu, -1), UINT64_MAX);
}

TEST_F(TimeSection, CounterLine) {
  const struct {
    Platform::LargeInteger f;
    bool present;
    const char* line;
  } rows[] = {
      {{3579545, 0}, true, "High Resolution Timer Frequency: 3,579,545 Hz (3.58 Mhz)"},
      {{10000000, 0}, true, "High Resolution Timer Frequency: 10,000,000 Hz (10.00 Mhz)"},
      {{1999, 0}, true, "High Resolution Timer Frequency: 1,999 Hz (0.00 Mhz)"},
      {{5000, 0}, true, "High Resolution Timer Frequency: 5,000 Hz (0.01 Mhz)"},  // half rounds up
      {{0xFFFFFFFFu, 1}, true, "High Resolution Timer Frequency: 8,589,934,591 Hz (8,589.93 Mhz)"},
      {{0xFFFFFFFFu, -1}, true,
       "High Resolution Timer Frequency: 18,446,744,073,709,551,615 Hz (18,446,744,073,709.55 Mhz)"},
      {{3579545, 0}, false, "High Resolution Timer Frequency: 0 Hz (0.00 Mhz)"},
  };
  for (const auto& r : rows) {
    FakePlatform fp;
    ProfileControl c{fp};
    fp.performanceFrequency = r.f;
    fp.hasPerformanceCounter = r.present;
    CollectTime(c);
    EXPECT_TRUE(test::HasLine(test::Texts(c.list()), r.line)) << r.line;
  }
}

TEST_F(TimeSection, ClockAdjustmentLines) {
  const struct {
    bool exported;
    bool fails;
    Platform::SystemTimeAdjustment adj;
    std::vector<std::string> lines;
  } rows[] = {
      {true, false, {156250, 156250, false},
       {"RTC Adjustment: Enabled", "RTC Adjusted Every: 15,625,000 ns (0.015625000 secs)", "RTC Adjusted By: 0 ns"}},
      {true, false, {156251, 156250, false},
       {"RTC Adjustment: Enabled", "RTC Adjusted Every: 15,625,000 ns (0.015625000 secs)", "RTC Adjusted By: +100 ns"}},
      {true, false, {100000, 100144, false},
       {"RTC Adjustment: Enabled", "RTC Adjusted Every: 10,014,400 ns (0.010014400 secs)",
        "RTC Adjusted By: -14,400 ns"}},
      {true, false, {0xFFFFFFFFu, 1, false},
       {"RTC Adjustment: Enabled", "RTC Adjusted Every: 100 ns (0.000000100 secs)",
        "RTC Adjusted By: +429,496,729,400 ns"}},
      {true, false, {156250, 156250, true}, {"RTC Adjustment: Disabled"}},
      {false, false, {156250, 156250, false}, {"RTC Adjustment: Not Available"}},
      {true, true, {156250, 156250, false}, {"RTC Adjustment: Not Available"}},
  };
  for (const auto& r : rows) {
    FakePlatform fp;
    ProfileControl c{fp};
    if (r.exported) fp.exports.insert("kernel32!GetSystemTimeAdjustment");
    fp.timeAdjustment = r.adj;
    fp.timeAdjustmentFails = r.fails;
    CollectTime(c);
    const auto& lines = c.list().lines();
    ASSERT_GE(lines.size(), r.lines.size());
    std::vector<std::string> tail;
    std::vector<int32_t> values;
    for (size_t i = lines.size() - r.lines.size(); i < lines.size(); ++i) {
      tail.push_back(lines[i].text);
      values.push_back(lines[i].itemValue);
    }
    EXPECT_EQ(tail, r.lines);
    std::vector<int32_t> want{7095, 7100, 7110};
    want.resize(r.lines.size());
    EXPECT_EQ(values, want);
    EXPECT_EQ(lines[lines.size() - r.lines.size() - 1].itemValue, 7090);
  }
}

TEST_F(TimeSection, ChangeOverDatesFollowTheLocalYear) {
  p.localTime.wYear = 2026;
  p.timeZoneId = Platform::kTimeZoneIdStandard;
  p.timeZone = {-60, "W. Europe Standard Time", rule(0, 10, 0, 5, 3), 0, "W. Europe Daylight Time", rule(0, 3, 0, 5, 2), -60};
  const auto t = texts();
  EXPECT_TRUE(test::HasLine(t, "Standard Time Begins: 10/25/2026 3:00:00 AM"));
  EXPECT_TRUE(test::HasLine(t, "Daylight Time Begins: 3/29/2026 2:00:00 AM"));
  EXPECT_EQ(t[1], "Current Bias (relative to UTC): +60 minutes");
  EXPECT_EQ(p.yields, 0);
}

}  // namespace
}  // namespace tallowin
