// The key tables: curses' key codes as PC scan codes, and the sequences of
// the common terminals bound where their terminfo entry has none.
#include "platform/posix/terminal_keys.h"

#include <cstdint>

#include "cp866/code_page.h"
#include "platform/posix/curses_wide.h"
#include "screen/keys.h"

namespace tv {

namespace {

struct KeyMapEntry {
  int curses;
  uint8_t scan;
};
constexpr KeyMapEntry kExtendedKeys[] = {
    {KEY_UP, key::Up},     {KEY_DOWN, key::Down},  {KEY_LEFT, key::Left},  {KEY_RIGHT, key::Right},
    {KEY_DC, key::Delete}, {KEY_PPAGE, key::PgUp}, {KEY_NPAGE, key::PgDn}, {KEY_HOME, key::Home},
    {KEY_END, key::End},   {KEY_IC, key::Insert},  {KEY_F(1), 0x3B},       {KEY_F(2), 0x3C},
    {KEY_F(3), 0x3D},      {KEY_F(4), 0x3E},       {KEY_F(5), 0x3F},       {KEY_F(6), 0x40},
    {KEY_F(7), 0x41},      {KEY_F(8), 0x42},       {KEY_F(9), 0x43},       {KEY_F(10), key::F10},
    {KEY_F(11), 0x85},     {KEY_F(12), 0x86},      {KEY_A1, key::Home},    {KEY_C1, key::End},
    {KEY_A3, key::PgUp},   {KEY_C3, key::PgDn},    {KEY_FIND, key::Home},  {KEY_SELECT, key::End},
};

// Sequences terminals send whatever their terminfo entry says: cursor keys
// in normal and application mode, the function keys of the Linux console and
// of rxvt, Home/End in their several forms. Bound only where the entry left
// them free.
struct KeySequence {
  const char* bytes;
  int curses;
};
constexpr KeySequence kExtraSequences[] = {
    {"\033[A", KEY_UP},     {"\033[B", KEY_DOWN},    {"\033[C", KEY_RIGHT},   {"\033[D", KEY_LEFT},
    {"\033OA", KEY_UP},     {"\033OB", KEY_DOWN},    {"\033OC", KEY_RIGHT},   {"\033OD", KEY_LEFT},
    {"\033[H", KEY_HOME},   {"\033[F", KEY_END},     {"\033OH", KEY_HOME},    {"\033OF", KEY_END},
    {"\033[1~", KEY_HOME},  {"\033[4~", KEY_END},    {"\033[7~", KEY_HOME},   {"\033[8~", KEY_END},
    {"\033[2~", KEY_IC},    {"\033[3~", KEY_DC},     {"\033[5~", KEY_PPAGE},  {"\033[6~", KEY_NPAGE},
    {"\033OP", KEY_F(1)},   {"\033OQ", KEY_F(2)},    {"\033OR", KEY_F(3)},    {"\033OS", KEY_F(4)},
    {"\033[11~", KEY_F(1)}, {"\033[12~", KEY_F(2)},  {"\033[13~", KEY_F(3)},  {"\033[14~", KEY_F(4)},
    {"\033[15~", KEY_F(5)}, {"\033[17~", KEY_F(6)},  {"\033[18~", KEY_F(7)},  {"\033[19~", KEY_F(8)},
    {"\033[20~", KEY_F(9)}, {"\033[21~", KEY_F(10)}, {"\033[23~", KEY_F(11)}, {"\033[24~", KEY_F(12)},
    {"\033[[A", KEY_F(1)},  {"\033[[B", KEY_F(2)},   {"\033[[C", KEY_F(3)},   {"\033[[D", KEY_F(4)},
    {"\033[[E", KEY_F(5)},
};

}  // namespace

bool DecodeKey(int r, wint_t wc, KeyPress& out) {
  if (r == KEY_CODE_YES) {
    if (wc == KEY_BACKSPACE) return out = KeyPress{false, key::Backspace}, true;
    if (wc == KEY_ENTER) return out = KeyPress{false, key::Enter}, true;
    for (const KeyMapEntry& e : kExtendedKeys)
      if (static_cast<int>(wc) == e.curses) return out = KeyPress{true, e.scan}, true;
    return false;  // KEY_BTAB and the keys the tool has no code for
  }
  switch (wc) {
    case L'\r':
    case L'\n': return out = KeyPress{false, key::Enter}, true;
    case 0x7F:
    case 0x08: return out = KeyPress{false, key::Backspace}, true;
    case 0x1B: return out = KeyPress{false, key::Esc}, true;
    case 0x03: return out = KeyPress{false, key::CtrlC}, true;
    case L'\t': return out = KeyPress{false, key::Tab}, true;
    default: break;
  }
  if (wc >= 0x20 && wc < 0x7F) return out = KeyPress{false, static_cast<uint8_t>(wc)}, true;
  if (wc >= 0x80) {
    const int c = UnicodeToCp866(static_cast<char32_t>(wc));
    if (c >= 0x80) return out = KeyPress{false, static_cast<uint8_t>(c)}, true;
  }
  return false;
}

void DefineExtraKeySequences() {
  for (const KeySequence& k : kExtraSequences)
    if (key_defined(k.bytes) == 0) define_key(k.bytes, k.curses);
}

}  // namespace tv
