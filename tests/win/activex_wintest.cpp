// The control as an ActiveX control under Wine: tallowin.ocx's exports and
// registration through regsvr32, the object's COM interfaces, activation in
// containers (our own with ambient properties, and atl.dll's AtlAxWin by
// ProgID), lifetime during an upload or a dispatch, resources over many
// create/destroy cycles, and tallowin.exe hosting the same control.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <objsafe.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "win/support/activex_support.h"
#include "win32/activex_control.h"
#include "win32/frm_main.h"
#include "win32/module.h"
#include "win32/tallowin_ids.h"

namespace tallowin {
namespace {

using namespace wintest;
using win32::kClsidFrmMain;
using win32::kIidFrmMain;
using win32::kLibidTallowin;

// A COM pointer that releases itself.
template <typename T>
class Com {
 public:
  Com() = default;
  explicit Com(T* p) : p_(p) {}
  ~Com() { reset(); }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  void reset() {
    if (T* p = p_) {
      p_ = nullptr;
      p->Release();
    }
  }
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }
  template <typename U>
  HRESULT as(REFIID iid, Com<U>& out) const {
    return p_->QueryInterface(iid, out.putVoid());
  }

 private:
  T* p_ = nullptr;
};

struct OleScope {
  HRESULT hr = ::OleInitialize(nullptr);
  ~OleScope() {
    if (SUCCEEDED(hr)) ::OleUninitialize();
  }
};

std::wstring Text(BSTR b) { return b ? std::wstring(b, ::SysStringLen(b)) : std::wstring(); }

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[128] = {};
  ::GetClassNameW(hwnd, name, 128);
  return name;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// The type information an object gives through IDispatch and
// IProvideClassInfo: _frmMain, dual and empty, in the library Tallowin;
// the class frmMain with _frmMain as its default and no source interface.
void ExpectTypeInfo(IUnknown* object) {
  Com<IDispatch> dispatch;
  ASSERT_EQ(object->QueryInterface(IID_IDispatch, dispatch.putVoid()), S_OK);
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  Com<ITypeInfo> info;
  ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  BSTR name = nullptr;
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), L"_frmMain");
  ::SysFreeString(name);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == kIidFrmMain);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  info->ReleaseTypeAttr(attr);
  Com<ITypeLib> lib;
  UINT index = 0;
  ASSERT_EQ(info->GetContainingTypeLib(lib.put(), &index), S_OK);
  TLIBATTR* libAttr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&libAttr), S_OK);
  EXPECT_TRUE(libAttr->guid == kLibidTallowin);
  EXPECT_EQ(libAttr->wMajorVerNum, 1);
  EXPECT_EQ(libAttr->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(libAttr);
  ASSERT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), L"Tallowin");
  ::SysFreeString(name);

  // No members: every name and every DISPID is unknown.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"Refresh")};
  DISPID id = 0;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
  DISPPARAMS none{};
  VARIANT result;
  ::VariantInit(&result);
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(dispatch->Invoke(1, IID_IUnknown, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);

  Com<IProvideClassInfo2> classInfo;
  ASSERT_EQ(object->QueryInterface(IID_IProvideClassInfo2, classInfo.putVoid()), S_OK);
  Com<ITypeInfo> coclass;
  ASSERT_EQ(classInfo->GetClassInfo(coclass.put()), S_OK);
  ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), L"frmMain");
  ::SysFreeString(name);
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(attr->guid == kClsidFrmMain);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCONTROL);
  const WORD implemented = attr->cImplTypes;
  coclass->ReleaseTypeAttr(attr);
  ASSERT_EQ(implemented, 1);
  INT flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(0, &flags), S_OK);
  EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
  EXPECT_FALSE(flags & IMPLTYPEFLAG_FSOURCE);
  GUID source = kClsidFrmMain;
  EXPECT_EQ(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), E_FAIL);
  EXPECT_TRUE(source == GUID_NULL);
}

// ---- tallowin.ocx loaded as COM loads it ----

class OcxModule : public ::testing::Test {
 protected:
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
  OleScope ole;
  HMODULE ocx = nullptr;
  GetClassObjectFn getClassObject = nullptr;
  CanUnloadFn canUnloadNow = nullptr;

  template <typename Fn>
  Fn proc(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(ocx, name)));
  }
  void SetUp() override {
    ocx = ::LoadLibraryW(OcxPath().c_str());
    ASSERT_NE(ocx, nullptr);
    getClassObject = proc<GetClassObjectFn>("DllGetClassObject");
    canUnloadNow = proc<CanUnloadFn>("DllCanUnloadNow");
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnloadNow, nullptr);
  }
  void TearDown() override {
    if (ocx) ::FreeLibrary(ocx);
  }
};

TEST_F(OcxModule, ExportsTheServerEntryPointsUndecorated) {
  for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer",
                           "DllInstall"})
    EXPECT_NE(::GetProcAddress(ocx, name), nullptr) << name;
}

