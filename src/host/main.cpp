// tallowin.exe: with no arguments a window hosting the control; with a
// command, the console (see console.cpp).
#include "win32/win.h"


#include <string>
#include <vector>

#include "host/console.h"
#include "win32/frm_main.h"
#include "win32/upload_binding.h"
#include "win32/wide.h"

namespace {

std::vector<std::string> arguments() {
  std::vector<std::string> args;
  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv) return args;
  for (int i = 1; i < argc; ++i) args.push_back(tallowin::win32::Utf8(argv[i]));
  ::LocalFree(argv);
  return args;
}

// Console output from a GUI program: use the handles we were given (pipes,
// files), else the console of the command prompt that started us.
void attachConsole() {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) return;
  if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
    FILE* f = nullptr;
    freopen_s(&f, "CONOUT$", "w", stdout);
    freopen_s(&f, "CONOUT$", "w", stderr);
  }
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE: {
      if (!tallowin::win32::FrmMain::Create(hwnd, 0, 0)) return -1;
      return 0;
    }
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
}

// The tab whose tag is tag (any case), or -1.
int tabOf(const std::string& tag) {
  const auto& tabs = tallowin::win32::ProfileTabs();
  for (size_t i = 0; i < tabs.size(); ++i)
    if (_stricmp(tabs[i].tag, tag.c_str()) == 0) return static_cast<int>(i);
  return -1;
}

int runWindow(HINSTANCE inst, int show, int initialTab) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = HostProc;
  wc.hInstance = inst;
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"TallowinHost";
  if (!::RegisterClassExW(&wc)) return 1;
  const SIZE size = tallowin::win32::FrmMain::DefaultSize();
  RECT r{0, 0, size.cx, size.cy};
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  ::AdjustWindowRectEx(&r, style, FALSE, 0);
  HWND hwnd = ::CreateWindowExW(0, wc.lpszClassName, L"Tallowin", style, CW_USEDEFAULT, CW_USEDEFAULT,
                                r.right - r.left, r.bottom - r.top, nullptr, nullptr, inst, nullptr);
  if (!hwnd) return 1;
  ::ShowWindow(hwnd, show);
  ::UpdateWindow(hwnd);
  HWND form = ::FindWindowExW(hwnd, nullptr, tallowin::win32::FrmMain::ClassName(), nullptr);
  // As the control's initialisation does: one upload at start.
  if (form) {
    if (auto* f = tallowin::win32::FrmMain::FromWindow(form)) {
      auto control = f->control();
      control->onCommand();
    }
  }
  if (form && ::IsWindow(form) && initialTab >= 0) {
    if (auto* f = tallowin::win32::FrmMain::FromWindow(form)) f->selectTab(initialTab);
  }
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (form && msg.message == WM_SYSCHAR && ::IsChild(hwnd, msg.hwnd)) {
      if (auto* f = tallowin::win32::FrmMain::FromWindow(form); f && f->handleAccessKey(static_cast<wchar_t>(msg.wParam)))
        continue;
    }
    if (form && ::IsDialogMessageW(form, &msg)) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int show) {
  tallowin::win32::InstallWindowUpload();
  const std::vector<std::string> args = arguments();
  if (!args.empty() && args[0] == "window" && args.size() <= 2) {
    // The window with one tab already clicked (for demonstrations and screenshots).
    const int tab = args.size() == 2 ? tabOf(args[1]) : -1;
    if (args.size() == 2 && tab < 0) {
      attachConsole();
      return tallowin::host::RunConsole({"window", args[1]});
    }
    return runWindow(inst, show, tab);
  }
  if (!args.empty()) {
    attachConsole();
    return tallowin::host::RunConsole(args);
  }
  return runWindow(inst, show, -1);
}
