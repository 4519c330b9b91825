// Long runs in one process: the same window, control and service used over
// and over. Leaks show as growth between the first tenth and the end; the
// bounds are 10 GDI objects, 10 USER objects, 20 handles and 4 MB of private
// bytes (the heap grows in steps of its own, which is no leak), so a leak of
// one object per dispatch or upload shows. The counts can be raised for a
// longer look: TALLOWIN_LONG_DISPATCHES (rounds over every tab, 250) and
// TALLOWIN_LONG_UPLOADS (100). Then the window closed while the control
// works, and tallowin.exe's own window.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "win/support/activex_support.h"
#include "win/support/win_support.h"
#include "win/support/service_api.h"

#include "control/form.h"
#include "control/profile_control.h"
#include "win32/frm_main.h"
#include "win32/upload_binding.h"

namespace tallowin {
namespace {

using wintest::ProcessResources;

int countFromEnv(const wchar_t* name, int fallback) {
  wchar_t text[16] = {};
  const DWORD n = ::GetEnvironmentVariableW(name, text, 16);
  if (n == 0 || n >= 16) return fallback;
  const int v = _wtoi(text);
  return v > 0 ? v : fallback;
}

// From the first tenth to the end.
void report(const char* what, int rounds, const ProcessResources& a, const ProcessResources& b) {
  std::printf("%s (%d): GDI %ld -> %ld, USER %ld -> %ld, handles %ld -> %ld, private %lld -> %lld KB (%s)\n", what,
              rounds, a.gdi, b.gdi, a.user, b.user, a.handles, b.handles, a.privateBytes / 1024, b.privateBytes / 1024,
              b.sources.c_str());
}

TEST(LongRun, EveryTabDispatchedOverAndOver) {
  const int rounds = countFromEnv(L"TALLOWIN_LONG_DISPATCHES", 250);
  HWND top = wintest::CreateHiddenHost(900, 700);
  ASSERT_NE(top, nullptr);
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0);
  ASSERT_NE(form, nullptr);
  HWND f = form->hwnd();
  HWND list = ::GetDlgItem(f, win32::kIdLstInfo);
  const int tabs = static_cast<int>(form::Tabs().size());
  // Every round shows each tab with as many lines as the first did.
  std::vector<LRESULT> lines(static_cast<size_t>(tabs), -1);
  ProcessResources tenth;
  for (int round = 0; round < rounds; ++round) {
    if (round == rounds / 10) tenth = wintest::MeasureResources();
    for (int t = 0; t < tabs; ++t) {
      wintest::ClickTab(f, t);
      const LRESULT n = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
      if (round == 0) lines[static_cast<size_t>(t)] = n;
      ASSERT_EQ(n, lines[static_cast<size_t>(t)]) << "round " << round << ", tab " << t;
    }
  }
  const ProcessResources end = wintest::MeasureResources();
  report("tab dispatches", rounds * tabs, tenth, end);
  ::DestroyWindow(top);
  wintest::ExpectBoundedGrowth(tenth, end, 4LL * 1024 * 1024);
}

TEST(LongRun, UploadsOverAndOver) {
  const std::string peer = wintest::TestService("PEER");
  if (peer.empty()) GTEST_SKIP() << "TALLOWIN_TEST_PEER not set";
  const int rounds = countFromEnv(L"TALLOWIN_LONG_UPLOADS", 100);
  HWND top = wintest::CreateHiddenHost(900, 700);
  ASSERT_NE(top, nullptr);
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0);
  ASSERT_NE(form, nullptr);
  auto control = form->control();
  const int stored = wintest::LastStoredRecord(peer).count;
  ASSERT_GE(stored, 0);
  ProcessResources tenth;
  for (int i = 0; i < rounds; ++i) {
    if (i == rounds / 10) tenth = wintest::MeasureResources();
    const UploadOutcome out = win32::RunInventoryUpload(*control, peer, true);
    ASSERT_TRUE(out.accepted) << "upload " << i << ": " << out.message;
  }
  const ProcessResources end = wintest::MeasureResources();
  report("uploads", rounds, tenth, end);
  ::DestroyWindow(top);
  EXPECT_EQ(wintest::LastStoredRecord(peer).count, stored + rounds) << "one record per upload, none lost";
  wintest::ExpectBoundedGrowth(tenth, end, 4LL * 1024 * 1024);
}

