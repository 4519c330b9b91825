#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using Lines = std::vector<std::pair<std::string, int32_t>>;

class LocaleSection : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  Lines run() {
    CollectLocale(control);
    Lines out;
    for (const auto& l : control.list().lines()) out.push_back({l.text, l.itemValue});
    return out;
  }
  std::vector<std::string> texts() {
    CollectLocale(control);
    return test::Texts(control.list());
  }
  // The line that starts with the label, or "(missing)".
  std::string line(const std::string& label) {
    CollectLocale(control);
    for (const auto& t : test::Texts(control.list()))
      if (t.rfind(label, 0) == 0) return t;
    return "(missing)";
  }
  // The line after the one that starts with the label.
  std::string after(const std::vector<std::string>& lines, const std::string& label) {
    for (size_t i = 0; i + 1 < lines.size(); ++i)
      if (lines[i].rfind(label, 0) == 0) return lines[i + 1];
    return "(missing)";
  }
};

TEST_F(LocaleSection, UsEnglishEveryLine) {
  EXPECT_EQ(run(), (Lines{
                       {"Locale ID: 1033 / 0x409", 6500},
                       {"  Sort ID: 0 / 0x0 - Default Order", 6503},
                       {"  Language ID: 1033 / 0x409", 6505},
                       {"    Primary Language ID: 9 / 0x9 - English", 6507},
                       {"    Sub-Language ID: 1 / 0x1 - English (USA)", 6509},
                       {"", 0},
                       {"Language ID: 1033 / 0x409", 6505},
                       {"Language Name (in Local Language): English (United States)", 6510},
                       {"Language Name (in English): English", 6520},
                       {"Abbreviated Language Name: ENU", 6530},
                       {"ISO Abbreviated Language Name: en", 6540},
                       {"", 0},
                       {"Country Code: 1", 6550},
                       {"Country/Region Name (in Local Language): United States", 6560},
                       {"Country/Region Name (in English): United States", 6570},
                       {"Abbreviated Country Name: USA", 6580},
                       {"ISO Abbreviated Country Name: US", 6590},
                       {"", 0},
                       {"Local Currency Name: US Dollar", 6600},
                       {"Local Monetary Symbol: $", 6610},
                       {"Int'l Currency Symbol: USD", 6620},
                       {"Name of Currency (in English): US Dollar", 6630},
                       {"Fractional Digits in Currency: 2", 6640},
                       {"Monetary Decimal Separator: .", 6650},
                       {"Monetary Thousands Separator: ,", 6660},
                       {"Non-Monetary Decimal Separator: .", 6670},
                       {"Non-Monetary Thousands Separator: ,", 6680},
                       {"", 0},
                       {"Type Of Calendar: 1 (Gregorian (localized))", 6700},
                       {"Century Format: 1 (Full 4-digit century)", 6720},
                       {"Date Separator: /", 6730},
                       {"Long Date Format: dddd, MMMM d, yyyy", 6740},
                       {"Short Date Format: M/d/yyyy", 6750},
                       {"First Day of Week: Sunday", 6760},
                       {"", 0},
                       {"Time Separator: :", 6800},
                       {"Time Format: h:mm:ss tt", 6810},
                       {"Clock Format: AM / PM 12-hour format", 6820},
                       {"AM Indicator: AM", 6830},
                       {"PM Indicator: PM", 6840},
                       {"", 0},
                       {"Measurement System: 1 (US)", 6900},
                       {"List Item Separator: ,", 6910},
                       {"Standard Paper Size: 1 (US Letter)", 6920},
                   }));
  // First day 6 asks for LCTYPE 42 + 6.
  EXPECT_NE(std::find(p.localeQueries.begin(), p.localeQueries.end(), 48u), p.localeQueries.end());
  EXPECT_EQ(p.yields, 0);
}

