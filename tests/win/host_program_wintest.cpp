// tallowin.exe hosting the control in atl.dll's container, closed when idle
// and while its upload waits for a silent service: it ends with exit code 0.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <string>
#include <vector>

#include "win/support/win_support.h"
#include "win32/frm_main.h"
#include "win32/handles.h"

namespace tallowin {
namespace {

using namespace wintest;

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
