// Sweeps a fault over every file operation of whole conversions and checks
// that no archive is ever lost: after any run, an archive is either still
// there, byte for byte, or gone with an output identical to a fault-free
// conversion's; and a fault-free rerun always ends in the converted state.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/file_convert_task.h"
#include "app/finisher.h"
#include "archive/avd_reader.h"
#include "tests/support/alloc_faults.h"
#include "tests/support/avd_builder.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"
#include "tests/support/temp_dir.h"
#include "xtd/byte_order.h"

namespace {

namespace fs = std::filesystem;
using avdtest::FileOp;
using Reason = ConversionOutcome::Reason;

std::string unhex(const char* hex) {
  std::string out;
  for (const char* p = hex; p[0] && p[1]; p += 2) out.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
  return out;
}

std::string flvTag(const std::string& body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string t(11, '\0');
  t[0] = '\x09';
  xtd::store_be24(&t[1], n);
  t += body + std::string(4, '\0');
  xtd::store_be32(&t[t.size() - 4], n + 11);
  return t;
}

std::string pattern(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7) >> 3);
  return s;
}

// A small mixed tree: both codecs, a flush in the middle of an FLV file, a
// frame larger than the AVI stream buffer, and archives the tool keeps.
std::map<std::string, std::string> mixedTree() {
  const std::string sps = unhex("6742c00dd90141fb011000000300100000030320f142a480");
  const std::string pps = unhex("68cb83cb20");
  std::map<std::string, std::string> tree;
  avdtest::AvdBuilder a;
  a.mjpegHeader(25, 320, 240).frame(pattern(1001, 1), 10).frame(pattern(20000, 2), 11).frame("", 12);
  tree["a.avd"] = a.bytes();
  avdtest::AvdBuilder b;
  b.mjpegHeader(0, 64, 48);
  tree["sub/b.avd"] = b.bytes();
  avdtest::AvdBuilder c;
  c.h264Header(sps, pps).frame(flvTag(pattern(700 * 1024, 3)), 20).frame(flvTag(pattern(500 * 1024, 4)), 21)
      .frame(flvTag("tail"), 22);
  tree["sub/c.avd"] = c.bytes();
  avdtest::AvdBuilder d;
  d.h264Header(sps, pps).frame(flvTag(pattern(300, 5)), 30).raw("cut");
  tree["d.avd"] = d.bytes();
  avdtest::AvdBuilder e;
  e.record(0, avdtest::streamHeaderPayload(9, "", ""));
  tree["e.avd"] = e.bytes();
  return tree;
}

std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files[fs::relative(entry.path(), root).generic_string()] = avdtest::readFile(entry.path());
  }
  return files;
}

void populate(const fs::path& root, const std::map<std::string, std::string>& tree) {
  for (const auto& [name, bytes] : tree) {
    fs::create_directories((root / name).parent_path());
    avdtest::writeFile(root / name, bytes);
  }
}

// Each archive's outcomes, by its name in the tree.
using Outcomes = std::map<std::string, std::vector<ConversionOutcome>>;

// Converts the tree as a run does: outputs committed in batches, the
// names of a directory made durable together before its archives go.
Outcomes convertAll(const fs::path& root, const std::map<std::string, std::string>& tree) {
  Outcomes outcomes;
  for (const auto& entry : tree) outcomes[entry.first].reserve(4);
  auto nameOf = [&](xtd::wstrview path) {
    return fs::path(std::u16string(path.data, path.length)).lexically_relative(root).generic_string();
  };
  {
    Finisher finisher([&](xtd::wstrview path, const ConversionOutcome& o) { outcomes[nameOf(path)].push_back(o); }, 2);
    for (const auto& entry : tree) {
      const xtd::dwstring path = avdtest::widePath(root / entry.first);
      AvdReader reader;
      if (auto ended = convertArchive(path.view(), reader, finisher)) outcomes[entry.first].push_back(*ended);
    }
    finisher.commitAll();
  }
  return outcomes;
}

// What the outcomes say must be what the disk shows: one outcome per
// archive, converted exactly when the archive is gone, and an output in
// place wherever the outcome says it was written.
std::string untrueOutcome(const Outcomes& outcomes, const std::map<std::string, std::string>& after) {
  using R = ConversionOutcome::Reason;
  for (const auto& [name, list] : outcomes) {
    if (list.size() != 1) return name + " has " + std::to_string(list.size()) + " outcomes";
    const ConversionOutcome& o = list.front();
    if (o.converted() == (after.count(name) != 0)) return name + ": the outcome and the disk disagree";
    const bool written = o.reason == R::NotDurable || o.reason == R::Displaced || o.reason == R::StoppedEarly;
    const bool output = after.count(name.substr(0, name.size() - 3) + "avi") || after.count(name.substr(0, name.size() - 3) + "flv");
    if (written && !output) return name + " is reported written without an output";
  }
  return "";
}