TEST_F(LocaleSection, IdentifiersDecoded) {
  const struct {
    uint32_t lcid;
    const char* languageText;
    bool sortQueryAnswers;
    std::vector<std::string> lines;  // the first five
  } rows[] = {
      {0x10411, "0411", false,
       {"Locale ID: 66577 / 0x10411", "  Sort ID: 1 / 0x1 - Japanese Unicode Order", "  Language ID: 1041 / 0x411",
        "    Primary Language ID: 17 / 0x11 - Japanese", "    Sub-Language ID: 1 / 0x1 - None/Language Neutral"}},
      {0x0C0A, "0C0A", true,
       {"Locale ID: 3082 / 0xC0A", "  Sort ID: 0 / 0x0 - Default Order", "  Language ID: 3082 / 0xC0A",
        "    Primary Language ID: 10 / 0xA - Spanish", "    Sub-Language ID: 3 / 0x3 - Spanish (Modern)"}},
      {0x0402, "0402", true,
       {"Locale ID: 1026 / 0x402", "  Sort ID: 0 / 0x0 - Default Order", "  Language ID: 1026 / 0x402",
        "    Primary Language ID: 2 / 0x2 - Bulgarian", "    Sub-Language ID: 1 / 0x1 - None/Language Neutral"}},
      {0x1009, "1009", true,
       {"Locale ID: 4105 / 0x1009", "  Sort ID: 0 / 0x0 - Default Order", "  Language ID: 4105 / 0x1009",
        "    Primary Language ID: 9 / 0x9 - English", "    Sub-Language ID: 4 / 0x4 - English (Canadian)"}},
      {0x20804, "0804", false,
       {"Locale ID: 133124 / 0x20804", "  Sort ID: 2 / 0x2 - PRC Chinese Stroke Count Order",
        "  Language ID: 2052 / 0x804", "    Primary Language ID: 4 / 0x4 - Chinese",
        "    Sub-Language ID: 2 / 0x2 - Chinese (PR China)"}},
      {0x30404, "0404", false,
       {"Locale ID: 197636 / 0x30404", "  Sort ID: 3 / 0x3 - Traditional Chinese Bopomofo Order",
        "  Language ID: 1028 / 0x404", "    Primary Language ID: 4 / 0x4 - Chinese",
        "    Sub-Language ID: 1 / 0x1 - Chinese (Taiwan Region)"}},
      {0x50409, "0409", false,
       {"Locale ID: 328713 / 0x50409", "  Sort ID: 5 / 0x5 - Unknown Order", "  Language ID: 1033 / 0x409",
        "    Primary Language ID: 9 / 0x9 - English", "    Sub-Language ID: 1 / 0x1 - English (USA)"}},
      {0x0860, "0860", true,
       {"Locale ID: 2144 / 0x860", "  Sort ID: 0 / 0x0 - Default Order", "  Language ID: 2144 / 0x860",
        "    Primary Language ID: 96 / 0x60 - Kashmiri", "    Sub-Language ID: 2 / 0x2 - Kashmiri (India)"}},
      {0x0460, "0460", true,
       {"Locale ID: 1120 / 0x460", "  Sort ID: 0 / 0x0 - Default Order", "  Language ID: 1120 / 0x460",
        "    Primary Language ID: 96 / 0x60 - Kashmiri", "    Sub-Language ID: 1 / 0x1 - None/Language Neutral"}},
      {0x0417, "0417", true,
       {"Locale ID: 1047 / 0x417", "  Sort ID: 0 / 0x0 - Default Order", "  Language ID: 1047 / 0x417",
        "    Primary Language ID: 23 / 0x17 - Unknown", "    Sub-Language ID: 1 / 0x1 - None/Language Neutral"}},
      {0x2409, "2409", true,
       {"Locale ID: 9225 / 0x2409", "  Sort ID: 0 / 0x0 - Default Order", "  Language ID: 9225 / 0x2409",
        "    Primary Language ID: 9 / 0x9 - English", "    Sub-Language ID: 9 / 0x9 - English (Caribbean)"}},
      {0x3809, "3809", true,
       {"Locale ID: 14345 / 0x3809", "  Sort ID: 0 / 0x0 - Default Order", "  Language ID: 14345 / 0x3809",
        "    Primary Language ID: 9 / 0x9 - English", "    Sub-Language ID: 14 / 0xE - None/Language Neutral"}},
  };
  for (const auto& r : rows) {
    FakePlatform fp;
    ProfileControl c{fp};
    fp.userLcid = r.lcid;
    fp.localeInfo[0x1] = r.languageText;
    if (!r.sortQueryAnswers) fp.localeInfo.erase(0x1013);
    CollectLocale(c);
    const auto t = test::Texts(c.list());
    ASSERT_GE(t.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(t.begin(), t.begin() + 5), r.lines) << r.languageText;
    EXPECT_EQ(t[5], "");
    EXPECT_EQ(t[6], r.lines[2].substr(2)) << "the language line again, without its blanks";
  }
}

TEST_F(LocaleSection, SortNameFromTheLocale) {
  p.localeInfo[0x1013] = "Dictionary";
  EXPECT_EQ(line("  Sort ID: "), "  Sort ID: 0 / 0x0 - Dictionary Order");
}

