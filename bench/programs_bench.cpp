// bench_programs.exe write | run [repetitions]
//
// write: puts two uninstall fixtures (1,000 and 10,000 entries, half in each
//        registry view) under HKLM\SOFTWARE\TallowinBench, once.
// run:   times the installed-programs section over each fixture, through the
//        real platform with the uninstall key redirected to the fixture, and
//        the same entry list sorted with repeated adjacent-swap passes.
// sections: the same without the adjacent-swap sort (it takes minutes).
#include "win32/win.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "control/profile_control.h"
#include "sections/inventory/programs.h"
#include "sections/sections.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace {

using namespace tallowin;

constexpr wchar_t kRoot[] = L"SOFTWARE\\TallowinBench";
constexpr DWORD kFixtureVersion = 1;
constexpr int kSizes[] = {1000, 10000};

std::wstring fixturePath(int entries) { return std::wstring(kRoot) + L"\\" + std::to_wstring(entries); }

// Names in no relation to the subkey order (which the registry enumerates
// sorted), with case-only twins and repeats, so the sort has work to do.
std::wstring displayName(uint32_t& seed) {
  static const wchar_t* const kWords[] = {
      L"Atlas",  L"beacon", L"Cobalt", L"delta",  L"Ember",  L"fjord",  L"Garnet", L"harbor", L"Indigo", L"juniper",
      L"Kestrel", L"lumen", L"Meridian", L"nimbus", L"Onyx", L"prairie", L"Quartz", L"ripple", L"Summit", L"tundra",
      L"\u00C4lv",  L"\u00E9tude", L"\u00D8ster", L"\u03A9mega",
  };
  constexpr size_t kCount = sizeof(kWords) / sizeof(kWords[0]);
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  std::wstring name = kWords[next() % kCount];
  name += L" ";
  name += kWords[next() % kCount];
  name += L" " + std::to_wstring(next() % 500);
  if (next() % 8 == 0) {
    for (wchar_t& c : name) c = static_cast<wchar_t>(::towupper(c));
  }
  return name;
}

bool setString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

DWORD fixtureVersion() {
  HKEY root = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &root) != ERROR_SUCCESS)
    return 0;
  DWORD v = 0;
  DWORD size = sizeof(v);
  if (::RegGetValueW(root, nullptr, L"Fixture", RRF_RT_REG_DWORD, nullptr, &v, &size) != ERROR_SUCCESS) v = 0;
  ::RegCloseKey(root);
  return v;
}

int writeFixtures() {
  if (fixtureVersion() == kFixtureVersion) {
    std::printf("fixtures already in the registry\n");
    return 0;
  }
  for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
    HKEY parent = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0, KEY_ALL_ACCESS | view, &parent) == ERROR_SUCCESS) {
      ::RegDeleteTreeW(parent, L"TallowinBench");
      ::RegCloseKey(parent);
    }
  }
  for (int entries : kSizes) {
    uint32_t seed = static_cast<uint32_t>(entries);
    for (int i = 0; i < entries; ++i) {
      const REGSAM view = i % 2 == 0 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
      wchar_t sub[32];
      std::swprintf(sub, 32, L"\\Bench-%05d", i);
      HKEY key = nullptr;
      if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (fixturePath(entries) + sub).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS | view, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        std::fprintf(stderr, "cannot create the fixture key %d\n", i);
        return 1;
      }
      const std::wstring name = displayName(seed);
      bool ok = true;
      if (i % 50 == 7) {
        // neither value: listed by its subkey name
      } else if (i % 10 == 3) {
        ok = setString(key, L"QuietDisplayName", name);
      } else {
        ok = setString(key, L"DisplayName", name);
      }
      ::RegCloseKey(key);
      if (!ok) {
        std::fprintf(stderr, "cannot write the fixture value %d\n", i);
        return 1;
      }
    }
  }
  HKEY root = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &root,
                        nullptr) != ERROR_SUCCESS)
    return 1;
  ::RegSetValueExW(root, L"Fixture", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kFixtureVersion), sizeof(DWORD));
  ::RegCloseKey(root);
  std::printf("fixtures written: %d and %d entries\n", kSizes[0], kSizes[1]);
  return 0;
}

// The real platform, with the uninstall key moved to one fixture.
class FixturePlatform : public win32::WinPlatform {
 public:
  explicit FixturePlatform(int entries) : target_("SOFTWARE\\TallowinBench\\" + std::to_string(entries)) {}
  int32_t RegOpenKeyEx(uint32_t root, const std::string& path, uint32_t access, RegView view,
                       RegHandle* key) override {
    const size_t n = std::strlen(kUninstallPath);
    if (root == kHKeyLocalMachine && path.size() >= n && ::_strnicmp(path.c_str(), kUninstallPath, n) == 0)
      return WinPlatform::RegOpenKeyEx(root, target_ + path.substr(n), access, view, key);
    return WinPlatform::RegOpenKeyEx(root, path, access, view, key);
  }

