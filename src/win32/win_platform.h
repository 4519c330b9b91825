// The real platform: Windows' wide functions, texts converted to UTF-8 here.
// Implementations are split by area over src/win32/platform_*.cpp.
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
  bool ApiExists(const std::string& library, const std::string& function) override;

  // ---- system ----
  OsVersionInfo RtlGetVersion() override;
  std::string GetWindowsDirectory() override;
  std::string GetSystemDirectory() override;
  std::string GetSystemWindowsDirectory() override;
  int32_t GetSystemMetrics(int32_t index) override;
  bool Is64BitWindows() override;

  // ---- regional formatting ----
  std::string GetNumberFormat(const std::string& number, const NumberStyle& style) override;

  // ---- the host ----
  void DoEvents() override;

  // ---- programs, processor, memory, user interface ----

  // ---- network ----

  // ---- power, ports, printers ----

  // ---- buses, time, locale ----
  uint32_t GetTimeZoneInformation(TimeZoneInformation* info) override;
  bool QueryPerformanceFrequency(LargeInteger* frequency) override;
  bool GetSystemTimeAdjustment(SystemTimeAdjustment* adjustment) override;
  SystemTime GetLocalTime() override;
  std::string GetDateFormat(uint32_t flags, const SystemTime& date) override;
  std::string GetTimeFormat(uint32_t flags, const SystemTime& time) override;
  uint32_t GetUserDefaultLCID() override;
  int32_t GetLocaleInfo(uint32_t lcType, std::string* data) override;

  // ---- upload ----
};

}  // namespace tallowin::win32
