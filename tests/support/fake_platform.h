// A platform made of data, for the native tests and the fuzzers: set the
// answer, run the section, compare the lines.
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
  // ---- registry: a tree per view and root (tests write HKLM); value names ignore case ----
  struct Value {
    uint32_t type = kRegSz;
    std::vector<uint8_t> bytes;
  };
  struct Key {
    std::vector<std::string> subKeys;  // enumeration order
    std::vector<std::pair<std::string, Value>> values;
  };
  // A key (and its parents) in a view; Native is the 64-bit view here.
  Key& addKey(const std::string& path, RegView view = RegView::Native);
  void setValue(const std::string& path, const std::string& name, uint32_t type, std::vector<uint8_t> bytes,
                RegView view = RegView::Native);
  // REG_SZ as Windows stores it: UTF-16LE with its NUL.
  void setString(const std::string& path, const std::string& name, const std::string& utf8, RegView view = RegView::Native) {
    setValue(path, name, kRegSz, Utf16Bytes(utf8), view);
  }
  void setDword(const std::string& path, const std::string& name, uint32_t v, RegView view = RegView::Native) {
    setValue(path, name, kRegDword, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}, view);
  }
  static std::vector<uint8_t> Utf16Bytes(const std::string& utf8, bool withNul = true);
  int openKeys() const { return static_cast<int>(open_.size()); }
  int32_t RegOpenKeyEx(uint32_t root, const std::string& path, uint32_t access, RegView view,
                       RegHandle* key) override;
  int32_t RegQueryValueEx(RegHandle key, const std::string& name, uint32_t* type, std::vector<uint8_t>* data,
                          uint32_t* size) override;
  int32_t RegQueryInfoKey(RegHandle key, uint32_t* subKeys) override;
  int32_t RegEnumKeyEx(RegHandle key, uint32_t index, std::string* name) override;
  void RegCloseKey(RegHandle key) override { open_.erase(key); }

  // ---- system information ----
  bool is64BitWindows = true;
  std::set<std::string> exports;  // "library!function"; library in lower case
  OsVersionInfo version;
  std::string windowsDirectory = "C:\\windows";
  std::string systemDirectory = "C:\\windows\\system32";
  std::map<int32_t, int32_t> metrics;
  SystemInfo systemInfo;
  std::set<uint32_t> processorFeatures;  // the features present
  MemoryStatusEx memoryStatus;
  bool memoryStatusFails = false;
  int32_t keyboardType[3] = {4, 0, 12};  // type, subtype, function keys
  std::string keyboardLayoutName = "00000409";
  DisplayDeviceCaps displayCaps{true, 32, 96, 96};
  SystemPowerStatus powerStatus;
  HwProfileInfo hwProfile;
  std::vector<PortInfo2> ports;

  OsVersionInfo RtlGetVersion() override { return version; }
  std::string GetWindowsDirectory() override { return windowsDirectory; }
  std::string GetSystemDirectory() override { return systemDirectory; }
  std::string GetSystemWindowsDirectory() override { return "C:\\windows"; }
  int32_t GetSystemMetrics(int32_t index) override { return metrics.count(index) ? metrics[index] : 0; }
  bool Is64BitWindows() override { return is64BitWindows; }
  bool ApiExists(const std::string& library, const std::string& function) override;
  SystemInfo GetNativeSystemInfo() override { return systemInfo; }
  int32_t IsProcessorFeaturePresent(uint32_t feature) override { return processorFeatures.count(feature) ? 1 : 0; }
  bool GlobalMemoryStatusEx(MemoryStatusEx* status) override { return !answer(memoryStatusFails, memoryStatus, status); }
  int32_t GetKeyboardType(int32_t flag) override { return flag >= 0 && flag <= 2 ? keyboardType[flag] : 0; }
  std::string GetKeyboardLayoutName() override { return keyboardLayoutName; }
  DisplayDeviceCaps GetDisplayDeviceCaps() override { return displayCaps; }
  SystemPowerStatus GetSystemPowerStatus() override { return powerStatus; }
  HwProfileInfo GetCurrentHwProfile() override { return hwProfile; }
  std::vector<PortInfo2> EnumPorts() override { return ports; }

  // ---- locale and time: English (United States) ----
  int comparisons = 0;
  uint32_t timeZoneId = kTimeZoneIdUnknown;
  TimeZoneInformation timeZone;
  LargeInteger performanceFrequency{3579545, 0};
  SystemTimeAdjustment timeAdjustment{156250, 156250, false};
  bool timeAdjustmentFails = false;
  SystemTime localTime{2024, 7, 1, 15, 14, 30, 0, 0};  // Monday, 15 July 2024
  uint32_t userLcid = 0x409;
  // Answers by LCTYPE; a type that is missing fails.
  std::map<uint32_t, std::string> localeInfo = EnUsLocaleInfo();
  static std::map<uint32_t, std::string> EnUsLocaleInfo();

  std::string GetNumberFormat(const std::string& number, const NumberStyle& style) override;
  // ASCII letters folded with kNormIgnoreCase, then by bytes.
  int32_t CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) override;
  uint32_t GetTimeZoneInformation(TimeZoneInformation* info) override {
    *info = timeZoneId == kTimeZoneIdInvalid ? TimeZoneInformation{} : timeZone;
    return timeZoneId;
  }
  bool QueryPerformanceFrequency(LargeInteger* frequency) override { return *frequency = performanceFrequency, true; }
  bool GetSystemTimeAdjustment(SystemTimeAdjustment* adjustment) override {
    return !answer(timeAdjustmentFails, timeAdjustment, adjustment);
  }
  SystemTime GetLocalTime() override { return localTime; }
  // en-US: M/d/yyyy and h:mm:ss AM/PM.
  std::string GetDateFormat(uint32_t flags, const SystemTime& date) override;
  std::string GetTimeFormat(uint32_t flags, const SystemTime& time) override;
  uint32_t GetUserDefaultLCID() override { return userLcid; }
  int32_t GetLocaleInfo(uint32_t lcType, std::string* data) override;

  // ---- network ----
  std::string computerName, userName;
  int32_t wsaStartupResult = 0;
  WsaData wsaData;  // what a successful start-up reports
  int wsaCleanups = 0;
  int32_t gethostnameResult = 0;
  std::string hostName;
  std::map<std::string, HostEnt> hosts;  // what gethostbyname resolves
  uint32_t ipAddrTableResult = 0;
  std::vector<MibIpAddrRow> ipAddrTable;
  uint32_t ifTableResult = 0;
  std::vector<IfRow> ifTable;
  uint32_t ifTable2Result = kErrorNotSupported;
  std::vector<IfRow> ifTable2;
  std::vector<std::string> netbiosCalls;  // "command lana callname buffer-size"
  uint8_t netbiosStatusResult = kNrcGoodRet;
  std::vector<uint8_t> adapterStatus;  // copied to the start of the caller's buffer

  std::string GetComputerName() override { return computerName; }
  std::string GetUserName() override { return userName; }
  int32_t WSAStartup(uint16_t, WsaData* data) override { return answer(wsaStartupResult, wsaData, data); }
  int32_t WSACleanup() override { return ++wsaCleanups, 0; }
  int32_t gethostname(std::string* name) override { return answer(gethostnameResult, hostName, name); }
  bool gethostbyname(const std::string& name, HostEnt* entry) override {
    if (!hosts.count(name)) return false;
    *entry = hosts[name];
    return true;
  }
  uint32_t GetIpAddrTable(std::vector<MibIpAddrRow>* rows) override { return answer(ipAddrTableResult, ipAddrTable, rows); }
  uint32_t GetIfTable(std::vector<IfRow>* rows) override { return answer(ifTableResult, ifTable, rows); }
  uint32_t GetIfTable2(std::vector<IfRow>* rows) override;
  uint8_t Netbios(Ncb& ncb) override;

  // ---- printing: a printer as the spooler lists it, and what later reads give ----
  struct FakePrinter {
    PrinterInfo2 info;
    int32_t documentPropertiesError = 0;
    PrinterDevMode defaults;  // DocumentProperties' answer
    int32_t capabilitiesError = 0;
    std::vector<PrinterPaper> papers;
  };
  std::vector<FakePrinter> printers;
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

  std::string FormatMessage(int32_t code) override { return messages.count(code) ? messages[code] : ""; }
  bool CreateProcess(const std::string& commandLine) override {
    startAttempts.push_back(commandLine);
    return startable.count(commandLine) > 0;
  }
  int64_t GetFileSize(const std::string& path) override;

  int yields = 0;
  std::function<void()> onYield;
  void DoEvents() override {
    ++yields;
    if (onYield) onYield();
  }

 private:
  // The result, and the value given only when the result is zero (success, or "did not fail").
  template <typename Result, typename T>
  static Result answer(Result result, const T& value, T* out) {
    if (result == Result{}) *out = value;
    return result;
  }
  std::map<std::string, Key>& tree(RegView view, uint32_t root);
  std::map<RegHandle, std::pair<std::map<std::string, Key>*, std::string>> open_;
  RegHandle nextHandle_ = 1;
  std::map<std::string, Key> trees_[2][4];
};

// Records the tests build again and again.
Platform::OsVersionInfo OsVersion(uint32_t platformId, uint32_t major, uint32_t minor, uint8_t productType = 1,
                                  uint32_t build = 0, const char* csd = "");
// An Ethernet interface that is up and operational as GetIfTable numbers it,
// 1500 bytes MTU, 100 Mbit/s, named "if<index>".
Platform::IfRow Interface(uint32_t index, std::vector<uint8_t> mac = {}, uint32_t type = 6);

}  // namespace tallowin::test
