// What a double-click on the list does: open the folder a FOLDERS line names.
#include <string>

#include "control/profile_control.h"
#include "platform/text.h"

namespace tallowin {

namespace {

// One argument in double quotes, so that blanks and commas in a folder's
// name stay part of it. A quote cannot occur in a Windows path; one in the
// line is dropped rather than let it end the argument early.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text)
    if (c != '"') out += c;
  out += '"';
  return out;
}

}  // namespace

void ProfileControl::onListDoubleClick() {
  if (!view_ || closed_) return;
  if (shownTag_ != "FOLDERS") return;
  const int i = list_.selectedIndex();
  if (i < 0 || i >= list_.count()) return;
  const std::string text = list_.text(i);
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return;
  const size_t from = text.find_first_not_of(' ', colon + 1);
  const std::string path = from == std::string::npos ? std::string() : text.substr(from);
  // The explorer with no argument when only blanks follow the colon.
  std::string argument;
  if (!path.empty()) {
    argument = " ";
    argument += quoted(path);
  }
  auto withArgument = [&argument](std::string program) {
    program += argument;
    return program;
  };

  // Whatever goes wrong from here on, the user sees nothing of it: the plain
  // name first, then the program in the Windows and the system directory.
  try {
    if (platform_.CreateProcess(withArgument("explorer.exe"))) return;
    for (std::string dir : {platform_.GetWindowsDirectory(), platform_.GetSystemDirectory()}) {
      // A directory that cannot be read is no directory, not the drive's root.
      if (dir.empty()) continue;
      if (dir.back() != '\\') dir += '\\';
      const std::string program = dir + "explorer.exe";
      if (platform_.GetFileSize(program) > 0 && platform_.CreateProcess(withArgument(quoted(program)))) return;
    }
  } catch (...) {
  }
}

}  // namespace tallowin
