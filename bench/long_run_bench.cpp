// bench_long_run HOST:PORT [DISPATCH_ROUNDS] [UPLOADS] [CYCLES]: one process
// used over and over, its growth from the first tenth to the end: every tab
// of one window dispatched (250 rounds), uploads from one control to the
// service at HOST:PORT (100), and the registered ocx created and destroyed
// in atl.dll's container (60). A leak of one object per operation shows; the
// program ends 1 past 10 GDI objects, 10 USER objects, 20 handles or 4 MB of
// private bytes. Run it with scripts/bench-long-run (on a display: xvfb-run).
#include "win32/win.h"

#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "control/form.h"
#include "control/profile_control.h"
#include "win32/frm_main.h"
#include "win32/handles.h"
#include "win32/tallowin_ids.h"
#include "win32/upload_binding.h"

using namespace tallowin;

namespace {

// Wine answers 0 from GetGuiResources, GetProcessHandleCount and
// PrivateUsage; then the counts come from the GDI handle table in the PEB,
// the process's windows, probed handle values and committed private pages.
struct Resources {
  long gdi = 0, user = 0, handles = 0;
  long long privateBytes = 0;
};

long countGdiObjects() {
  struct BasicInformation {
    LONG_PTR exitStatus;
    void* peb;
    ULONG_PTR affinityMask, basePriority, processId, parentProcessId;
  } info{};
  using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  if (!query || query(::GetCurrentProcess(), 0, &info, sizeof(info), nullptr) != 0 || !info.peb) return 0;
  struct Entry {
    uint64_t object;
    uint16_t processId, count, upper;
    uint8_t type, flags;
    uint64_t user;
  };
  const Entry* table = nullptr;  // the PEB's GdiSharedHandleTable
  ::memcpy(&table, static_cast<const char*>(info.peb) + (sizeof(void*) == 8 ? 0xF8 : 0x94), sizeof(table));
  long n = 0;
  for (uint32_t i = 0; table && i < 0x10000; ++i) {
    const auto handle = static_cast<uintptr_t>(i | static_cast<uint32_t>(table[i].upper) << 16);
    if (table[i].type && ::GetObjectType(reinterpret_cast<HGDIOBJ>(handle))) ++n;
  }
  return n;
}

BOOL CALLBACK countWindow(HWND hwnd, LPARAM count) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(hwnd, &pid);
  if (pid == ::GetCurrentProcessId()) {
    ++*reinterpret_cast<long*>(count);
    if (!::GetParent(hwnd)) ::EnumChildWindows(hwnd, countWindow, count);
  }
  return TRUE;
}

Resources measure() {
  Resources r;
  HANDLE self = ::GetCurrentProcess();
  r.gdi = static_cast<long>(::GetGuiResources(self, GR_GDIOBJECTS));
  if (r.gdi == 0) r.gdi = countGdiObjects();
  r.user = static_cast<long>(::GetGuiResources(self, GR_USEROBJECTS));
  if (r.user == 0) ::EnumWindows(countWindow, reinterpret_cast<LPARAM>(&r.user));
  DWORD handles = 0;
  if (::GetProcessHandleCount(self, &handles) && handles > 0) {
    r.handles = static_cast<long>(handles);
  } else {
    DWORD flags = 0;
    for (uintptr_t h = 4; h < 4 * 16384; h += 4) r.handles += ::GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) ? 1 : 0;
  }
  PROCESS_MEMORY_COUNTERS_EX pmc{};
  pmc.cb = sizeof(pmc);
  if (::GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc)) && pmc.PrivateUsage > 0) {
    r.privateBytes = static_cast<long long>(pmc.PrivateUsage);
    return r;
  }
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  MEMORY_BASIC_INFORMATION mbi;
  for (auto* p = static_cast<char*>(si.lpMinimumApplicationAddress);
       p < si.lpMaximumApplicationAddress && ::VirtualQuery(p, &mbi, sizeof(mbi));
       p = static_cast<char*>(mbi.BaseAddress) + mbi.RegionSize)
    if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) r.privateBytes += static_cast<long long>(mbi.RegionSize);
  return r;
}

void pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

void clickTab(HWND form, int i) {
  HWND tabs = ::GetDlgItem(form, win32::kIdTabProfile);
  ::SendMessageW(tabs, TCM_SETCURSEL, i, 0);
  NMHDR nm{tabs, static_cast<UINT_PTR>(win32::kIdTabProfile), static_cast<UINT>(TCN_SELCHANGE)};
  ::SendMessageW(form, WM_NOTIFY, nm.idFrom, reinterpret_cast<LPARAM>(&nm));
}

