#include <gtest/gtest.h>

#include <stdexcept>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "sections/system/processor.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using Lines = std::vector<std::string>;

constexpr char kCpuKey[] = "Hardware\\Description\\System\\CentralProcessor\\0";

TEST(ProcessorTables, Architectures) {
  const std::pair<int16_t, const char*> rows[] = {
      {0, "Intel"},
      {1, "MIPS"},
      {2, "Compaq/DEC Alpha"},
      {3, "PPC"},
      {4, "Unknown (4)"},
      {5, "Unknown (5)"},
      {6, "Itanium (Intel 64-bit)"},
      {7, "Sledgehammer (AMD 64-bit)"},
      {8, "Unknown (8)"},
      {9, "x64 (AMD or Intel 64-bit)"},
      {10, "Unknown (10)"},
      {12, "ARM64"},
      {static_cast<int16_t>(0xFFFF), "Unknown (-1)"},
  };
  for (const auto& [code, text] : rows) EXPECT_EQ(ArchitectureText(code), text) << code;
}

TEST(ProcessorTables, Levels) {
  struct Row {
    int16_t arch;
    int16_t level;
    const char* text;
  };
  const Row rows[] = {
      {0, 0, "Pentium"},
      {0, 1, "Pentium III or higher (1)"},
      {0, 2, "Pentium III or higher (2)"},
      {0, 3, "Intel 386"},
      {0, 4, "Intel 486"},
      {0, 5, "Pentium"},
      {0, 6, "Pentium Pro/Pentium II"},
      {0, 7, "Pentium III or higher (7)"},
      {0, 15, "Pentium III or higher (15)"},
      {0, -1, "Pentium III or higher (-1)"},
      {1, 4, "4000"},
      {1, 40, "40000"},  // wider than 16 bits: no overflow
      {2, 21064, "21064"},
      {3, 1, "601"},
      {3, 3, "603"},
      {3, 4, "604"},
      {3, 6, "603+"},
      {3, 9, "604+"},
      {3, 20, "620"},
      {3, 32700, "33300"},
      {6, 31, "31"},
      {9, 6, "6"},
      {9, 25, "25"},
      {12, 8, "8"},
  };
  for (const Row& r : rows) EXPECT_EQ(LevelText(r.arch, r.level), r.text) << r.arch << "/" << r.level;
}

TEST(ProcessorTables, Revisions) {
  struct Row {
    int16_t arch;
    int16_t level;
    uint16_t revision;
    const char* text;
  };
  const Row rows[] = {
      {0, 6, 0x0803, "Model 8 Stepping 3"},
      {0, 6, 0x8001, "Model -128 Stepping 1"},
      {0, 15, 0x0209, "Model 2 Stepping 9"},
      {0, 4, 0xFFA5, "Model A Stepping 5"},
      {0, 4, 0xFFB0, "Model B Stepping 0"},
      {0, 4, 0x0102, "Model B Stepping 2"},
      {0, 4, 0x0000, "Model A Stepping 0"},
      {0, 4, 0x8001, "Model 7 Stepping 1"},  // high byte negative: Y = 0 gives code 55
      {0, 3, 0x0203, "Model C Stepping 3"},
      {0, 3, 0xFFC7, "Model C Stepping 7"},
      {9, 6, 0x1101, "Model 17 Stepping 1"},
      {9, 4, 0x0102, "Model 1 Stepping 2"},  // x64 has no 386/486 form
      {1, 4, 0x0310, "16"},
      {2, 21064, 0x0102, "Model B, Pass 2"},
      {2, 21164, 0x0000, "Model A, Pass 0"},
      {3, 4, 0x0103, "1.3"},
      {3, 4, 0x0A14, "10.20"},
      {6, 31, 0x0102, "258"},
      {12, 8, 0xFFFF, "-1"},
  };
  for (const Row& r : rows)
    EXPECT_EQ(RevisionText(r.arch, r.level, static_cast<int16_t>(r.revision)), r.text)
        << r.arch << "/" << r.level << "/" << std::hex << r.revision;
}

