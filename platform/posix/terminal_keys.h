// What a terminal's keys come to as keys of the tool: curses' key codes and
// characters from get_wch as PC keys (KEY_F(1) -> prefix 0, scan 0x3B; "Ж"
// -> cp866 0x86), and the escape sequences curses is taught where the
// terminfo entry leaves them out (ESC [ 1 1 ~ is F1 on rxvt).
#pragma once

#include <cwchar>

#include "screen/console.h"

namespace tv {

// What get_wch gave (r: OK or KEY_CODE_YES; wc: the character or key code),
// as a key of the tool; false for none (a key the tool has no code for, a
// control character, a character cp866 lacks).
bool DecodeKey(int r, wint_t wc, KeyPress& out);

// Binds the sequences terminals send whatever their terminfo entry says to
// curses' key codes, each where the entry left it free. Needs curses started.
void DefineExtraKeySequences();

}  // namespace tv
