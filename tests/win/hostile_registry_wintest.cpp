// What a registry can hand the sections: very many entries, very long and
// odd values, names at the limit. Every entry is shown exactly, in bounded
// time (the run's own time-out), and nothing reads past a buffer.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>
#include <memory>

#include "win/support/win_support.h"

namespace tallowin {
namespace {

using wintest::RegFixture;

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::vector<std::string> show(const wchar_t* tag) {
  const auto r = wintest::RunTallowin(std::wstring(L"show ") + tag, 300000);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return wintest::SplitLines(r.out);
}

size_t countPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

TEST(HostileRegistry, TenThousandProgramsAreAllListedInOrder) {
  std::vector<std::unique_ptr<RegFixture>> entries;
  entries.reserve(10000);
  for (int i = 0; i < 10000; ++i) {
    wchar_t n[32];
    swprintf(n, 32, L"%05d", 9999 - i);  // written in reverse order
    entries.push_back(std::make_unique<RegFixture>(HKEY_LOCAL_MACHINE, kUninstall + L"TallowinHostile-" + n));
    entries.back()->setString(L"", L"DisplayName", std::wstring(L"Hostile Program ") + n);
  }
  const auto lines = show(L"PROGS");
  std::vector<std::string> ours;
  for (const auto& l : lines)
    if (l.rfind("Hostile Program ", 0) == 0) ours.push_back(l);
  ASSERT_EQ(ours.size(), 10000u);
  EXPECT_TRUE(std::is_sorted(ours.begin(), ours.end()));
  EXPECT_EQ(ours.front(), "Hostile Program 00000");
  EXPECT_EQ(ours.back(), "Hostile Program 09999");
}

TEST(HostileRegistry, OddValuesAndNamesAtTheLimit) {
  // An odd byte count: the last half character is dropped.
  RegFixture odd(HKEY_LOCAL_MACHINE, kUninstall + L"TallowinOdd-1");
  const char oddBytes[] = {'O', 0, 'd', 0, 'd', 0, '!'};
  odd.setBytes(L"", L"DisplayName", REG_SZ, oddBytes, sizeof(oddBytes));
  // No terminating NUL at all.
  RegFixture noNul(HKEY_LOCAL_MACHINE, kUninstall + L"TallowinOdd-2");
  const wchar_t bare[] = {L'N', L'o', L'N', L'u', L'l'};
  noNul.setBytes(L"", L"DisplayName", REG_SZ, bare, sizeof(bare));
  // A value of 1 MB.
  RegFixture big(HKEY_LOCAL_MACHINE, kUninstall + L"TallowinOdd-3");
  std::wstring huge(512 * 1024 - 1, L'x');
  huge.replace(0, 12, L"TallowinHuge");
  big.setString(L"", L"DisplayName", huge);
  // A key name of 255 characters and no display name: the name is listed.
  const std::wstring longName = L"TallowinLong" + std::wstring(255 - 12, L'n');
  RegFixture named(HKEY_LOCAL_MACHINE, kUninstall + longName);
  named.setDword(L"", L"EstimatedSize", 1);
  // A display name that is not text.
  RegFixture binary(HKEY_LOCAL_MACHINE, kUninstall + L"TallowinOdd-4");
  const BYTE junk[] = {0xFF, 0xFE, 0x00, 0x01, 0x02};
  binary.setBytes(L"", L"DisplayName", REG_BINARY, junk, sizeof(junk));

  const auto lines = show(L"PROGS");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Odd"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "NoNul"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), wintest::Utf8(longName)), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), wintest::Utf8(huge)), lines.end()) << "the 1 MB name whole";
  EXPECT_NE(std::find(lines.begin(), lines.end(), "TallowinOdd-4"), lines.end()) << "a binary name falls back";
}

TEST(HostileRegistry, ThousandDevicesAndAMultiStringWithoutItsEnd) {
  const std::wstring root = L"SYSTEM\\CurrentControlSet\\Enum\\PCMCIA";
  HKEY probe = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, root.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &probe) == ERROR_SUCCESS) {
    ::RegCloseKey(probe);
    GTEST_SKIP() << "this machine lists PCMCIA devices of its own";
  }
  RegFixture bus(HKEY_LOCAL_MACHINE, root);
  for (int i = 0; i < 1000; ++i) {
    const std::wstring dev = L"TALLOWIN_HOSTILE_" + std::to_wstring(i) + L"\\1";
    bus.setString(dev, L"DeviceDesc", L"Hostile Card " + std::to_wstring(i));
  }
  // Two pieces and no final double NUL: both pieces, nothing beyond.
  const wchar_t ids[] = {L'I', L'D', L'1', 0, L'I', L'D', L'2'};
  bus.setBytes(L"TALLOWIN_HOSTILE_0\\1", L"HardwareID", REG_MULTI_SZ, ids, sizeof(ids));
  const auto lines = show(L"PCMCIA");
  EXPECT_EQ(countPrefix(lines, "PCMCIA Card Name: Hostile Card "), 1000u);
  EXPECT_EQ(countPrefix(lines, "  Hardware ID: ID1"), 1u);
  EXPECT_EQ(countPrefix(lines, "  Hardware ID: ID2"), 1u);
  EXPECT_EQ(countPrefix(lines, "  Hardware ID: "), 2u);
}

}  // namespace
}  // namespace tallowin
