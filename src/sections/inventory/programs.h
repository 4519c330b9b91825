#pragma once

#include <vector>

#include "platform/platform.h"
#include "platform/registry.h"

namespace tallowin {

// The machine-wide uninstall key; every direct subkey is one program.
inline constexpr char kUninstallPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Every entry of the uninstall key, the 64-bit view's and then the 32-bit
// view's (one view where the system has only one), with its ListName set.
std::vector<SubKeyItem> ReadProgramEntries(Platform& platform);

// The first present text of DisplayName and QuietDisplayName, else the
// subkey name as it is; the values are read in the entry's own view.
std::string ProgramListName(Platform& platform, const SubKeyItem& entry);

// a sorts strictly before b: the user's collation, ignoring case.
bool ListNameBefore(Platform& platform, const SubKeyItem& a, const SubKeyItem& b);

// Stable, ascending under ListNameBefore.
void SortProgramEntries(Platform& platform, std::vector<SubKeyItem>& entries);

}  // namespace tallowin
