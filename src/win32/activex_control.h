// frmMain as an ActiveX control: the COM object around the frmMain window,
// and its class factory. tallowin.ocx exports the factory; tallowin.exe
// creates the object from it directly, without the registry.
#pragma once

#include "win32/win.h"

namespace tallowin::win32 {

// A new frmMain control object (no aggregation), asked for riid.
HRESULT CreateFrmMainObject(IUnknown* outer, REFIID riid, void** out);

// The class object for clsid (only frmMain's), asked for riid.
HRESULT GetFrmMainClassObject(REFCLSID clsid, REFIID riid, void** out);

}  // namespace tallowin::win32