// A hidden window: destroying a visible one costs Wine seconds without a window manager.
HWND hiddenHost() {
  return ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 900, 700, nullptr,
                           nullptr, nullptr, nullptr);
}

// Runs step(i) rounds times; false when a step fails or the growth from the
// first tenth to the end passes the bounds.
bool run(const char* what, int rounds, long long maxPrivate, const std::function<bool(int)>& step) {
  Resources tenth;
  for (int i = 0; i < rounds; ++i) {
    if (i == rounds / 10) tenth = measure();
    if (!step(i)) {
      std::printf("%s: round %d failed\n", what, i);
      return false;
    }
  }
  const Resources end = measure();
  const bool bounded = end.gdi - tenth.gdi <= 10 && end.user - tenth.user <= 10 && end.handles - tenth.handles <= 20 &&
                       end.privateBytes - tenth.privateBytes <= maxPrivate;
  std::printf("%s (%d): GDI %ld -> %ld, USER %ld -> %ld, handles %ld -> %ld, private %lld -> %lld KB%s\n", what,
              rounds, tenth.gdi, end.gdi, tenth.user, end.user, tenth.handles, end.handles, tenth.privateBytes / 1024,
              end.privateBytes / 1024, bounded ? "" : "  ABOVE THE BOUNDS");
  return bounded;
}

int arg(int argc, char** argv, int i, int fallback) { return argc > i && std::atoi(argv[i]) > 0 ? std::atoi(argv[i]) : fallback; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_long_run HOST:PORT [DISPATCH_ROUNDS] [UPLOADS] [CYCLES]\n");
    return 2;
  }
  const std::string peer = argv[1];
  win32::OleScope ole;
  bool ok = true;

  HWND top = hiddenHost();
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0);
  if (!form) {
    std::fprintf(stderr, "no window\n");
    return 1;
  }
  const int tabs = static_cast<int>(form::Tabs().size());
  HWND list = ::GetDlgItem(form->hwnd(), win32::kIdLstInfo);
  std::vector<LRESULT> lines(static_cast<size_t>(tabs));
  ok &= run("tab dispatches, rounds of every tab", arg(argc, argv, 2, 250), 4LL << 20, [&](int round) {
    for (int t = 0; t < tabs; ++t) {  // each tab as many lines as the first time
      clickTab(form->hwnd(), t);
      const LRESULT n = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
      if (round == 0) lines[static_cast<size_t>(t)] = n;
      if (n != lines[static_cast<size_t>(t)]) return false;
    }
    return true;
  });
  auto control = form->control();
  ok &= run("uploads", arg(argc, argv, 3, 100), 4LL << 20,
            [&](int) { return win32::RunInventoryUpload(*control, peer, true).accepted; });
  control.reset();
  ::DestroyWindow(top);

  // The ocx beside this program, registered for the cycles and unregistered after.
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring ocxPath = path;
  ocxPath = ocxPath.substr(0, ocxPath.find_last_of(L"\\/") + 1) + L"tallowin.ocx";
  HMODULE ocx = ::LoadLibraryW(ocxPath.c_str());
  using Fn = HRESULT(STDAPICALLTYPE*)();
  auto entry = [&](const char* name) { return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(ocx, name))); };
  using InitFn = BOOL(WINAPI*)();
  HMODULE atl = ::LoadLibraryW(L"atl.dll");
  auto init = atl ? reinterpret_cast<InitFn>(reinterpret_cast<void*>(::GetProcAddress(atl, "AtlAxWinInit"))) : nullptr;
  if (!ocx || entry("DllRegisterServer")() != S_OK || !init || !init()) {
    std::fprintf(stderr, "the ocx could not be registered or atl.dll's AtlAxWin is not available\n");
    return 1;
  }
  top = hiddenHost();
  ok &= run("ActiveX create/destroy cycles", arg(argc, argv, 4, 60), 2LL << 20, [&](int) {
    HWND ax = ::CreateWindowExW(0, L"AtlAxWin", win32::kProgId, WS_CHILD | WS_VISIBLE, 0, 0, 700, 520, top, nullptr,
                                nullptr, nullptr);
    HWND f = ax ? ::FindWindowExW(ax, nullptr, win32::FrmMain::ClassName(), nullptr) : nullptr;
    pump();
    if (f) clickTab(f, 0);
    const bool shown = f && ::SendMessageW(::GetDlgItem(f, win32::kIdLstInfo), LB_GETCOUNT, 0, 0) > 0;
    if (ax) ::DestroyWindow(ax);
    pump();
    return shown;
  });
  ::DestroyWindow(top);
  entry("DllUnregisterServer")();
  return ok ? 0 : 1;
}
