// An ActiveX container of the tests' own: one object as client site, in-place
// site, frame and control site that counts the references the control holds
// on it, answers the ambient UserMode when asked to, and can turn hostile:
// from inside one chosen callback it deactivates, closes, drops or releases
// the control.
#pragma once

#include "win32/win.h"

#include <ocidl.h>

#include <string>
#include <vector>

#include "win32/com_object.h"

namespace tallowin::wintest {

// What a hostile container does from inside a callback (Release: Close,
// SetClientSite(nullptr) and its last reference).
enum class Act { InPlaceDeactivate, Close, SetClientSiteNull, Release };

class OwnContainer
    : public win32::ComObject<IOleClientSite, IOleInPlaceSite, IOleInPlaceFrame, IOleControlSite, IDispatch> {
 public:
  explicit OwnContainer(HWND parent) : window(parent) {}

  HWND window;
  RECT pos{0, 0, 640, 480};
  bool ambient = false;  // IDispatch with the ambient UserMode, else none
  bool userMode = true;
  IOleObject* control = nullptr;  // the container's reference, when the test hands it over
  std::string hostileIn;  // the name of the callback to turn hostile in
  Act hostileAct = Act::InPlaceDeactivate;
  bool hostileDone = false;  // the hostile act happened (once)
  // Calls into the container after the hostile act ended the activation
  // (every act but SetClientSite(nullptr)) until the test settles the act at
  // the end of its step: a deactivated control has nothing more to say.
  std::string callsAfterAct;  // their names
  bool actSettled = false;
  std::vector<MSG> controlSiteKeys;  // what reached IOleControlSite::TranslateAccelerator

  LONG references() {
    AddRef();
    return static_cast<LONG>(Release());
  }
  // Close, SetClientSite(nullptr) and the container's reference, if it has one.
  void releaseControl() {
    if (IOleObject* c = control) {
      control = nullptr;
      c->Close(OLECLOSE_NOSAVE);
      c->SetClientSite(nullptr);
      c->Release();
    }
  }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
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

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override { return m ? (*m = nullptr, E_NOTIMPL) : E_POINTER; }
  STDMETHODIMP GetContainer(IOleContainer** c) override { return c ? (*c = nullptr, E_NOINTERFACE) : E_POINTER; }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (site and frame)
  STDMETHODIMP GetWindow(HWND* hwnd) override {
    if (!hwnd) return E_POINTER;
    *hwnd = window;
    return called("GetWindow");
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return called("CanInPlaceActivate"); }
  STDMETHODIMP OnInPlaceActivate() override { return called("OnInPlaceActivate"); }
  STDMETHODIMP OnUIActivate() override { return called("OnUIActivate"); }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT p, LPRECT c,
                                LPOLEINPLACEFRAMEINFO info) override {
    if (!frame || !doc || !p || !c) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    *p = *c = pos;
    if (info) *info = {info->cb, FALSE, window, nullptr, 0};
    return called("GetWindowContext");
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return called("OnUIDeactivate"); }
  STDMETHODIMP OnInPlaceDeactivate() override { return called("OnInPlaceDeactivate"); }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow, IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return called("SetBorderSpace"); }
  // The active object is not held: the test counts only what the control holds.
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
    return called("SetActiveObject");
  }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IOleControlSite
  STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
  STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
  STDMETHODIMP GetExtendedControl(IDispatch** d) override { return d ? (*d = nullptr, E_NOTIMPL) : E_POINTER; }
  STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG* msg, DWORD) override {
    if (msg) controlSiteKeys.push_back(*msg);
    return S_FALSE;
  }
  STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
  STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

  // IDispatch: the ambient properties
  STDMETHODIMP GetTypeInfoCount(UINT* n) override { return n ? (*n = 0, S_OK) : E_POINTER; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
    if (id != DISPID_AMBIENT_USERMODE || !result) return DISP_E_MEMBERNOTFOUND;
    ::VariantInit(result);
    result->vt = VT_BOOL;
    result->boolVal = userMode ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

 private:
  // The hostile act, once, from inside the chosen callback; S_OK for the callback to answer.
  HRESULT called(const char* name) {
    if (hostileDone && !inAct_ && !actSettled && hostileAct != Act::SetClientSiteNull) callsAfterAct += name + std::string(" ");
    if (hostileIn != name || hostileDone || !control) return S_OK;
    hostileDone = true;
    inAct_ = true;
    if (hostileAct == Act::InPlaceDeactivate) {
      IOleInPlaceObject* inPlace = nullptr;
      if (SUCCEEDED(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
        inPlace->InPlaceDeactivate();
        inPlace->Release();
      }
    } else if (hostileAct == Act::Close) {
      control->Close(OLECLOSE_NOSAVE);
    } else if (hostileAct == Act::SetClientSiteNull) {
      control->SetClientSite(nullptr);
    } else {
      releaseControl();
    }
    inAct_ = false;
    return S_OK;
  }
  bool inAct_ = false;
};

}  // namespace tallowin::wintest
