// UTF-8 <-> UTF-16 conversion. Windows speaks UTF-16; everything inside
// Tallowin is UTF-8. Unpaired surrogates and malformed UTF-8 become U+FFFD, so
// a conversion never fails and never drops the rest of a text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tallowin {

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);
// Little-endian UTF-16 bytes as Windows stores them; an odd last byte is dropped.
std::u16string Utf16FromBytes(const uint8_t* bytes, size_t count);

std::string ToUpperAscii(std::string_view text);

}  // namespace tallowin
