// tallowin.exe: with no arguments a window hosting the control through COM,
// as any container does; with a command, the console (see console.cpp).
#include "win32/win.h"


#include <string>
#include <vector>

#include "control/form.h"
#include "host/console.h"
#include "win32/activex_control.h"
#include "win32/frm_main.h"
#include "win32/handles.h"
#include "win32/upload_binding.h"
#include "win32/wide.h"

namespace {

using tallowin::win32::ComPtr;

std::vector<std::string> arguments() {
  std::vector<std::string> args;
  int argc = 0;
  const tallowin::win32::LocalMemory<LPWSTR*> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  if (!argv) return args;
  for (int i = 1; i < argc; ++i) args.push_back(tallowin::win32::Utf8(argv.get()[i]));
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

// atl.dll's container, found at run time: MinGW has no import library for
// it on every architecture, and Windows has had the DLL since XP.
struct AtlContainer {
  using WinInitFn = BOOL(WINAPI*)();
  using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
  HMODULE dll = nullptr;
  AttachFn attach = nullptr;

  bool load() {
    dll = ::LoadLibraryExW(L"atl.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dll) return false;
    auto winInit = reinterpret_cast<WinInitFn>(reinterpret_cast<void*>(::GetProcAddress(dll, "AtlAxWinInit")));
    attach = reinterpret_cast<AttachFn>(reinterpret_cast<void*>(::GetProcAddress(dll, "AtlAxAttachControl")));
    return winInit && attach && winInit();
  }
  // atl.dll stays loaded: its window class lives until the process ends.
};

// The window of the program: the control, created from the class factory
// linked into this program (no registration), in an AtlAxWin container
// window that fills the client area.
struct Host {
  AtlContainer atl;
  ComPtr<IUnknown> control;
  ComPtr<IUnknown> container;
  ComPtr<IOleInPlaceActiveObject> active;
  HWND form = nullptr;

  bool attach(HWND top) {
    RECT client;
    ::GetClientRect(top, &client);
    HWND box = ::CreateWindowExW(0, L"AtlAxWin", L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                                 client.right, client.bottom, top, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    if (!box) return false;
    // The control's Command1 and initialisation send the inventory.
    if (FAILED(tallowin::win32::CreateFrmMainObject(nullptr, IID_IUnknown, control.putVoid(),
                                                    tallowin::win32::WindowUpload())))
      return false;
    if (ComPtr<IPersistStreamInit> init; SUCCEEDED(control.as(IID_IPersistStreamInit, init))) init->InitNew();
    if (FAILED(atl.attach(control.get(), box, container.put()))) return false;
    control.as(IID_IOleInPlaceActiveObject, active);
    // UI-active from the start, so that the keyboard reaches it at once.
    if (ComPtr<IOleObject> object; SUCCEEDED(control.as(IID_IOleObject, object)))
      object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, nullptr, 0, box, nullptr);
    if (ComPtr<IOleWindow> window; SUCCEEDED(control.as(IID_IOleWindow, window))) window->GetWindow(&form);
    return form != nullptr;
  }
  // Before OLE goes: the active object, the container, then the control.
  void release() {
    active.reset();
    container.reset();
    control.reset();
  }
};

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      return ::DefWindowProcW(hwnd, msg, wp, lp);
  }
}

int runWindow(HINSTANCE inst, int show, int initialTab) {
  tallowin::win32::OleScope ole;
  if (FAILED(ole.hr)) return 1;
  Host host;
  if (!host.atl.load()) return 1;
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
  if (!host.attach(hwnd)) {
    ::DestroyWindow(hwnd);
    host.release();
    return 1;
  }
  ::ShowWindow(hwnd, show);
  ::UpdateWindow(hwnd);
  if (initialTab >= 0) {
    if (auto* f = tallowin::win32::FrmMain::FromWindow(host.form)) f->selectTab(initialTab);
  }
  MSG msg;
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // The keyboard goes to the control first, as in any other container.
    if (host.active && host.active->TranslateAccelerator(&msg) == S_OK) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  host.release();
  return static_cast<int>(msg.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int show) {
  const std::vector<std::string> args = arguments();
  if (!args.empty() && args[0] == "window" && args.size() <= 2) {
    // The window with one tab already clicked (for demonstrations and screenshots).
    const int tab = args.size() == 2 ? tallowin::form::TabOfTag(args[1]) : -1;
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