TEST_F(OcxModule, StaysLoadedWhileAnyObjectOrLockExists) {
  ASSERT_EQ(canUnloadNow(), S_OK);
  Com<IClassFactory> factory;
  EXPECT_EQ(getClassObject(kIidFrmMain, IID_IClassFactory, factory.putVoid()), CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(getClassObject(kClsidFrmMain, IID_IClassFactory, factory.putVoid()), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);

  Com<IUnknown> object;
  Com<IUnknown> outer;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, outer.putVoid()), S_OK);
  EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, object.putVoid()), CLASS_E_NOAGGREGATION);
  outer.reset();
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, object.putVoid()), S_OK);
  factory.reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "an object is alive";
  object.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);

  ASSERT_EQ(getClassObject(kClsidFrmMain, IID_IClassFactory, factory.putVoid()), S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE) << "a server lock is held";
  ASSERT_EQ(getClassObject(kClsidFrmMain, IID_IClassFactory, factory.putVoid()), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  // An unlock too many must not cancel the hold of a live object.
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, object.putVoid()), S_OK);
  factory.reset();
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  object.reset();
  EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(OcxModule, DescribesItselfFromItsOwnTypeLibrary) {
  Com<IClassFactory> factory;
  ASSERT_EQ(getClassObject(kClsidFrmMain, IID_IClassFactory, factory.putVoid()), S_OK);
  Com<IUnknown> object;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.putVoid()), S_OK);
  ExpectTypeInfo(object.get());
}

TEST_F(OcxModule, RegistrationCommandsOtherThanUserAreRefused) {
  using InstallFn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
  auto install = proc<InstallFn>("DllInstall");
  ASSERT_NE(install, nullptr);
  const RegSnapshot before = SnapshotTree(HKEY_CURRENT_USER, L"Software\\Classes");
  EXPECT_EQ(install(TRUE, L"everyone"), E_INVALIDARG);
  EXPECT_EQ(install(FALSE, L"users"), E_INVALIDARG);
  const RegDiff d = Diff(before, SnapshotTree(HKEY_CURRENT_USER, L"Software\\Classes"));
  EXPECT_TRUE(d.added.empty());
  EXPECT_TRUE(d.removedOrChanged.empty());
}

TEST(VersionResources, BothProgramsNameTheProductAndVersion) {
  struct Case {
    const wchar_t* file;
    const wchar_t* originalName;
    bool selfRegister;
  };
  for (const Case& c : {Case{L"tallowin.ocx", L"tallowin.ocx", true}, Case{L"tallowin.exe", L"tallowin.exe", false}}) {
    const std::wstring path = ProgramFolder() + c.file;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << Utf8(path);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, data.data()));
    auto value = [&](const wchar_t* name) -> std::optional<std::wstring> {
      wchar_t* text = nullptr;
      UINT len = 0;
      const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
      if (!::VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&text), &len)) return std::nullopt;
      return std::wstring(text, len && text[len - 1] == L'\0' ? len - 1 : len);
    };
    EXPECT_EQ(value(L"ProductName"), std::optional<std::wstring>(L"Tallowin")) << Utf8(c.file);
    EXPECT_EQ(value(L"OriginalFilename"), std::optional<std::wstring>(c.originalName));
    EXPECT_TRUE(value(L"FileDescription").has_value());
    const auto version = value(L"ProductVersion");
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(*version, value(L"FileVersion").value_or(L""));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &len));
    wchar_t fromFixed[64];
    std::swprintf(fromFixed, 64, L"%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                  HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(*version, fromFixed);
    EXPECT_EQ(value(L"OLESelfRegister").has_value(), c.selfRegister);
  }
}

// ---- regsvr32 ----

// What registration writes, relative to ...\Software\Classes; "$" is the
// ocx's path, "$dir" its folder.
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
  const std::wstring dir = ocxPath.substr(0, ocxPath.find_last_of(L"\\/"));
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
  Com<ITypeLib> lib;
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

// ---- the object itself (created from the code linked into this program) ----

class ControlObject : public ::testing::Test {
 protected:
  OleScope ole;
  Com<IUnknown> object;
  void SetUp() override {
    ASSERT_EQ(win32::CreateFrmMainObject(nullptr, IID_IUnknown, object.putVoid()), S_OK);
  }
};

