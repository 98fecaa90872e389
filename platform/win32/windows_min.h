#pragma once

// The one way this layer includes the system header: without the rarely
// used parts and without the min/max macros.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace platform::win32 {

inline const wchar_t* wide(const char16_t* path) { return reinterpret_cast<const wchar_t*>(path); }

}  // namespace platform::win32
