#include <gtest/gtest.h>

#include <stdexcept>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "sections/system/user_interface.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using Lines = std::vector<std::string>;

TEST(UiTables, KeyboardTypes) {
  const std::pair<int32_t, const char*> rows[] = {
      {0, "Unknown"},
      {1, "IBM PC/XT or compatible (83-key) keyboard"},
      {2, "Olivetti \"ICO\" (102-key) keyboard"},
      {3, "IBM PC/AT (84-key) or similar keyboard"},
      {4, "IBM enhanced (101- or 102-key) keyboard"},
      {5, "Nokia 1050 and similar keyboards"},
      {6, "Nokia 9140 and similar keyboards"},
      {7, "Japanese keyboard"},
      {8, "Unknown"},
      {-1, "Unknown"},
      {81, "Unknown"},
  };
  for (const auto& [type, text] : rows) EXPECT_EQ(KeyboardTypeText(type), text) << type;
}

TEST(UiTables, FunctionKeys) {
  const std::pair<int32_t, const char*> rows[] = {
      {0, "Unknown"}, {1, "10"}, {2, "12 (sometimes 18)"}, {3, "10"}, {4, "12"}, {5, "10"}, {6, "24"},
      {7, "Hardware dependent and specified by the OEM"}, {8, "8"}, {9, "9"}, {-3, "-3"}, {12, "12"},
  };
  for (const auto& [answer, text] : rows) EXPECT_EQ(FunctionKeysText(answer), text) << answer;
}

TEST(UiTables, ColorCounts) {
  EXPECT_EQ(ColorCountText(0), "1");
  EXPECT_EQ(ColorCountText(1), "2");
  EXPECT_EQ(ColorCountText(8), "256");
  EXPECT_EQ(ColorCountText(24), "16777216");
  EXPECT_EQ(ColorCountText(32), "4294967296");
  EXPECT_EQ(ColorCountText(63), "9223372036854775808");
  EXPECT_EQ(ColorCountText(-1), "0.5000");
  EXPECT_EQ(ColorCountText(-20), "0.0000");
  EXPECT_THROW(ColorCountText(64), std::overflow_error);
}

class Ui : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  void SetUp() override {
    p.keyboardType[0] = 4;
    p.keyboardType[1] = 0;
    p.keyboardType[2] = 4;
    p.metrics = {{19, 1}, {43, 3}, {75, 1}, {80, 2}, {0, 1024}, {1, 768}};
    p.displayCaps = {true, 24, 96, 120};
  }
  Lines run() {
    CollectUserInterface(control);
    return test::Texts(control.list());
  }
};

TEST_F(Ui, AllLines) {
  p.keyboardLayoutName = std::string(" 00000409", 9);
  p.metrics[70] = 1;
  EXPECT_EQ(run(), (Lines{
                       "Keyboard Type: IBM enhanced (101- or 102-key) keyboard",
                       "Keyboard SubType: 0",
                       "Number of Function Keys: 12",
                       "Input Locale Identifier: 00000409",
                       "Double-Byte Character-Sets Supported: No",
                       "Hebrew or Arabic Supported: No",
                       "Mouse Present: Yes",
                       "Mouse Buttons: 3",
                       "Mouse Wheel Present: Yes",
                       "Mouse Buttons Swapped: No",
                       "PenWindows Present: No",
                       "Number of Monitors: 2",
                       "Screen Size (Primary Monitor): 1024w x 768h",
                       "Bits per Pixel: 24",
                       "Number of Colors: 16,777,216",
                       "Pixels per Inch: 96w x 120h",
                       "Show Sounds: Yes",
                   }));
  EXPECT_EQ(test::Values(control.list()),
            (std::vector<int32_t>{6010, 6020, 6030, 6035, 6037, 6039, 6040, 6050, 6060, 6070, 6080, 6090, 6100, 6110,
                                  6120, 6130, 6140}));
  // All three keyboard answers first, in order; one display query.
  EXPECT_EQ(p.keyboardTypeAsked, (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(p.displayCapsCalls, 1);
}

TEST_F(Ui, LayoutNameCutAtNulAndTrimmed) {
  p.keyboardLayoutName = std::string("0000040C\0junk", 13);
  EXPECT_TRUE(test::HasLine(run(), "Input Locale Identifier: 0000040C"));
}

TEST_F(Ui, NoMouse) {
  p.metrics[19] = 0;
  const Lines lines = run();
  EXPECT_EQ(lines[6], "Mouse Present: No");
  EXPECT_EQ(lines[7], "Mouse Buttons Swapped: No");
  EXPECT_FALSE(test::HasPrefix(lines, "Mouse Buttons: "));
  EXPECT_FALSE(test::HasPrefix(lines, "Mouse Wheel Present: "));
}

TEST_F(Ui, WheelUnknownOnOldSystems) {
  struct Row {
    bool w3x, w95, nt35;
    const char* line;
  };
  const Row rows[] = {
      {false, false, false, "Mouse Wheel Present: Yes"},
      {true, false, false, "Mouse Wheel Present: Unknown"},
      {false, true, false, "Mouse Wheel Present: Unknown"},
      {false, false, true, "Mouse Wheel Present: Unknown"},
  };
  for (const Row& r : rows) {
    ProfileControl c{p};
    c.flags().IsWin3x = r.w3x;
    c.flags().IsWin95 = r.w95;
    c.flags().IsWinNT35 = r.nt35;
    CollectUserInterface(c);
    EXPECT_TRUE(test::HasLine(test::Texts(c.list()), r.line)) << r.line;
  }
}

TEST_F(Ui, MonitorsBelowOneShowOne) {
  for (int32_t m : {0, -1}) {
    FakePlatform q;
    q.metrics[80] = m;
    ProfileControl c{q};
    CollectUserInterface(c);
    EXPECT_TRUE(test::HasLine(test::Texts(c.list()), "Number of Monitors: 1")) << m;
  }
}

TEST_F(Ui, Colors) {
  const std::pair<int32_t, const char*> rows[] = {
      {0, "Number of Colors: 1"},
      {1, "Number of Colors: 2"},
      {24, "Number of Colors: 16,777,216"},
      {32, "Number of Colors: 4,294,967,296"},
  };
  for (const auto& [bits, line] : rows) {
    FakePlatform q;
    q.displayCaps = {true, bits, 96, 96};
    ProfileControl c{q};
    CollectUserInterface(c);
    EXPECT_TRUE(test::HasLine(test::Texts(c.list()), line)) << bits;
  }
}

TEST_F(Ui, NoDisplayContext) {
  p.displayCaps = {};
  const Lines lines = run();
  EXPECT_TRUE(test::HasLine(lines, "Bits per Pixel: 0"));
  EXPECT_TRUE(test::HasLine(lines, "Number of Colors: 1"));
  EXPECT_TRUE(test::HasLine(lines, "Pixels per Inch: 0w x 0h"));
  EXPECT_EQ(lines.back(), "Show Sounds: No");
}

}  // namespace
}  // namespace tallowin
