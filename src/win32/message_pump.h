// One message taken from the queue by a loop of the control's own (a
// dispatch's yield, the upload's wait): handled as the host's loop would.
#pragma once

#include "win32/win.h"

namespace tallowin::win32 {

// A keyboard message for a frmMain window goes first to the keyboard handling
// a host gives it (the ActiveX object's and its container's accelerators, the
// tabs' access keys, Tab between the controls); everything else is
// translated and dispatched.
void DispatchPumped(MSG& msg);

}  // namespace tallowin::win32
