#include "writers/mp4/mp4_index.h"

#include <new>

std::int64_t Mp4Index::add(std::uint32_t size, std::int64_t captureMicros, std::int32_t compositionMs, bool sync) {
  if (count_ >= kMaxSamples || size > kMaxSampleSize) throw std::bad_alloc();
  if (compositionMs > kMaxCompositionMs) compositionMs = kMaxCompositionMs;
  if (compositionMs < -kMaxCompositionMs) compositionMs = -kMaxCompositionMs;
  // Room first, so that a failed allocation leaves the index as it was.
  Entry& e = entries_.slot(count_);
  if (!compositions_.empty()) {
    compositions_.slot(count_) = compositionMs;
  } else if (compositionMs != 0) {
    Blocks<std::int32_t> filled;
    for (std::uint32_t i = 0; i < count_; ++i) filled.slot(i) = 0;
    filled.slot(count_) = compositionMs;
    compositions_ = std::move(filled);
  }

  std::uint32_t step = 0;
  if (count_ == 0) {
    firstCapture_ = captureMicros;
  } else {
    // Unsigned, so that no pair of capture times overflows the difference.
    const bool trusted = captureMicros > lastCapture_ &&
                         static_cast<std::uint64_t>(captureMicros) - static_cast<std::uint64_t>(lastCapture_) <=
                             kMaxStepMicros;
    step = trusted ? static_cast<std::uint32_t>(captureMicros - lastCapture_)
                   : (lastStep_ != 0 ? lastStep_ : kDefaultDurationMicros);
    if (count_ == 1 || step != lastStep_) ++stepRuns_;
    lastStep_ = step;
    lastTime_ += step;
  }
  lastCapture_ = captureMicros;
  e = Entry{size | (sync ? ~kMaxSampleSize : 0u), step};

  if (count_ == 0 || compositionMs != lastCompositionMs_) ++compositionRuns_;
  lastCompositionMs_ = compositionMs;
  if (compositionMs < 0) negativeComposition_ = true;
  if (sync) ++syncCount_;
  dataSize_ += size;
  ++count_;
  return lastTime_;
}

std::uint64_t Mp4Index::durationMicros() const {
  return count_ == 0 ? 0 : static_cast<std::uint64_t>(lastTime_) + duration(count_ - 1);
}

std::uint32_t Mp4Index::duration(std::uint32_t i) const {
  if (i + 1 < count_) return entry(i + 1).step;
  return count_ == 1 ? kDefaultDurationMicros : entry(i).step;
}

std::int32_t Mp4Index::compositionMicros(std::uint32_t i) const {
  return compositions_.empty() ? 0 : compositions_.at(i) * 1000;
}

std::uint32_t Mp4Index::durationRuns() const { return count_ <= 1 ? count_ : stepRuns_; }

std::uint64_t Mp4Index::memoryBytes() const {
  const std::uint64_t block = std::uint64_t{kBlockMask} + 1;
  return entries_.blocks.size() * block * sizeof(Entry) + entries_.blocks.capacity() * sizeof(void*) +
         compositions_.blocks.size() * block * sizeof(std::int32_t) +
         compositions_.blocks.capacity() * sizeof(void*);
}
