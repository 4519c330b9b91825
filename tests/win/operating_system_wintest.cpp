// `tallowin.exe show OS` against what Windows (Wine) reports to the test.
#include <gtest/gtest.h>

#include "win32/win.h"

#include "win/support/win_support.h"

namespace tallowin {
namespace {

TEST(ShowOs, MatchesThePlatform) {
  const auto r = wintest::RunTallowin(L"show OS --values");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = wintest::SplitLines(r.out);
  ASSERT_GE(lines.size(), 10u);

  using Fn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  auto rtl = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOEXW v{};
  v.dwOSVersionInfoSize = sizeof(v);
  ASSERT_EQ(rtl(&v), 0);
  wchar_t windir[MAX_PATH];
  ::GetWindowsDirectoryW(windir, MAX_PATH);

  EXPECT_EQ(lines[0], "10\tOperating System Name: Windows 7");  // Wine's default version
  const std::string expect[] = {
      "30\tOperating System Major Version: " + std::to_string(v.dwMajorVersion),
      "40\tOperating System Minor Version: " + std::to_string(v.dwMinorVersion),
      "50\tOperating System Build Number: " + std::to_string(v.dwBuildNumber),
      "60\tService Pack Description: " + wintest::Utf8(v.szCSDVersion),
      "70\tWindows Directory: " + wintest::Utf8(windir),
      "20\tOperating System Platform: Windows NT/2000/XP",
  };
  for (const auto& e : expect) EXPECT_NE(std::find(lines.begin(), lines.end(), e), lines.end()) << e;
  EXPECT_EQ(lines.back().substr(0, 15), "270\tBoot Type: ");
}

TEST(Console, UnknownOptionIsAUsageError) {
  const auto r = wintest::RunTallowin(L"show OS --frobnicate");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("usage:"), std::string::npos);
  EXPECT_EQ(wintest::RunTallowin(L"explode").exitCode, 2);
}

TEST(Console, TagIsCaseInsensitive) {
  const auto upper = wintest::RunTallowin(L"show OS");
  const auto lower = wintest::RunTallowin(L"show os");
  EXPECT_EQ(upper.out, lower.out);
}

}  // namespace
}  // namespace tallowin
