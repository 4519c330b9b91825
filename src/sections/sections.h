// The section collectors. Each appends its lines to the control's ReportList
// and never clears lines it did not add itself.
#pragma once

namespace tallowin {

class ProfileControl;

void CollectOperatingSystem(ProfileControl& control);
void CollectPrograms(ProfileControl& control);
void CollectProcessor(ProfileControl& control);
void CollectPower(ProfileControl& control);
void CollectMemory(ProfileControl& control);
void CollectPorts(ProfileControl& control);
void CollectPciBus(ProfileControl& control);
void CollectScsiBus(ProfileControl& control);
void CollectUsbBus(ProfileControl& control);
void CollectFireWireBus(ProfileControl& control);
void CollectPcmciaBus(ProfileControl& control);
void CollectNetwork(ProfileControl& control);
void CollectUserInterface(ProfileControl& control);
void CollectLocale(ProfileControl& control);
void CollectTime(ProfileControl& control);
void CollectPrinters(ProfileControl& control);

}  // namespace tallowin
