// Other processes and files: starting a program, file sizes, the system's
// error texts; and the pump that lets the host handle its messages.
#include "win32/win.h"

#include <string>
#include <vector>

#include "win32/handles.h"
#include "win32/message_pump.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

std::string WinPlatform::FormatMessage(int32_t code) {
  wchar_t buffer[1024] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), 0, buffer, 1024, nullptr);
  std::wstring text(buffer, n);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  return Utf8(text);
}

bool WinPlatform::CreateProcess(const std::string& commandLine) {
  std::wstring cmd = Wide(commandLine);  // CreateProcessW may write into it
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  // Started and not waited for: both handles go at once.
  const UniqueHandle thread(pi.hThread), process(pi.hProcess);
  return true;
}

int64_t WinPlatform::GetFileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}
void WinPlatform::DoEvents() {
  MSG msg;
  // Only what is pending now: a yield must not turn into a loop of its own.
  for (int i = 0; i < 1000 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    if (msg.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    DispatchPumped(msg);
  }
}

Platform& SystemPlatform() {
  static WinPlatform platform;
  return platform;
}

}  // namespace tallowin::win32
