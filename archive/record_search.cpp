#include "archive/record_search.h"

#include <cstring>

#include "archive/stream_header.h"

namespace record_search {
namespace {

constexpr std::uint32_t kHeader = AvdRecordHeader::kSize;
constexpr std::uint64_t kOnes = 0x0101010101010101ull;

// Whether any of the eight bytes at `p` is below 3, the types that exist
// (exact as a yes or no, not as to which byte).
bool anyTypeByte(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return ((w - 3 * kOnes) & ~w & 0x80 * kOnes) != 0;
}

// The first index in [i, end) whose byte is a type that exists, or `end`.
std::uint32_t nextTypeByte(const char* p, std::uint32_t i, std::uint32_t end) {
  while (i + 8 <= end && !anyTypeByte(p + i)) i += 8;
  while (i < end && static_cast<std::uint8_t>(p[i]) > AvdRecordHeader::kLastType) ++i;
  return i;
}

// The first index in [i, end) whose byte is not zero, or `end`.
std::uint32_t nextNonZero(const char* p, std::uint32_t i, std::uint32_t end) {
  while (i + 8 <= end) {
    std::uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    if (w != 0) break;
    i += 8;
  }
  while (i < end && p[i] == 0) ++i;
  return i;
}

// Whether the record at `at`, whose header checks out, has a payload that
// does and is followed by a record that does too (or by the end of the
// file).
Result chain(Source& source, std::uint64_t at, std::uint64_t size, const RecordCheck& check, Counts* counts) {
  xtd::strview v;
  if (!source.bytes(at, kHeader, v)) return Result::ReadFailed;
  if (v.length < kHeader) return Result::NotFound;
  const AvdRecordHeader first = AvdRecordHeader::parse(v.data);
  const std::uint32_t firstEnd = kHeader + first.length;
  // What the start of the payload tells comes before reading all of it.
  if (!source.bytes(at, kHeader + RecordCheck::kStart, v)) return Result::ReadFailed;
  if (!check.payloadStart(first.type, first.length, xtd::strview(v.data + kHeader, v.length - kHeader))) {
    return Result::NotFound;
  }
  if (!source.bytes(at, firstEnd + kHeader, v)) return Result::ReadFailed;
  if (v.length < firstEnd) return Result::NotFound;
  const xtd::strview payload(v.data + kHeader, first.length);
  if (!check.payload(first.type, payload)) return Result::NotFound;
  if (counts) ++counts->payloads;
  if (at + firstEnd == size) return Result::Found;
  if (v.length < firstEnd + kHeader) return Result::NotFound;

  // The next record belongs to the session a stream header begins.
  RecordCheck next = check;
  next.seconds = first.seconds;
  if (first.type == AvdRecordHeader::kStreamHeader) readCodec(payload, next.codec);
  const AvdRecordHeader second = AvdRecordHeader::parse(v.data + firstEnd);
  if (!next.header(second, at + firstEnd, size)) return Result::NotFound;
  const std::uint32_t secondEnd = firstEnd + kHeader + second.length;
  if (!source.bytes(at, firstEnd + kHeader + RecordCheck::kStart, v)) return Result::ReadFailed;
  if (!next.payloadStart(second.type, second.length,
                         xtd::strview(v.data + firstEnd + kHeader, v.length - firstEnd - kHeader))) {
    return Result::NotFound;
  }
  if (!source.bytes(at, secondEnd, v)) return Result::ReadFailed;
  if (v.length < secondEnd) return Result::NotFound;
  return next.payload(second.type, xtd::strview(v.data + firstEnd + kHeader, second.length)) ? Result::Found
                                                                                            : Result::NotFound;
}

}  // namespace

Result find(Source& source, std::uint64_t from, std::uint64_t size, const RecordCheck& check, std::uint64_t& found,
            Counts* counts) {
  std::uint64_t base = from;
  for (;;) {
    if (base > size || size - base < kHeader) return Result::NotFound;
    xtd::strview v;
    if (!source.bytes(base, kHeader, v)) return Result::ReadFailed;
    if (v.length < kHeader) return Result::NotFound;
    // Candidates whose whole header is in view; the rest come with the next view.
    const std::uint32_t candidates = v.length - kHeader + 1;
    std::uint64_t next = base + candidates;
    for (std::uint32_t i = 0; (i = nextTypeByte(v.data, i, candidates)) < candidates;) {
      const char* p = v.data + i;
      if (p[0] == 0 && std::memcmp(p, "\0\0\0\0\0\0\0\0\0\0\0\0", kHeader) == 0) {
        // A zero header is no record, nor is any whose header lies wholly
        // in the same stretch of zeros.
        i = nextNonZero(v.data, i + kHeader, v.length) - (kHeader - 1);
        continue;
      }
      if (counts) ++counts->typeBytes;
      const AvdRecordHeader h = AvdRecordHeader::parse(p);
      if (!check.header(h, base + i, size)) {
        ++i;
        continue;
      }
      if (counts) ++counts->headers;
      const Result r = chain(source, base + i, size, check, counts);
      if (r == Result::Found) {
        if (counts) ++counts->accepted;
        found = base + i;
        return r;
      }
      if (r == Result::ReadFailed) return r;
      // The look-ahead may have moved the source's bytes: a new view.
      next = base + i + 1;
      break;
    }
    base = next;
  }
}

}  // namespace record_search
