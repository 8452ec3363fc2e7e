// What File to SIM would change on the gateway, said in the settings' words
// under its question, so that the operator confirms a change and not only a
// file's name.
#pragma once

#include <string_view>

namespace tv {

class Screen;
class SimImage;

// Over the file list, under the question and what it acts on: a heading
// and the first changes from the SIM's settings to those the SIM will hold
// once the file's lines are written, "и ещё N" when more change; or one row
// saying the settings stay as they are (and how many cells differ, when
// some outside the settings do).
void ShowChangesBeforeWrite(Screen& s, const SimImage& sim, std::string_view fileBytes);
// The rows the changes took, blank again.
void BlankChangesBeforeWrite(Screen& s);

}  // namespace tv
