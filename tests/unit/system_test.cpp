// The system sections: operating system, processor, memory, power, user
// interface, time and locale, each as one whole run and its decoding tables;
// the time zone rules, and each locale setting as its reading shows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "sections/system/operating_system.h"
#include "sections/system/processor.h"
#include "sections/system/time.h"
#include "sections/system/user_interface.h"
#include "support/collect.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using test::Lines;
using test::OsVersion;

// The versions the control runs on (Windows 7 and later; 2000 is the whole
// run's), and one it does not know yet.
TEST(OperatingSystem, NamesAndFlags) {
  const struct { Platform::OsVersionInfo v; const char* name; const char* flags; } rows[] = {
      {OsVersion(2, 6, 1, 1), "Windows 7", "XP"}, {OsVersion(2, 6, 3, 2), "Windows Server 2012 R2", ""},
      {OsVersion(2, 10, 0, 1, 21999), "Windows 10", "2000"}, {OsVersion(2, 10, 0, 1, 22000), "Windows 11", "2000"},
      {OsVersion(2, 10, 0, 3, 12345), "Windows Server", "2000"}, {OsVersion(2, 11, 4), "Windows NT 11.4", ""},
  };
  for (const auto& r : rows) {
    VersionFlags f;
    EXPECT_EQ(DecodeOsName(r.v, f), r.name) << r.v.dwMajorVersion << "." << r.v.dwMinorVersion;
    EXPECT_EQ(std::string(f.IsWin2000 ? "2000" : "") + (f.IsWinXP ? "XP" : ""), r.flags) << r.name;
  }
  EXPECT_EQ(SuiteText(0x40), "none");
}

TEST(OsSection, Windows2000AllLinesThenLinesByVersion) {
  FakePlatform p;
  p.exports.insert("kernel32.dll!GetSystemWindowsDirectoryW");
  p.setString("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOwner", "Ada", RegView::Bits64);
  p.setString("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOrganization", "Engines", RegView::Bits64);
  p.version = OsVersion(2, 5, 0, 3, 2195, "Service Pack 4");
  p.version.wServicePackMajor = 4;
  p.version.wSuiteMask = 0x12;
  p.metrics = {{44, 1}, {22, 0}, {67, 2}};
  p.windowsDirectory = "  C:\\WINNT\0\0  ";
  EXPECT_EQ(test::RunPairs(p, CollectOperatingSystem), (test::Pairs{
      {"Operating System Name: Windows 2000", 10}, {"Licensed To User: Ada", 0}, {"Licensed To Company: Engines", 0},
      {"Operating System Platform: Windows NT/2000/XP", 20}, {"Operating System Major Version: 5", 30},
      {"Operating System Minor Version: 0", 40}, {"Operating System Build Number: 2195", 50},
      {"Service Pack Description: Service Pack 4", 60}, {"Service Pack Major Version: 4", 210},
      {"Service Pack Minor Version: 0", 220}, {"Windows Directory: C:\\WINNT", 70},
      {"Windows System Directory: C:\\windows\\system32", 80}, {"Shared Windows Directory: C:\\windows", 90},
      {"Product Type: Windows 2000 Server", 230}, {"Software Suite/Bundle: EnterpriseTerminal Server", 240},
      {"Security Present: Yes", 250}, {"Debug Version of Windows: No", 260},
      {"Boot Type: Safe Mode with Network Support", 270}}));

  const struct { Platform::OsVersionInfo v; const char* servicePack; const char* product; int32_t boot; const char* bootText; } rows[] = {
      {OsVersion(2, 10, 0, 1, 19045), "3", "Workstation", 1, "Safe Mode"},
      {OsVersion(2, 10, 0, 2, 19045), "3", "Domain Controller", 3, "Unknown"},
      {OsVersion(2, 6, 2), "<no line>", "<no line>", 0, "Normal"},
  };
  for (const auto& r : rows) {
    p.version = r.v;
    p.version.wServicePackMajor = 3;
    p.metrics[67] = r.boot;
    const Lines lines = test::Run(p, CollectOperatingSystem);
    EXPECT_EQ(test::Values(lines, "Service Pack Major Version: "), r.servicePack) << lines[0];
    EXPECT_EQ(test::Values(lines, "Product Type: "), r.product) << lines[0];
    EXPECT_EQ(lines.back(), std::string("Boot Type: ") + r.bootText);
  }
  // A lone blank is no owner.
  p.setString("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOwner", " ", RegView::Bits64);
  EXPECT_EQ(test::Values(test::Run(p, CollectOperatingSystem), "Licensed To User: "), "<no line>");
}

