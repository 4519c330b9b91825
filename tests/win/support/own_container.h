// A minimal ActiveX container of the tests' own (not atl.dll's): one object
// that is client site, in-place site, frame and control site, counts the
// references the control holds on it, answers the ambient UserMode when
// asked to, and can turn hostile: from inside one chosen callback it
// deactivates, closes, drops or releases the control.
#pragma once

#include "win32/win.h"

#include <ocidl.h>

#include <string>
#include <vector>

namespace tallowin::wintest {

// The container's methods the control calls.
enum class Callback {
  None,
  CanInPlaceActivate,
  OnInPlaceActivate,
  GetWindow,
  GetWindowContext,
  OnUIActivate,
  SetActiveObject,
  SetBorderSpace,
  OnUIDeactivate,
  OnInPlaceDeactivate,
};
const char* NameOf(Callback c);

// What a hostile container does from inside the callback.
enum class Act {
  InPlaceDeactivate,
  Close,
  SetClientSiteNull,
  Release,  // Close, SetClientSite(nullptr) and its last reference
};
const char* NameOf(Act a);

class OwnContainer : public IOleClientSite,
                     public IOleInPlaceSite,
                     public IOleInPlaceFrame,
                     public IOleControlSite,
                     public IDispatch {
 public:
  explicit OwnContainer(HWND parent) : window(parent) {}

  HWND window;
  RECT pos{0, 0, 640, 480};
  bool ambient = false;  // IDispatch with the ambient UserMode, else none
  bool userMode = true;
  IOleObject* control = nullptr;  // the container's reference, when the test hands it over
  Callback hostileIn = Callback::None;
  Act hostileAct = Act::InPlaceDeactivate;
  bool hostileDone = false;  // the hostile act happened (once)
  // Calls the control made into the container after the hostile act ended
  // its activation (every act but SetClientSite(nullptr), which leaves the
  // in-place site in use), until the test settles the act at the end of its
  // step: a deactivated control has nothing more to say to its container.
  std::vector<Callback> callsAfterAct;
  bool actSettled = false;
  std::vector<MSG> controlSiteKeys;  // what reached IOleControlSite::TranslateAccelerator

  LONG references() const { return refs_; }
  // Close, SetClientSite(nullptr) and the container's reference, if it has one.
  void releaseControl();

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override;

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override;
  STDMETHODIMP GetContainer(IOleContainer** c) override;
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (site and frame)
  STDMETHODIMP GetWindow(HWND* hwnd) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override;
  STDMETHODIMP OnInPlaceActivate() override;
  STDMETHODIMP OnUIActivate() override;
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT p, LPRECT c,
                                LPOLEINPLACEFRAMEINFO info) override;
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override;
  STDMETHODIMP OnInPlaceDeactivate() override;
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IOleInPlaceUIWindow, IOleInPlaceFrame
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override;
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) override;
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IOleControlSite
  STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
  STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
  STDMETHODIMP GetExtendedControl(IDispatch** d) override;
  STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG* msg, DWORD) override;
  STDMETHODIMP OnFocus(BOOL) override { return S_OK; }
  STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

  // IDispatch: the ambient properties
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override;

  virtual ~OwnContainer() = default;

 private:
  void called(Callback c);
  LONG refs_ = 1;
  bool inAct_ = false;
};

}  // namespace tallowin::wintest
