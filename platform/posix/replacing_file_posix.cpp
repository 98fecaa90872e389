#include "platform/replacing_file.h"

namespace platform {

// A POSIX name can move while the file is open.
FileHandle createReplacing(const char16_t* temporary, const char16_t* path) {
  FileApi& fs = files();
  ScopedFile file(fs.createNew(temporary));
  if (!file) return kInvalidFile;
  if (!fs.rename(temporary, path)) {
    const SystemError refused = lastFileError();
    file.close();
    fs.remove(temporary);
    setLastFileError(refused);
    return kInvalidFile;
  }
  return file.release();
}

}  // namespace platform
