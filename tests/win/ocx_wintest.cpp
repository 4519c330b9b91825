// tallowin.ocx as COM loads it, its object, both programs' icons,
// regsvr32 (also beside the x86 build), the registered ocx in atl.dll's
// container, and the installed package's.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <objsafe.h>

#include "win/support/activex_support.h"
#include "win/support/service_api.h"
#include "win32/activex_control.h"
#include "win32/frm_main.h"
#include "win32/handles.h"
#include "win32/registration_table.h"
#include "win32/tallowin_ids.h"

namespace tallowin {
namespace {

using namespace wintest;
using win32::ComPtr;
using win32::kClsidFrmMain;

class OcxModule : public ::testing::Test {
 protected:
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
  win32::OleScope ole;
  HMODULE ocx = nullptr;
  GetClassObjectFn getClassObject = nullptr;
  CanUnloadFn canUnloadNow = nullptr;

  void SetUp() override {
    ocx = ::LoadLibraryW(OcxPath().c_str());
    ASSERT_NE(ocx, nullptr);
    getClassObject = reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(::GetProcAddress(ocx, "DllGetClassObject")));
    canUnloadNow = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(::GetProcAddress(ocx, "DllCanUnloadNow")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
  }
  void TearDown() override {
    if (ocx) ::FreeLibrary(ocx);
  }
  ComPtr<IClassFactory> factory() {
    ComPtr<IClassFactory> f;
    EXPECT_EQ(getClassObject(kClsidFrmMain, IID_IClassFactory, f.putVoid()), S_OK);
    return f;
  }
};

TEST_F(OcxModule, StaysLoadedWhileAnyObjectOrLockExists) {
  ASSERT_EQ(canUnloadNow(), S_OK);
  ComPtr<IClassFactory> f = factory();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  ComPtr<IUnknown> object, outer;
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IUnknown, outer.putVoid()), S_OK);
  EXPECT_EQ(f->CreateInstance(outer.get(), IID_IUnknown, object.putVoid()), CLASS_E_NOAGGREGATION);
  outer.reset();
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IOleObject, object.putVoid()), S_OK);
  f.reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "an object is alive";
  object.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);

  ASSERT_EQ(factory()->LockServer(TRUE), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "a server lock is held";
  f = factory();
  EXPECT_EQ(f->LockServer(FALSE), S_OK);
  EXPECT_EQ(f->LockServer(FALSE), S_OK);  // one too many must not cancel a live object's hold
  ASSERT_EQ(f->CreateInstance(nullptr, IID_IOleObject, object.putVoid()), S_OK);
  f.reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  object.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

// From its own type library: the interface, dual, and the control class with
// no events, found by their GUIDs (their names are the IDL's).
TEST_F(OcxModule, DescribesItselfFromItsOwnTypeLibrary) {
  ComPtr<IDispatch> object;
  ASSERT_EQ(factory()->CreateInstance(nullptr, IID_IDispatch, object.putVoid()), S_OK);
  ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo2, classInfo.putVoid()), S_OK);
  ComPtr<ITypeInfo> info, coclass;
  ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  ASSERT_EQ(classInfo->GetClassInfo(coclass.put()), S_OK);
  for (ITypeInfo* i : {info.get(), coclass.get()}) {
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(i->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(i == info.get() ? attr->guid == win32::kIidFrmMain && (attr->wTypeFlags & TYPEFLAG_FDUAL)
                                : attr->guid == kClsidFrmMain);
    i->ReleaseTypeAttr(attr);
  }
  GUID source = kClsidFrmMain;
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), E_FAIL) << "no events";
}

// ---- the object ----

