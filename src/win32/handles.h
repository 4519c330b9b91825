// Release on every path: the owners of the system's handles and of COM
// interface pointers. Every file takes its owners from here.
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
inline void RegCloseKeyFn(HKEY k) { ::RegCloseKey(k); }
inline void DestroyAcceleratorTableFn(HACCEL a) { ::DestroyAcceleratorTable(a); }
inline void LocalFreeFn(void* p) { ::LocalFree(p); }
inline void WinHttpCloseHandleFn(HINTERNET h) { ::WinHttpCloseHandle(h); }

using UniqueHandle = Owned<HANDLE, CloseHandleFn>;
using UniqueLibrary = Owned<HMODULE, FreeLibraryFn>;
using UniqueDc = Owned<HDC, DeleteDcFn>;
using UniqueKey = Owned<HKEY, RegCloseKeyFn>;
using UniqueFont = Owned<HFONT, DeleteObjectFn>;
using UniqueRegion = Owned<HRGN, DeleteObjectFn>;
using UniqueAccelerators = Owned<HACCEL, DestroyAcceleratorTableFn>;
// Memory the system allocated with LocalAlloc for the caller.
template <typename T>
using LocalMemory = Owned<T, LocalFreeFn>;
using UniqueInternet = Owned<HINTERNET, WinHttpCloseHandleFn>;

// A window's display context from GetDC, given back to that window.
class WindowDc {
 public:
  explicit WindowDc(HWND w) : w_(w), dc_(::GetDC(w)) {}
  ~WindowDc() {
    if (dc_) ::ReleaseDC(w_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HWND w_;
  HDC dc_;
};

// A COM interface pointer that holds one reference. The pointer is cleared
// before Release, so that a Release re-entering its owner finds it empty.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Adopts a reference the caller already holds.
  explicit ComPtr(T* p) : p_(p) {}
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr& operator=(const ComPtr& o) {
    if (this != &o) {
      if (o.p_) o.p_->AddRef();
      reset(o.p_);
    }
    return *this;
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& o) noexcept {
    if (this != &o) reset(std::exchange(o.p_, nullptr));
    return *this;
  }
  // Takes a new reference of p (the caller keeps its own).
  static ComPtr Retain(T* p) {
    if (p) p->AddRef();
    return ComPtr(p);
  }
  // Drops the reference held (adopting p instead).
  void reset(T* p = nullptr) {
    if (T* old = std::exchange(p_, p)) old->Release();
  }
  // For the out parameter of a call that returns a new reference.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Hands the reference to the caller.
  T* detach() { return std::exchange(p_, nullptr); }
  template <typename U>
  HRESULT as(REFIID iid, ComPtr<U>& out) const {
    return p_ ? p_->QueryInterface(iid, out.putVoid()) : E_POINTER;
  }

 private:
  T* p_ = nullptr;
};

// OLE for the calling thread, for as long as the scope lasts.
struct OleScope {
  HRESULT hr = ::OleInitialize(nullptr);
  OleScope() = default;
  OleScope(const OleScope&) = delete;
  OleScope& operator=(const OleScope&) = delete;
  ~OleScope() {
    if (SUCCEEDED(hr)) ::OleUninitialize();
  }
};

}  // namespace tallowin::win32
