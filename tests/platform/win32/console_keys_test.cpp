// Console key events as the tool's keys: decided by the virtual key and the
// scan code, not by the character alone.
#include "platform/win32/console_keys.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "cp866/literal.h"
#include "screen/keys.h"

namespace tv {
namespace {

constexpr uint32_t kNone = 0;
constexpr uint32_t kShift = SHIFT_PRESSED;
constexpr uint32_t kCtrl = LEFT_CTRL_PRESSED;
constexpr uint32_t kAlt = LEFT_ALT_PRESSED;
constexpr uint32_t kAltGr = RIGHT_ALT_PRESSED | LEFT_CTRL_PRESSED;
constexpr uint32_t kEnhanced = ENHANCED_KEY;

struct Case {
  const char* name;
  ConsoleKeyEvent event;
  bool mapped;
  KeyPress key;
};

std::string Show(bool mapped, const KeyPress& k) {
  if (!mapped) return "none";
  return (k.extended ? "0+" : "") + std::to_string(k.code);
}

TEST(ConsoleKeys, EventsBecomeCharactersOrPrefixedScanCodes) {
  const uint8_t cyrillicA = static_cast<uint8_t>("А"_cp[0]);
  const uint8_t cyrillicN = static_cast<uint8_t>("н"_cp[0]);
  const Case cases[] = {
      // Esc as Wine sends it: no character at all.
      {"Esc, no character", {true, VK_ESCAPE, 0x01, 0, kNone}, true, {false, key::Esc}},
      {"Esc, with its character", {true, VK_ESCAPE, 0x01, 0x1B, kNone}, true, {false, key::Esc}},
      {"Enter", {true, VK_RETURN, 0x1C, u'\r', kNone}, true, {false, key::Enter}},
      {"keypad Enter", {true, VK_RETURN, 0x1C, u'\r', kEnhanced}, true, {false, key::Enter}},
      {"Backspace", {true, VK_BACK, 0x0E, 0x08, kNone}, true, {false, key::Backspace}},
      {"Tab", {true, VK_TAB, 0x0F, u'\t', kNone}, true, {false, key::Tab}},
      {"Shift+Tab", {true, VK_TAB, 0x0F, u'\t', kShift}, false, {}},
      {"Up", {true, VK_UP, 0x48, 0, kEnhanced}, true, {true, key::Up}},
      {"Down", {true, VK_DOWN, 0x50, 0, kEnhanced}, true, {true, key::Down}},
      {"Left", {true, VK_LEFT, 0x4B, 0, kEnhanced}, true, {true, key::Left}},
      {"Right", {true, VK_RIGHT, 0x4D, 0, kEnhanced}, true, {true, key::Right}},
      {"PgUp", {true, VK_PRIOR, 0x49, 0, kEnhanced}, true, {true, key::PgUp}},
      {"PgDn", {true, VK_NEXT, 0x51, 0, kEnhanced}, true, {true, key::PgDn}},
      {"Home", {true, VK_HOME, 0x47, 0, kEnhanced}, true, {true, key::Home}},
      {"End", {true, VK_END, 0x4F, 0, kEnhanced}, true, {true, key::End}},
      {"Insert", {true, VK_INSERT, 0x52, 0, kEnhanced}, true, {true, key::Insert}},
      // Delete is no Backspace, whatever character a console gives it.
      {"Delete", {true, VK_DELETE, 0x53, 0, kEnhanced}, true, {true, key::Delete}},
      {"Delete with DEL", {true, VK_DELETE, 0x53, 0x7F, kEnhanced}, true, {true, key::Delete}},
      {"F1", {true, VK_F1, 0x3B, 0, kNone}, true, {true, key::F1}},
      {"F10", {true, VK_F10, 0x44, 0, kNone}, true, {true, key::F10}},
      {"F12", {true, VK_F12, 0x58, 0, kNone}, true, {true, key::F10 + 0x14}},
      // The keypad without NumLock: the same keys as the grey block.
      {"keypad 8 as Up", {true, VK_UP, 0x48, 0, kNone}, true, {true, key::Up}},
      {"Ctrl+Right is Right", {true, VK_RIGHT, 0x4D, 0, kCtrl | kEnhanced}, true, {true, key::Right}},
      // A console that gives no scan code: the PC keyboard's.
      {"Up without scan code", {true, VK_UP, 0, 0, kNone}, true, {true, key::Up}},
      {"F10 without scan code", {true, VK_F10, 0, 0, kNone}, true, {true, key::F10}},
      // Other keys without a character: their scan code as it came.
      {"F13-like key", {true, 0x7C, 0x64, 0, kNone}, true, {true, 0x64}},
      {"unknown key, no scan code", {true, 0x7C, 0, 0, kNone}, false, {}},
      {"letter", {true, 'Y', 0x15, u'y', kNone}, true, {false, 'y'}},
      {"capital", {true, 'Y', 0x15, u'Y', kShift}, true, {false, 'Y'}},
      {"digit", {true, '7', 0x08, u'7', kNone}, true, {false, '7'}},
      {"keypad digit", {true, VK_NUMPAD7, 0x47, u'7', kNone}, true, {false, '7'}},
      {"blank", {true, VK_SPACE, 0x39, u' ', kNone}, true, {false, ' '}},
      {"Cyrillic capital", {true, 'F', 0x21, u'А', kShift}, true, {false, cyrillicA}},
      {"Cyrillic on the Y key", {true, 'Y', 0x15, u'н', kNone}, true, {false, cyrillicN}},
      {"AltGr character", {true, 'Q', 0x10, u'@', kAltGr}, true, {false, '@'}},
      {"character cp866 lacks", {true, 'E', 0x12, u'€', kAltGr}, false, {}},
      {"release", {false, 'Y', 0x15, u'y', kNone}, false, {}},
      {"release of Esc", {false, VK_ESCAPE, 0x01, 0, kNone}, false, {}},
      {"Shift alone", {true, VK_SHIFT, 0x2A, 0, kShift}, false, {}},
      {"Ctrl alone", {true, VK_CONTROL, 0x1D, 0, kCtrl}, false, {}},
      {"Alt alone", {true, VK_MENU, 0x38, 0, kAlt}, false, {}},
      {"CapsLock", {true, VK_CAPITAL, 0x3A, 0, kNone}, false, {}},
      {"Alt+X", {true, 'X', 0x2D, u'x', kAlt}, false, {}},
      {"Alt+Up", {true, VK_UP, 0x48, 0, kAlt | kEnhanced}, false, {}},
      {"Ctrl+A", {true, 'A', 0x1E, 0x01, kCtrl}, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyPress got{};
    const bool mapped = MapConsoleKey(c.event, got);
    EXPECT_EQ(Show(mapped, got), Show(c.mapped, c.key));
  }
}

}  // namespace
}  // namespace tv
