#include "win32/activex_control.h"

#include "control/form.h"

#include <objsafe.h>

#include <new>
#include <utility>
#include <vector>

#include "win32/frm_main.h"
#include "win32/com_object.h"
#include "win32/handles.h"
#include "win32/module.h"
#include "win32/tallowin_ids.h"

namespace tallowin::win32 {

namespace {

// No exception may leave a COM method.
template <typename F>
HRESULT Guarded(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The form's size in HIMETRIC (hundredths of a millimetre), from its twips.
SIZEL FormExtent() { return {::MulDiv(form::kWidth, 2540, 1440), ::MulDiv(form::kHeight, 2540, 1440)}; }

// IOleControlSite::TranslateAccelerator's modifier flags (KEYMODIFIERS,
// which MinGW's headers lack).
DWORD KeyModifiers() {
  constexpr DWORD kShift = 1, kControl = 2, kAlt = 4;
  DWORD m = 0;
  if (::GetKeyState(VK_SHIFT) < 0) m |= kShift;
  if (::GetKeyState(VK_CONTROL) < 0) m |= kControl;
  if (::GetKeyState(VK_MENU) < 0) m |= kAlt;
  return m;
}

bool HasArea(const RECT& r) { return r.right > r.left && r.bottom > r.top; }

constexpr DWORD kSafetyOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;
constexpr UINT_PTR kSubclassId = 1;
constexpr wchar_t kObjectName[] = L"frmMain";

class FrmMainObject final : public ComObject<IOleObject, IOleInPlaceObject, IOleInPlaceActiveObject, IOleControl,
                                            IViewObject2, IPersistStreamInit, IPersistPropertyBag, IDispatch,
                                            IProvideClassInfo2, IObjectSafety>,
                            public FormOwner {
 public:
  // The control (its list, flags and selected tab) is the object's for its
  // whole life; windows come and go with in-place activations.
  explicit FrmMainObject(UploadAction upload) : control_(MakeControl(std::move(upload))) {}

  // ---- IUnknown ----
  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleObject)
      *out = static_cast<IOleObject*>(this);
    else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceObject)
      *out = static_cast<IOleInPlaceObject*>(this);
    else if (riid == IID_IOleInPlaceActiveObject)
      *out = static_cast<IOleInPlaceActiveObject*>(this);
    else if (riid == IID_IOleControl)
      *out = static_cast<IOleControl*>(this);
    else if (riid == IID_IViewObject || riid == IID_IViewObject2)
      *out = static_cast<IViewObject2*>(this);
    else if (riid == IID_IPersist || riid == IID_IPersistStreamInit)
      *out = static_cast<IPersistStreamInit*>(this);
    else if (riid == IID_IPersistPropertyBag)
      *out = static_cast<IPersistPropertyBag*>(this);
    else if (riid == IID_IDispatch || riid == kIidFrmMain)
      *out = static_cast<IDispatch*>(this);
    else if (riid == IID_IProvideClassInfo || riid == IID_IProvideClassInfo2)
      *out = static_cast<IProvideClassInfo2*>(this);
    else if (riid == IID_IObjectSafety)
      *out = static_cast<IObjectSafety*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