TEST_F(ControlObject, AnswersItsInterfacesAndNoOthers) {
  struct Case {
    const char* name;
    const IID& iid;
  };
  const Case implemented[] = {
      {"IOleObject", IID_IOleObject},
      {"IOleWindow", IID_IOleWindow},
      {"IOleInPlaceObject", IID_IOleInPlaceObject},
      {"IOleInPlaceActiveObject", IID_IOleInPlaceActiveObject},
      {"IOleControl", IID_IOleControl},
      {"IViewObject", IID_IViewObject},
      {"IViewObject2", IID_IViewObject2},
      {"IPersist", IID_IPersist},
      {"IPersistStreamInit", IID_IPersistStreamInit},
      {"IPersistPropertyBag", IID_IPersistPropertyBag},
      {"IDispatch", IID_IDispatch},
      {"_frmMain", kIidFrmMain},
      {"IProvideClassInfo", IID_IProvideClassInfo},
      {"IProvideClassInfo2", IID_IProvideClassInfo2},
      {"IObjectSafety", IID_IObjectSafety},
  };
  for (const Case& c : implemented) {
    Com<IUnknown> p;
    ASSERT_EQ(object->QueryInterface(c.iid, p.putVoid()), S_OK) << c.name;
    Com<IUnknown> identity;
    ASSERT_EQ(p->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
    EXPECT_EQ(identity.get(), object.get()) << c.name;
  }
  const Case others[] = {
      {"IConnectionPointContainer", IID_IConnectionPointContainer},
      {"IQuickActivate", IID_IQuickActivate},
      {"IOleInPlaceObjectWindowless", IID_IOleInPlaceObjectWindowless},
      {"IViewObjectEx", IID_IViewObjectEx},
      {"IPersistStorage", IID_IPersistStorage},
      {"IPersistStream", IID_IPersistStream},
      {"IDataObject", IID_IDataObject},
      {"IOleCache", IID_IOleCache},
      {"IRunnableObject", IID_IRunnableObject},
      {"ISpecifyPropertyPages", IID_ISpecifyPropertyPages},
      {"IMarshal", IID_IMarshal},
      {"IClassFactory", IID_IClassFactory},
  };
  for (const Case& c : others) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(c.iid, &p), E_NOINTERFACE) << c.name;
    EXPECT_EQ(p, nullptr) << c.name;
  }
}

TEST_F(ControlObject, DescribesItselfThroughTheTypeLibrary) { ExpectTypeInfo(object.get()); }

TEST_F(ControlObject, IsSafeForScriptingAndInitialising) {
  Com<IObjectSafety> safety;
  ASSERT_EQ(object->QueryInterface(IID_IObjectSafety, safety.putVoid()), S_OK);
  const DWORD both = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
  for (const IID* iid : {&IID_IDispatch, &IID_IPersistStreamInit, &IID_IPersistPropertyBag}) {
    DWORD supported = 0, enabled = 0;
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(*iid, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, both);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(*iid, both, both), S_OK);
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(*iid, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, both);
  }
  DWORD supported = 1, enabled = 1;
  EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IConnectionPointContainer, &supported, &enabled), E_NOINTERFACE);
  EXPECT_EQ(supported, 0u);
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IConnectionPointContainer, both, both), E_NOINTERFACE);
  // An option it does not know is not granted.
  EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0x80, 0x80), E_FAIL);
}

// A property bag that counts what a control reads or writes.
class CountingBag : public IPropertyBag {
 public:
  int reads = 0, writes = 0;
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    *out = (riid == IID_IUnknown || riid == IID_IPropertyBag) ? static_cast<IPropertyBag*>(this) : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(LPCOLESTR, VARIANT*, IErrorLog*) override {
    ++reads;
    return E_INVALIDARG;
  }
  STDMETHODIMP Write(LPCOLESTR, VARIANT*) override {
    ++writes;
    return S_OK;
  }
};

TEST_F(ControlObject, PersistenceSucceedsAndKeepsNothing) {
  Com<IPersistStreamInit> stream;
  ASSERT_EQ(object->QueryInterface(IID_IPersistStreamInit, stream.putVoid()), S_OK);
  EXPECT_EQ(stream->InitNew(), S_OK);
  CLSID clsid{};
  EXPECT_EQ(stream->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(clsid == kClsidFrmMain);
  EXPECT_EQ(stream->IsDirty(), S_FALSE);
  Com<IStream> memory;
  ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, memory.put()), S_OK);
  EXPECT_EQ(stream->Save(memory.get(), TRUE), S_OK);
  STATSTG stat{};
  ASSERT_EQ(memory->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 0u);
  EXPECT_EQ(stream->Load(memory.get()), S_OK);
  ULARGE_INTEGER max{};
  max.QuadPart = 7;
  EXPECT_EQ(stream->GetSizeMax(&max), S_OK);
  EXPECT_EQ(max.QuadPart, 0u);

  Com<IPersistPropertyBag> bag;
  ASSERT_EQ(object->QueryInterface(IID_IPersistPropertyBag, bag.putVoid()), S_OK);
  CountingBag counting;
  EXPECT_EQ(bag->InitNew(), S_OK);
  EXPECT_EQ(bag->Load(&counting, nullptr), S_OK);
  EXPECT_EQ(bag->Save(&counting, TRUE, TRUE), S_OK);
  EXPECT_EQ(counting.reads, 0);
  EXPECT_EQ(counting.writes, 0);
}

