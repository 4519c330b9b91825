// Run by scripts/test-package while the x64 package is installed (it sets
// TALLOWIN_PACKAGE_INSTALLED); skipped otherwise. The control comes from the
// package's registration, not from beside this program.
#include <gtest/gtest.h>

#include "win/support/activex_support.h"
#include "win/support/service_api.h"

#include "win32/tallowin_ids.h"

namespace tallowin {
namespace {

using namespace wintest;

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
    AxWinHost host(win32::kProgId, 700, 520);
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
