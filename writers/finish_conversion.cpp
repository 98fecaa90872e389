#include "writers/finish_conversion.h"

#include "platform/files.h"

bool replaceArchive(const char16_t* outputPath, const char16_t* archivePath) {
  platform::FileApi& fs = platform::files();
  if (!fs.syncParentDirectory(outputPath)) return false;
  return fs.remove(archivePath);
}
