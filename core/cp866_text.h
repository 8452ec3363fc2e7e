// Texts between cp866 (the screen, the SIM's texts, the help file) and UTF-8
// (the JSON output, the journal files), converted at run time; file names as
// the screen shows them.
#pragma once

#include <string>
#include <string_view>

namespace tv {

// cp866 bytes (any byte, 0 included) as UTF-8; control bytes stay themselves.
std::string Utf8FromCp866(std::string_view cp866);

// Whether the bytes are UTF-8 throughout (no stray or cut sequence).
bool IsUtf8(std::string_view text);

// The text with every byte that is not part of a UTF-8 sequence replaced by
// `replacement` (UTF-8 itself: "?" or "\xEF\xBF\xBD").
std::string ValidUtf8(std::string_view text, std::string_view replacement);

// A file name as cp866 screen bytes, at most width characters: UTF-8
// characters that cp866 has are converted, other characters and control
// bytes show as '?', bytes that are not UTF-8 are taken as cp866; a longer
// name is cut in the middle, "gw1~1210.set": its end, where dates and
// numbers that tell files apart usually stand, shows whole.
std::string DisplayFileName(std::string_view name, int width);

}  // namespace tv
