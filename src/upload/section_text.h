// The text of one section for the inventory record: the list's lines joined.
#pragma once

#include <string>

#include "control/report_list.h"

namespace tallowin {

inline constexpr const char* kSectionSeparator = "$#$";

// Every non-empty line in list order, each followed by "$#$"; the empty text
// when the list has no non-empty line. A line holding "$#$" itself is taken
// as it is.
std::string SectionText(const ReportList& list);

// Every line in list order, empty ones too, each followed by "$#$": the
// complete profile keeps its sections apart by its empty lines.
std::string ProfileText(const ReportList& list);

}  // namespace tallowin
