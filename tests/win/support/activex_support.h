// What the control's tests under Wine share: regsvr32, atl.dll's container,
// registry snapshots, the process's resource counts, and an in-process
// container whose ambient properties a test sets.
#pragma once

#include "win32/win.h"

#include <map>
#include <optional>
#include <string>

#include "win/support/win_support.h"

namespace tallowin::wintest {

// build/<arch>/tallowin.ocx, beside the test program.
std::wstring OcxPath();
// wine's regsvr32 with the given switches on tallowin.ocx ("/s", "/u /s",
// "/s /n /i:user", ...).
RunResult Regsvr32(const std::wstring& switches);

// Checks the type information an object gives through IDispatch and
// IProvideClassInfo: _frmMain, dual and empty, in the library Tallowin;
// the class frmMain with _frmMain as its default and no source interface.
void ExpectTypeInfo(IUnknown* object);

// atl.dll's AtlAxWin class, registered once per process.
bool InitAtlAxWin();

// The control created by ProgID (or CLSID text) in an AtlAxWin window, as
// any ActiveX container would: a hidden host, the AtlAxWin child filling it,
// and inside that the control's frmMain window. Everything goes with it.
class AxWinHost {
 public:
  explicit AxWinHost(const wchar_t* progId, int width = 640, int height = 480, HWND parent = nullptr);
  ~AxWinHost();
  AxWinHost(const AxWinHost&) = delete;
  AxWinHost& operator=(const AxWinHost&) = delete;

  HWND form() const { return form_; }  // class TallowinFrmMain, or nullptr
  HWND container() const { return ax_; }
  HWND list() const;

 private:
  HWND top_ = nullptr;  // ours only when no parent was given
  HWND ax_ = nullptr;
  HWND form_ = nullptr;
};

// A registry tree as sorted text: "PATH\" for every key, "PATH\:NAME" =
// "type:data" for every value. Paths are relative to the tree's root and
// upper-cased (the registry ignores case); the 32-bit view (Wow6432Node)
// is left out.
using RegSnapshot = std::map<std::wstring, std::wstring>;
RegSnapshot SnapshotTree(HKEY root, const std::wstring& path);
// What after has that before has not, and what before has that after has
// not or has with another value.
struct RegDiff {
  RegSnapshot added;
  RegSnapshot removedOrChanged;
};
RegDiff Diff(const RegSnapshot& before, const RegSnapshot& after);

// The process's GDI and USER objects, handles and private bytes. Wine 8
// answers 0 from GetGuiResources, GetProcessHandleCount and PrivateUsage;
// then the counts come from the GDI handle table, the process's windows,
// probing handle values and the committed private pages.
struct ProcessResources {
  long gdi = 0;
  long user = 0;
  long handles = 0;
  long long privateBytes = 0;
  std::string sources;  // where each count came from
};
ProcessResources MeasureResources();
// Growth from before to after within the long runs' bounds: 10 GDI objects,
// 10 USER objects, 20 handles, maxPrivateBytes of private bytes.
void ExpectBoundedGrowth(const ProcessResources& before, const ProcessResources& after, long long maxPrivateBytes);

// An in-process container: client site and in-place site around a window.
// Without ambient properties it answers no IDispatch; with them it reports
// UserMode as set.
class TestSite : public IOleClientSite, public IOleInPlaceSite, public IDispatch {
 public:
  explicit TestSite(HWND parent) : window(parent) {}

  HWND window;  // the container's window the control goes into
  bool ambient = false;
  bool userMode = true;
  RECT pos{0, 0, 640, 480};
  RECT clip{0, 0, 640, 480};
  int inPlaceActivations = 0;
  int inPlaceDeactivations = 0;
  int uiActivations = 0;
  IOleObject* control = nullptr;  // a test may hand the site its reference
  // Close, SetClientSite(nullptr) and the site's last reference to control.
  void releaseControl();

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override;

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** m) override {
    if (m) *m = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** c) override {
    if (c) *c = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow, IOleInPlaceSite
  STDMETHODIMP GetWindow(HWND* hwnd) override {
    *hwnd = window;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override {
    ++inPlaceActivations;
    return S_OK;
  }
  STDMETHODIMP OnUIActivate() override {
    ++uiActivations;
    return S_OK;
  }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT p, LPRECT c,
                                LPOLEINPLACEFRAMEINFO info) override;
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override {
    ++inPlaceDeactivations;
    return S_OK;
  }
  STDMETHODIMP DiscardUndoState() override { return S_OK; }
  STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
  STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

  // IDispatch: the ambient properties
  STDMETHODIMP GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override;

 private:
  virtual ~TestSite() = default;
  LONG refs_ = 1;
};

}  // namespace tallowin::wintest
