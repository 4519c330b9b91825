// Shared pieces of the tests that run under Wine.
#pragma once

#include "win32/win.h"

#include <functional>
#include <string>
#include <vector>

#include "win32/wide.h"
#include "win32/winhttp_transport.h"

namespace tallowin::wintest {

using win32::Utf8;
using win32::Wide;

// For a test that needs only that a time-out ends the wait (the product's: 15 s, 30 s).
inline constexpr win32::HttpTimeLimits kShortLimits{2000, 2000, 2000, 3000, 5000};

// The folder of the running test program (tallowin.exe lies beside it).
std::wstring ProgramFolder();

struct RunResult {
  int exitCode = -1;
  std::string out;  // stdout and stderr, as written
};
// tallowin.exe beside this program, or any command line; after timeoutMs
// the process is killed and exitCode is -2.
RunResult RunTallowin(const std::wstring& arguments, DWORD timeoutMs = 120000);
RunResult RunProgram(const std::wstring& commandLine, DWORD timeoutMs = 120000);

void PumpMessages();  // what is pending in this thread's queue, once
// Pumps until done() holds or timeoutMs passed; tells which.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

// A hidden top-level window (destroying a visible one costs Wine seconds
// without a window manager). Messages WM_APP sent or posted to it run
// OnHostMessage.
HWND CreateHiddenHost();
extern std::function<void()> OnHostMessage;

// The lines of a list box, read through its messages (also across processes).
std::vector<std::string> ListLines(HWND list);
// A click on frmMain's tab i or list line i: the selection, then the notification.
void ClickTab(HWND form, int i);
void ClickLine(HWND form, int i);

std::vector<std::string> SplitLines(const std::string& text);

// Pumps until WinHTTP gave every abandoned request its last notice (under
// Wine only once the server lets the connection go); true once all are gone.
bool WaitForAbandonedRequests(DWORD timeoutMs = 60000);

// TALLOWIN_TEST_<name> (a test service's host:port from scripts/test), or "".
std::string TestService(const std::string& name);

// A registry key the test writes and removes again, with everything below it.
class RegFixture {
 public:
  RegFixture(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
  ~RegFixture();
  RegFixture(const RegFixture&) = delete;
  RegFixture& operator=(const RegFixture&) = delete;
  // Values under a subkey (created as needed); "" is the key itself.
  void setString(const std::wstring& sub, const std::wstring& name, const std::wstring& value, DWORD type = REG_SZ);

 private:
  HKEY root_;
  std::wstring path_;
  REGSAM view_;
  HKEY key_ = nullptr;
};

}  // namespace tallowin::wintest
