// ComPtr<T>: owns one reference on a reference-counted object (anything with
// AddRef and Release), released when the pointer goes, is reset or is
// assigned over. Copies add a reference; moves hand it on. Put() gives the
// T** an out-parameter getter fills, releasing what was held first.
#pragma once

#include <utility>

namespace flvdmx {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a reference of its own on p.
  explicit ComPtr(T* p) : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.m_p) {}
  ComPtr(ComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }

  // Adopts a reference the caller already owns (no AddRef).
  static ComPtr Attach(T* p) {
    ComPtr result;
    result.m_p = p;
    return result;
  }
  // Hands the reference to the caller, who releases it.
  T* Detach() { return std::exchange(m_p, nullptr); }

  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  T** Put() {
    Reset();
    return &m_p;
  }
  void Swap(ComPtr& other) noexcept { std::swap(m_p, other.m_p); }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  explicit operator bool() const { return m_p != nullptr; }

 private:
  T* m_p = nullptr;
};

}  // namespace flvdmx
