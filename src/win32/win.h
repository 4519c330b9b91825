// Every Windows header the binding uses, in one place and in the order they
// need (ws2ipdef before iphlpapi). Include this, never <windows.h> itself,
// and before any Tallowin header: the Platform's operations carry the names
// of Windows functions, and the A/W macros below would rename them.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <commctrl.h>
#include <iphlpapi.h>
#include <lm.h>
#include <nb30.h>
#include <ole2.h>
#include <olectl.h>
#include <shellapi.h>
#include <winspool.h>
#include <winhttp.h>

#undef RegOpenKeyEx
#undef RegQueryValueEx
#undef RegQueryInfoKey
#undef RegEnumKeyEx
#undef GetWindowsDirectory
#undef GetSystemDirectory
#undef GetSystemWindowsDirectory
#undef GetNumberFormat
// ---- programs, processor, memory, user interface ----
#undef GetKeyboardLayoutName
// ---- network ----
#undef GetComputerName
#undef GetUserName
// ---- power, ports, printers ----
#undef GetCurrentHwProfile
#undef EnumPorts
#undef EnumPrinters
#undef DocumentProperties
#undef DeviceCapabilities
#undef FormatMessage
#undef CreateProcess
// ---- buses, time, locale ----
#undef GetDateFormat
#undef GetTimeFormat
#undef GetLocaleInfo
// ---- upload ----
