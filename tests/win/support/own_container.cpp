#include "win/support/own_container.h"

namespace tallowin::wintest {

const char* NameOf(Callback c) {
  static const char* const names[] = {"none",           "CanInPlaceActivate", "OnInPlaceActivate",
                                      "GetWindow",      "GetWindowContext",   "OnUIActivate",
                                      "SetActiveObject", "SetBorderSpace",    "OnUIDeactivate",
                                      "OnInPlaceDeactivate"};
  return names[static_cast<int>(c)];
}

const char* NameOf(Act a) {
  static const char* const names[] = {"InPlaceDeactivate", "Close", "SetClientSite(nullptr)", "Release"};
  return names[static_cast<int>(a)];
}

void OwnContainer::releaseControl() {
  if (IOleObject* c = control) {
    control = nullptr;
    c->Close(OLECLOSE_NOSAVE);
    c->SetClientSite(nullptr);
    c->Release();
  }
}

// The hostile act, once, from inside the chosen callback.
void OwnContainer::called(Callback c) {
  if (hostileDone && !inAct_ && !actSettled && hostileAct != Act::SetClientSiteNull) callsAfterAct.push_back(c);
  if (c != hostileIn || hostileDone || !control) return;
  hostileDone = true;
  inAct_ = true;
  switch (hostileAct) {
    case Act::InPlaceDeactivate: {
      IOleInPlaceObject* inPlace = nullptr;
      if (SUCCEEDED(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
        inPlace->InPlaceDeactivate();
        inPlace->Release();
      }
      break;
    }
    case Act::Close:
      control->Close(OLECLOSE_NOSAVE);
      break;
    case Act::SetClientSiteNull:
      control->SetClientSite(nullptr);
      break;
    case Act::Release:
      releaseControl();
      break;
  }
  inAct_ = false;
}

STDMETHODIMP OwnContainer::QueryInterface(REFIID riid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (riid == IID_IUnknown || riid == IID_IOleClientSite)
    *out = static_cast<IOleClientSite*>(this);
  else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite)
    *out = static_cast<IOleInPlaceSite*>(this);
  else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
    *out = static_cast<IOleInPlaceFrame*>(this);
  else if (riid == IID_IOleControlSite)
    *out = static_cast<IOleControlSite*>(this);
  else if (riid == IID_IDispatch && ambient)
    *out = static_cast<IDispatch*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) OwnContainer::Release() {
  const LONG n = ::InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

STDMETHODIMP OwnContainer::GetMoniker(DWORD, DWORD, IMoniker** m) {
  if (m) *m = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP OwnContainer::GetContainer(IOleContainer** c) {
  if (c) *c = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP OwnContainer::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = window;
  called(Callback::GetWindow);
  return S_OK;
}

STDMETHODIMP OwnContainer::CanInPlaceActivate() {
  called(Callback::CanInPlaceActivate);
  return S_OK;
}

STDMETHODIMP OwnContainer::OnInPlaceActivate() {
  called(Callback::OnInPlaceActivate);
  return S_OK;
}

STDMETHODIMP OwnContainer::OnUIActivate() {
  called(Callback::OnUIActivate);
  return S_OK;
}

STDMETHODIMP OwnContainer::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT p, LPRECT c,
                                            LPOLEINPLACEFRAMEINFO info) {
  if (!frame || !doc || !p || !c) return E_POINTER;
  *frame = static_cast<IOleInPlaceFrame*>(this);
  AddRef();
  *doc = nullptr;
  *p = pos;
  *c = pos;
  if (info) {
    info->fMDIApp = FALSE;
    info->hwndFrame = window;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
  }
  called(Callback::GetWindowContext);
  return S_OK;
}

STDMETHODIMP OwnContainer::OnUIDeactivate(BOOL) {
  called(Callback::OnUIDeactivate);
  return S_OK;
}

STDMETHODIMP OwnContainer::OnInPlaceDeactivate() {
  called(Callback::OnInPlaceDeactivate);
  return S_OK;
}

STDMETHODIMP OwnContainer::SetBorderSpace(LPCBORDERWIDTHS) {
  called(Callback::SetBorderSpace);
  return S_OK;
}

// The active object is not held: the test counts only what the control holds.
STDMETHODIMP OwnContainer::SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) {
  called(Callback::SetActiveObject);
  return S_OK;
}

STDMETHODIMP OwnContainer::GetExtendedControl(IDispatch** d) {
  if (d) *d = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP OwnContainer::TranslateAccelerator(MSG* msg, DWORD) {
  if (msg) controlSiteKeys.push_back(*msg);
  return S_FALSE;
}

STDMETHODIMP OwnContainer::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
  if (id != DISPID_AMBIENT_USERMODE || !result) return DISP_E_MEMBERNOTFOUND;
  ::VariantInit(result);
  result->vt = VT_BOOL;
  result->boolVal = userMode ? VARIANT_TRUE : VARIANT_FALSE;
  return S_OK;
}

}  // namespace tallowin::wintest
