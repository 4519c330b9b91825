// tallowin.ocx, registered, in atl.dll's AtlAxWin container: created by
// ProgID and CLSID, unloaded by COM, many create/destroy cycles, the feature
// lines under Windows 10, and the initial upload to the inventory service.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <cstdio>
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


// WinHTTP runs the ocx's code on a thread of its own up to and past its last
// notice for a request, which no thread of the ocx can see end: once an
// upload has handed WinHTTP that code, the ocx stays mapped though its count
// falls to zero and COM lets it go.
TEST_F(InAtlAxWin, AfterAnUploadTheOcxOutlivesComsUnload) {
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
