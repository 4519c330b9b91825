// The printers section's decoding of the DEVMODE codes into words.
#pragma once

#include <cstdint>
#include <string>

namespace tallowin {

std::string PaperSizeText(int16_t code);
std::string PaperBinText(int16_t code);
std::string PrintQualityText(int16_t code);
std::string ColorModeText(int16_t code);
std::string OrientationText(int16_t code);
std::string DuplexText(int16_t code);

}  // namespace tallowin
