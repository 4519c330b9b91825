#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "sections/section_context.h"

namespace tallowin {

// The product name of a version record; sets the flags its row names.
std::string DecodeOsName(const Platform::OsVersionInfo& version, VersionFlags& flags);
// The suite texts of the mask's bits, run together, or "none".
std::string SuiteText(uint16_t suiteMask);

}  // namespace tallowin
