#include "upload/section_text.h"

namespace tallowin {

std::string SectionText(const ReportList& list) {
  std::string text;
  for (const auto& line : list.lines()) {
    if (line.text.empty()) continue;
    text += line.text;
    text += kSectionSeparator;
  }
  return text;
}

std::string ProfileText(const ReportList& list) {
  std::string text;
  for (const auto& line : list.lines()) {
    text += line.text;
    text += kSectionSeparator;
  }
  return text;
}

}  // namespace tallowin
