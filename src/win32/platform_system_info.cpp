// Processor, memory, keyboard and display facts, and the user's collation.
#include "win32/win.h"

#include <string>

#include "win32/handles.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

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

int32_t WinPlatform::CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) {
  const std::wstring wa = Wide(a);
  const std::wstring wb = Wide(b);
  return ::CompareStringEx(LOCALE_NAME_USER_DEFAULT, flags, wa.c_str(), static_cast<int>(wa.size()), wb.c_str(),
                           static_cast<int>(wb.size()), nullptr, nullptr, 0);
}

}  // namespace tallowin::win32
