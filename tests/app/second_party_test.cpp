// Another party at work on the same files while a run converts them: a
// recorder the run cannot see, one it can, another run meddling with
// temporary files or converting the archive itself. Each acts once, at any
// file operation of the run; no archive may be lost, and a program without
// the guards is caught.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <type_traits>

#include "app/file_convert_task.h"
#include "app/finisher.h"
#include "app/run_report.h"
#include "archive/avd_reader.h"
#include "commit/held_archive.h"
#include "tests/support/avd_builder.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"

namespace {

const std::u16string kArchive = u"/mem/d/a.avd";
const std::u16string kOutput = u"/mem/d/a.avi";
const std::u16string kOther = u"/mem/d/b.avd";

std::string archiveBytes(const std::string& frame) {
  return avdtest::AvdBuilder().mjpegHeader(25, 8, 8).frame(frame, 1).frame(std::string(3000, 'x'), 2).bytes();
}
// What a recorder adds: one more whole frame.
const std::string kLateFrame = avdtest::AvdBuilder().frame("late", 9).bytes();

xtd::wstrview view(const std::u16string& s) { return xtd::wstrview(s.data(), static_cast<std::uint32_t>(s.size())); }

enum class Act { RecorderUnseen, RecorderSeen, TemporaryReplaced, TemporaryRemoved, ConvertedElsewhere };

// Counts the run's file operations and acts once, before operation `at`.
class Party final : public platform::FileApiWrapper {
 public:
  Party(avdtest::MemoryFiles& disk, Act act, long at) : FileApiWrapper(disk), disk_(disk), act_(act), at_(at) {}
  long operations() const { return count_; }
  bool acted() const { return acted_; }
  bool appended() const { return acted_ && (act_ == Act::RecorderUnseen || act_ == Act::RecorderSeen); }

  platform::FileHandle createNew(const char16_t* path) override {
    temporary_ = path;
    return FileApiWrapper::createNew(path);
  }
  platform::Stream* streamCreate(const char16_t* path, char* buffer, std::size_t size) override {
    temporary_ = path;
    return FileApiWrapper::streamCreate(path, buffer, size);
  }
  platform::FileHandle openForRead(const char16_t* path, platform::FileStatus* opened = nullptr) override {
    const platform::FileHandle f = FileApiWrapper::openForRead(path, opened);
    if (path == kArchive) archiveHandles_.insert(f);
    return f;
  }
  bool close(platform::FileHandle f) override {
    archiveHandles_.erase(f);
    return FileApiWrapper::close(f);
  }
  // Through a view that looks files up by name, a removed file's handle
  // answers no more.
  bool read(platform::FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) override {
    return FileApiWrapper::read(f, buffer, size, got) && !removedUnderHandle(f);
  }
  bool status(platform::FileHandle f, platform::FileStatus& out) override {
    return FileApiWrapper::status(f, out) && !removedUnderHandle(f);
  }

 protected:
  bool admit(platform::FileOp) override {
    if (++count_ == at_) act();
    return true;
  }

 private:
  void act() {
    const bool onArchive = act_ == Act::RecorderUnseen || act_ == Act::RecorderSeen || act_ == Act::ConvertedElsewhere;
    const std::u16string target = onArchive ? kArchive : temporary_;
    if (target.empty() || !disk_.exists(target)) return;
    acted_ = true;
    if (act_ == Act::RecorderUnseen || act_ == Act::RecorderSeen) return disk_.append(kArchive, kLateFrame);
    if (act_ == Act::ConvertedElsewhere) disk_.put(kOutput, "another run's output");
    disk_.remove(target.c_str());
    if (act_ == Act::TemporaryReplaced) disk_.put(target, "half of another run's output");
  }

  bool removedUnderHandle(platform::FileHandle f) {
    if (act_ != Act::ConvertedElsewhere || !acted_ || !archiveHandles_.count(f)) return false;
    platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::NotFound, "fstat"));
    return true;
  }

  avdtest::MemoryFiles& disk_;
  Act act_;
  long at_;
  long count_ = 0;
  bool acted_ = false;
  std::u16string temporary_;
  std::set<platform::FileHandle> archiveHandles_;
};

// A program that takes a lease for proof of no writer wherever it is
// granted.
class TrustsLeases final : public platform::FileApiWrapper {
 public:
  using FileApiWrapper::FileApiWrapper;
  platform::RemoveResult removeIfUnchanged(const char16_t* path, platform::ScopedFile file,
                                           const platform::RemovalPolicy& policy) override {
    struct Blind final : platform::RemovalPolicy {
      explicit Blind(const platform::RemovalPolicy& p) : inner(p) {}
      platform::RemoveResult judge(const platform::RemovalFacts& facts) const override {
        platform::RemovalFacts seen = facts;
        seen.writersVisible = true;
        return inner.judge(seen);
      }
      const platform::RemovalPolicy& inner;
    } blind(policy);
    return FileApiWrapper::removeIfUnchanged(path, std::move(file), blind);
  }
};

