#include "app/finisher.h"

#include <new>

#include "platform/paths.h"

namespace {

// The directory part of an archive's path: what its batch shares.
xtd::wstrview directoryOf(const xtd::dwstring& path) {
  std::uint32_t cut = path.length();
  while (cut > 0 && path[cut - 1] != platform::kPathSeparator) --cut;
  return xtd::wstrview(path.data(), cut);
}

}  // namespace

Finisher::Finisher(Record record, std::uint32_t batchLimit)
    : record_(std::move(record)), batchLimit_(batchLimit == 0 ? 1 : batchLimit) {
  open_.reserve(batchLimit_);
}

Finisher::~Finisher() { commitAll(); }

std::vector<CompletedConversion> Finisher::closeBatch() {
  std::vector<CompletedConversion> batch;
  batch.reserve(batchLimit_);
  batch.swap(open_);
  return batch;
}

void Finisher::take(CompletedConversion conversion) {
  std::vector<CompletedConversion> earlier;
  std::vector<CompletedConversion> ready;
  bool taken = false;
  if (conversion.outcome.size < kLargeArchive) {
    try {
      Ostra::LockGuard guard(lock_);
      const Ostra::Tick now = Ostra::currentTick();
      const xtd::wstrview directory = directoryOf(conversion.archive.path());
      // Another directory, or a batch left waiting too long, goes first.
      if (!open_.empty() &&
          (!xtd::equals(directory, directory_.view()) || Ostra::tickDiff(now, started_) > kBatchTicks)) {
        earlier = closeBatch();
      }
      if (open_.empty()) {
        directory_.assign(directory);
        started_ = now;
      }
      // The room was made when the batch before was handed over.
      open_.push_back(std::move(conversion));
      taken = true;
      if (open_.size() >= batchLimit_) ready = closeBatch();
    } catch (const std::bad_alloc&) {
      // No room for a batch: what is not in one is committed alone.
    }
  }
  if (!taken) commitConversions(&conversion, 1, record_);
  commitConversions(earlier.data(), earlier.size(), record_);
  commitConversions(ready.data(), ready.size(), record_);
}

void Finisher::commitAll() {
  std::vector<CompletedConversion> batch;
  {
    Ostra::LockGuard guard(lock_);
    batch.swap(open_);
  }
  commitConversions(batch.data(), batch.size(), record_);
  batch.clear();
  Ostra::LockGuard guard(lock_);
  // Room for the next batch, when there is memory for it; without, the
  // next conversion is committed alone.
  if (open_.capacity() < batchLimit_ && batch.capacity() >= batchLimit_) open_.swap(batch);
}
