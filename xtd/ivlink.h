#pragma once

#include <cstddef>

namespace xtd {

template <class T, int N>
class ivlist;

// Intrusive doubly linked list membership: a T derives from ivlink<T,N> and
// can then sit in one ivlist<T,N> without any allocation. N numbers the link
// so that a class can derive from several and sit in several lists at once.
//
// The links point at link bases, not at T: the list head is a bare link that
// is not part of any T, and it is never converted into one.
template <class T, int N = 0>
class ivlink {
 public:
  ivlink() noexcept = default;
  // A copy is a new object and belongs to no list.
  ivlink(const ivlink&) noexcept {}
  ivlink& operator=(const ivlink&) noexcept { return *this; }
  ~ivlink() = default;

  bool is_linked() const noexcept { return next_ != nullptr; }
  const ivlink* link_next() const noexcept { return next_; }
  const ivlink* link_prev() const noexcept { return prev_; }

 private:
  friend class ivlist<T, N>;
  ivlink* next_ = nullptr;
  ivlink* prev_ = nullptr;
};

// A circular list with a sentinel head. It keeps no count and owns nothing:
// destroying it leaves its elements as they are, and destroying an element
// does not unlink it. The list is not synchronised; its holder's lock guards it.
template <class T, int N = 0>
class ivlist {
 public:
  using link_type = ivlink<T, N>;

  ivlist() noexcept { init(); }
  ivlist(const ivlist&) = delete;
  ivlist& operator=(const ivlist&) = delete;

  // Makes the list empty again without touching the elements it held.
  void init() noexcept { head_.next_ = head_.prev_ = &head_; }
  bool empty() const noexcept { return head_.next_ == &head_; }

  link_type* sentinel() noexcept { return &head_; }
  const link_type* sentinel() const noexcept { return &head_; }
  // The first and last links; the sentinel itself when the list is empty.
  link_type* first_link() noexcept { return head_.next_; }
  link_type* last_link() noexcept { return head_.prev_; }

  T* front() noexcept { return empty() ? nullptr : element(head_.next_); }
  T* back() noexcept { return empty() ? nullptr : element(head_.prev_); }
  // The element after `e`, or null at the end of this list.
  T* next(T* e) noexcept {
    link_type* n = link(e)->next_;
    return n == &head_ ? nullptr : element(n);
  }

  static link_type* link(T* e) noexcept { return e; }
  // Only for links of real elements, never for a sentinel.
  static T* element(link_type* l) noexcept { return static_cast<T*>(l); }

  // Links `e` in front of `position`, an element or a sentinel; in front of
  // the sentinel means at the end of that list. `e` must be in no list.
  static void insert_before(link_type* position, link_type* e) noexcept {
    e->prev_ = position->prev_;
    e->next_ = position;
    position->prev_->next_ = e;
    position->prev_ = e;
  }
  void push_back(T* e) noexcept { insert_before(&head_, e); }
  void push_front(T* e) noexcept { insert_before(head_.next_, e); }

  // Takes `e` out of whatever list holds it and marks it as in none.
  static void unlink(link_type* e) noexcept {
    e->prev_->next_ = e->next_;
    e->next_->prev_ = e->prev_;
    e->next_ = e->prev_ = nullptr;
  }
  T* pop_front() noexcept {
    if (empty()) return nullptr;
    link_type* l = head_.next_;
    unlink(l);
    return element(l);
  }

  // Moves every element of `source`, in order, in front of `position` (in
  // another list) and leaves `source` empty.
  static void splice(ivlist& source, link_type* position) noexcept {
    if (source.empty()) return;
    link_type* first = source.head_.next_;
    link_type* last = source.head_.prev_;
    first->prev_ = position->prev_;
    position->prev_->next_ = first;
    last->next_ = position;
    position->prev_ = last;
    source.init();
  }
  void splice_back(ivlist& source) noexcept { splice(source, &head_); }

  // Linear; for diagnostics and tests.
  std::size_t count() const noexcept {
    std::size_t n = 0;
    for (const link_type* l = head_.next_; l != &head_; l = l->next_) ++n;
    return n;
  }
  bool contains(const T* e) const noexcept {
    const link_type* target = e;
    for (const link_type* l = head_.next_; l != &head_; l = l->next_)
      if (l == target) return true;
    return false;
  }

 private:
  link_type head_;
};

}  // namespace xtd
