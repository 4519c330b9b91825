// tallowin.exe hosting the control through COM in its own window.
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

struct FoundWindows {
  DWORD pid;
  HWND top = nullptr;
};

BOOL CALLBACK findHost(HWND hwnd, LPARAM data) {
  auto* f = reinterpret_cast<FoundWindows*>(data);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  wchar_t name[32] = {};
  ::GetClassNameW(hwnd, name, 32);
  if (pid == f->pid && std::wstring(name) == L"TallowinHost") {
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
  const win32::UniqueHandle process(pi.hProcess), thread(pi.hThread);
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
        return !lines.empty() && lines[0].rfind("Operating System Name: ", 0) == 0;
      },
      60000);
  EXPECT_NE(found.top, nullptr) << "no window";
  EXPECT_NE(ax, nullptr) << "no AtlAxWin container in the window";
  EXPECT_NE(form, nullptr) << "no control in the container";
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("Operating System Name: ", 0), 0u) << lines[0];
  if (found.top) ::PostMessageW(found.top, WM_CLOSE, 0, 0);
  EXPECT_EQ(::WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
  DWORD code = 1;
  ::GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u);
  if (code == STILL_ACTIVE) ::TerminateProcess(process.get(), 1);
}

}  // namespace
}  // namespace tallowin