std::string outputName(const std::string& archive, const std::string& ext) {
  return archive.substr(0, archive.size() - 3) + ext;
}

class ConversionFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_ = mixedTree();
    avdtest::TempDir reference;
    populate(reference.path(), tree_);
    convertAll(reference.path(), tree_);
    converted_ = snapshot(reference.path());
  }

  // The invariant, for every archive of the tree: what breaks it, or "".
  std::string violation(const std::map<std::string, std::string>& after) const {
    for (const auto& [name, original] : tree_) {
      const auto kept = after.find(name);
      if (kept != after.end()) {
        if (kept->second != original) return name + " was changed";
        continue;
      }
      // Gone: its output must be the one a fault-free run writes.
      bool matched = false;
      for (const char* ext : {"avi", "flv"}) {
        const std::string out = outputName(name, ext);
        const auto written = after.find(out);
        const auto expected = converted_.find(out);
        if (expected == converted_.end()) continue;
        matched = true;
        if (written == after.end()) return name + " was deleted without its output";
        if (written->second != expected->second) return name + " was deleted with a damaged output";
      }
      if (!matched) return name + " was deleted although it cannot be converted";
    }
    return "";
  }

  void checkInvariant(const std::map<std::string, std::string>& after) const { EXPECT_EQ(violation(after), ""); }

  std::map<std::string, std::string> tree_;
  std::map<std::string, std::string> converted_;
};

TEST_F(ConversionFaultTest, FaultFreeRunConvertsWhatItCan) {
  EXPECT_EQ(converted_.count("a.avd"), 0u);
  EXPECT_EQ(converted_.count("a.avi"), 1u);
  EXPECT_EQ(converted_.count("sub/b.avi"), 1u);
  EXPECT_EQ(converted_.count("sub/c.flv"), 1u);
  EXPECT_EQ(converted_.count("d.flv"), 1u);
  EXPECT_EQ(converted_.at("e.avd"), tree_.at("e.avd"));
  EXPECT_EQ(converted_.size(), 5u);
}

// The tree in an in-memory file system, so that a sweep of thousands of
// runs takes seconds; the writers' own tests sweep the real one.
const fs::path kMemoryRoot = "/mem";

void populate(avdtest::MemoryFiles& files, const std::map<std::string, std::string>& tree) {
  for (const auto& [name, bytes] : tree) files.put((kMemoryRoot / name).u16string(), bytes);
}

std::map<std::string, std::string> snapshot(const avdtest::MemoryFiles& files) {
  std::map<std::string, std::string> out;
  for (const auto& [name, bytes] : files.files()) out[fs::path(name).lexically_relative(kMemoryRoot).generic_string()] = bytes;
  return out;
}

// Passes file operations to an in-memory disk until the power fails at
// operation N; from then on nothing reaches the disk any more.
class PowerCut final : public platform::FileApiWrapper {
 public:
  PowerCut(platform::FileApi& disk, long cutAt) : FileApiWrapper(disk), cutAt_(cutAt) {}
  long operations() const { return count_; }
  bool cut() const { return count_ >= cutAt_; }

 protected:
  bool admit(platform::FileOp) override {
    if (++count_ < cutAt_) return true;
    platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::Other));
    return false;
  }

 private:
  long cutAt_;
  long count_ = 0;
};

// A disk that claims to have done what a careless program skipped: the
// power-loss sweep must catch a program that relies on it.
class Careless final : public platform::FileApiWrapper {
 public:
  enum Skip { DirectorySync, DataFlush };
  Careless(platform::FileApi& disk, Skip skip) : FileApiWrapper(disk), skip_(skip) {}
  platform::SyncResult syncParentDirectory(const char16_t* p) override {
    return skip_ == DirectorySync ? platform::SyncResult::Synced : FileApiWrapper::syncParentDirectory(p);
  }
  bool flushToDisk(platform::FileHandle f) override { return skip_ == DataFlush || FileApiWrapper::flushToDisk(f); }
  bool streamFlushToDisk(platform::Stream* s) override {
    return skip_ == DataFlush || FileApiWrapper::streamFlushToDisk(s);
  }
  bool flushFileSystemOf(platform::FileHandle f) override {
    return skip_ == DataFlush || FileApiWrapper::flushFileSystemOf(f);
  }