TEST(ControlObject, AnswersItsInterfacesIsSafeAndDrawsItself) {
  win32::OleScope ole;
  ComPtr<IUnknown> object;
  ASSERT_EQ(win32::CreateFrmMainObject(nullptr, IID_IUnknown, object.putVoid()), S_OK);
  for (const IID* iid : {&IID_IOleObject, &IID_IOleInPlaceObject, &IID_IOleInPlaceActiveObject, &IID_IOleControl,
                         &IID_IViewObject2, &IID_IPersistStreamInit, &IID_IPersistPropertyBag, &IID_IDispatch,
                         &win32::kIidFrmMain, &IID_IProvideClassInfo2, &IID_IObjectSafety}) {
    ComPtr<IUnknown> p, identity;
    ASSERT_EQ(object->QueryInterface(*iid, p.putVoid()), S_OK);
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
    EXPECT_EQ(identity.get(), object.get());
  }
  for (const IID* iid : {&IID_IConnectionPointContainer, &IID_IQuickActivate, &IID_IPersistStorage, &IID_IMarshal}) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(*iid, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
  }

  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety, safety.putVoid()), S_OK);
  const DWORD both = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  DWORD supported = 0, enabled = 0;
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, both, both), S_OK);
  ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistPropertyBag, &supported, &enabled), S_OK);
  EXPECT_EQ(supported, both);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IConnectionPointContainer, both, both), E_NOINTERFACE);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0x80, 0x80), E_FAIL) << "an unknown option";

  // The picture a container in design mode shows: an outline and the name.
  ComPtr<IViewObject2> view;
  ASSERT_EQ(object->QueryInterface(IID_IViewObject2, view.putVoid()), S_OK);
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 200, 100);
  ::ReleaseDC(nullptr, screen);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  RECT all{0, 0, 200, 100};
  ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  RECTL bounds{20, 10, 180, 90};
  ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
  auto dark = [&](int x, int y) { return ::GetPixel(dc, x, y) == RGB(0, 0, 0); };
  EXPECT_TRUE(dark(20, 10) && dark(179, 89)) << "the outline";
  EXPECT_FALSE(dark(10, 5) || dark(190, 95)) << "nothing outside the bounds";
  int inked = 0;
  for (int y = 30; y < 70; ++y)
    for (int x = 40; x < 160; ++x) inked += dark(x, y);
  EXPECT_GT(inked, 20) << "the name in the middle";
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
}

// (Their version resources come from one header; the package test reads the
// file versions the installer takes from them.)
TEST(VersionResources, BothProgramsCarryTheIcon) {
  for (const wchar_t* file : {L"tallowin.ocx", L"tallowin.exe"})
    EXPECT_EQ(::ExtractIconExW((ProgramFolder() + file).c_str(), -1, nullptr, nullptr, 0), 1u) << Utf8(file);
}

// ---- registration ----

// What registering the ocx at ocxPath adds to a Classes tree, in the
// snapshot's form: every key of the registration table with the keys above
// it, and its values.
RegSnapshot ExpectedAdditions(const std::wstring& ocxPath, const RegSnapshot& before) {
  RegSnapshot out;
  const std::wstring folder = ocxPath.substr(0, ocxPath.find_last_of(L"\\/") + 1);
  for (const auto& e : win32::RegistrationEntries(ocxPath, folder, win32::ModuleBits::Bits64)) {
    const std::wstring key = Upper(e.key);
    for (size_t at = key.find(L'\\'); at != std::wstring::npos; at = key.find(L'\\', at + 1))
      if (!before.count(key.substr(0, at + 1))) out[key.substr(0, at + 1)] = L"";
    out[key + L"\\"] = L"";
    if (e.hasValue) out[key + L"\\:" + Upper(e.name)] = L"1:" + e.data;
  }
  return out;
}