 private:
  std::string target_;
};

double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The sort as first written: passes over the whole list, swapping
// neighbours that are out of order, until a pass swaps nothing.
void adjacentSwapSort(Platform& p, std::vector<SubKeyItem>& items) {
  if (items.size() < 2) return;
  bool swapped = true;
  while (swapped) {
    swapped = false;
    for (size_t j = 1; j < items.size(); ++j) {
      if (ListNameBefore(p, items[j], items[j - 1])) {
        std::swap(items[j], items[j - 1]);
        swapped = true;
      }
    }
  }
}

struct Figures {
  double section = 0;   // the whole section, best of the repetitions
  double read = 0;      // reading and naming the entries
  double sort = 0;      // the stable sort alone
  double baseline = 0;  // the adjacent-swap sort of the same list
};

int run(int repetitions, bool withBaseline) {
  if (fixtureVersion() != kFixtureVersion) {
    std::fprintf(stderr, "no fixtures in this registry: run `bench_programs.exe write` first\n");
    return 1;
  }
  Figures figures[2];
  for (Figures& f : figures) f.section = f.read = f.sort = 1e300;
  // The sizes take turns, so that a busy spell on the machine falls on both.
  for (int r = 0; r < repetitions; ++r) {
    for (int s = 0; s < 2; ++s) {
      const int entries = kSizes[s];
      FixturePlatform p(entries);
      Figures& f = figures[s];
      ProfileControl control(p);
      auto start = std::chrono::steady_clock::now();
      SectionContext ctx = control.sectionContext();
      CollectPrograms(ctx);
      f.section = std::min(f.section, millisecondsSince(start));
      if (control.list().count() != 2 * entries - 1) {
        std::fprintf(stderr, "%d entries listed as %d lines\n", entries, control.list().count());
        return 1;
      }
      start = std::chrono::steady_clock::now();
      std::vector<SubKeyItem> list = ReadProgramEntries(p);
      f.read = std::min(f.read, millisecondsSince(start));
      start = std::chrono::steady_clock::now();
      SortProgramEntries(p, list);
      f.sort = std::min(f.sort, millisecondsSince(start));
    }
  }
  for (int s = 0; s < 2 && withBaseline; ++s) {
    FixturePlatform p(kSizes[s]);
    std::vector<SubKeyItem> sorted = ReadProgramEntries(p);
    std::vector<SubKeyItem> baseline = sorted;
    SortProgramEntries(p, sorted);
    const auto start = std::chrono::steady_clock::now();
    adjacentSwapSort(p, baseline);
    figures[s].baseline = millisecondsSince(start);
    for (size_t i = 0; i < sorted.size(); ++i) {
      if (sorted[i].Name != baseline[i].Name || sorted[i].View != baseline[i].View) {
        std::fprintf(stderr, "the two sorts disagree at %zu\n", i);
        return 1;
      }
    }
  }

  std::printf("installed-programs section, uninstall fixture in both registry views (best of %d)\n", repetitions);
  std::printf("%8s %14s %14s %14s %22s\n", "entries", "section ms", "read+name ms", "stable sort ms",
              "adjacent-swap sort ms");
  for (int s = 0; s < 2; ++s) {
    char baseline[32] = "-";
    if (withBaseline) std::snprintf(baseline, sizeof(baseline), "%.1f", figures[s].baseline);
    std::printf("%8d %14.1f %14.1f %14.1f %22s\n", kSizes[s], figures[s].section, figures[s].read, figures[s].sort,
                baseline);
  }
  const double ratio = figures[1].section / figures[0].section;
  std::printf("10,000/1,000 section time ratio: %.2f (target at most 15)\n", ratio);
  bool met = ratio <= 15;
  if (withBaseline) {
    const double speedup = figures[1].baseline / figures[1].section;
    std::printf("10,000 entries, adjacent-swap sort / whole section: %.1f times (target at least 20)\n", speedup);
    std::printf("10,000 entries, adjacent-swap sort / stable sort: %.1f times\n", figures[1].baseline / figures[1].sort);
    met = met && speedup >= 20;
  }
  std::printf("targets %s\n", met ? "met" : "NOT met");
  return met ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "write") return writeFixtures();
  if (command == "run" || command == "sections")
    return run(argc > 2 ? std::max(1, std::atoi(argv[2])) : 5, command == "run");
  std::fprintf(stderr, "usage: bench_programs.exe write | run [repetitions] | sections [repetitions]\n");
  return 2;
}
