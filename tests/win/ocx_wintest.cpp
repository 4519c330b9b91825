// tallowin.ocx as COM loads it, its object, both programs' version resources,
// regsvr32, and the registered ocx in atl.dll's container.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <objsafe.h>

#include <cstdio>
#include <optional>

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
    for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllInstall"})
      EXPECT_NE(::GetProcAddress(ocx, name), nullptr) << name << " not exported undecorated";
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
  ComPtr<IClassFactory> f;
  EXPECT_EQ(getClassObject(win32::kIidFrmMain, IID_IClassFactory, f.putVoid()), CLASS_E_CLASSNOTAVAILABLE);
  f = factory();
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

std::wstring NameOf(ITypeInfo* info) {
  BSTR b = nullptr;
  info->GetDocumentation(MEMBERID_NIL, &b, nullptr, nullptr, nullptr);
  const std::wstring out = b ? std::wstring(b, ::SysStringLen(b)) : L"";
  ::SysFreeString(b);
  return out;
}

// From its own type library: _frmMain, dual, without members; the control
// class frmMain with no events.
TEST_F(OcxModule, DescribesItselfFromItsOwnTypeLibrary) {
  ComPtr<IDispatch> object;
  ASSERT_EQ(factory()->CreateInstance(nullptr, IID_IDispatch, object.putVoid()), S_OK);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  EXPECT_EQ(NameOf(info.get()), L"_frmMain");
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == win32::kIidFrmMain && (attr->wTypeFlags & TYPEFLAG_FDUAL));
  info->ReleaseTypeAttr(attr);
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Refresh")};
  DISPID id = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
  ComPtr<IProvideClassInfo2> classInfo;
  ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo2, classInfo.putVoid()), S_OK);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(classInfo->GetClassInfo(coclass.put()), S_OK);
  EXPECT_EQ(NameOf(coclass.get()), L"frmMain");
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

TEST(VersionResources, BothProgramsNameTheProductAndVersionAndCarryTheIcon) {
  for (const wchar_t* file : {L"tallowin.ocx", L"tallowin.exe"}) {
    const std::wstring path = ProgramFolder() + file;
    DWORD ignored = 0;
    std::vector<BYTE> data(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data())) << Utf8(path);
    auto value = [&](const wchar_t* name) -> std::optional<std::wstring> {
      wchar_t* text = nullptr;
      UINT len = 0;
      const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
      if (!::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &len)) return std::nullopt;
      return std::wstring(text, len && text[len - 1] == L'\0' ? len - 1 : len);
    };
    EXPECT_EQ(value(L"ProductName"), std::optional<std::wstring>(L"Tallowin")) << Utf8(file);
    EXPECT_EQ(::ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0), 1u) << "the control's icon in " << Utf8(file);
    EXPECT_EQ(value(L"OriginalFilename"), std::optional<std::wstring>(file));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    wchar_t fromFixed[64];
    std::swprintf(fromFixed, 64, L"%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                  HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(value(L"ProductVersion").value_or(L""), fromFixed);
    EXPECT_EQ(value(L"OLESelfRegister").has_value(), file == std::wstring(L"tallowin.ocx"));
  }
}

// ---- registration ----

// What registering the ocx at ocxPath adds to a Classes tree, in the
// snapshot's form: every key of the registration table with the keys above
// it, and its values.
RegSnapshot ExpectedAdditions(const std::wstring& ocxPath, const RegSnapshot& before) {
  auto upper = [](std::wstring t) {
    ::CharUpperBuffW(t.data(), static_cast<DWORD>(t.size()));
    return t;
  };
  RegSnapshot out;
  const std::wstring folder = ocxPath.substr(0, ocxPath.find_last_of(L"\\/") + 1);
  for (const auto& e : win32::RegistrationEntries(ocxPath, folder, win32::ModuleBits::Bits64)) {
    const std::wstring key = upper(e.key);
    for (size_t at = key.find(L'\\'); at != std::wstring::npos; at = key.find(L'\\', at + 1))
      if (!before.count(key.substr(0, at + 1))) out[key.substr(0, at + 1)] = L"";
    out[key + L"\\"] = L"";
    if (e.hasValue) out[key + L"\\:" + upper(e.name)] = L"1:" + e.data;
  }
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
    const RegSnapshot expected = ExpectedAdditions(RegisteredPath(), before[where]);
    EXPECT_EQ(diff(where).added, expected) << "written:\n" << Describe(diff(where).added) << "expected:\n" << Describe(expected);
    EXPECT_TRUE(diff(where).removedOrChanged.empty()) << Describe(diff(where).removedOrChanged);
    EXPECT_TRUE(diff(1 - where).added.empty()) << Describe(diff(1 - where).added);
    CLSID clsid{};
    if (where == 0) {  // Wine's COM sees only machine-wide classes
      EXPECT_EQ(::CLSIDFromProgID(win32::kProgId, &clsid), S_OK);
      EXPECT_TRUE(clsid == kClsidFrmMain);
    }
    const std::wstring uninstall = std::wstring(L"/u ") + installs[where];
    ASSERT_EQ(Regsvr32(uninstall).exitCode, 0);
    EXPECT_EQ(Regsvr32(uninstall).exitCode, 0) << "unregistering what is not registered is no failure";
    EXPECT_TRUE(diff(where).added.empty()) << "left behind:\n" << Describe(diff(where).added);
    EXPECT_TRUE(diff(where).removedOrChanged.empty()) << Describe(diff(where).removedOrChanged);
  }
  EXPECT_NE(Regsvr32(L"/s /n /i:everyone").exitCode, 0);
  EXPECT_TRUE(diff(0).added.empty());
  EXPECT_TRUE(diff(1).added.empty());
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

// By CLSID or ProgID it shows, sized by the container, and its tabs work;
// unloaded by COM it takes its window class along.
TEST_F(InAtlAxWin, CreatedByClsidOrProgIdItShowsAndUnloadsWithItsWindowClass) {
  EXPECT_NE(AxWinHost(win32::kClsidText).form(), nullptr);
  HMODULE ocx = nullptr;
  {
    AxWinHost host(win32::kProgId, 700, 520);
    ASSERT_NE(host.form(), nullptr) << "no TallowinFrmMain window in the AtlAxWin container";
    ocx = ::GetModuleHandleW(OcxPath().c_str());
    EXPECT_EQ(reinterpret_cast<HMODULE>(::GetClassLongPtrW(host.form(), GCLP_HMODULE)), ocx) << "the ocx's window";
    RECT form, box;
    ::GetWindowRect(host.form(), &form);
    ::GetClientRect(host.container(), &box);
    EXPECT_EQ(form.right - form.left, box.right) << "sized by the container's rectangle";
    EXPECT_EQ(form.bottom - form.top, box.bottom);
    PumpMessages();
    ClickTab(host.form(), 0);
    const auto os = ListLines(host.list());
    ASSERT_GT(os.size(), 3u);
    EXPECT_EQ(os[0].rfind("Operating System Name: ", 0), 0u) << os[0];
    ClickTab(host.form(), 2);
    EXPECT_EQ(ListLines(host.list()).at(0).rfind("Processor Architecture: ", 0), 0u);
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

}  // namespace
}  // namespace tallowin
