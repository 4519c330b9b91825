// A platform made of data, for the native tests: set the answer, run the
// section, compare the lines.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace tallowin::test {

class FakePlatform : public Platform {
 public:
  // ---- registry ----
  struct Value {
    uint32_t type = kRegSz;
    std::vector<uint8_t> bytes;
  };
  struct Key {
    std::vector<std::string> subKeys;                  // enumeration order
    std::vector<std::pair<std::string, Value>> values;  // names compared ignoring case
  };
  // A key (and its parents) in a view; Native is the 64-bit view here.
  Key& addKey(const std::string& path, RegView view = RegView::Native, uint32_t root = kHKeyLocalMachine);
  void setValue(const std::string& path, const std::string& name, uint32_t type, std::vector<uint8_t> bytes,
                RegView view = RegView::Native, uint32_t root = kHKeyLocalMachine);
  // REG_SZ stored as Windows stores it: UTF-16LE with its terminating NUL.
  void setString(const std::string& path, const std::string& name, const std::string& utf8,
                 RegView view = RegView::Native, uint32_t type = kRegSz);
  void setDword(const std::string& path, const std::string& name, uint32_t value, RegView view = RegView::Native);
  static std::vector<uint8_t> Utf16Bytes(const std::string& utf8, bool withNul = true);
  int openKeys() const { return openKeys_; }
  int32_t RegOpenKeyEx(uint32_t root, const std::string& path, uint32_t access, RegView view,
                       RegHandle* key) override;
  int32_t RegQueryValueEx(RegHandle key, const std::string& name, uint32_t* type, std::vector<uint8_t>* data,
                          uint32_t* size) override;
  int32_t RegQueryInfoKey(RegHandle key, uint32_t* subKeys) override;
  int32_t RegEnumKeyEx(RegHandle key, uint32_t index, std::string* name) override;
  void RegCloseKey(RegHandle key) override;

  // ---- system information ----
  bool is64BitWindows = true;
  std::set<std::string> exports;  // "library!function"; library in lower case

  OsVersionInfo version;
  std::string windowsDirectory = "C:\\windows";
  std::string systemDirectory = "C:\\windows\\system32";
  std::string systemWindowsDirectory = "C:\\windows";
  std::map<int32_t, int32_t> metrics;

  OsVersionInfo RtlGetVersion() override { return version; }
  std::string GetWindowsDirectory() override { return windowsDirectory; }
  std::string GetSystemDirectory() override { return systemDirectory; }
  std::string GetSystemWindowsDirectory() override { return systemWindowsDirectory; }
  int32_t GetSystemMetrics(int32_t index) override;
  bool Is64BitWindows() override { return is64BitWindows; }
  bool ApiExists(const std::string& library, const std::string& function) override;

  SystemInfo systemInfo;
  std::set<uint32_t> processorFeatures;  // the features present
  MemoryStatusEx memoryStatus;
  bool memoryStatusFails = false;
  int32_t keyboardType[3] = {4, 0, 12};  // type, subtype, function keys
  std::vector<int32_t> keyboardTypeAsked;
  std::string keyboardLayoutName = "00000409";
  DisplayDeviceCaps displayCaps{true, 32, 96, 96};
  int displayCapsCalls = 0;
  SystemInfo GetNativeSystemInfo() override { return systemInfo; }
  int32_t IsProcessorFeaturePresent(uint32_t feature) override { return processorFeatures.count(feature) ? 1 : 0; }
  bool GlobalMemoryStatusEx(MemoryStatusEx* status) override;
  int32_t GetKeyboardType(int32_t typeFlag) override;
  std::string GetKeyboardLayoutName() override { return keyboardLayoutName; }
  DisplayDeviceCaps GetDisplayDeviceCaps() override {
    ++displayCapsCalls;
    return displayCaps;
  }

  SystemPowerStatus powerStatus;
  int powerStatusCalls = 0;
  HwProfileInfo hwProfile;
  int hwProfileCalls = 0;
  std::vector<PortInfo2> ports;

  SystemPowerStatus GetSystemPowerStatus() override {
    ++powerStatusCalls;
    return powerStatus;
  }
  HwProfileInfo GetCurrentHwProfile() override {
    ++hwProfileCalls;
    return hwProfile;
  }
  std::vector<PortInfo2> EnumPorts() override { return ports; }

  // ---- locale and time: English (United States) ----
  int comparisons = 0;

