// The fake's numbers, collation, clocks, time zone and locale: plain fields,
// English (United States) renderings.
#include <algorithm>
#include <cctype>
#include <string>

#include "platform/text.h"
#include "support/fake_platform.h"

namespace tallowin::test {

namespace {

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysIn(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

}  // namespace

std::map<uint32_t, std::string> FakePlatform::EnUsLocaleInfo() {
  return {
      {0x1013, "Default"},          {0x1, "0409"},
      {0x2, "English (United States)"}, {0x1001, "English"},
      {0x3, "ENU"},                 {0x59, "en"},
      {0x5, "1"},                   {0x6, "United States"},
      {0x1002, "United States"},    {0x7, "USA"},
      {0x5A, "US"},                 {0x1008, "US Dollar"},
      {0x14, "$"},                  {0x15, "USD"},
      {0x1007, "US Dollar"},        {0x19, "2"},
      {0x16, "."},                  {0x17, ","},
      {0xE, "."},                   {0xF, ","},
      {0x1009, "1"},                {0x24, "1"},
      {0x1D, "/"},                  {0x20, "dddd, MMMM d, yyyy"},
      {0x1F, "M/d/yyyy"},           {0x100C, "6"},
      {0x2A, "Monday"},             {0x2B, "Tuesday"},
      {0x2C, "Wednesday"},          {0x2D, "Thursday"},
      {0x2E, "Friday"},             {0x2F, "Saturday"},
      {0x30, "Sunday"},             {0x1E, ":"},
      {0x1003, "h:mm:ss tt"},       {0x23, "0"},
      {0x28, "AM"},                 {0x29, "PM"},
      {0xD, "1"},                   {0xC, ","},
      {0x100A, "1"},
  };
}

uint32_t FakePlatform::GetTimeZoneInformation(TimeZoneInformation* info) {
  *info = timeZoneId == kTimeZoneIdInvalid ? TimeZoneInformation{} : timeZone;
  return timeZoneId;
}

bool FakePlatform::QueryPerformanceFrequency(LargeInteger* frequency) {
  *frequency = hasPerformanceCounter ? performanceFrequency : LargeInteger{};
  return hasPerformanceCounter;
}

bool FakePlatform::GetSystemTimeAdjustment(SystemTimeAdjustment* adjustment) {
  if (timeAdjustmentFails) return false;
  *adjustment = timeAdjustment;
  return true;
}

std::string FakePlatform::GetDateFormat(uint32_t, const SystemTime& d) {
  if (d.wYear < 1601 || d.wYear > 30827 || d.wMonth < 1 || d.wMonth > 12 || d.wDay < 1 ||
      d.wDay > daysIn(d.wYear, d.wMonth))
    return "";
  return std::to_string(d.wMonth) + "/" + std::to_string(d.wDay) + "/" + std::to_string(d.wYear);
}

std::string FakePlatform::GetTimeFormat(uint32_t, const SystemTime& t) {
  if (t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59) return "";
  const int h12 = t.wHour % 12 == 0 ? 12 : t.wHour % 12;
  auto two = [](int v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  return std::to_string(h12) + ":" + two(t.wMinute) + ":" + two(t.wSecond) + (t.wHour < 12 ? " AM" : " PM");
}

int32_t FakePlatform::GetLocaleInfo(uint32_t lcType, std::string* data) {
  localeQueries.push_back(lcType);
  auto it = localeInfo.find(lcType);
  if (it == localeInfo.end()) {
    data->clear();
    return 0;
  }
  *data = it->second;
  return static_cast<int32_t>(Utf8ToUtf16(it->second).size() + 1);
}
std::string FormatEnUs(const std::string& number, const Platform::NumberStyle& style) {
  std::string s = number;
  bool negative = false;
  if (!s.empty() && s[0] == '-') {
    negative = true;
    s.erase(0, 1);
  }
  std::string whole = s;
  std::string frac;
  if (const size_t dot = s.find('.'); dot != std::string::npos) {
    whole = s.substr(0, dot);
    frac = s.substr(dot + 1);
  }
  if (whole.empty()) whole = "0";
  const int decimals = style.localeDefaults ? 2 : style.decimals;
  // Round half up at `decimals` places.
  std::string digits = whole + frac;
  const size_t keep = whole.size() + static_cast<size_t>(decimals);
  digits.resize(std::max(digits.size(), keep + 1), '0');
  const bool up = digits[keep] >= '5';
  digits.resize(keep);
  if (up) {
    int i = static_cast<int>(digits.size()) - 1;
    for (; i >= 0; --i) {
      if (digits[static_cast<size_t>(i)] == '9') {
        digits[static_cast<size_t>(i)] = '0';
      } else {
        ++digits[static_cast<size_t>(i)];
        break;
      }
    }
    if (i < 0) digits.insert(digits.begin(), '1');
  }
  std::string w = digits.substr(0, digits.size() - static_cast<size_t>(decimals));
  const std::string f = digits.substr(digits.size() - static_cast<size_t>(decimals));
  while (w.size() > 1 && w[0] == '0') w.erase(0, 1);
  if (w.empty()) w = "0";
  if (style.grouping || style.localeDefaults) {
    std::string g;
    for (size_t i = 0; i < w.size(); ++i) {
      if (i > 0 && (w.size() - i) % 3 == 0) g += ',';
      g += w[i];
    }
    w = g;
  }
  if (!style.leadingZero && w == "0" && decimals > 0) w.clear();
  std::string out = w;
  if (decimals > 0) out += "." + f;
  const bool isZero = std::all_of(digits.begin(), digits.end(), [](char c) { return c == '0'; });
  if (negative && !isZero) out = "-" + out;
  return out;
}

std::string FakePlatform::GetNumberFormat(const std::string& number, const Platform::NumberStyle& style) {
  return FormatEnUs(number, style);
}

int32_t FakePlatform::CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) {
  ++comparisons;
  const bool fold = (flags & kNormIgnoreCase) != 0;
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int x = static_cast<unsigned char>(a[i]);
    int y = static_cast<unsigned char>(b[i]);
    if (fold) {
      x = std::tolower(x);
      y = std::tolower(y);
    }
    if (x != y) return x < y ? kCstrLessThan : kCstrGreaterThan;
  }
  if (a.size() == b.size()) return kCstrEqual;
  return a.size() < b.size() ? kCstrLessThan : kCstrGreaterThan;
}

}  // namespace tallowin::test
