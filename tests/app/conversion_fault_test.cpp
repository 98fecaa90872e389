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
#include "tests/support/alloc_faults.h"
#include "tests/support/avd_builder.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using avdtest::FileOp;

std::string unhex(const char* hex) {
  std::string out;
  for (const char* p = hex; p[0] && p[1]; p += 2) out.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
  return out;
}

std::string flvTag(const std::string& body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  std::string t = {'\x09', static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
  t += std::string(7, '\0') + body;
  const std::uint32_t prev = n + 11;
  t += {static_cast<char>(prev >> 24), static_cast<char>(prev >> 16), static_cast<char>(prev >> 8),
        static_cast<char>(prev)};
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

void convertAll(const fs::path& root, const std::map<std::string, std::string>& tree) {
  for (const auto& entry : tree) {
    const xtd::dwstring path = avdtest::widePath(root / entry.first);
    convertArchive(path.view());
  }
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

  // The invariant, for every archive of the tree.
  void checkInvariant(const std::map<std::string, std::string>& after) {
    for (const auto& [name, original] : tree_) {
      const auto kept = after.find(name);
      if (kept != after.end()) {
        EXPECT_EQ(kept->second, original) << name << " was changed";
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
        ASSERT_NE(written, after.end()) << name << " was deleted without its output";
        EXPECT_EQ(written->second, expected->second) << name << " was deleted with a damaged output";
      }
      EXPECT_TRUE(matched) << name << " was deleted although it cannot be converted";
    }
  }

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
class PowerCut final : public platform::FileApi {
 public:
  PowerCut(avdtest::MemoryFiles& disk, long cutAt) : disk_(disk), cutAt_(cutAt) {}
  long operations() const { return count_; }
  bool cut() const { return count_ >= cutAt_; }

  platform::FileHandle openForRead(const char16_t* p) override { return on() ? disk_.openForRead(p) : platform::kInvalidFile; }
  platform::FileHandle createForWrite(const char16_t* p) override { return on() ? disk_.createForWrite(p) : platform::kInvalidFile; }
  bool read(platform::FileHandle f, void* b, std::uint32_t n, std::uint32_t& got) override {
    got = 0;
    return on() && disk_.read(f, b, n, got);
  }
  bool write(platform::FileHandle f, const void* d, std::uint32_t n) override { return on() && disk_.write(f, d, n); }
  bool seek(platform::FileHandle f, std::uint64_t o) override { return on() && disk_.seek(f, o); }
  bool size(platform::FileHandle f, std::uint64_t& b) override { return on() && disk_.size(f, b); }
  bool flushToDisk(platform::FileHandle f) override { return on() && disk_.flushToDisk(f); }
  bool close(platform::FileHandle f) override { return on() && disk_.close(f); }
  bool remove(const char16_t* p) override { return on() && disk_.remove(p); }
  bool syncParentDirectory(const char16_t* p) override { return on() && disk_.syncParentDirectory(p); }
  platform::Stream* streamOpen(const char16_t* p, char* b, std::size_t n) override {
    return on() ? disk_.streamOpen(p, b, n) : nullptr;
  }
  std::size_t streamWrite(platform::Stream* s, const void* d, std::size_t n) override {
    return on() ? disk_.streamWrite(s, d, n) : 0;
  }
  std::size_t streamRead(platform::Stream* s, void* b, std::size_t n) override { return on() ? disk_.streamRead(s, b, n) : 0; }
  bool streamSeek(platform::Stream* s, std::uint64_t o) override { return on() && disk_.streamSeek(s, o); }
  bool streamFlushToDisk(platform::Stream* s) override { return on() && disk_.streamFlushToDisk(s); }
  bool streamClose(platform::Stream* s) override { return on() && disk_.streamClose(s); }

 private:
  bool on() { return ++count_ < cutAt_; }

  avdtest::MemoryFiles& disk_;
  long cutAt_;
  long count_ = 0;
};

TEST_F(ConversionFaultTest, PowerLossAtAnyPointLosesNoArchive) {
  long operations = 0;
  {
    avdtest::MemoryFiles disk;
    populate(disk, tree_);
    PowerCut counter(disk, 1L << 30);
    avdtest::ScopedFileApi scoped(counter);
    convertAll(kMemoryRoot, tree_);
    operations = counter.operations();
  }
  ASSERT_GT(operations, 20);
  for (long n = 1; n <= operations; ++n) {
    for (bool garble : {false, true}) {
      SCOPED_TRACE("power lost at operation " + std::to_string(n) + (garble ? ", unflushed data garbled" : ""));
      avdtest::MemoryFiles disk;
      populate(disk, tree_);
      {
        PowerCut power(disk, n);
        avdtest::ScopedFileApi scoped(power);
        convertAll(kMemoryRoot, tree_);
        ASSERT_TRUE(power.cut());
      }
      disk.crash(garble);
      checkInvariant(snapshot(disk));
      {
        avdtest::ScopedFileApi scoped(disk);
        convertAll(kMemoryRoot, tree_);
      }
      EXPECT_EQ(snapshot(disk), converted_);
      if (HasFailure()) return;
    }
  }
  RecordProperty("power_loss_points", static_cast<int>(operations));
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
        {
          avdtest::ScopedFileApi scoped(injector);
          convertAll(kMemoryRoot, tree_);
        }
        EXPECT_EQ(disk.openHandles(), 0) << "a file handle leaked";
        checkInvariant(snapshot(disk));
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
    for (ConversionOutcome o : outcomes) anyFired = anyFired || o == ConversionOutcome::Failed;
    if (!anyFired || HasFailure()) break;
    ++failures;
  }
  RecordProperty("allocation_points", static_cast<int>(failures));
  EXPECT_GT(failures, 5u);
}

}  // namespace

namespace {

TEST(ConversionOutcomeTest, ArchiveGoneSinceTheScanLeavesNothingBehind) {
  avdtest::TempDir tmp;
  const xtd::dwstring path = avdtest::widePath(tmp / "vanished.avd");
  EXPECT_EQ(convertArchive(path.view()), ConversionOutcome::CannotOpen);
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST(ConversionOutcomeTest, EachWayAnArchiveCanFailIsReported) {
  avdtest::TempDir tmp;
  auto convert = [&](const std::string& name, const std::string& bytes) {
    avdtest::writeFile(tmp / name, bytes);
    const xtd::dwstring path = avdtest::widePath(tmp / name);
    return convertArchive(path.view());
  };
  EXPECT_EQ(convert("empty.avd", ""), ConversionOutcome::NoStreamHeader);
  avdtest::AvdBuilder frameFirst;
  frameFirst.frame("x", 1);
  EXPECT_EQ(convert("frame.avd", frameFirst.bytes()), ConversionOutcome::NoStreamHeader);
  avdtest::AvdBuilder codec3;
  codec3.record(0, avdtest::streamHeaderPayload(3, "", ""));
  EXPECT_EQ(convert("codec3.avd", codec3.bytes()), ConversionOutcome::NoWriter);
  avdtest::AvdBuilder good;
  good.mjpegHeader(25, 8, 8).frame("jpeg", 1);
  EXPECT_EQ(convert("good.avd", good.bytes()), ConversionOutcome::Converted);
  // The output name is taken by a directory: the first frame is refused.
  fs::create_directory(tmp / "taken.avi");
  EXPECT_EQ(convert("taken.avd", good.bytes()), ConversionOutcome::WriterRefused);
  EXPECT_TRUE(fs::exists(tmp / "taken.avd"));
  for (const char* kept : {"empty.avd", "frame.avd", "codec3.avd"}) EXPECT_TRUE(fs::exists(tmp / kept)) << kept;
  EXPECT_FALSE(fs::exists(tmp / "good.avd"));
  EXPECT_FALSE(fs::exists(tmp / "codec3.avi"));
  EXPECT_FALSE(fs::exists(tmp / "codec3.flv"));
}

}  // namespace
