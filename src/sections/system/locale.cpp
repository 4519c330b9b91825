// The locale section: the user's default locale, its identifiers decoded to
// names, and its settings one by one. It never stops on an error: a failed
// step becomes an "ERROR: " line at the next check and the run goes on.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <optional>
#include <string>

#include "platform/global.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

constexpr uint32_t kSortName = 0x1013;
constexpr uint32_t kLanguage = 0x1;
constexpr uint32_t kCalendarType = 0x1009;
constexpr uint32_t kCentury = 0x24;
constexpr uint32_t kFirstDayOfWeek = 0x100C;
constexpr uint32_t kDayName1 = 0x2A;  // Monday; Sunday is kDayName1 + 6
constexpr uint32_t kClock = 0x23;
constexpr uint32_t kMeasure = 0xD;
constexpr uint32_t kPaperSize = 0x100A;

// Codes of the errors this section reports.
constexpr int32_t kErrNotWholeNumber = 1;
constexpr int32_t kErrNotHexNumber = 2;
constexpr int32_t kErrOutOfRange = 3;
constexpr int32_t kErrUnexpected = 9;

struct LocaleError {
  int32_t code;
  std::string description;
};

std::string lcTypeName(uint32_t lcType) { return "Locale setting 0x" + HexText(lcType); }

// Digits are read up to this, past every 32-bit value, so that a long run of
// digits is judged by what follows it: out of range, or no number at all.
constexpr int64_t kTooLarge = int64_t{0x80000001};

// A whole number in decimal, blanks around it allowed.
int32_t wholeNumber(const std::string& text, uint32_t lcType) {
  int32_t value = 0;
  switch (ReadWholeNumber(text, &value)) {
    case NumberReading::kWhole: return value;
    case NumberReading::kOutOfRange: throw LocaleError{kErrOutOfRange, lcTypeName(lcType) + " is out of range"};
    default: throw LocaleError{kErrNotWholeNumber, lcTypeName(lcType) + " is not a whole number"};
  }
}

uint32_t hexNumber(const std::string& text, uint32_t lcType) {
  const std::string t = Trim(text);
  if (t.empty()) throw LocaleError{kErrNotHexNumber, lcTypeName(lcType) + " is not a hexadecimal number"};
  uint64_t v = 0;
  for (char c : t) {
    const int digit = HexDigitValue(c);
    if (digit < 0) throw LocaleError{kErrNotHexNumber, lcTypeName(lcType) + " is not a hexadecimal number"};
    v = std::min(v * 16 + static_cast<uint64_t>(digit), uint64_t{UINT32_MAX} + 1);
  }
  if (v > UINT32_MAX) throw LocaleError{kErrOutOfRange, lcTypeName(lcType) + " is out of range"};
  return static_cast<uint32_t>(v);
}

// The text read as a decimal number and rounded half away from zero, or
// nothing when it is no number. Throws when it is too large for a whole number;
// a text that only starts with many digits is no number, not too large.
std::optional<int32_t> roundedNumber(const std::string& text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t whole = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    digits = true;
    whole = std::min(whole * 10 + (text[i] - '0'), kTooLarge);
  }
  bool up = false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (i < text.size() && text[i] >= '0' && text[i] <= '9') up = text[i] >= '5';
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) digits = true;
  }
  if (!digits || i != text.size()) return std::nullopt;
  if (up) ++whole;
  if (negative) whole = -whole;
  if (whole > INT32_MAX || whole < INT32_MIN)
    throw LocaleError{kErrOutOfRange, lcTypeName(kPaperSize) + " is out of range"};
  return static_cast<int32_t>(whole);
}

// Each character's code in two or more upper-case hexadecimal digits.
std::string HexOfText(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    size_t length = 1;
    const long code = DecodeUtf8(utf8, i, length);
    out += HexText(code < 0 ? 0xFFFD : static_cast<uint64_t>(code), 2);
    i += length;
  }
  return out;
}

