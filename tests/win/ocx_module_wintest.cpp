// tallowin.ocx loaded as COM loads it: its exports, when it may be unloaded,
// the type information it gives, and the version resources of both programs.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "win/support/activex_support.h"
#include "win32/handles.h"
#include "win32/tallowin_ids.h"

namespace tallowin {
namespace {

using namespace wintest;
using win32::ComPtr;
using win32::OleScope;
using win32::kClsidFrmMain;
using win32::kIidFrmMain;

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
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(getClassObject(kIidFrmMain, IID_IClassFactory, factory.putVoid()), CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(getClassObject(kClsidFrmMain, IID_IClassFactory, factory.putVoid()), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);

  ComPtr<IUnknown> object;
  ComPtr<IUnknown> outer;
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
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(kClsidFrmMain, IID_IClassFactory, factory.putVoid()), S_OK);
  ComPtr<IUnknown> object;
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

}  // namespace
}  // namespace tallowin
