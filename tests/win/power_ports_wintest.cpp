// `tallowin.exe show PORTS` and `show POWER` against what Windows (Wine)
// reports to the test, and the binding's program start and file size.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>

#include "win/support/win_support.h"
#include "win32/win_platform.h"

namespace tallowin {
namespace {

TEST(ShowPorts, ListsWhatTheSpoolerReports) {
  DWORD needed = 0, returned = 0;
  ::EnumPortsW(nullptr, 2, nullptr, 0, &needed, &returned);
  std::vector<BYTE> buffer(needed);
  std::vector<std::string> expect;
  if (needed > 0 && ::EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &returned)) {
    const auto* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
      const std::wstring name = ports[i].pPortName ? ports[i].pPortName : L"";
      const std::wstring desc = ports[i].pDescription ? ports[i].pDescription : L"";
      if (name.empty() || name[0] <= L' ') continue;
      expect.push_back("4010\t" + wintest::Utf8(name) + " (" + wintest::Utf8(desc) + ")");
    }
  }
  ASSERT_FALSE(expect.empty()) << "Wine's spooler lists its local ports";
  const auto r = wintest::RunTallowin(L"show PORTS --values");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = wintest::SplitLines(r.out);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  EXPECT_EQ(lines, expect);
}

TEST(ShowPower, FiveStatusLinesAndTheProfile) {
  SYSTEM_POWER_STATUS s{};
  ASSERT_TRUE(::GetSystemPowerStatus(&s));
  const auto r = wintest::RunTallowin(L"show POWER --values");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = wintest::SplitLines(r.out);
  ASSERT_GE(lines.size(), 7u) << r.out;
  const std::string ac[] = {"AC Offline", "AC Online", "AC Backup Power", "AC Unknown"};
  EXPECT_EQ(lines[0], "2010\tAC Line Status: " + ac[std::min<int>(s.ACLineStatus, 3)]);
  EXPECT_EQ(lines[1].rfind("2020\tBattery Condition: ", 0), 0u);
  EXPECT_EQ(lines[2].rfind("2030\tLifetime on Full Charge: ", 0), 0u);
  if (s.BatteryLifePercent <= 100) {
    EXPECT_EQ(lines[3], "2040\tCharge Remaining: " + std::to_string(s.BatteryLifePercent) + "%");
  }
  EXPECT_EQ(lines[4].rfind("2050\tLifetime on Current Charge: ", 0), 0u);
  EXPECT_EQ(lines[5].rfind("0\tCurrent Hardware Profile Name: ", 0), 0u);
  EXPECT_EQ(lines[6].rfind("0\tDocking Status: ", 0), 0u);
}

TEST(Binding, ProgramStartFileSizeAndMessages) {
  win32::WinPlatform p;
  std::string windir = p.GetWindowsDirectory();
  if (!windir.empty() && windir.back() != '\\') windir += '\\';
  EXPECT_GT(p.GetFileSize(windir + "explorer.exe"), 0);
  EXPECT_EQ(p.GetFileSize(windir + "no such file.exe"), -1);
  EXPECT_EQ(p.GetFileSize(windir), -1);  // a directory is no program
  EXPECT_TRUE(p.CreateProcess("cmd.exe /c exit 0"));
  EXPECT_FALSE(p.CreateProcess("tallowin-no-such-program.exe"));
  wchar_t text[256] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   ERROR_FILE_NOT_FOUND, 0, text, 256, nullptr);
  std::wstring expect(text, n);
  while (!expect.empty() && (expect.back() == L'\n' || expect.back() == L'\r')) expect.pop_back();
  ASSERT_FALSE(expect.empty());
  EXPECT_EQ(p.FormatMessage(ERROR_FILE_NOT_FOUND), wintest::Utf8(expect));  // without the line break
}

}  // namespace
}  // namespace tallowin