TEST(ProcessorTables, WholeNumbers) {
  EXPECT_EQ(WholeNumber("733"), 733);
  EXPECT_EQ(WholeNumber(" 2400 "), 2400);
  EXPECT_EQ(WholeNumber("-5"), -5);
  EXPECT_EQ(WholeNumber("2147483647"), 2147483647);
  EXPECT_EQ(WholeNumber("-2147483648"), INT32_MIN);
  EXPECT_THROW(WholeNumber(""), std::invalid_argument);
  EXPECT_THROW(WholeNumber("fast"), std::invalid_argument);
  EXPECT_THROW(WholeNumber("7 33"), std::invalid_argument);
  EXPECT_THROW(WholeNumber("2147483648"), std::out_of_range);
}

class Processor : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  void SetUp() override {
    p.systemInfo.wProcessorArchitecture = 0;
    p.systemInfo.wProcessorLevel = 6;
    p.systemInfo.wProcessorRevision = 0x0803;
    p.systemInfo.dwPageSize = 4096;
    p.systemInfo.dwAllocationGranularity = 65536;
    p.systemInfo.lpMinimumApplicationAddress = 65536;
    p.systemInfo.lpMaximumApplicationAddress = 2147418111;
    p.systemInfo.dwNumberOfProcessors = 2;
    p.setString(kCpuKey, "VendorIdentifier", "GenuineIntel");
    p.setDword(kCpuKey, "~MHz", 733);
  }
  Lines run() {
    CollectProcessor(control);
    return test::Texts(control.list());
  }
};

TEST_F(Processor, WindowsXpAllLines) {
  control.flags().IsWinXP = true;
  p.metrics[73] = 0;
  EXPECT_EQ(run(), (Lines{
                       "Processor Architecture: Intel",
                       "CPU Manufacturer: GenuineIntel",
                       "Processor Level: Pentium Pro/Pentium II",
                       "Processor Revision: Model 8 Stepping 3",
                       "Approximate CPU Clock Rate: 733 MHz",
                       "Number Of Processors: 2",
                       "Page Size: 4,096 bytes (4.00 KB)",
                       "Allocation Unit: 65,536 bytes (64.00 KB)",
                       "Minimum Application Address: 65,536",
                       "Maximum Application Address: 2,147,418,111",
                       "Slow Machine: No",
                   }));
  EXPECT_EQ(test::Values(control.list()),
            (std::vector<int32_t>{1020, 1025, 1030, 1040, 1045, 1050, 1070, 1080, 1090, 1100, 1110}));
  EXPECT_EQ(p.openKeys(), 0);
}

TEST_F(Processor, AddressesAreWholeUnsignedPointers) {
  p.systemInfo.lpMinimumApplicationAddress = 0x10000;
  p.systemInfo.lpMaximumApplicationAddress = 0x7FFFFFFEFFFFull;
  const Lines lines = run();
  EXPECT_TRUE(test::HasLine(lines, "Maximum Application Address: 140,737,488,289,791"));
  FakePlatform q;
  q.systemInfo.lpMaximumApplicationAddress = 0xBFFEFFFF;  // a 3 GB user space stays positive
  ProfileControl c{q};
  CollectProcessor(c);
  EXPECT_TRUE(test::HasLine(test::Texts(c.list()), "Maximum Application Address: 3,221,159,935"));
}

TEST_F(Processor, VendorCondition) {
  for (const char* vendor : {"", " "}) {
    FakePlatform q;
    q.setString(kCpuKey, "VendorIdentifier", vendor);
    ProfileControl c{q};
    CollectProcessor(c);
    const Lines lines = test::Texts(c.list());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("Processor Level: ", 0), 0u) << "[" << vendor << "]";
  }
  FakePlatform none;  // no key at all
  ProfileControl c{none};
  CollectProcessor(c);
  EXPECT_FALSE(test::HasPrefix(test::Texts(c.list()), "CPU Manufacturer: "));
  EXPECT_FALSE(test::HasPrefix(test::Texts(c.list()), "Approximate CPU Clock Rate: "));
}

