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

  // GetNativeSystemInfo: the machine's own processor, also under WOW64. The
  // 16-bit fields are WORDs; the addresses are whole pointers.
  struct SystemInfo {
    uint16_t wProcessorArchitecture = 0;
    uint16_t wProcessorLevel = 0;
    uint16_t wProcessorRevision = 0;
    uint32_t dwPageSize = 0;
    uint64_t lpMinimumApplicationAddress = 0;
    uint64_t lpMaximumApplicationAddress = 0;
    uint32_t dwNumberOfProcessors = 0;
    uint32_t dwAllocationGranularity = 0;
  };
  virtual SystemInfo GetNativeSystemInfo() = 0;
  virtual int32_t IsProcessorFeaturePresent(uint32_t feature) = 0;  // nonzero: present

  // GlobalMemoryStatusEx: 64-bit counts, so that memory above 4 GB is counted.
  struct MemoryStatusEx {
    uint32_t dwMemoryLoad = 0;
    uint64_t ullTotalPhys = 0;
    uint64_t ullAvailPhys = 0;
    uint64_t ullTotalPageFile = 0;
    uint64_t ullAvailPageFile = 0;
    uint64_t ullTotalVirtual = 0;
    uint64_t ullAvailVirtual = 0;
  };
  // false, and the record untouched, when the call fails.
  virtual bool GlobalMemoryStatusEx(MemoryStatusEx* status) = 0;

  virtual int32_t GetKeyboardType(int32_t typeFlag) = 0;
  // The active input locale's layout name (a KL_NAMELENGTH buffer up to its
  // first NUL); "" when the call fails.
  virtual std::string GetKeyboardLayoutName() = 0;

  // CreateIC on "DISPLAY", three GetDeviceCaps answers, DeleteDC: one
  // operation, so the context never outlives it. All 0 without a context.
  struct DisplayDeviceCaps {
    bool created = false;
    int32_t bitsPixel = 0;   // BITSPIXEL
    int32_t logPixelsX = 0;  // LOGPIXELSX
    int32_t logPixelsY = 0;  // LOGPIXELSY
  };
  virtual DisplayDeviceCaps GetDisplayDeviceCaps() = 0;

  // CompareStringEx under the user's default locale. Returns kCstrLessThan,
  // kCstrEqual or kCstrGreaterThan, or 0 when the comparison fails.
  static constexpr uint32_t kNormIgnoreCase = 0x00000001;
  static constexpr int32_t kCstrLessThan = 1;
  static constexpr int32_t kCstrEqual = 2;
  static constexpr int32_t kCstrGreaterThan = 3;
  virtual int32_t CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) = 0;

  // ---- network ----

  // ---- power, ports, printers ----

  // ---- buses, time, locale ----

  // ---- upload ----
};

}  // namespace tallowin
