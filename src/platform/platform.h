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

  // GetSystemPowerStatus. BatteryLifeTime and BatteryFullLifeTime are
  // 0xFFFFFFFF when the system does not report them.
  struct SystemPowerStatus {
    uint8_t ACLineStatus = 255;
    uint8_t BatteryFlag = 255;
    uint8_t BatteryLifePercent = 255;
    uint32_t BatteryLifeTime = 0xFFFFFFFFu;
    uint32_t BatteryFullLifeTime = 0xFFFFFFFFu;
  };
  // The result of the call is not reported: the record comes as the system
  // filled it (the defaults above when it filled nothing).
  virtual SystemPowerStatus GetSystemPowerStatus() = 0;

  // GetCurrentHwProfileW. szHwProfileName is the whole fixed-width field,
  // NULs and blanks included; a failed call leaves the record zero-filled.
  struct HwProfileInfo {
    uint32_t dwDockInfo = 0;
    std::string szHwProfileGuid;
    std::string szHwProfileName;
  };
  virtual HwProfileInfo GetCurrentHwProfile() = 0;

  // EnumPortsW on the local machine, level 2, in the spooler's order. Empty
  // when the spooler reports none or the enumeration fails. A null string
  // pointer gives "".
  struct PortInfo2 {
    std::string pPortName;
    std::string pMonitorName;
    std::string pDescription;
    uint32_t fPortType = 0;
  };
  virtual std::vector<PortInfo2> EnumPorts() = 0;

  // The DEVMODE fields the printers section decodes. dmFields says which of
  // them the driver filled in (the DM_* bits below).
  struct PrinterDevMode {
    uint32_t dmFields = 0;
    int16_t dmOrientation = 0;
    int16_t dmPaperSize = 0;
    int16_t dmPaperLength = 0;  // tenths of a millimetre
    int16_t dmPaperWidth = 0;
    int16_t dmDefaultSource = 0;
    int16_t dmPrintQuality = 0;
    int16_t dmColor = 0;
    int16_t dmDuplex = 0;
  };
  static constexpr uint32_t kDmOrientation = 0x00000001;
  static constexpr uint32_t kDmPaperSize = 0x00000002;
  static constexpr uint32_t kDmPaperLength = 0x00000004;
  static constexpr uint32_t kDmPaperWidth = 0x00000008;
  static constexpr uint32_t kDmDefaultSource = 0x00000200;
  static constexpr uint32_t kDmPrintQuality = 0x00000400;
  static constexpr uint32_t kDmColor = 0x00000800;
  static constexpr uint32_t kDmDuplex = 0x00001000;

  // EnumPrintersW level 2. hasDevMode is false when the spooler gave no
  // DEVMODE with the printer (pDevMode null).
  struct PrinterInfo2 {
    std::string pPrinterName;
    std::string pPortName;
    std::string pDriverName;
    uint32_t Attributes = 0;
    uint32_t Status = 0;
    bool hasDevMode = false;
    PrinterDevMode devMode;
  };
  static constexpr uint32_t kPrinterEnumLocal = 0x00000002;
  static constexpr uint32_t kPrinterEnumConnections = 0x00000004;
  // Empty when there are none or the spooler cannot be asked.
  virtual std::vector<PrinterInfo2> EnumPrinters(uint32_t flags) = 0;

  // OpenPrinterW + DocumentPropertiesW (DM_OUT_BUFFER): the printer's default
  // settings. 0, or the system's error code of the step that failed.
  virtual int32_t DocumentProperties(const std::string& printerName, PrinterDevMode* devMode) = 0;

  // DeviceCapabilitiesW DC_PAPERS and DC_PAPERSIZE: every paper the printer
  // knows and its sheet in portrait, in tenths of a millimetre. 0, or the
  // system's error code.
  struct PrinterPaper {
    int16_t code = 0;
    int32_t x = 0;  // width
    int32_t y = 0;  // length
  };
  virtual int32_t DeviceCapabilities(const std::string& printerName, const std::string& portName,
                                     std::vector<PrinterPaper>* papers) = 0;

  // FormatMessageW from the system's table, without the trailing line break;
  // "" for a code the system has no text for.
  virtual std::string FormatMessage(int32_t code) = 0;

  // CreateProcessW with a normal, focused window; true when it started. The
  // process and thread handles are closed at once.
  virtual bool CreateProcess(const std::string& commandLine) = 0;
  // The size of a file in bytes; -1 when it is missing or cannot be read.
  virtual int64_t GetFileSize(const std::string& path) = 0;

  // ---- buses, time, locale ----

  // ---- upload ----
};

}  // namespace tallowin
