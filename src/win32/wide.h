// UTF-8 <-> wide texts at the Windows boundary.
#pragma once

#include "win32/win.h"

#include <string>
#include <string_view>

#include "platform/text.h"

namespace tallowin::win32 {

inline std::wstring Wide(std::string_view utf8) {
  std::u16string w = Utf8ToUtf16(utf8);
  return std::wstring(w.begin(), w.end());
}

inline std::string Utf8(const wchar_t* text, size_t length) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

inline std::string Utf8(std::wstring_view text) { return Utf8(text.data(), text.size()); }

// A NUL-terminated wide string that lies inside [begin, begin + bytes): read
// only up to the end of that buffer, and "" for a pointer outside it.
inline std::string StrFromPtr(const wchar_t* text, const void* begin, size_t bytes) {
  const auto* lo = static_cast<const unsigned char*>(begin);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  if (!text || !begin || p < lo || p >= lo + bytes) return {};
  const size_t room = static_cast<size_t>(lo + bytes - p) / sizeof(wchar_t);
  size_t n = 0;
  while (n < room && text[n] != L'\0') ++n;
  return Utf8(text, n);
}

}  // namespace tallowin::win32
