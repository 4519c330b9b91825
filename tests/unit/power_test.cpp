#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;

class Power : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  void SetUp() override {
    p.powerStatus = {1, 8, 100, 0, 0};
    p.exports.insert("advapi32.dll!GetCurrentHwProfileW");
  }
  std::vector<std::string> run() {
    CollectPower(control);
    return test::Texts(control.list());
  }
  // The value after the label of the line that starts with it.
  std::string value(const std::string& label) {
    for (const auto& l : run())
      if (l.rfind(label, 0) == 0) return l.substr(label.size());
    return "<no line>";
  }
};

TEST_F(Power, AllLinesWithValues) {
  p.powerStatus = {0, 9, 87, 5400, 7200};
  p.hwProfile.dwDockInfo = 2;
  p.hwProfile.szHwProfileName = std::string("Docked Profile") + std::string(66, '\0');
  EXPECT_EQ(run(), (std::vector<std::string>{
                       "AC Line Status: AC Offline",
                       "Battery Condition: Charging High ",
                       "Lifetime on Full Charge: 7,200 secs",
                       "Charge Remaining: 87%",
                       "Lifetime on Current Charge: 5,400 secs",
                       "Current Hardware Profile Name: Docked Profile",
                       "Docking Status: Docked",
                   }));
  EXPECT_EQ(test::Values(control.list()), (std::vector<int32_t>{2010, 2020, 2030, 2040, 2050, 0, 0}));
  EXPECT_EQ(p.powerStatusCalls, 1);
  EXPECT_EQ(p.hwProfileCalls, 1);
}

TEST_F(Power, AcLineTable) {
  const std::pair<uint8_t, const char*> rows[] = {
      {0, "AC Offline"}, {1, "AC Online"}, {2, "AC Backup Power"}, {3, "AC Unknown"}, {255, "AC Unknown"}};
  for (const auto& [status, text] : rows) {
    control.list().clear();
    p.powerStatus.ACLineStatus = status;
    EXPECT_EQ(value("AC Line Status: "), text) << int(status);
  }
}

TEST_F(Power, BatteryCondition) {
  const std::pair<uint8_t, const char*> rows[] = {
      {0, "Unknown"},
      {128, "No Battery"},
      {9, "Charging High "},
      {1, "High "},
      {2, "Low "},
      {4, "CRITICAL "},
      {8, "Charging "},
      {10, "Charging Low "},
      {15, "Charging High Low CRITICAL "},
      {136, "Charging "},  // a flag word stands in for "No Battery" as well
      {255, "Unknown"},    // the system could not read the flags
  };
  for (const auto& [flag, text] : rows) {
    control.list().clear();
    p.powerStatus.BatteryFlag = flag;
    EXPECT_EQ(value("Battery Condition: "), text) << int(flag);
  }
}

TEST_F(Power, Lifetimes) {
  struct Row {
    uint32_t seconds;
    const char* text;
  };
  const Row rows[] = {
      {0xFFFFFFFFu, "Unknown"},
      {0x80000000u, "Unknown"},  // negative as a signed field
      {0, "0 secs"},
      {59, "59 secs"},
      {1234567, "1,234,567 secs"},
      {0x7FFFFFFFu, "2,147,483,647 secs"},
  };
  for (const Row& r : rows) {
    control.list().clear();
    p.powerStatus.BatteryFullLifeTime = r.seconds;
    p.powerStatus.BatteryLifeTime = r.seconds;
    const auto lines = run();
    EXPECT_TRUE(test::HasLine(lines, std::string("Lifetime on Full Charge: ") + r.text)) << r.seconds;
    EXPECT_TRUE(test::HasLine(lines, std::string("Lifetime on Current Charge: ") + r.text)) << r.seconds;
  }
}

TEST_F(Power, ChargePercentage) {
  const std::pair<uint8_t, const char*> rows[] = {
      {0, "0%"}, {55, "55%"}, {100, "100%"}, {101, "40%"}, {200, "78%"}, {254, "100%"}, {255, "100%"}, {128, "50%"}};
  for (const auto& [percent, text] : rows) {
    control.list().clear();
    p.powerStatus.BatteryLifePercent = percent;
    EXPECT_EQ(value("Charge Remaining: "), text) << int(percent);
  }
}

TEST_F(Power, DockingTable) {
  const std::pair<uint32_t, const char*> rows[] = {
      {0, "Unknown"}, {1, "Undocked"}, {2, "Docked"}, {3, "Unknown"}, {4, "Unknown"},
      {5, "Undocked (User-supplied Info)"}, {6, "Docked (User-supplied Info)"}, {7, "Unknown"}, {100, "Unknown"}};
  for (const auto& [dock, text] : rows) {
    control.list().clear();
    p.hwProfile.dwDockInfo = dock;
    EXPECT_EQ(value("Docking Status: "), text) << dock;
  }
}

TEST_F(Power, ProfileNameTrimmed) {
  const std::pair<std::string, const char*> rows[] = {
      {std::string("  Office \0\0 ", 12) + std::string(68, '\0'), "Office"},
      {std::string(80, '\0'), ""},
      {std::string(80, ' '), ""},
      {std::string("A\0B", 3), "A B"},  // an inner NUL becomes a blank
      {"", ""},                          // the zero-filled record of a failed call
  };
  for (const auto& [name, text] : rows) {
    control.list().clear();
    p.hwProfile.szHwProfileName = name;
    EXPECT_EQ(value("Current Hardware Profile Name: "), text);
  }
}

TEST_F(Power, NoProfileLinesWithoutTheCall) {
  p.exports.clear();
  const auto lines = run();
  EXPECT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines.back().rfind("Lifetime on Current Charge: ", 0), 0u);
  EXPECT_EQ(p.hwProfileCalls, 0);
}

TEST_F(Power, GateOnVersionFlags) {
  struct Row {
    bool nt, win3x;
    int32_t major;
    bool empty;
  };
  const Row rows[] = {
      {true, false, 4, true},    // NT 4 after the OS section
      {true, false, 3, true},    // NT 3.5x
      {false, true, 3, true},    // Windows 3.x
      {false, false, 0, false},  // OS section not yet shown
      {false, false, 6, false},  // NT 5 and later leave IsWinNT false
      {true, false, 5, false},
      {false, false, 4, false},  // Windows 9x
  };
  for (const Row& r : rows) {
    control.list().clear();
    control.flags() = {};
    control.flags().IsWinNT = r.nt;
    control.flags().IsWin3x = r.win3x;
    control.flags().OsMajorVersion = r.major;
    const int calls = p.powerStatusCalls;
    EXPECT_EQ(run().empty(), r.empty) << r.nt << r.win3x << r.major;
    EXPECT_EQ(p.powerStatusCalls - calls, r.empty ? 0 : 1);
  }
}

TEST_F(Power, Nt4AfterTheOsSectionIsEmpty) {
  p.version.dwPlatformId = 2;
  p.version.dwMajorVersion = 4;
  CollectOperatingSystem(control);
  control.list().clear();
  EXPECT_TRUE(run().empty());
}

}  // namespace
}  // namespace tallowin
