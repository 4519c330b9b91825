// The system's version, directories and metrics, processor, memory, keyboard
// and display facts, power, the hardware profile and the ports.
#include "win32/win.h"

#include <string>

#include "win32/handles.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

bool WinPlatform::ApiExists(const std::string& library, const std::string& function) {
  UniqueLibrary lib(::LoadLibraryW(Wide(library).c_str()));
  if (!lib) return false;
  return ::GetProcAddress(lib.get(), function.c_str()) != nullptr;
}

Platform::OsVersionInfo WinPlatform::RtlGetVersion() {
  Platform::OsVersionInfo out;
  RTL_OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  using Fn = LONG(WINAPI*)(RTL_OSVERSIONINFOEXW*);
  bool ok = false;
  // GetVersionEx lies from Windows 8.1 on unless the host carries a manifest.
  if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll")) {
    if (auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion"))))
      ok = fn(&v) == 0;
  }
  if (!ok) {
    OSVERSIONINFOEXW e{};
    e.dwOSVersionInfoSize = sizeof(e);
    if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&e))) return out;
    v.dwMajorVersion = e.dwMajorVersion;
    v.dwMinorVersion = e.dwMinorVersion;
    v.dwBuildNumber = e.dwBuildNumber;
    v.dwPlatformId = e.dwPlatformId;
    wcsncpy(v.szCSDVersion, e.szCSDVersion, 127);
    v.wServicePackMajor = e.wServicePackMajor;
    v.wServicePackMinor = e.wServicePackMinor;
    v.wSuiteMask = e.wSuiteMask;
    v.wProductType = e.wProductType;
  }
  out.dwMajorVersion = v.dwMajorVersion;
  out.dwMinorVersion = v.dwMinorVersion;
  out.dwBuildNumber = v.dwBuildNumber;
  out.dwPlatformId = v.dwPlatformId;
  v.szCSDVersion[127] = L'\0';
  out.szCSDVersion = Utf8(v.szCSDVersion, wcslen(v.szCSDVersion));
  out.wServicePackMajor = v.wServicePackMajor;
  out.wServicePackMinor = v.wServicePackMinor;
  out.wSuiteMask = v.wSuiteMask;
  out.wProductType = v.wProductType;
  return out;
}

namespace {

template <typename Fn>
std::string directory(Fn fn) {
  wchar_t buffer[MAX_PATH + 1] = {};
  const UINT n = fn(buffer, MAX_PATH);
  if (n == 0 || n > MAX_PATH) return {};
  return Utf8(buffer, n);
}

}  // namespace

std::string WinPlatform::GetWindowsDirectory() { return directory(::GetWindowsDirectoryW); }
std::string WinPlatform::GetSystemDirectory() { return directory(::GetSystemDirectoryW); }
std::string WinPlatform::GetSystemWindowsDirectory() { return directory(::GetSystemWindowsDirectoryW); }

int32_t WinPlatform::GetSystemMetrics(int32_t index) { return ::GetSystemMetrics(index); }

bool WinPlatform::Is64BitWindows() {
#ifdef _WIN64
  return true;
#else
  BOOL wow = FALSE;
  return ::IsWow64Process(::GetCurrentProcess(), &wow) && wow;
#endif
}

Platform::SystemInfo WinPlatform::GetNativeSystemInfo() {
  SYSTEM_INFO si{};
  ::GetNativeSystemInfo(&si);
  SystemInfo out;
  out.wProcessorArchitecture = si.wProcessorArchitecture;
  out.wProcessorLevel = si.wProcessorLevel;
  out.wProcessorRevision = si.wProcessorRevision;
  out.dwPageSize = si.dwPageSize;
  out.lpMinimumApplicationAddress = reinterpret_cast<uintptr_t>(si.lpMinimumApplicationAddress);
  out.lpMaximumApplicationAddress = reinterpret_cast<uintptr_t>(si.lpMaximumApplicationAddress);
  out.dwNumberOfProcessors = si.dwNumberOfProcessors;
  out.dwAllocationGranularity = si.dwAllocationGranularity;
  return out;
}

int32_t WinPlatform::IsProcessorFeaturePresent(uint32_t feature) { return ::IsProcessorFeaturePresent(feature); }

bool WinPlatform::GlobalMemoryStatusEx(MemoryStatusEx* status) {
  MEMORYSTATUSEX m{};
  m.dwLength = sizeof(m);
  if (!::GlobalMemoryStatusEx(&m)) return false;
  status->dwMemoryLoad = m.dwMemoryLoad;
  status->ullTotalPhys = m.ullTotalPhys;
  status->ullAvailPhys = m.ullAvailPhys;
  status->ullTotalPageFile = m.ullTotalPageFile;
  status->ullAvailPageFile = m.ullAvailPageFile;
  status->ullTotalVirtual = m.ullTotalVirtual;
  status->ullAvailVirtual = m.ullAvailVirtual;
  return true;
}

int32_t WinPlatform::GetKeyboardType(int32_t typeFlag) { return ::GetKeyboardType(typeFlag); }

std::string WinPlatform::GetKeyboardLayoutName() {
  wchar_t name[KL_NAMELENGTH] = {};
  if (!::GetKeyboardLayoutNameW(name)) return {};
  return Utf8(name, wcsnlen(name, KL_NAMELENGTH));
}

Platform::DisplayDeviceCaps WinPlatform::GetDisplayDeviceCaps() {
  DisplayDeviceCaps caps;
  // For the display driver the device name must be null.
  UniqueDc ic(::CreateICW(L"DISPLAY", nullptr, nullptr, nullptr));
  if (!ic) return caps;
  caps.created = true;
  caps.bitsPixel = ::GetDeviceCaps(ic.get(), BITSPIXEL);
  caps.logPixelsX = ::GetDeviceCaps(ic.get(), LOGPIXELSX);
  caps.logPixelsY = ::GetDeviceCaps(ic.get(), LOGPIXELSY);
  return caps;
}
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

std::vector<Platform::PortInfo2> WinPlatform::EnumPorts() {
  std::vector<PortInfo2> out;
  DWORD needed = 0;
  DWORD returned = 0;
  ::EnumPortsW(nullptr, 2, nullptr, 0, &needed, &returned);
  if (needed == 0) return out;
  // One buffer of exactly the reported size; if ports came meanwhile the
  // second call fails and the list is empty.
  std::vector<BYTE> buffer(needed);
  returned = 0;
  if (!::EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &returned)) return out;
  const size_t bytes = buffer.size();
  if (returned > bytes / sizeof(PORT_INFO_2W)) returned = static_cast<DWORD>(bytes / sizeof(PORT_INFO_2W));
  const auto* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i) {
    PortInfo2 p;
    p.pPortName = StrFromPtr(ports[i].pPortName, buffer.data(), bytes);
    p.pMonitorName = StrFromPtr(ports[i].pMonitorName, buffer.data(), bytes);
    p.pDescription = StrFromPtr(ports[i].pDescription, buffer.data(), bytes);
    p.fPortType = ports[i].fPortType;
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace tallowin::win32