  // ---- IOleObject ----
  STDMETHODIMP SetClientSite(IOleClientSite* site) override {
    site_ = ComPtr<IOleClientSite>::Retain(site);
    return S_OK;
  }
  STDMETHODIMP GetClientSite(IOleClientSite** site) override {
    if (!site) return E_POINTER;
    *site = ComPtr<IOleClientSite>(site_).detach();
    return S_OK;
  }
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP Close(DWORD) override {
    return Guarded([&] {
      Hold hold(this);
      inPlaceDeactivate();
      if (const ComPtr<IOleAdviseHolder> advise = oleAdvise_) advise->SendOnClose();
      return S_OK;
    });
  }
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipboardData(DWORD, IDataObject** data) override {
    if (data) *data = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent, LPCRECT posRect) override {
    return Guarded([&]() -> HRESULT {
      Hold hold(this);
      switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE:
          return activate(true, activeSite, parent, posRect);
        case OLEIVERB_INPLACEACTIVATE:
          return activate(false, activeSite, parent, posRect);
        case OLEIVERB_HIDE:
          uiDeactivate();
          if (hwnd_) ::ShowWindow(hwnd_, SW_HIDE);  // read anew: the container may have deactivated us
          return S_OK;
        case OLEIVERB_DISCARDUNDOSTATE:
          return S_OK;
        default:
          return verb > 0 ? OLEOBJ_S_INVALIDVERB : E_NOTIMPL;
      }
    });
  }
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** verbs) override {
    if (!verbs) return E_POINTER;
    return ::OleRegEnumVerbs(kClsidFrmMain, verbs);
  }
  STDMETHODIMP Update() override { return S_OK; }
  STDMETHODIMP IsUpToDate() override { return S_OK; }
  STDMETHODIMP GetUserClassID(CLSID* clsid) override {
    if (!clsid) return E_POINTER;
    *clsid = kClsidFrmMain;
    return S_OK;
  }
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* type) override {
    if (!type) return E_POINTER;
    if (SUCCEEDED(::OleRegGetUserType(kClsidFrmMain, form, type))) return S_OK;
    // Not registered (tallowin.exe needs no registration): the class name.
    *type = static_cast<LPOLESTR>(::CoTaskMemAlloc(sizeof(kObjectName)));
    if (!*type) return E_OUTOFMEMORY;
    ::memcpy(*type, kObjectName, sizeof(kObjectName));
    return S_OK;
  }
  // The extent is remembered and reported, never used for the window: some
  // containers pass it in wrong units. The window follows DoVerb and
  // SetObjectRects.
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    extent_ = *size;
    return S_OK;
  }
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    *size = extent_;
    return S_OK;
  }
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* connection) override {
    return Guarded([&]() -> HRESULT {
      if (!oleAdvise_) {
        const HRESULT hr = ::CreateOleAdviseHolder(oleAdvise_.put());
        if (FAILED(hr)) return hr;
      }
      return ComPtr<IOleAdviseHolder>(oleAdvise_)->Advise(sink, connection);
    });
  }
  STDMETHODIMP Unadvise(DWORD connection) override {
    const ComPtr<IOleAdviseHolder> advise = oleAdvise_;
    return advise ? advise->Unadvise(connection) : OLE_E_NOCONNECTION;
  }
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** advise) override {
    if (!advise) return E_POINTER;
    *advise = nullptr;
    const ComPtr<IOleAdviseHolder> holder = oleAdvise_;
    return holder ? holder->EnumAdvise(advise) : S_OK;
  }
  STDMETHODIMP GetMiscStatus(DWORD, DWORD* status) override {
    if (!status) return E_POINTER;
    *status = kMiscStatus;
    return S_OK;
  }
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

  // ---- IOleWindow (IOleInPlaceObject, IOleInPlaceActiveObject) ----
  STDMETHODIMP GetWindow(HWND* hwnd) override {
    if (!hwnd) return E_POINTER;
    *hwnd = hwnd_;
    return hwnd_ ? S_OK : E_FAIL;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // ---- IOleInPlaceObject ----
  STDMETHODIMP InPlaceDeactivate() override {
    return Guarded([&] {
      Hold hold(this);
      inPlaceDeactivate();
      return S_OK;
    });
  }
  STDMETHODIMP UIDeactivate() override {
    return Guarded([&] {
      Hold hold(this);
      uiDeactivate();
      return S_OK;
    });
  }
  STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT clip) override {
    if (!pos) return E_POINTER;
    return Guarded([&] {
      if (hwnd_) applyRects(*pos, clip ? *clip : *pos);
      return S_OK;
    });
  }
  STDMETHODIMP ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }

  // ---- IOleInPlaceActiveObject ----
  // The host's message loop hands over keyboard messages first: the tabs'
  // access keys, and Tab between the form's controls. Everything else goes
  // back to the container (its own accelerators, then the usual dispatch).
  STDMETHODIMP TranslateAccelerator(LPMSG msg) override {
    return Guarded([&]() -> HRESULT {
      if (!msg || !hwnd_) return S_FALSE;
      Hold hold(this);
      FrmMain* form = FrmMain::FromWindow(hwnd_);
      return form && form->translateKey(*msg) ? S_OK : S_FALSE;
    });
  }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

  // ---- IOleControl ----
  // The tabs' access keys (Alt+letter), so that a container passes them on
  // even while another control has the focus.
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override {
    if (!info) return E_POINTER;
    return Guarded([&]() -> HRESULT {
      if (!accel_) {
        std::vector<ACCEL> keys;
        const auto& tabs = form::Tabs();
        for (size_t i = 0; i < tabs.size(); ++i) {
          const char letter = form::AccessKey(tabs[i].caption);
          if (letter != 0) keys.push_back({FALT | FVIRTKEY, static_cast<WORD>(letter), static_cast<WORD>(i)});
        }
        accel_.reset(::CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size())));
        accelCount_ = accel_ ? static_cast<USHORT>(keys.size()) : 0;
      }
      info->cb = sizeof(CONTROLINFO);
      info->hAccel = accel_.get();
      info->cAccel = accelCount_;
      info->dwFlags = 0;
      return S_OK;
    });
  }
  STDMETHODIMP OnMnemonic(LPMSG msg) override {
    if (!msg) return E_POINTER;
    return Guarded([&]() -> HRESULT {
      Hold hold(this);
      FrmMain* form = hwnd_ ? FrmMain::FromWindow(hwnd_) : nullptr;
      if (!form) return S_FALSE;
      return form->handleAccessKey(static_cast<wchar_t>(msg->wParam)) ? S_OK : S_FALSE;
    });
  }
  STDMETHODIMP OnAmbientPropertyChange(DISPID dispid) override {
    return Guarded([&] {
      // A container leaving design mode: the control's first activation in
      // run mode is now.
      if (dispid == DISPID_AMBIENT_USERMODE || dispid == DISPID_UNKNOWN) scheduleInitialUpload();
      return S_OK;
    });
  }
  STDMETHODIMP FreezeEvents(BOOL) override { return S_OK; }

  // ---- IViewObject, IViewObject2 ----
  // Where a container wants a picture of the control (a design view, a
  // print preview): its outline and its name.
  STDMETHODIMP Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                    BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc || !bounds) return E_INVALIDARG;
    return Guarded([&] {
      RECT r{bounds->left, bounds->top, bounds->right, bounds->bottom};
      if (r.left > r.right) std::swap(r.left, r.right);
      if (r.top > r.bottom) std::swap(r.top, r.bottom);
      ::FrameRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
      const int oldMode = ::SetBkMode(dc, TRANSPARENT);
      const COLORREF oldColor = ::SetTextColor(dc, RGB(0, 0, 0));
      ::DrawTextW(dc, kObjectName, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      ::SetTextColor(dc, oldColor);
      ::SetBkMode(dc, oldMode);
      return S_OK;
    });
  }
  STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colors) override {
    if (!colors) return E_POINTER;
    *colors = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override { return E_NOTIMPL; }
  STDMETHODIMP Unfreeze(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) override {
    viewAspects_ = aspects;
    viewAdvf_ = advf;
    viewSink_ = ComPtr<IAdviseSink>::Retain(sink);
    return S_OK;
  }
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) override {
    if (aspects) *aspects = viewAspects_;
    if (advf) *advf = viewAdvf_;
    if (sink) *sink = ComPtr<IAdviseSink>(viewSink_).detach();
    return S_OK;
  }
  STDMETHODIMP GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override {
    return GetExtent(aspect, size);
  }

  // ---- IPersist, IPersistStreamInit, IPersistPropertyBag ----
  // The control has no properties: nothing is read or written.
  STDMETHODIMP GetClassID(CLSID* clsid) override { return GetUserClassID(clsid); }
  STDMETHODIMP IsDirty() override { return S_FALSE; }
  STDMETHODIMP Load(LPSTREAM stream) override { return stream ? S_OK : E_POINTER; }
  STDMETHODIMP Save(LPSTREAM stream, BOOL) override { return stream ? S_OK : E_POINTER; }
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* size) override {
    if (!size) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
  }
  STDMETHODIMP InitNew() override { return S_OK; }
  STDMETHODIMP Load(IPropertyBag* bag, IErrorLog*) override { return bag ? S_OK : E_POINTER; }
  STDMETHODIMP Save(IPropertyBag* bag, BOOL, BOOL) override { return bag ? S_OK : E_POINTER; }

  // ---- IDispatch (_frmMain, through the type library) ----
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return Guarded([&] { return typeInfoOf(kIidFrmMain, info); });
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return Guarded([&]() -> HRESULT {
      ComPtr<ITypeInfo> info;
      const HRESULT hr = typeInfoOf(kIidFrmMain, info.put());
      return FAILED(hr) ? hr : ::DispGetIDsOfNames(info.get(), names, count, ids);
    });
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return Guarded([&]() -> HRESULT {
      Hold hold(this);
      ComPtr<ITypeInfo> dispatchInfo;
      HRESULT hr = typeInfoOf(kIidFrmMain, dispatchInfo.put());
      if (FAILED(hr)) return hr;
      // DispInvoke wants the vtable half of the dual interface.
      ComPtr<ITypeInfo> vtableInfo;
      HREFTYPE ref = 0;
      hr = dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref);
      if (SUCCEEDED(hr)) hr = dispatchInfo->GetRefTypeInfo(ref, vtableInfo.put());
      if (FAILED(hr)) return DISP_E_MEMBERNOTFOUND;
      return ::DispInvoke(static_cast<IDispatch*>(this), vtableInfo.get(), id, flags, params, result, exception,
                          argError);
    });
  }

  // ---- IProvideClassInfo, IProvideClassInfo2 ----
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    return Guarded([&] { return typeInfoOf(kClsidFrmMain, info); });
  }
  STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override {
    if (!guid) return E_POINTER;
    *guid = GUID_NULL;
    // frmMain raises no events: there is no source interface to name.
    return kind == GUIDKIND_DEFAULT_SOURCE_DISP_IID ? E_FAIL : E_INVALIDARG;
  }

  // ---- IObjectSafety ----
  // Safe for scripting and for initialising on every interface it has: it
  // takes nothing from its host.
  STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported, DWORD* enabled) override {
    if (!supported || !enabled) return E_POINTER;
    *supported = *enabled = 0;
    if (!implements(riid)) return E_NOINTERFACE;
    *supported = kSafetyOptions;
    *enabled = safety_;
    return S_OK;
  }
  STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD mask, DWORD enabled) override {
    if (!implements(riid)) return E_NOINTERFACE;
    if (mask & ~kSafetyOptions) return E_FAIL;
    safety_ = (safety_ & ~mask) | (enabled & mask);
    return S_OK;
  }

 private:
  // Keeps the object alive while one of its methods runs: a container may
  // release it from a callback (OnInPlaceDeactivate, a message pumped by a
  // dispatch).
  class Hold {
   public:
    explicit Hold(FrmMainObject* o) : o_(o) { o_->AddRef(); }
    ~Hold() { o_->Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    FrmMainObject* o_;
  };

  ~FrmMainObject() override {
    // Nothing is called on the container any more: it has let go of us. The
    // interfaces it gave (the activation site too) go with the members.
    destroyWindow();
    control_->close();
  }

  // ---- FormOwner ----
  IUnknown* unknown() override { return static_cast<IOleObject*>(this); }
  // A keyboard message the control pumps itself goes where a container's
  // loop sends it: to us as the active object, then to the container.
  bool translatePumpedKey(MSG& msg) override {
    try {
      Hold hold(this);
      if (TranslateAccelerator(&msg) == S_OK) return true;
      const ComPtr<IOleClientSite> site = site_ ? site_ : activationSite_;
      ComPtr<IOleControlSite> controlSite;
      if (!site || FAILED(site.as(IID_IOleControlSite, controlSite)) || !controlSite) return false;
      return controlSite->TranslateAccelerator(&msg, KeyModifiers()) == S_OK;
    } catch (...) {
      return false;
    }
  }

  bool implements(REFIID riid) {
    ComPtr<IUnknown> p;
    return SUCCEEDED(QueryInterface(riid, p.putVoid())) && p;
  }

  // The type library embedded in the module that holds this code (the ocx,
  // or tallowin.exe), loaded without the registry.
  HRESULT typeInfoOf(REFGUID guid, ITypeInfo** info) {
    if (!typeLib_) {
      const std::wstring path = ModulePath();
      if (path.empty()) return TYPE_E_CANTLOADLIBRARY;
      const HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, typeLib_.put());
      if (FAILED(hr)) return hr;
    }
    return typeLib_->GetTypeInfoOfGuid(guid, info);
  }

  // Run mode unless the container says otherwise through the ambient
  // property UserMode; a container without ambient properties runs.
  static bool runMode(const ComPtr<IOleClientSite>& site) {
    ComPtr<IDispatch> ambient;
    if (!site || FAILED(site.as(IID_IDispatch, ambient)) || !ambient) return true;
    VARIANT value;
    ::VariantInit(&value);
    DISPPARAMS none{};
    const HRESULT hr = ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                       &none, &value, nullptr, nullptr);
    bool run = true;
    if (SUCCEEDED(hr) && SUCCEEDED(::VariantChangeType(&value, &value, 0, VT_BOOL)))
      run = value.boolVal != VARIANT_FALSE;
    ::VariantClear(&value);
    return run;
  }

  // The upload runs once in the life of the object, when it is first
  // active in run mode.
  void scheduleInitialUpload() {
    if (initialUploadScheduled_ || !hwnd_) return;
    if (!runMode(site_ ? site_ : activationSite_) || !hwnd_) return;  // the container may deactivate us meanwhile
    FrmMain* form = FrmMain::FromWindow(hwnd_);
    if (!form) return;
    form->postInitialUpload();
    initialUploadScheduled_ = form->initialUploadPending();
  }

  HRESULT activate(bool ui, IOleClientSite* activeSite, HWND parentHint, LPCRECT posHint) {
    const ComPtr<IOleClientSite> site = ComPtr<IOleClientSite>::Retain(site_ ? site_.get() : activeSite);
    if (!site) return E_UNEXPECTED;
    // The window went with its parent, without a word to us: start afresh.
    if (inPlaceSite_ && !hwnd_) inPlaceDeactivate();
    if (!inPlaceSite_) {
      const HRESULT hr = inPlaceActivate(site, parentHint, posHint);
      if (hr != S_OK) return hr;
    } else if (hwnd_) {
      if (posHint) applyRects(*posHint, *posHint);
      ::ShowWindow(hwnd_, SW_SHOWNA);
    }
    if (ui) uiActivate(true);
    return S_OK;
  }

  // Every call into the container may deactivate, close or release us (the
  // caller holds us): the activation goes on only while it is still the one
  // begun here, and only with interfaces held here.
  HRESULT inPlaceActivate(const ComPtr<IOleClientSite>& site, HWND parentHint, LPCRECT posHint) {
    ComPtr<IOleInPlaceSite> ips;
    if (FAILED(site.as(IID_IOleInPlaceSite, ips)) || !ips) return E_NOINTERFACE;
    const unsigned before = activations_;
    if (ips->CanInPlaceActivate() != S_OK) return E_FAIL;
    if (activations_ != before) return E_UNEXPECTED;  // deactivated or closed meanwhile
    if (inPlaceSite_) return S_OK;                    // or activated
    inPlaceSite_ = ips;
    activationSite_ = site;
    const unsigned activation = ++activations_;
    const auto current = [&] { return activations_ == activation && inPlaceSite_.get() == ips.get(); };
    ips->OnInPlaceActivate();
    if (!current()) return E_UNEXPECTED;
    HWND parent = nullptr;
    if (FAILED(ips->GetWindow(&parent)) || !parent) parent = parentHint;
    if (!current()) return E_UNEXPECTED;
    RECT pos{}, clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof(frameInfo);
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> uiWindow;
    if (FAILED(ips->GetWindowContext(frame.put(), uiWindow.put(), &pos, &clip, &frameInfo))) pos = clip = RECT{};
    if (!current()) return E_UNEXPECTED;
    frame_ = std::move(frame);
    uiWindow_ = std::move(uiWindow);
    if (posHint) pos = *posHint;
    FrmMain* form = parent ? FrmMain::Create(parent, pos.left, pos.top, control_, this) : nullptr;
    if (!form) {
      inPlaceDeactivate();
      return E_FAIL;
    }
    hwnd_ = form->hwnd();
    ::SetWindowSubclass(hwnd_, &FrmMainObject::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    applyRects(pos, clip);
    scheduleInitialUpload();
    return current() ? S_OK : E_UNEXPECTED;
  }

  void uiActivate(bool takeFocus) {
    if (!inPlaceSite_ || uiActive_ || !hwnd_) return;
    uiActive_ = true;
    const unsigned activation = activations_;
    const auto current = [&] { return uiActive_ && activations_ == activation; };
    const ComPtr<IOleInPlaceSite> ips = inPlaceSite_;
    const ComPtr<IOleInPlaceFrame> frame = frame_;
    const ComPtr<IOleInPlaceUIWindow> uiWindow = uiWindow_;
    IOleInPlaceActiveObject* active = this;
    ips->OnUIActivate();
    if (frame && current()) frame->SetActiveObject(active, kObjectName);
    if (frame && current()) frame->SetBorderSpace(nullptr);
    if (uiWindow && current()) uiWindow->SetActiveObject(active, kObjectName);
    if (uiWindow && current()) uiWindow->SetBorderSpace(nullptr);
    if (takeFocus && current() && hwnd_) {
      HWND focus = ::GetFocus();
      if (focus != hwnd_ && !::IsChild(hwnd_, focus))
        if (HWND first = ::GetNextDlgTabItem(hwnd_, nullptr, FALSE)) ::SetFocus(first);
    }
  }

  void uiDeactivate() {
    if (!uiActive_) return;
    uiActive_ = false;
    const ComPtr<IOleInPlaceSite> ips = inPlaceSite_;
    const ComPtr<IOleInPlaceFrame> frame = frame_;
    const ComPtr<IOleInPlaceUIWindow> uiWindow = uiWindow_;
    if (frame) frame->SetActiveObject(nullptr, nullptr);
    if (uiWindow) uiWindow->SetActiveObject(nullptr, nullptr);
    if (ips) ips->OnUIDeactivate(FALSE);
  }

  // The window goes; the control stays with the object.
  void destroyWindow() {
    HWND h = std::exchange(hwnd_, nullptr);
    if (!h) return;
    if (FrmMain* form = FrmMain::FromWindow(h)) {
      // An upload posted but not yet run is due again on the next activation.
      if (form->initialUploadPending()) initialUploadScheduled_ = false;
      form->forgetOwner();
    }
    ::RemoveWindowSubclass(h, &FrmMainObject::SubclassProc, kSubclassId);
    ::DestroyWindow(h);
  }

  void inPlaceDeactivate() {
    uiDeactivate();
    destroyWindow();
    clipped_ = false;
    ++activations_;
    const ComPtr<IOleInPlaceSite> ips = std::move(inPlaceSite_);
    const ComPtr<IOleClientSite> site = std::move(activationSite_);
    frame_.reset();
    uiWindow_.reset();
    if (ips) ips->OnInPlaceDeactivate();
  }

  // pos and clip in the parent's client coordinates. An empty position
  // leaves the form at its own size; the part outside clip is cut away.
  void applyRects(const RECT& pos, const RECT& clip) {
    if (HasArea(pos))
      ::SetWindowPos(hwnd_, nullptr, pos.left, pos.top, pos.right - pos.left, pos.bottom - pos.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    else
      ::SetWindowPos(hwnd_, nullptr, pos.left, pos.top, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
    RECT visible{};
    const bool clipping =
        HasArea(pos) && HasArea(clip) && !(::IntersectRect(&visible, &pos, &clip) && ::EqualRect(&visible, &pos));
    if (clipping) {
      ::OffsetRect(&visible, -pos.left, -pos.top);
      UniqueRegion region(::CreateRectRgnIndirect(&visible));
      clipped_ = static_cast<bool>(region);
      if (region && ::SetWindowRgn(hwnd_, region.get(), TRUE)) region.release();  // the window owns it once set
    } else if (clipped_) {
      ::SetWindowRgn(hwnd_, nullptr, TRUE);
      clipped_ = false;
    }
  }

  // On the form's window: a click anywhere on it makes the control the
  // container's UI-active object (so that it gets the keyboard); the window
  // going away without us (its parent destroyed first) is noted.
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<FrmMainObject*>(data);
    switch (msg) {
      case WM_MOUSEACTIVATE: {
        const LRESULT result = ::DefSubclassProc(hwnd, msg, wp, lp);
        try {
          Hold hold(self);
          self->uiActivate(false);
        } catch (...) {
        }
        return result;
      }
      case WM_NCDESTROY:
        ::RemoveWindowSubclass(hwnd, &FrmMainObject::SubclassProc, kSubclassId);
        if (self->hwnd_ == hwnd) self->hwnd_ = nullptr;
        break;
      default:
        break;
    }
    return ::DefSubclassProc(hwnd, msg, wp, lp);
  }

  ModuleLock moduleLock_;  // first in, last out: the module outlives every member
  std::shared_ptr<ProfileControl> control_;
  ComPtr<IOleClientSite> site_;
  ComPtr<IOleClientSite> activationSite_;  // the site DoVerb activated us with
  ComPtr<IOleInPlaceSite> inPlaceSite_;
  ComPtr<IOleInPlaceFrame> frame_;
  ComPtr<IOleInPlaceUIWindow> uiWindow_;
  ComPtr<IOleAdviseHolder> oleAdvise_;
  ComPtr<IAdviseSink> viewSink_;
  DWORD viewAspects_ = 0;
  DWORD viewAdvf_ = 0;
  ComPtr<ITypeLib> typeLib_;
  UniqueAccelerators accel_;
  USHORT accelCount_ = 0;
  HWND hwnd_ = nullptr;
  unsigned activations_ = 0;  // counts activations and deactivations
  bool uiActive_ = false;
  bool clipped_ = false;
  bool initialUploadScheduled_ = false;
  SIZEL extent_ = FormExtent();
  DWORD safety_ = 0;
};

}  // namespace

HRESULT CreateFrmMainObject(IUnknown* outer, REFIID riid, void** out, UploadAction upload) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return Guarded([&] {
    auto* object = new FrmMainObject(std::move(upload));
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
  });
}

}  // namespace tallowin::win32