TEST_F(Processor, ClockRateCondition) {
  struct Row {
    bool text;
    uint32_t dword;
    const char* str;
    bool shown;
    const char* line;
  };
  const Row rows[] = {
      {false, 0, nullptr, false, nullptr},
      {false, 0xFFFFFFFF, nullptr, false, nullptr},  // -1: not above 0
      {false, 2596, nullptr, true, "Approximate CPU Clock Rate: 2596 MHz"},
      {true, 0, "1800", true, "Approximate CPU Clock Rate: 1800 MHz"},
      {true, 0, "0", false, nullptr},
  };
  for (const Row& r : rows) {
    FakePlatform q;
    if (r.text)
      q.setString(kCpuKey, "~Mhz", r.str);
    else
      q.setDword(kCpuKey, "~Mhz", r.dword);
    ProfileControl c{q};
    CollectProcessor(c);
    const Lines lines = test::Texts(c.list());
    EXPECT_EQ(test::HasPrefix(lines, "Approximate CPU Clock Rate: "), r.shown) << r.dword;
    if (r.line) {
      EXPECT_TRUE(test::HasLine(lines, r.line));
    }
  }
}

TEST_F(Processor, ClockRateThatIsNoNumberEndsTheRun) {
  p.setString(kCpuKey, "~Mhz", "fast");
  EXPECT_THROW(CollectProcessor(control), std::invalid_argument);
  EXPECT_EQ(test::Texts(control.list()).back(), "Processor Revision: Model 8 Stepping 3");
  EXPECT_EQ(p.openKeys(), 0);
  // Through the dispatch the control stays usable and the lines so far stay.
  control.list().clear();
  control.runSection("CPU");
  EXPECT_EQ(control.list().count(), 4);
}

TEST_F(Processor, FeatureLines) {
  struct Row {
    const char* what;
    bool nt;
    bool w2000;
    std::set<uint32_t> present;
    Lines features;  // empty: none shown
  };
  const Row rows[] = {
      {"OS section not run", false, false, {0, 1, 2, 3, 6, 7}, {}},
      {"Windows 2000: as reported", false, true, {1, 3, 6},
       {"Floating Point Emulated: Yes", "Floating Point Precision Errata: No",
        "Compare & Exchange Double OP Available: No", "MMX Instructions Available: Yes",
        "XMMI Instructions Available: Yes", "AMD 3D-Now Instructions Available: No"}},
      {"NT 4 with an FPU: feature 1 inverted", true, false, {1, 0, 2},
       {"Floating Point Emulated: No", "Floating Point Precision Errata: Yes",
        "Compare & Exchange Double OP Available: Yes", "MMX Instructions Available: No",
        "XMMI Instructions Available: No", "AMD 3D-Now Instructions Available: No"}},
      {"NT 4 without: inverted the other way", true, false, {7},
       {"Floating Point Emulated: Yes", "Floating Point Precision Errata: No",
        "Compare & Exchange Double OP Available: No", "MMX Instructions Available: No",
        "XMMI Instructions Available: No", "AMD 3D-Now Instructions Available: Yes"}},
  };
  for (const Row& r : rows) {
    FakePlatform q;
    q.systemInfo = p.systemInfo;
    q.processorFeatures = r.present;
    ProfileControl c{q};
    c.flags().IsWinNT = r.nt;
    c.flags().IsWin2000 = r.w2000;
    CollectProcessor(c);
    const Lines lines = test::Texts(c.list());
    // Without vendor and clock: architecture, level, revision, then the features.
    ASSERT_GE(lines.size(), 3u + r.features.size() + 1) << r.what;
    EXPECT_EQ(Lines(lines.begin() + 3, lines.begin() + 3 + static_cast<long>(r.features.size())), r.features)
        << r.what;
    EXPECT_EQ(lines[3 + r.features.size()], "Number Of Processors: 2") << r.what;
  }
}

TEST_F(Processor, SlowMachineAndUnknownArchitecture) {
  p.systemInfo.wProcessorArchitecture = 0xFFFF;
  p.systemInfo.wProcessorLevel = 7;
  p.systemInfo.wProcessorRevision = 0x0102;
  p.metrics[73] = 1;
  const Lines lines = run();
  EXPECT_EQ(lines.front(), "Processor Architecture: Unknown (-1)");
  EXPECT_TRUE(test::HasLine(lines, "Processor Level: 7"));
  EXPECT_TRUE(test::HasLine(lines, "Processor Revision: 258"));
  EXPECT_EQ(lines.back(), "Slow Machine: Yes");
}

}  // namespace
}  // namespace tallowin