  std::string GetNumberFormat(const std::string& number, const NumberStyle& style) override;
  // Case-insensitive for ASCII letters, then by code units; ordinal without
  // kNormIgnoreCase.
  int32_t CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) override;

  uint32_t timeZoneId = kTimeZoneIdUnknown;
  TimeZoneInformation timeZone;
  LargeInteger performanceFrequency{3579545, 0};
  bool hasPerformanceCounter = true;
  SystemTimeAdjustment timeAdjustment{156250, 156250, false};
  bool timeAdjustmentFails = false;
  SystemTime localTime{2024, 7, 1, 15, 14, 30, 0, 0};  // Monday, 15 July 2024
  uint32_t userLcid = 0x409;
  // Answers by LCTYPE; a type that is missing fails. English (United States).
  std::map<uint32_t, std::string> localeInfo = EnUsLocaleInfo();
  std::vector<uint32_t> localeQueries;  // every LCTYPE asked, in order
  static std::map<uint32_t, std::string> EnUsLocaleInfo();

  uint32_t GetTimeZoneInformation(TimeZoneInformation* info) override;
  bool QueryPerformanceFrequency(LargeInteger* frequency) override;
  bool GetSystemTimeAdjustment(SystemTimeAdjustment* adjustment) override;
  SystemTime GetLocalTime() override { return localTime; }
  // en-US: M/d/yyyy and h:mm:ss AM/PM.
  std::string GetDateFormat(uint32_t flags, const SystemTime& date) override;
  std::string GetTimeFormat(uint32_t flags, const SystemTime& time) override;
  uint32_t GetUserDefaultLCID() override { return userLcid; }
  int32_t GetLocaleInfo(uint32_t lcType, std::string* data) override;

  // ---- network ----
  std::string computerName;
  std::string userName;
  int32_t wsaStartupResult = 0;
  WsaData wsaData;                      // what a successful start-up reports
  std::vector<uint16_t> wsaRequests;    // the versions asked for
  int wsaCleanups = 0;
  int32_t gethostnameResult = 0;
  std::string hostName;
  std::map<std::string, HostEnt> hosts;  // what gethostbyname resolves
  std::vector<std::string> resolved;    // the names asked for
  uint32_t ipAddrTableResult = 0;
  std::vector<MibIpAddrRow> ipAddrTable;
  uint32_t ifTableResult = 0;
  std::vector<IfRow> ifTable;
  uint32_t ifTable2Result = kErrorNotSupported;
  std::vector<IfRow> ifTable2;
  // Netbios: every call as made; the adapter status answer.
  struct NetbiosCall {
    uint8_t command;
    uint8_t lana;
    std::string callname;
    size_t length;
  };
  std::vector<NetbiosCall> netbiosCalls;
  uint8_t netbiosStatusResult = kNrcGoodRet;
  std::vector<uint8_t> adapterStatus;  // copied to the start of the caller's buffer

  std::string GetComputerName() override { return computerName; }
  std::string GetUserName() override { return userName; }
  int32_t WSAStartup(uint16_t versionRequested, WsaData* data) override;
  int32_t WSACleanup() override {
    ++wsaCleanups;
    return 0;
  }
  int32_t gethostname(std::string* name) override;
  bool gethostbyname(const std::string& name, HostEnt* entry) override;
  uint32_t GetIpAddrTable(std::vector<MibIpAddrRow>* rows) override;
  uint32_t GetIfTable(std::vector<IfRow>* rows) override;
  uint32_t GetIfTable2(std::vector<IfRow>* rows) override;
  uint8_t Netbios(Ncb& ncb) override;

  // ---- printing ----
  // A printer as the spooler lists it, with what the later reads give.
  struct FakePrinter {
    PrinterInfo2 info;
    int32_t documentPropertiesError = 0;
    PrinterDevMode defaults;  // DocumentProperties' answer
    int32_t capabilitiesError = 0;
    std::vector<PrinterPaper> papers;
  };
  std::vector<FakePrinter> printers;
  uint32_t enumPrintersFlags = 0;  // what the last EnumPrinters asked for
  std::vector<std::string> printerCalls;  // "DocumentProperties NAME", "DeviceCapabilities NAME PORT"

  std::vector<PrinterInfo2> EnumPrinters(uint32_t flags) override;
  int32_t DocumentProperties(const std::string& printerName, PrinterDevMode* devMode) override;
  int32_t DeviceCapabilities(const std::string& printerName, const std::string& portName,
                             std::vector<PrinterPaper>* papers) override;

  // ---- processes, files and the host's messages ----
  std::map<int32_t, std::string> messages;  // FormatMessage texts
  std::set<std::string> startable;          // command lines CreateProcess starts
  std::vector<std::string> startAttempts;   // every command line it was given
  std::map<std::string, int64_t> fileSizes; // paths compared ignoring case

  std::string FormatMessage(int32_t code) override;
  bool CreateProcess(const std::string& commandLine) override;
  int64_t GetFileSize(const std::string& path) override;

  int yields = 0;
  std::function<void()> onYield;
  void DoEvents() override {
    ++yields;
    if (onYield) onYield();
  }

 private:
  std::map<std::string, Key>& tree(RegView view, uint32_t root);
  struct Open {
    std::map<std::string, Key>* tree;
    std::string path;
  };
  std::map<RegHandle, Open> open_;
  RegHandle nextHandle_ = 1;
  int openKeys_ = 0;
  std::map<std::string, Key> trees_[2][4];
};

// en-US rendering of exact decimal text, rounded half up; shared by the fake
// and the tests of the formatter.
std::string FormatEnUs(const std::string& number, const Platform::NumberStyle& style);

}  // namespace tallowin::test
