// Running sections over the fake and reading their lines back. Every test
// calls a collector through Collect(), so that how a collector is called is
// written here only.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "support/fake_platform.h"

namespace tallowin::test {

using Lines = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, int32_t>>;

inline void Collect(ProfileControl& control, SectionCollector collector) {
  SectionContext ctx = control.sectionContext();
  collector(ctx);
}

inline Lines Texts(const ReportList& list) {
  Lines out;
  for (const auto& l : list.lines()) out.push_back(l.text);
  return out;
}

inline Pairs TextsAndValues(const ReportList& list) {
  Pairs out;
  for (const auto& l : list.lines()) out.push_back({l.text, l.itemValue});
  return out;
}

// A collector's lines (and their item values) on a fresh control over `p`
// with the version flags given.
inline Pairs RunPairs(FakePlatform& p, SectionCollector collector, const VersionFlags& flags = {}) {
  ProfileControl control{p};
  control.flags() = flags;
  Collect(control, collector);
  return TextsAndValues(control.list());
}

inline Lines Run(FakePlatform& p, SectionCollector collector, const VersionFlags& flags = {}) {
  Lines out;
  for (const auto& [text, value] : RunPairs(p, collector, flags)) out.push_back(text);
  return out;
}

inline bool HasLine(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// `count` lines from the first that starts with `prefix` (fewer at the end).
inline Lines From(const Lines& lines, const std::string& prefix, size_t count = 1) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].rfind(prefix, 0) == 0)
      return Lines(lines.begin() + static_cast<long>(i), lines.begin() + static_cast<long>(std::min(lines.size(), i + count)));
  return {};
}

// The values (after ": ") of those lines, joined by "|"; "<no line>" when there is none.
inline std::string Values(const Lines& lines, const std::string& prefix, size_t count = 1) {
  const Lines found = From(lines, prefix, count);
  std::string out = found.empty() ? "<no line>" : "";
  for (size_t i = 0; i < found.size(); ++i) {
    const size_t colon = found[i].find(": ");
    out += (i ? "|" : "") + (colon == std::string::npos ? found[i] : found[i].substr(colon + 2));
  }
  return out;
}

}  // namespace tallowin::test
