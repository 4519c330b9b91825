// The user-interface section: keyboard, input locale, language support,
// mouse, pen, monitors, screen and display depth, show-sounds.
#include "sections/system/user_interface.h"

#include <stdexcept>

#include "platform/decimal.h"
#include "platform/global.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

constexpr int32_t kSmCxScreen = 0;
constexpr int32_t kSmCyScreen = 1;
constexpr int32_t kSmMousePresent = 19;
constexpr int32_t kSmSwapButton = 23;
constexpr int32_t kSmPenWindows = 41;
constexpr int32_t kSmDbcsEnabled = 42;
constexpr int32_t kSmCMouseButtons = 43;
constexpr int32_t kSmShowSounds = 70;
constexpr int32_t kSmMidEastEnabled = 74;
constexpr int32_t kSmMouseWheelPresent = 75;
constexpr int32_t kSmCMonitors = 80;

constexpr const char* kKeyboardTypes[] = {
    nullptr,
    "IBM PC/XT or compatible (83-key) keyboard",
    "Olivetti \"ICO\" (102-key) keyboard",
    "IBM PC/AT (84-key) or similar keyboard",
    "IBM enhanced (101- or 102-key) keyboard",
    "Nokia 1050 and similar keyboards",
    "Nokia 9140 and similar keyboards",
    "Japanese keyboard",
};

constexpr const char* kFunctionKeys[] = {
    "Unknown", "10", "12 (sometimes 18)", "10", "12", "10", "24", "Hardware dependent and specified by the OEM",
};


}  // namespace

std::string KeyboardTypeText(int32_t type) {
  if (type >= 1 && type <= 7) return kKeyboardTypes[type];
  return "Unknown";
}

std::string FunctionKeysText(int32_t answer) {
  if (answer >= 0 && answer <= 7) return kFunctionKeys[answer];
  return std::to_string(answer);
}

std::string ColorCountText(int32_t bits) {
  if (bits < 0) {
    // Below one colour: the fraction as a four-decimal currency value holds it.
    const unsigned shift = bits < -30 ? 30u : static_cast<unsigned>(-bits);
    return DecimalOfPow2Fraction(1, shift, 4);
  }
  if (bits > 63) throw std::overflow_error("colour count beyond 2^63");
  return std::to_string(uint64_t{1} << bits);
}

void CollectUserInterface(SectionContext& ctx) {
  Platform& p = ctx.platform();
  ReportList& list = ctx.list();
  const VersionFlags& f = ctx.flags();

  const int32_t type = p.GetKeyboardType(0);
  const int32_t subType = p.GetKeyboardType(1);
  const int32_t functionKeys = p.GetKeyboardType(2);

  list.append("Keyboard Type: " + KeyboardTypeText(type), 6010);
  list.append("Keyboard SubType: " + std::to_string(subType), 6020);
  list.append("Number of Function Keys: " + FunctionKeysText(functionKeys), 6030);
  list.append("Input Locale Identifier: " + Trim(TrimNull(p.GetKeyboardLayoutName())), 6035);
  list.append("Double-Byte Character-Sets Supported: " + YesNo(p.GetSystemMetrics(kSmDbcsEnabled)), 6037);
  list.append("Hebrew or Arabic Supported: " + YesNo(p.GetSystemMetrics(kSmMidEastEnabled)), 6039);

  const int32_t mouse = p.GetSystemMetrics(kSmMousePresent);
  list.append("Mouse Present: " + YesNo(mouse), 6040);
  if (mouse != 0) {
    list.append("Mouse Buttons: " + std::to_string(p.GetSystemMetrics(kSmCMouseButtons)), 6050);
    // These systems have no wheel metric to ask.
    const bool unknown = f.IsWin3x || f.IsWin95 || f.IsWinNT35;
    list.append("Mouse Wheel Present: " + (unknown ? std::string("Unknown") : YesNo(p.GetSystemMetrics(kSmMouseWheelPresent))),
                6060);
  }
  list.append("Mouse Buttons Swapped: " + YesNo(p.GetSystemMetrics(kSmSwapButton)), 6070);
  list.append("PenWindows Present: " + YesNo(p.GetSystemMetrics(kSmPenWindows)), 6080);

  const int32_t monitors = p.GetSystemMetrics(kSmCMonitors);
  list.append("Number of Monitors: " + std::to_string(monitors < 1 ? 1 : monitors), 6090);
  list.append("Screen Size (Primary Monitor): " + std::to_string(p.GetSystemMetrics(kSmCxScreen)) + "w x " +
                  std::to_string(p.GetSystemMetrics(kSmCyScreen)) + "h",
              6100);

  const Platform::DisplayDeviceCaps caps = p.GetDisplayDeviceCaps();
  list.append("Bits per Pixel: " + std::to_string(caps.bitsPixel), 6110);
  list.append("Number of Colors: " + FormatGroupedText(p, ColorCountText(caps.bitsPixel)), 6120);
  list.append("Pixels per Inch: " + std::to_string(caps.logPixelsX) + "w x " + std::to_string(caps.logPixelsY) + "h",
              6130);

  list.append("Show Sounds: " + YesNo(p.GetSystemMetrics(kSmShowSounds)), 6140);
}

}  // namespace tallowin
