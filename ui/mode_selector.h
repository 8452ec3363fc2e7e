// One position of the mode string (the number text of cell 98, e.g.
// "0000100") shown and chosen in place at a form's current field.
#pragma once

#include <cstdint>
#include <string>

namespace tv {

struct Tool;
struct FormGrid;

// The kinds of mode positions: how a position's character is shown and
// which characters Up/Down step through.
enum class SelectorKind {
  Barring,              // '1' barred, anything else allowed; '0' <-> '1'
  OutgoingControlKind,  // '0' -> '1' -> '2' -> '0' (the routing values are shown, not offered)
  IncomingControlKind,  // '0' -> '1' -> '2' -> '4' -> '5' -> '6' -> '0'
  MessageKind,          // '0' -> '1' -> '2' -> '0'
};

// The display text of a character of this kind (controls and message 34
// columns, barrings 9).
std::string ModeValueText(SelectorKind kind, char c);
// The character that Up or Down turns c into; anything off the cycle gives '0'.
char NextModeValue(SelectorKind kind, char c);

// Writes the text of the mode position at the grid's current field in attr;
// the cursor stays on the field and the attribute returns to ColorNormal.
void ShowModeValue(Tool& tool, const FormGrid& grid, int position, SelectorKind kind, uint8_t attr);
// Up/Down step the position in the image at once; Enter keeps the value and
// writes cell 98 to the device; Esc puts back the value the selector opened
// with.
void ModeSelector(Tool& tool, FormGrid& grid, int position, SelectorKind kind);

}  // namespace tv
