#pragma once

#include <cstdint>

#include "archive/record_check.h"
#include "xtd/strview.h"

// Where the records of a damaged archive resume: the first offset at or
// after a given one where a chain of records checks out. One plausible
// header means little (in random bytes one turns up every few hundred
// kilobytes), so a record is taken only when its header, its payload and
// the record after it all check out, or when it ends exactly at the end of
// the file. The scan looks at every byte only to find a type byte that
// exists; all-zero stretches are passed over whole.
namespace record_search {

// The bytes of the file searched.
class Source {
 public:
  // Sets `out` to the bytes from `at` on: at least `n` of them, or all
  // there are up to the end of the file. A view stays valid until the next
  // call. False when a read failed.
  virtual bool bytes(std::uint64_t at, std::uint32_t n, xtd::strview& out) = 0;

 protected:
  ~Source() = default;
};

enum class Result : std::uint8_t { Found, NotFound, ReadFailed };

// How far candidates got (the false-positive bench prints them).
struct Counts {
  std::uint64_t typeBytes = 0;  // positions whose type byte exists, all-zero stretches aside
  std::uint64_t headers = 0;    // whose header checks out
  std::uint64_t payloads = 0;   // whose payload checks out too
  std::uint64_t accepted = 0;   // with the record after it (or the end of the file)
};

// Searches `source`, a file of `size` bytes, from `from` on. `check` holds
// the session's codec and the last good record's time.
Result find(Source& source, std::uint64_t from, std::uint64_t size, const RecordCheck& check, std::uint64_t& found,
            Counts* counts = nullptr);

}  // namespace record_search