TEST_F(LocaleSection, LanguageTextThatIsNotHexadecimal) {
  p.localeInfo[0x1] = "04G9";
  const auto t = texts();
  EXPECT_EQ(std::vector<std::string>(t.begin(), t.begin() + 8),
            (std::vector<std::string>{"Locale ID: 1033 / 0x409", "  Sort ID: 0 / 0x0 - Default Order",
                                      "  Language ID: 0 / 0x0", "    Primary Language ID: 0 / 0x0 - Unknown",
                                      "    Sub-Language ID: 0 / 0x0 - None/Language Neutral", "",
                                      "ERROR: 2 - Locale setting 0x1 is not a hexadecimal number",
                                      "Language ID: 0 / 0x0"}));
  EXPECT_EQ(control.list().itemValue(6), 0);
  // Reported once only.
  EXPECT_EQ(std::count_if(t.begin(), t.end(), [](const std::string& s) { return s.rfind("ERROR: ", 0) == 0; }), 1);
}

TEST_F(LocaleSection, DecodedSettings) {
  const struct {
    uint32_t lcType;
    const char* text;
    const char* line;
  } rows[] = {
      {0x1009, "1", "Type Of Calendar: 1 (Gregorian (localized))"},
      {0x1009, "2", "Type Of Calendar: 2 (Gregorian (English strings always))"},
      {0x1009, "3", "Type Of Calendar: 3 (Year of the Emperor (Japan))"},
      {0x1009, "4", "Type Of Calendar: 4 (Taiwan Calendar)"},
      {0x1009, "5", "Type Of Calendar: 5 (Tangun Era (Korea))"},
      {0x1009, "6", "Type Of Calendar: 6 (Hijri (Arabic lunar))"},
      {0x1009, "7", "Type Of Calendar: 7 (Thai)"},
      {0x1009, "8", "Type Of Calendar: 8 (Hebrew (Lunar))"},
      {0x1009, "9", "Type Of Calendar: 9 (Gregorian (Middle East French))"},
      {0x1009, "10", "Type Of Calendar: 10 (Gregorian (Arabic))"},
      {0x1009, "11", "Type Of Calendar: 11 (Gregorian (Transliterated English))"},
      {0x1009, "12", "Type Of Calendar: 12 ((Gregorian Transliterated French))"},
      {0x1009, "13", "Type Of Calendar: 13 (unknown)"},
      {0x1009, "0", "Type Of Calendar: 0 (unknown)"},
      {0x24, "0", "Century Format: 0 (Abbreviated 2-digit century)"},
      {0x24, "1", "Century Format: 1 (Full 4-digit century)"},
      {0x24, "2", "Century Format: 2 (unknown)"},
      {0x23, "0", "Clock Format: AM / PM 12-hour format"},
      {0x23, "1", "Clock Format: 24-hour format"},
      {0x23, "7", "Clock Format: unknown"},
      {0xD, "0", "Measurement System: 0 (Metric)"},
      {0xD, "1", "Measurement System: 1 (US)"},
      {0xD, "-1", "Measurement System: -1 (unknown)"},
  };
  for (const auto& r : rows) {
    FakePlatform fp;
    ProfileControl c{fp};
    fp.localeInfo[r.lcType] = r.text;
    CollectLocale(c);
    const auto t = test::Texts(c.list());
    EXPECT_TRUE(test::HasLine(t, r.line)) << r.line;
    EXPECT_FALSE(test::HasPrefix(t, "ERROR: ")) << r.line;
  }
}

