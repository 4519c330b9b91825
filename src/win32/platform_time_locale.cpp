// Regional numbers, the user's collation, time zone, counters, the clock's
// adjustment, date and time rendering and the user's locale settings.
#include "win32/win.h"

#include <string>
#include <vector>

#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

namespace {

UINT localeNumber(LCTYPE type, UINT fallback) {
  DWORD v = 0;
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&v),
                        sizeof(v) / sizeof(wchar_t)) == 0)
    return fallback;
  return v;
}

std::wstring localeText(LCTYPE type, const wchar_t* fallback) {
  wchar_t buffer[16] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 16) == 0) return fallback;
  return buffer;
}

// "3;0" gives 3, "3;2;0" gives 32, "3" (repeat not) gives 30.
UINT groupingOf(const std::wstring& text) {
  UINT g = 0;
  for (wchar_t c : text)
    if (c >= L'1' && c <= L'9') g = g * 10 + static_cast<UINT>(c - L'0');
  const bool repeats = text.size() >= 2 && text.compare(text.size() - 2, 2, L";0") == 0;
  return repeats || g == 0 ? g : g * 10;
}

}  // namespace

std::string WinPlatform::GetNumberFormat(const std::string& number, const Platform::NumberStyle& style) {
  const std::wstring value = Wide(number);
  wchar_t out[128] = {};
  if (style.localeDefaults) {
    if (::GetNumberFormatEx(LOCALE_NAME_USER_DEFAULT, 0, value.c_str(), nullptr, out, 128) > 0) return Utf8(out, wcslen(out));
    return number;
  }
  std::wstring decimal = localeText(LOCALE_SDECIMAL, L".");
  std::wstring thousand = localeText(LOCALE_STHOUSAND, L",");
  NUMBERFMTW fmt{};
  fmt.NumDigits = static_cast<UINT>(style.decimals);
  fmt.LeadingZero = style.leadingZero ? localeNumber(LOCALE_ILZERO, 1) : 0;
  fmt.Grouping = style.grouping ? groupingOf(localeText(LOCALE_SGROUPING, L"3;0")) : 0;
  fmt.lpDecimalSep = decimal.data();
  fmt.lpThousandSep = thousand.data();
  fmt.NegativeOrder = style.minusSign ? 1 : localeNumber(LOCALE_INEGNUMBER, 1);
  if (::GetNumberFormatEx(LOCALE_NAME_USER_DEFAULT, 0, value.c_str(), &fmt, out, 128) > 0) return Utf8(out, wcslen(out));
  return number;
}

int32_t WinPlatform::CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) {
  const std::wstring wa = Wide(a);
  const std::wstring wb = Wide(b);
  return ::CompareStringEx(LOCALE_NAME_USER_DEFAULT, flags, wa.c_str(), static_cast<int>(wa.size()), wb.c_str(),
                           static_cast<int>(wb.size()), nullptr, nullptr, 0);
}

namespace {

Platform::SystemTime fromWindows(const SYSTEMTIME& t) {
  return {t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

SYSTEMTIME toWindows(const Platform::SystemTime& t) {
  SYSTEMTIME s{};
  s.wYear = t.wYear;
  s.wMonth = t.wMonth;
  s.wDayOfWeek = t.wDayOfWeek;
  s.wDay = t.wDay;
  s.wHour = t.wHour;
  s.wMinute = t.wMinute;
  s.wSecond = t.wSecond;
  s.wMilliseconds = t.wMilliseconds;
  return s;
}

// A zone name fills its 32 characters without a NUL when it is that long.
std::string zoneName(const WCHAR (&name)[32]) { return Utf8(name, wcsnlen(name, 32)); }

// Asks for the size, then for the text: no answer is ever cut short.
template <typename Call>
std::string sized(Call call) {
  const int n = call(nullptr, 0);
  if (n <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1, L'\0');
  const int written = call(buffer.data(), n);
  if (written <= 0) return {};
  return Utf8(buffer.data(), wcsnlen(buffer.data(), static_cast<size_t>(written)));
}

}  // namespace

uint32_t WinPlatform::GetTimeZoneInformation(TimeZoneInformation* info) {
  TIME_ZONE_INFORMATION tz{};
  const DWORD id = ::GetTimeZoneInformation(&tz);
  if (id == TIME_ZONE_ID_INVALID) {
    *info = {};
    return kTimeZoneIdInvalid;
  }
  info->Bias = tz.Bias;
  info->StandardName = zoneName(tz.StandardName);
  info->StandardDate = fromWindows(tz.StandardDate);
  info->StandardBias = tz.StandardBias;
  info->DaylightName = zoneName(tz.DaylightName);
  info->DaylightDate = fromWindows(tz.DaylightDate);
  info->DaylightBias = tz.DaylightBias;
  return id;
}

bool WinPlatform::QueryPerformanceFrequency(LargeInteger* frequency) {
  LARGE_INTEGER f{};
  const bool ok = ::QueryPerformanceFrequency(&f) != FALSE;
  frequency->LowPart = ok ? f.LowPart : 0;
  frequency->HighPart = ok ? f.HighPart : 0;
  return ok;
}

bool WinPlatform::GetSystemTimeAdjustment(SystemTimeAdjustment* adjustment) {
  DWORD adj = 0;
  DWORD increment = 0;
  BOOL disabled = FALSE;
  if (!::GetSystemTimeAdjustment(&adj, &increment, &disabled)) return false;
  adjustment->TimeAdjustment = adj;
  adjustment->TimeIncrement = increment;
  adjustment->TimeAdjustmentDisabled = disabled != FALSE;
  return true;
}

Platform::SystemTime WinPlatform::GetLocalTime() {
  SYSTEMTIME t{};
  ::GetLocalTime(&t);
  return fromWindows(t);
}

std::string WinPlatform::GetDateFormat(uint32_t flags, const SystemTime& date) {
  const SYSTEMTIME st = toWindows(date);
  return sized([&](wchar_t* out, int size) {
    return ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, flags, &st, nullptr, out, size, nullptr);
  });
}

std::string WinPlatform::GetTimeFormat(uint32_t flags, const SystemTime& time) {
  // Only the time of day is shown; a fixed valid date keeps the call from
  // judging date fields that a pure time leaves empty.
  SYSTEMTIME st{};
  st.wYear = 2000;
  st.wMonth = 1;
  st.wDay = 1;
  st.wDayOfWeek = 6;
  st.wHour = time.wHour;
  st.wMinute = time.wMinute;
  st.wSecond = time.wSecond;
  return sized([&](wchar_t* out, int size) {
    return ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, flags, &st, nullptr, out, size);
  });
}

uint32_t WinPlatform::GetUserDefaultLCID() { return ::GetUserDefaultLCID(); }

int32_t WinPlatform::GetLocaleInfo(uint32_t lcType, std::string* data) {
  data->clear();
  const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, lcType, nullptr, 0);
  if (n <= 0) return 0;
  std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1, L'\0');
  const int written = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, lcType, buffer.data(), n);
  if (written <= 0) return 0;
  *data = Utf8(buffer.data(), wcsnlen(buffer.data(), static_cast<size_t>(written)));
  return written;
}

}  // namespace tallowin::win32
