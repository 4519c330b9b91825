#include "control/profile_control.h"
#include "sections/sections.h"

namespace tallowin {

void CollectPorts(ProfileControl&) {}

}  // namespace tallowin
