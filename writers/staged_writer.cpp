#include "writers/staged_writer.h"

#include "commit/output_path.h"

StagedWriter::StagedWriter(xtd::wstrview archivePath, const char16_t* extension)
    : output_(std::make_unique<StagedFile>(outputPathFor(archivePath, xtd::wstrview(extension, 3)).view(), extension)),
      extension_(extension) {}
