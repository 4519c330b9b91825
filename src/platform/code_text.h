// Tables of codes and their texts: how a section turns the platform's
// numbers into words.
#pragma once

#include <cstddef>

namespace tallowin {

template <typename Code>
struct CodeText {
  Code code;
  const char* text;
};

// The text of code in the table, or nullptr when it has none.
template <typename Code, size_t N>
const char* TextOfCode(const CodeText<Code> (&table)[N], Code code) {
  for (const CodeText<Code>& e : table)
    if (e.code == code) return e.text;
  return nullptr;
}

}  // namespace tallowin
