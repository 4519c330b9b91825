#include "platform/text.h"

#include <algorithm>

namespace tallowin {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

long DecodeUtf8(std::string_view text, size_t i, size_t& length) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = byte(i);
  length = 1;
  if (b < 0x80) return b;
  if (b < 0xC2 || b > 0xF4) return -1;
  const size_t need = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  long v = b & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
  size_t k = 1;
  for (; k < need && i + k < text.size() && (byte(i + k) & 0xC0) == 0x80; ++k) v = (v << 6) | (byte(i + k) & 0x3F);
  length = k;
  if (k != need) return -1;
  const bool overlong = (need == 3 && v < 0x800) || (need == 4 && v < 0x10000);
  if (overlong || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return -1;
  return v;
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
        ++i;
      } else {
        c = kReplacement;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t len = 1;
    const long decoded = DecodeUtf8(text, i, len);
    char32_t c = decoded < 0 ? kReplacement : static_cast<char32_t>(decoded);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += len;
  }
  return out;
}

std::u16string Utf16FromBytes(const uint8_t* bytes, size_t count) {
  std::u16string out(count / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return out;
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

std::string Trim(std::string_view text, std::string_view blanks) {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return std::string();
  return std::string(text.substr(first, text.find_last_not_of(blanks) - first + 1));
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string HexText(uint64_t v, size_t minDigits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[v % 16]);
    v /= 16;
  } while (v != 0);
  if (out.size() < minDigits) out.insert(0, minDigits - out.size(), '0');
  return out;
}

NumberReading ReadWholeNumber(std::string_view text, int32_t* value) {
  // Digits are read up to this, past every 32-bit value, so that a long run
  // of digits is judged by what follows it.
  constexpr int64_t kTooLarge = int64_t{0x80000001};
  const std::string t = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  if (i == t.size()) return NumberReading::kNotANumber;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return NumberReading::kNotANumber;
    v = std::min(v * 10 + (t[i] - '0'), kTooLarge);
  }
  if (negative) v = -v;
  if (v > INT32_MAX || v < INT32_MIN) return NumberReading::kOutOfRange;
  *value = static_cast<int32_t>(v);
  return NumberReading::kWhole;
}

}  // namespace tallowin
