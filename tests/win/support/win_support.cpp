#include "win/support/win_support.h"

#include "win32/module.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "win32/winhttp_transport.h"
#include "win32/frm_main.h"
#include "win32/handles.h"

namespace tallowin::wintest {

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

RunResult RunTallowin(const std::wstring& arguments, DWORD timeoutMs) {
  return RunProgram(L"\"" + ProgramFolder() + L"tallowin.exe\" " + arguments, timeoutMs);
}

// Reads a pipe to its end on a thread of its own, so that a full pipe never
// holds the child while the time-out is waited on.
static DWORD WINAPI drain(void* arg) {
  auto* job = static_cast<std::pair<HANDLE, std::string*>*>(arg);
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(job->first, buffer, sizeof(buffer), &n, nullptr) && n > 0) job->second->append(buffer, n);
  return 0;
}

RunResult RunProgram(const std::wstring& commandLine, DWORD timeoutMs) {
  RunResult result;
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!::CreatePipe(&read, &write, &sa, 0)) throw std::runtime_error("CreatePipe");
  win32::UniqueHandle outRead(read), outWrite(write);
  ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = si.hStdError = write;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = commandLine;
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    throw std::runtime_error("CreateProcess " + Utf8(commandLine));
  const win32::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  outWrite.reset();  // the child has its own copy: the read ends when it closes it
  std::pair<HANDLE, std::string*> job{read, &result.out};
  const win32::UniqueHandle drainer(::CreateThread(nullptr, 0, drain, &job, 0, nullptr));
  if (::WaitForSingleObject(process.get(), timeoutMs) == WAIT_TIMEOUT) {
    ::TerminateProcess(process.get(), 99);
    result.exitCode = -2;
  } else {
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    result.exitCode = static_cast<int>(code);
  }
  ::WaitForSingleObject(drainer.get(), 10000);
  return result;
}

void PumpMessages() {
  MSG msg;
  for (int i = 0; i < 10000 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    PumpMessages();
    if (done()) return true;
    if (::GetTickCount64() >= end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
}

std::function<void()> OnHostMessage;

namespace {

LRESULT CALLBACK hostProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_APP) {
    if (OnHostMessage) OnHostMessage();
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

HWND CreateHiddenHost() {
  static const WNDCLASSEXW wc{sizeof(wc), 0,       hostProc, 0,       0, ::GetModuleHandleW(nullptr),
                              nullptr,    nullptr, nullptr,  nullptr, L"TallowinTestHost", nullptr};
  static const bool registered = ::RegisterClassExW(&wc) != 0;
  return registered ? ::CreateWindowExW(0, wc.lpszClassName, L"host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 900,
                                        700, nullptr, nullptr, wc.hInstance, nullptr)
                    : nullptr;
}

std::vector<std::string> ListLines(HWND list) {
  std::vector<std::string> out;
  // A list in another process may be refilled between LB_GETTEXTLEN and
  // LB_GETTEXT, and the longer line is copied back whole: leave room.
  DWORD owner = 0;
  ::GetWindowThreadProcessId(list, &owner);
  const size_t room = owner == ::GetCurrentProcessId() ? 0 : 65536;
  const auto n = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    const auto len = ::SendMessageW(list, LB_GETTEXTLEN, i, 0);
    if (len < 0) break;
    std::wstring w(static_cast<size_t>(len) + 1 + room, L'\0');
    const auto got = ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(w.data()));
    w.resize(got > 0 ? std::min(static_cast<size_t>(got), w.size()) : 0);
    out.push_back(Utf8(w));
  }
  return out;
}

void ClickTab(HWND form, int i) {
  HWND tabs = ::GetDlgItem(form, win32::kIdTabProfile);
  ::SendMessageW(tabs, TCM_SETCURSEL, i, 0);
  NMHDR nm{tabs, static_cast<UINT_PTR>(win32::kIdTabProfile), static_cast<UINT>(TCN_SELCHANGE)};
  ::SendMessageW(form, WM_NOTIFY, nm.idFrom, reinterpret_cast<LPARAM>(&nm));
}

void ClickLine(HWND form, int i) {
  HWND list = ::GetDlgItem(form, win32::kIdLstInfo);
  ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
  ::SendMessageW(form, WM_COMMAND, MAKEWPARAM(win32::kIdLstInfo, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Deletes path and all below it in the given view only.
static void deleteTreeInView(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
  ::RegDeleteTreeW(key, nullptr);
  ::RegCloseKey(key);
  ::RegDeleteKeyExW(root, path.c_str(), view, 0);
}

RegFixture::RegFixture(HKEY root, const std::wstring& path, REGSAM view) : root_(root), path_(path), view_(view) {
  deleteTreeInView(root_, path_, view_);  // what an earlier, aborted run may have left
  if (::RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view_, nullptr, &key_, nullptr) !=
      ERROR_SUCCESS)
    throw std::runtime_error("RegCreateKeyEx " + Utf8(path));
}

RegFixture::~RegFixture() {
  if (key_) ::RegCloseKey(key_);
  deleteTreeInView(root_, path_, view_);
}

void RegFixture::setString(const std::wstring& sub, const std::wstring& name, const std::wstring& value, DWORD type) {
  if (::RegSetKeyValueW(key_, sub.c_str(), name.c_str(), type, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
    throw std::runtime_error("RegSetKeyValue " + Utf8(sub + L":" + name));
}

std::string TestService(const std::string& name) {
  const char* v = getenv(("TALLOWIN_TEST_" + name).c_str());
  return v ? v : "";
}

bool WaitForAbandonedRequests(DWORD timeoutMs) {
  return PumpUntil([] { return !win32::ModuleInUse(); }, timeoutMs);
}

}  // namespace tallowin::wintest
