#pragma once

#include <string>

#include "xtd/strview.h"

// A name as a console line shows it, in UTF-8: one name stays one stretch of
// one line, and nothing in it reaches the terminal as a control. Escaped are
// \t, \n and \r by name, every other unit below U+0020 and U+007F as \xNN,
// U+0080..U+009F as \u0080..\u009f, a backslash that is not the path
// separator as \\, and an unpaired surrogate as \udNNN, except
// U+DC80..U+DCFF, which stand for bytes that are not UTF-8 and show as
// \x80..\xff. Hex digits are lower case; everything else is its UTF-8.
std::string printableName(xtd::wstrview name);

// The same for UTF-8 bytes as the user typed them (an argument): bytes that
// are not UTF-8 show as \x80..\xff.
std::string printableBytes(const std::string& bytes);
