// Small text and number helpers the sections share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/text.h"

namespace tallowin {

// The text before its first NUL.
std::string TrimNull(std::string_view text);

// "1,536 bytes (1.50 KB)": the count with regional grouping, and above 1 KB,
// 1 MB or 1 GB (strictly) the figure in that unit with two decimals.
std::string FormatBytes(Platform& platform, uint64_t bytes);

// The regional format of exact decimal text (platform/decimal.h) with
// exactly `decimals` decimals and the locale's grouping.
std::string FormatDecimal(Platform& platform, const std::string& number, int decimals);

// The regional format with no decimals, the locale's grouping and a plain minus.
std::string FormatGroupedText(Platform& platform, const std::string& number);
std::string FormatGrouped(Platform& platform, int64_t value);
std::string FormatGroupedUnsigned(Platform& platform, uint64_t value);

// A text is present when it sorts after a single blank by code units: not
// empty, not a lone blank, not led by a control character.
inline bool IsPresent(std::string_view text) { return text > std::string_view(" "); }

// The two answer texts of a yes/no fact: nonzero is "Yes".
inline std::string YesNo(bool yes) { return yes ? "Yes" : "No"; }
inline std::string YesNo(int32_t value) { return YesNo(value != 0); }

// Every NUL removed and blanks trimmed at both ends (fixed-size buffers).
std::string StripNullsAndTrim(std::string_view text);

}  // namespace tallowin
