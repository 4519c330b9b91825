// The power section: AC line, battery condition and battery life, then the
// current hardware profile's name and docking state where the system has it.
#include <string>

#include "platform/global.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

constexpr uint8_t kBatteryFlagUnknown = 255;

std::string acLineText(uint8_t status) {
  switch (status) {
    case 0: return "AC Offline";
    case 1: return "AC Online";
    case 2: return "AC Backup Power";
    default: return "AC Unknown";
  }
}

// The flag words, when any applies, stand in for the base text: "Charging
// High " rather than "UnknownCharging High ".
std::string batteryConditionText(uint8_t flag) {
  // 255 is the system saying it could not read the flags, not every bit set.
  if (flag == kBatteryFlagUnknown) return "Unknown";
  struct Word {
    uint8_t bit;
    const char* text;
  };
  static constexpr Word kWords[] = {{8, "Charging "}, {1, "High "}, {2, "Low "}, {4, "CRITICAL "}};
  std::string words;
  for (const Word& w : kWords)
    if (flag & w.bit) words += w.text;
  if (!words.empty()) return words;
  return (flag & 128) ? "No Battery" : "Unknown";
}

std::string chargePercentText(uint8_t percent) {
  // Above 100 the byte is read as a fraction of 255; x * 100 / 255 never ends
  // in exactly one half, so rounding up from .5 is the nearest whole number.
  const unsigned shown = percent <= 100 ? percent : (percent * 100u + 127u) / 255u;
  return std::to_string(shown) + "%";
}

// The full-charge figure: no decimals, everything else as the regional
// settings say.
std::string fullLifetimeText(Platform& platform, uint32_t seconds) {
  const auto value = static_cast<int32_t>(seconds);
  if (value < 0) return "Unknown";
  return FormatDecimal(platform, std::to_string(value), 0) + " secs";
}

// The current-charge figure: no decimals, always grouped, a plain minus.
std::string currentLifetimeText(Platform& platform, uint32_t seconds) {
  const auto value = static_cast<int32_t>(seconds);
  if (value < 0) return "Unknown";
  return FormatGrouped(platform, value) + " secs";
}

std::string dockText(uint32_t dockInfo) {
  switch (dockInfo) {
    case 1: return "Undocked";
    case 2: return "Docked";
    case 5: return "Undocked (User-supplied Info)";
    case 6: return "Docked (User-supplied Info)";
    default: return "Unknown";
  }
}

// The fixed-width name with every NUL turned into a blank, then trimmed.
std::string profileName(std::string name) {
  for (char& c : name)
    if (c == '\0') c = ' ';
  return Trim(name);
}

}  // namespace

void CollectPower(SectionContext& ctx) {
  const VersionFlags& f = ctx.flags();
  // NT 3.x and 4 have no power status call.
  if ((f.IsWinNT && f.OsMajorVersion < 5) || f.IsWin3x) return;

  Platform& platform = ctx.platform();
  ReportList& list = ctx.list();
  const Platform::SystemPowerStatus s = platform.GetSystemPowerStatus();
  list.append("AC Line Status: " + acLineText(s.ACLineStatus), 2010);
  list.append("Battery Condition: " + batteryConditionText(s.BatteryFlag), 2020);
  list.append("Lifetime on Full Charge: " + fullLifetimeText(platform, s.BatteryFullLifeTime), 2030);
  list.append("Charge Remaining: " + chargePercentText(s.BatteryLifePercent), 2040);
  list.append("Lifetime on Current Charge: " + currentLifetimeText(platform, s.BatteryLifeTime), 2050);

  if (!platform.ApiExists("Advapi32.dll", "GetCurrentHwProfileW")) return;
  const Platform::HwProfileInfo hw = platform.GetCurrentHwProfile();
  list.append("Current Hardware Profile Name: " + profileName(hw.szHwProfileName));
  list.append("Docking Status: " + dockText(hw.dwDockInfo));
}

}  // namespace tallowin
