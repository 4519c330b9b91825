#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "sections/system/operating_system.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;

Platform::OsVersionInfo ver(uint32_t platform, uint32_t major, uint32_t minor, uint8_t productType = 1, uint32_t build = 0,
                  const char* csd = "") {
  Platform::OsVersionInfo v;
  v.dwPlatformId = platform;
  v.dwMajorVersion = major;
  v.dwMinorVersion = minor;
  v.wProductType = productType;
  v.dwBuildNumber = build;
  v.szCSDVersion = csd;
  return v;
}

struct NameRow {
  Platform::OsVersionInfo v;
  const char* name;
  const char* flags;  // which flags end up set
};

std::string setFlags(const VersionFlags& f) {
  std::string s;
  auto add = [&](bool b, const char* n) { if (b) s += std::string(s.empty() ? "" : " ") + n; };
  add(f.IsWinNT, "NT"); add(f.IsWinNT35, "NT35"); add(f.IsWinNT4, "NT4"); add(f.IsWin2000, "2000");
  add(f.IsWin9x, "9x"); add(f.IsWin95, "95"); add(f.IsWin98, "98"); add(f.IsWinME, "ME");
  add(f.IsWinXP, "XP"); add(f.IsWin3x, "3x");
  return s;
}

TEST(OsName, EveryRow) {
  const NameRow rows[] = {
      {ver(2, 5, 0), "Windows 2000", "2000"},
      {ver(2, 5, 1), "Windows XP", "XP"},
      {ver(2, 5, 2, 1), "Windows XP Professional x64 Edition", ""},
      {ver(2, 5, 2, 3), "Windows Server 2003", ""},
      {ver(2, 6, 0, 1), "Windows Vista", "2000"},
      {ver(2, 6, 0, 2), "Windows Server 2008", "2000"},
      {ver(2, 6, 1, 1), "Windows 7", "XP"},
      {ver(2, 6, 1, 3), "Windows Server 2008 R2", "XP"},
      {ver(2, 6, 2, 1), "Windows 8", ""},
      {ver(2, 6, 2, 3), "Windows Server 2012", ""},
      {ver(2, 6, 3, 1), "Windows 8.1", ""},
      {ver(2, 6, 3, 2), "Windows Server 2012 R2", ""},
      {ver(2, 10, 0, 1, 19045), "Windows 10", "2000"},
      {ver(2, 10, 0, 1, 22000), "Windows 11", "2000"},
      {ver(2, 10, 0, 3, 14393), "Windows Server 2016", "2000"},
      {ver(2, 10, 0, 3, 17763), "Windows Server 2019", "2000"},
      {ver(2, 10, 0, 2, 20348), "Windows Server 2022", "2000"},
      {ver(2, 10, 0, 3, 26100), "Windows Server 2025", "2000"},
      {ver(2, 10, 0, 3, 12345), "Windows Server", "2000"},
      {ver(2, 11, 4), "Windows NT 11.4", ""},
      {ver(2, 4, 0), "Windows NT 4", "NT NT4"},
      {ver(2, 3, 51), "Windows NT 3.5x", "NT NT35"},
      {ver(2, 2, 0), "Windows NT", "NT"},
      {ver(0, 3, 10), "Windows 3.10", "3x"},
      {ver(1, 4, 0, 0, 0, "C"), "Windows 95 OSR2", "9x 95"},
      {ver(1, 4, 0, 0, 0, "B"), "Windows 95", "9x 95"},
      {ver(1, 4, 10, 0, 0, "A"), "Windows 98 SE", "9x 98"},
      {ver(1, 4, 10), "Windows 98", "9x 98"},
      {ver(1, 4, 90), "Windows ME", "9x ME"},
      {ver(1, 4, 50), "Windows 9x", "9x"},
      {ver(1, 5, 3), "Windows XP", "9x XP"},
      {ver(1, 6, 0), "Unknown", ""},
  };
  for (const NameRow& r : rows) {
    VersionFlags f;
    EXPECT_EQ(DecodeOsName(r.v, f), r.name) << r.v.dwPlatformId << " " << r.v.dwMajorVersion << "." << r.v.dwMinorVersion;
    EXPECT_EQ(setFlags(f), r.flags) << r.name;
  }
}

