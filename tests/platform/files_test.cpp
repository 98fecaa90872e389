#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "tests/platform/other_program_handle.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::FileHandle;
using platform::FileStatus;
using platform::RemoveResult;
using platform::SyncResult;

platform::FileApi& native() { return platform::nativeFiles(); }

std::u16string name(const fs::path& p) { return p.u16string(); }

FileStatus statusOf(const fs::path& p) {
  FileStatus s;
  EXPECT_TRUE(native().pathStatus(name(p).c_str(), s)) << p;
  return s;
}

std::string lastError() {
  const platform::SystemError e = platform::lastFileError();
  return std::string(e.call ? e.call : "(no call)") + ": " + platform::describe(e);
}

// Answers as told and keeps what the system showed it.
class Verdict final : public platform::RemovalPolicy {
 public:
  explicit Verdict(RemoveResult answer) : answer_(answer) {}
  RemoveResult judge(const platform::RemovalFacts& facts) const override {
    seen = facts;
    return answer_;
  }
  mutable std::optional<platform::RemovalFacts> seen;

 private:
  RemoveResult answer_;
};

// An archive at tree/cam.avd, and a directory outside the tree that the
// tool must never change.
struct Scene {
  avdtest::TempDir tree, outside;
  fs::path archive = tree / "cam.avd";
  // The file the policy must be shown (none: it must not be asked) and
  // what is left at the archive's name (none: nothing).
  std::optional<platform::FileIdentity> judged;
  std::optional<std::string> left;
};

std::map<fs::path, std::string> contents(const fs::path& dir) {
  std::map<fs::path, std::string> found;
  for (const auto& e : fs::directory_iterator(dir)) found[e.path()] = avdtest::readFile(e.path());
  return found;
}

struct RemovalCase {
  const char* label;
  // Puts the archive in place; why that cannot be done here, or nothing.
  std::string (*arrange)(Scene&);
  // Changes the name once the archive is open; why the system refuses, or nothing.
  std::string (*meanwhile)(Scene&);
  RemoveResult answer;
  RemoveResult expected;
};

std::string plainFile(Scene& s) {
  avdtest::writeFile(s.archive, "recorded");
  s.judged = statusOf(s.archive).identity;
  return {};
}

std::string linkOutOfTheTree(Scene& s) {
  const fs::path target = s.outside / "elsewhere.avd";
  avdtest::writeFile(target, "recorded elsewhere");
  std::error_code ec;
  fs::create_symlink(target, s.archive, ec);
  if (ec) return "symbolic links cannot be made here: " + ec.message();
  if (!fs::is_symlink(s.archive)) return "the system does not show the link as a link";
  s.judged = statusOf(target).identity;
  return {};
}

std::string renamedOver(Scene& s) {
  const fs::path other = s.tree / "other";
  avdtest::writeFile(other, "another recording");
  std::error_code ec;
  fs::rename(other, s.archive, ec);
  if (ec) return "the system keeps an open archive's name: " + ec.message();
  s.judged = statusOf(s.archive).identity;
  s.left = "another recording";
  return {};
}

std::string removed(Scene& s) {
  s.judged.reset();
  std::error_code ec;
  fs::remove(s.archive, ec);
  return ec ? "the system keeps an open archive's name: " + ec.message() : std::string();
}

class RemoveIfUnchanged : public testing::TestWithParam<RemovalCase> {};

