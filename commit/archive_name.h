#pragma once

// Archives are known by the last units of their names: "avd", exactly as
// written, with or without a dot before it.
inline constexpr char16_t kArchiveExtension[] = u"avd";
inline constexpr unsigned kArchiveExtensionLength = sizeof kArchiveExtension / sizeof kArchiveExtension[0] - 1;
