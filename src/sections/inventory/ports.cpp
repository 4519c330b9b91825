// The ports section: one "name (description)" line per spooler port, in the
// spooler's order.
#include <string>
#include <utility>

#include "platform/global.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

void CollectPorts(SectionContext& ctx) {
  ReportList& list = ctx.list();
  for (const Platform::PortInfo2& port : ctx.platform().EnumPorts()) {
    if (!IsPresent(port.pPortName)) continue;
    std::string line = port.pPortName;
    line += " (";
    line += port.pDescription;
    line += ')';
    list.append(std::move(line), 4010);
  }
}

}  // namespace tallowin
