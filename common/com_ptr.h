// A counted COM reference and a BSTR owner.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <utility>

namespace common {

template <typename T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  com_ptr(std::nullptr_t) noexcept {}
  explicit com_ptr(T* p, bool add_ref = true) noexcept : p_(p) {
    if (p_ && add_ref) p_->AddRef();
  }
  com_ptr(const com_ptr& o) noexcept : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  com_ptr(com_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~com_ptr() { reset(); }
  com_ptr& operator=(const com_ptr& o) noexcept {
    com_ptr(o).swap(*this);
    return *this;
  }
  com_ptr& operator=(com_ptr&& o) noexcept {
    com_ptr(std::move(o)).swap(*this);
    return *this;
  }
  com_ptr& operator=(std::nullptr_t) noexcept {
    reset();
    return *this;
  }
  void swap(com_ptr& o) noexcept { std::swap(p_, o.p_); }
  // Releases the held reference; the pointer is cleared before Release so that
  // re-entrant code never sees an object on its way out.
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  template <typename U>
  com_ptr<U> query(REFIID iid) const noexcept {
    com_ptr<U> r;
    if (p_) p_->QueryInterface(iid, r.put_void());
    return r;
  }

 private:
  T* p_ = nullptr;
};

class unique_bstr {
 public:
  unique_bstr() noexcept = default;
  explicit unique_bstr(const wchar_t* s) : b_(SysAllocString(s)) {}
  unique_bstr(const wchar_t* s, UINT n) : b_(SysAllocStringLen(s, n)) {}
  unique_bstr(const unique_bstr&) = delete;
  unique_bstr& operator=(const unique_bstr&) = delete;
  unique_bstr(unique_bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  unique_bstr& operator=(unique_bstr&& o) noexcept {
    if (this != &o) {
      SysFreeString(b_);
      b_ = std::exchange(o.b_, nullptr);
    }
    return *this;
  }
  ~unique_bstr() { SysFreeString(b_); }
  BSTR get() const noexcept { return b_; }
  BSTR* put() noexcept {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  BSTR detach() noexcept { return std::exchange(b_, nullptr); }
  UINT length() const noexcept { return SysStringLen(b_); }

 private:
  BSTR b_ = nullptr;
};

class unique_variant {
 public:
  unique_variant() noexcept { VariantInit(&v_); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { VariantClear(&v_); }
  VARIANT* get() noexcept { return &v_; }
  const VARIANT* get() const noexcept { return &v_; }
  VARIANT* put() noexcept {
    VariantClear(&v_);
    return &v_;
  }

 private:
  VARIANT v_;
};

}  // namespace common
