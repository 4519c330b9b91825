// The ports section: one "name (description)" line per spooler port, in the
// spooler's order.
#include <string>
#include <utility>

#include "control/profile_control.h"
#include "platform/global.h"
#include "sections/sections.h"

namespace tallowin {

void CollectPorts(ProfileControl& control) {
  ReportList& list = control.list();
  for (const Platform::PortInfo2& port : control.platform().EnumPorts()) {
    if (!IsPresent(port.pPortName)) continue;
    std::string line = port.pPortName;
    line += " (";
    line += port.pDescription;
    line += ')';
    list.append(std::move(line), 4010);
  }
}

}  // namespace tallowin
