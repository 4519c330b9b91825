// The control's identity in COM. Fixed for good: the same values are in
// src/ocx/tallowin.idl, and registered controls on users' machines carry them.
#pragma once

#include "win32/win.h"

#include "win32/registration_table.h"

namespace tallowin::win32 {

// frmMain {E8C1EAF5-C6D0-4617-BEF9-CED5CAA6371D}
inline constexpr CLSID kClsidFrmMain = {0xE8C1EAF5, 0xC6D0, 0x4617, {0xBE, 0xF9, 0xCE, 0xD5, 0xCA, 0xA6, 0x37, 0x1D}};
// _frmMain {F3C9B728-0363-412D-8790-2B474CD9EE63}
inline constexpr IID kIidFrmMain = {0xF3C9B728, 0x0363, 0x412D, {0x87, 0x90, 0x2B, 0x47, 0x4C, 0xD9, 0xEE, 0x63}};
// library Tallowin {D89EF8D1-621C-4D8B-8B4C-40154DF9F74D}, version 1.0
inline constexpr GUID kLibidTallowin = {0xD89EF8D1, 0x621C, 0x4D8B, {0x8B, 0x4C, 0x40, 0x15, 0x4D, 0xF9, 0xF7, 0x4D}};
inline constexpr WORD kTypeLibMajor = 1;
inline constexpr WORD kTypeLibMinor = 0;

// What containers learn before they create the control (OLEMISC_*): it
// wants its client site before InitNew, activates in place as soon as it is
// visible, and cannot be linked into.
inline constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                                     OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST;
static_assert(kMiscStatus == kMiscStatusValue, "the registration table carries the same flags");
static_assert(kTypeLibMajor == kTypeLibMajorVersion && kTypeLibMinor == kTypeLibMinorVersion);

}  // namespace tallowin::win32
