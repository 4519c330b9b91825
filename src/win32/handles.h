// Release on every path: one small template for the system's handles.
#pragma once

#include "win32/win.h"

#include <utility>

namespace tallowin::win32 {

template <typename T, auto Close, T Invalid = T{}>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T h) : h_(h) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& o) noexcept : h_(std::exchange(o.h_, Invalid)) {}
  Owned& operator=(Owned&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, Invalid);
    }
    return *this;
  }
  void reset(T h = Invalid) {
    if (h_ != Invalid) Close(h_);
    h_ = h;
  }
  T get() const { return h_; }
  T release() { return std::exchange(h_, Invalid); }
  explicit operator bool() const { return h_ != Invalid; }

 private:
  T h_ = Invalid;
};

inline void CloseHandleFn(HANDLE h) { ::CloseHandle(h); }
inline void FreeLibraryFn(HMODULE m) { ::FreeLibrary(m); }
inline void DeleteDcFn(HDC dc) { ::DeleteDC(dc); }
inline void DeleteObjectFn(HGDIOBJ o) { ::DeleteObject(o); }

using UniqueHandle = Owned<HANDLE, CloseHandleFn>;
using UniqueLibrary = Owned<HMODULE, FreeLibraryFn>;
using UniqueDc = Owned<HDC, DeleteDcFn>;

}  // namespace tallowin::win32
