// The interface between the sections and the operating system.
//
// Operations are named after the Windows functions they stand for and return
// plain records whose fields are exactly as wide and as signed as Windows
// defines them. Texts are UTF-8. The real implementation lives in src/win32/
// (wide functions, converted at the boundary); tests use a fake made of data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tallowin {

// ---- registry --------------------------------------------------------------

// Predefined roots, as Windows numbers them.
inline constexpr uint32_t kHKeyClassesRoot = 0x80000000u;
inline constexpr uint32_t kHKeyCurrentUser = 0x80000001u;
inline constexpr uint32_t kHKeyLocalMachine = 0x80000002u;
inline constexpr uint32_t kHKeyUsers = 0x80000003u;

// Registry value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegDwordBigEndian = 5;
inline constexpr uint32_t kRegLink = 6;
inline constexpr uint32_t kRegMultiSz = 7;
inline constexpr uint32_t kRegQword = 11;

inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeyRead = 0x20019;

// Error codes the registry operations return (0 is success).
inline constexpr int32_t kErrorSuccess = 0;
inline constexpr int32_t kErrorFileNotFound = 2;
inline constexpr int32_t kErrorMoreData = 234;
inline constexpr int32_t kErrorNoMoreItems = 259;

// Which view of the registry a key is opened in. On 64-bit Windows parts of
// HKLM\SOFTWARE exist twice; a process otherwise sees only its own bitness.
enum class RegView { Native, Bits64, Bits32 };

using RegHandle = uintptr_t;  // 0 is never a valid open key

// ---- system ----------------------------------------------------------------

// The true version (RtlGetVersion): record A and the extended fields of B.
struct OsVersionInfo {
  uint32_t dwMajorVersion = 0;
  uint32_t dwMinorVersion = 0;
  uint32_t dwBuildNumber = 0;
  uint32_t dwPlatformId = 0;
  std::string szCSDVersion;
  uint16_t wServicePackMajor = 0;
  uint16_t wServicePackMinor = 0;
  uint16_t wSuiteMask = 0;
  uint8_t wProductType = 0;
};

// GetNumberFormatEx: how a number is rendered in the user's regional format.
struct NumberStyle {
  int decimals = 0;        // exact count of decimals shown
  bool leadingZero = true; // the locale's leading zero ("0.5"), or none (".5")
  bool grouping = true;    // digit grouping of the locale, or none
  bool minusSign = false;  // a plain "-" for negatives, not the locale's form
  bool localeDefaults = false;  // every field from the locale (decimals too)
};

class Platform {
 public:
  virtual ~Platform() = default;

  // ---- registry ----
  virtual int32_t RegOpenKeyEx(uint32_t root, const std::string& path, uint32_t access,
                               RegView view, RegHandle* key) = 0;
  // With data == nullptr only the type and size are asked. Otherwise reads at
  // most *size bytes into data (resized to what was read). Texts come as the
  // stored UTF-16LE bytes.
  virtual int32_t RegQueryValueEx(RegHandle key, const std::string& name, uint32_t* type,
                                  std::vector<uint8_t>* data, uint32_t* size) = 0;
  virtual int32_t RegQueryInfoKey(RegHandle key, uint32_t* subKeys) = 0;
  // Subkey number index, its name in UTF-8. Names up to 255 characters.
  virtual int32_t RegEnumKeyEx(RegHandle key, uint32_t index, std::string* name) = 0;
  virtual void RegCloseKey(RegHandle key) = 0;

  // LoadLibrary + GetProcAddress + FreeLibrary; the library is never left loaded.
  virtual bool ApiExists(const std::string& library, const std::string& function) = 0;

  // ---- system ----
  virtual OsVersionInfo RtlGetVersion() = 0;
  virtual std::string GetWindowsDirectory() = 0;        // "" when the call fails
  virtual std::string GetSystemDirectory() = 0;
  virtual std::string GetSystemWindowsDirectory() = 0;
  virtual int32_t GetSystemMetrics(int32_t index) = 0;
  // Whether this is 64-bit Windows (so that both registry views exist).
  virtual bool Is64BitWindows() = 0;

  // ---- regional formatting ----
  // number is exact decimal text: an optional "-", digits, optionally "." and
  // digits. The result is that number in the user's regional format.
  virtual std::string GetNumberFormat(const std::string& number, const NumberStyle& style) = 0;

  // ---- the host ----
  // Lets the host process its pending messages once.
  virtual void DoEvents() = 0;

  // ---- programs, processor, memory, user interface ----

  // ---- network ----

  // ---- power, ports, printers ----

  // ---- buses, time, locale ----
  // The bus sections need nothing beyond the registry operations above.

  // SYSTEMTIME. wDayOfWeek: Sunday is 0.
  struct SystemTime {
    uint16_t wYear = 0;
    uint16_t wMonth = 0;
    uint16_t wDayOfWeek = 0;
    uint16_t wDay = 0;
    uint16_t wHour = 0;
    uint16_t wMinute = 0;
    uint16_t wSecond = 0;
    uint16_t wMilliseconds = 0;
  };
  // TIME_ZONE_INFORMATION; each name up to its first NUL (at most 32 characters).
  struct TimeZoneInformation {
    int32_t Bias = 0;
    std::string StandardName;
    SystemTime StandardDate;
    int32_t StandardBias = 0;
    std::string DaylightName;
    SystemTime DaylightDate;
    int32_t DaylightBias = 0;
  };
  static constexpr uint32_t kTimeZoneIdUnknown = 0;
  static constexpr uint32_t kTimeZoneIdStandard = 1;
  static constexpr uint32_t kTimeZoneIdDaylight = 2;
  static constexpr uint32_t kTimeZoneIdInvalid = 0xFFFFFFFFu;
  // The zone's TIME_ZONE_ID_*; on failure kTimeZoneIdInvalid and a zeroed record.
  virtual uint32_t GetTimeZoneInformation(TimeZoneInformation* info) = 0;

  // LARGE_INTEGER.
  struct LargeInteger {
    uint32_t LowPart = 0;
    int32_t HighPart = 0;
  };
  // false, with 0, when the machine has no such counter.
  virtual bool QueryPerformanceFrequency(LargeInteger* frequency) = 0;

  // GetSystemTimeAdjustment's three answers, in 100-nanosecond units.
  struct SystemTimeAdjustment {
    uint32_t TimeAdjustment = 0;
    uint32_t TimeIncrement = 0;
    bool TimeAdjustmentDisabled = false;
  };
  virtual bool GetSystemTimeAdjustment(SystemTimeAdjustment* adjustment) = 0;

  virtual SystemTime GetLocalTime() = 0;

  // GetDateFormatEx / GetTimeFormatEx in the user's locale, without a picture.
  static constexpr uint32_t kDateShortDate = 0x1;  // DATE_SHORTDATE
  static constexpr uint32_t kTimeLongTime = 0;     // the locale's time format
  // "" when the date or time is not a valid one.
  virtual std::string GetDateFormat(uint32_t flags, const SystemTime& date) = 0;
  virtual std::string GetTimeFormat(uint32_t flags, const SystemTime& time) = 0;

  virtual uint32_t GetUserDefaultLCID() = 0;
  // GetLocaleInfoEx for the user's default locale: the number of characters
  // written, NUL included, and the text in *data; 0 and "" on failure.
  virtual int32_t GetLocaleInfo(uint32_t lcType, std::string* data) = 0;

  // ---- upload ----
};

}  // namespace tallowin