// A program that takes the file at the output name, after its rename, for
// the one it wrote.
class TrustsNames final : public platform::FileApiWrapper {
 public:
  using FileApiWrapper::FileApiWrapper;
  platform::Stream* streamCreate(const char16_t* path, char* buffer, std::size_t size) override {
    platform::Stream* s = FileApiWrapper::streamCreate(path, buffer, size);
    created_[reinterpret_cast<platform::FileHandle>(s)] = path;
    return s;
  }
  bool status(platform::FileHandle f, platform::FileStatus& out) override {
    const bool ok = FileApiWrapper::status(f, out);
    if (ok && created_.count(f)) wrote_[created_[f]] = out.identity;
    return ok;
  }
  bool rename(const char16_t* from, const char16_t* to) override {
    if (wrote_.count(from)) wrote_[to] = wrote_[from];
    return FileApiWrapper::rename(from, to);
  }
  bool pathStatus(const char16_t* path, platform::FileStatus& out) override {
    const bool ok = FileApiWrapper::pathStatus(path, out);
    if (ok && wrote_.count(path)) out.identity = wrote_[path];
    return ok;
  }

 private:
  std::map<platform::FileHandle, std::u16string> created_;
  std::map<std::u16string, platform::FileIdentity> wrote_;
};

class SecondPartyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& tail : {std::string(), kLateFrame}) {
      avdtest::MemoryFiles disk;
      disk.put(kArchive, archiveBytes("jpeg") + tail);
      avdtest::ScopedFileApi scoped(disk);
      ASSERT_EQ(convertArchive(view(kArchive)).reason, ConversionOutcome::Reason::Converted);
      converted_.insert(disk.contents(kOutput));
    }
  }

  // Converts both archives in one batch; the status the report gives.
  static int runOver(avdtest::MemoryFiles& disk, bool writersVisible, platform::FileApi& files) {
    disk.put(kArchive, archiveBytes("jpeg"));
    disk.put(kOther, archiveBytes("other"));
    disk.setWritersVisible(writersVisible);
    avdtest::ScopedFileApi scoped(files);
    RunReport report;
    Finisher finisher([&](xtd::wstrview path, const ConversionOutcome& o) { report.record(path, o); }, 2);
    for (const std::u16string& name : {kArchive, kOther}) {
      AvdReader reader;
      if (auto ended = convertArchive(view(name), reader, finisher)) report.record(view(name), *ended);
    }
    finisher.commitAll();
    report.settleWithOtherRuns(convertedElsewhere);
    return report.exitStatus();
  }

  // Acts at every operation of a run; the first promise broken, or "".
  // `Careless` stands for a program without one of the guards.
  template <class Careless = void>
  std::string sweep(Act act) {
    const bool visible = act == Act::RecorderSeen;
    long operations = 0;
    {
      avdtest::MemoryFiles disk;
      Party counter(disk, act, 0);
      runOver(disk, visible, counter);
      operations = counter.operations();
    }
    EXPECT_GT(operations, 20);
    for (long n = 1; n <= operations + 1; ++n) {
      const std::string where = " (acting before operation " + std::to_string(n) + ")";
      avdtest::MemoryFiles disk;
      Party party(disk, act, n);
      int status = 0;
      if constexpr (std::is_same_v<Careless, void>) {
        status = runOver(disk, visible, party);
      } else {
        Careless program(party);
        status = runOver(disk, visible, program);
      }
      if (disk.openHandles() != 0) return "a handle leaked" + where;
      if (act == Act::ConvertedElsewhere && status != 0) return "another run's conversion was a failure" + where;
      if (!disk.exists(kArchive) && !(act == Act::ConvertedElsewhere && party.acted())) {
        // A recorder this run could not see goes on writing into the
        // removed file; one it could see was seen.
        if (act == Act::RecorderUnseen && party.appended()) return "a recording archive was removed" + where;
        if (!converted_.count(disk.contents(kOutput))) return "the archive went without its output" + where;
      }
      for (const auto& [name, bytes] : disk.files()) {
        if (name.ends_with(u".avdconv-tmp") && !party.acted()) return "a temporary file was left" + where;
      }
    }
    return "";
  }

  std::set<std::string> converted_;
};

TEST_F(SecondPartyTest, NoOtherPartyAtAnyStepLosesAnArchive) {
  for (Act act : {Act::RecorderUnseen, Act::RecorderSeen, Act::TemporaryReplaced, Act::TemporaryRemoved,
                  Act::ConvertedElsewhere}) {
    EXPECT_EQ(sweep(act), "") << "act " << static_cast<int>(act);
  }
}

// The sweep is only as good as its parties: a program that trusts a lease
// that cannot see the recorder, or a name it renamed by name, is caught.
TEST_F(SecondPartyTest, SweepCatchesAProgramThatTrustsLeasesOrNames) {
  EXPECT_NE(sweep<TrustsLeases>(Act::RecorderUnseen).find("a recording archive was removed"), std::string::npos);
  EXPECT_NE(sweep<TrustsNames>(Act::TemporaryReplaced).find("without its output"), std::string::npos);
}