const char* sortName(uint32_t sortId) {
  switch (sortId) {
    case 0: return "Default Order";
    case 1: return "Japanese Unicode Order";
    case 2: return "PRC Chinese Stroke Count Order";
    case 3: return "Traditional Chinese Bopomofo Order";
    default: return "Unknown Order";
  }
}

struct Primary {
  uint32_t id;
  const char* name;
};

const Primary kPrimaryLanguages[] = {
    {0x01, "Arabic"},     {0x02, "Bulgarian"},  {0x03, "Catalan"},    {0x04, "Chinese"},    {0x05, "Czech"},
    {0x06, "Danish"},     {0x07, "German"},     {0x08, "Greek"},      {0x09, "English"},    {0x0A, "Spanish"},
    {0x0B, "Finnish"},    {0x0C, "French"},     {0x0D, "Hebrew"},     {0x0E, "Hungarian"},  {0x0F, "Icelandic"},
    {0x10, "Italian"},    {0x11, "Japanese"},   {0x12, "Korean"},     {0x13, "Dutch"},      {0x14, "Norwegian"},
    {0x15, "Polish"},     {0x16, "Portuguese"}, {0x18, "Romanian"},   {0x19, "Russian"},    {0x1A, "Croatian"},
    {0x1B, "Slovak"},     {0x1C, "Albanian"},   {0x1D, "Swedish"},    {0x1E, "Thai"},       {0x1F, "Turkish"},
    {0x20, "Urdu"},       {0x21, "Indonesian"}, {0x22, "Ukrainian"},  {0x23, "Belarusian"}, {0x24, "Slovenian"},
    {0x25, "Estonian"},   {0x26, "Latvian"},    {0x27, "Lithuanian"}, {0x29, "Farsi"},      {0x2A, "Vietnamese"},
    {0x2B, "Armenian"},   {0x2C, "Azeri"},      {0x2D, "Basque"},     {0x2F, "Macedonian"}, {0x36, "Afrikaans"},
    {0x37, "Georgian"},   {0x38, "Faeroese"},   {0x39, "Hindi"},      {0x3E, "Malay"},      {0x3F, "Kazak"},
    {0x41, "Swahili"},    {0x43, "Uzbek"},      {0x44, "Tatar"},      {0x45, "Bengali"},    {0x46, "Punjabi"},
    {0x47, "Gujarati"},   {0x48, "Oriya"},      {0x49, "Tamil"},      {0x4A, "Telugu"},     {0x4B, "Kannada"},
    {0x4C, "Malayalam"},  {0x4D, "Assamese"},   {0x4E, "Marathi"},    {0x4F, "Sanskrit"},   {0x57, "Konkani"},
    {0x58, "Manipuri"},   {0x59, "Sindhi"},     {0x60, "Kashmiri"},   {0x61, "Nepal"},
};

struct SubTable {
  uint32_t primary;
  std::initializer_list<const char*> names;  // sub-language 1 first; nullptr: no name
};

