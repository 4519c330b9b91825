// The reference count of the module's COM objects, kept once for all of them.
// The object starts with the one reference its maker holds and deletes itself
// with the last; it answers QueryInterface itself.
#pragma once

#include "win32/win.h"

namespace tallowin::win32 {

template <typename... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG n = ::InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

 private:
  LONG refs_ = 1;
};

}  // namespace tallowin::win32
