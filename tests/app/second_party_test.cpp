// Another party at work on the same files while a run converts them: a
// recorder the run cannot see, one it can, and another run meddling with
// temporary files. Each acts once, at any file operation of the run; no
// archive may be lost, and a program without the guards is caught.

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <type_traits>

#include "app/file_convert_task.h"
#include "app/finisher.h"
#include "app/run_report.h"
#include "archive/avd_reader.h"
#include "tests/support/avd_builder.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"

namespace {

using Reason = ConversionOutcome::Reason;

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
  bool appended() const { return appended_; }

  platform::FileHandle createNew(const char16_t* path) override {
    temporary_ = path;
    return FileApiWrapper::createNew(path);
  }
  platform::Stream* streamCreate(const char16_t* path, char* buffer, std::size_t size) override {
    temporary_ = path;
    return FileApiWrapper::streamCreate(path, buffer, size);
  }
  platform::FileHandle openForRead(const char16_t* path) override {
    const platform::FileHandle f = FileApiWrapper::openForRead(path);
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
    switch (act_) {
      case Act::RecorderUnseen:
      case Act::RecorderSeen:
        if (!disk_.exists(kArchive)) return;
        disk_.append(kArchive, kLateFrame);
        appended_ = acted_ = true;
        return;
      case Act::ConvertedElsewhere:
        if (!disk_.exists(kArchive)) return;
        disk_.put(kOutput, "another run's output");
        disk_.remove(kArchive.c_str());
        acted_ = true;
        return;
      case Act::TemporaryReplaced:
      case Act::TemporaryRemoved:
        if (temporary_.empty() || !disk_.exists(temporary_)) return;
        disk_.remove(temporary_.c_str());
        if (act_ == Act::TemporaryReplaced) disk_.put(temporary_, "half of another run's output");
        acted_ = true;
        return;
    }
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
  bool appended_ = false;
  std::u16string temporary_;
  std::set<platform::FileHandle> archiveHandles_;
};

// A program that takes a lease for proof of no writer wherever it is
// granted.
class TrustsLeases final : public platform::FileApiWrapper {
 public:
  using FileApiWrapper::FileApiWrapper;
  platform::RemoveResult removeIfUnchanged(const char16_t* path, platform::FileHandle f,
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
    return FileApiWrapper::removeIfUnchanged(path, f, blind);
  }
};

// A program that takes the file at the output name, after its rename, for
// the one it wrote.
class TrustsNames final : public platform::FileApiWrapper {
 public:
  using FileApiWrapper::FileApiWrapper;
  platform::FileHandle createNew(const char16_t* path) override {
    const platform::FileHandle f = FileApiWrapper::createNew(path);
    created_[f] = path;
    return f;
  }
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
      ASSERT_EQ(convertArchive(view(kArchive)).reason, Reason::Converted);
      converted_.insert(disk.contents(kOutput));
    }
  }

  static void populate(avdtest::MemoryFiles& disk, bool writersVisible) {
    disk.put(kArchive, archiveBytes("jpeg"));
    disk.put(kOther, archiveBytes("other"));
    disk.setWritersVisible(writersVisible);
  }

  static void runOver(platform::FileApi& files) {
    avdtest::ScopedFileApi scoped(files);
    Finisher finisher([](xtd::wstrview, const ConversionOutcome&) {}, 2);
    for (const std::u16string& name : {kArchive, kOther}) {
      AvdReader reader;
      convertArchive(view(name), reader, finisher);
    }
    finisher.commitAll();
  }

  // Acts at every operation of a run; the first promise broken, or "".
  // `careless` stands for a program without one of the guards.
  template <class Careless = void>
  std::string sweep(Act act) {
    const bool visible = act == Act::RecorderSeen;
    long operations = 0;
    {
      avdtest::MemoryFiles disk;
      populate(disk, visible);
      Party counter(disk, act, 0);
      runOver(counter);
      operations = counter.operations();
    }
    EXPECT_GT(operations, 20);
    for (long n = 1; n <= operations + 1; ++n) {
      const std::string where = " (acting before operation " + std::to_string(n) + ")";
      avdtest::MemoryFiles disk;
      populate(disk, visible);
      Party party(disk, act, n);
      if constexpr (std::is_same_v<Careless, void>) {
        runOver(party);
      } else {
        Careless program(party);
        runOver(program);
      }
      if (disk.openHandles() != 0) return "a handle leaked" + where;
      if (!disk.exists(kArchive)) {
        // A recorder this run could not see goes on writing into the
        // removed file; one it could see was seen.
        if (act == Act::RecorderUnseen && party.appended()) return "a recording archive was removed" + where;
        if (!converted_.count(disk.contents(kOutput))) return "the archive went without its output" + where;
      }
      for (const auto& [name, bytes] : disk.files()) {
        if (name.size() > 12 && name.substr(name.size() - 12) == u".avdconv-tmp" && !party.acted()) {
          return "a temporary file was left" + where;
        }
      }
    }
    return "";
  }

  std::set<std::string> converted_;
};