const SubTable kSubLanguages[] = {
    {0x01, {"Arabic (Saudi Arabia)", "Arabic (Iraq)", "Arabic (Egypt)", "Arabic (Libya)", "Arabic (Algeria)",
            "Arabic (Morocco)", "Arabic (Tunisia)", "Arabic (Oman)", "Arabic (Yemen)", "Arabic (Syria)",
            "Arabic (Jordan)", "Arabic (Lebanon)", "Arabic (Kuwait)", "Arabic (U.A.E)", "Arabic (Bahrain)",
            "Arabic (Qatar)"}},
    {0x04, {"Chinese (Taiwan Region)", "Chinese (PR China)", "Chinese (Hong Kong)", "Chinese (Singapore)",
            "Chinese (Macau)"}},
    {0x07, {"German", "German (Swiss)", "German (Austrian)", "German (Luxembourg)", "German (Liechtenstein)"}},
    {0x09, {"English (USA)", "English (UK)", "English (Australian)", "English (Canadian)", "English (New Zealand)",
            "English (Irish)", "English (South Africa)", "English (Jamaica)", "English (Caribbean)",
            "English (Belize)", "English (Trinidad)", "English (Zimbabwe)", "English (Philippines)"}},
    {0x0A, {"Spanish (Castilian)", "Spanish (Mexican)", "Spanish (Modern)", "Spanish (Guatemala)",
            "Spanish (Costa Rica)", "Spanish (Panama)", "Spanish (Dominican Republic)", "Spanish (Venezuela)",
            "Spanish (Colombia)", "Spanish (Peru)", "Spanish (Argentina)", "Spanish (Ecuador)", "Spanish (Chile)",
            "Spanish (Uruguay)", "Spanish (Paraguay)", "Spanish (Bolivia)", "Spanish (El Salvador)",
            "Spanish (Honduras)", "Spanish (Nicaragua)", "Spanish (Puerto Rico)"}},
    {0x0C, {"French", "French (Belgian)", "French (Canadian)", "French (Swiss)", "French (Luxembourg)",
            "French (Monaco)"}},
    {0x10, {"Italian", "Italian (Swiss)"}},
    {0x12, {"Korean (Extended Wansung)"}},
    {0x13, {"Dutch", "Dutch (Belgian)"}},
    {0x14, {"Norwegian (Bokmal)", "Norwegian (Nynorsk)"}},
    {0x16, {"Portuguese (Brazilian)", "Portuguese"}},
    {0x1D, {"Swedish", "Swedish (Finland)"}},
    {0x20, {"Urdu (Pakistan)", "Urdu (India)"}},
    {0x27, {"Lithuanian", "Lithuanian (Classic)"}},
    {0x2C, {"Azeri (Latin)", "Azeri (Cyrillic)"}},
    {0x3E, {"Malay (Malaysia)", "Malay (Brunei Darussalam)"}},
    {0x43, {"Uzbek (Latin)", "Uzbek (Cyrillic)"}},
    {0x60, {nullptr, "Kashmiri (India)"}},
    {0x61, {nullptr, "Nepali (India)"}},
};

std::string primaryName(uint32_t primary) {
  for (const Primary& p : kPrimaryLanguages)
    if (p.id == primary) return p.name;
  return "Unknown";
}

std::string subName(uint32_t primary, uint32_t sub) {
  for (const SubTable& t : kSubLanguages) {
    if (t.primary != primary) continue;
    if (sub >= 1 && sub <= t.names.size() && t.names.begin()[sub - 1]) return t.names.begin()[sub - 1];
    break;
  }
  return "None/Language Neutral";
}

const char* calendarName(int32_t n) {
  static const char* const kNames[] = {"Gregorian (localized)",
                                       "Gregorian (English strings always)",
                                       "Year of the Emperor (Japan)",
                                       "Taiwan Calendar",
                                       "Tangun Era (Korea)",
                                       "Hijri (Arabic lunar)",
                                       "Thai",
                                       "Hebrew (Lunar)",
                                       "Gregorian (Middle East French)",
                                       "Gregorian (Arabic)",
                                       "Gregorian (Transliterated English)",
                                       "(Gregorian Transliterated French)"};
  return n >= 1 && n <= 12 ? kNames[n - 1] : "unknown";
}

const char* pick(int32_t n, const char* zero, const char* one) { return n == 0 ? zero : n == 1 ? one : "unknown"; }

const char* paperName(const std::string& paper) {
  if (paper == "1") return "US Letter";
  if (paper == "5") return "US Legal";
  if (paper == "8" || paper == "A3") return "A3";
  if (paper == "9" || paper == "A4") return "A4";
  return "unknown";
}