TEST(OsName, ServicePackTextBeforeNul) {
  VersionFlags f;
  Platform::OsVersionInfo v = ver(1, 4, 0);
  v.szCSDVersion = std::string("C\0x", 3);
  EXPECT_EQ(DecodeOsName(v, f), "Windows 95 OSR2");
}

TEST(SuiteText, BitsInOrder) {
  EXPECT_EQ(SuiteText(0), "none");
  EXPECT_EQ(SuiteText(0x12), "EnterpriseTerminal Server");
  EXPECT_EQ(SuiteText(0xFF), "Small BusinessSmall Business (Restricted)BackOfficeEnterpriseDataCenterTerminal Server");
  EXPECT_EQ(SuiteText(0x40), "none");
}

class OsSection : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  void SetUp() override {
    p.exports.insert("kernel32.dll!GetSystemWindowsDirectoryW");
    p.setString("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOwner", "Ada", RegView::Bits64);
    p.setString("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOrganization", "Engines Ltd", RegView::Bits64);
  }
  std::vector<std::string> run() {
    CollectOperatingSystem(control);
    return test::Texts(control.list());
  }
};

TEST_F(OsSection, Windows2000AllLines) {
  p.version = ver(2, 5, 0, 3, 2195, "Service Pack 4");
  p.version.wServicePackMajor = 4;
  p.version.wSuiteMask = 0x12;
  p.metrics = {{44, 1}, {22, 0}, {67, 2}};
  p.windowsDirectory = "  C:\\WINNT\0\0  ";
  EXPECT_EQ(run(), (std::vector<std::string>{
                       "Operating System Name: Windows 2000",
                       "Licensed To User: Ada",
                       "Licensed To Company: Engines Ltd",
                       "Operating System Platform: Windows NT/2000/XP",
                       "Operating System Major Version: 5",
                       "Operating System Minor Version: 0",
                       "Operating System Build Number: 2195",
                       "Service Pack Description: Service Pack 4",
                       "Service Pack Major Version: 4",
                       "Service Pack Minor Version: 0",
                       "Windows Directory: C:\\WINNT",
                       "Windows System Directory: C:\\windows\\system32",
                       "Shared Windows Directory: C:\\windows",
                       "Product Type: Windows 2000 Server",
                       "Software Suite/Bundle: EnterpriseTerminal Server",
                       "Security Present: Yes",
                       "Debug Version of Windows: No",
                       "Boot Type: Safe Mode with Network Support",
                   }));
  EXPECT_EQ(test::Values(control.list()),
            (std::vector<int32_t>{10, 0, 0, 20, 30, 40, 50, 60, 210, 220, 70, 80, 90, 230, 240, 250, 260, 270}));
  EXPECT_TRUE(control.flags().IsWin2000);
  EXPECT_EQ(control.flags().OsMajorVersion, 5);
}

TEST_F(OsSection, ConditionalLines) {
  struct Row {
    Platform::OsVersionInfo v;
    bool servicePackLines;
    bool productLines;
  };
  const Row rows[] = {
      {ver(2, 5, 1), true, false},         {ver(2, 6, 1), true, false},  {ver(2, 10, 0, 1, 19045), true, true},
      {ver(2, 6, 2), false, false},        {ver(2, 4, 0), false, false}, {ver(1, 4, 10), false, false},
      {ver(1, 5, 0), true, false},
  };
  for (const Row& r : rows) {
    ProfileControl c{p};
    p.version = r.v;
    CollectOperatingSystem(c);
    const auto lines = test::Texts(c.list());
    EXPECT_EQ(test::HasPrefix(lines, "Service Pack Major Version: "), r.servicePackLines) << lines[0];
    EXPECT_EQ(test::HasPrefix(lines, "Service Pack Minor Version: "), r.servicePackLines) << lines[0];
    EXPECT_EQ(test::HasPrefix(lines, "Product Type: "), r.productLines) << lines[0];
    EXPECT_EQ(test::HasPrefix(lines, "Software Suite/Bundle: "), r.productLines) << lines[0];
  }
}