TEST_F(ControlObject, DrawsItsOutlineAndNameWhereAskedForAPicture) {
  Com<IViewObject2> view;
  ASSERT_EQ(object->QueryInterface(IID_IViewObject2, view.putVoid()), S_OK);
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 200, 100);
  ::ReleaseDC(nullptr, screen);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  RECT all{0, 0, 200, 100};
  ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  RECTL bounds{20, 10, 180, 90};
  EXPECT_EQ(view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), DV_E_DVASPECT);
  ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
  auto dark = [&](int x, int y) { return ::GetPixel(dc, x, y) == RGB(0, 0, 0); };
  EXPECT_TRUE(dark(20, 10) && dark(179, 89) && dark(100, 10) && dark(20, 50)) << "the outline";
  EXPECT_FALSE(dark(10, 5) || dark(190, 95)) << "nothing outside the bounds";
  int inked = 0;
  for (int y = 30; y < 70; ++y)
    for (int x = 40; x < 160; ++x) inked += dark(x, y);
  EXPECT_GT(inked, 20) << "the name in the middle";
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);

  SIZEL size{};
  EXPECT_EQ(view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), S_OK);
  EXPECT_GT(size.cx, 0);
  EXPECT_GT(size.cy, 0);
}

// ---- activation in a container of our own ----

// The upload is another part of the program; here a stand-in counts runs
// and leaves one line, as the real one leaves its processor lines.
class Activation : public ::testing::Test {
 protected:
  OleScope ole;
  HWND host = nullptr;
  TestSite* site = nullptr;
  Com<IOleObject> control;
  int uploads = 0;
  std::function<void(ProfileControl&)> duringUpload;

  void SetUp() override {
    win32::SetUploadAction([this](ProfileControl& c) {
      ++uploads;
      c.list().clear();
      c.list().append("uploaded");
      if (duringUpload) duringUpload(c);
    });
    host = CreateHiddenHost();
    ASSERT_NE(host, nullptr);
    site = new TestSite(host);
    ASSERT_EQ(win32::CreateFrmMainObject(nullptr, IID_IOleObject, control.putVoid()), S_OK);
  }
  void TearDown() override {
    if (control) {
      control->Close(OLECLOSE_NOSAVE);
      control->SetClientSite(nullptr);
      control.reset();
    }
    site->releaseControl();
    site->Release();
    if (host) ::DestroyWindow(host);
    win32::SetUploadAction({});
    OnHostMessage = nullptr;
    PumpMessages();
  }
  HRESULT doVerb(LONG verb, const RECT* pos = nullptr) {
    return control->DoVerb(verb, nullptr, site, 0, host, pos ? pos : &site->pos);
  }
  HWND window() {
    Com<IOleWindow> w;
    HWND hwnd = nullptr;
    if (SUCCEEDED(control.as(IID_IOleWindow, w))) w->GetWindow(&hwnd);
    return hwnd;
  }
  // Where hwnd lies in the host's client area.
  bool placedAt(HWND hwnd, const RECT& expected) {
    RECT r;
    ::GetWindowRect(hwnd, &r);
    ::MapWindowPoints(nullptr, host, reinterpret_cast<POINT*>(&r), 2);
    return ::EqualRect(&r, &expected) != FALSE;
  }
};

