// The registry: keys opened in the view asked for, values read as stored.
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

}  // namespace tallowin::win32
