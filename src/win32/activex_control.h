// frmMain as an ActiveX control: the COM object around the frmMain window,
// and its class factory. tallowin.ocx exports the factory; tallowin.exe
// creates the object from it directly, without the registry.
#pragma once

#include "win32/win.h"

#include "control/profile_control.h"

namespace tallowin::win32 {

// A new frmMain control object (no aggregation), asked for riid. Its
// Command1 and its initialisation run upload (nothing when empty).
HRESULT CreateFrmMainObject(IUnknown* outer, REFIID riid, void** out, UploadAction upload = {});

// The class object for clsid (only frmMain's), asked for riid; the objects it
// makes run upload.
HRESULT GetFrmMainClassObject(REFCLSID clsid, REFIID riid, void** out, UploadAction upload = {});

}  // namespace tallowin::win32
