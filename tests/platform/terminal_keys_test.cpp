// A terminal's keys as keys of the tool: curses' key codes as PC scan codes
// behind the prefix 0, characters as themselves (Cyrillic as cp866), and the
// keys the tool has no code for left out.
#include <gtest/gtest.h>

#include "platform/posix/curses_wide.h"
#include "platform/posix/terminal_keys.h"
#include "screen/keys.h"

namespace tv {
namespace {

TEST(TerminalKeys, DecodeAsPcKeys) {
  struct Case {
    const char* name;
    int r;  // what get_wch answered: a key code or a character
    wint_t wc;
    bool taken;
    bool extended;
    int code;
  };
  const Case cases[] = {
      {"up arrow", KEY_CODE_YES, KEY_UP, true, true, key::Up},
      {"F1", KEY_CODE_YES, KEY_F(1), true, true, key::F1},
      {"F9", KEY_CODE_YES, KEY_F(9), true, true, 0x43},
      {"F10", KEY_CODE_YES, KEY_F(10), true, true, key::F10},
      {"F12, past the gap of the PC codes", KEY_CODE_YES, KEY_F(12), true, true, 0x86},
      {"keypad 7 without Num Lock", KEY_CODE_YES, KEY_A1, true, true, key::Home},
      {"keypad 3 without Num Lock", KEY_CODE_YES, KEY_C3, true, true, key::PgDn},
      {"Find, Home on a VT220 keypad", KEY_CODE_YES, KEY_FIND, true, true, key::Home},
      {"Insert", KEY_CODE_YES, KEY_IC, true, true, key::Insert},
      {"Delete", KEY_CODE_YES, KEY_DC, true, true, key::Delete},
      {"keypad Enter", KEY_CODE_YES, KEY_ENTER, true, false, key::Enter},
      {"Backspace as terminfo has it", KEY_CODE_YES, KEY_BACKSPACE, true, false, key::Backspace},
      {"Shift+Tab: no key of the tool", KEY_CODE_YES, KEY_BTAB, false, false, 0},
      {"F13: no key of the tool", KEY_CODE_YES, KEY_F(13), false, false, 0},
      {"Return", OK, L'\r', true, false, key::Enter},
      {"line feed", OK, L'\n', true, false, key::Enter},
      {"DEL as Backspace", OK, 0x7F, true, false, key::Backspace},
      {"Ctrl+H as Backspace", OK, 0x08, true, false, key::Backspace},
      {"Esc", OK, 0x1B, true, false, key::Esc},
      {"Ctrl+C", OK, 0x03, true, false, key::CtrlC},
      {"Tab", OK, L'\t', true, false, key::Tab},
      {"digit", OK, L'0', true, false, '0'},
      {"tilde", OK, L'~', true, false, '~'},
      {"Cyrillic capital Zhe", OK, 0x0416, true, false, 0x86},
      {"Cyrillic small io", OK, 0x0451, true, false, 0xF1},
      {"Ctrl+A: no key of the tool", OK, 0x01, false, false, 0},
      {"euro sign: not in cp866", OK, 0x20AC, false, false, 0},
      {"Latin e acute: not in cp866", OK, 0x00E9, false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyPress k{true, 0xEE};
    ASSERT_EQ(DecodeKey(c.r, c.wc, k), c.taken);
    if (!c.taken) continue;
    EXPECT_EQ(k.extended, c.extended);
    EXPECT_EQ(k.code, c.code);
  }
}

}  // namespace
}  // namespace tv
