// `tallowin.exe show TIME` and `show LOCALE` against what Windows (Wine)
// reports to the test, in the locale the tests start with and in German.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>
#include <optional>
#include <string>

#include "platform/global.h"
#include "win/support/win_support.h"
#include "win32/win_platform.h"

namespace tallowin {
namespace {

std::vector<std::string> show(const wchar_t* tag) {
  const auto r = wintest::RunTallowin(std::wstring(L"show ") + tag);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return wintest::SplitLines(r.out);
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string localeText(LCTYPE type) {
  wchar_t buffer[256] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 256) == 0) return "";
  return wintest::Utf8(buffer);
}

// The test's own rendering of a whole number and of value / 10^6 with two
// decimals: groups of three with the locale's separators.
std::string grouped(uint64_t v) {
  const std::string digits = std::to_string(v);
  const std::string sep = localeText(LOCALE_STHOUSAND);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
    out += digits[i];
  }
  return out;
}

std::string megahertz(uint64_t hz) {
  const uint64_t hundredths = (hz + 5000) / 10000;
  const std::string cents = std::to_string(hundredths % 100);
  return grouped(hundredths / 100) + localeText(LOCALE_SDECIMAL) + (cents.size() == 1 ? "0" : "") + cents;
}

std::string dateText(const SYSTEMTIME& st) {
  wchar_t out[128] = {};
  ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, out, 128, nullptr);
  return wintest::Utf8(out);
}

std::string timeText(const SYSTEMTIME& st) {
  wchar_t out[128] = {};
  ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, out, 128);
  return wintest::Utf8(out);
}

std::string minutes(long v) {
  std::string out = v > 0 ? "+" : "";
  return out + std::to_string(v) + " minutes";
}

// The first line that starts with the label.
std::optional<std::string> lineFor(const std::vector<std::string>& lines, const std::string& label) {
  for (const auto& l : lines)
    if (l.rfind(label, 0) == 0) return l;
  return std::nullopt;
}

// Everything in the time section that does not depend on the zone's rules.
void expectTimeSection(const std::vector<std::string>& t) {
  TIME_ZONE_INFORMATION tz{};
  const DWORD id = ::GetTimeZoneInformation(&tz);
  const long standard = -(tz.Bias + tz.StandardBias);
  const long daylight = -(tz.Bias + tz.DaylightBias);
  ASSERT_GE(t.size(), 10u);
  EXPECT_EQ(t[0], std::string("Currently On: ") +
                      (id == TIME_ZONE_ID_STANDARD   ? "Standard Time"
                       : id == TIME_ZONE_ID_DAYLIGHT ? "Daylight Time"
                                                     : "Unknown"));
  const long current = id == TIME_ZONE_ID_STANDARD ? standard : id == TIME_ZONE_ID_DAYLIGHT ? daylight : 0;
  EXPECT_EQ(t[1], "Current Bias (relative to UTC): " + minutes(current));
  EXPECT_EQ(t[2], "Standard Time Name: " + wintest::Utf8(tz.StandardName));
  EXPECT_EQ(t[3], "Standard Time Bias: " + minutes(standard));
  EXPECT_TRUE(hasLine(t, "Daylight Time Name: " + wintest::Utf8(tz.DaylightName)));
  EXPECT_TRUE(hasLine(t, "Daylight Time Bias: " + minutes(daylight)));

  LARGE_INTEGER f{};
  ::QueryPerformanceFrequency(&f);
  const auto hz = static_cast<uint64_t>(f.QuadPart);
  EXPECT_TRUE(hasLine(t, "High Resolution Timer Frequency: " + grouped(hz) + " Hz (" + megahertz(hz) + " Mhz)"));

  DWORD adj = 0, inc = 0;
  BOOL disabled = FALSE;
  ASSERT_TRUE(::GetSystemTimeAdjustment(&adj, &inc, &disabled));
  if (disabled) {
    EXPECT_EQ(t.back(), "RTC Adjustment: Disabled");
  } else {
    EXPECT_TRUE(hasLine(t, "RTC Adjustment: Enabled"));
    EXPECT_EQ(t.back().rfind("RTC Adjusted By: ", 0), 0u);
  }
}

