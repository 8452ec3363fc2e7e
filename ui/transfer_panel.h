// The panel the File menu transfers work in, at (18, 3), 59 x 20 inside its
// frame: where a question, what it acts on and the messages stand, shared by
// the transfers and File to SIM's list of changes.
#pragma once

#include <string>

#include "screen/screen.h"

namespace tv::transfer_panel {

inline constexpr int kPanelX = 18, kPanelY = 3, kPanelW = 59, kPanelH = 20;
// Prompts, labels and final messages at (20, 4); what a question acts on
// on the row under it.
inline constexpr int kTextX = 20, kTextRow = 4;
inline constexpr int kDetailRow = kTextRow + 1;
// The rows the file chooser's list and its sort hint held, under the name.
inline constexpr int kListTop = 6, kListBottom = 22;

// Blanks the row inside the panel, so that what is written there next is
// not read together with the remains of a longer text; the current
// attribute stays.
inline void BlankRow(Screen& s, int row) {
  const uint8_t attr = s.Attribute();
  s.PutTextAttr(kPanelX + 1, row, std::string(kPanelW, ' ').c_str(), ColorPanel);
  s.SetAttribute(attr);
}

}  // namespace tv::transfer_panel
