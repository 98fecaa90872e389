#include "platform/files.h"

namespace platform {

namespace {
FileApi* g_installed = nullptr;
}

FileApi& files() { return g_installed ? *g_installed : nativeFiles(); }

void setFilesForTesting(FileApi* api) { g_installed = api; }

}  // namespace platform
