#pragma once

#include <cstdint>

namespace platform {

// The separator between path components on this system.
#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif

// The longest name of one directory entry the usual file systems take:
// 255 UTF-16 units on Windows (NTFS, FAT, exFAT), 255 bytes of the name's
// UTF-8 form on POSIX (ext4, xfs, btrfs).
inline constexpr std::uint32_t kMaxNameLength = 255;
#ifdef _WIN32
inline constexpr bool kNamesCountedInUtf8 = false;
#else
inline constexpr bool kNamesCountedInUtf8 = true;
#endif

}  // namespace platform