// ---- closing the window while the control works ----

HWND closeTarget = nullptr;
bool closePosted = false;
void CALLBACK closeOnTimer(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  if (closeTarget) closePosted = ::PostMessageW(closeTarget, WM_CLOSE, 0, 0) != 0;
}

// A click on Command1 starts the upload to a service that never answers; the
// host's window closes 300 ms later. The click returns once the exchange is
// cancelled (the worker is joined before it does), nothing of the form is
// touched after it is gone, and the process goes on: a new form works.
TEST(CloseWhileWorking, DuringAnUploadToASilentService) {
  const std::string silent = wintest::TestService("SILENT");
  if (silent.empty()) GTEST_SKIP() << "TALLOWIN_TEST_SILENT not set";
  HWND top = wintest::CreateHiddenHost(900, 700);
  auto upload = [silent](ProfileControl& c) { win32::RunInventoryUpload(c, silent, true, {}, wintest::kShortLimits); };
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0, win32::MakeControl(upload));
  ASSERT_NE(form, nullptr);
  HWND f = form->hwnd();
  closeTarget = top;
  closePosted = false;
  ::SetTimer(nullptr, 0, 300, closeOnTimer);
  ::SendMessageW(f, WM_COMMAND, MAKEWPARAM(win32::kIdCommand1, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(f, win32::kIdCommand1)));
  closeTarget = nullptr;
  EXPECT_TRUE(closePosted) << "the click returned before the close";
  EXPECT_FALSE(::IsWindow(top));
  HWND again = wintest::CreateHiddenHost(900, 700);
  win32::FrmMain* next = win32::FrmMain::Create(again, 0, 0);
  ASSERT_NE(next, nullptr);
  wintest::ClickTab(next->hwnd(), 0);
  EXPECT_FALSE(wintest::ListLines(::GetDlgItem(next->hwnd(), win32::kIdLstInfo)).empty());
  ::DestroyWindow(again);
  EXPECT_TRUE(wintest::WaitForAbandonedRequests()) << "WinHTTP never let the request go";
}

// Enough programs that the section takes a while to list.
class ManyPrograms : public ::testing::Test {
 protected:
  static constexpr int kPrograms = 1000;
  static void SetUpTestSuite() {
    fixtures_ = new std::vector<std::unique_ptr<wintest::RegFixture>>;
    for (int i = 0; i < kPrograms; ++i) {
      const std::wstring n = std::to_wstring(i);
      fixtures_->push_back(std::make_unique<wintest::RegFixture>(
          HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TallowinClose-" + n));
      fixtures_->back()->setString(L"", L"DisplayName", L"Close test program " + n);
    }
  }
  static void TearDownTestSuite() {
    delete fixtures_;
    fixtures_ = nullptr;
  }
  static std::vector<std::unique_ptr<wintest::RegFixture>>* fixtures_;
};
std::vector<std::unique_ptr<wintest::RegFixture>>* ManyPrograms::fixtures_ = nullptr;

// The list box posts the close when the section has added its 100th line, so
// the close lands inside the dispatch, between two programs.
WNDPROC listProc = nullptr;
int linesAdded = 0;
LRESULT CALLBACK closingList(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == LB_ADDSTRING && ++linesAdded == 100 && closeTarget)
    closePosted = ::PostMessageW(closeTarget, WM_CLOSE, 0, 0) != 0;
  return ::CallWindowProcW(listProc, hwnd, msg, wp, lp);
}

TEST_F(ManyPrograms, ClosedDuringTheProgramsDispatch) {
  HWND top = wintest::CreateHiddenHost(900, 700);
  ASSERT_NE(top, nullptr);
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0);
  ASSERT_NE(form, nullptr);
  HWND f = form->hwnd();
  auto control = form->control();
  HWND list = ::GetDlgItem(f, win32::kIdLstInfo);
  listProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&closingList)));
  closeTarget = top;
  closePosted = false;
  linesAdded = 0;
  wintest::ClickTab(f, 1);
  closeTarget = nullptr;
  EXPECT_TRUE(closePosted);
  EXPECT_FALSE(::IsWindow(f));
  // The dispatch stopped part-way, at the next yield after the close.
  EXPECT_LT(control->list().count(), kPrograms);
  std::printf("closed during the programs dispatch: %d lines listed of %d\n", control->list().count(), kPrograms);
}

