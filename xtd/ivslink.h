#pragma once

#include <cstdint>

namespace xtd {

// A link that makes a T a member of one circular singly linked ring. N
// numbers the link so that one class can sit in several rings at once.
template <class T, int N = 0>
struct ivslink {
  T* next = nullptr;
};

// A ring of T addressed by its tail: tail->next is the head (the oldest
// element), the last element's next is the head again. Membership
// allocates nothing; the ring's holder decides who disposes of elements.
template <class T, int N = 0>
struct ivslink_ring {
  std::uint32_t count = 0;
  T* tail = nullptr;

  static ivslink<T, N>& link(T* element) noexcept { return *element; }

  bool empty() const noexcept { return tail == nullptr; }

  // Only meaningful on a non-empty ring.
  T* head() const noexcept { return link(tail).next; }

  void push_back(T* element) noexcept {
    if (tail) {
      link(element).next = link(tail).next;
      link(tail).next = element;
    } else {
      link(element).next = element;
    }
    tail = element;
    ++count;
  }

  // Removes and returns the head, or none when the ring is empty. The caller
  // disposes of the element.
  T* pop_front() noexcept {
    if (!tail) return nullptr;
    T* first = link(tail).next;
    if (first == tail) {
      tail = nullptr;
    } else {
      link(tail).next = link(first).next;
    }
    link(first).next = nullptr;
    --count;
    return first;
  }

  // Pops from the head until the ring is empty, handing each element to
  // `dispose` after it has left the ring.
  template <class Dispose>
  void release_all(Dispose dispose) {
    while (T* element = pop_front()) dispose(element);
  }

  // Moves the whole ring into a new holder and leaves this one empty.
  ivslink_ring detach() noexcept {
    ivslink_ring moved = *this;
    count = 0;
    tail = nullptr;
    return moved;
  }
};

}  // namespace xtd
