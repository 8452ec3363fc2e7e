// The file chooser of the four settings-file operations: the working
// directory's "*.set" files in four columns of 16 inside the caller's panel
// (the columns scroll sideways when there are more), picked with the arrows,
// or a new name typed on the spot. F2 sorts newest first or by name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/cp866_text.h"  // DisplayFileName: the names as the chooser shows them

namespace tv {

class Screen;

inline constexpr int ChooserEntries = 64;     // names shown at a time (four columns of 16)
inline constexpr int ChooserEntryWidth = 13;  // characters of a list entry

// Results of ChooseFile.
inline constexpr int ChooseAccepted = 0;    // the name is in currentFileName
inline constexpr int ChooseListEsc = 27;    // Esc in the list
inline constexpr int ChooseTypingEsc = -1;  // Esc while typing a new name

// The ordinary files of dir (directories and other special files left out,
// links followed) whose names end in the pattern's text after its '*',
// compared without regard to case so that NAME.SET from another system is
// listed too. Hidden files (names beginning with '.') are left out. Sorted by
// name, byte by byte, so that the list is the same on every run.
std::vector<std::string> ListMatchingFiles(const char* pattern, const std::string& dir = ".");

// Runs the chooser in the panel at (18, 3) with the pattern "*.set": returns
// ChooseAccepted (the name then in fileName), ChooseListEsc or
// ChooseTypingEsc. A listed file is taken by its real name, however long; a
// typed one (at most 13 characters, ".set" added when it has no dot) only on
// Enter.
int ChooseFile(Screen& screen, std::string& fileName, const char* pattern);

}  // namespace tv
