#include "xtd/memchunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

namespace {

TEST(MemchunkTest, FastChunkOffersAtLeastTheRequestAndStartsEmpty) {
  for (std::size_t n : {std::size_t{1}, std::size_t{7}, std::size_t{256}, std::size_t{932}, std::size_t{4096}}) {
    xtd::memchunk* c = xtd::detail::new_fast_chunk(n);
    ASSERT_NE(c, nullptr);
    EXPECT_GE(c->size(), n);
    EXPECT_LT(c->size(), n + 8) << "the block is only rounded up to a multiple of 8";
    EXPECT_EQ(c->rd, c->begin);
    EXPECT_EQ(c->wr, c->begin);
    EXPECT_EQ(c->next, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c->begin) % 8, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(c->end) % 8, 0u) << "storage must reach the end of the block";
    // Every byte up to end belongs to the block (the sanitizer checks this).
    std::memset(c->begin, 0x5A, c->size());
    c->release();
  }
}

TEST(MemchunkTest, FastChunkRefusesRequestsBeyondThirtyTwoBits) {
  if (sizeof(std::size_t) <= 4) GTEST_SKIP() << "size_t cannot express the request";
  EXPECT_THROW(xtd::detail::new_fast_chunk(std::size_t{0xFFFFFFFFu} + 1), std::bad_alloc);
  EXPECT_THROW(xtd::detail::new_fast_chunk(std::size_t{0xFFFFFFFFu}), std::bad_alloc);
}

TEST(MemchunkTest, VarChunkCoversForeignStorageAndReleaseLeavesItAlone) {
  char storage[32];
  std::memset(storage, 'q', sizeof storage);
  xtd::memchunk_var chunk;
  chunk.next = &chunk;
  chunk.set(storage, sizeof storage);
  EXPECT_EQ(chunk.next, nullptr);
  EXPECT_EQ(chunk.begin, storage);
  EXPECT_EQ(chunk.rd, storage);
  EXPECT_EQ(chunk.wr, storage);
  EXPECT_EQ(chunk.end, storage + 32);
  EXPECT_EQ(chunk.room(), 32u);
  chunk.wr += 5;
  EXPECT_EQ(chunk.held(), 5u);
  chunk.release();
  EXPECT_EQ(storage[0], 'q');
  EXPECT_EQ(chunk.held(), 5u);
}

}  // namespace
