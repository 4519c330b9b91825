#pragma once

#include <cstdint>
#include <string>

namespace tallowin {

// GetKeyboardType(0) and GetKeyboardType(2) in words.
std::string KeyboardTypeText(int32_t type);
std::string FunctionKeysText(int32_t answer);

// Two to the bits per pixel as exact decimal text, for the regional
// formatter. Fewer than 0 bits give the fraction to four decimals; more than
// 63 throw std::overflow_error.
std::string ColorCountText(int32_t bitsPerPixel);

}  // namespace tallowin
