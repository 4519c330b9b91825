#include "sections/dispatch_table.h"

#include "sections/sections.h"

namespace tallowin {

const std::vector<SectionEntry>& DispatchTable() {
  static const std::vector<SectionEntry> table = {
      {"OS", CollectOperatingSystem}, {"PROGS", CollectPrograms}, {"CPU", CollectProcessor},
      {"POWER", CollectPower},        {"MEMORY", CollectMemory},  {"PORTS", CollectPorts},
      {"PCI", CollectPciBus},         {"SCSI", CollectScsiBus},   {"USB", CollectUsbBus},
      {"FIREWIRE", CollectFireWireBus}, {"PCMCIA", CollectPcmciaBus}, {"NETWORK", CollectNetwork},
      {"UI", CollectUserInterface},   {"LOCALE", CollectLocale},  {"TIME", CollectTime},
      {"PRINTERS", CollectPrinters},
  };
  return table;
}

SectionCollector FindCollector(const std::string& sectionKey) {
  for (const SectionEntry& e : DispatchTable())
    if (sectionKey == e.key) return e.collector;
  return nullptr;
}

}  // namespace tallowin
