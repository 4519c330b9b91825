#pragma once

#include <cstdint>
#include <string>

namespace tallowin {

// The texts of the processor section's decoded fields. The WORD fields are
// taken as signed 16-bit numbers, as the section shows them.
std::string ArchitectureText(int16_t architecture);
std::string LevelText(int16_t architecture, int16_t level);
std::string RevisionText(int16_t architecture, int16_t level, int16_t revision);

// A registry clock rate as a whole number: a DWORD as it is, a text of
// decimal digits (blanks around, a sign) as its number. Throws
// std::invalid_argument for any other text and std::out_of_range beyond 32 bits.
int32_t WholeNumber(const std::string& text);

}  // namespace tallowin
