// The memory section: one snapshot of the memory status, ten lines. The
// counts are 64-bit so that machines with more than 4 GB are counted right.
#include <string>

#include "platform/global.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

// Total minus available, exactly. Within one snapshot the available part
// does not exceed the total; should a system report so anyway, the
// difference is shown as the negative count it is rather than wrapped round.
std::string inUseText(Platform& p, uint64_t total, uint64_t available) {
  if (available <= total) return FormatBytes(p, total - available);
  std::string negative = "-";
  negative += std::to_string(available - total);
  return FormatDecimal(p, negative, 0) + " bytes";
}

}  // namespace

void CollectMemory(SectionContext& ctx) {
  Platform& p = ctx.platform();
  ReportList& list = ctx.list();
  Platform::MemoryStatusEx m;
  if (!p.GlobalMemoryStatusEx(&m)) return;  // no snapshot: nothing to show

  struct Line {
    const char* label;
    std::string value;
    int32_t itemValue;
  };
  const Line lines[] = {
      {"Memory Load: ", std::to_string(m.dwMemoryLoad) + "%", 3010},
      {"Total Physical Memory: ", FormatBytes(p, m.ullTotalPhys), 3020},
      {"In-Use Physical Memory: ", inUseText(p, m.ullTotalPhys, m.ullAvailPhys), 3025},
      {"Available Physical Memory: ", FormatBytes(p, m.ullAvailPhys), 3030},
      {"Total Page File Size: ", FormatBytes(p, m.ullTotalPageFile), 3040},
      {"In-Use Page File Size: ", inUseText(p, m.ullTotalPageFile, m.ullAvailPageFile), 3045},
      {"Available Page File Size: ", FormatBytes(p, m.ullAvailPageFile), 3050},
      {"Total Virtual Memory: ", FormatBytes(p, m.ullTotalVirtual), 3060},
      {"In-Use Virtual Memory: ", inUseText(p, m.ullTotalVirtual, m.ullAvailVirtual), 3065},
      {"Available Virtual Memory: ", FormatBytes(p, m.ullAvailVirtual), 3070},
  };
  for (const Line& l : lines) list.append(l.label + l.value, l.itemValue);
}

}  // namespace tallowin