// A relative rule's two lines: its text, then this year's change-over.
void expectRule(const std::vector<std::string>& t, const std::string& label, const std::string& ruleText,
                const SYSTEMTIME& changeOver) {
  auto it = std::find(t.begin(), t.end(), label + ruleText + " at " + timeText(changeOver));
  ASSERT_NE(it, t.end()) << label << ruleText;
  ASSERT_NE(it + 1, t.end());
  EXPECT_EQ(*(it + 1), label + dateText(changeOver) + " " + timeText(changeOver));
}

TEST(ShowTime, AgreesWithThePlatform) {
  const auto t = show(L"TIME");
  expectTimeSection(t);
  TIME_ZONE_INFORMATION tz{};
  ::GetTimeZoneInformation(&tz);
  if (tz.StandardDate.wMonth == 0) {
    EXPECT_EQ(t[4], "Standard Time Begins: Invalid Relative TZ Start Date");
  }
  if (tz.DaylightDate.wMonth == 0) {
    EXPECT_TRUE(hasLine(t, "Daylight Time Begins: Invalid Relative TZ Start Date"));
  }
}

struct LocaleRow {
  const char* label;
  LCTYPE type;
};
const LocaleRow kLocaleRows[] = {
    {"Language Name (in Local Language): ", LOCALE_SLANGUAGE},
    {"Language Name (in English): ", LOCALE_SENGLANGUAGE},
    {"Abbreviated Language Name: ", LOCALE_SABBREVLANGNAME},
    {"ISO Abbreviated Language Name: ", LOCALE_SISO639LANGNAME},
    {"Country Code: ", LOCALE_ICOUNTRY},
    {"Country/Region Name (in Local Language): ", LOCALE_SCOUNTRY},
    {"Country/Region Name (in English): ", LOCALE_SENGCOUNTRY},
    {"Abbreviated Country Name: ", LOCALE_SABBREVCTRYNAME},
    {"ISO Abbreviated Country Name: ", LOCALE_SISO3166CTRYNAME},
    {"Local Currency Name: ", LOCALE_SNATIVECURRNAME},
    {"Local Monetary Symbol: ", LOCALE_SCURRENCY},
    {"Int'l Currency Symbol: ", LOCALE_SINTLSYMBOL},
    {"Name of Currency (in English): ", LOCALE_SENGCURRNAME},
    {"Fractional Digits in Currency: ", LOCALE_ICURRDIGITS},
    {"Monetary Decimal Separator: ", LOCALE_SMONDECIMALSEP},
    {"Monetary Thousands Separator: ", LOCALE_SMONTHOUSANDSEP},
    {"Non-Monetary Decimal Separator: ", LOCALE_SDECIMAL},
    {"Non-Monetary Thousands Separator: ", LOCALE_STHOUSAND},
    {"Date Separator: ", LOCALE_SDATE},
    {"Long Date Format: ", LOCALE_SLONGDATE},
    {"Short Date Format: ", LOCALE_SSHORTDATE},
    {"Time Separator: ", LOCALE_STIME},
    {"Time Format: ", LOCALE_STIMEFORMAT},
    {"AM Indicator: ", LOCALE_S1159},
    {"PM Indicator: ", LOCALE_S2359},
    {"List Item Separator: ", LOCALE_SLIST},
};

void expectLocaleSection(const std::vector<std::string>& l) {
  const LCID lcid = ::GetUserDefaultLCID();
  char hex[16];
  snprintf(hex, sizeof(hex), "%lX", static_cast<unsigned long>(lcid));
  ASSERT_FALSE(l.empty());
  EXPECT_EQ(l[0], "Locale ID: " + std::to_string(lcid) + " / 0x" + hex);
  for (const LocaleRow& r : kLocaleRows) EXPECT_TRUE(hasLine(l, r.label + localeText(r.type))) << r.label;
  EXPECT_TRUE(hasLine(l, "Type Of Calendar: " + localeText(LOCALE_ICALENDARTYPE) + " (Gregorian (localized))"));
  const int firstDay = std::stoi(localeText(LOCALE_IFIRSTDAYOFWEEK));
  EXPECT_TRUE(hasLine(l, "First Day of Week: " + localeText(LOCALE_SDAYNAME1 + static_cast<LCTYPE>(firstDay))));
  const auto paper = lineFor(l, "Standard Paper Size: ");
  ASSERT_TRUE(paper.has_value());
  EXPECT_EQ(paper->rfind("Standard Paper Size: " + localeText(LOCALE_IPAPERSIZE) + " (", 0), 0u);
  for (const auto& line : l) EXPECT_NE(line.rfind("ERROR: ", 0), 0u) << line;
}

