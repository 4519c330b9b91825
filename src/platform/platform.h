// The interface between the sections and the operating system.
//
// Operations are named after the Windows functions they stand for and return
// plain records whose fields are exactly as wide and as signed as Windows
// defines them. Texts are UTF-8. The real implementation lives in src/win32/
// (wide functions, converted at the boundary); tests use a fake made of data.
#pragma once

#include <cstdint>
#include <optional>
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

class Platform {
 public:
  virtual ~Platform() = default;

  // ---- registry (the roots, types and codes are above the class) ----
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

  // ---- system information: version, directories, hardware, power, ports ----
  // LoadLibrary + GetProcAddress + FreeLibrary; the library is never left loaded.
  virtual bool ApiExists(const std::string& library, const std::string& function) = 0;

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

  virtual OsVersionInfo RtlGetVersion() = 0;
  virtual std::string GetWindowsDirectory() = 0;        // "" when the call fails
  virtual std::string GetSystemDirectory() = 0;
  virtual std::string GetSystemWindowsDirectory() = 0;
  virtual int32_t GetSystemMetrics(int32_t index) = 0;
  // Whether this is 64-bit Windows (so that both registry views exist).
  virtual bool Is64BitWindows() = 0;

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

  // ---- locale and time ----
  // GetNumberFormatEx: how a number is rendered in the user's regional format.
  struct NumberStyle {
    int decimals = 0;        // exact count of decimals shown
    bool leadingZero = true; // the locale's leading zero ("0.5"), or none (".5")
    bool grouping = true;    // digit grouping of the locale, or none
    bool minusSign = false;  // a plain "-" for negatives, not the locale's form
    bool localeDefaults = false;  // every field from the locale (decimals too)
  };

  // number is exact decimal text: an optional "-", digits, optionally "." and
  // digits. The result is that number in the user's regional format.
  virtual std::string GetNumberFormat(const std::string& number, const NumberStyle& style) = 0;

