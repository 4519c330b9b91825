// Which collector a tab's key runs: the one table the control's dispatch, the
// complete profile and the upload read.
#pragma once

#include <string>
#include <vector>

namespace tallowin {

class SectionContext;
using SectionCollector = void (*)(SectionContext&);

struct SectionEntry {
  const char* key;
  SectionCollector collector;
};

// The sixteen keys in the order they are compared, which is also the order
// of the complete profile.
const std::vector<SectionEntry>& DispatchTable();
SectionCollector FindCollector(const std::string& sectionKey);  // nullptr: complete profile

}  // namespace tallowin