TEST(Processor, DecodingTables) {
  const std::pair<int16_t, const char*> architectures[] = {
      {0, "Intel"}, {5, "Unknown (5)"}, {9, "x64 (AMD or Intel 64-bit)"}, {12, "ARM64"}, {-1, "Unknown (-1)"}};
  for (const auto& [code, text] : architectures) EXPECT_EQ(ArchitectureText(code), text) << code;
  const struct { int16_t arch, level; uint16_t revision; const char* levelText; const char* revisionText; } rows[] = {
      // (Level 6 is the whole run's; 386 and 486 cannot run the control.)
      {0, 15, 0x8001, "Pentium III or higher (15)", "Model -128 Stepping 1"},
      {9, 4, 0x0102, "4", "Model 1 Stepping 2"}, {12, 8, 0xFFFF, "8", "-1"},
      // Of the processors Windows NT 4 ran on (no user meets them now), the one sum the levels make.
      {3, 32700, 0, "33300", "0.0"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(LevelText(r.arch, r.level), r.levelText) << r.arch << "/" << r.level;
    EXPECT_EQ(RevisionText(r.arch, r.level, static_cast<int16_t>(r.revision)), r.revisionText) << r.arch << "/" << r.level;
  }
  EXPECT_THROW(WholeNumber("2147483648"), std::out_of_range);
}

// The vendor and the clock rate are shown only when present.
TEST(ProcessorSection, AllLinesThenTheVendorAndClockRate) {
  FakePlatform p;
  const std::string key = "Hardware\\Description\\System\\CentralProcessor\\0";
  // Intel level 6, revision 0x0803, a maximum address past 32 bits (unsigned).
  p.systemInfo = {0, 6, 0x0803, 4096, 65536, 0x7FFFFFFEFFFFull, 2, 65536};
  p.setString(key, "VendorIdentifier", "GenuineIntel");
  p.setDword(key, "~MHz", 733);
  EXPECT_EQ(test::RunPairs(p, CollectProcessor), (test::Pairs{
      {"Processor Architecture: Intel", 1020}, {"CPU Manufacturer: GenuineIntel", 1025},
      {"Processor Level: Pentium Pro/Pentium II", 1030}, {"Processor Revision: Model 8 Stepping 3", 1040},
      {"Approximate CPU Clock Rate: 733 MHz", 1045}, {"Number Of Processors: 2", 1050},
      {"Page Size: 4,096 bytes (4.00 KB)", 1070}, {"Allocation Unit: 65,536 bytes (64.00 KB)", 1080},
      {"Minimum Application Address: 65,536", 1090}, {"Maximum Application Address: 140,737,488,289,791", 1100},
      {"Slow Machine: No", 1110}}));
  EXPECT_EQ(p.openKeys(), 0);

  const struct { const char* vendor; bool asText; uint32_t dword; const char* text; const char* rate; } rows[] = {
      {" ", false, 0xFFFFFFFF, nullptr, "<no line>"}, {"X", true, 0, "1800", "1800 MHz"},  // -1: not above 0
  };
  for (const auto& r : rows) {
    p.setString(key, "VendorIdentifier", r.vendor);
    if (r.asText) p.setString(key, "~Mhz", r.text);
    else p.setDword(key, "~Mhz", r.dword);
    const Lines lines = test::Run(p, CollectProcessor);
    EXPECT_EQ(test::Values(lines, "CPU Manufacturer: "), *r.vendor == 'X' ? "X" : "<no line>");
    EXPECT_EQ(test::Values(lines, "Approximate CPU Clock Rate: "), r.rate) << r.dword;
  }
  // A clock rate that is no number ends the run (what the dispatch then
  // keeps is the control's test) and leaves no key open.
  p.setString(key, "~Mhz", "fast");
  EXPECT_THROW(test::Run(p, CollectProcessor), std::invalid_argument);
  EXPECT_EQ(p.openKeys(), 0);
}

TEST(ProcessorSection, FeatureLines) {
  FakePlatform p;
  const struct { bool nt; std::set<uint32_t> present; const char* yesNo; } rows[] = {
      {false, {0, 1, 2, 3, 6, 7}, ""},  // the OS section not run: none shown
      {true, {7}, "YNNNNY"}, {true, {1, 0, 2}, "NYYNNN"},  // NT answers feature 1 the other way round
  };
  for (const auto& r : rows) {
    p.processorFeatures = r.present;
    VersionFlags flags;
    flags.IsWinNT = r.nt;
    std::string yesNo;
    for (const std::string& l : test::Run(p, CollectProcessor, flags))
      if (l.find("Floating Point ") == 0 || l.find(" Available: ") != std::string::npos) yesNo += l[l.size() - 2] == 'e' ? 'Y' : 'N';
    EXPECT_EQ(yesNo, r.yesNo);
  }
}

TEST(Memory, ExactCountsAndDifferences) {
  FakePlatform p;
  // 16 GiB + 1 of RAM, a 64-bit user space of 128 TiB.
  p.memoryStatus = {97, 17179869185ull, 4294967295ull, 25769803776ull, 25769803776ull, 4096, 6144};
  EXPECT_EQ(test::RunPairs(p, CollectMemory), (test::Pairs{
      {"Memory Load: 97%", 3010}, {"Total Physical Memory: 17,179,869,185 bytes (16.00 GB)", 3020},
      {"In-Use Physical Memory: 12,884,901,890 bytes (12.00 GB)", 3025},
      {"Available Physical Memory: 4,294,967,295 bytes (4.00 GB)", 3030},
      {"Total Page File Size: 25,769,803,776 bytes (24.00 GB)", 3040}, {"In-Use Page File Size: 0 bytes", 3045},
      {"Available Page File Size: 25,769,803,776 bytes (24.00 GB)", 3050},
      {"Total Virtual Memory: 4,096 bytes (4.00 KB)", 3060},
      {"In-Use Virtual Memory: -2,048 bytes", 3065},  // available above total: not wrapped round
      {"Available Virtual Memory: 6,144 bytes (6.00 KB)", 3070}}));
  p.memoryStatusFails = true;
  EXPECT_TRUE(test::Run(p, CollectMemory).empty());
}

TEST(Power, AllLinesAndTheirTables) {
  FakePlatform p;
  p.exports.insert("advapi32.dll!GetCurrentHwProfileW");
  p.powerStatus = {0, 9, 87, 5400, 7200};
  p.hwProfile = {2, "", std::string("  Docked\0Profile ", 17) + std::string(60, '\0')};  // docked
  EXPECT_EQ(test::RunPairs(p, CollectPower), (test::Pairs{
      {"AC Line Status: AC Offline", 2010}, {"Battery Condition: Charging High ", 2020},
      {"Lifetime on Full Charge: 7,200 secs", 2030}, {"Charge Remaining: 87%", 2040},
      {"Lifetime on Current Charge: 5,400 secs", 2050}, {"Current Hardware Profile Name: Docked Profile", 0},
      {"Docking Status: Docked", 0}}));

  // 255: the flags could not be read; a percent above 100 is a byte's fraction.
  const struct { uint8_t flag, percent; uint32_t seconds; const char* lines; } rows[] = {
      {0, 100, 0xFFFFFFFFu, "Unknown|Unknown|100%|Unknown"}, {128, 101, 0x80000000u, "No Battery|Unknown|40%|Unknown"},
      {4, 128, 0x7FFFFFFFu, "CRITICAL |2,147,483,647 secs|50%|2,147,483,647 secs"},
      {10, 255, 1, "Charging Low |1 secs|100%|1 secs"}, {136, 0, 1, "Charging |1 secs|0%|1 secs"},
      {255, 0, 1, "Unknown|1 secs|0%|1 secs"}};
  for (const auto& r : rows) {
    p.powerStatus = {0, r.flag, r.percent, r.seconds, r.seconds};
    EXPECT_EQ(test::Values(test::Run(p, CollectPower), "Battery Condition: ", 4), r.lines);
  }
}

TEST(UserInterface, AllLinesAndTheirTables) {
  FakePlatform p;
  p.keyboardType[2] = 4;
  p.metrics = {{19, 1}, {43, 3}, {75, 1}, {80, 2}, {0, 1024}, {1, 768}, {70, 1}};
  p.displayCaps = {true, 24, 96, 120};
  p.keyboardLayoutName = std::string(" 0000040C\0junk", 14);
  EXPECT_EQ(test::RunPairs(p, CollectUserInterface), (test::Pairs{
      {"Keyboard Type: IBM enhanced (101- or 102-key) keyboard", 6010}, {"Keyboard SubType: 0", 6020},
      {"Number of Function Keys: 12", 6030}, {"Input Locale Identifier: 0000040C", 6035},
      {"Double-Byte Character-Sets Supported: No", 6037}, {"Hebrew or Arabic Supported: No", 6039},
      {"Mouse Present: Yes", 6040}, {"Mouse Buttons: 3", 6050}, {"Mouse Wheel Present: Yes", 6060},
      {"Mouse Buttons Swapped: No", 6070}, {"PenWindows Present: No", 6080}, {"Number of Monitors: 2", 6090},
      {"Screen Size (Primary Monitor): 1024w x 768h", 6100}, {"Bits per Pixel: 24", 6110},
      {"Number of Colors: 16,777,216", 6120}, {"Pixels per Inch: 96w x 120h", 6130}, {"Show Sounds: Yes", 6140}}));

  p.metrics = {{80, -1}};
  p.displayCaps = {};
  const Lines lines = test::Run(p, CollectUserInterface);
  EXPECT_EQ(test::Values(lines, "Mouse Present: ", 2), "No|No");
  EXPECT_EQ(test::Values(lines, "Number of Monitors: ", 6), "1|0w x 0h|0|1|0w x 0h|No");

  EXPECT_EQ(KeyboardTypeText(8) + "|" + KeyboardTypeText(-1), "Unknown|Unknown");
  EXPECT_EQ(FunctionKeysText(0) + "|" + FunctionKeysText(8) + "|" + FunctionKeysText(-3), "Unknown|8|-3");
}

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
  EXPECT_EQ(test::Values(test::Run(p, CollectTime), "Currently On: ", 8), "Unknown|0 minutes|None Specified|0 minutes|"
            "Invalid Relative TZ Start Date|None specified|0 minutes|Invalid Relative TZ Start Date");
  // Standard time; a name that begins with a control character is none, one with blanks is kept.
  p.timeZoneId = Platform::kTimeZoneIdStandard;
  p.timeZone = {480, "  Two", {}, 0, "", {}, -60};
  EXPECT_EQ(test::Values(test::Run(p, CollectTime), "Currently On: ", 4), "Standard Time|-480 minutes|  Two|-480 minutes");
  p.timeZoneId = Platform::kTimeZoneIdDaylight;
  p.timeZone = {0, "\x01Zone", {}, 0, "", {}, -60};
  EXPECT_EQ(test::Values(test::Run(p, CollectTime), "Currently On: ", 4), "Daylight Time|+60 minutes|None Specified|0 minutes");
}

