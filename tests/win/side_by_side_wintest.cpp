// The x64 and the x86 ocx registered side by side on one 64-bit machine. The
// x86 build cannot run here: its keys (from the same table) are written into
// the 32-bit view; the x64 build is registered and removed with regsvr32.
// Under Wine 8, as on Windows, TypeLib is one key for both views.
#include <gtest/gtest.h>

#include "win/support/activex_support.h"

#include "win32/handles.h"
#include "win32/registration_table.h"

namespace tallowin {
namespace {

using namespace wintest;

constexpr wchar_t kX86Path[] = L"C:\\Program Files (x86)\\Tallowin\\tallowin.ocx";
constexpr wchar_t kX86Folder[] = L"C:\\Program Files (x86)\\Tallowin\\";

win32::UniqueKey classesIn(REGSAM view) {
  HKEY raw = nullptr;
  ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &raw,
                    nullptr);
  return win32::UniqueKey(raw);
}

RegSnapshot snapshot(REGSAM view) { return SnapshotTree(classesIn(view).get(), L""); }

// What DllRegisterServer of the x86 build writes, where it writes it.
void writeX86Registration() {
  const win32::UniqueKey classes = classesIn(KEY_WOW64_32KEY);
  for (const win32::RegistryEntry& e : win32::RegistrationEntries(kX86Path, kX86Folder, win32::ModuleBits::Bits32)) {
    HKEY raw = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(classes.get(), e.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    const win32::UniqueKey key(raw);
    if (e.hasValue)
      ::RegSetValueExW(key.get(), e.name.empty() ? nullptr : e.name.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(e.data.c_str()),
                       static_cast<DWORD>((e.data.size() + 1) * sizeof(wchar_t)));
  }
}

// The x86 keys first: with them gone, the x64 build's unregistration takes
// the shared keys too.
void removeEverything() {
  {
    const win32::UniqueKey classes = classesIn(KEY_WOW64_32KEY);
    for (const auto& roots : {win32::OwnRegistrationRoots(), win32::SharedRegistrationRoots()})
      for (const std::wstring& root : roots) ::RegDeleteTreeW(classes.get(), root.c_str());
  }
  Regsvr32(L"/u /s");
}

// What of the x86 registration a 32-bit host cannot read; "" when all is there.
std::string x86Missing() {
  std::string missing;
  for (const win32::RegistryEntry& e : win32::RegistrationEntries(kX86Path, kX86Folder, win32::ModuleBits::Bits32)) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + e.key).c_str(), 0, KEY_READ | KEY_WOW64_32KEY,
                        &raw) != ERROR_SUCCESS) {
      missing += "  " + Utf8(e.key) + "\n";
      continue;
    }
    const win32::UniqueKey key(raw);
    if (!e.hasValue) continue;
    wchar_t data[512] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t), type = 0;
    if (::RegQueryValueExW(key.get(), e.name.empty() ? nullptr : e.name.c_str(), nullptr, &type,
                           reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        type != REG_SZ || e.data != data)
      missing += "  " + Utf8(e.key) + ":" + Utf8(e.name) + " = " + Utf8(e.data) + " (found " + Utf8(data) + ")\n";
  }
  return missing;
}

bool under(const std::wstring& key, const wchar_t* root) {
  std::wstring upper = root;
  ::CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));
  return key.rfind(upper + L"\\", 0) == 0;
}

// Either build first: the x64 build registered and removed again leaves the
// x86 registration whole, and of its own keys at most those both views share
// on Windows. (The x64 build alone leaves nothing: the Registration test.)
TEST(SideBySide, EitherOrderTheX64BuildLeavesTheX86RegistrationWhole) {
  removeEverything();
  const RegSnapshot before32 = snapshot(KEY_WOW64_32KEY), before64 = snapshot(KEY_WOW64_64KEY);
  for (const bool x86First : {true, false}) {
    SCOPED_TRACE(x86First ? "x86 first" : "x64 first");
    removeEverything();
    if (!x86First) {
      ASSERT_EQ(Regsvr32(L"/s").exitCode, 0);
    }
    writeX86Registration();
    if (x86First) {
      ASSERT_EQ(Regsvr32(L"/s").exitCode, 0);
    }
    ASSERT_EQ(Regsvr32(L"/u /s").exitCode, 0);
    EXPECT_EQ(x86Missing(), "") << "the x86 registration lost these";
    for (const auto& [key, value] : Diff(before64, snapshot(KEY_WOW64_64KEY)).added)
      EXPECT_TRUE(under(key, win32::kProgId) || under(key, win32::kProgIdVersioned) ||
                  under(key, (std::wstring(L"TypeLib\\") + win32::kLibidText).c_str()))
          << "an x64 key left behind: " << Utf8(key);
    for (const auto& [key, value] : snapshot(KEY_WOW64_64KEY)) {
      EXPECT_FALSE(under(key, (std::wstring(L"CLSID\\") + win32::kClsidText).c_str())) << Utf8(key);
      EXPECT_FALSE(under(key, win32::OwnTypeLibPlatformKey(win32::ModuleBits::Bits64).c_str())) << Utf8(key);
    }
  }
  removeEverything();
  EXPECT_TRUE(Diff(before64, snapshot(KEY_WOW64_64KEY)).added.empty());
  EXPECT_TRUE(Diff(before32, snapshot(KEY_WOW64_32KEY)).added.empty());
}

}  // namespace
}  // namespace tallowin
