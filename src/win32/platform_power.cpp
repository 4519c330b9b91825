// Power status, the hardware profile, starting a program, file sizes and the
// system's error texts.
#include "win32/win.h"

#include <string>
#include <vector>

#include "win32/handles.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

Platform::SystemPowerStatus WinPlatform::GetSystemPowerStatus() {
  SYSTEM_POWER_STATUS s{};
  s.ACLineStatus = 255;
  s.BatteryFlag = 255;
  s.BatteryLifePercent = 255;
  s.BatteryLifeTime = 0xFFFFFFFFu;
  s.BatteryFullLifeTime = 0xFFFFFFFFu;
  ::GetSystemPowerStatus(&s);  // on failure the "not reported" values stay
  SystemPowerStatus out;
  out.ACLineStatus = s.ACLineStatus;
  out.BatteryFlag = s.BatteryFlag;
  out.BatteryLifePercent = s.BatteryLifePercent;
  out.BatteryLifeTime = s.BatteryLifeTime;
  out.BatteryFullLifeTime = s.BatteryFullLifeTime;
  return out;
}

Platform::HwProfileInfo WinPlatform::GetCurrentHwProfile() {
  HW_PROFILE_INFOW hw{};
  ::GetCurrentHwProfileW(&hw);  // a failed call leaves the record zero-filled
  HwProfileInfo out;
  out.dwDockInfo = hw.dwDockInfo;
  const size_t guidChars = sizeof(hw.szHwProfileGuid) / sizeof(wchar_t);
  out.szHwProfileGuid = Utf8(hw.szHwProfileGuid, wcsnlen(hw.szHwProfileGuid, guidChars));
  // The whole field: the section decides what its NULs and blanks mean.
  out.szHwProfileName = Utf8(hw.szHwProfileName, sizeof(hw.szHwProfileName) / sizeof(wchar_t));
  return out;
}

std::string WinPlatform::FormatMessage(int32_t code) {
  wchar_t buffer[1024] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), 0, buffer, 1024, nullptr);
  std::wstring text(buffer, n);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  return Utf8(text);
}

bool WinPlatform::CreateProcess(const std::string& commandLine) {
  std::wstring cmd = Wide(commandLine);  // CreateProcessW may write into it
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return true;
}

int64_t WinPlatform::GetFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

}  // namespace tallowin::win32
