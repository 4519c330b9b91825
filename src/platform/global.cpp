#include "platform/global.h"

namespace tallowin {

std::string TrimNull(std::string_view text) {
  const size_t nul = text.find('\0');
  return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

std::string DecimalOfPow2Fraction(uint64_t numerator, unsigned shift, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 9) decimals = 9;
  uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  uint64_t whole = shift >= 64 ? 0 : numerator >> shift;
  const uint64_t mask = shift >= 64 ? ~uint64_t{0} : (uint64_t{1} << shift) - 1;
  const uint64_t frac = numerator & mask;
  // frac * scale must not overflow: shift <= 30 keeps it below 2^60.
  uint64_t scaled = 0;
  if (shift > 0) {
    const uint64_t half = uint64_t{1} << (shift - 1);
    scaled = (frac * scale + half) >> shift;
  }
  if (scaled >= scale) {
    ++whole;
    scaled -= scale;
  }
  std::string out = std::to_string(whole);
  if (decimals > 0) {
    std::string digits = std::to_string(scaled);
    out += '.';
    out.append(static_cast<size_t>(decimals) - digits.size(), '0');
    out += digits;
  }
  return out;
}

std::string FormatBytes(Platform& platform, uint64_t bytes) {
  NumberStyle whole;
  whole.decimals = 0;
  NumberStyle two;
  two.decimals = 2;
  std::string out = platform.GetNumberFormat(std::to_string(bytes), whole) + " bytes";
  struct Unit {
    uint64_t size;
    unsigned shift;
    const char* name;
  };
  static constexpr Unit kUnits[] = {{1073741824, 30, " GB)"}, {1048576, 20, " MB)"}, {1024, 10, " KB)"}};
  for (const Unit& u : kUnits) {
    if (bytes > u.size) {
      out += " (" + platform.GetNumberFormat(DecimalOfPow2Fraction(bytes, u.shift, 2), two) + u.name;
      break;
    }
  }
  return out;
}

std::string FormatGrouped(Platform& platform, int64_t value) {
  NumberStyle style;
  style.decimals = 0;
  style.minusSign = true;
  return platform.GetNumberFormat(std::to_string(value), style);
}

std::string FormatGroupedUnsigned(Platform& platform, uint64_t value) {
  NumberStyle style;
  style.decimals = 0;
  style.minusSign = true;
  return platform.GetNumberFormat(std::to_string(value), style);
}

std::string Trim(std::string_view text) {
  size_t b = 0;
  size_t e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  return std::string(text.substr(b, e - b));
}

std::string StripNullsAndTrim(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  for (char c : text)
    if (c != '\0') kept += c;
  return Trim(kept);
}

}  // namespace tallowin
