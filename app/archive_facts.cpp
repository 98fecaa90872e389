#include "app/archive_facts.h"

#include <memory>

#include "commit/staged_file.h"
#include "platform/files.h"

ArchiveFacts::Output outputFacts(const StagedFile& output) {
  constexpr std::uint32_t kChunk = 1024 * 1024;
  ArchiveFacts::Output facts{xtd::dwstring::from_cstr(output.finalPath()), 0, std::nullopt};
  platform::FileApi& fs = platform::files();
  platform::ScopedFile file(fs.openForRead(output.temporaryPath()));
  platform::FileStatus status;
  if (!file || !fs.status(file.get(), status) || !(status.identity == output.identity())) return facts;
  const std::unique_ptr<char[]> buffer(new char[kChunk]);
  platform::Sha256 hasher;
  std::uint64_t bytes = 0;
  for (std::uint32_t got = kChunk; got == kChunk; bytes += got) {
    if (!fs.read(file.get(), buffer.get(), kChunk, got)) return facts;
    hasher.update(buffer.get(), got);
  }
  facts.bytes = bytes;
  facts.sha256 = hasher.finish();
  return facts;
}
