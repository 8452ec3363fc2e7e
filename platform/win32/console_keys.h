// Key events of the Windows console as the tool's keys. Kept apart from the
// console so that the mapping can be checked without a console.
#pragma once

#include <cstdint>

#include "screen/console.h"

namespace tv {

// The fields of a KEY_EVENT_RECORD that decide the key.
struct ConsoleKeyEvent {
  bool keyDown = true;
  uint16_t virtualKey = 0;
  uint16_t scanCode = 0;
  char16_t character = 0;    // UTF-16 unit, 0 for none
  uint32_t controlKeys = 0;  // dwControlKeyState
};

// The tool's key for one event; false for none (a release, a lone modifier,
// Alt+key, Shift+Tab, a control character, a character cp866 lacks).
//
// Esc, Enter, Backspace and Tab are taken from the virtual key: some
// consoles (Wine's among them) send Esc with a zero character. Keys without
// a character (arrows, Delete, PgUp, PgDn, Home, End, Insert, F1..F12) give
// their scan code as the event carries it, or the PC keyboard's scan code
// for the virtual key when the event carries none. Modifiers on those keys
// are ignored: Ctrl+Left is Left.
bool MapConsoleKey(const ConsoleKeyEvent& event, KeyPress& out);

}  // namespace tv