// What a reading reports: a text that is no number at all is that, however
// many digits it starts with; only a number that is too large is out of range.
TEST_F(LocaleSection, NumberReadingErrors) {
  const struct {
    uint32_t lcType;
    const char* text;
    const char* line;   // the setting's line
    const char* error;  // the line after it, "" for none
  } rows[] = {
      // A reading that fails keeps the clock's 0.
      {0xD, "12345678901x", "Measurement System: 0 (Metric)", "ERROR: 1 - Locale setting 0xD is not a whole number"},
      {0xD, "12345678901", "Measurement System: 0 (Metric)", "ERROR: 3 - Locale setting 0xD is out of range"},
      {0xD, "-2147483649", "Measurement System: 0 (Metric)", "ERROR: 3 - Locale setting 0xD is out of range"},
      {0xD, "-2147483648", "Measurement System: -2147483648 (unknown)", ""},
      {0xD, " +2147483647 ", "Measurement System: 2147483647 (unknown)", ""},
      {0x1, "100000000", "Language ID: 0 / 0x0", "ERROR: 3 - Locale setting 0x1 is out of range"},
      {0x1, "0000000409", "Language ID: 1033 / 0x409", ""},
      {0x1, "FFFFFFFF", "Language ID: 4294967295 / 0xFFFFFFFF", ""},
      {0x1, "1G0000000", "Language ID: 0 / 0x0", "ERROR: 2 - Locale setting 0x1 is not a hexadecimal number"},
  };
  for (const auto& r : rows) {
    FakePlatform fp;
    ProfileControl c{fp};
    fp.localeInfo[r.lcType] = r.text;
    CollectLocale(c);
    const auto t = test::Texts(c.list());
    // The language's error comes after the first block; every other one after its line.
    const std::string label = r.lcType == 0x1 ? "" : r.line;
    const auto it = std::find(t.begin(), t.end(), label);
    ASSERT_NE(it, t.end()) << r.text;
    ASSERT_NE(it + 1, t.end()) << r.text;
    if (r.lcType == 0x1) {
      EXPECT_TRUE(test::HasLine(t, r.line)) << r.text;
    }
    if (*r.error) {
      EXPECT_EQ(*(it + 1), r.error) << r.text;
    } else {
      EXPECT_FALSE(test::HasPrefix(t, "ERROR: ")) << r.text;
    }
  }
}

TEST_F(LocaleSection, FailedWholeNumberKeepsThePreviousNumber) {
  p.localeInfo[0x1009] = "2";
  p.localeInfo[0x24] = "x";
  const auto t = texts();
  EXPECT_EQ(after(t, "Type Of Calendar: "), "Century Format: 2 (unknown)");
  EXPECT_EQ(after(t, "Century Format: "), "ERROR: 1 - Locale setting 0x24 is not a whole number");
  EXPECT_EQ(after(t, "ERROR: "), "Date Separator: /");
}

TEST_F(LocaleSection, FirstDecodedSettingFailingShowsZero) {
  p.localeInfo.erase(0x1009);  // the query fails: the empty text is no number
  const auto t = texts();
  EXPECT_EQ(after(t, "Non-Monetary Thousands Separator: "), "");
  EXPECT_TRUE(test::HasLine(t, "Type Of Calendar: 0 (unknown)"));
  EXPECT_EQ(after(t, "Type Of Calendar: "), "ERROR: 1 - Locale setting 0x1009 is not a whole number");
}

TEST_F(LocaleSection, FailedQueryShowsTheEmptyValue) {
  p.localeInfo.erase(0x14);
  const auto t = texts();
  EXPECT_TRUE(test::HasLine(t, "Local Monetary Symbol: "));  // not the currency name queried before it
  EXPECT_EQ(after(t, "Local Monetary Symbol: "), "Int'l Currency Symbol: USD");
}

TEST_F(LocaleSection, FirstDayOfWeek) {
  const struct {
    const char* setting;
    std::vector<std::string> lines;
  } rows[] = {
      {"0", {"First Day of Week: Monday"}},
      {"6", {"First Day of Week: Sunday"}},
      {"3", {"First Day of Week: Thursday"}},
      {"7", {"First Day of Week: ", "ERROR: 3 - Locale setting 0x100C is out of range"}},
      {"-42", {"First Day of Week: ", "ERROR: 3 - Locale setting 0x100C is out of range"}},
      // The century's 1 stays in the shared number.
      {"", {"First Day of Week: Tuesday", "ERROR: 1 - Locale setting 0x100C is not a whole number"}},
  };
  for (const auto& r : rows) {
    FakePlatform fp;
    ProfileControl c{fp};
    fp.localeInfo[0x100C] = r.setting;
    CollectLocale(c);
    const auto t = test::Texts(c.list());
    auto it = std::find_if(t.begin(), t.end(), [](const std::string& s) { return s.rfind("First Day of Week: ", 0) == 0; });
    ASSERT_NE(it, t.end());
    EXPECT_EQ(std::vector<std::string>(it, it + static_cast<long>(r.lines.size())), r.lines) << r.setting;
    EXPECT_EQ(*(it + static_cast<long>(r.lines.size())), "") << r.setting;
  }
}