// The plain settings of the first three groups, in list order: label,
// LCTYPE, item value.
struct Setting {
  const char* label;
  uint32_t lcType;
  int32_t itemValue;
};
constexpr Setting kLanguageSettings[] = {
    {"Language Name (in Local Language): ", 0x2, 6510},
    {"Language Name (in English): ", 0x1001, 6520},
    {"Abbreviated Language Name: ", 0x3, 6530},
    {"ISO Abbreviated Language Name: ", 0x59, 6540},
};
constexpr Setting kCountrySettings[] = {
    {"Country Code: ", 0x5, 6550},
    {"Country/Region Name (in Local Language): ", 0x6, 6560},
    {"Country/Region Name (in English): ", 0x1002, 6570},
    {"Abbreviated Country Name: ", 0x7, 6580},
    {"ISO Abbreviated Country Name: ", 0x5A, 6590},
};
constexpr Setting kCurrencySettings[] = {
    {"Local Currency Name: ", 0x1008, 6600},
    {"Local Monetary Symbol: ", 0x14, 6610},
    {"Int'l Currency Symbol: ", 0x15, 6620},
    {"Name of Currency (in English): ", 0x1007, 6630},
    {"Fractional Digits in Currency: ", 0x19, 6640},
    {"Monetary Decimal Separator: ", 0x16, 6650},
    {"Monetary Thousands Separator: ", 0x17, 6660},
    {"Non-Monetary Decimal Separator: ", 0xE, 6670},
    {"Non-Monetary Thousands Separator: ", 0xF, 6680},
};

class LocaleRun {
 public:
  explicit LocaleRun(SectionContext& ctx) : p_(ctx.platform()), list_(ctx.list()) {}

  void run() {
    identifiers();
    settings();
  }

 private:
  // The locale, sort and language identifiers, each decoded.
  void identifiers() {
    uint32_t lcid = 0;
    uint32_t langId = 0;
    step([&] {
      lcid = p_.GetUserDefaultLCID();
      list_.append("Locale ID: " + std::to_string(lcid) + " / 0x" + HexText(lcid), 6500);
    });
    step([&] {
      const uint32_t sortId = (lcid >> 16) & 0xF;
      const std::string name = query(kSortName) != 0 ? text_ + " Order" : sortName(sortId);
      std::string line = "  Sort ID: ";
      line += std::to_string(sortId) + " / 0x" + HexText(sortId) + " - " + name;
      list_.append(line, 6503);
    });
    step([&] {
      query(kLanguage);
      langId = hexNumber(text_, kLanguage);
    });
    const auto languageLine = [&] { return "Language ID: " + std::to_string(langId) + " / 0x" + HexText(langId); };
    step([&] { list_.append("  " + languageLine(), 6505); });
    step([&] {
      const uint32_t primary = langId & 0x3FF;
      const uint32_t sub = langId >> 10;
      list_.append("    Primary Language ID: " + std::to_string(primary) + " / 0x" + HexText(primary) + " - " +
                       primaryName(primary),
                   6507);
      list_.append("    Sub-Language ID: " + std::to_string(sub) + " / 0x" + HexText(sub) + " - " + subName(primary, sub),
                   6509);
    });
    step([&] { list_.append(""); });
    check();
    step([&] { list_.append(languageLine(), 6505); });
    check();
  }

  // The settings in the order of the list, a blank line between groups.
  void settings() {
    group(kLanguageSettings);
    group(kCountrySettings);
    group(kCurrencySettings);
    decoded(kCalendarType, 6700, [](int32_t n) { return "Type Of Calendar: " + std::to_string(n) + " (" + calendarName(n) + ")"; });
    decoded(kCentury, 6720, [](int32_t n) {
      return "Century Format: " + std::to_string(n) + " (" + pick(n, "Abbreviated 2-digit century", "Full 4-digit century") + ")";
    });
    setting("Date Separator: ", 0x1D, 6730);
    setting("Long Date Format: ", 0x20, 6740);
    setting("Short Date Format: ", 0x1F, 6750);
    firstDayOfWeek();
    blank();
    setting("Time Separator: ", 0x1E, 6800);
    setting("Time Format: ", 0x1003, 6810);
    decoded(kClock, 6820, [](int32_t n) { return std::string("Clock Format: ") + pick(n, "AM / PM 12-hour format", "24-hour format"); });
    setting("AM Indicator: ", 0x28, 6830);
    setting("PM Indicator: ", 0x29, 6840);
    blank();
    decoded(kMeasure, 6900, [](int32_t n) { return "Measurement System: " + std::to_string(n) + " (" + pick(n, "Metric", "US") + ")"; });
    setting("List Item Separator: ", 0xC, 6910);
    paperSize();
  }

