#include "platform/global.h"

#include "platform/decimal.h"

namespace tallowin {

std::string TrimNull(std::string_view text) {
  const size_t nul = text.find('\0');
  return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

std::string FormatBytes(Platform& platform, uint64_t bytes) {
  std::string out = FormatDecimal(platform, std::to_string(bytes), 0) + " bytes";
  struct Unit {
    uint64_t size;
    unsigned shift;
    const char* name;
  };
  static constexpr Unit kUnits[] = {{1073741824, 30, " GB)"}, {1048576, 20, " MB)"}, {1024, 10, " KB)"}};
  for (const Unit& u : kUnits) {
    if (bytes > u.size) {
      out += " (" + FormatDecimal(platform, DecimalOfPow2Fraction(bytes, u.shift, 2), 2) + u.name;
      break;
    }
  }
  return out;
}

std::string FormatDecimal(Platform& platform, const std::string& number, int decimals) {
  Platform::NumberStyle style;
  style.decimals = decimals;
  return platform.GetNumberFormat(number, style);
}

std::string FormatGroupedText(Platform& platform, const std::string& number) {
  Platform::NumberStyle style;
  style.decimals = 0;
  style.minusSign = true;
  return platform.GetNumberFormat(number, style);
}

std::string FormatGrouped(Platform& platform, int64_t value) { return FormatGroupedText(platform, std::to_string(value)); }

std::string FormatGroupedUnsigned(Platform& platform, uint64_t value) {
  return FormatGroupedText(platform, std::to_string(value));
}

std::string StripNullsAndTrim(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (char c : text)
    if (c != '\0') kept += c;
  return Trim(kept);
}

}  // namespace tallowin
