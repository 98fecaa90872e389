#pragma once

#include "platform/files.h"

namespace platform {

// Creates a new, empty file at `temporary` (never through a link) and gives
// it the name `path` at once, replacing whatever file or link has that name
// (never a directory): a file that grows while the program runs, under its
// final name from the start, without ever being written through a name
// that was there before. Writes, flushes and the close go through files().
// kInvalidFile on failure, with the reason in lastFileError() and nothing
// left at `temporary`.
FileHandle createReplacing(const char16_t* temporary, const char16_t* path);

}  // namespace platform
