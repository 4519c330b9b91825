// The real platform: Windows' wide functions, texts converted to UTF-8 here.
// Implementations are split by subject over src/win32/platform_*.cpp.
#pragma once

#include "win32/win.h"

#include "platform/platform.h"

namespace tallowin::win32 {

class WinPlatform : public Platform {
 public:
  // ---- registry ----
  int32_t RegOpenKeyEx(uint32_t root, const std::string& path, uint32_t access, RegView view,
                       RegHandle* key) override;
  int32_t RegQueryValueEx(RegHandle key, const std::string& name, uint32_t* type, std::vector<uint8_t>* data,
                          uint32_t* size) override;
  int32_t RegQueryInfoKey(RegHandle key, uint32_t* subKeys) override;
  int32_t RegEnumKeyEx(RegHandle key, uint32_t index, std::string* name) override;
  void RegCloseKey(RegHandle key) override;

  // ---- system information ----
  bool ApiExists(const std::string& library, const std::string& function) override;
  OsVersionInfo RtlGetVersion() override;
  std::string GetWindowsDirectory() override;
  std::string GetSystemDirectory() override;
  std::string GetSystemWindowsDirectory() override;
  int32_t GetSystemMetrics(int32_t index) override;
  bool Is64BitWindows() override;
  SystemInfo GetNativeSystemInfo() override;
  int32_t IsProcessorFeaturePresent(uint32_t feature) override;
  bool GlobalMemoryStatusEx(MemoryStatusEx* status) override;
  int32_t GetKeyboardType(int32_t typeFlag) override;
  std::string GetKeyboardLayoutName() override;
  DisplayDeviceCaps GetDisplayDeviceCaps() override;
  SystemPowerStatus GetSystemPowerStatus() override;
  HwProfileInfo GetCurrentHwProfile() override;
  std::vector<PortInfo2> EnumPorts() override;

  // ---- locale and time ----
  std::string GetNumberFormat(const std::string& number, const NumberStyle& style) override;
  int32_t CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) override;
  uint32_t GetTimeZoneInformation(TimeZoneInformation* info) override;
  bool QueryPerformanceFrequency(LargeInteger* frequency) override;
  bool GetSystemTimeAdjustment(SystemTimeAdjustment* adjustment) override;
  SystemTime GetLocalTime() override;
  std::string GetDateFormat(uint32_t flags, const SystemTime& date) override;
  std::string GetTimeFormat(uint32_t flags, const SystemTime& time) override;
  uint32_t GetUserDefaultLCID() override;
  int32_t GetLocaleInfo(uint32_t lcType, std::string* data) override;

  // ---- network ----
  std::string GetComputerName() override;
  std::string GetUserName() override;
  int32_t WSAStartup(uint16_t versionRequested, WsaData* data) override;
  int32_t WSACleanup() override;
  int32_t gethostname(std::string* name) override;
  bool gethostbyname(const std::string& name, HostEnt* entry) override;
  uint32_t GetIpAddrTable(std::vector<MibIpAddrRow>* rows) override;
  uint32_t GetIfTable(std::vector<IfRow>* rows) override;
  uint32_t GetIfTable2(std::vector<IfRow>* rows) override;
  uint8_t Netbios(Ncb& ncb) override;

  // ---- printing ----
  std::vector<PrinterInfo2> EnumPrinters(uint32_t flags) override;
  int32_t DocumentProperties(const std::string& printerName, PrinterDevMode* devMode) override;
  int32_t DeviceCapabilities(const std::string& printerName, const std::string& portName,
                             std::vector<PrinterPaper>* papers) override;

  // ---- processes, files and the host's messages ----
  std::string FormatMessage(int32_t code) override;
  bool CreateProcess(const std::string& commandLine) override;
  int64_t GetFileSize(const std::string& path) override;
  void DoEvents() override;
};

// The platform every window and command of this process uses.
Platform& SystemPlatform();

}  // namespace tallowin::win32