TEST_F(SecondPartyTest, NoOtherPartyAtAnyStepLosesAnArchive) {
  for (Act act : {Act::RecorderUnseen, Act::RecorderSeen, Act::TemporaryReplaced, Act::TemporaryRemoved}) {
    EXPECT_EQ(sweep(act), "") << "act " << static_cast<int>(act);
  }
}

// The sweep is only as good as its parties: a program that trusts a lease
// that cannot see the recorder, or a name it renamed by name, is caught.
TEST_F(SecondPartyTest, SweepCatchesAProgramThatTrustsLeasesOrNames) {
  EXPECT_NE(sweep<TrustsLeases>(Act::RecorderUnseen).find("a recording archive was removed"), std::string::npos);
  EXPECT_NE(sweep<TrustsNames>(Act::TemporaryReplaced).find("without its output"), std::string::npos);
}

// Another run converts and removes the archive at any step of this one's
// conversion, seen through a view whose handles then fail: that is no
// failure of this run, whatever step it hits.
TEST(ConvertedElsewhereTest, AnArchiveRemovedByAnotherRunAtAnyStepIsNoFailure) {
  for (long n = 1;; ++n) {
    avdtest::MemoryFiles disk;
    disk.put(kArchive, archiveBytes("jpeg"));
    Party party(disk, Act::ConvertedElsewhere, n);
    RunReport report;
    {
      avdtest::ScopedFileApi scoped(party);
      Finisher finisher([&](xtd::wstrview path, const ConversionOutcome& o) { report.record(path, o); }, 2);
      AvdReader reader;
      if (std::optional<ConversionOutcome> ended = convertArchive(view(kArchive), reader, finisher)) {
        report.record(view(kArchive), *ended);
      }
      finisher.commitAll();
      report.settleWithOtherRuns(convertedElsewhere);
    }
    std::string lines;
    report.write([&](const std::string& line) { lines += line; });
    EXPECT_EQ(report.exitStatus(), 0) << "acting before operation " << n << ": " << lines;
    EXPECT_EQ(disk.openHandles(), 0) << n;
    if (!party.acted()) break;
  }
}

// What killed runs left is removed once quiet; what a live run writes stays.
TEST(LeftoverTest, OnlyQuietLeftoversOfTheHeldArchiveGo) {
  avdtest::MemoryFiles disk;
  disk.put(kArchive, archiveBytes("jpeg"));
  const Leftovers leftovers = {xtd::dwstring(xtd::wstrview::literal(u"/mem/d/a.avi.111-0000dead.avdconv-tmp")),
                               xtd::dwstring(xtd::wstrview::literal(u"/mem/d/a.avi.222-0000beef.avdconv-tmp")),
                               xtd::dwstring(xtd::wstrview::literal(u"/mem/d/a.avi.avdconv-tmp")),
                               xtd::dwstring(xtd::wstrview::literal(u"/mem/d/ab.avi.333-0000f00d.avdconv-tmp"))};
  for (const auto& l : leftovers) disk.put(std::u16string(l.data(), l.length()), "old");
  // Another run is writing this one now.
  disk.remove(u"/mem/d/a.avi.222-0000beef.avdconv-tmp");
  const platform::FileHandle live = disk.createNew(u"/mem/d/a.avi.222-0000beef.avdconv-tmp");
  disk.write(live, "live", 4);
  disk.close(live);
  {
    avdtest::ScopedFileApi scoped(disk);
    AvdReader reader;
    Finisher finisher([](xtd::wstrview, const ConversionOutcome&) {});
    convertArchive(view(kArchive), reader, finisher, &leftovers);
  }
  EXPECT_FALSE(disk.exists(u"/mem/d/a.avi.111-0000dead.avdconv-tmp"));
  EXPECT_FALSE(disk.exists(u"/mem/d/a.avi.avdconv-tmp"));
  EXPECT_TRUE(disk.exists(u"/mem/d/a.avi.222-0000beef.avdconv-tmp"));
  EXPECT_TRUE(disk.exists(u"/mem/d/ab.avi.333-0000f00d.avdconv-tmp")) << "another archive's";
}

}  // namespace