  // CompareStringEx under the user's default locale. Returns kCstrLessThan,
  // kCstrEqual or kCstrGreaterThan, or 0 when the comparison fails.
  static constexpr uint32_t kNormIgnoreCase = 0x00000001;
  static constexpr int32_t kCstrLessThan = 1;
  static constexpr int32_t kCstrEqual = 2;
  static constexpr int32_t kCstrGreaterThan = 3;
  virtual int32_t CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) = 0;

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

  // ---- network ----

  // WSAStartup's WSADATA: the fields the network section reads.
  struct WsaData {
    uint16_t wVersion = 0;
    uint16_t wHighVersion = 0;
    std::string szDescription;  // as stored, up to its first NUL
    std::string szSystemStatus;
  };

  // gethostbyname's HOSTENT, copied out of the resolver's storage.
  struct HostEnt {
    std::string h_name;
    std::vector<std::vector<uint8_t>> h_addr_list;  // each h_length bytes, resolver order
  };

  // One MIB_IPADDRROW: an IPv4 address as stored (network byte order) and
  // the index of the interface it belongs to.
  struct MibIpAddrRow {
    uint32_t dwAddr = 0;
    uint32_t dwIndex = 0;
  };

  // One interface, from GetIfTable2 (MIB_IF_ROW2) or GetIfTable (MIB_IFROW).
  // The fields are the 64-bit table's widths; a MIB_IFROW's fit without loss.
  // Both tables number the admin states alike (1 up, 2 down, 3 testing).
  struct IfRow {
    bool hasDescr = false;  // a MIB_IFROW with dwDescrLen 0 has none
    std::string descr;
    uint32_t dwIndex = 0;
    uint32_t dwType = 0;  // IFTYPE
    uint32_t dwMtu = 0;
    uint64_t speed = 0;  // bits per second: TransmitLinkSpeed, or dwSpeed
    uint32_t dwAdminStatus = 0;
    // The operational state as its table numbers it: IF_OPER_STATUS in the
    // 64-bit table (1 up), INTERNAL_IF_OPER_STATUS in MIB_IFROW (5
    // operational; there 1 means not operational).
    uint32_t operStatus = 0;
    bool fromIfTable2 = false;
    // InterfaceAndOperStatusFlags.HardwareInterface; MIB_IFROW has no such
    // flag, so a row from GetIfTable leaves it unknown.
    std::optional<bool> hardwareInterface;
    std::vector<uint8_t> physAddr;
    uint64_t inUcastPkts = 0;
    uint64_t inNUcastPkts = 0;
    uint64_t inErrors = 0;
    uint64_t outUcastPkts = 0;
    uint64_t outNUcastPkts = 0;
    uint64_t outErrors = 0;
  };

  // How many bytes of a MIB_IFROW's bDescr are its text: up to dwDescrLen
  // or the first NUL, whichever comes first. Implementations differ on
  // whether dwDescrLen counts the terminating NUL, so cutting one byte off
  // blindly loses the last character on some of them.
  static size_t IfDescrLength(const uint8_t* bDescr, size_t capacity, uint32_t dwDescrLen) {
    const size_t limit = dwDescrLen < capacity ? dwDescrLen : capacity;
    size_t n = 0;
    while (n < limit && bDescr[n] != 0) ++n;
    return n;
  }

  // Netbios's NCB: the fields a caller sets; every other field is 0.
  struct Ncb {
    uint8_t ncb_command = 0;
    uint8_t ncb_lana_num = 0;
    std::string ncb_callname;                    // up to 16 bytes
    std::vector<uint8_t>* ncb_buffer = nullptr;  // ncb_length is its size
  };
  static constexpr uint8_t kNcbReset = 0x32;
  static constexpr uint8_t kNcbAdapterStatus = 0x33;
  static constexpr uint8_t kNrcGoodRet = 0x00;
  static constexpr uint8_t kNrcIncomplete = 0x06;  // the buffer held part of the answer

  // Error codes of the IP helper functions (0 is success).
  static constexpr uint32_t kErrorNotSupported = 50;

  // The NetBIOS name (wide GetComputerName); "" when the call fails.
  virtual std::string GetComputerName() = 0;
  // The logged-on user (wide GetUserName); "" when the call fails.
  virtual std::string GetUserName() = 0;
  // 0 on success (a WSACleanup is then owed), else the error code.
  virtual int32_t WSAStartup(uint16_t versionRequested, WsaData* data) = 0;
  virtual int32_t WSACleanup() = 0;
  // 0 on success, with the name up to its first NUL.
  virtual int32_t gethostname(std::string* name) = 0;
  // false when gethostbyname returns no entry.
  virtual bool gethostbyname(const std::string& name, HostEnt* entry) = 0;
  // Rows in the order the system keeps them (unsorted); a Windows error code.
  virtual uint32_t GetIpAddrTable(std::vector<MibIpAddrRow>* rows) = 0;
  // The 32-bit interface table, rows in ascending interface index.
  virtual uint32_t GetIfTable(std::vector<IfRow>* rows) = 0;
  // The 64-bit interface table; kErrorNotSupported where the system has none.
  virtual uint32_t GetIfTable2(std::vector<IfRow>* rows) = 0;
  // Returns the call's NRC code.
  virtual uint8_t Netbios(Ncb& ncb) = 0;

  // ---- printing ----
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

  // ---- processes, files and the host's messages ----
  // FormatMessageW from the system's table, without the trailing line break;
  // "" for a code the system has no text for.
  virtual std::string FormatMessage(int32_t code) = 0;

  // CreateProcessW with a normal, focused window; true when it started. The
  // process and thread handles are closed at once.
  virtual bool CreateProcess(const std::string& commandLine) = 0;
  // The size of a file in bytes; -1 when it is missing or cannot be read.
  virtual int64_t GetFileSize(const std::string& path) = 0;

  // Lets the host process its pending messages once.
  virtual void DoEvents() = 0;
};

}  // namespace tallowin
