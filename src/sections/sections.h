// The section collectors. Each appends its lines to the control's ReportList
// and never clears lines it did not add itself.
#pragma once

namespace tallowin {

class SectionContext;

void CollectOperatingSystem(SectionContext& ctx);
void CollectPrograms(SectionContext& ctx);
void CollectProcessor(SectionContext& ctx);
void CollectPower(SectionContext& ctx);
void CollectMemory(SectionContext& ctx);
void CollectPorts(SectionContext& ctx);
void CollectPciBus(SectionContext& ctx);
void CollectScsiBus(SectionContext& ctx);
void CollectUsbBus(SectionContext& ctx);
void CollectFireWireBus(SectionContext& ctx);
void CollectPcmciaBus(SectionContext& ctx);
void CollectNetwork(SectionContext& ctx);
void CollectUserInterface(SectionContext& ctx);
void CollectLocale(SectionContext& ctx);
void CollectTime(SectionContext& ctx);
void CollectPrinters(SectionContext& ctx);

}  // namespace tallowin