TEST_F(Activation, UploadRunsOnceInRunModeAndNeverInDesignMode) {
  struct Case {
    const char* name;
    bool siteFirst;  // SetClientSite before InitNew
    bool initNew;
    bool ambient;  // the site has ambient properties
    bool userMode;
    int uploads;
  };
  const Case cases[] = {
      {"InitNew, then the site, no ambient properties", false, true, false, true, 1},
      {"the site, then InitNew, no ambient properties", true, true, false, true, 1},
      {"no InitNew at all", true, false, false, true, 1},
      {"UserMode true", true, true, true, true, 1},
      {"UserMode false", true, true, true, false, 0},
      {"UserMode false, InitNew first", false, true, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uploads = 0;
    ASSERT_EQ(win32::CreateFrmMainObject(nullptr, IID_IOleObject, control.putVoid()), S_OK);
    site->ambient = c.ambient;
    site->userMode = c.userMode;
    Com<IPersistStreamInit> init;
    ASSERT_EQ(control.as(IID_IPersistStreamInit, init), S_OK);
    if (c.initNew && !c.siteFirst) {
      EXPECT_EQ(init->InitNew(), S_OK);
    }
    ASSERT_EQ(control->SetClientSite(site), S_OK);
    if (c.initNew && c.siteFirst) {
      EXPECT_EQ(init->InitNew(), S_OK);
    }

    ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
    HWND form = window();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(ClassOf(form), L"TallowinFrmMain");
    EXPECT_EQ(::GetParent(form), host);
    EXPECT_EQ(uploads, 0) << "the upload waits for the message loop";
    PumpMessages();
    EXPECT_EQ(uploads, c.uploads);
    const auto lines = ListLines(::GetDlgItem(form, win32::kIdLstInfo));
    EXPECT_EQ(lines, c.uploads ? std::vector<std::string>{"uploaded"} : std::vector<std::string>{});

    // Activated again, deactivated and activated anew: still once.
    EXPECT_EQ(doVerb(OLEIVERB_UIACTIVATE), S_OK);
    EXPECT_EQ(site->uiActivations, 1);
    Com<IOleInPlaceObject> inPlace;
    ASSERT_EQ(control.as(IID_IOleInPlaceObject, inPlace), S_OK);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_FALSE(::IsWindow(form));
    EXPECT_EQ(window(), nullptr);
    EXPECT_EQ(site->inPlaceDeactivations, 1);
    ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
    PumpMessages();
    EXPECT_EQ(uploads, c.uploads);

    EXPECT_EQ(control->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(window(), nullptr);
    control->SetClientSite(nullptr);
    control.reset();
    site->inPlaceActivations = site->inPlaceDeactivations = site->uiActivations = 0;
  }
}

TEST_F(Activation, LeavingDesignModeRunsTheUpload) {
  site->ambient = true;
  site->userMode = false;
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 0);
  Com<IOleControl> ole;
  ASSERT_EQ(control.as(IID_IOleControl, ole), S_OK);
  site->userMode = true;
  EXPECT_EQ(ole->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 1);
  EXPECT_EQ(ole->OnAmbientPropertyChange(DISPID_UNKNOWN), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 1);
}

TEST_F(Activation, AnUploadNotYetRunBeforeDeactivationRunsOnTheNextActivation) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  Com<IOleInPlaceObject> inPlace;
  ASSERT_EQ(control.as(IID_IOleInPlaceObject, inPlace), S_OK);
  EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);  // before the message loop ran
  PumpMessages();
  EXPECT_EQ(uploads, 0);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 1);
}

TEST_F(Activation, AWindowThatWentWithItsParentIsMadeAnewOnTheNextActivation) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  HWND first = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 640, 480, host, nullptr, nullptr,
                                 nullptr);
  site->window = first;
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 1);
  ::DestroyWindow(first);  // the container never told the control
  EXPECT_EQ(window(), nullptr);
  site->window = host;
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  HWND form = window();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(::GetParent(form), host);
  PumpMessages();
  EXPECT_EQ(uploads, 1) << "still once for the object";
}

TEST_F(Activation, SizedFromDoVerbAndObjectRectsNeverFromTheExtent) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  const RECT pos{10, 20, 410, 320};
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE, &pos), S_OK);
  HWND form = window();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(placedAt(form, pos));

  // An extent in whatever units the container uses changes nothing shown.
  SIZEL extent{100000, 100000};
  EXPECT_EQ(control->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_TRUE(placedAt(form, pos));
  SIZEL back{};
  EXPECT_EQ(control->GetExtent(DVASPECT_CONTENT, &back), S_OK);
  EXPECT_EQ(back.cx, 100000);
  EXPECT_EQ(control->SetExtent(DVASPECT_ICON, &extent), DV_E_DVASPECT);

  Com<IOleInPlaceObject> inPlace;
  ASSERT_EQ(control.as(IID_IOleInPlaceObject, inPlace), S_OK);
  const RECT moved{5, 6, 305, 206};
  EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
  EXPECT_TRUE(placedAt(form, moved));
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(::GetWindowRgn(form, region), ERROR) << "not clipped";

  // A clip rectangle that cuts the control: only the inside shows.
  const RECT clip{5, 6, 105, 56};
  EXPECT_EQ(inPlace->SetObjectRects(&moved, &clip), S_OK);
  ASSERT_EQ(::GetWindowRgn(form, region), SIMPLEREGION);
  RECT box;
  ::GetRgnBox(region, &box);
  const RECT visible{0, 0, 100, 50};
  EXPECT_TRUE(::EqualRect(&box, &visible));
  EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
  EXPECT_EQ(::GetWindowRgn(form, region), ERROR) << "the clip is lifted again";
  ::DeleteObject(region);
}