// Machine-wide and per user (/n /i:user): exactly the table's keys where
// asked and nothing elsewhere; COM finds a machine-wide class by ProgID; unregistering
// removes all of it, also twice; any other install command writes nothing.
TEST(Registration, WritesExactlyTheTableWhereAskedAndRemovesItAll) {
  HKEY classes = nullptr;  // Windows always has the user's classes key; a fresh Wine prefix may not
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, &classes, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(classes);
  Regsvr32(L"/u /s");  // whatever an aborted run left behind
  Regsvr32(L"/u /s /n /i:user");
  const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
  const RegSnapshot before[] = {SnapshotTree(roots[0], L"Software\\Classes"), SnapshotTree(roots[1], L"Software\\Classes")};
  auto diff = [&](int i) { return Diff(before[i], SnapshotTree(roots[i], L"Software\\Classes")); };

  const wchar_t* installs[] = {L"/s", L"/s /n /i:user"};
  for (int where = 0; where < 2; ++where) {
    SCOPED_TRACE(Utf8(installs[where]));
    ASSERT_EQ(Regsvr32(installs[where]).exitCode, 0);
    EXPECT_EQ(diff(where).added, ExpectedAdditions(OcxPath(), before[where]));
    EXPECT_EQ(diff(where).removedOrChanged, RegSnapshot{});
    EXPECT_EQ(diff(1 - where).added, RegSnapshot{});
    CLSID clsid{};
    if (where == 0) {  // Wine's COM sees only machine-wide classes
      EXPECT_EQ(::CLSIDFromProgID(win32::kProgId, &clsid), S_OK);
      EXPECT_TRUE(clsid == kClsidFrmMain);
    }
    const std::wstring uninstall = std::wstring(L"/u ") + installs[where];
    ASSERT_EQ(Regsvr32(uninstall).exitCode, 0);
    EXPECT_EQ(Regsvr32(uninstall).exitCode, 0) << "unregistering what is not registered is no failure";
    EXPECT_EQ(diff(where).added, RegSnapshot{}) << "left behind";
    EXPECT_EQ(diff(where).removedOrChanged, RegSnapshot{});
  }
  EXPECT_NE(Regsvr32(L"/s /n /i:everyone").exitCode, 0);
  EXPECT_EQ(diff(0).added, RegSnapshot{});
  EXPECT_EQ(diff(1).added, RegSnapshot{});
}

// ---- the x64 and the x86 ocx side by side ----
// The x86 build cannot run here: its keys (from the same table) are written into
// the 32-bit view; the x64 build is registered and removed with regsvr32.
// Under Wine 8, as on Windows, TypeLib is one key for both views.

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
  return key.rfind(Upper(root) + L"\\", 0) == 0;
}

// The x86 build registered, then the x64 build (whose type library entry
// then names its own folder) registered and removed again: the x86
// registration is whole, and of the x64 build's keys at most those both views
// share on Windows are left. (The x64 build alone leaves nothing: the
// Registration test.)
TEST(SideBySide, TheX64BuildRemovedLeavesTheX86RegistrationWhole) {
  removeEverything();
  // Never missing on Windows; in a prefix where the x86 package was removed
  // (scripts/test-package) they are gone, and the x86 keys would leave them.
  for (const wchar_t* parent : {L"CLSID", L"Interface"}) {
    HKEY raw = nullptr;
    ::RegCreateKeyExW(classesIn(KEY_WOW64_32KEY).get(), parent, 0, nullptr, 0, KEY_READ, nullptr, &raw, nullptr);
    const win32::UniqueKey key(raw);
  }
  const RegSnapshot before32 = snapshot(KEY_WOW64_32KEY), before64 = snapshot(KEY_WOW64_64KEY);
  writeX86Registration();
  ASSERT_EQ(Regsvr32(L"/s").exitCode, 0);
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
  removeEverything();
  EXPECT_EQ(Diff(before64, snapshot(KEY_WOW64_64KEY)).added, RegSnapshot{});
  EXPECT_EQ(Diff(before32, snapshot(KEY_WOW64_32KEY)).added, RegSnapshot{});
}

// ---- registered, in atl.dll's AtlAxWin container ----
// The unload test must run before any upload: after one, the ocx is pinned.

class InAtlAxWin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registered = Regsvr32(L"/s").exitCode == 0; }
  static void TearDownTestSuite() { Regsvr32(L"/u /s"); }
  void SetUp() override { ASSERT_TRUE(registered); }
  static inline bool registered = false;
  win32::OleScope ole;
};

