// Names and error codes between Windows and the tool: file names travel
// through the tool as UTF-8 (cp866 bytes when a name was typed in cp866), and
// Windows takes and gives them as UTF-16.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_access.h"

namespace tv {

// A UTF-8 name as UTF-16; bytes that are not UTF-8 are read as cp866.
std::wstring WideFromName(std::string_view name);
// A UTF-16 name as UTF-8.
std::string NameFromWide(std::wstring_view wide);
// UTF-16 text as cp866 for the screen, '?' for what cp866 lacks.
std::string Cp866FromWide(std::wstring_view wide);

// What a Win32 error code (GetLastError) of a file operation means to the
// operator.
FileFault FileFaultOf(uint32_t error);

}  // namespace tv