TEST(ShowLocale, AgreesWithThePlatform) { expectLocaleSection(show(L"LOCALE")); }

// ---- a German user in New York ----

bool germanUser() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
  ::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
  return wcscmp(name, L"de-DE") == 0;
}

std::wstring environmentVariable(const wchar_t* name) {
  wchar_t value[256] = {};
  const DWORD n = ::GetEnvironmentVariableW(name, value, 256);
  return n > 0 && n < 256 ? value : L"";
}

// Wine takes a process's locale and time zone from the Unix environment it
// starts with, and the processes it starts (tallowin.exe) inherit that one,
// not the Windows environment block. So scripts/test runs this test once more
// in a Wine started with LC_ALL=de_DE.UTF-8 and TZ=America/New_York, naming
// the locale it expects in TALLOWIN_LOCALE_RUN; the ordinary run skips it.
TEST(GermanRegional, FormatsFollowTheUsersSettings) {
  if (environmentVariable(L"TALLOWIN_LOCALE_RUN") != L"de-DE")
    GTEST_SKIP() << "runs in scripts/test's German-locale step";
  ASSERT_TRUE(germanUser()) << "Wine did not take the German locale from LC_ALL";
  ASSERT_EQ(localeText(LOCALE_STHOUSAND), ".");
  ASSERT_EQ(localeText(LOCALE_SDECIMAL), ",");
  win32::WinPlatform p;
  EXPECT_EQ(FormatBytes(p, 0), "0 bytes");
  EXPECT_EQ(FormatBytes(p, 1536), "1.536 bytes (1,50 KB)");
  EXPECT_EQ(FormatBytes(p, 1048576), "1.048.576 bytes (1.024,00 KB)");
  EXPECT_EQ(FormatBytes(p, 4294967295u), "4.294.967.295 bytes (4,00 GB)");

  const auto t = show(L"TIME");
  expectTimeSection(t);
  LARGE_INTEGER f{};
  ::QueryPerformanceFrequency(&f);
  if (f.QuadPart == 10000000) {
    EXPECT_TRUE(hasLine(t, "High Resolution Timer Frequency: 10.000.000 Hz (10,00 Mhz)"));
  }

  // New York: the 1st Sunday of November and the 2nd Sunday of March, each
  // at 2 in the morning of this year, in German renderings.
  TIME_ZONE_INFORMATION tz{};
  ::GetTimeZoneInformation(&tz);
  ASSERT_EQ(tz.Bias, 300);
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  auto nthSunday = [&](WORD month, int n) {
    SYSTEMTIME st{};
    st.wYear = now.wYear;
    st.wMonth = month;
    st.wDay = 1;
    FILETIME ft;
    ::SystemTimeToFileTime(&st, &ft);
    ::FileTimeToSystemTime(&ft, &st);  // fills in the weekday
    st.wDay = static_cast<WORD>(1 + (7 - st.wDayOfWeek) % 7 + 7 * (n - 1));
    st.wDayOfWeek = 0;
    st.wHour = 2;
    return st;
  };
  expectRule(t, "Standard Time Begins: ", "1st Sunday of November", nthSunday(11, 1));
  expectRule(t, "Daylight Time Begins: ", "2nd Sunday of March", nthSunday(3, 2));
  EXPECT_TRUE(hasLine(t, "Standard Time Begins: 1st Sunday of November at 02:00:00"));

  const auto l = show(L"LOCALE");
  expectLocaleSection(l);
  EXPECT_EQ(l[0], "Locale ID: 1031 / 0x407");
  EXPECT_TRUE(hasLine(l, "    Sub-Language ID: 1 / 0x1 - German"));
  EXPECT_TRUE(hasLine(l, "Non-Monetary Thousands Separator: ."));
}

}  // namespace
}  // namespace tallowin
