#include "app/archive_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/alloc_faults.h"

namespace {

xtd::wstrview view(const std::u16string& s) { return xtd::wstrview(s.data(), static_cast<std::uint32_t>(s.size())); }

std::u16string text(const xtd::dwstring& s) { return std::u16string(s.data(), s.length()); }

std::u16string digits(std::uint64_t n) {
  std::u16string units;
  for (char c : std::to_string(n)) units.push_back(static_cast<char16_t>(c));
  return units;
}

std::vector<std::u16string> takeAll(ArchiveList& list) {
  std::vector<std::u16string> paths;
  ArchiveList::Taken taken;
  while (list.take(taken)) paths.push_back(text(taken.path));
  return paths;
}

std::vector<std::u16string> leftoversOf(const ArchiveList::Taken& taken) {
  std::vector<std::u16string> paths;
  if (taken.leftovers) {
    for (const xtd::dwstring& p : *taken.leftovers) paths.push_back(text(p));
  }
  return paths;
}

TEST(ArchiveListTest, ArchivesComeOutInDiscoveryOrderAcrossDirectoriesAndBack) {
  ArchiveList list;
  list.enterDirectory(view(u"/r/"));
  list.addArchive(view(u"a.avd"));
  list.enterDirectory(view(u"/r/s/"));
  list.addArchive(view(u"b.avd"));
  list.enterDirectory(view(u"/r/s/t/"));
  list.enterDirectory(view(u"/r/s/"));  // a subdirectory without archives
  list.addArchive(view(u"c.avd"));
  list.enterDirectory(view(u"/r/"));
  list.addArchive(view(u"d.avd"));
  list.addArchive(view(u"e.avd"));
  list.enterDirectory(view(u"/q/"));
  list.addArchive(view(u"f.avd"));
  list.enterDirectory(view(u"/r/"));  // not below /q/: a directory of its own again
  list.addArchive(view(u"g.avd"));
  EXPECT_EQ(list.count(), 7u);

  const std::vector<std::u16string> expected = {u"/r/a.avd", u"/r/s/b.avd", u"/r/s/c.avd", u"/r/d.avd",
                                                u"/r/e.avd", u"/q/f.avd",   u"/r/g.avd"};
  EXPECT_EQ(takeAll(list), expected);
  ArchiveList::Taken after;
  EXPECT_FALSE(list.take(after));
  EXPECT_EQ(list.bytesHeld(), 0u);
}

TEST(ArchiveListTest, AnyNameComesBackUnitForUnit) {
  const std::vector<std::u16string> names = {
      u"2026-12-09_12-00-00.avd",
      std::u16string(u"\x7f") + u"last one-byte unit.avd",
      u"caf\u00e9.avd",                               // below 0x100, still two bytes a unit
      u"\u5f55\u50cf.avd",
      u"\U0001F3A5 camera.avd",                       // a surrogate pair
      std::u16string(1, char16_t(0xD83C)) + u".avd",  // a high surrogate alone
      std::u16string(u"x") + char16_t(0xDC00),        // a low surrogate alone
      std::u16string(1, char16_t(0)) + u"nul",
      std::u16string(31, u'a'),  // the longest length in the first byte
      std::u16string(32, u'b'),
      std::u16string(4095, u'c'),
      std::u16string(4096, u'd'),
      std::u16string(200'000, u'e'),  // longer than a block
      std::u16string(70'000, u'\u00e9'),
      u"",
  };
  const std::u16string wideDirectory = u"/rec/\u00e9t\u00e9/";
  ArchiveList list;
  std::vector<std::u16string> expected;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::u16string directory = i % 2 ? wideDirectory : u"/rec/";
    list.enterDirectory(view(directory));
    list.addArchive(view(names[i]));
    expected.push_back(directory + names[i]);
  }
  EXPECT_EQ(takeAll(list), expected);
}

TEST(ArchiveListTest, LeftoversGoWithTheArchivesOfTheirDirectoryOnly) {
  ArchiveList list;
  list.enterDirectory(view(u"/r/"));
  list.addArchive(view(u"a.avd"));
  list.addLeftover(view(u"a.flv.tmp"));
  list.enterDirectory(view(u"/r/s/"));
  list.addArchive(view(u"b.avd"));
  list.enterDirectory(view(u"/r/s/t/"));
  list.addLeftover(view(u"only.tmp"));  // a directory without archives
  list.enterDirectory(view(u"/r/"));
  list.addLeftover(view(u"z.avi.tmp"));
  list.addArchive(view(u"z.avd"));
  list.enterDirectory(view(u"/q/"));
  list.addArchive(view(u"q.avd"));

  const std::vector<std::u16string> ofR = {u"/r/a.flv.tmp", u"/r/z.avi.tmp"};
  ArchiveList::Taken a, b, z, q;
  ASSERT_TRUE(list.take(a));
  EXPECT_EQ(leftoversOf(a), ofR);
  ASSERT_TRUE(list.take(b));
  EXPECT_EQ(b.leftovers, nullptr);

  // The list lets go of a directory's leftovers with its last archive.
  const std::weak_ptr<const std::vector<xtd::dwstring>> held = a.leftovers;
  a.leftovers.reset();
  EXPECT_FALSE(held.expired());
  ASSERT_TRUE(list.take(z));
  EXPECT_EQ(text(z.path), u"/r/z.avd");
  EXPECT_EQ(leftoversOf(z), ofR);
  z.leftovers.reset();
  EXPECT_TRUE(held.expired());

  ASSERT_TRUE(list.take(q));
  EXPECT_EQ(q.leftovers, nullptr);
}

TEST(ArchiveListTest, DroppingTheRestCountsWhatWasNotTaken) {
  ArchiveList empty;
  EXPECT_EQ(empty.dropRemaining(), 0u);

  ArchiveList list;
  for (const char16_t* directory : {u"/a/", u"/b/"}) {
    list.enterDirectory(view(directory));
    list.addLeftover(view(u"x.tmp"));
    for (const char16_t* name : {u"1.avd", u"2.avd", u"3.avd"}) list.addArchive(view(name));
  }
  ArchiveList::Taken taken;
  ASSERT_TRUE(list.take(taken));
  ASSERT_TRUE(list.take(taken));
  EXPECT_EQ(list.dropRemaining(), 4u);
  EXPECT_FALSE(list.take(taken));
  EXPECT_EQ(list.dropRemaining(), 0u);
  EXPECT_EQ(list.bytesHeld(), 0u);
  EXPECT_EQ(list.count(), 6u);
}

// Takes the next archive into `out` while its allocations fail one after
// the other; each failure must leave `out` as it was and the archive next
// in line. Returns how many allocations failed.
int takeThroughFailures(ArchiveList& list, ArchiveList::Taken& out) {
  const std::u16string pathBefore = text(out.path);
  const auto leftoversBefore = out.leftovers;
  int failures = 0;
  for (long n = 1;; ++n) {
    avdtest::failAllocationAt(n);
    try {
      const bool took = list.take(out);
      avdtest::disarmAllocationFailure();
      EXPECT_TRUE(took);
      return failures;
    } catch (const std::bad_alloc&) {
      avdtest::disarmAllocationFailure();
      ++failures;
      EXPECT_EQ(text(out.path), pathBefore);
      EXPECT_EQ(out.leftovers, leftoversBefore);
    }
  }
}

TEST(ArchiveListTest, TakingAllocatesThePathOnlyAndSurvivesItsFailure) {
  ArchiveList list;
  list.enterDirectory(view(u"/rec/cam1/"));
  list.addLeftover(view(u"old.tmp"));
  list.addArchive(view(u"first.avd"));
  list.addArchive(view(u"a name much longer than the first.avd"));
  list.addArchive(view(u"third.avd"));

  ArchiveList::Taken taken;
  const int intoEmpty = takeThroughFailures(list, taken);
  EXPECT_EQ(text(taken.path), u"/rec/cam1/first.avd");
  EXPECT_EQ(leftoversOf(taken), std::vector<std::u16string>{u"/rec/cam1/old.tmp"});
  const int growing = takeThroughFailures(list, taken);
  EXPECT_EQ(text(taken.path), u"/rec/cam1/a name much longer than the first.avd");
#ifdef AVD_WRAP_MALLOC
  // Where the seam sees the strings' blocks, the path is the one allocation.
  EXPECT_EQ(intoEmpty, 1);
  EXPECT_EQ(growing, 1);
#else
  (void)intoEmpty;
  (void)growing;
#endif

  // A caller's string with room enough is filled in place.
  const long before = avdtest::allocationCount();
  ASSERT_TRUE(list.take(taken));
  EXPECT_EQ(avdtest::allocationCount(), before);
  EXPECT_EQ(text(taken.path), u"/rec/cam1/third.avd");
}

bool isSubsequence(const std::vector<std::u16string>& part, const std::vector<std::u16string>& whole) {
  auto next = whole.begin();
  for (const std::u16string& p : part) {
    next = std::find(next, whole.end(), p);
    if (next == whole.end()) return false;
    ++next;
  }
  return true;
}

TEST(ArchiveListTest, ConcurrentTakersGetEveryArchiveOnceInOrder) {
  constexpr int kDirectories = 40;
  constexpr int kPerDirectory = 500;
  ArchiveList list;
  std::vector<std::u16string> expected;
  for (int d = 0; d < kDirectories; ++d) {
    const std::u16string directory = u"/rec/" + digits(10 + d) + u"/";
    list.enterDirectory(view(directory));
    if (d % 3 == 0) list.addLeftover(view(u"left.tmp"));
    for (int i = 0; i < kPerDirectory; ++i) {
      const std::u16string name = digits(100000 + i) + (d % 2 ? u"\u00e9.avd" : u".avd");
      list.addArchive(view(name));
      expected.push_back(directory + name);
    }
  }

  struct Seen {
    std::vector<std::u16string> paths;
    int strayLeftovers = 0;
  };
  Seen seen[2];
  auto taker = [&list](Seen& into) {
    ArchiveList::Taken taken;
    while (list.take(taken)) {
      std::u16string path = text(taken.path);
      const std::u16string directory = path.substr(0, path.rfind(u'/') + 1);
      if (taken.leftovers && text(taken.leftovers->front()) != directory + u"left.tmp") ++into.strayLeftovers;
      into.paths.push_back(std::move(path));
    }
  };
  std::thread first(taker, std::ref(seen[0]));
  std::thread second(taker, std::ref(seen[1]));
  first.join();
  second.join();

  // Each taker sees discovery order; together they saw everything once.
  std::vector<std::u16string> all;
  for (const Seen& one : seen) {
    EXPECT_EQ(one.strayLeftovers, 0);
    EXPECT_TRUE(isSubsequence(one.paths, expected));
    all.insert(all.end(), one.paths.begin(), one.paths.end());
  }
  std::sort(all.begin(), all.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(all, expected);
  EXPECT_EQ(list.bytesHeld(), 0u);
}

// What the list may hold for archives with names of one length spread evenly
// over directories with paths of one length: each name and two bytes, each
// directory's path once with a record of its own, and the unfilled room of
// as many blocks as are partly used.
std::size_t allowance(std::uint64_t archives, std::size_t nameLength, std::uint64_t directories,
                      std::size_t pathLength, int partBlocks) {
  constexpr std::size_t kDirectoryRecord = 128;
  return archives * (nameLength + 2) + directories * (pathLength * sizeof(char16_t) + kDirectoryRecord) +
         partBlocks * ArchiveList::kBlockBytes;
}

TEST(ArchiveListTest, AMillionArchivesFitTheirBoundAndTheListShrinksAsTheyAreTaken) {
  constexpr std::uint64_t kArchives = 1'000'000;
  constexpr std::uint64_t kDirectories = 2'000;
  const std::u16string name = u"2026-12-09_12-00-00.avd";
  const std::u16string directoryStem = u"/srv/recordings/site-07/camera-";
  const std::size_t pathLength = directoryStem.size() + 5;

  ArchiveList list;
  for (std::uint64_t d = 0; d < kDirectories; ++d) {
    const std::u16string directory = directoryStem + digits(1000 + d) + u"/";
    ASSERT_EQ(directory.size(), pathLength);
    list.enterDirectory(view(directory));
    for (std::uint64_t i = 0; i < kArchives / kDirectories; ++i) list.addArchive(view(name));
  }
  ASSERT_EQ(list.count(), kArchives);

  const std::size_t full = list.bytesHeld();
  RecordProperty("bytes_held", std::to_string(full));
  EXPECT_GE(full, kArchives * name.size());
  EXPECT_LE(full, allowance(kArchives, name.size(), kDirectories, pathLength, 1));
  EXPECT_LT(allowance(kArchives, name.size(), kDirectories, pathLength, 1), std::size_t{32} << 20);

  ArchiveList::Taken taken;
  for (std::uint64_t i = 0; i < kArchives / 2; ++i) ASSERT_TRUE(list.take(taken));
  EXPECT_EQ(text(taken.path), directoryStem + u"1999/" + name);
  const std::size_t half = list.bytesHeld();
  EXPECT_LE(half, allowance(kArchives / 2, name.size(), kDirectories / 2, pathLength, 2));
  EXPECT_LT(half, full);

  EXPECT_EQ(list.dropRemaining(), kArchives / 2);
  EXPECT_EQ(list.bytesHeld(), 0u);
}

}  // namespace
