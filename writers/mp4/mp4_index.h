#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// What the MP4 head says about every sample, collected in one pass over an
// archive before anything is written. A day at 25 fps is over two million
// samples, so each costs 8 bytes (12 once some composition offset is not
// zero), kept in fixed blocks: growing never copies, so the peak is the data.
//
// The timeline: a sample's time is its capture time less the first sample's,
// in microseconds. Capture clocks get set, stepped by time sync and jump, so a
// capture time that does not move forward, or moves forward by more than
// kMaxStepMicros, is not trusted: that sample follows the one before it by
// the step taken last (kDefaultDurationMicros for the second sample), and
// later samples keep their capture spacing from there. Every sample is kept
// and every duration is positive. The last sample lasts as long as the one
// before it.
class Mp4Index {
 public:
  // Media time counts microseconds, the capture clock's own unit.
  static constexpr std::uint32_t kTimescale = 1000000;
  // A step longer than an hour is more likely a clock set wrong than a camera
  // idle that long while recording; it also keeps a duration in 32 bits.
  static constexpr std::uint32_t kMaxStepMicros = 3600u * 1000000u;
  // A frame at 25 fps: the duration when there is no earlier one to copy.
  static constexpr std::uint32_t kDefaultDurationMicros = 40000;
  // Sizes sit in 31 bits beside the sync flag; FLV tags stay far below.
  static constexpr std::uint32_t kMaxSampleSize = 0x7FFFFFFF;
  // Keeps every table of the head, and the head, within 32-bit box sizes.
  static constexpr std::uint32_t kMaxSamples = 1u << 26;
  // Composition offsets beyond about 35 minutes are clamped, so that they
  // stay within the head's signed 32-bit microseconds.
  static constexpr std::int32_t kMaxCompositionMs = 2147483;

  Mp4Index() = default;
  Mp4Index(const Mp4Index&) = delete;
  Mp4Index& operator=(const Mp4Index&) = delete;

  // Appends one sample in decode order: its size in bytes (at most
  // kMaxSampleSize), its capture time in microseconds since 1970, its
  // composition offset in milliseconds (FLV's composition time) and whether
  // it is a sync sample. Returns the sample's time on the output timeline,
  // in microseconds. Throws std::bad_alloc when memory or kMaxSamples runs out.
  std::int64_t add(std::uint32_t size, std::int64_t captureMicros, std::int32_t compositionMs, bool sync);

  std::uint32_t count() const { return count_; }
  // The sum of the sample sizes: the mdat payload.
  std::uint64_t dataSize() const { return dataSize_; }
  std::int64_t firstCaptureMicros() const { return firstCapture_; }
  // The sum of the sample durations, in microseconds.
  std::uint64_t durationMicros() const;

  // Sample i (below count()): its size, whether it is a sync sample, its
  // duration in microseconds and its composition offset in microseconds. The
  // time of sample i is the sum of the durations before it.
  std::uint32_t size(std::uint32_t i) const { return entry(i).sizeSync & kMaxSampleSize; }
  bool sync(std::uint32_t i) const { return (entry(i).sizeSync & ~kMaxSampleSize) != 0; }
  std::uint32_t duration(std::uint32_t i) const;
  std::int32_t compositionMicros(std::uint32_t i) const;

  // Run-length summaries the head's tables are sized by.
  std::uint32_t durationRuns() const;
  std::uint32_t compositionRuns() const { return compositionRuns_; }
  bool hasComposition() const { return !compositions_.empty(); }
  bool hasNegativeComposition() const { return negativeComposition_; }
  std::uint32_t syncCount() const { return syncCount_; }

  // The bytes the index holds on the heap.
  std::uint64_t memoryBytes() const;

 private:
  struct Entry {
    std::uint32_t sizeSync;  // size, and the top bit for a sync sample
    std::uint32_t step;      // time since the sample before; 0 for the first
  };
  static constexpr std::uint32_t kBlockShift = 16;
  static constexpr std::uint32_t kBlockMask = (1u << kBlockShift) - 1;

  // A growable array in fixed blocks of 2^kBlockShift elements.
  template <class T>
  struct Blocks {
    std::vector<std::unique_ptr<T[]>> blocks;
    bool empty() const { return blocks.empty(); }
    T& at(std::uint32_t i) const { return blocks[i >> kBlockShift][i & kBlockMask]; }
    T& slot(std::uint32_t i) {  // element i, its block added when missing
      if (blocks.size() <= (i >> kBlockShift)) blocks.push_back(std::make_unique_for_overwrite<T[]>(kBlockMask + 1));
      return at(i);
    }
  };

  const Entry& entry(std::uint32_t i) const { return entries_.at(i); }
  void addComposition(std::int32_t ms);

  Blocks<Entry> entries_;
  Blocks<std::int32_t> compositions_;  // in ms; empty while every offset is 0
  std::uint32_t count_ = 0;
  std::uint64_t dataSize_ = 0;
  std::int64_t firstCapture_ = 0;
  std::int64_t lastCapture_ = 0;
  std::int64_t lastTime_ = 0;
  std::uint32_t lastStep_ = 0;
  std::uint32_t stepRuns_ = 0;  // runs among the steps of samples 1..count-1
  std::int32_t lastCompositionMs_ = 0;
  std::uint32_t compositionRuns_ = 0;
  bool negativeComposition_ = false;
  std::uint32_t syncCount_ = 0;
};