TEST_F(Activation, TabAccessKeysReachTheControlThroughTheContainer) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_UIACTIVATE), S_OK);
  PumpMessages();
  HWND form = window();
  ASSERT_NE(form, nullptr);
  HWND list = ::GetDlgItem(form, win32::kIdLstInfo);
  Com<IOleInPlaceActiveObject> active;
  ASSERT_EQ(control.as(IID_IOleInPlaceActiveObject, active), S_OK);

  MSG msg{::GetDlgItem(form, win32::kIdTabProfile), WM_SYSCHAR, L'o', 0, 0, {}};
  EXPECT_EQ(active->TranslateAccelerator(&msg), S_OK);
  ASSERT_FALSE(ListLines(list).empty());
  EXPECT_TRUE(StartsWith(ListLines(list)[0], "Operating System Name: "));
  msg.wParam = L'z';
  EXPECT_EQ(active->TranslateAccelerator(&msg), S_FALSE);
  MSG tab{::GetDlgItem(form, win32::kIdCommand1), WM_KEYDOWN, VK_TAB, 0, 0, {}};
  ::SetFocus(tab.hwnd);
  EXPECT_EQ(active->TranslateAccelerator(&tab), S_OK);
  EXPECT_NE(::GetFocus(), tab.hwnd) << "Tab moves on to the next control";
  MSG plain{::GetDlgItem(form, win32::kIdTxtDesc), WM_KEYDOWN, 'A', 0, 0, {}};
  EXPECT_EQ(active->TranslateAccelerator(&plain), S_FALSE) << "typing is the container's to dispatch";
  MSG elsewhere{host, WM_SYSCHAR, L'o', 0, 0, {}};
  EXPECT_EQ(active->TranslateAccelerator(&elsewhere), S_FALSE) << "not a message for the control";

  Com<IOleControl> ole;
  ASSERT_EQ(control.as(IID_IOleControl, ole), S_OK);
  CONTROLINFO info{};
  info.cb = sizeof(info);
  ASSERT_EQ(ole->GetControlInfo(&info), S_OK);
  EXPECT_NE(info.hAccel, nullptr);
  EXPECT_EQ(info.cAccel, 6) << "&OS &CPU &Memory &Network &UI &Printers";
  std::vector<ACCEL> keys(info.cAccel);
  ASSERT_EQ(::CopyAcceleratorTableW(info.hAccel, keys.data(), info.cAccel), info.cAccel);
  EXPECT_EQ(keys[0].key, 'O');
  EXPECT_TRUE(keys[0].fVirt & FALT);
  ClickTab(form, 1);  // Programs: the OS lines go
  MSG mnemonic{host, WM_SYSKEYDOWN, 'O', 0, 0, {}};
  EXPECT_EQ(ole->OnMnemonic(&mnemonic), S_OK);
  ASSERT_FALSE(ListLines(list).empty());
  EXPECT_TRUE(StartsWith(ListLines(list)[0], "Operating System Name: "));
}

TEST_F(Activation, ReleasedDuringItsUploadItStaysUntilTheUploadReturns) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  HWND form = window();
  site->control = control.detach();  // the container's is now the only reference
  bool heldDuring = false, windowGoneDuring = false;
  duringUpload = [&](ProfileControl& c) {
    site->releaseControl();  // the container lets go in the middle of the upload
    heldDuring = win32::ModuleInUse();
    windowGoneDuring = !::IsWindow(form);
    c.list().append("still here");  // the control itself is alive; its window is not touched
  };
  PumpMessages();
  EXPECT_EQ(uploads, 1);
  EXPECT_TRUE(heldDuring) << "the module must stay while the upload is on the stack";
  EXPECT_TRUE(windowGoneDuring);
  EXPECT_FALSE(win32::ModuleInUse()) << "everything went once the upload returned";
}

TEST_F(Activation, ReleasedDuringADispatchItsWindowGoesSafely) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  PumpMessages();
  HWND form = window();
  site->control = control.detach();
  OnHostMessage = [&] { site->releaseControl(); };
  // Handled inside the dispatch's first yield.
  ::PostMessageW(host, WM_APP, 0, 0);
  ClickTab(form, 0);
  EXPECT_FALSE(::IsWindow(form));
  EXPECT_FALSE(win32::ModuleInUse());
}

// ---- tallowin.ocx, registered, in atl.dll's AtlAxWin ----

class InAtlAxWin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registered = Regsvr32(L"/s").exitCode == 0; }
  static void TearDownTestSuite() { Regsvr32(L"/u /s"); }
  void SetUp() override { ASSERT_TRUE(registered); }
  static inline bool registered = false;
  OleScope ole;
};

