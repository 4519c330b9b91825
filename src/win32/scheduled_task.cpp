// The Task Scheduler task behind the scheduled inventory. A task, not a
// logon entry or a service: one registration runs the program at every
// logon and every hour, as the user who is logged on (a member of Users, so
// the record carries that user's name), hidden, one instance at a time,
// catching up a run missed while the PC was off or asleep.
#include "win32/win.h"

#include <taskschd.h>

#include "win32/handles.h"
#include "win32/scheduled_run.h"
#include "win32/wide.h"

namespace tallowin::win32 {

namespace {

// Each build its own task: the x86 and the x64 package install side by side.
#ifdef _WIN64
constexpr wchar_t kTaskName[] = L"Tallowin Scheduled inventory";
#else
constexpr wchar_t kTaskName[] = L"Tallowin Scheduled inventory (x86)";
#endif

struct Bstr {
  BSTR b;
  explicit Bstr(const std::wstring& text) : b(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { ::SysFreeString(b); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
};

std::wstring xmlEscaped(const std::wstring& text) {
  std::wstring out;
  for (const wchar_t c : text) {
    switch (c) {
      case L'&': out += L"&amp;"; break;
      case L'<': out += L"&lt;"; break;
      case L'>': out += L"&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

std::wstring programPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);
  }
}

// Logon of any user and hourly (the interval may be as short as an hour);
// the run itself decides whether to send. The time limit covers the longest
// random delay (240 minutes) and the upload's time-outs. The description
// names the command too: an administrator reads it in the Task Scheduler
// console, and Wine keeps it where it drops the action.
std::wstring taskXml(const std::wstring& program) {
  const std::wstring command = L"\"" + xmlEscaped(program) + L"\" upload --scheduled";
  return L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
         L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">"
         L"<RegistrationInfo><Description>Runs " + command +
         L" at every logon and every hour: sends this PC's software inventory to the inventory service "
         L"when it changed or the interval has passed (see tallowin.exe status).</Description></RegistrationInfo>"
         L"<Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger>"
         L"<CalendarTrigger><StartBoundary>2020-01-01T00:00:00</StartBoundary><Enabled>true</Enabled>"
         L"<Repetition><Interval>PT1H</Interval><Duration>P1D</Duration></Repetition>"
         L"<ScheduleByDay><DaysInterval>1</DaysInterval></ScheduleByDay></CalendarTrigger></Triggers>"
         L"<Principals><Principal id=\"Users\"><GroupId>S-1-5-32-545</GroupId>"
         L"<RunLevel>LeastPrivilege</RunLevel></Principal></Principals>"
         L"<Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>"
         L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>"
         L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries><StartWhenAvailable>true</StartWhenAvailable>"
         L"<Hidden>true</Hidden><ExecutionTimeLimit>PT5H</ExecutionTimeLimit><Priority>7</Priority></Settings>"
         L"<Actions Context=\"Users\"><Exec><Command>" +
         xmlEscaped(program) + L"</Command><Arguments>upload --scheduled</Arguments></Exec></Actions></Task>";
}

std::string failure(const char* what, HRESULT hr) {
  char code[16];
  snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  return std::string(what) + ": error " + code;
}

// Task Scheduler's root folder, or why not.
std::string rootFolder(ComPtr<ITaskFolder>& folder) {
  ComPtr<ITaskService> service;
  HRESULT hr = ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  service.putVoid());
  if (FAILED(hr)) return failure("Task Scheduler is not available", hr);
  VARIANT none;
  ::VariantInit(&none);
  hr = service->Connect(none, none, none, none);
  if (FAILED(hr)) return failure("Task Scheduler refused the connection", hr);
  Bstr root(L"\\");
  hr = service->GetFolder(root.b, folder.put());
  return FAILED(hr) ? failure("Task Scheduler's root folder", hr) : std::string();
}

}  // namespace

std::string ScheduledTaskName() { return Utf8(kTaskName); }

std::string RegisterScheduledTask() {
  OleScope ole;
  ComPtr<ITaskFolder> folder;
  if (std::string problem = rootFolder(folder); !problem.empty()) return problem;
  const std::wstring program = programPath();
  if (program.empty()) return "the program's own path is unknown";
  Bstr name(kTaskName);
  Bstr xml(taskXml(program));
  VARIANT none;
  ::VariantInit(&none);
  ComPtr<IRegisteredTask> task;
  const HRESULT hr = folder->RegisterTask(name.b, xml.b, TASK_CREATE_OR_UPDATE, none, none, TASK_LOGON_GROUP, none,
                                          task.put());
  return FAILED(hr) ? failure("the task could not be registered", hr) : std::string();
}

std::string UnregisterScheduledTask() {
  OleScope ole;
  ComPtr<ITaskFolder> folder;
  if (std::string problem = rootFolder(folder); !problem.empty()) return problem;
  Bstr name(kTaskName);
  const HRESULT hr = folder->DeleteTask(name.b, 0);
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return {};  // nothing to remove
  return FAILED(hr) ? failure("the task could not be removed", hr) : std::string();
}

bool ScheduledTaskRegistered() {
  OleScope ole;
  ComPtr<ITaskFolder> folder;
  if (!rootFolder(folder).empty()) return false;
  Bstr name(kTaskName);
  ComPtr<IRegisteredTask> task;
  return SUCCEEDED(folder->GetTask(name.b, task.put()));
}

}  // namespace tallowin::win32
