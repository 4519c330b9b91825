// `tallowin.exe show UI` against what Windows (Wine) reports to the test.
#include <gtest/gtest.h>

#include "win32/win.h"

#include "sections/system/user_interface.h"
#include "win/support/win_support.h"

namespace tallowin {
namespace {

std::string yesNo(int metric) { return metric ? "Yes" : "No"; }

TEST(ShowUi, MatchesThePlatform) {
  const auto r = wintest::RunTallowin(L"show UI --values");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = wintest::SplitLines(r.out);

  wchar_t layout[KL_NAMELENGTH] = {};
  ASSERT_TRUE(::GetKeyboardLayoutNameW(layout));
  HDC ic = ::CreateICW(L"DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_NE(ic, nullptr);
  const int bits = ::GetDeviceCaps(ic, BITSPIXEL);
  const int dpiX = ::GetDeviceCaps(ic, LOGPIXELSX);
  const int dpiY = ::GetDeviceCaps(ic, LOGPIXELSY);
  ::DeleteDC(ic);

  std::vector<std::string> expected = {
      "6010\tKeyboard Type: " + KeyboardTypeText(::GetKeyboardType(0)),
      "6020\tKeyboard SubType: " + std::to_string(::GetKeyboardType(1)),
      "6030\tNumber of Function Keys: " + FunctionKeysText(::GetKeyboardType(2)),
      "6035\tInput Locale Identifier: " + wintest::Utf8(layout),
      "6037\tDouble-Byte Character-Sets Supported: " + yesNo(::GetSystemMetrics(SM_DBCSENABLED)),
      "6039\tHebrew or Arabic Supported: " + yesNo(::GetSystemMetrics(SM_MIDEASTENABLED)),
      "6040\tMouse Present: " + yesNo(::GetSystemMetrics(SM_MOUSEPRESENT)),
  };
  if (::GetSystemMetrics(SM_MOUSEPRESENT)) {
    expected.push_back("6050\tMouse Buttons: " + std::to_string(::GetSystemMetrics(SM_CMOUSEBUTTONS)));
    expected.push_back("6060\tMouse Wheel Present: " + yesNo(::GetSystemMetrics(SM_MOUSEWHEELPRESENT)));
  }
  const int monitors = ::GetSystemMetrics(SM_CMONITORS);
  expected.push_back("6070\tMouse Buttons Swapped: " + yesNo(::GetSystemMetrics(SM_SWAPBUTTON)));
  expected.push_back("6080\tPenWindows Present: " + yesNo(::GetSystemMetrics(SM_PENWINDOWS)));
  expected.push_back("6090\tNumber of Monitors: " + std::to_string(monitors < 1 ? 1 : monitors));
  expected.push_back("6100\tScreen Size (Primary Monitor): " + std::to_string(::GetSystemMetrics(SM_CXSCREEN)) +
                     "w x " + std::to_string(::GetSystemMetrics(SM_CYSCREEN)) + "h");
  expected.push_back("6110\tBits per Pixel: " + std::to_string(bits));
  const size_t colors = expected.size();
  expected.push_back("");  // compared by its digits below
  expected.push_back("6130\tPixels per Inch: " + std::to_string(dpiX) + "w x " + std::to_string(dpiY) + "h");
  expected.push_back("6140\tShow Sounds: " + yesNo(::GetSystemMetrics(SM_SHOWSOUNDS)));

  ASSERT_EQ(lines.size(), expected.size()) << r.out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i != colors) {
      EXPECT_EQ(lines[i], expected[i]);
    }
  }
  const std::string label = "6120\tNumber of Colors: ";
  ASSERT_EQ(lines[colors].rfind(label, 0), 0u) << lines[colors];
  std::string digits;
  for (char c : lines[colors].substr(label.size()))
    if (c >= '0' && c <= '9') digits += c;
  EXPECT_EQ(digits, ColorCountText(bits));
}

}  // namespace
}  // namespace tallowin