TEST_F(LocaleSection, PaperSize) {
  const struct {
    std::string text;
    bool answers;
    std::vector<std::string> tail;  // what follows "List Item Separator: ,"
  } rows[] = {
      {"1", true, {"Standard Paper Size: 1 (US Letter)"}},
      {"5", true, {"Standard Paper Size: 5 (US Legal)"}},
      {"8", true, {"Standard Paper Size: 8 (A3)"}},
      {"9", true, {"Standard Paper Size: 9 (A4)"}},
      {"09", true, {"Standard Paper Size: 9 (A4)"}},
      {" 9 ", true, {"Standard Paper Size: 9 (A4)"}},
      {"8.6", true, {"Standard Paper Size: 9 (A4)"}},
      {"A4", true, {"Standard Paper Size: A4 (A4)"}},
      {"A3", true, {"Standard Paper Size: A3 (A3)"}},
      {"Letter", true, {"Standard Paper Size: Letter (unknown)"}},
      {"12", true, {"Standard Paper Size: 12 (unknown)"}},
      {"\x01\x1b", true, {"Standard Paper Size: 0x011B (unknown)"}},
      {"99999999999", true,
       {"Standard Paper Size: 99999999999 (unknown)", "ERROR: 3 - Locale setting 0x100A is out of range"}},
      {"2147483648", true,
       {"Standard Paper Size: 2147483648 (unknown)", "ERROR: 3 - Locale setting 0x100A is out of range"}},
      {"-2147483648.5", true,
       {"Standard Paper Size: -2147483648.5 (unknown)", "ERROR: 3 - Locale setting 0x100A is out of range"}},
      {"-2147483648", true, {"Standard Paper Size: -2147483648 (unknown)"}},
      {"2147483646.5", true, {"Standard Paper Size: 2147483647 (unknown)"}},
      // Many digits and then something else: no number, so neither rewritten nor out of range.
      {"99999999999x", true, {"Standard Paper Size: 99999999999x (unknown)"}},
      {"2222222222222222222222222222249.|+", true, {"Standard Paper Size: 2222222222222222222222222222249.|+ (unknown)"}},
      {"   ", true, {}},
      {"", true, {}},
      {"9", false, {}},
  };
  for (const auto& r : rows) {
    FakePlatform fp;
    ProfileControl c{fp};
    if (r.answers)
      fp.localeInfo[0x100A] = r.text;
    else
      fp.localeInfo.erase(0x100A);
    CollectLocale(c);
    const auto t = test::Texts(c.list());
    auto it = std::find(t.begin(), t.end(), "List Item Separator: ,");
    ASSERT_NE(it, t.end());
    EXPECT_EQ(std::vector<std::string>(it + 1, t.end()), r.tail) << r.text;
  }
}

// A platform that fails outright on one query.
class ThrowingPlatform : public FakePlatform {
 public:
  uint32_t throwOn = 0;
  int32_t GetLocaleInfo(uint32_t lcType, std::string* data) override {
    if (lcType == throwOn) throw std::runtime_error("locale store unavailable");
    return FakePlatform::GetLocaleInfo(lcType, data);
  }
};

TEST(LocaleFailures, AnErrorInsideAStepIsReportedAndTheRunGoesOn) {
  ThrowingPlatform p;
  p.throwOn = 0x1002;
  ProfileControl c{p};
  CollectLocale(c);
  const auto t = test::Texts(c.list());
  auto it = std::find(t.begin(), t.end(), "Country/Region Name (in Local Language): United States");
  ASSERT_NE(it, t.end());
  EXPECT_EQ(*(it + 1), "Country/Region Name (in English): ");
  EXPECT_EQ(*(it + 2), "ERROR: 9 - Unexpected failure: locale store unavailable");
  EXPECT_EQ(*(it + 3), "Abbreviated Country Name: USA");
  EXPECT_EQ(t.back(), "Standard Paper Size: 1 (US Letter)");
}

TEST(LocaleFailures, ErrorsAmongTheFirstLinesWaitForTheBlankLine) {
  ThrowingPlatform p;
  p.throwOn = 0x1013;
  ProfileControl c{p};
  CollectLocale(c);
  const auto t = test::Texts(c.list());
  // The sort line is lost with its statement; the others stand.
  EXPECT_EQ(std::vector<std::string>(t.begin(), t.begin() + 7),
            (std::vector<std::string>{"Locale ID: 1033 / 0x409", "  Language ID: 1033 / 0x409",
                                      "    Primary Language ID: 9 / 0x9 - English",
                                      "    Sub-Language ID: 1 / 0x1 - English (USA)", "",
                                      "ERROR: 9 - Unexpected failure: locale store unavailable",
                                      "Language ID: 1033 / 0x409"}));
}

}  // namespace
}  // namespace tallowin
