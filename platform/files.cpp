#include "platform/files.h"

namespace platform {

namespace {
FileApi* g_installed = nullptr;
}

const char* fileOpName(FileOp op) {
  static const char* const names[] = {
      "openRead",  "read",   "seek",          "status",       "pathStatus",  "lock",       "nextData",
      "createNew", "write",  "flush",         "close",        "rename",      "remove",     "removeIfUnchanged",
      "syncName", "syncDirectory", "copyMetadata", "flushFileSystem", "streamCreate", "streamWrite", "streamRead", "streamSeek", "streamFlush", "streamClose"};
  static_assert(sizeof names / sizeof names[0] == static_cast<std::size_t>(FileOp::kCount));
  return names[static_cast<int>(op)];
}

FileApi& files() { return g_installed ? *g_installed : nativeFiles(); }

void setFilesForTesting(FileApi* api) { g_installed = api; }

}  // namespace platform
