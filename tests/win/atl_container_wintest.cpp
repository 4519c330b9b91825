// tallowin.ocx, registered, in atl.dll's AtlAxWin container: created by
// ProgID and CLSID, unloaded by COM, and the initial upload to the inventory service, after which the ocx stays mapped.
// The unload test must run before any upload: after one, the ocx is pinned.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <string>

#include "win/support/activex_support.h"
#include "win/support/service_api.h"
#include "win32/handles.h"
#include "win32/tallowin_ids.h"
#include "win32/frm_main.h"

namespace tallowin {
namespace {

using namespace wintest;
using win32::ComPtr;
using win32::OleScope;

class InAtlAxWin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registered = Regsvr32(L"/s").exitCode == 0; }
  static void TearDownTestSuite() { Regsvr32(L"/u /s"); }
  void SetUp() override { ASSERT_TRUE(registered); }
  static inline bool registered = false;
  OleScope ole;
};

TEST_F(InAtlAxWin, CreatedByProgIdOrClsidItShowsAndItsTabsWork) {
  EXPECT_NE(AxWinHost(win32::kClsidText).form(), nullptr);
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
  EXPECT_EQ(os[0].rfind("Operating System Name: ", 0), 0u) << os[0];

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

// The control's initialisation sends one record, then shows its processor
// lines and its tabs work. WinHTTP runs the ocx's code on a thread of its own
// up to and past its last notice for a request, which no thread of the ocx
// can see end: once an upload has handed WinHTTP that code, the ocx stays
// mapped though its count falls to zero and COM lets it go.
TEST_F(InAtlAxWin, AfterItsInitialUploadTheOcxOutlivesComsUnload) {
  const std::string peer = TestService("PEER");
  if (peer.empty()) GTEST_SKIP() << "TALLOWIN_TEST_PEER not set";
  const int before = LastStoredRecord(peer).count;
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", Wide(peer).c_str());
  {
    AxWinHost host(win32::kProgId);
    ASSERT_NE(host.form(), nullptr);
    EXPECT_TRUE(PumpUntil([&] { return LastStoredRecord(peer).count == before + 1; }, 30000));
    PumpMessages();
    EXPECT_EQ(ListLines(host.list()).at(0).rfind("Processor Architecture: ", 0), 0u);
    ClickTab(host.form(), 0);
    EXPECT_EQ(ListLines(host.list()).at(0).rfind("Operating System Name: ", 0), 0u);
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