TEST_F(InAtlAxWin, CreatedByProgIdItShowsAndItsTabsWork) {
  AxWinHost host(win32::kProgId, 700, 520);
  ASSERT_NE(host.form(), nullptr) << "no TallowinFrmMain window in the AtlAxWin container";
  EXPECT_EQ(reinterpret_cast<HMODULE>(::GetClassLongPtrW(host.form(), GCLP_HMODULE)),
            ::GetModuleHandleW(OcxPath().c_str()))
      << "the window is the ocx's";
  RECT form, box;
  ::GetWindowRect(host.form(), &form);
  ::GetClientRect(host.container(), &box);
  EXPECT_EQ(form.right - form.left, box.right) << "sized by the container's rectangle";
  EXPECT_EQ(form.bottom - form.top, box.bottom);

  PumpMessages();
  ClickTab(host.form(), 0);
  const auto os = ListLines(host.list());
  ASSERT_GT(os.size(), 3u);
  EXPECT_TRUE(StartsWith(os[0], "Operating System Name: ")) << os[0];

  ClickTab(host.form(), 2);
  const auto cpu = ListLines(host.list());
  EXPECT_TRUE(cpu.empty() || cpu[0] != os[0]) << "the CPU tab refills the list";
  EXPECT_EQ(::SendMessageW(::GetDlgItem(host.form(), win32::kIdTabProfile), TCM_GETCURSEL, 0, 0), 2);
  EXPECT_TRUE(::IsWindowEnabled(host.list()));
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(host.form(), win32::kIdTabProfile)));
}

TEST_F(InAtlAxWin, UnloadedByComItTakesItsWindowClassAlong) {
  {
    AxWinHost host(win32::kProgId);
    ASSERT_NE(host.form(), nullptr);
  }
  HMODULE ocx = ::GetModuleHandleW(OcxPath().c_str());
  ASSERT_NE(ocx, nullptr);
  ::CoFreeUnusedLibrariesEx(0, 0);
  ASSERT_EQ(::GetModuleHandleW(OcxPath().c_str()), nullptr) << "COM did not unload the ocx";
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  EXPECT_FALSE(::GetClassInfoExW(ocx, win32::FrmMain::ClassName(), &wc)) << "a class whose window procedure is gone";
  AxWinHost again(win32::kProgId);
  EXPECT_NE(again.form(), nullptr);
}

TEST_F(InAtlAxWin, CreatedByClsidToo) {
  AxWinHost host(win32::kClsidText);
  EXPECT_NE(host.form(), nullptr);
}

// Leaks show as growth per cycle; from the first tenth of 200 cycles (the
// ocx, the common controls and fonts load once) to the end, GDI and USER
// objects may grow by at most 10, handles by 20, private bytes by 2 MB.
TEST_F(InAtlAxWin, TwoHundredCreateDestroyCyclesStayBounded) {
  HWND top = CreateHiddenHost(760, 580);
  ASSERT_NE(top, nullptr);
  auto cycle = [&] {
    AxWinHost host(win32::kProgId, 700, 520, top);
    if (!host.form()) return false;
    PumpMessages();
    ClickTab(host.form(), 0);
    return !ListLines(host.list()).empty();
  };
  ProcessResources before;
  for (int i = 0; i < 200; ++i) {
    if (i == 20) before = MeasureResources();
    ASSERT_TRUE(cycle()) << "cycle " << i;
  }
  const ProcessResources after = MeasureResources();
  ::DestroyWindow(top);
  std::printf("200 cycles: GDI %ld -> %ld, USER %ld -> %ld, handles %ld -> %ld, private %lld -> %lld KB (%s)\n",
              before.gdi, after.gdi, before.user, after.user, before.handles, after.handles,
              before.privateBytes / 1024, after.privateBytes / 1024, after.sources.c_str());
  ExpectBoundedGrowth(before, after, 2LL * 1024 * 1024);
}

// With Wine's version set to Windows 10 for the container (a version that
// sets IsWin2000), the CPU tab after the OS tab shows the processor feature
// lines. Wine reads the version when a process starts, so the container is
// this program started again with the setting in place.
TEST_F(InAtlAxWin, FeatureLinesAfterOsUnderWindows10) {
  RegFixture version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\tallowin_wintests.exe");
  version.setString(L"", L"Version", L"win10");
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  ::SetEnvironmentVariableW(L"TALLOWIN_WINTEST_WIN10", L"1");
  const RunResult child =
      RunProgram(L"\"" + std::wstring(self) + L"\" --gtest_filter=ActiveXWindows10Container.*", 120000);
  ::SetEnvironmentVariableW(L"TALLOWIN_WINTEST_WIN10", nullptr);
  EXPECT_EQ(child.exitCode, 0) << child.out << child.err;
  EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
  for (const std::string& line : SplitLines(child.out))
    if (line.rfind("note: ", 0) == 0) std::printf("%s\n", line.c_str());
}

