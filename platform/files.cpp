#include "platform/files.h"

#include <atomic>

namespace platform {

namespace {
// Read by every worker; installed by a test before the run.
std::atomic<FileApi*> g_installed{nullptr};
}

const char* fileOpName(FileOp op) {
  static const char* const names[] = {
      "openRead",  "read",   "seek",          "status",       "pathStatus",  "lock",       "nextData",
      "createNew", "write",  "flush",         "close",        "rename",      "remove",     "removeIfUnchanged",
      "syncName", "syncDirectory", "copyMetadata", "flushFileSystem", "listDirectory", "streamCreate", "streamWrite", "streamRead", "streamSeek", "streamFlush", "streamClose"};
  static_assert(sizeof names / sizeof names[0] == static_cast<std::size_t>(FileOp::kCount));
  return names[static_cast<int>(op)];
}

FileApi& files() {
  FileApi* installed = g_installed.load(std::memory_order_acquire);
  return installed ? *installed : nativeFiles();
}

void setFilesForTesting(FileApi* api) { g_installed.store(api, std::memory_order_release); }

}  // namespace platform
