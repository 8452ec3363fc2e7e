// A cp866 cell in a terminal whose locale is not UTF-8: which code points
// the locale can show as text, and the narrow stand-in for the rest (ASCII
// as is, lines and blocks from the alternate character set, Cyrillic
// transliterated letter for letter: "Файл" reads "Fajl", widths unchanged).
#pragma once

#include <cstdint>

#include "platform/posix/curses_wide.h"

namespace tv {

// The curses character of a cp866 byte in a locale without UTF-8: ASCII as it
// is, line and block characters from the alternate character set (valid once
// curses has the terminal), Cyrillic transliterated, '?' for the rest.
chtype NarrowGlyph(uint8_t b);

// Whether the locale of the process can encode a code point (e.g. Cyrillic
// in KOI8-R) in bytes a terminal takes as text.
bool LocaleHas(char32_t u);

}  // namespace tv
