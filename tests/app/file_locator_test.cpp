#include "app/file_locator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Keeps every path handed on, as the conversion run would, and what the
// walk left out.
class RecordingLocator : public FileLocator {
 public:
  std::vector<std::u16string> paths;
  std::vector<std::u16string> left;

 protected:
  void found(xtd::wstrview path) override {
    FileLocator::found(path);
    paths.emplace_back(path.data, path.length);
  }
  void skipped(xtd::wstrview path, const ConversionOutcome& why) override {
    if (why.reason == ConversionOutcome::Reason::UnreadableDirectory) left.emplace_back(path.data, path.length);
  }
};

std::u16string sep() { return std::u16string(1, platform::kPathSeparator); }

std::u16string native(const fs::path& p) { return p.u16string(); }

std::vector<std::u16string> scan(const std::u16string& dir, RecordingLocator& locator) {
  locator.setPath(xtd::wstrview(dir.data(), static_cast<std::uint32_t>(dir.size())));
  locator.findFiles(xtd::wstrview(u"avd", 3));
  std::vector<std::u16string> sorted = locator.paths;
  std::sort(sorted.begin(), sorted.end());
  return sorted;
}

TEST(FileLocatorTest, FindsArchivesByTheLastThreeUnitsOnly) {
  avdtest::TempDir tmp;
  fs::create_directories(tmp / "a" / "b");
  avdtest::writeFile(tmp / "a" / "b" / "clip.avd", "");
  avdtest::writeFile(tmp / "clip.AVD", "");      // case-sensitive
  avdtest::writeFile(tmp / "clipavd", "");       // no dot needed
  avdtest::writeFile(tmp / "vd", "");            // shorter than the extension
  avdtest::writeFile(tmp / ".hidden.avd", "");   // hidden files still count
  avdtest::writeFile(tmp / "clip.avd.txt", "");
  fs::create_directories(tmp / ".skipped");
  avdtest::writeFile(tmp / ".skipped" / "inner.avd", "");
  fs::create_directories(tmp / "dir.avd");       // a directory, walked not matched
  avdtest::writeFile(tmp / "dir.avd" / "x.avd", "");

  RecordingLocator locator;
  const std::u16string root = native(tmp.path());
  const auto found = scan(root, locator);
  const std::vector<std::u16string> expected = {
      root + sep() + u".hidden.avd",
      root + sep() + u"a" + sep() + u"b" + sep() + u"clip.avd",
      root + sep() + u"clipavd",
      root + sep() + u"dir.avd" + sep() + u"x.avd",
  };
  EXPECT_EQ(found, expected);
  EXPECT_EQ(locator.count(), 4);
}

TEST(FileLocatorTest, AddsOneSeparatorOnlyWhenMissing) {
  avdtest::TempDir tmp;
  avdtest::writeFile(tmp / "one.avd", "");
  const std::u16string root = native(tmp.path());

  RecordingLocator without;
  EXPECT_EQ(scan(root, without), std::vector<std::u16string>{root + sep() + u"one.avd"});
  RecordingLocator with;
  EXPECT_EQ(scan(root + sep(), with), std::vector<std::u16string>{root + sep() + u"one.avd"});
}

TEST(FileLocatorTest, SubtreesAreWalkedBeforeTheNextEntry) {
  avdtest::TempDir tmp;
  fs::create_directories(tmp / "d1" / "deep");
  fs::create_directories(tmp / "d2");
  avdtest::writeFile(tmp / "d1" / "deep" / "a.avd", "");
  avdtest::writeFile(tmp / "d1" / "b.avd", "");
  avdtest::writeFile(tmp / "d2" / "c.avd", "");
  RecordingLocator locator;
  scan(native(tmp.path()), locator);
  ASSERT_EQ(locator.paths.size(), 3u);
  // Whatever the listing order, the two archives under d1 are adjacent.
  auto under = [](const std::u16string& p, const std::u16string& dir) { return p.find(dir) != std::u16string::npos; };
  const std::u16string d1 = sep() + u"d1" + sep();
  const bool firstTwo = under(locator.paths[0], d1) && under(locator.paths[1], d1);
  const bool lastTwo = under(locator.paths[1], d1) && under(locator.paths[2], d1);
  EXPECT_TRUE(firstTwo || lastTwo);
}

TEST(FileLocatorTest, MissingOrEmptyPathsFindNothing) {
  avdtest::TempDir tmp;
  RecordingLocator missing;
  EXPECT_TRUE(scan(native(tmp / "does-not-exist"), missing).empty());
  EXPECT_EQ(missing.count(), 0);
  RecordingLocator empty;
  EXPECT_TRUE(scan(u"", empty).empty());
  EXPECT_EQ(empty.count(), 0);
}

TEST(FileLocatorTest, LinkCyclesAndRepeatedLinksAreWalkedOnce) {
  avdtest::TempDir tmp;
  fs::create_directories(tmp / "real" / "sub");
  avdtest::writeFile(tmp / "real" / "sub" / "cam.avd", "");
  std::error_code ec;
  fs::create_directory_symlink(tmp / "real", tmp / "real" / "sub" / "loop", ec);  // back to an ancestor
  if (ec) GTEST_SKIP() << "directory links are not available here: " << ec.message();
  fs::create_directory_symlink(tmp / "real" / "sub", tmp / "link1", ec);
  fs::create_directory_symlink(tmp / "real" / "sub", tmp / "link2", ec);
  ASSERT_FALSE(ec);

  RecordingLocator locator;
  scan(native(tmp.path()), locator);
  EXPECT_EQ(locator.count(), 1);
  EXPECT_EQ(locator.paths.size(), 1u);
}

// The walk lists through the file services in use: a directory whose
// listing fails is told and left out, and the walk goes on with the rest.
TEST(FileLocatorTest, ADirectoryThatCannotBeListedIsToldAndTheWalkGoesOn) {
  avdtest::MemoryFiles disk;
  const std::u16string root = u"mem" + sep();
  for (const char16_t* name : {u"a.avd", u"one/b.avd", u"two/c.avd"}) {
    std::u16string path = root + name;
    std::replace(path.begin(), path.end(), u'/', platform::kPathSeparator);
    disk.put(path, "x");
  }
  avdtest::FaultInjectingFiles faults(disk);
  faults.failAt(avdtest::FileOp::ListDirectory, 2);  // the first subdirectory's
  const avdtest::ScopedFileApi installed(faults);
  RecordingLocator locator;
  const std::vector<std::u16string> found = scan(root, locator);
  ASSERT_EQ(locator.left.size(), 1u);
  EXPECT_EQ(found.size(), 2u);
  EXPECT_EQ(std::count(found.begin(), found.end(), root + u"a.avd"), 1);
  const auto below = [&](const std::u16string& p) { return p.starts_with(locator.left[0]); };
  EXPECT_EQ(std::count_if(found.begin(), found.end(), below), 0);
}

}  // namespace
