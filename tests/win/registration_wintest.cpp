// Registering tallowin.ocx through regsvr32, machine-wide and per user:
// exactly the keys written, and all of them removed again.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <string>

#include "win/support/activex_support.h"
#include "win32/handles.h"
#include "win32/tallowin_ids.h"

namespace tallowin {
namespace {

using namespace wintest;
using win32::ComPtr;
using win32::OleScope;
using win32::kClsidFrmMain;
using win32::kLibidTallowin;

// What registration writes, relative to ...\Software\Classes; "$" is the
// ocx's path, "$dir" its folder with the closing backslash.
struct ExpectedValue {
  const wchar_t* key;
  const wchar_t* name;  // nullptr: the key alone
  const wchar_t* data;
};
#define CLSID_KEY L"CLSID\\{E8C1EAF5-C6D0-4617-BEF9-CED5CAA6371D}"
#define LIBID_KEY L"TypeLib\\{D89EF8D1-621C-4D8B-8B4C-40154DF9F74D}"
#define IID_KEY L"Interface\\{F3C9B728-0363-412D-8790-2B474CD9EE63}"
const ExpectedValue kRegistration[] = {
    {CLSID_KEY, L"", L"Tallowin frmMain"},
    {CLSID_KEY L"\\InprocServer32", L"", L"$"},
    {CLSID_KEY L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
    {CLSID_KEY L"\\ProgID", L"", L"Tallowin.frmMain.1"},
    {CLSID_KEY L"\\VersionIndependentProgID", L"", L"Tallowin.frmMain"},
    {CLSID_KEY L"\\Control", nullptr, nullptr},
    {CLSID_KEY L"\\MiscStatus", L"", L"0"},
    {CLSID_KEY L"\\MiscStatus\\1", L"", L"131473"},
    {CLSID_KEY L"\\ToolboxBitmap32", L"", L"$, 1"},
    {CLSID_KEY L"\\TypeLib", L"", L"{D89EF8D1-621C-4D8B-8B4C-40154DF9F74D}"},
    {CLSID_KEY L"\\Version", L"", L"1.0"},
    {CLSID_KEY L"\\Implemented Categories", nullptr, nullptr},
    {CLSID_KEY L"\\Implemented Categories\\{40FC6ED4-2438-11CF-A3DB-080036F12502}", nullptr, nullptr},
    {CLSID_KEY L"\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}", nullptr, nullptr},
    {CLSID_KEY L"\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}", nullptr, nullptr},
    {L"Tallowin.frmMain", L"", L"Tallowin frmMain"},
    {L"Tallowin.frmMain\\CLSID", L"", L"{E8C1EAF5-C6D0-4617-BEF9-CED5CAA6371D}"},
    {L"Tallowin.frmMain\\CurVer", L"", L"Tallowin.frmMain.1"},
    {L"Tallowin.frmMain.1", L"", L"Tallowin frmMain"},
    {L"Tallowin.frmMain.1\\CLSID", L"", L"{E8C1EAF5-C6D0-4617-BEF9-CED5CAA6371D}"},
    {LIBID_KEY, nullptr, nullptr},
    {LIBID_KEY L"\\1.0", L"", L"Tallowin computer inventory control"},
    {LIBID_KEY L"\\1.0\\0", nullptr, nullptr},
    {LIBID_KEY L"\\1.0\\0\\win64", L"", L"$"},
    {LIBID_KEY L"\\1.0\\FLAGS", L"", L"0"},
    {LIBID_KEY L"\\1.0\\HELPDIR", L"", L"$dir"},
    {IID_KEY, L"", L"_frmMain"},
    {IID_KEY L"\\ProxyStubClsid", L"", L"{00020424-0000-0000-C000-000000000046}"},
    {IID_KEY L"\\ProxyStubClsid32", L"", L"{00020424-0000-0000-C000-000000000046}"},
    {IID_KEY L"\\TypeLib", L"", L"{D89EF8D1-621C-4D8B-8B4C-40154DF9F74D}"},
    {IID_KEY L"\\TypeLib", L"Version", L"1.0"},
};

// The snapshot lines kRegistration stands for, and the keys that hold them
// (CLSID, TypeLib, Interface) where before has none.
RegSnapshot ExpectedAdditions(const std::wstring& ocxPath, const RegSnapshot& before) {
  const std::wstring dir = ocxPath.substr(0, ocxPath.find_last_of(L"\\/") + 1);
  auto upper = [](std::wstring t) {
    ::CharUpperBuffW(t.data(), static_cast<DWORD>(t.size()));
    return t;
  };
  RegSnapshot out;
  for (const ExpectedValue& e : kRegistration) {
    out[upper(e.key) + L"\\"] = L"";
    if (!e.name) continue;
    std::wstring data = e.data;
    if (data == L"$dir")
      data = dir;
    else if (data.rfind(L"$", 0) == 0)
      data = ocxPath + data.substr(1);
    out[upper(e.key) + L"\\:" + upper(e.name)] = L"1:" + data;
  }
  for (const wchar_t* container : {L"CLSID\\", L"INTERFACE\\", L"TYPELIB\\"})
    if (!before.count(container)) out[container] = L"";
  return out;
}

std::string Describe(const RegSnapshot& s) {
  std::string out;
  for (const auto& [k, v] : s) out += "  " + Utf8(k) + " = " + Utf8(v) + "\n";
  return out;
}

// The path the ocx registers: its own, as the system reports it.
std::wstring RegisteredPath() {
  HMODULE m = ::LoadLibraryW(OcxPath().c_str());
  wchar_t path[MAX_PATH] = {};
  if (m) {
    ::GetModuleFileNameW(m, path, MAX_PATH);
    ::FreeLibrary(m);
  }
  return path;
}

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    // Windows always has the user's classes key; a fresh Wine prefix may not.
    HKEY classes = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, &classes,
                                nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(classes);
    // Whatever an aborted run left behind.
    Regsvr32(L"/u /s");
    Regsvr32(L"/u /s /n /i:user");
    machineBefore = SnapshotTree(HKEY_LOCAL_MACHINE, L"Software\\Classes");
    userBefore = SnapshotTree(HKEY_CURRENT_USER, L"Software\\Classes");
  }
  RegSnapshot machineBefore, userBefore;
};

TEST_F(Registration, MachineWideWritesTheKeysAndUnregistrationRemovesThemAll) {
  ASSERT_EQ(Regsvr32(L"/s").exitCode, 0);
  const RegDiff machine = Diff(machineBefore, SnapshotTree(HKEY_LOCAL_MACHINE, L"Software\\Classes"));
  const RegDiff user = Diff(userBefore, SnapshotTree(HKEY_CURRENT_USER, L"Software\\Classes"));
  const RegSnapshot expected = ExpectedAdditions(RegisteredPath(), machineBefore);
  EXPECT_EQ(machine.added, expected) << "written:\n" << Describe(machine.added) << "expected:\n" << Describe(expected);
  EXPECT_TRUE(machine.removedOrChanged.empty()) << Describe(machine.removedOrChanged);
  EXPECT_TRUE(user.added.empty()) << Describe(user.added);

  // What COM and OLE read from it.
  CLSID clsid{};
  EXPECT_EQ(::CLSIDFromProgID(L"Tallowin.frmMain", &clsid), S_OK);
  EXPECT_TRUE(clsid == kClsidFrmMain);
  LPOLESTR progId = nullptr;
  ASSERT_EQ(::ProgIDFromCLSID(kClsidFrmMain, &progId), S_OK);
  EXPECT_STREQ(progId, L"Tallowin.frmMain.1");
  ::CoTaskMemFree(progId);
  ComPtr<ITypeLib> lib;
  EXPECT_EQ(::LoadRegTypeLib(kLibidTallowin, 1, 0, 0, lib.put()), S_OK);
  lib.reset();

  ASSERT_EQ(Regsvr32(L"/u /s").exitCode, 0);
  const RegDiff after = Diff(machineBefore, SnapshotTree(HKEY_LOCAL_MACHINE, L"Software\\Classes"));
  EXPECT_TRUE(after.added.empty()) << "left behind:\n" << Describe(after.added);
  EXPECT_TRUE(after.removedOrChanged.empty()) << Describe(after.removedOrChanged);
  // Unregistering what is not registered is no failure.
  EXPECT_EQ(Regsvr32(L"/u /s").exitCode, 0);
}

TEST_F(Registration, PerUserWritesOnlyUnderTheCurrentUser) {
  ASSERT_EQ(Regsvr32(L"/s /n /i:user").exitCode, 0);
  const RegDiff machine = Diff(machineBefore, SnapshotTree(HKEY_LOCAL_MACHINE, L"Software\\Classes"));
  const RegDiff user = Diff(userBefore, SnapshotTree(HKEY_CURRENT_USER, L"Software\\Classes"));
  EXPECT_TRUE(machine.added.empty()) << Describe(machine.added);
  EXPECT_TRUE(machine.removedOrChanged.empty()) << Describe(machine.removedOrChanged);
  const RegSnapshot expected = ExpectedAdditions(RegisteredPath(), userBefore);
  EXPECT_EQ(user.added, expected) << "written:\n" << Describe(user.added) << "expected:\n" << Describe(expected);

  ASSERT_EQ(Regsvr32(L"/u /s /n /i:user").exitCode, 0);
  const RegDiff after = Diff(userBefore, SnapshotTree(HKEY_CURRENT_USER, L"Software\\Classes"));
  EXPECT_TRUE(after.added.empty()) << "left behind:\n" << Describe(after.added);
  EXPECT_TRUE(after.removedOrChanged.empty()) << Describe(after.removedOrChanged);
}

TEST_F(Registration, AnUnknownInstallCommandFailsAndWritesNothing) {
  EXPECT_NE(Regsvr32(L"/s /n /i:everyone").exitCode, 0);
  EXPECT_TRUE(Diff(machineBefore, SnapshotTree(HKEY_LOCAL_MACHINE, L"Software\\Classes")).added.empty());
  EXPECT_TRUE(Diff(userBefore, SnapshotTree(HKEY_CURRENT_USER, L"Software\\Classes")).added.empty());
}

}  // namespace
}  // namespace tallowin
