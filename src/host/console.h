#pragma once

#include <string>
#include <vector>

namespace tallowin::host {

// Runs a console command; returns the process exit code.
int RunConsole(const std::vector<std::string>& args);

}  // namespace tallowin::host
