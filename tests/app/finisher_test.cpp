#include "app/finisher.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/file_convert_task.h"
#include "archive/avd_reader.h"
#include "platform/paths.h"
#include "tests/support/avd_builder.h"
#include "tests/support/fault_files.h"
#include "tests/support/memory_files.h"

namespace {

using Reason = ConversionOutcome::Reason;

class FinisherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    avdtest::AvdBuilder archive;
    archive.mjpegHeader(25, 8, 8).frame("jpeg", 1);
    const std::u16string sep(1, platform::kPathSeparator);
    for (int i = 0; i < 7; ++i) names_.push_back(u"mem" + sep + u"one" + sep + u"a" + std::u16string(1, u'0' + i) + u".avd");
    for (int i = 0; i < 2; ++i) names_.push_back(u"mem" + sep + u"two" + sep + u"b" + std::u16string(1, u'0' + i) + u".avd");
    for (const auto& name : names_) disk_.put(name, archive.bytes());
  }

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
      recorded_[std::u16string(archive.data, archive.length)].push_back(o.reason);
    };
  }

  void expectAllConvertedOnce() {
    EXPECT_EQ(recorded_.size(), names_.size());
    for (const auto& name : names_) {
      EXPECT_EQ(recorded_[name], std::vector<Reason>{Reason::Converted});
      EXPECT_FALSE(disk_.exists(name));
      EXPECT_TRUE(disk_.exists(name.substr(0, name.size() - 3) + u"avi"));
    }
  }

  avdtest::MemoryFiles disk_;
  std::vector<std::u16string> names_;
  std::mutex mutex_;
  std::map<std::u16string, std::vector<Reason>> recorded_;
};

// One directory sync per batch: a batch closes when it is full, when an
// archive of another directory arrives, and at the end.
TEST_F(FinisherTest, EachBatchOfADirectoryShareOneSync) {
  avdtest::FaultInjectingFiles counting(disk_);
  {
    avdtest::ScopedFileApi scoped(counting);
    Finisher finisher(recorder(), 3);
    convert(finisher, 0, 1);
    EXPECT_LT(recorded_.size(), names_.size()) << "the last batch waits for the end";
    finisher.commitAll();
  }
  expectAllConvertedOnce();
  // "one": 3 + 3 + 1, then "two": 2.
  EXPECT_EQ(counting.calls(avdtest::FileOp::SyncDirectory), 4u);
}

// Two workers hand over at once; each conversion is committed exactly once.
TEST_F(FinisherTest, SeveralWorkersShareTheBatches) {
  {
    avdtest::ScopedFileApi scoped(disk_);
    Finisher finisher(recorder(), 2);
    std::thread other([&] { convert(finisher, 1, 2); });
    convert(finisher, 0, 2);
    other.join();
    finisher.commitAll();
  }
  expectAllConvertedOnce();
}

}  // namespace
