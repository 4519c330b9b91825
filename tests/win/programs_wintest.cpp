// `tallowin.exe show PROGS` over an uninstall fixture written into both views.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "win/support/win_support.h"

namespace tallowin {
namespace {

using wintest::RegFixture;

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

struct FixtureEntry {
  REGSAM view;
  std::wstring subKey;
  const wchar_t* displayName;  // nullptr: no such value
  const wchar_t* quietName;
};

std::vector<FixtureEntry> fixtureEntries() {
  return {
      {KEY_WOW64_64KEY, L"TallowinTest-Markup", L"Tallowin Test Fish & Chips <Deluxe> Edition", nullptr},
      {KEY_WOW64_32KEY, L"TallowinTest-Letters", L"Tallowin Test \u00C4rger \u00D6ffnen \u00C7edille \u03A9mega \u65E5\u672C",
       nullptr},
      {KEY_WOW64_32KEY, L"TallowinTest-" + std::wstring(187, L'L'), L"tallowin test long key program", nullptr},
      {KEY_WOW64_64KEY, L"TallowinTest-Quiet", nullptr, L"Tallowin Test Quiet Only"},
      {KEY_WOW64_32KEY, L"TallowinTest-{0D1C2B3A-4F5E-6D7C-8B9A-0F1E2D3C4B5A}", nullptr, nullptr},
      {KEY_WOW64_64KEY, L"TallowinTest-Both", L"Tallowin Test Both (64-bit)", nullptr},
      {KEY_WOW64_32KEY, L"TallowinTest-Both", L"  Tallowin Test Both (32-bit)", L"Not This One"},
  };
}

// What each entry must be listed as.
std::string listedAs(const FixtureEntry& e) {
  if (e.displayName) return wintest::Utf8(e.displayName);
  if (e.quietName) return wintest::Utf8(e.quietName);
  return wintest::Utf8(e.subKey);
}

// The name lines of `show PROGS --values`, checking the line shapes on the way.
std::vector<std::string> listedNames() {
  const auto r = wintest::RunTallowin(L"show PROGS --values");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const auto lines = wintest::SplitLines(r.out);
  std::vector<std::string> names;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i % 2 == 1) {
      EXPECT_EQ(lines[i], "0\t") << "separator at " << i;
    } else {
      EXPECT_EQ(lines[i].rfind("500\t", 0), 0u) << lines[i];
      names.push_back(lines[i].substr(4));
    }
  }
  if (!lines.empty()) {
    EXPECT_EQ(lines.size() % 2, 1u) << "ends with a separator";
  }
  return names;
}

int compare(const std::string& a, const std::string& b) {
  const std::wstring wa = wintest::Wide(a), wb = wintest::Wide(b);
  return ::CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, wa.c_str(), static_cast<int>(wa.size()),
                           wb.c_str(), static_cast<int>(wb.size()), nullptr, nullptr, 0);
}

TEST(ShowPrograms, FixtureOfBothViewsListedSortedAndIntact) {
  const std::vector<std::string> before = listedNames();

  std::vector<std::unique_ptr<RegFixture>> keys;
  std::vector<std::string> expected;
  for (const FixtureEntry& e : fixtureEntries()) {
    keys.push_back(std::make_unique<RegFixture>(HKEY_LOCAL_MACHINE, kUninstall + e.subKey, e.view));
    if (e.displayName) keys.back()->setString(L"", L"DisplayName", e.displayName);
    if (e.quietName) keys.back()->setString(L"", L"QuietDisplayName", e.quietName);
    expected.push_back(listedAs(e));
  }
  const std::vector<std::string> after = listedNames();

  // What the fixture adds is exactly its names, each once.
  std::vector<std::string> added = after;
  for (const auto& name : before) {
    auto it = std::find(added.begin(), added.end(), name);
    ASSERT_NE(it, added.end()) << name;
    added.erase(it);
  }
  std::sort(added.begin(), added.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(added, expected);

  // The whole list in the user's collation, ignoring case.
  for (size_t i = 1; i < after.size(); ++i)
    EXPECT_NE(compare(after[i - 1], after[i]), CSTR_GREATER_THAN) << after[i - 1] << " | " << after[i];

  keys.clear();
  EXPECT_EQ(listedNames(), before);
}

}  // namespace
}  // namespace tallowin
