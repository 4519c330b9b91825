// tallowin.exe's scheduled inventory on Windows: its settings from the policy
// and the package, its state in the running user's registry, the run itself,
// and the Task Scheduler task the packages register to start it.
#pragma once

#include <string>
#include <vector>

#include "upload/schedule.h"

namespace tallowin::win32 {

// HKLM\SOFTWARE\Policies\Tallowin, then HKLM\SOFTWARE\Tallowin (each in the
// 64-bit view, then the 32-bit one): ScheduledInventory, ScheduleIntervalHours,
// ScheduleMaxDelayMinutes.
ScheduleSettings ReadScheduleSettings();

// One scheduled run: waits the random delay, collects, sends when due, keeps
// the state. Returns the attempt's outcome line; never shows anything.
std::string RunScheduledUpload();

// The lines of `tallowin.exe status`.
std::vector<std::string> StatusLines();

// The task that runs this program's `upload --scheduled` at every logon and
// every hour; registered from the path of the running program. Empty: done.
std::string RegisterScheduledTask();
std::string UnregisterScheduledTask();
// The task's name, and whether Task Scheduler has it.
std::string ScheduledTaskName();
bool ScheduledTaskRegistered();

}  // namespace tallowin::win32
