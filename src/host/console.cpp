// tallowin.exe's console commands: the sections without a window.
#include "host/console.h"

#include "win32/win.h"

#include <cstdio>
#include <optional>
#include <fcntl.h>
#include <io.h>

#include "control/profile_control.h"
#include "upload/adapter_mac.h"
#include "win32/scheduled_run.h"
#include "win32/upload_binding.h"
#include "win32/win_platform.h"

namespace tallowin::host {

namespace {

void write(FILE* f, const std::string& text) {
  fwrite(text.data(), 1, text.size(), f);
}

const char kUsage[] =
    "usage: tallowin.exe                       open the control in a window\n"
    "       tallowin.exe window [TAB]          the window, with the tab tagged TAB clicked\n"
    "       tallowin.exe show [TAG] [--values] print a section (no TAG: the complete profile)\n"
    "       tallowin.exe mac                   print the adapter address sent with the inventory\n"
    "       tallowin.exe upload [--server [https://]HOST[:PORT]]\n"
    "                                          send the inventory record, then the complete profile when the\n"
    "                                          service takes it; exit 0 when the service accepted the record\n"
    "       tallowin.exe upload --scheduled    what the scheduled task runs: a random delay, then the record\n"
    "                                          only when it changed or is an interval old (see status)\n"
    "       tallowin.exe status                the server and schedule settings, the last run and acceptance\n"
    "       tallowin.exe schedule register|unregister\n"
    "                                          add or remove the scheduled task (the packages do this)\n"
    "TAG is a tab's tag: OS, PROGS, CPU, POWER, MEMORY, PORTS, PCI, SCSI, USB,\n"
    "FIREWIRE, PCMCIA, NETWORK, UI, LOCALE, TIME, PRINTERS (any case).\n";

int usage(const std::string& complaint) {
  write(stderr, "tallowin: " + complaint + "\n" + kUsage);
  return 2;
}

int show(const std::vector<std::string>& args) {
  std::string tag;
  bool haveTag = false;
  bool values = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--values") {
      values = true;
    } else if (a.rfind("-", 0) == 0) {
      return usage("unknown option " + a);
    } else if (!haveTag) {
      tag = a;
      haveTag = true;
    } else {
      return usage("more than one tag: " + a);
    }
  }
  ProfileControl control(win32::SystemPlatform());
  control.dispatch(tag);
  std::string out;
  for (const auto& line : control.list().lines()) {
    if (values) out += std::to_string(line.itemValue) + "\t";
    out += line.text;
    out += "\n";
  }
  write(stdout, out);
  fflush(stdout);
  return 0;
}

int mac(const std::vector<std::string>& args) {
  if (args.size() > 1) return usage("mac takes no arguments");
  write(stdout, GetAdapterMac(win32::SystemPlatform()) + "\n");
  fflush(stdout);
  return 0;
}

void writeLine(const std::string& line) {
  write(stdout, line + "\n");
  fflush(stdout);
}

int upload(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[1] == "--scheduled") {
    // Nothing to answer for: the outcome is kept for status, the next run
    // tries again.
    writeLine(win32::RunScheduledUpload());
    return 0;
  }
  std::optional<std::string> server;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--server" && i + 1 < args.size()) {
      server = args[++i];
    } else if (args[i].rfind("--server=", 0) == 0) {
      server = args[i].substr(9);
    } else {
      return usage(args[i] == "--server" ? "--server needs HOST[:PORT]" : "unknown option " + args[i]);
    }
  }
  ProfileControl control(win32::SystemPlatform());
  const UploadOutcome outcome = win32::RunInventoryUpload(control, server, false);
  // Which of the places that can set the server was used: the administrator's
  // first question when a machine reports somewhere unexpected.
  const std::string source = win32::ResolveServer(server).source;
  write(stdout, outcome.message + (source.empty() ? std::string() : " (server setting from " + source + ")") + "\n");
  // The record's acceptance stands whatever became of the profile.
  if (!outcome.profileMessage.empty()) write(stdout, outcome.profileMessage + "\n");
  fflush(stdout);
  return outcome.accepted ? 0 : 1;
}

int status(const std::vector<std::string>& args) {
  if (args.size() > 1) return usage("status takes no arguments");
  for (const std::string& line : win32::StatusLines()) write(stdout, line + "\n");
  fflush(stdout);
  return 0;
}

int schedule(const std::vector<std::string>& args) {
  if (args.size() != 2 || (args[1] != "register" && args[1] != "unregister"))
    return usage("schedule takes register or unregister");
  const std::string problem =
      args[1] == "register" ? win32::RegisterScheduledTask() : win32::UnregisterScheduledTask();
  writeLine(problem.empty() ? win32::ScheduledTaskName() + ": " + args[1] + "ed" : "tallowin: " + problem);
  return problem.empty() ? 0 : 1;
}

}  // namespace

int RunConsole(const std::vector<std::string>& args) {
  _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 bytes as they are, "\n" line ends
  _setmode(_fileno(stderr), _O_BINARY);
  if (args.empty()) return usage("no command");
  const std::string& command = args[0];
  if (command == "show") return show(args);
  if (command == "window") return usage("no tab is tagged " + (args.size() > 1 ? args[1] : std::string()));
  if (command == "mac") return mac(args);
  if (command == "upload") return upload(args);
  if (command == "status") return status(args);
  if (command == "schedule") return schedule(args);
  if (command == "help" || command == "--help" || command == "-h" || command == "/?") {
    write(stdout, kUsage);
    return 0;
  }
  return usage("unknown command " + command);
}

}  // namespace tallowin::host
