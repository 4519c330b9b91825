#include "win32/module.h"

#include <atomic>

// The linker's symbol for the start of the image this object file is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tallowin::win32 {

namespace {
std::atomic<long> g_moduleRefs{0};
}  // namespace

HINSTANCE ModuleInstance() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(ModuleInstance(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

void ModuleAddRef() { ++g_moduleRefs; }
void ModuleRelease() { --g_moduleRefs; }
bool ModuleInUse() { return g_moduleRefs.load() > 0; }

}  // namespace tallowin::win32
