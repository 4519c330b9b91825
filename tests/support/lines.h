// Reading a ReportList back in tests.
#pragma once

#include <string>
#include <vector>

#include "control/report_list.h"

namespace tallowin::test {

inline std::vector<std::string> Texts(const ReportList& list) {
  std::vector<std::string> out;
  for (const auto& l : list.lines()) out.push_back(l.text);
  return out;
}

inline std::vector<int32_t> Values(const ReportList& list) {
  std::vector<int32_t> out;
  for (const auto& l : list.lines()) out.push_back(l.itemValue);
  return out;
}

inline bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  for (const auto& l : lines)
    if (l == line) return true;
  return false;
}

inline bool HasPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const auto& l : lines)
    if (l.rfind(prefix, 0) == 0) return true;
  return false;
}

}  // namespace tallowin::test