  // One statement: what fails in it is kept for the next check, and the run goes on.
  template <typename F>
  void step(F&& f) {
    try {
      f();
    } catch (const LocaleError& e) {
      pending_ = e;
    } catch (const DispatchAborted&) {
      throw;
    } catch (const std::exception& e) {
      pending_ = LocaleError{kErrUnexpected, std::string("Unexpected failure: ") + e.what()};
    } catch (...) {
      pending_ = LocaleError{kErrUnexpected, "Unexpected failure"};
    }
  }

  void check() {
    if (!pending_) return;
    const LocaleError e = *pending_;
    pending_.reset();
    list_.append("ERROR: " + std::to_string(e.code) + " - " + e.description);
  }

  void blank() { step([&] { list_.append(""); }); }

  // A query that fails leaves the empty text, never the answer before it.
  int32_t query(uint32_t lcType) {
    text_.clear();
    std::string answer;
    const int32_t n = p_.GetLocaleInfo(lcType, &answer);
    if (n != 0) text_ = TrimNull(answer);
    return n;
  }

  // A group of plain settings and the blank line after it.
  template <size_t N>
  void group(const Setting (&settings)[N]) {
    for (const Setting& line : settings) setting(line.label, line.lcType, line.itemValue);
    blank();
  }

  void setting(const char* label, uint32_t lcType, int32_t itemValue) {
    step([&] { query(lcType); });
    step([&] { list_.append(label + text_, itemValue); });
    check();
  }

  template <typename Line>
  void decoded(uint32_t lcType, int32_t itemValue, Line line) {
    step([&] { query(lcType); });
    // A reading that fails keeps the number of the setting before.
    step([&] { number_ = wholeNumber(text_, lcType); });
    step([&] { list_.append(line(number_), itemValue); });
    check();
  }

  void firstDayOfWeek() {
    step([&] { query(kFirstDayOfWeek); });
    step([&] { number_ = wholeNumber(text_, kFirstDayOfWeek); });
    step([&] {
      // Outside 0 to 6 the LCTYPE would name some other setting altogether.
      if (number_ < 0 || number_ > 6) {
        text_.clear();
        throw LocaleError{kErrOutOfRange, lcTypeName(kFirstDayOfWeek) + " is out of range"};
      }
      query(kDayName1 + static_cast<uint32_t>(number_));
    });
    step([&] { list_.append("First Day of Week: " + text_, 6760); });
    check();
  }

  void paperSize() {
    int32_t n = 0;
    std::string paper;
    step([&] {
      n = query(kPaperSize);
      paper = Trim(text_);
    });
    step([&] {
      if (n == 0 || paper.empty()) return;
      if (const auto number = roundedNumber(paper)) {
        number_ = *number;
        paper = std::to_string(*number);
      } else if (paper < " ") {
        paper = "0x" + HexOfText(paper);
      }
    });
    step([&] {
      if (n == 0 || paper.empty()) return;
      list_.append("Standard Paper Size: " + paper + " (" + paperName(paper) + ")", 6920);
    });
    check();
  }

  Platform& p_;
  ReportList& list_;
  std::string text_;  // the answer of the last query
  int32_t number_ = 0;
  std::optional<LocaleError> pending_;
};

}  // namespace

void CollectLocale(SectionContext& ctx) { LocaleRun(ctx).run(); }

}  // namespace tallowin
