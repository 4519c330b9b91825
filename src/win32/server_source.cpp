// Where the control finds its inventory server: Group Policy, then the
// environment (a test or one user's override where no policy is set), then
// what the package installed. Policy comes first because any user can set an
// environment variable, and it must not silence or redirect a managed PC.
#include "win32/win.h"

#include "platform/registry.h"
#include "win32/upload_binding.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

namespace {

constexpr wchar_t kEnvironmentName[] = L"TALLOWIN_INVENTORY_SERVER";

// The variable's whole text, however long: a value too long for any host
// name is set and malformed, never taken for absent.
std::optional<std::string> environmentValue() {
  std::wstring buffer(256, L'\0');
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(kEnvironmentName, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::nullopt;  // absent (or empty, which is no setting either)
    if (n < buffer.size()) return Utf8(buffer.data(), n);
    buffer.assign(n, L'\0');  // n counts the closing NUL: the next call fits
  }
}

std::optional<std::string> registryValue(const char* path, RegView view) {
  std::string text = RegValueText(GetRegValue(SystemPlatform(), kHKeyLocalMachine, path, "InventoryServer",
                                              std::string(), view));
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

ServerChoice ResolveServer(const std::optional<std::string>& explicitSetting) {
  if (explicitSetting) return ChooseServer({{"--server", *explicitSetting}});
  // The x86 package writes the 32-bit registry view on 64-bit Windows and
  // Group Policy the native one: either build reads both (on 32-bit Windows
  // the two reads are of the one view).
  return ChooseServer({
      {"HKLM\\SOFTWARE\\Policies\\Tallowin\\InventoryServer",
       registryValue("SOFTWARE\\Policies\\Tallowin", RegView::Bits64)},
      {"HKLM\\SOFTWARE\\Policies\\Tallowin\\InventoryServer (32-bit view)",
       registryValue("SOFTWARE\\Policies\\Tallowin", RegView::Bits32)},
      {"TALLOWIN_INVENTORY_SERVER", environmentValue()},
      {"HKLM\\SOFTWARE\\Tallowin\\InventoryServer", registryValue("SOFTWARE\\Tallowin", RegView::Bits64)},
      {"HKLM\\SOFTWARE\\Tallowin\\InventoryServer (32-bit view)",
       registryValue("SOFTWARE\\Tallowin", RegView::Bits32)},
  });
}

}  // namespace tallowin::win32
