#include "tests/writers/drive_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/support/temp_dir.h"
#include "writers/create_writer.h"

namespace avdtest {

WriterRun driveWriter(const std::filesystem::path& archive, const std::string& headerPayload,
                      const std::vector<WriterFrame>& frames) {
  namespace fs = std::filesystem;
  WriterRun run;
  const xtd::dwstring path = widePath(archive);
  const xtd::strview header(headerPayload.data(), static_cast<std::uint32_t>(headerPayload.size()));
  std::unique_ptr<WriterIf> writer(createWriter(path.view(), &header));
  EXPECT_NE(writer, nullptr);
  if (!writer) return run;
  const fs::path output(std::u16string(writer->outputPath()));
  run.opened = writer->open(&header);
  bool accepted = run.opened;
  for (const WriterFrame& f : frames) {
    if (!accepted) break;
    // An exact-size heap copy: reading past the payload shows under ASan.
    std::unique_ptr<char[]> bytes(new char[f.payload.size()]);
    if (!f.payload.empty()) std::memcpy(bytes.get(), f.payload.data(), f.payload.size());
    const xtd::strview v(bytes.get(), static_cast<std::uint32_t>(f.payload.size()));
    accepted = writer->writeFrame(&v, &f.ticks, 1);
  }
  run.finished = accepted && writer->finish();
  writer.reset();
  run.output = fs::is_regular_file(output);
  if (run.output) run.outputBytes = readFile(output);
  for (const auto& entry : fs::directory_iterator(archive.parent_path())) {
    if (entry.path() != archive && entry.path() != output) run.temporaryLeft = true;
  }
  return run;
}

}  // namespace avdtest
