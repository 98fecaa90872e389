#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "tests/platform/other_program_handle.h"
#include "tests/support/fault_files.h"
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

std::map<fs::path, std::string> contents(const fs::path& dir) {
  std::map<fs::path, std::string> found;
  for (const auto& e : fs::directory_iterator(dir)) found[e.path()] = avdtest::readFile(e.path());
  return found;
}

enum class Scene { PlainFile, LinkOutOfTheTree, RenamedOver, NameGone };

struct RemovalCase {
  const char* label;
  Scene scene;
  RemoveResult answer;
  RemoveResult expected;
};

class RemoveIfUnchanged : public testing::TestWithParam<RemovalCase> {};

// Breaks if a removal judges a stale look, follows a link out of the tree,
// or calls a vanished name a failure.
TEST_P(RemoveIfUnchanged, JudgesTheFileTheNameMeansAndRemovesOnlyTheName) {
  const RemovalCase& c = GetParam();
  avdtest::TempDir tree, outside;
  const fs::path archive = tree / "cam.avd";
  std::error_code ec;
  if (c.scene == Scene::LinkOutOfTheTree) {
    avdtest::writeFile(outside / "elsewhere.avd", "recorded elsewhere");
    fs::create_symlink(outside / "elsewhere.avd", archive, ec);
    if (ec || !fs::is_symlink(archive)) GTEST_SKIP() << "no symbolic link can be made here: " << ec.message();
  } else {
    avdtest::writeFile(archive, "recorded");
  }
  // The file the policy must be shown (none: it must not be asked) and what
  // is left at the archive's name (none: nothing).
  std::optional<platform::FileIdentity> judged = statusOf(archive).identity;
  std::optional<std::string> left;
  const auto outsideBefore = contents(outside.path());
  const FileHandle f = native().openForRead(name(archive).c_str());
  ASSERT_NE(f, platform::kInvalidFile) << lastError();
  if (c.scene == Scene::RenamedOver) {
    avdtest::writeFile(tree / "other", "another recording");
    fs::rename(tree / "other", archive, ec);
    judged = statusOf(archive).identity;
    left = "another recording";
  } else if (c.scene == Scene::NameGone) {
    fs::remove(archive, ec);
    judged.reset();
  }
  if (ec) {
    native().close(f);
    GTEST_SKIP() << "the system keeps an open archive's name: " << ec.message();
  }
  const Verdict policy(c.answer);
  EXPECT_EQ(native().removeIfUnchanged(name(archive).c_str(), platform::ScopedFile(f, native()), policy), c.expected)
      << lastError();
  ASSERT_EQ(policy.seen.has_value(), judged.has_value());
  if (judged) {
    EXPECT_EQ(policy.seen->now.identity, *judged);
  }
  if (left) {
    EXPECT_EQ(avdtest::readFile(archive), *left);
  } else {
    EXPECT_FALSE(fs::exists(fs::symlink_status(archive)));
  }
  EXPECT_EQ(contents(outside.path()), outsideBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RemoveIfUnchanged,
    testing::Values(RemovalCase{"PlainFile", Scene::PlainFile, RemoveResult::Removed, RemoveResult::Removed},
                    RemovalCase{"LinkOutOfTheTree", Scene::LinkOutOfTheTree, RemoveResult::Removed,
                                RemoveResult::Removed},
                    RemovalCase{"RenamedOver", Scene::RenamedOver, RemoveResult::Changed, RemoveResult::Changed},
                    RemovalCase{"NameGone", Scene::NameGone, RemoveResult::Removed, RemoveResult::Gone}),
    [](const testing::TestParamInfo<RemovalCase>& row) { return std::string(row.param.label); });

#ifdef _WIN32
// POSIX has no share modes: another program's open keeps nobody off a file.
// Breaks if another program's handle that shares no writing, or no
// deleting, lets the archive be opened as free or removed.
TEST(FileSharing, AnArchiveAnotherProgramHoldsIsBusyOrInUse) {
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
    EXPECT_EQ(native().removeIfUnchanged(name(archive).c_str(), platform::ScopedFile(f, native()), policy),
              RemoveResult::InUse)
        << lastError();
    EXPECT_FALSE(policy.seen.has_value());
    EXPECT_EQ(avdtest::readFile(archive), "recorded");
  }
}
#endif

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

  const FileHandle f = native().createNew(name(dir / "cam.avi").c_str());
  ASSERT_NE(f, platform::kInvalidFile) << lastError();
  EXPECT_TRUE(native().copyMetadata(f, like)) << lastError();
  EXPECT_TRUE(native().close(f));
  const FileStatus got = statusOf(dir / "cam.avi");
  EXPECT_EQ(got.modified, like.modified);
  EXPECT_EQ(got.permissions, like.permissions);

  avdtest::writeFile(dir / "fresh", "just now");
  const std::int64_t apart = native().fileTimeNow() - statusOf(dir / "fresh").modified;
  EXPECT_LT(apart < 0 ? -apart : apart, 10 * platform::kFileTimeUnitsPerSecond);
}

}  // namespace

namespace {

// A file closes through the services that opened it, whatever a test
// installs meanwhile: a wrapper that counted the open counts the close.
TEST(ScopedFileTest, ClosesThroughTheServicesThatOpenedIt) {
  const avdtest::TempDir tmp;
  avdtest::writeFile(tmp.path() / "a", "x");
  avdtest::FaultInjectingFiles opener(platform::nativeFiles());
  avdtest::FaultInjectingFiles other(platform::nativeFiles());
  {
    platform::ScopedFile file(opener.openForRead(avdtest::widePath(tmp.path() / "a").c_str()), opener);
    ASSERT_TRUE(file);
    const avdtest::ScopedFileApi installed(other);
  }
  EXPECT_EQ(opener.calls(avdtest::FileOp::Close), 1u);
  EXPECT_EQ(other.calls(avdtest::FileOp::Close), 0u);
  EXPECT_EQ(opener.openHandles(), 0);
}

}  // namespace
