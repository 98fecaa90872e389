#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace xtd {

// Counting policy: every change of the count is one interlocked add that
// returns the previous value.
struct atomic_ref_count {
  using counter_type = std::atomic<std::int32_t>;
  static std::int32_t add(counter_type& count, std::int32_t delta) noexcept {
    // acq_rel so that the thread that destroys the object sees every write
    // made by the holders that dropped their references before it.
    return count.fetch_add(delta, std::memory_order_acq_rel);
  }
  static std::int32_t get(const counter_type& count) noexcept { return count.load(std::memory_order_relaxed); }
};

// An intrusive reference count. An object starts at 0; its creator adds the
// first reference for the holder that keeps it, and whoever drops the last
// reference destroys it.
template <class Policy>
class IvRefCount_T {
 public:
  virtual ~IvRefCount_T() = default;

  // Called when the last reference goes.
  virtual void destroy() noexcept { delete this; }

  std::int32_t ref_count() const noexcept { return Policy::get(count_); }

  void add_ref() noexcept { Policy::add(count_, 1); }
  void drop_ref() noexcept {
    // Testing the previous value lets exactly one holder see the last drop.
    if (Policy::add(count_, -1) <= 1) destroy();
  }

 protected:
  IvRefCount_T() noexcept = default;
  // A copy is a new object with no holders.
  IvRefCount_T(const IvRefCount_T&) noexcept {}
  IvRefCount_T& operator=(const IvRefCount_T&) noexcept { return *this; }

 private:
  typename Policy::counter_type count_{0};
};

// Adds or drops a reference; a null object is ignored.
template <class Policy>
void add_ref(IvRefCount_T<Policy>* object) noexcept {
  if (object) object->add_ref();
}
template <class Policy>
void drop_ref(IvRefCount_T<Policy>* object) noexcept {
  if (object) object->drop_ref();
}

// A holder that owns one reference to a counted T.
template <class T>
class ref_ptr {
 public:
  ref_ptr() noexcept = default;
  explicit ref_ptr(T* p) noexcept : p_(p) { add_ref(p_); }
  ref_ptr(const ref_ptr& other) noexcept : p_(other.p_) { add_ref(p_); }
  ref_ptr(ref_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
  ref_ptr(ref_ptr<U>&& other) noexcept : p_(other.detach()) {}
  ~ref_ptr() { drop_ref(p_); }

  ref_ptr& operator=(const ref_ptr& other) noexcept {
    reset(other.p_);
    return *this;
  }
  ref_ptr& operator=(ref_ptr&& other) noexcept {
    T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
    drop_ref(old);
    return *this;
  }

  // Holds `p` instead: the new reference is added before the old one is
  // dropped, so replacing an object by itself is safe.
  void reset(T* p = nullptr) noexcept {
    add_ref(p);
    T* old = std::exchange(p_, p);
    drop_ref(old);
  }
  // Gives up the held reference without dropping it.
  T* detach() noexcept { return std::exchange(p_, nullptr); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace xtd