TEST(Time, RulesRendered) {
  FakePlatform p;
  const struct { SystemTime rule; int year; const char* text; const char* changeOver; } rows[] = {
      // The last Sunday on the month's last day; the last Friday of a leap February, a week before March.
      {Rule(0, 3, 0, 5, 1), 2024, "Last Sunday of March at 1:00:00 AM", "3/31/2024 1:00:00 AM"},
      {Rule(0, 2, 5, 5, 23, 59, 59), 2024, "Last Friday of February at 11:59:59 PM", "2/23/2024 11:59:59 PM"},
      {Rule(0, 9, 4, 3, 14, 30), 2024, "3rd Thursday of September at 2:30:00 PM", "9/19/2024 2:30:00 PM"},
      {Rule(0, 1, 1, 1, 0), 2024, "1st Monday of January at 12:00:00 AM", "1/1/2024"},  // midnight: the date alone
      {Rule(2024, 3, 0, 0, 0), 2024, "2/29/2024 at 12:00:00 AM", nullptr},
      {Rule(0, 3, 0, 0, 2), 2024, "Invalid Relative TZ Start Date", nullptr}, {Rule(0, 3, 0, 6, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
      {Rule(0, 3, 7, 1, 2), 2024, "Invalid Relative TZ Start Date", nullptr}, {Rule(0, 13, 0, 1, 2), 2024, "Invalid Relative TZ Start Date", nullptr},
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
}

TEST(Time, CounterAndClockAdjustment) {
  const struct { Platform::LargeInteger f; bool fails; Platform::SystemTimeAdjustment adj; const char* lines; } rows[] = {
      {{5000, 0}, false, {156251, 156250, false},
       "5,000 Hz (0.01 Mhz)|Enabled|15,625,000 ns (0.015625000 secs)|+100 ns"},
      {{10000000, 0}, false, {100000, 100144, false},
       "10,000,000 Hz (10.00 Mhz)|Enabled|10,014,400 ns (0.010014400 secs)|-14,400 ns"},
      {{1, 0}, false, {156250, 156250, true}, "1 Hz (0.00 Mhz)|Disabled"},
      {{1, 0}, true, {}, "1 Hz (0.00 Mhz)|Not Available"},
  };
  for (const auto& r : rows) {
    FakePlatform p;
    p.performanceFrequency = r.f;
    p.exports.insert("kernel32!GetSystemTimeAdjustment");
    p.timeAdjustmentFails = r.fails;
    p.timeAdjustment = r.adj;
    EXPECT_EQ(test::Values(test::Run(p, CollectTime), "High Resolution", 9), r.lines);
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

// One setting's answer, and the lines from its own (or its error) on; no
// other error line. fuzz/locale_fuzz.cpp checks every text, number and error
// line against readings of its own; here are the sort name and the paper
// size, which it does not read, and the rows of the errors it found.
TEST(Locale, EachSettingAsItsReadingShowsIt) {
  const struct { uint32_t lcType; std::string text; Lines lines; } rows[] = {
      {0x1013, "Dictionary", {"  Sort ID: 0 / 0x0 - Dictionary Order"}},
      {0x1, "1G0000000", {"ERROR: 2 - Locale setting 0x1 is not a hexadecimal number", "Language ID: 0 / 0x0"}},
      {0x1, "100000000", {"ERROR: 3 - Locale setting 0x1 is out of range", "Language ID: 0 / 0x0"}},
      {0x1, "0000000409", {"Language ID: 1033 / 0x409"}}, {0x1, "ffffFFFF", {"Language ID: 4294967295 / 0xFFFFFFFF"}},
      {0xD, "12345678901x", {"Measurement System: 0 (Metric)", "ERROR: 1 - Locale setting 0xD is not a whole number"}},
      {0x100C, "7", {"First Day of Week: ", "ERROR: 3 - Locale setting 0x100C is out of range"}},
      {0x100A, " 09 ", {"Standard Paper Size: 9 (A4)"}}, {0x100A, "8.6", {"Standard Paper Size: 9 (A4)"}},
      {0x100A, "A3", {"Standard Paper Size: A3 (A3)"}}, {0x100A, "\x01\x1b", {"Standard Paper Size: 0x011B (unknown)"}},
      {0x100A, "2147483646.5", {"Standard Paper Size: 2147483647 (unknown)"}},
      {0x100A, "-2147483648.5", {"Standard Paper Size: -2147483648.5 (unknown)", "ERROR: 3 - Locale setting 0x100A is out of range"}},
      {0x100A, "99999999999x", {"Standard Paper Size: 99999999999x (unknown)"}}, {0x100A, "   ", {}},
  };
  for (const auto& r : rows) {
    FakePlatform p;
    p.localeInfo[r.lcType] = r.text;
    const Lines lines = test::Run(p, CollectLocale);
    const std::string anchor = r.lines.empty() ? "Standard Paper Size: " : r.lines[0].substr(0, r.lines[0].find(": ") + 2);
    EXPECT_EQ(test::From(lines, anchor, r.lines.size()), r.lines) << r.text;
    const auto errors = [](const Lines& l) { return std::count_if(l.begin(), l.end(), [](auto& t) { return t.rfind("ERROR: ", 0) == 0; }); };
    EXPECT_EQ(errors(lines), errors(r.lines)) << r.text;
  }
}

}  // namespace
}  // namespace tallowin
