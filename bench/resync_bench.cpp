// Feeds whole files to the salvage's search for where records resume and
// counts what it accepts: in bytes that hold no archive (random bytes, an
// H.264 stream, JPEG pictures, zeros) that must be nothing. Prints, for
// each codec's checks, with the time window and with any time accepted,
// how far candidates got and how long the search took.
//
//   resync_bench FILE...

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/avd_reader.h"
#include "platform/files.h"
#include "archive/stream_header.h"

namespace {

// The time the window is centred on: late 2023.
constexpr std::uint32_t kNow = 1700000000;

std::u16string widen(const char* s) {
  std::u16string out;
  for (; *s; ++s) out.push_back(static_cast<unsigned char>(*s));
  return out;
}

bool searchFile(const char* name, std::uint32_t codec, bool anyTime) {
  const std::u16string path = widen(name);
  AvdReader reader;
  if (!reader.openArchive(xtd::wstrview(path.data(), static_cast<std::uint32_t>(path.size())))) {
    std::fprintf(stderr, "resync_bench: cannot open %s\n", name);
    return false;
  }
  RecordCheck check;
  check.codec = codec;
  check.seconds = kNow;
  check.anyTime = anyTime;
  record_search::Counts counts;
  std::uint64_t from = 0, found = 0;
  const auto start = std::chrono::steady_clock::now();
  record_search::Result r;
  while ((r = reader.findRecord(from, check, found, &counts)) == record_search::Result::Found) from = found + 1;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  platform::FileStatus status;
  platform::files().pathStatus(path.c_str(), status);
  const double gib = static_cast<double>(status.size) / (1u << 30);
  std::printf("%-28s %-5s %-6s %8.3f GiB  type bytes %12llu  headers %10llu  payloads %6llu  accepted %llu  "
              "%6.2f s (%.2f s/GiB)%s\n",
              name, codec == StreamHeader::kH264 ? "h264" : "mjpeg", anyTime ? "any" : "window", gib,
              static_cast<unsigned long long>(counts.typeBytes), static_cast<unsigned long long>(counts.headers),
              static_cast<unsigned long long>(counts.payloads), static_cast<unsigned long long>(counts.accepted),
              seconds, gib > 0 ? seconds / gib : 0.0, r == record_search::Result::ReadFailed ? "  READ FAILED" : "");
  return r != record_search::Result::ReadFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: resync_bench FILE...\n");
    return 2;
  }
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    for (const std::uint32_t codec : {StreamHeader::kH264, StreamHeader::kMjpeg}) {
      for (const bool anyTime : {false, true}) ok = searchFile(argv[i], codec, anyTime) && ok;
    }
  }
  return ok ? 0 : 1;
}