 private:
  Skip skip_;
};

class PowerLossTest : public ConversionFaultTest {
 protected:
  // Cuts the power at every file operation of a conversion of the tree,
  // with unflushed data lost or garbled, and returns the first broken
  // promise: an archive lost or changed, or a rerun that does not end in the
  // converted state. `careless` puts a lying layer under the program.
  std::string sweep(const Careless::Skip* careless) {
    long operations = 0;
    {
      avdtest::MemoryFiles disk;
      populate(disk, tree_);
      PowerCut counter(disk, 1L << 30);
      avdtest::ScopedFileApi scoped(counter);
      convertAll(kMemoryRoot, tree_);
      operations = counter.operations();
    }
    EXPECT_GT(operations, 20);
    for (long n = 1; n <= operations; ++n) {
      for (bool garble : {false, true}) {
        const std::string where = " (power lost at operation " + std::to_string(n) + (garble ? ", garbled)" : ")");
        avdtest::MemoryFiles disk;
        populate(disk, tree_);
        {
          std::unique_ptr<Careless> liar(careless ? new Careless(disk, *careless) : nullptr);
          PowerCut power(liar ? static_cast<platform::FileApi&>(*liar) : disk, n);
          avdtest::ScopedFileApi scoped(power);
          convertAll(kMemoryRoot, tree_);
          if (!power.cut()) return "the power was never cut" + where;
        }
        disk.crash(garble);
        const std::string broken = violation(snapshot(disk));
        if (!broken.empty()) return broken + where;
        {
          avdtest::ScopedFileApi scoped(disk);
          convertAll(kMemoryRoot, tree_);
        }
        if (snapshot(disk) != converted_) return "the rerun did not convert what was left" + where;
      }
    }
    return "";
  }
};

TEST_F(PowerLossTest, PowerLossAtAnyPointLosesNoArchive) { EXPECT_EQ(sweep(nullptr), ""); }

// The sweep is only as good as its model: a program that skips the sync of
// the renamed output's directory, or renames an output whose data was
// never flushed, must be caught losing an archive.
TEST_F(PowerLossTest, SweepCatchesAMissingDirectorySyncOrFlush) {
  for (Careless::Skip skip : {Careless::DirectorySync, Careless::DataFlush}) {
    EXPECT_NE(sweep(&skip), "") << (skip == Careless::DirectorySync ? "directory sync" : "flush");
  }
}

TEST_F(ConversionFaultTest, NoFaultOnAnyFileOperationLosesAnArchive) {
  unsigned faults = 0;
  for (int k = 0; k < static_cast<int>(FileOp::kCount); ++k) {
    const auto op = static_cast<FileOp>(k);
    for (bool persistent : {false, true}) {
      for (unsigned n = 1;; ++n) {
        SCOPED_TRACE(std::string(avdtest::fileOpName(op)) + (persistent ? " from #" : " #") + std::to_string(n));
        avdtest::MemoryFiles disk;
        populate(disk, tree_);
        avdtest::FaultInjectingFiles injector(disk);
        injector.failAt(op, n, persistent);
        Outcomes outcomes;
        {
          avdtest::ScopedFileApi scoped(injector);
          outcomes = convertAll(kMemoryRoot, tree_);
        }
        EXPECT_EQ(disk.openHandles(), 0) << "a file handle leaked";
        checkInvariant(snapshot(disk));
        EXPECT_EQ(untrueOutcome(outcomes, snapshot(disk)), "");
        // A clean rerun picks up whatever the fault left.
        {
          avdtest::ScopedFileApi scoped(disk);
          convertAll(kMemoryRoot, tree_);
        }
        EXPECT_EQ(snapshot(disk), converted_);
        if (!injector.fired() || HasFailure()) break;
        ++faults;
      }
    }
  }
  RecordProperty("faults_injected", static_cast<int>(faults));
  EXPECT_GT(faults, 50u);
}

}  // namespace

namespace {

TEST_F(ConversionFaultTest, RunningOutOfMemoryKeepsTheArchive) {
  unsigned failures = 0;
  for (long n = 1;; ++n) {
    SCOPED_TRACE("allocation #" + std::to_string(n));
    avdtest::TempDir tmp;
    populate(tmp.path(), tree_);
    std::vector<ConversionOutcome> outcomes;
    for (const auto& entry : tree_) {
      const xtd::dwstring path = avdtest::widePath(tmp.path() / entry.first);
      // Counted from the start of each archive's conversion, as if each were
      // the one that meets the shortage.
      avdtest::failAllocationAt(n);
      const ConversionOutcome outcome = convertArchive(path.view());
      avdtest::disarmAllocationFailure();
      outcomes.push_back(outcome);
    }
    checkInvariant(snapshot(tmp.path()));
    bool anyFired = false;
    for (const ConversionOutcome& o : outcomes) anyFired = anyFired || o.reason == Reason::OutOfMemory;
    if (!anyFired || HasFailure()) break;
    ++failures;
  }
  RecordProperty("allocation_points", static_cast<int>(failures));
  EXPECT_GT(failures, 5u);
}

}  // namespace

