// `tallowin.exe show CPU` against what Windows (Wine) reports to the test.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>

#include "sections/system/processor.h"
#include "win/support/win_support.h"

namespace tallowin {
namespace {

using wintest::RegFixture;

// The digits of a text, for comparing numbers whatever the regional grouping.
std::string digits(const std::string& text) {
  std::string d;
  for (char c : text)
    if (c >= '0' && c <= '9') d += c;
  return d;
}

std::string cpuValue(const wchar_t* name) {
  wchar_t buffer[256] = {};
  DWORD size = sizeof(buffer);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"Hardware\\Description\\System\\CentralProcessor\\0", name, RRF_RT_REG_SZ,
                     nullptr, buffer, &size) != ERROR_SUCCESS)
    return {};
  return wintest::Utf8(buffer);
}

DWORD cpuMhz() {
  DWORD mhz = 0;
  DWORD size = sizeof(mhz);
  ::RegGetValueW(HKEY_LOCAL_MACHINE, L"Hardware\\Description\\System\\CentralProcessor\\0", L"~MHz", RRF_RT_REG_DWORD,
                 nullptr, &mhz, &size);
  return mhz;
}

TEST(ShowCpu, MatchesThePlatform) {
  const auto r = wintest::RunTallowin(L"show CPU --values");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = wintest::SplitLines(r.out);

  SYSTEM_INFO si{};
  ::GetNativeSystemInfo(&si);
  const auto arch = static_cast<int16_t>(si.wProcessorArchitecture);
  const auto level = static_cast<int16_t>(si.wProcessorLevel);
  std::vector<std::string> expected = {
      "1020\tProcessor Architecture: " + ArchitectureText(arch),
  };
  const std::string vendor = cpuValue(L"VendorIdentifier");
  if (vendor > " ") expected.push_back("1025\tCPU Manufacturer: " + vendor);
  expected.push_back("1030\tProcessor Level: " + LevelText(arch, level));
  expected.push_back("1040\tProcessor Revision: " +
                     RevisionText(arch, level, static_cast<int16_t>(si.wProcessorRevision)));
  if (const DWORD mhz = cpuMhz(); mhz > 0 && mhz < 0x80000000u)
    expected.push_back("1045\tApproximate CPU Clock Rate: " + std::to_string(mhz) + " MHz");
  expected.push_back("1050\tNumber Of Processors: " + std::to_string(si.dwNumberOfProcessors));
  ASSERT_EQ(lines.size(), expected.size() + 5) << r.out;  // no feature lines without the OS section
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(expected.size())), expected);

  const size_t n = expected.size();
  EXPECT_EQ(lines[n].rfind("1070\tPage Size: ", 0), 0u);
  EXPECT_EQ(digits(lines[n].substr(0, lines[n].find(" bytes"))), "1070" + std::to_string(si.dwPageSize));
  EXPECT_EQ(lines[n + 1].rfind("1080\tAllocation Unit: ", 0), 0u);
  EXPECT_EQ(digits(lines[n + 1].substr(0, lines[n + 1].find(" bytes"))),
            "1080" + std::to_string(si.dwAllocationGranularity));
  const std::string minLabel = "1090\tMinimum Application Address: ";
  const std::string maxLabel = "1100\tMaximum Application Address: ";
  ASSERT_EQ(lines[n + 2].rfind(minLabel, 0), 0u);
  ASSERT_EQ(lines[n + 3].rfind(maxLabel, 0), 0u);
  EXPECT_EQ(digits(lines[n + 2].substr(minLabel.size())),
            std::to_string(reinterpret_cast<uintptr_t>(si.lpMinimumApplicationAddress)));
  // A 64-bit address space: past 32 bits, and not negative.
  EXPECT_EQ(digits(lines[n + 3].substr(maxLabel.size())),
            std::to_string(reinterpret_cast<uintptr_t>(si.lpMaximumApplicationAddress)));
  EXPECT_EQ(lines[n + 3].find('-'), std::string::npos);
  EXPECT_EQ(lines[n + 4], std::string("1110\tSlow Machine: ") + (::GetSystemMetrics(SM_SLOWMACHINE) ? "Yes" : "No"));
}

TEST(ShowCpu, FeatureLinesOnceTheOsSectionHasRun) {
  // Windows 10 counts as a Windows 2000 family system; the complete profile
  // runs the OS section before the processor section in one control.
  RegFixture version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\tallowin.exe");
  version.setString(L"", L"Version", L"win10");
  const auto r = wintest::RunTallowin(L"show --values", 300000);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = wintest::SplitLines(r.out);
  const struct {
    DWORD feature;
    const char* line;
  } features[] = {
      {1, "1210\tFloating Point Emulated: "},
      {0, "1220\tFloating Point Precision Errata: "},
      {2, "1230\tCompare & Exchange Double OP Available: "},
      {3, "1240\tMMX Instructions Available: "},
      {6, "1250\tXMMI Instructions Available: "},
      {7, "1260\tAMD 3D-Now Instructions Available: "},
  };
  auto first = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("1210\t", 0) == 0; });
  ASSERT_NE(first, lines.end()) << r.out;
  for (const auto& f : features) {
    ASSERT_NE(first, lines.end());
    EXPECT_EQ(*first, std::string(f.line) + (::IsProcessorFeaturePresent(f.feature) ? "Yes" : "No"));
    ++first;
  }
  ASSERT_NE(first, lines.end());
  EXPECT_EQ(first->rfind("1050\tNumber Of Processors: ", 0), 0u);
}

}  // namespace
}  // namespace tallowin
