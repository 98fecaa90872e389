#include "app/archive_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
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
    std::transform(taken.leftovers->begin(), taken.leftovers->end(), std::back_inserter(paths), text);
  }
  return paths;
}

// One step of a scan: 'D' enters a directory, 'A' adds an archive, 'L' a leftover.
struct Step {
  char what;
  std::u16string text;
};

void scan(ArchiveList& list, const std::vector<Step>& steps) {
  for (const Step& s : steps) {
    if (s.what == 'D') list.enterDirectory(view(s.text));
    if (s.what == 'A') list.addArchive(view(s.text));
    if (s.what == 'L') list.addLeftover(view(s.text));
  }
}

// A depth-first walk that comes back to /r/ from below it.
const std::vector<Step> kWalk = {
    {'D', u"/r/"},     {'A', u"a.avd"},    {'L', u"a.flv.tmp"}, {'D', u"/r/s/"},     {'A', u"b.avd"},
    {'D', u"/r/s/t/"}, {'L', u"only.tmp"},  // a directory without archives
    {'D', u"/r/s/"},   {'A', u"c.avd"},    {'D', u"/r/"},       {'L', u"d.avi.tmp"}, {'A', u"d.avd"},
    {'D', u"/q/"},     {'A', u"q.avd"},
};

// Archives come out in discovery order, each with its own directory's
// leftovers, and the rest is dropped and counted.
TEST(ArchiveListTest, AWalkComesOutInOrderWithEachDirectorysLeftovers) {
  ArchiveList list;
  scan(list, kWalk);
  EXPECT_EQ(list.count(), 5u);
  const std::vector<std::u16string> ofR = {u"/r/a.flv.tmp", u"/r/d.avi.tmp"};
  const struct {
    std::u16string path;
    std::vector<std::u16string> leftovers;
  } expected[] = {{u"/r/a.avd", ofR}, {u"/r/s/b.avd", {}}, {u"/r/s/c.avd", {}}, {u"/r/d.avd", ofR}};
  std::weak_ptr<const std::vector<xtd::dwstring>> held;
  for (const auto& e : expected) {
    ArchiveList::Taken taken;
    ASSERT_TRUE(list.take(taken));
    EXPECT_EQ(text(taken.path), e.path);
    EXPECT_EQ(leftoversOf(taken), e.leftovers);
    if (taken.leftovers) held = taken.leftovers;
    // The list keeps a directory's leftovers until its last archive.
    EXPECT_TRUE(!e.leftovers.empty() || !held.expired());
  }
  EXPECT_TRUE(held.expired());
  EXPECT_EQ(list.dropRemaining(), 1u);
  ArchiveList::Taken after;
  EXPECT_FALSE(list.take(after));
  EXPECT_EQ(list.bytesHeld(), 0u);
}

TEST(ArchiveListTest, AnyNameComesBackUnitForUnit) {
  const std::u16string high(1, char16_t(0xD83C)), low(1, char16_t(0xDC00)), nul(1, u'\0');
  const std::vector<std::u16string> names = {
      u"2026-12-09_12-00-00.avd", u"\x7f.avd", u"caf\u00e9.avd", u"\u5f55\u50cf.avd",
      u"\U0001F3A5.avd",  // a surrogate pair, then unpaired surrogates
      high + u".avd", u"x" + low, nul + u"nul", u"",
      std::u16string(31, u'a'), std::u16string(32, u'b'),  // the length outgrows its first byte
      std::u16string(4095, u'c'), std::u16string(4096, u'd'),
      std::u16string(200'000, u'e'), std::u16string(70'000, u'\u00e9'),  // longer than a block
  };
  ArchiveList list;
  std::vector<std::u16string> expected;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::u16string directory = i % 2 ? u"/rec/\u00e9t\u00e9/" : u"/rec/";
    list.enterDirectory(view(directory));
    list.addArchive(view(names[i]));
    expected.push_back(directory + names[i]);
  }
  EXPECT_EQ(takeAll(list), expected);
}

// Without memory for the next path, that archive stays next in line and the
// caller's path is as it was: into an empty string, then into one too short.
TEST(ArchiveListTest, AFailedTakeLeavesTheArchiveNextInLine) {
  ArchiveList list;
  scan(list, {{'D', u"/rec/"}, {'A', u"first.avd"}, {'A', u"a name longer than the first.avd"}});
  ArchiveList::Taken taken;
  for (const std::u16string expected : {u"/rec/first.avd", u"/rec/a name longer than the first.avd"}) {
    const std::u16string before = text(taken.path);
    for (int n = 1;; ++n) {
      avdtest::failAllocationAt(n);
      try {
        const bool took = list.take(taken);
        avdtest::disarmAllocationFailure();
        ASSERT_TRUE(took);
        break;
      } catch (const std::bad_alloc&) {
        avdtest::disarmAllocationFailure();
        EXPECT_EQ(text(taken.path), before);
      }
    }
    EXPECT_EQ(text(taken.path), expected);
  }
}

TEST(ArchiveListTest, ConcurrentTakersGetEveryArchiveOnceInOrder) {
  // Discovery order is the paths' sorted order here.
  ArchiveList list;
  std::vector<std::u16string> expected;
  for (int d = 10; d < 50; ++d) {
    const std::u16string directory = u"/rec/" + digits(d) + u"/";
    list.enterDirectory(view(directory));
    if (d % 3 == 0) list.addLeftover(view(u"left.tmp"));
    for (int i = 100000; i < 100500; ++i) {
      expected.push_back(directory + digits(i) + (d % 2 ? u"\u00e9.avd" : u".avd"));
      list.addArchive(view(expected.back().substr(directory.size())));
    }
  }
  std::vector<std::u16string> seen[2];
  int strayLeftovers[2] = {};
  auto taker = [&](int t) {
    ArchiveList::Taken taken;
    while (list.take(taken)) {
      const std::u16string& path = seen[t].emplace_back(text(taken.path));
      const std::u16string own = path.substr(0, path.rfind(u'/') + 1) + u"left.tmp";
      if (taken.leftovers && text(taken.leftovers->front()) != own) ++strayLeftovers[t];
    }
  };
  std::thread first(taker, 0), second(taker, 1);
  first.join();
  second.join();

  std::vector<std::u16string> all;
  for (int t = 0; t < 2; ++t) {
    EXPECT_EQ(strayLeftovers[t], 0);
    EXPECT_TRUE(std::is_sorted(seen[t].begin(), seen[t].end()));
    all.insert(all.end(), seen[t].begin(), seen[t].end());
  }
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, expected);
  EXPECT_EQ(list.bytesHeld(), 0u);
}

}  // namespace
