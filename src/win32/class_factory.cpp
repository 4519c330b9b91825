// The class object of frmMain. Factories count as objects of the module, so
// that a container holding one never calls into an unloaded ocx.
#include "win32/activex_control.h"

#include <atomic>

#include "win32/com_object.h"
#include "win32/module.h"
#include "win32/tallowin_ids.h"

namespace tallowin::win32 {

namespace {

class ClassFactory final : public ComObject<IClassFactory> {
 public:
  explicit ClassFactory(UploadAction upload) : upload_(std::move(upload)) { ModuleAddRef(); }

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    return CreateFrmMainObject(outer, riid, out, upload_);
  }
  // An unlock without a lock is ignored: it must not cancel the hold of a
  // live object.
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ++serverLocks_;
      ModuleAddRef();
    } else {
      long n = serverLocks_.load();
      while (n > 0 && !serverLocks_.compare_exchange_weak(n, n - 1)) {
      }
      if (n > 0) ModuleRelease();
    }
    return S_OK;
  }

 private:
  ~ClassFactory() override { ModuleRelease(); }
  UploadAction upload_;
  static inline std::atomic<long> serverLocks_{0};
};

}  // namespace

HRESULT GetFrmMainClassObject(REFCLSID clsid, REFIID riid, void** out, UploadAction upload) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (clsid != kClsidFrmMain) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    auto* factory = new ClassFactory(std::move(upload));
    const HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace tallowin::win32