// Two names of one file (a hard link) in one run: where a removal lets go
// of the lock before the name (Windows), the other name must still wait.
TEST(OtherNameTest, AFileThisRunHoldsIsNeverTakenAgainThroughAnotherName) {
  avdtest::MemoryFiles disk;
  disk.put(kArchive, archiveBytes("jpeg"));
  avdtest::ScopedFileApi scoped(disk);
  const platform::FileIdentity file = disk.statusOf(kArchive).identity;
  const auto open = [&] { return platform::ScopedFile(disk.openForRead(kArchive.c_str())); };
  using Claim = HeldArchive::Claim;
  platform::ScopedFile first = open(), second = open(), third = open();
  HeldArchive held, other;
  ASSERT_EQ(held.claim(first.get(), file), Claim::Taken);
  EXPECT_EQ(other.claim(second.get(), file), Claim::HeldByThisRun);
  first.close();  // the removal's order: the lock goes, the name is still there
  EXPECT_EQ(other.claim(third.get(), file), Claim::HeldByThisRun);
  held.reset();
  EXPECT_EQ(other.claim(third.get(), file), Claim::Taken);
  other.reset();
  EXPECT_EQ(held.claim(second.get(), file), Claim::HeldByAnotherRun);  // `third` keeps the lock, unrecorded
}

// A name that cannot be opened while this run removes another name of its
// file waits, even when the removal ends before this run has looked; one
// that another program holds does not, whatever else this run lets go.
TEST(OtherNameTest, ANameHeldOffWithoutSharingWaitsOnlyForThisRun) {
  enum class Holder { ThisRunUnderAnotherName, ThisRunAnotherFile, AnotherProgram };
  for (Holder holder : {Holder::ThisRunUnderAnotherName, Holder::ThisRunAnotherFile, Holder::AnotherProgram}) {
    avdtest::MemoryFiles disk;
    disk.put(kArchive, archiveBytes("jpeg"));
    disk.put(kOther, archiveBytes("jpeg"));
    // Under the name a.avd, this run holds b.avd's file or a.avd's own.
    HeldArchive removing;
    platform::ScopedFile removingFile(disk.openForRead(kArchive.c_str()));
    if (holder != Holder::AnotherProgram) {
      avdtest::ScopedFileApi scoped(disk);
      const auto& held = holder == Holder::ThisRunUnderAnotherName ? kOther : kArchive;
      ASSERT_EQ(removing.claim(removingFile.get(), disk.statusOf(held).identity), HeldArchive::Claim::Taken);
    }
    // b.avd is held without sharing; this run's hold ends by the time b.avd's
    // name is looked at.
    struct Sharing final : platform::FileApiWrapper {
      Sharing(avdtest::MemoryFiles& d, HeldArchive& r) : FileApiWrapper(d), removal(r) {}
      platform::FileHandle openForRead(const char16_t* path, platform::FileStatus* opened) override {
        if (path != kOther) return FileApiWrapper::openForRead(path, opened);
        platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::Busy));
        return platform::kInvalidFile;
      }
      bool pathStatus(const char16_t* path, platform::FileStatus& out) override {
        removal.reset();
        return FileApiWrapper::pathStatus(path, out);
      }
      HeldArchive& removal;
    } sharing(disk, removing);
    avdtest::ScopedFileApi scoped(sharing);
    EXPECT_EQ(convertArchive(view(kOther)).reason, holder == Holder::ThisRunUnderAnotherName
                                                       ? ConversionOutcome::Reason::WaitingForOtherName
                                                       : ConversionOutcome::Reason::HeldByProgram)
        << static_cast<int>(holder);
  }
}

// What killed runs left is removed once quiet; what a live run writes stays.
TEST(LeftoverTest, OnlyQuietLeftoversOfTheHeldArchiveGo) {
  const struct {
    std::u16string name;
    bool stays;
  } cases[] = {{u"/mem/d/a.avi.111-0000dead.avdconv-tmp", false},
               {u"/mem/d/a.avi.avdconv-tmp", false},
               {u"/mem/d/a.avi.222-0000beef.avdconv-tmp", true},   // being written now
               {u"/mem/d/ab.avi.333-0000f00d.avdconv-tmp", true}};  // another archive's
  avdtest::MemoryFiles disk;
  disk.put(kArchive, archiveBytes("jpeg"));
  Leftovers leftovers;
  for (const auto& c : cases) {
    leftovers.emplace_back(view(c.name));
    if (c.name.find(u"222") == std::u16string::npos) disk.put(c.name, "old");
  }
  const platform::FileHandle live = disk.createNew(cases[2].name.c_str());
  disk.write(live, "live", 4);
  disk.close(live);
  {
    avdtest::ScopedFileApi scoped(disk);
    AvdReader reader;
    Finisher finisher([](xtd::wstrview, const ConversionOutcome&) {});
    convertArchive(view(kArchive), reader, finisher, &leftovers);
  }
  for (const auto& c : cases) EXPECT_EQ(disk.exists(c.name), c.stays) << std::string(c.name.begin(), c.name.end());
}

}  // namespace
