// Texts between cp866 (the screen, the SIM's texts, the help file) and UTF-8
// (the JSON output, the journal files), converted at run time.
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

}  // namespace tv
