// The frmMain window: mouse clicks on the tab strip, a click on a line, a
// window destroyed during a yield, keys and a close while an upload waits;
// tallowin.exe's own window closed.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <commctrl.h>

#include <functional>

#include "control/profile_control.h"
#include "win/support/win_support.h"
#include "win32/frm_main.h"
#include "win32/handles.h"
#include "win32/upload_binding.h"

namespace tallowin {
namespace {

using namespace wintest;

// frmMain's window on a hidden host, made for each test and destroyed after it.
class Window : public ::testing::Test {
 protected:
  HWND top = nullptr;
  win32::FrmMain* form = nullptr;
  void SetUp() override {
    top = CreateHiddenHost();
    form = win32::FrmMain::Create(top, 0, 0);
    ASSERT_NE(form, nullptr);
  }
  void TearDown() override {
    if (top) ::DestroyWindow(top);
  }
};

// Counts the list box's LB_RESETCONTENT: a dispatch clears the list once.
LRESULT CALLBACK CountResets(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  if (msg == LB_RESETCONTENT) ++*reinterpret_cast<int*>(data);
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

// Button down and up in the middle of tab i, as the mouse sends them.
void MouseClickTab(HWND tabs, int i) {
  RECT r{};
  ASSERT_TRUE(::SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r)));
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  ::SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(tabs, WM_LBUTTONUP, 0, at);
  PumpMessages();
}

// A click on another tab and one on the selected tab: one dispatch each. A
// click on a marked line reaches the control: the line becomes the tooltip and
// txtDesc is emptied (which lines count is the native tests').
TEST_F(Window, AClickOnTheSelectedTabRefreshesItAndOneOnALineSetsTheTooltip) {
  HWND tabs = ::GetDlgItem(form->hwnd(), win32::kIdTabProfile);
  HWND list = ::GetDlgItem(form->hwnd(), win32::kIdLstInfo);
  int resets = 0;
  ::SetWindowSubclass(list, CountResets, 1, reinterpret_cast<DWORD_PTR>(&resets));
  MouseClickTab(tabs, 0);  // &OS, not selected yet
  EXPECT_EQ(::SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(resets, 1) << "one dispatch for a click that selects the tab";
  const auto os = ListLines(list);
  ASSERT_FALSE(os.empty());
  EXPECT_EQ(os[0].rfind("Operating System Name: ", 0), 0u) << os[0];
  form->control()->list().clear();  // what the user sees goes stale
  resets = 0;
  MouseClickTab(tabs, 0);  // the same tab again
  EXPECT_EQ(resets, 1) << "one dispatch for a click on the selected tab";
  EXPECT_EQ(ListLines(list), os);
  EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 0);
  ::RemoveWindowSubclass(list, CountResets, 1);

  ASSERT_GE(os.size(), 3u);
  ASSERT_GT(::SendMessageW(list, LB_GETITEMDATA, 2, 0), 0);
  ::SetDlgItemTextW(form->hwnd(), win32::kIdTxtDesc, L"something");
  ClickLine(form->hwnd(), 2);
  EXPECT_EQ(form->control()->list().tooltip(), os[2]);
  wchar_t desc[16] = {L'x'};
  ::GetDlgItemTextW(form->hwnd(), win32::kIdTxtDesc, desc, 16);
  EXPECT_STREQ(desc, L"");
}

TEST_F(Window, DestroyedDuringYieldIsSafe) {
  ::PostMessageW(top, WM_CLOSE, 0, 0);  // handled inside the dispatch's first yield
  HWND f = form->hwnd();
  ClickTab(f, 0);
  EXPECT_FALSE(::IsWindow(f));
  top = nullptr;
}

std::function<void()> onTick;
void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (onTick) onTick();
}

