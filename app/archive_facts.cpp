#include "app/archive_facts.h"

#include <memory>

#include "commit/staged_file.h"
#include "platform/files.h"

namespace {

// Reads the open file to its end for its size and hash.
void hashWhole(platform::FileHandle file, ArchiveFacts::Output& facts) {
  constexpr std::uint32_t kChunk = 1024 * 1024;
  platform::FileApi& fs = platform::files();
  const std::unique_ptr<char[]> buffer(new char[kChunk]);
  platform::Sha256 hasher;
  std::uint64_t bytes = 0;
  for (std::uint32_t got = kChunk; got != 0; bytes += got) {
    if (!fs.read(file, buffer.get(), kChunk, got)) return;
    hasher.update(buffer.get(), got);
  }
  facts.bytes = bytes;
  facts.sha256 = hasher.finish();
}

}  // namespace

ArchiveFacts::Output outputFacts(const StagedFile& output) {
  ArchiveFacts::Output facts{xtd::dwstring::from_cstr(output.finalPath()), 0, std::nullopt};
  platform::FileApi& fs = platform::files();
  platform::ScopedFile file(fs.openForRead(output.temporaryPath()));
  platform::FileStatus status;
  if (!file || !fs.status(file.get(), status) || !(status.identity == output.identity())) return facts;
  hashWhole(file.get(), facts);
  return facts;
}

ArchiveFacts::Output existingOutputFacts(xtd::wstrview path) {
  ArchiveFacts::Output facts{xtd::dwstring(path), 0, std::nullopt};
  platform::ScopedFile file(platform::files().openForRead(facts.path.c_str()));
  if (file) hashWhole(file.get(), facts);
  return facts;
}
