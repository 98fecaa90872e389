#include "xtd/ivslink.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item : xtd::ivslink<Item, 0>, xtd::ivslink<Item, 1> {
  explicit Item(int v) : value(v) {}
  int value;
};

using Ring0 = xtd::ivslink_ring<Item, 0>;
using Ring1 = xtd::ivslink_ring<Item, 1>;

Item* next0(Item* i) { return static_cast<xtd::ivslink<Item, 0>*>(i)->next; }

// Walks the ring from its head and checks that it closes on itself.
std::vector<int> values(const Ring0& ring) {
  std::vector<int> out;
  if (ring.empty()) return out;
  Item* i = ring.head();
  for (std::uint32_t n = 0; n < ring.count; ++n, i = next0(i)) out.push_back(i->value);
  EXPECT_EQ(i, ring.head()) << "ring does not close after count elements";
  return out;
}

TEST(IvslinkRingTest, PushBackKeepsInsertionOrderAndPopRemovesTheOldest) {
  Item a(1), b(2), c(3);
  Ring0 ring;
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.count, 0u);
  ring.push_back(&a);
  EXPECT_EQ(ring.count, 1u);
  EXPECT_EQ(next0(&a), &a) << "a single element links to itself";
  ring.push_back(&b);
  EXPECT_EQ(ring.count, 2u);
  ring.push_back(&c);
  EXPECT_EQ(ring.count, 3u);
  EXPECT_EQ(ring.tail, &c);
  EXPECT_EQ(ring.head(), &a);
  EXPECT_EQ(values(ring), (std::vector<int>{1, 2, 3}));

  EXPECT_EQ(ring.pop_front(), &a);
  EXPECT_EQ(ring.count, 2u);
  EXPECT_EQ(next0(&a), nullptr) << "a removed element carries no link";
  EXPECT_EQ(values(ring), (std::vector<int>{2, 3}));
}

TEST(IvslinkRingTest, PoppingTheLastElementEmptiesTheRing) {
  Item a(1);
  Ring0 ring;
  EXPECT_EQ(ring.pop_front(), nullptr);
  ring.push_back(&a);
  EXPECT_EQ(ring.pop_front(), &a);
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.tail, nullptr);
  EXPECT_EQ(ring.count, 0u);
  EXPECT_EQ(ring.pop_front(), nullptr);
  // The element can join again after it left.
  ring.push_back(&a);
  EXPECT_EQ(values(ring), (std::vector<int>{1}));
}

TEST(IvslinkRingTest, ReleaseAllDisposesFromTheHeadAfterEachElementLeft) {
  Item a(1), b(2), c(3);
  Ring0 ring;
  ring.push_back(&a);
  ring.push_back(&b);
  ring.push_back(&c);
  std::vector<int> disposed;
  ring.release_all([&](Item* i) {
    EXPECT_EQ(next0(i), nullptr);
    disposed.push_back(i->value);
  });
  EXPECT_EQ(disposed, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.count, 0u);
}

TEST(IvslinkRingTest, DetachMovesTheWholeRingAndEmptiesTheSource) {
  Item a(1), b(2);
  Ring0 ring;
  ring.push_back(&a);
  ring.push_back(&b);
  Ring0 moved = ring.detach();
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.count, 0u);
  EXPECT_EQ(moved.count, 2u);
  EXPECT_EQ(values(moved), (std::vector<int>{1, 2}));
  Ring0 none = ring.detach();
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(none.count, 0u);
}

TEST(IvslinkRingTest, LinksWithDifferentNumbersAreIndependentRings) {
  Item a(1), b(2);
  Ring0 first;
  Ring1 second;
  first.push_back(&a);
  first.push_back(&b);
  second.push_back(&b);
  second.push_back(&a);
  EXPECT_EQ(values(first), (std::vector<int>{1, 2}));
  EXPECT_EQ(second.head(), &b);
  EXPECT_EQ(second.pop_front(), &b);
  EXPECT_EQ(values(first), (std::vector<int>{1, 2})) << "popping from one ring changed the other";
}

}  // namespace