// Runs only inside the process that FeatureLinesAfterOsUnderWindows10 starts.
TEST(ActiveXWindows10Container, CpuTabAfterOsTabShowsTheFeatureLines) {
  wchar_t flag[8] = {};
  if (!::GetEnvironmentVariableW(L"TALLOWIN_WINTEST_WIN10", flag, 8)) GTEST_SKIP() << "started by another test";
  OleScope ole;
  AxWinHost host(win32::kProgId, 700, 520);
  ASSERT_NE(host.form(), nullptr);
  PumpMessages();
  ClickTab(host.form(), 0);
  const auto os = ListLines(host.list());
  ASSERT_FALSE(os.empty());
  EXPECT_EQ(os[0], "Operating System Name: Windows 10");
  ClickTab(host.form(), 2);
  const auto cpu = ListLines(host.list());
  const auto at = [&](const std::string& label) -> long {
    for (size_t i = 0; i < cpu.size(); ++i)
      if (StartsWith(cpu[i], label)) return static_cast<long>(i);
    return -1;
  };
  if (at("Processor Architecture: ") < 0) {
    // The processor section is not in this build yet: nothing to compare.
    std::printf("note: no processor lines in this build; the feature lines were not checked\n");
    return;
  }
  const char* features[] = {
      "Floating Point Emulated: ",    "Floating Point Precision Errata: ", "Compare & Exchange Double OP Available: ",
      "MMX Instructions Available: ", "XMMI Instructions Available: ",     "AMD 3D-Now Instructions Available: "};
  long previous = at("Processor Revision: ");
  ASSERT_GE(previous, 0);
  for (const char* label : features) {
    const long i = at(label);
    ASSERT_GT(i, previous) << label;
    const std::string answer = cpu[static_cast<size_t>(i)].substr(std::string(label).size());
    EXPECT_TRUE(answer == "Yes" || answer == "No") << cpu[static_cast<size_t>(i)];
    previous = i;
  }
  EXPECT_EQ(at("Number Of Processors: "), previous + 1);
  std::printf("note: the six feature lines follow the OS tab under Windows 10\n");
}

// ---- tallowin.exe ----

struct FoundWindows {
  DWORD pid;
  HWND top = nullptr;
};

BOOL CALLBACK findHost(HWND hwnd, LPARAM data) {
  auto* f = reinterpret_cast<FoundWindows*>(data);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid == f->pid && ClassOf(hwnd) == L"TallowinHost") {
    f->top = hwnd;
    return FALSE;
  }
  return TRUE;
}

TEST(TallowinExe, HostsTheControlThroughComInAnAtlContainer) {
  // Hidden: closing a visible window costs Wine seconds without a window manager.
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = L"\"" + ProgramFolder() + L"tallowin.exe\" window OS";
  ASSERT_TRUE(::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  FoundWindows found{pi.dwProcessId};
  HWND ax = nullptr, form = nullptr;
  std::vector<std::string> lines;
  PumpUntil(
      [&] {
        if (!found.top) ::EnumWindows(findHost, reinterpret_cast<LPARAM>(&found));
        if (found.top && !ax) ax = ::FindWindowExW(found.top, nullptr, L"AtlAxWin", nullptr);
        if (ax && !form) form = ::FindWindowExW(ax, nullptr, L"TallowinFrmMain", nullptr);
        if (form) lines = ListLines(::GetDlgItem(form, win32::kIdLstInfo));
        // The initial upload fills the list first; the OS tab's lines follow.
        return !lines.empty() && StartsWith(lines[0], "Operating System Name: ");
      },
      60000);
  EXPECT_NE(found.top, nullptr) << "no window";
  EXPECT_NE(ax, nullptr) << "no AtlAxWin container in the window";
  EXPECT_NE(form, nullptr) << "no control in the container";
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(StartsWith(lines[0], "Operating System Name: ")) << lines[0];
  if (found.top) ::PostMessageW(found.top, WM_CLOSE, 0, 0);
  EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  ::GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
  if (code == STILL_ACTIVE) ::TerminateProcess(pi.hProcess, 1);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
}

// The control's initialisation sends one record to the inventory service;
// afterwards its tabs work as in any other host.
TEST_F(InAtlAxWin, InitialUploadReachesTheInventoryService) {
  const std::string peer = TestService("PEER");
  if (peer.empty()) GTEST_SKIP() << "TALLOWIN_TEST_PEER not set";
  const int before = LastStoredRecord(peer).count;
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", Wide(peer).c_str());
  {
    AxWinHost host(win32::kProgId, 700, 520);
    ASSERT_NE(host.form(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return LastStoredRecord(peer).count == before + 1; }, 30000))
        << "the initial upload stored no record";
    PumpMessages();
    const auto afterUpload = ListLines(host.list());
    ASSERT_FALSE(afterUpload.empty());
    EXPECT_TRUE(StartsWith(afterUpload[0], "Processor Architecture: ")) << afterUpload[0];
    ClickTab(host.form(), 0);
    EXPECT_TRUE(StartsWith(ListLines(host.list())[0], "Operating System Name: "));
    ClickTab(host.form(), 2);
    EXPECT_TRUE(StartsWith(ListLines(host.list())[0], "Processor Architecture: "));
  }
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
  EXPECT_EQ(LastStoredRecord(peer).count, before + 1) << "one record, not more";
}

}  // namespace
}  // namespace tallowin
