// Virtual keys and scan codes to the tool's keys; see console_keys.h.
#include "platform/win32/console_keys.h"

#include <windows.h>

#include "cp866/code_page.h"
#include "screen/keys.h"

namespace tv {

namespace {

struct ExtendedKey {
  uint16_t virtualKey;
  uint8_t scan;  // PC keyboard scan code
};
constexpr ExtendedKey kExtendedKeys[] = {
    {VK_UP, key::Up},
    {VK_DOWN, key::Down},
    {VK_LEFT, key::Left},
    {VK_RIGHT, key::Right},
    {VK_HOME, key::Home},
    {VK_END, key::End},
    {VK_PRIOR, key::PgUp},
    {VK_NEXT, key::PgDn},
    {VK_INSERT, key::Insert},
    {VK_DELETE, key::Delete},
    {VK_CLEAR, 0x4C},
    {VK_F1, 0x3B},
    {VK_F2, 0x3C},
    {VK_F3, 0x3D},
    {VK_F4, 0x3E},
    {VK_F5, 0x3F},
    {VK_F6, 0x40},
    {VK_F7, 0x41},
    {VK_F8, 0x42},
    {VK_F9, 0x43},
    {VK_F10, key::F10},
    {VK_F11, 0x57},
    {VK_F12, 0x58},
};

bool IsModifier(uint16_t vk) {
  switch (vk) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL: return true;
    default: return false;
  }
}

}  // namespace

bool MapConsoleKey(const ConsoleKeyEvent& event, KeyPress& out) {
  if (!event.keyDown || IsModifier(event.virtualKey)) return false;
  const uint32_t alt = event.controlKeys & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED);
  const uint32_t ctrl = event.controlKeys & (LEFT_CTRL_PRESSED | RIGHT_CTRL_PRESSED);
  // Alt+key is no key of the tool. AltGr (reported as Ctrl+Alt) types the
  // characters of many layouts and is let through with its character.
  if (alt && !(ctrl && event.character >= 0x20)) return false;

  switch (event.virtualKey) {
    case VK_ESCAPE: return out = KeyPress{false, key::Esc}, true;
    case VK_RETURN: return out = KeyPress{false, key::Enter}, true;
    case VK_BACK: return out = KeyPress{false, key::Backspace}, true;
    case VK_TAB:
      if (event.controlKeys & SHIFT_PRESSED) return false;
      return out = KeyPress{false, key::Tab}, true;
    default: break;
  }
  for (const ExtendedKey& k : kExtendedKeys) {
    if (k.virtualKey != event.virtualKey) continue;
    // The grey keys arrive flagged ENHANCED_KEY with the same scan code as
    // their keypad twins; a scan code above 0x7F would be a break code.
    const uint8_t scan =
        event.scanCode != 0 && event.scanCode < 0x80 ? static_cast<uint8_t>(event.scanCode) : k.scan;
    return out = KeyPress{true, scan}, true;
  }
  const char16_t c = event.character;
  if (c != 0) {
    if (c >= 0x20 && c < 0x7F) return out = KeyPress{false, static_cast<uint8_t>(c)}, true;
    if (c == key::CtrlC) return out = KeyPress{false, key::CtrlC}, true;
    if (c >= 0x80) {
      const int b = UnicodeToCp866(c);
      if (b >= 0x80) return out = KeyPress{false, static_cast<uint8_t>(b)}, true;
    }
    return false;  // control characters (Ctrl+letter) and what cp866 lacks
  }
  // Any other key without a character: its scan code, as it came.
  if (event.scanCode != 0 && event.scanCode < 0x80)
    return out = KeyPress{true, static_cast<uint8_t>(event.scanCode)}, true;
  return false;
}

}  // namespace tv
