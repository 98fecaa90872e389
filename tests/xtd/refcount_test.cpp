#include "xtd/refcount.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

struct Counted : xtd::IvRefCount_T<xtd::atomic_ref_count> {
  explicit Counted(int* destroyed) : destroyed_(destroyed) {}
  ~Counted() override { ++*destroyed_; }
  int* destroyed_;
};

// Overrides destroy to recycle instead of deleting.
struct Recycled : xtd::IvRefCount_T<xtd::atomic_ref_count> {
  void destroy() noexcept override { ++destroyCalls; }
  int destroyCalls = 0;
};

TEST(RefCountTest, StartsAtZeroAndTheDropToZeroDestroys) {
  int destroyed = 0;
  auto* c = new Counted(&destroyed);
  EXPECT_EQ(c->ref_count(), 0);
  xtd::add_ref(c);
  EXPECT_EQ(c->ref_count(), 1);
  xtd::drop_ref(c);
  EXPECT_EQ(destroyed, 1);
}

TEST(RefCountTest, WithTwoHoldersTheFirstDropLeavesItAlive) {
  int destroyed = 0;
  auto* c = new Counted(&destroyed);
  xtd::add_ref(c);
  xtd::add_ref(c);
  xtd::drop_ref(c);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(c->ref_count(), 1);
  xtd::drop_ref(c);
  EXPECT_EQ(destroyed, 1);
}

TEST(RefCountTest, NullObjectsAreIgnored) {
  Counted* none = nullptr;
  xtd::add_ref(none);
  xtd::drop_ref(none);
  xtd::ref_ptr<Counted> empty;
  empty.reset();
  EXPECT_FALSE(empty);
}

TEST(RefCountTest, DestroyIsTheVirtualSlotCalledOnTheLastDrop) {
  Recycled r;
  r.add_ref();
  r.add_ref();
  r.drop_ref();
  EXPECT_EQ(r.destroyCalls, 0);
  r.drop_ref();
  EXPECT_EQ(r.destroyCalls, 1);
  // A drop from zero is a previous value of 0, which also counts as the last.
  r.drop_ref();
  EXPECT_EQ(r.destroyCalls, 2);
}

TEST(RefCountTest, HolderAddsOnStoreDropsOnClearAndReplacesSafely) {
  int destroyed = 0;
  auto* a = new Counted(&destroyed);
  {
    xtd::ref_ptr<Counted> first(a);
    EXPECT_EQ(a->ref_count(), 1);
    xtd::ref_ptr<Counted> second = first;
    EXPECT_EQ(a->ref_count(), 2);
    xtd::ref_ptr<Counted> moved = std::move(second);
    EXPECT_EQ(a->ref_count(), 2);
    EXPECT_FALSE(second);
    // Replacing a pointer by itself must not destroy the object in between.
    moved.reset(a);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(a->ref_count(), 2);
    moved = first;
    EXPECT_EQ(a->ref_count(), 2);
    int destroyedB = 0;
    auto* b = new Counted(&destroyedB);
    moved.reset(b);
    EXPECT_EQ(a->ref_count(), 1);
    EXPECT_EQ(b->ref_count(), 1);
    moved.reset();
    EXPECT_EQ(destroyedB, 1);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(RefCountTest, ACopyOfACountedObjectStartsWithoutHolders) {
  int destroyed = 0;
  Counted original(&destroyed);
  original.add_ref();
  Counted copy(original);
  EXPECT_EQ(copy.ref_count(), 0);
  EXPECT_EQ(original.ref_count(), 1);
}

TEST(RefCountTest, ConcurrentHoldersDestroyExactlyOnce) {
  for (int round = 0; round < 50; ++round) {
    int destroyed = 0;
    auto* c = new Counted(&destroyed);
    xtd::ref_ptr<Counted> seed(c);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([held = seed]() mutable {
        for (int i = 0; i < 200; ++i) {
          xtd::ref_ptr<Counted> extra = held;
          extra.reset();
        }
      });
    }
    seed.reset();
    for (auto& t : threads) t.join();
    EXPECT_EQ(destroyed, 1);
  }
}

}  // namespace
