#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// Windows file services refuse a path of MAX_PATH units or more unless it
// carries the extended-length prefix. The prefix also turns off the
// system's normalisation, so it may only be put before a path that is
// absolute and normalised already (backslashes, no "." or ".." components).
// Pure string work, built on every system so that it is tested everywhere.
inline constexpr std::size_t kMaxPath = 260;

// Whether the path is in the extended-length (\\?\) or device (\\.\) form,
// which the system takes as it stands.
bool hasLongPathPrefix(std::u16string_view path);

// The extended-length form of an absolute, normalised path of kMaxPath
// units or more: \\?\C:\... for a drive path, \\?\UNC\server\share\... for
// \\server\share\... . Shorter, already prefixed and relative paths come
// back unchanged.
std::u16string withLongPathPrefix(std::u16string_view path);

}  // namespace platform