namespace {

TEST(ConversionOutcomeTest, EachEndOfAnArchiveHasItsOutcome) {
  const std::string zeros12(12, '\0');
  avdtest::AvdBuilder good;
  good.mjpegHeader(25, 8, 8).frame("jpeg", 1);
  avdtest::AvdBuilder frameFirst, codec3, padded, damaged, twoSessions, cut;
  frameFirst.frame("x", 1);
  codec3.record(0, avdtest::streamHeaderPayload(3, "", ""));
  padded.mjpegHeader(25, 8, 8).frame("jpeg", 1).raw(std::string(5000, '\0'));
  damaged.mjpegHeader(25, 8, 8).frame("jpeg", 1).raw(zeros12).frame("lost", 2);
  twoSessions.mjpegHeader(25, 8, 8).frame("jpeg", 1).mjpegHeader(25, 8, 8).frame("second", 2);
  cut.mjpegHeader(25, 8, 8).frame("jpeg", 1).raw("\x01\x10\0\0partial");
  const std::uint64_t stopAt = good.bytes().size();
  struct Case {
    const char* name;
    std::string bytes;
    Reason reason;
    bool archiveKept;
    bool output;
  } cases[] = {
      {"empty", "", Reason::Empty, true, false},
      {"frame-first", frameFirst.bytes(), Reason::NoStreamHeader, true, false},
      {"codec3", codec3.bytes(), Reason::UnknownCodec, true, false},
      {"good", good.bytes(), Reason::Converted, false, true},
      {"padded", padded.bytes(), Reason::Converted, false, true},
      {"cut", cut.bytes(), Reason::Converted, false, true},
      {"damaged", damaged.bytes(), Reason::StoppedEarly, true, true},
      {"two-sessions", twoSessions.bytes(), Reason::StoppedEarly, true, true},
  };
  avdtest::TempDir tmp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path archive = tmp / (std::string(c.name) + ".avd");
    avdtest::writeFile(archive, c.bytes);
    const ConversionOutcome o = convertArchive(avdtest::widePath(archive).view());
    EXPECT_EQ(o.reason, c.reason);
    EXPECT_EQ(fs::exists(archive), c.archiveKept);
    EXPECT_EQ(fs::exists(tmp / (std::string(c.name) + ".avi")), c.output);
    if (c.reason == Reason::StoppedEarly) {
      EXPECT_EQ(o.offset, stopAt);
      EXPECT_EQ(o.size, c.bytes.size());
    }
  }
  EXPECT_EQ(convertArchive(avdtest::widePath(tmp / "codec3.avd").view()).number, 3u);
  EXPECT_EQ(convertArchive(avdtest::widePath(tmp / "vanished.avd").view()).reason, Reason::Vanished);
  // Nothing but archives and outputs: no temporary file stayed behind.
  for (const auto& e : fs::directory_iterator(tmp.path())) {
    EXPECT_TRUE(e.path().extension() == ".avd" || e.path().extension() == ".avi") << e.path();
  }
}

