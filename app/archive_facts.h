#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/sha256.h"
#include "xtd/dstring.h"

class StagedFile;

// What the report file tells about one archive beside its outcome: what was
// read of it, what was written for it, and the hashes of both.
struct ArchiveFacts {
  using Digest = platform::Sha256::Digest;

  // A capture time: seconds and microseconds since 1970, UTC.
  struct Time {
    std::uint32_t seconds = 0;
    std::uint32_t microseconds = 0;
  };
  struct Output {
    xtd::dwstring path;  // its final name
    std::uint64_t bytes = 0;
    std::optional<Digest> sha256;
  };

  // In the order they are committed.
  std::vector<Output> outputs;
  // The frames written into the output, and the first and last one's time.
  std::uint64_t frames = 0;
  Time first;
  Time last;
  std::uint64_t bytesRead = 0;
  // None when the archive was not read whole.
  std::optional<Digest> archiveSha256;
  // The outputs are those an earlier run made from the archive, as found.
  bool earlierOutputs = false;

  void addFrame(std::uint32_t seconds, std::uint32_t microseconds) {
    if (frames++ == 0) first = Time{seconds, microseconds};
    last = Time{seconds, microseconds};
  }
};

// The facts of a sealed output: it is read back once, by its temporary
// name, as the commit will rename it (a format that patches its header
// leaves nothing to hash on the way). No digest when it cannot be read back
// or is no longer the file written. Throws std::bad_alloc.
ArchiveFacts::Output outputFacts(const StagedFile& output);
// The facts of an output an earlier run left at `path`.
ArchiveFacts::Output existingOutputFacts(xtd::wstrview path);