// Command1's upload to a service that never answers: while the exchange
// waits, Alt+C at the list runs the CPU tab's dispatch, then the host window
// closes. The exchange is cancelled (not left to its time-out), the click
// returns, and WinHTTP lets the request go.
TEST(WhileAnUploadWaits, AccessKeysWorkAndACloseCancelsIt) {
  const std::string silent = TestService("SILENT");
  if (silent.empty()) GTEST_SKIP() << "TALLOWIN_TEST_SILENT not set";
  HWND top = CreateHiddenHost();
  std::string said;
  auto control = win32::MakeControl(
      [&](ProfileControl& c) { said = win32::RunInventoryUpload(c, silent, true, {}, kShortLimits).message; });
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0, control);
  ASSERT_NE(form, nullptr);
  HWND f = form->hwnd(), tabs = ::GetDlgItem(f, win32::kIdTabProfile), command = ::GetDlgItem(f, win32::kIdCommand1);
  bool posted = false, closed = false, uploadingAfterDispatch = false;
  std::string firstLine;
  onTick = [&] {
    if (!posted && ::IsWindowEnabled(tabs) && !::IsWindowEnabled(command)) {
      posted = ::PostMessageW(::GetDlgItem(f, win32::kIdLstInfo), WM_SYSCHAR, L'c', 1 << 29) != FALSE;
    } else if (posted && !closed && control->list().count() > 0 && ::SendMessageW(tabs, TCM_GETCURSEL, 0, 0) == 2) {
      firstLine = control->list().text(0);
      uploadingAfterDispatch = control->busy();
      closed = ::PostMessageW(top, WM_CLOSE, 0, 0) != FALSE;
    }
  };
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, Tick);
  ::SendMessageW(f, WM_COMMAND, MAKEWPARAM(win32::kIdCommand1, BN_CLICKED), reinterpret_cast<LPARAM>(command));
  ::KillTimer(nullptr, timer);
  onTick = nullptr;
  EXPECT_TRUE(uploadingAfterDispatch) << "the dispatch ran inside the upload's wait";
  EXPECT_EQ(firstLine.rfind("Processor Architecture: ", 0), 0u) << firstLine;
  EXPECT_TRUE(closed) << "the click returned before the close";
  EXPECT_FALSE(::IsWindow(top));
  EXPECT_NE(said.find("cancelled"), std::string::npos) << "the window went, the request stayed: " << said;
  control.reset();
  EXPECT_TRUE(WaitForAbandonedRequests()) << "WinHTTP never let the request go";
}

// ---- tallowin.exe's window ----
// tallowin.exe hosting the control in atl.dll's container, closed when idle
// and while its upload waits for a silent service: it ends with exit code 0.

// The host window of process pid, or nullptr.
HWND hostOf(DWORD pid) {
  for (HWND w = nullptr; (w = ::FindWindowExW(nullptr, w, L"TallowinHost", nullptr));) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(w, &owner);
    if (owner == pid) return w;
  }
  return nullptr;
}

TEST(TallowinExe, HostsTheControlInAnAtlContainerAndEndsWhenClosed) {
  struct Row {
    const wchar_t* arguments;
    const char* server;  // TALLOWIN_TEST_<server> for TALLOWIN_INVENTORY_SERVER; "" none
  };
  for (const Row& row : {Row{L"window OS", ""}, Row{L"window", "SILENT"}}) {
    SCOPED_TRACE(Utf8(row.arguments));
    const std::string server = *row.server ? TestService(row.server) : "";
    if (*row.server && server.empty()) continue;  // scripts/test starts it
    ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", server.empty() ? nullptr : Wide(server).c_str());
    // Hidden: closing a visible window costs Wine seconds without a window manager.
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + ProgramFolder() + L"tallowin.exe\" " + row.arguments;
    const bool started = ::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
    ASSERT_TRUE(started);
    const win32::UniqueHandle process(pi.hProcess), thread(pi.hThread);
    HWND top = nullptr, ax = nullptr, form = nullptr;
    std::vector<std::string> lines;
    const bool ready = PumpUntil(
        [&] {
          if (!top) top = hostOf(pi.dwProcessId);
          if (top && !ax) ax = ::FindWindowExW(top, nullptr, L"AtlAxWin", nullptr);
          if (ax && !form) form = ::FindWindowExW(ax, nullptr, win32::FrmMain::ClassName(), nullptr);
          if (!form) return false;
          // Command1 is disabled while the upload waits.
          if (!server.empty()) return !::IsWindowEnabled(::GetDlgItem(form, win32::kIdCommand1));
          // The list of another process, refilled as it is read: the initial upload's lines, then the OS tab's.
          lines = ListLines(::GetDlgItem(form, win32::kIdLstInfo));
          return !lines.empty() && lines[0].rfind("Operating System Name: ", 0) == 0;
        },
        60000);
    EXPECT_TRUE(ready) << "window " << top << ", container " << ax << ", control " << form << ", "
                       << lines.size() << " lines";
    if (top) ::PostMessageW(top, WM_CLOSE, 0, 0);
    EXPECT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
    if (code == STILL_ACTIVE) ::TerminateProcess(process.get(), 1);
  }
}

}  // namespace
}  // namespace tallowin
