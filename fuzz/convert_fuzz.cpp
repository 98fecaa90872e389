// Converts one archive made of the fuzzer's bytes, in an in-memory file
// system, through the same path a conversion task takes: reader, writer
// selection, every writer (the input's size picks the MP4 format and the
// capture-time subtitles for some inputs). Besides memory errors it checks the promise of
// the tool: an archive is deleted only with an output in its place, an
// archive that stays is unchanged, and no temporary file is left.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/file_convert_task.h"
#include "archive/avd_reader.h"
#include "tests/support/memory_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string archive = u"/in/cam.avd";
  const std::string input(reinterpret_cast<const char*>(data), size);
  avdtest::MemoryFiles disk;
  disk.put(archive, input);
  platform::setFilesForTesting(&disk);
  // Small refills put the buffer boundaries inside the fuzzer's few bytes.
  AvdReader reader;
  reader.setChunkForTesting(64 + static_cast<std::uint32_t>(size % 61));
  Options options;
  options.format = size % 2 ? OutputFormat::Mp4 : OutputFormat::Flv;
  options.timestamps = size % 3 == 0;
  convertArchive(xtd::wstrview(archive.data(), static_cast<std::uint32_t>(archive.size())), reader, options);
  platform::setFilesForTesting(nullptr);

  if (disk.openHandles() != 0) std::abort();
  if (disk.exists(archive)) {
    if (disk.contents(archive) != input) std::abort();
  } else if (disk.contents(u"/in/cam.avi").empty() && disk.contents(u"/in/cam.flv").empty() &&
             disk.contents(u"/in/cam.mp4").empty()) {
    std::abort();
  }
  // A conversion that ended, however, leaves no temporary file.
  for (const auto& entry : disk.files()) {
    if (entry.first.find(u".avdconv-tmp") != std::u16string::npos) std::abort();
  }
  return 0;
}
