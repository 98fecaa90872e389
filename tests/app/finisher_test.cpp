#include "app/finisher.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/file_convert_task.h"
#include "archive/avd_reader.h"
#include "platform/paths.h"
#include "tests/support/alloc_faults.h"
#include "tests/support/avd_builder.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"

namespace {

using Reason = ConversionOutcome::Reason;

class FinisherTest : public ::testing::Test {
 protected:
  void SetUp() override { fill(); }

  // A fresh disk with the same archives, nothing recorded.
  void refill() {
    disk_ = std::make_unique<avdtest::MemoryFiles>();
    names_.clear();
    recorded_.clear();
    subjects_.clear();
    fill();
  }

  void fill() {
    avdtest::AvdBuilder archive;
    archive.mjpegHeader(25, 8, 8).frame("jpeg", 1);
    const std::u16string sep(1, platform::kPathSeparator);
    for (int i = 0; i < 7; ++i) names_.push_back(u"mem" + sep + u"one" + sep + u"a" + std::u16string(1, u'0' + i) + u".avd");
    for (int i = 0; i < 2; ++i) names_.push_back(u"mem" + sep + u"two" + sep + u"b" + std::u16string(1, u'0' + i) + u".avd");
    for (const auto& name : names_) {
      disk_->put(name, archive.bytes());
      // Recording needs no memory: a test may make any allocation fail.
      recorded_[name].reserve(4);
      subjects_.reserve(64);
    }
  }

  std::u16string outputOf(const std::u16string& archive) const { return archive.substr(0, archive.size() - 3) + u"avi"; }

  void convert(Finisher& finisher, std::size_t first, std::size_t step) {
    for (std::size_t i = first; i < names_.size(); i += step) {
      AvdReader reader;
      const auto ended = convertArchive(xtd::wstrview(names_[i].data(), static_cast<std::uint32_t>(names_[i].size())),
                                        reader, finisher);
      EXPECT_FALSE(ended) << "the conversion did not reach the finisher";
    }
  }

  Finisher::Record recorder() {
    return [this](xtd::wstrview archive, const ConversionOutcome& o) {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto it = recorded_.find(std::u16string_view(archive.data, archive.length));
      ASSERT_NE(it, recorded_.end());
      it->second.push_back(o.reason);
      subjects_.push_back(o.subject);
    };
  }

  void expectAllConvertedOnce() {
    for (const auto& name : names_) {
      EXPECT_EQ(recorded_[name], std::vector<Reason>{Reason::Converted});
      EXPECT_FALSE(disk_->exists(name));
      EXPECT_TRUE(disk_->exists(name.substr(0, name.size() - 3) + u"avi"));
    }
  }

  std::unique_ptr<avdtest::MemoryFiles> disk_ = std::make_unique<avdtest::MemoryFiles>();
  std::vector<std::u16string> names_;
  std::mutex mutex_;
  std::map<std::u16string, std::vector<Reason>, std::less<>> recorded_;
  std::vector<ConversionOutcome::Subject> subjects_;
};

// One directory sync per batch: a batch closes when it is full, when an
// archive of another directory arrives, and at the end.
TEST_F(FinisherTest, EachBatchOfADirectoryShareOneSync) {
  avdtest::FaultInjectingFiles counting(*disk_);
  {
    avdtest::ScopedFileApi scoped(counting);
    Finisher finisher(recorder(), 3);
    convert(finisher, 0, 1);
    EXPECT_TRUE(recorded_[names_.back()].empty()) << "the last batch waits for the end";
    finisher.commitAll();
  }
  expectAllConvertedOnce();
  // "one": 3 + 3 + 1, then "two": 2.
  EXPECT_EQ(counting.calls(avdtest::FileOp::SyncDirectory), 4u);
}

// Two workers hand over at once; each conversion is committed exactly once.
TEST_F(FinisherTest, SeveralWorkersShareTheBatches) {
  {
    avdtest::ScopedFileApi scoped(*disk_);
    Finisher finisher(recorder(), 2);
    std::thread other([&] { convert(finisher, 1, 2); });
    convert(finisher, 0, 2);
    other.join();
    finisher.commitAll();
  }
  expectAllConvertedOnce();
}

// A directory that cannot be synced leaves the outputs in place and the
// archives kept, each told so with the directory's failed call; one that
// says it cannot sync directories at all is no failure.
TEST_F(FinisherTest, AFailedDirectorySyncKeepsArchivesWithTheirOutputsInPlace) {
  for (bool unsupported : {false, true}) {
    SCOPED_TRACE(unsupported ? "not supported" : "failed");
    refill();
    avdtest::FaultInjectingFiles faults(*disk_);
    faults.failAt(avdtest::FileOp::SyncDirectory, 1, true);
    faults.syncFailsAsUnsupported(unsupported);
    {
      avdtest::ScopedFileApi scoped(faults);
      Finisher finisher(recorder());
      convert(finisher, 0, 1);
      finisher.commitAll();
    }
    if (unsupported) {
      expectAllConvertedOnce();
      continue;
    }
    for (const auto& name : names_) {
      EXPECT_EQ(recorded_[name], std::vector<Reason>{Reason::NotDurable});
      EXPECT_TRUE(disk_->exists(name));
      EXPECT_TRUE(disk_->exists(outputOf(name)));
    }
    EXPECT_EQ(subjects_, std::vector<ConversionOutcome::Subject>(names_.size(), ConversionOutcome::Subject::Directory));
  }
}

// Whatever allocation fails while a conversion is handed over and
// committed, every archive is told exactly once, as the disk shows it.
TEST_F(FinisherTest, EveryArchiveIsToldOnceWhateverAllocationFailsInTheHandOver) {
  class Armed final : public CompletionSink {
   public:
    Armed(Finisher& finisher, long n) : finisher_(finisher), n_(n) {}
    void take(CompletedConversion conversion) override {
      avdtest::failAllocationAt(n_);
      finisher_.take(std::move(conversion));
      fired = fired || avdtest::allocationFailureFired();
      avdtest::disarmAllocationFailure();
    }
    bool fired = false;

   private:
    Finisher& finisher_;
    long n_;
  };
  long failures = 0;
  for (long n = 1;; ++n) {
    SCOPED_TRACE("allocation #" + std::to_string(n));
    refill();
    bool fired = false;
    {
      avdtest::ScopedFileApi scoped(*disk_);
      Finisher finisher(recorder(), 3);
      Armed armed(finisher, n);
      for (const auto& name : names_) {
        AvdReader reader;
        const auto ended = convertArchive(xtd::wstrview(name.data(), static_cast<std::uint32_t>(name.size())), reader, armed);
        if (ended) recorded_[name].push_back(ended->reason);
      }
      avdtest::failAllocationAt(n);
      finisher.commitAll();
      fired = armed.fired || avdtest::allocationFailureFired();
      avdtest::disarmAllocationFailure();
    }
    for (const auto& name : names_) {
      ASSERT_EQ(recorded_[name].size(), 1u) << "told " << recorded_[name].size() << " times";
      const bool converted = recorded_[name].front() == Reason::Converted;
      EXPECT_EQ(disk_->exists(name), !converted);
      if (converted) {
        EXPECT_TRUE(disk_->exists(outputOf(name)));
      }
    }
    EXPECT_EQ(disk_->openHandles(), 0);
    if (!fired || HasFailure()) break;
    ++failures;
  }
  EXPECT_GT(failures, 5);
}

}  // namespace