// By CLSID or ProgID it shows (where the window goes is the own container's
// test, its tabs the window's); unloaded by COM it takes its window class along.
TEST_F(InAtlAxWin, CreatedByClsidOrProgIdItShowsAndUnloadsWithItsWindowClass) {
  EXPECT_NE(AxWinHost(win32::kClsidText).form(), nullptr);
  HMODULE ocx = nullptr;
  {
    AxWinHost host(win32::kProgId);
    ASSERT_NE(host.form(), nullptr) << "no TallowinFrmMain window in the AtlAxWin container";
    ocx = ::GetModuleHandleW(OcxPath().c_str());
    EXPECT_EQ(reinterpret_cast<HMODULE>(::GetClassLongPtrW(host.form(), GCLP_HMODULE)), ocx) << "the ocx's window";
    PumpMessages();
  }
  ASSERT_NE(ocx, nullptr);
  ::CoFreeUnusedLibrariesEx(0, 0);
  ASSERT_EQ(::GetModuleHandleW(OcxPath().c_str()), nullptr) << "COM did not unload the ocx";
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  EXPECT_FALSE(::GetClassInfoExW(ocx, win32::FrmMain::ClassName(), &wc)) << "a class whose window procedure is gone";
  EXPECT_NE(AxWinHost(win32::kProgId).form(), nullptr);
}

// The initialisation sends one record. WinHTTP runs the ocx's code up to and
// past its last notice for a request, which no thread of the ocx can see
// end: after an upload the ocx stays mapped though COM lets it go.
TEST_F(InAtlAxWin, AfterItsInitialUploadTheOcxOutlivesComsUnload) {
  const std::string peer = TestService("PEER");
  if (peer.empty()) GTEST_SKIP() << "TALLOWIN_TEST_PEER not set";
  const int before = LastStoredRecord(peer).count;
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", Wide(peer).c_str());
  {
    AxWinHost host(win32::kProgId);
    ASSERT_NE(host.form(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return LastStoredRecord(peer).count == before + 1; }, 30000));
  }
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
  EXPECT_EQ(LastStoredRecord(peer).count, before + 1) << "one record, not more";
  HMODULE ocx = ::GetModuleHandleW(OcxPath().c_str());
  ASSERT_NE(ocx, nullptr);
  using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
  auto canUnloadNow = reinterpret_cast<CanUnloadFn>(reinterpret_cast<void*>(::GetProcAddress(ocx, "DllCanUnloadNow")));
  ASSERT_NE(canUnloadNow, nullptr);
  EXPECT_TRUE(PumpUntil([&] { return canUnloadNow() == S_OK; }, 60000)) << "the requests' notices never ended";
  ::CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_EQ(::GetModuleHandleW(OcxPath().c_str()), ocx) << "a late notice would run code that is gone";
  AxWinHost again(win32::kProgId);
  EXPECT_NE(again.form(), nullptr) << "and it still works";
}

// ---- the installed package ----
// Run by scripts/test-package while the x64 package is installed (it sets
// TALLOWIN_PACKAGE_INSTALLED); skipped otherwise. The control comes from the
// package's registration, not from beside this program.

// Created by ProgID in atl.dll's container with no TALLOWIN_INVENTORY_SERVER:
// the installed, signed ocx loads and its initial upload reaches the server
// the package's INVENTORYSERVER set.
TEST(InstalledPackage, ControlByProgIdSendsItsRecordToTheInstalledServer) {
  if (!::GetEnvironmentVariableW(L"TALLOWIN_PACKAGE_INSTALLED", nullptr, 0))
    GTEST_SKIP() << "run by scripts/test-package with the package installed";
  const std::string peer = TestService("PEER");
  ASSERT_FALSE(peer.empty()) << "TALLOWIN_TEST_PEER not set";
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
  const HRESULT ole = ::OleInitialize(nullptr);
  const int before = LastStoredRecord(peer).count;
  {
    AxWinHost host(win32::kProgId);
    ASSERT_NE(host.form(), nullptr) << "the installed control did not start";
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(reinterpret_cast<HMODULE>(::GetClassLongPtrW(host.form(), GCLP_HMODULE)), path, MAX_PATH);
    EXPECT_EQ(_wcsicmp(path, L"C:\\Program Files\\Tallowin\\tallowin.ocx"), 0) << Utf8(path);
    EXPECT_TRUE(PumpUntil([&] { return LastStoredRecord(peer).count == before + 1; }, 30000))
        << "the initial upload stored no record";
  }
  if (SUCCEEDED(ole)) ::OleUninitialize();
}

}  // namespace
}  // namespace tallowin
