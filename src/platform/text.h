// The text helpers every part shares: UTF-8 and UTF-16, ASCII case, blanks,
// hexadecimal digits and whole numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tallowin {

// UTF-8 <-> UTF-16 conversion. Windows speaks UTF-16; everything inside
// Tallowin is UTF-8. Unpaired surrogates and malformed UTF-8 become U+FFFD, so
// a conversion never fails and never drops the rest of a text.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
// Little-endian UTF-16 bytes as Windows stores them; an odd last byte is dropped.
std::u16string Utf16FromBytes(const uint8_t* bytes, size_t count);


// Appends the code point c in UTF-8.
void AppendUtf8(std::string& out, char32_t c);
// Decodes the UTF-8 sequence at text[i]: its code point, or -1 for an
// invalid, overlong, surrogate or truncated sequence. `length` is the bytes it
// spans; a bad sequence spans what there is of it, so that decoding resumes
// right after.
long DecodeUtf8(std::string_view text, size_t i, size_t& length);

// Letters a to z folded to upper case; every other byte as it is.
char UpperAscii(char c);
std::string ToUpperAscii(std::string_view text);
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// The text without the given characters at either end (blanks by default).
inline constexpr std::string_view kXmlWhitespace = " \t\n\r";
std::string Trim(std::string_view text, std::string_view blanks = " ");

// The value of a hexadecimal digit of either case, or -1.
int HexDigitValue(char c);
// v in upper-case hexadecimal, with leading zeros up to minDigits.
std::string HexText(uint64_t v, size_t minDigits = 1);

// A whole number in decimal: blanks around it, an optional sign, digits. A
// long run of digits is judged by all of the text: "99999999999" is out of
// range, "99999999999x" is no number.
enum class NumberReading { kWhole, kNotANumber, kOutOfRange };
NumberReading ReadWholeNumber(std::string_view text, int32_t* value);

}  // namespace tallowin