// Breaks if a removal judges a stale look, follows a link out of the tree,
// or calls a vanished name a failure.
TEST_P(RemoveIfUnchanged, JudgesTheFileTheNameMeansAndRemovesOnlyTheName) {
  const RemovalCase& c = GetParam();
  Scene s;
  if (const std::string why = c.arrange(s); !why.empty()) GTEST_SKIP() << why;
  const auto outsideBefore = contents(s.outside.path());
  const FileHandle f = native().openForRead(name(s.archive).c_str());
  ASSERT_NE(f, platform::kInvalidFile) << lastError();
  if (c.meanwhile) {
    if (const std::string why = c.meanwhile(s); !why.empty()) {
      native().close(f);
      GTEST_SKIP() << why;
    }
  }
  const Verdict policy(c.answer);
  EXPECT_EQ(native().removeIfUnchanged(name(s.archive).c_str(), f, policy), c.expected) << lastError();
  ASSERT_EQ(policy.seen.has_value(), s.judged.has_value());
  if (s.judged) {
    EXPECT_EQ(policy.seen->now.identity, *s.judged);
  }
  if (s.left) {
    EXPECT_EQ(avdtest::readFile(s.archive), *s.left);
  } else {
    EXPECT_FALSE(fs::exists(fs::symlink_status(s.archive)));
  }
  EXPECT_EQ(contents(s.outside.path()), outsideBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveIfUnchanged,
    testing::Values(RemovalCase{"PlainFile", plainFile, nullptr, RemoveResult::Removed, RemoveResult::Removed},
                    RemovalCase{"LinkOutOfTheTree", linkOutOfTheTree, nullptr, RemoveResult::Removed,
                                RemoveResult::Removed},
                    RemovalCase{"RenamedOver", plainFile, renamedOver, RemoveResult::Changed, RemoveResult::Changed},
                    RemovalCase{"NameGone", plainFile, removed, RemoveResult::Removed, RemoveResult::Gone}),
    [](const testing::TestParamInfo<RemovalCase>& row) { return std::string(row.param.label); });

// Breaks if another program's handle that shares no writing, or no
// deleting, lets the archive be opened as free or removed.
TEST(FileSharing, AnArchiveAnotherProgramHoldsIsBusyOrInUse) {
  if (const std::string why = avdtest::OtherProgramHandle::unavailable(); !why.empty()) GTEST_SKIP() << why;
  using Shares = avdtest::OtherProgramHandle::Shares;
  const struct {
    const char* label;
    Shares shares;
    bool writing;
    bool opens;
  } cases[] = {
      {"a writer sharing nothing", Shares::Nothing, true, false},
      {"a writer sharing reading", Shares::Reading, true, true},
      {"a reader sharing all but deleting", Shares::ReadingAndWriting, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    avdtest::TempDir dir;
    const fs::path archive = dir / "cam.avd";
    avdtest::writeFile(archive, "recorded");
    const avdtest::OtherProgramHandle holder(archive, c.shares, c.writing);
    const FileHandle f = native().openForRead(name(archive).c_str());
    if (!c.opens) {
      EXPECT_EQ(f, platform::kInvalidFile);
      EXPECT_EQ(platform::lastFileError().kind, platform::SystemError::Kind::Busy) << lastError();
      if (f != platform::kInvalidFile) native().close(f);
      continue;
    }
    ASSERT_NE(f, platform::kInvalidFile) << lastError();
    const Verdict policy(RemoveResult::Removed);
    EXPECT_EQ(native().removeIfUnchanged(name(archive).c_str(), f, policy), RemoveResult::InUse) << lastError();
    EXPECT_FALSE(policy.seen.has_value());
    EXPECT_EQ(avdtest::readFile(archive), "recorded");
  }
}

// Breaks if a local disk's refusal to sync a directory is taken for a
// failure, or a failure goes without the call that failed.
TEST(FileSync, AFreshNameIsSyncedOrBeyondTheSystemAndFailuresNameTheCall) {
  avdtest::TempDir dir;
  const std::u16string temporary = name(dir / "out.avi.tmp"), named = name(dir / "out.avi");
  const FileHandle f = native().createNew(temporary.c_str());
  ASSERT_NE(f, platform::kInvalidFile) << lastError();
  EXPECT_TRUE(native().write(f, "frames", 6));
  EXPECT_TRUE(native().flushToDisk(f)) << lastError();
  EXPECT_TRUE(native().close(f));
  ASSERT_TRUE(native().rename(temporary.c_str(), named.c_str())) << lastError();
  EXPECT_NE(native().syncName(named.c_str()), SyncResult::Failed) << lastError();
  EXPECT_NE(native().syncParentDirectory(named.c_str()), SyncResult::Failed) << lastError();

  EXPECT_EQ(native().syncParentDirectory(name(dir / "missing" / "out.avi").c_str()), SyncResult::Failed);
  EXPECT_NE(platform::lastFileError().call, nullptr);
}

// Breaks if an output keeps its own times (or permissions) instead of its
// archive's, or the clock the removal judges by is not the files' clock.
TEST(FileMetadata, AnOutputTakesItsArchivesTimesAndTheClockIsTheFilesClock) {
  avdtest::TempDir dir;
  const fs::path archive = dir / "cam.avd";
  avdtest::writeFile(archive, "recorded");
  fs::last_write_time(archive, fs::last_write_time(archive) - std::chrono::hours(24 * 400));
  fs::permissions(archive, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const FileStatus like = statusOf(archive);

  const fs::path output = dir / "cam.avi";
  const FileHandle f = native().createNew(name(output).c_str());
  ASSERT_NE(f, platform::kInvalidFile) << lastError();
  EXPECT_TRUE(native().write(f, "frames", 6));
  EXPECT_TRUE(native().copyMetadata(f, like)) << lastError();
  EXPECT_TRUE(native().close(f));
  const FileStatus got = statusOf(output);
  EXPECT_EQ(got.modified, like.modified);
  EXPECT_EQ(got.permissions, like.permissions);

  avdtest::writeFile(dir / "fresh", "just now");
  const std::int64_t apart = native().fileTimeNow() - statusOf(dir / "fresh").modified;
  EXPECT_LT(apart < 0 ? -apart : apart, 10 * platform::kFileTimeUnitsPerSecond);
}

// Breaks if a read stops short of what is there or reads past the end.
TEST(FileRead, AReadGivesWhatIsThereThenNothing) {
  avdtest::TempDir dir;
  std::string bytes(10000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  avdtest::writeFile(dir / "cam.avd", bytes);
  const FileHandle f = native().openForRead(name(dir / "cam.avd").c_str());
  ASSERT_NE(f, platform::kInvalidFile) << lastError();
  std::string buffer(6000, '\0');
  std::uint32_t got = 0;
  EXPECT_TRUE(native().seek(f, 5000));
  EXPECT_TRUE(native().read(f, buffer.data(), 6000, got));
  EXPECT_EQ(buffer.substr(0, got), bytes.substr(5000));
  EXPECT_TRUE(native().read(f, buffer.data(), 6000, got));
  EXPECT_EQ(got, 0u);
  native().close(f);
}

}  // namespace
