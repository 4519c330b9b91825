// The module that holds this code (tallowin.ocx, or the program it is linked
// into) and the count of what keeps it loaded.
#pragma once

#include "win32/win.h"

#include <string>

namespace tallowin::win32 {

// The image this code belongs to: the ocx when it runs inside one, else the
// program itself. Window classes and the type library are looked up here.
HINSTANCE ModuleInstance();
// Its full path ("" when it cannot be read).
std::wstring ModulePath();

// Objects, class factories, server locks and anything else with code of this
// module on its stack (a dispatch, an upload, a worker thread) hold the
// module: DllCanUnloadNow answers S_FALSE while the count is above zero.
void ModuleAddRef();
void ModuleRelease();
bool ModuleInUse();

class ModuleLock {
 public:
  ModuleLock() { ModuleAddRef(); }
  ~ModuleLock() { ModuleRelease(); }
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;
};

}  // namespace tallowin::win32
