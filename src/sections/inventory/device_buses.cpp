#include "control/profile_control.h"
#include "sections/sections.h"

namespace tallowin {

void CollectPciBus(ProfileControl&) {}
void CollectScsiBus(ProfileControl&) {}
void CollectUsbBus(ProfileControl&) {}
void CollectFireWireBus(ProfileControl&) {}
void CollectPcmciaBus(ProfileControl&) {}

}  // namespace tallowin
