// The network adapter's hardware address, the machine's key in the inventory.
#pragma once

#include <string>

#include "platform/platform.h"

namespace tallowin {

// Six upper-case hexadecimal pairs joined by "-" (00-0C-29-3A-5B-7F): the
// NetBIOS adapter status of LAN adapter 0, or where that gives none, the
// first operational hardware interface's address, or six zero pairs. ""
// only when no status block could be allocated.
std::string GetAdapterMac(Platform& platform);

}  // namespace tallowin
