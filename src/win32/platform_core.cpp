// Registry, version, directories, metrics, regional numbers and the message pump.
#include "win32/win.h"

#include <string>
#include <vector>

#include "win32/handles.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

namespace {

HKEY rootKey(uint32_t root) {
  // Predefined keys are sign-extended 32-bit values.
  return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<LONG>(root)));
}

REGSAM viewFlag(RegView view) {
  switch (view) {
    case RegView::Bits64: return KEY_WOW64_64KEY;
    case RegView::Bits32: return KEY_WOW64_32KEY;
    default: return 0;
  }
}

HKEY asKey(RegHandle h) { return reinterpret_cast<HKEY>(h); }

}  // namespace

std::string StrFromPtr(const wchar_t* text, const void* begin, size_t bytes) {
  const auto* lo = static_cast<const unsigned char*>(begin);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  if (!text || !begin || p < lo || p >= lo + bytes) return {};
  const size_t room = static_cast<size_t>(lo + bytes - p) / sizeof(wchar_t);
  size_t n = 0;
  while (n < room && text[n] != L'\0') ++n;
  return Utf8(text, n);
}

int32_t WinPlatform::RegOpenKeyEx(uint32_t root, const std::string& path, uint32_t access, RegView view,
                                  RegHandle* key) {
  HKEY h = nullptr;
  const LONG rc = ::RegOpenKeyExW(rootKey(root), Wide(path).c_str(), 0, access | viewFlag(view), &h);
  if (rc == ERROR_SUCCESS) *key = reinterpret_cast<RegHandle>(h);
  return rc;
}

int32_t WinPlatform::RegQueryValueEx(RegHandle key, const std::string& name, uint32_t* type,
                                     std::vector<uint8_t>* data, uint32_t* size) {
  DWORD t = 0;
  const std::wstring wname = Wide(name);
  if (!data) {
    DWORD bytes = 0;
    const LONG rc = ::RegQueryValueExW(asKey(key), wname.c_str(), nullptr, &t, nullptr, &bytes);
    if (type) *type = t;
    if (size) *size = bytes;
    return rc;
  }
  DWORD bytes = size ? *size : 0;
  // Room for at least one byte so that a zero-length read is still a read.
  data->assign(bytes == 0 ? 1 : bytes, 0);
  const LONG rc = ::RegQueryValueExW(asKey(key), wname.c_str(), nullptr, &t, data->data(), &bytes);
  if (rc == ERROR_SUCCESS) {
    data->resize(bytes);
  } else {
    data->clear();
  }
  if (type) *type = t;
  if (size) *size = bytes;
  return rc;
}

int32_t WinPlatform::RegQueryInfoKey(RegHandle key, uint32_t* subKeys) {
  DWORD n = 0;
  const LONG rc = ::RegQueryInfoKeyW(asKey(key), nullptr, nullptr, nullptr, &n, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr);
  if (rc == ERROR_SUCCESS) *subKeys = n;
  return rc;
}

int32_t WinPlatform::RegEnumKeyEx(RegHandle key, uint32_t index, std::string* name) {
  wchar_t buffer[256] = {};  // key names are at most 255 characters
  DWORD chars = 256;
  FILETIME written{};
  const LONG rc = ::RegEnumKeyExW(asKey(key), index, buffer, &chars, nullptr, nullptr, nullptr, &written);
  if (rc == ERROR_SUCCESS) *name = Utf8(buffer, chars);
  return rc;
}

void WinPlatform::RegCloseKey(RegHandle key) { ::RegCloseKey(asKey(key)); }

bool WinPlatform::ApiExists(const std::string& library, const std::string& function) {
  UniqueLibrary lib(::LoadLibraryW(Wide(library).c_str()));
  if (!lib) return false;
  return ::GetProcAddress(lib.get(), function.c_str()) != nullptr;
}

OsVersionInfo WinPlatform::RtlGetVersion() {
  OsVersionInfo out;
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

namespace {

UINT localeNumber(LCTYPE type, UINT fallback) {
  DWORD v = 0;
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&v),
                        sizeof(v) / sizeof(wchar_t)) == 0)
    return fallback;
  return v;
}

std::wstring localeText(LCTYPE type, const wchar_t* fallback) {
  wchar_t buffer[16] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 16) == 0) return fallback;
  return buffer;
}

// "3;0" gives 3, "3;2;0" gives 32, "3" (repeat not) gives 30.
UINT groupingOf(const std::wstring& text) {
  UINT g = 0;
  for (wchar_t c : text)
    if (c >= L'1' && c <= L'9') g = g * 10 + static_cast<UINT>(c - L'0');
  const bool repeats = text.size() >= 2 && text.compare(text.size() - 2, 2, L";0") == 0;
  return repeats || g == 0 ? g : g * 10;
}

}  // namespace

std::string WinPlatform::GetNumberFormat(const std::string& number, const NumberStyle& style) {
  const std::wstring value = Wide(number);
  wchar_t out[128] = {};
  if (style.localeDefaults) {
    if (::GetNumberFormatEx(LOCALE_NAME_USER_DEFAULT, 0, value.c_str(), nullptr, out, 128) > 0) return Utf8(out, wcslen(out));
    return number;
  }
  std::wstring decimal = localeText(LOCALE_SDECIMAL, L".");
  std::wstring thousand = localeText(LOCALE_STHOUSAND, L",");
  NUMBERFMTW fmt{};
  fmt.NumDigits = static_cast<UINT>(style.decimals);
  fmt.LeadingZero = style.leadingZero ? localeNumber(LOCALE_ILZERO, 1) : 0;
  fmt.Grouping = style.grouping ? groupingOf(localeText(LOCALE_SGROUPING, L"3;0")) : 0;
  fmt.lpDecimalSep = decimal.data();
  fmt.lpThousandSep = thousand.data();
  fmt.NegativeOrder = style.minusSign ? 1 : localeNumber(LOCALE_INEGNUMBER, 1);
  if (::GetNumberFormatEx(LOCALE_NAME_USER_DEFAULT, 0, value.c_str(), &fmt, out, 128) > 0) return Utf8(out, wcslen(out));
  return number;
}

void WinPlatform::DoEvents() {
  MSG msg;
  // Only what is pending now: a yield must not turn into a loop of its own.
  for (int i = 0; i < 1000 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

}  // namespace tallowin::win32