TEST_F(OsSection, ProductTypeTexts) {
  const struct { uint32_t major; uint8_t type; const char* text; } rows[] = {
      {5, 1, "Windows 2000 Professional"}, {5, 2, "Domain Controller"}, {5, 3, "Windows 2000 Server"},
      {5, 0, "unknown"}, {10, 1, "Workstation"}, {10, 2, "Domain Controller"}, {10, 3, "Server"}, {6, 9, "unknown"},
  };
  for (const auto& r : rows) {
    ProfileControl c{p};
    p.version = ver(2, r.major, 0, r.type, 19045);
    CollectOperatingSystem(c);
    EXPECT_TRUE(test::HasLine(test::Texts(c.list()), std::string("Product Type: ") + r.text)) << r.text;
  }
}

TEST_F(OsSection, OwnerKeyAndPresence) {
  // Windows 9x reads the owner under Windows\CurrentVersion.
  p.setString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "RegisteredOwner", " ", RegView::Bits64);
  p.setString("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "RegisteredOrganization", "Club", RegView::Bits64);
  p.version = ver(1, 4, 10);
  auto lines = run();
  EXPECT_FALSE(test::HasPrefix(lines, "Licensed To User: "));  // a lone blank is not present
  EXPECT_TRUE(test::HasLine(lines, "Licensed To Company: Club"));

  // Every NT version reads Windows NT\CurrentVersion, XP and later included.
  ProfileControl c{p};
  p.version = ver(2, 6, 1);
  CollectOperatingSystem(c);
  EXPECT_TRUE(test::HasLine(test::Texts(c.list()), "Licensed To User: Ada"));
}

TEST_F(OsSection, NoSharedDirectoryWithoutTheExport) {
  p.exports.clear();
  p.version = ver(2, 6, 1);
  const auto lines = run();
  EXPECT_FALSE(test::HasPrefix(lines, "Shared Windows Directory: "));
  EXPECT_TRUE(test::HasPrefix(lines, "Windows System Directory: "));
}

TEST_F(OsSection, BootTypesAndNegativeBuild) {
  const struct { int32_t v; const char* text; } rows[] = {
      {0, "Normal"}, {1, "Safe Mode"}, {2, "Safe Mode with Network Support"}, {3, "Unknown"}, {-1, "Unknown"}};
  for (const auto& r : rows) {
    ProfileControl c{p};
    p.metrics[67] = r.v;
    p.version = ver(2, 6, 1, 1, 0xFFFFFFFFu);
    CollectOperatingSystem(c);
    const auto lines = test::Texts(c.list());
    EXPECT_EQ(lines.back(), std::string("Boot Type: ") + r.text);
    EXPECT_TRUE(test::HasLine(lines, "Operating System Build Number: -1"));
  }
}

TEST_F(OsSection, ExtendedRecordZeroBelowNt5) {
  p.version = ver(1, 5, 0);
  p.version.wServicePackMajor = 3;  // ignored: the extended record is not filled on 9x
  const auto lines = run();
  EXPECT_TRUE(test::HasLine(lines, "Service Pack Major Version: 0"));
}

TEST_F(OsSection, FlagsAreNeverReset) {
  p.version = ver(2, 5, 0);
  CollectOperatingSystem(control);
  p.version = ver(2, 6, 1);
  CollectOperatingSystem(control);
  EXPECT_TRUE(control.flags().IsWin2000);
  EXPECT_TRUE(control.flags().IsWinXP);
  EXPECT_EQ(control.flags().OsMinorVersion, 1);
}

}  // namespace
}  // namespace tallowin