TEST(ConversionOutcomeTest, ArchivesThatCannotBeConvertedNowAreKept) {
  avdtest::TempDir tmp;
  avdtest::AvdBuilder good;
  good.mjpegHeader(25, 8, 8).frame("jpeg", 1);
  const fs::path archive = tmp / "cam.avd";
  avdtest::writeFile(archive, good.bytes());
  xtd::dwstring path = avdtest::widePath(archive);

  // The output name is a directory.
  fs::create_directory(tmp / "cam.avi");
  ConversionOutcome o = convertArchive(path.view());
  EXPECT_EQ(o.reason, Reason::OutputFailed);
  EXPECT_EQ(o.error.kind, platform::SystemError::Kind::IsDirectory);
  fs::remove(tmp / "cam.avi");

  // Another run holds the archive.
  platform::FileApi& native = platform::nativeFiles();
  const platform::FileHandle held = native.openForRead(path.c_str());
  ASSERT_EQ(native.tryLock(held), platform::LockResult::Locked);
  EXPECT_EQ(convertArchive(path.view()).reason, Reason::InUse);
  native.close(held);
  EXPECT_FALSE(fs::exists(tmp / "cam.avi"));

  // Once the archive has been read to its end, a recorder appends to it,
  // or someone puts another file in its place.
  class Meddling final : public platform::FileApiWrapper {
   public:
    Meddling(const fs::path& file, bool replace)
        : FileApiWrapper(platform::nativeFiles()), file_(file), replace_(replace) {}
    bool rename(const char16_t* from, const char16_t* to) override {
      const std::string late = avdtest::AvdBuilder().frame("late", 9).bytes();
      if (replace_) {
        avdtest::writeFile(file_.string() + ".new", avdtest::readFile(file_) + late);
        // Windows refuses to replace a file open without delete sharing.
        std::error_code refused;
        fs::rename(file_.string() + ".new", file_, refused);
        replaced = !refused;
        if (refused) fs::remove(file_.string() + ".new");
      } else {
        avdtest::appendFile(file_, late);
      }
      return FileApiWrapper::rename(from, to);
    }

    bool replaced = false;

   private:
    fs::path file_;
    bool replace_;
  };
  for (bool replace : {false, true}) {
    avdtest::writeFile(archive, good.bytes());
    Meddling meddling(archive, replace);
    {
      avdtest::ScopedFileApi scoped(meddling);
      o = convertArchive(path.view());
    }
    EXPECT_TRUE(fs::exists(tmp / "cam.avi"));
    if (replace && !meddling.replaced) {
      EXPECT_EQ(o.reason, Reason::Converted);
      continue;
    }
    EXPECT_EQ(o.reason, replace ? Reason::Changed : Reason::BeingWritten);
    EXPECT_EQ(avdtest::readFile(archive).size(), good.bytes().size() + 12 + 4);
    // The next run converts it whole.
    EXPECT_EQ(convertArchive(path.view()).reason, Reason::Converted);
    EXPECT_FALSE(fs::exists(archive));
  }
}

// A read that fails past the first refill is not the end of the archive:
// faults on the reading side of an archive larger than one refill.
TEST(ConversionOutcomeTest, ReadFaultsInALargeArchiveKeepIt) {
  // Just over one refill: the second read begins inside the last frame.
  avdtest::AvdBuilder big;
  big.mjpegHeader(25, 8, 8);
  for (int i = 0; i < 10; ++i) big.frame(std::string(1024 * 1024, static_cast<char>('a' + i)), i);
  big.frame("tail", 10);
  const xtd::wstrview archive = xtd::wstrview::literal(u"/mem/big.avd");
  std::string converted;
  {
    avdtest::MemoryFiles disk;
    disk.put(u"/mem/big.avd", big.bytes());
    avdtest::ScopedFileApi scoped(disk);
    ASSERT_EQ(convertArchive(archive).reason, Reason::Converted);
    converted = disk.contents(u"/mem/big.avi");
  }
  unsigned injected = 0;
  for (FileOp op : {FileOp::Read, FileOp::Seek, FileOp::Status}) {
    for (bool persistent : {false, true}) {
      // Each conversion moves tens of MiB: a failing read for good is the one
      // lasting fault worth its time.
      if (persistent && op != FileOp::Read) continue;
      for (unsigned n = 1;; ++n) {
        SCOPED_TRACE(std::string(avdtest::fileOpName(op)) + (persistent ? " from #" : " #") + std::to_string(n));
        avdtest::MemoryFiles disk;
        disk.put(u"/mem/big.avd", big.bytes());
        avdtest::FaultInjectingFiles faults(disk);
        faults.failAt(op, n, persistent);
        ConversionOutcome o;
        {
          avdtest::ScopedFileApi scoped(faults);
          o = convertArchive(archive);
        }
        // Kept whole with no trace of the conversion, or converted whole.
        const bool kept = disk.exists(u"/mem/big.avd");
        EXPECT_EQ(kept, o.reason != Reason::Converted);
        EXPECT_EQ(disk.files().size(), 1u) << "a temporary file was left, or the output beside the archive";
        EXPECT_TRUE(kept ? disk.contents(u"/mem/big.avd") == big.bytes() : disk.contents(u"/mem/big.avi") == converted);
        if (op == FileOp::Read && n == 2) {
          EXPECT_EQ(o.reason, Reason::ReadError);
          // The refill that failed began with the record across the first refill's end.
          EXPECT_GT(o.offset, std::uint64_t{9 * 1024 * 1024});
        }
        if (!faults.fired() || HasFailure()) break;
        ++injected;
      }
    }
  }
  EXPECT_GT(injected, 6u);
}

}  // namespace