// tallowin.exe, hidden (closing a visible window costs Wine seconds without
// a window manager).
struct Started {
  PROCESS_INFORMATION pi{};
  bool ok = false;
  explicit Started(const std::wstring& arguments) {
    std::wstring line = L"\"" + wintest::ProgramFolder() + L"tallowin.exe\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    ok = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
  }
  ~Started() {
    if (!ok) return;
    if (::WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(pi.hProcess, 99);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
  }
  // The host's top-level window, once its AtlAxWin container holds the form.
  HWND window(HWND* form) const {
    HWND found = nullptr;
    wintest::PumpUntil(
        [&] {
          for (HWND w = ::FindWindowExW(nullptr, nullptr, L"TallowinHost", nullptr); w;
               w = ::FindWindowExW(nullptr, w, L"TallowinHost", nullptr)) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(w, &pid);
            if (pid != pi.dwProcessId) continue;
            HWND box = ::FindWindowExW(w, nullptr, L"AtlAxWin", nullptr);
            *form = box ? ::FindWindowExW(box, nullptr, win32::FrmMain::ClassName(), nullptr) : nullptr;
            if (*form) found = w;
            return *form != nullptr;
          }
          return false;
        },
        30000);
    return found;
  }
  DWORD exitCode(DWORD waitMs) const {
    ::WaitForSingleObject(pi.hProcess, waitMs);
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
};

// The host program's window closed ends it with exit code 0: while Command1's
// upload waits for a silent service (the close cancels the exchange), and
// while it lists many programs.
void expectHostProgramEndsWhenClosed(const wchar_t* arguments, const std::string& server = "") {
  SCOPED_TRACE(wintest::Utf8(arguments));
  if (!server.empty()) ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", wintest::Wide(server).c_str());
  Started host(arguments);
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
  ASSERT_TRUE(host.ok);
  HWND form = nullptr;
  HWND top = host.window(&form);
  ASSERT_NE(top, nullptr);
  if (!server.empty()) {
    HWND command = ::GetDlgItem(form, win32::kIdCommand1);
    ::PostMessageW(form, WM_COMMAND, MAKEWPARAM(win32::kIdCommand1, BN_CLICKED), reinterpret_cast<LPARAM>(command));
    // Command1 is disabled while the upload runs.
    ASSERT_TRUE(wintest::PumpUntil([&] { return !::IsWindowEnabled(command); }, 10000)) << "no upload";
  }
  ::PostMessageW(top, WM_CLOSE, 0, 0);
  EXPECT_EQ(host.exitCode(30000), 0u);
}

TEST(CloseWhileWorking, HostProgramClosedDuringAnUpload) {
  const std::string silent = wintest::TestService("SILENT");
  if (silent.empty()) GTEST_SKIP() << "TALLOWIN_TEST_SILENT not set";
  expectHostProgramEndsWhenClosed(L"window", silent);
}

TEST_F(ManyPrograms, HostProgramOpenedOnTheProgramsTabEndsWhenClosed) {
  expectHostProgramEndsWhenClosed(L"window PROGS");
}

}  // namespace
}  // namespace tallowin
