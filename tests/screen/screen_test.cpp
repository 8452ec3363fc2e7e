// The in-memory screen: cursor rules, control characters, wrap and scroll,
// rectangles, panels, frames, hint lines and key reading.
#include "screen/screen.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/scripted_console.h"

namespace tv {
namespace {

using test::ScriptedConsole;

TEST(Cp866Literal, ConvertsCyrillicAndKeepsAscii) {
  const char* s = "Файл A"_cp;
  ASSERT_EQ(std::strlen(s), 6u);
  EXPECT_EQ(static_cast<uint8_t>(s[0]), 0x94);  // Ф
  EXPECT_EQ(static_cast<uint8_t>(s[1]), 0xA0);  // а
  EXPECT_EQ(static_cast<uint8_t>(s[2]), 0xA9);  // й
  EXPECT_EQ(static_cast<uint8_t>(s[3]), 0xAB);  // л
  EXPECT_EQ(s[5], 'A');
  EXPECT_EQ(static_cast<uint8_t>("ё"_cp[0]), 0xF1);
  EXPECT_EQ(static_cast<uint8_t>("Ш"_cp[0]), 0x98);
}

TEST(Cp866Table, RoundTripsEveryHighByte) {
  for (int b = 0x80; b <= 0xFF; ++b) EXPECT_EQ(UnicodeToCp866(Cp866ToUnicode(b)), b) << b;
  EXPECT_EQ(Cp866ToUnicode(0xC9), U'╔');
  EXPECT_EQ(Cp866ToUnicode(0xB0), U'░');
  EXPECT_EQ(Cp866ToUnicode(0xDB), U'█');
  EXPECT_EQ(UnicodeToCp866(U'€'), -1);
}

TEST(ScreenCursor, PositionsOutsideTheScreenAreIgnored) {
  Screen s;
  s.SetCursor(7, 3);
  for (auto [x, y] : std::vector<std::pair<int, int>>{{0, 5}, {81, 1}, {5, 0}, {5, 26}}) {
    s.SetCursor(x, y);
    EXPECT_EQ(s.CursorX(), 7);
    EXPECT_EQ(s.CursorY(), 3);
  }
  s.WriteChar('Z');
  EXPECT_EQ(s.CharAt(7, 3), 'Z');
}

TEST(ScreenWrite, ControlCharactersMoveTheCursorOnly) {
  Screen s;
  s.PutText(1, 4, "abc");
  s.SetCursor(1, 4);
  s.WriteChar(key::Backspace);
  EXPECT_EQ(s.CursorX(), 1);
  s.SetCursor(10, 4);
  s.PutText(9, 4, "Q");
  s.SetCursor(10, 4);
  s.WriteChar(key::Backspace);
  EXPECT_EQ(s.CursorX(), 9);
  EXPECT_EQ(s.CharAt(9, 4), 'Q');
  s.WriteChar(key::LineFeed);
  EXPECT_EQ(s.CursorX(), 9);
  EXPECT_EQ(s.CursorY(), 5);
  s.WriteChar(key::Enter);
  EXPECT_EQ(s.CursorX(), 1);
  EXPECT_EQ(s.CursorY(), 5);
}

TEST(ScreenWrite, FullRowWrapsWithoutScrollingAndLastRowScrolls) {
  Screen s;
  s.PutText(1, 1, std::string(80, 'x').c_str());
  EXPECT_EQ(s.CursorX(), 1);
  EXPECT_EQ(s.CursorY(), 2);
  EXPECT_EQ(s.CharAt(80, 1), 'x');

  s.PutText(1, 2, "top");
  s.SetCursor(80, 25);
  s.WriteChar('e');  // the cell the tool never writes: the screen scrolls
  EXPECT_EQ(s.TextAt(1, 1, 3), "top");
  EXPECT_EQ(s.CharAt(80, 24), 'e');
  EXPECT_EQ(s.CursorY(), 25);
}

TEST(ScreenWrite, FormattedAndAttributes) {
  Screen s;
  s.SetAttribute(ColorAlert);
  s.SetCursor(31, 4);
  s.WriteFormatted("%3d%%", 2);
  EXPECT_EQ(s.TextAt(31, 4, 4), "  2%");
  EXPECT_EQ(s.AttrAt(31, 4), ColorAlert);
  s.PutTextAttr(1, 1, "x", ColorSelected);
  EXPECT_EQ(s.AttrAt(1, 1), ColorSelected);
  EXPECT_EQ(s.Attribute(), ColorNormal);
}

TEST(ScreenWrite, ClearScreenUsesTheCurrentAttribute) {
  Screen s;
  s.PutText(5, 5, "abc");
  s.SetAttribute(ColorPanel);
  s.ClearScreen();
  EXPECT_EQ(s.CharAt(5, 5), ' ');
  EXPECT_EQ(s.AttrAt(80, 25), ColorPanel);
  EXPECT_EQ(s.CursorX(), 1);
  EXPECT_EQ(s.CursorY(), 1);
}

TEST(ScreenRect, SaveAndRestoreWithTheirChecks) {
  Screen s;
  s.PutTextAttr(10, 10, "hello", ColorAlert);
  uint8_t buf[ScreenSaveBytes];
  ASSERT_EQ(s.SaveRect(10, 10, 14, 11, buf), 1);
  EXPECT_EQ(buf[0], 'h');
  EXPECT_EQ(buf[1], ColorAlert);
  s.ClearScreen();
  ASSERT_EQ(s.RestoreRect(10, 10, 14, 11, buf), 1);
  EXPECT_EQ(s.TextAt(10, 10, 5), "hello");
  EXPECT_EQ(s.AttrAt(14, 10), ColorAlert);

  struct Bad {
    int l, t, r, b;
  } bad[] = {{0, 1, 5, 5}, {1, 1, 81, 5}, {1, 1, 5, 26}, {6, 1, 5, 5}, {1, 6, 5, 5}};
  std::memset(buf, 0xAA, sizeof buf);
  for (const Bad& r : bad) {
    EXPECT_EQ(s.SaveRect(r.l, r.t, r.r, r.b, buf), 0);
    EXPECT_EQ(s.RestoreRect(r.l, r.t, r.r, r.b, buf), 0);
  }
  EXPECT_EQ(buf[0], 0xAA);
  EXPECT_EQ(s.TextAt(10, 10, 5), "hello");

  Screen whole;
  whole.PutText(3, 3, "z");
  ASSERT_EQ(whole.SaveRect(1, 1, 80, 25, buf), 1);
  Screen other;
  other.RestoreRect(1, 1, 80, 25, buf);
  EXPECT_EQ(other.Dump(), whole.Dump());
}

TEST(ScreenPanel, DrawAndEraseCoverExactlyTheBox) {
  Screen s;
  s.DrawPanel(20, 10, 41, 10);
  EXPECT_EQ(s.CharAt(20, 10), line::SingleTopLeft);
  EXPECT_EQ(s.CharAt(62, 10), line::SingleTopRight);
  EXPECT_EQ(s.CharAt(20, 21), line::SingleBottomLeft);
  EXPECT_EQ(s.CharAt(62, 21), line::SingleBottomRight);
  EXPECT_EQ(s.CharAt(21, 10), line::SingleHorizontal);
  EXPECT_EQ(s.CharAt(20, 15), line::SingleVertical);
  EXPECT_EQ(s.CharAt(40, 15), ' ');
  EXPECT_EQ(s.AttrAt(40, 15), ColorPanel);
  EXPECT_EQ(s.AttrAt(63, 10), ColorNormal);
  EXPECT_EQ(s.AttrAt(20, 22), ColorNormal);
  EXPECT_EQ(s.Attribute(), ColorNormal);

  s.SetCursor(30, 30);
  s.ErasePanel(20, 10, 41, 10);
  for (int y = 10; y <= 21; ++y)
    for (int x = 20; x <= 62; ++x) {
      EXPECT_EQ(s.CharAt(x, y), ' ');
      EXPECT_EQ(s.AttrAt(x, y), ColorNormal);
    }
  EXPECT_EQ(s.CursorX(), 1);
  EXPECT_EQ(s.CursorY(), 1);

  Screen flat;
  flat.DrawPanel(5, 5, 3, 0);
  EXPECT_EQ(flat.CharAt(5, 5), line::SingleTopLeft);
  EXPECT_EQ(flat.CharAt(5, 6), line::SingleBottomLeft);
  EXPECT_EQ(flat.CharAt(5, 7), ' ');

  Screen rect;
  rect.DrawPanelRect(10, 10, 70, 17);
  EXPECT_EQ(rect.CharAt(10, 10), line::SingleTopLeft);
  EXPECT_EQ(rect.CharAt(70, 17), line::SingleBottomRight);
  EXPECT_EQ(rect.CharAt(69, 16), ' ');
  EXPECT_EQ(rect.AttrAt(69, 16), ColorPanel);
}

TEST(ScreenFrame, FramesLinesAndNothing) {
  Screen s;
  s.SetAttribute(ColorAlert);
  s.DrawFrame(2, 2, 78, 24, line::DoubleHorizontal);
  EXPECT_EQ(s.CharAt(2, 2), line::DoubleTopLeft);
  EXPECT_EQ(s.CharAt(78, 2), line::DoubleTopRight);
  EXPECT_EQ(s.CharAt(2, 24), line::DoubleBottomLeft);
  EXPECT_EQ(s.CharAt(78, 24), line::DoubleBottomRight);
  EXPECT_EQ(s.CharAt(40, 2), line::DoubleHorizontal);
  EXPECT_EQ(s.CharAt(2, 12), line::DoubleVertical);
  EXPECT_EQ(s.AttrAt(2, 12), ColorAlert);  // current attribute, unchanged
  EXPECT_EQ(s.CharAt(40, 12), ' ');

  Screen none;
  const std::string before = none.Dump();
  none.DrawFrame(5, 5, 5, 5, line::SingleHorizontal);
  none.DrawFrame(9, 5, 5, 5, line::SingleHorizontal);
  EXPECT_EQ(none.Dump(), before);

  Screen lines;
  lines.DrawFrame(3, 1, 3, 4, line::SingleVertical);
  lines.DrawFrame(1, 10, 80, 10, line::DoubleHorizontal);
  EXPECT_EQ(lines.CharAt(3, 4), line::SingleVertical);
  EXPECT_EQ(lines.CharAt(3, 5), ' ');
  EXPECT_EQ(lines.TextAt(1, 10), std::string(80, static_cast<char>(line::DoubleHorizontal)));
}

TEST(ScreenHints, LinesStandAtTheirColumnsInTheirColours) {
  Screen s;
  s.HintsFieldEdit();
  EXPECT_EQ(s.TextAt(4, 24, 7), std::string("Стрелки"_cp));
  EXPECT_EQ(s.AttrAt(4, 24), ColorHintKey);
  EXPECT_EQ(s.TextAt(11, 24, 10), std::string("-Переход  "_cp));
  EXPECT_EQ(s.AttrAt(11, 24), ColorPanel);
  EXPECT_EQ(s.TextAt(68, 24, 9), std::string("-Выход   "_cp));
  EXPECT_EQ(s.AttrAt(77, 24), ColorNormal);  // the line ends at column 76

  s.HintsParameterChoice();
  EXPECT_EQ(s.TextAt(4, 24, 7), std::string("СТРЕЛКИ"_cp));
  EXPECT_EQ(s.TextAt(49, 24, 28), std::string("-Выход"_cp) + std::string(22, ' '));
  s.HintsDigitEntry();
  EXPECT_EQ(s.TextAt(4, 24, 12), std::string("Цифры-Ввод  "_cp));
  EXPECT_EQ(s.AttrAt(9, 24), ColorPanel);
  EXPECT_EQ(s.Attribute(), ColorNormal);
}

TEST(ScreenKeys, ExtendedKeysArriveAsPrefixThenScanCode) {
  ScriptedConsole console({test::Right, test::Chr('M'), test::Esc, test::F10});
  Screen s(&console);
  EXPECT_EQ(s.ReadKey(), key::Prefix);
  EXPECT_EQ(s.ReadKey(), key::Right);
  EXPECT_EQ(s.ReadKeyCode(), 0x4D);  // a typed capital M reads like Right
  EXPECT_EQ(s.ReadKeyCode(), key::Esc);
  EXPECT_EQ(s.ReadKeyCode(), key::F10);
  EXPECT_THROW(s.ReadKey(), test::OutOfKeys);
}

TEST(ScreenKeys, QuestionsTakeExtendedKeysWholeAndNeverAsLetters) {
  // Alt+2 arrives as scan code 0x79 ('y'), PgUp as 0x49 ('I').
  ScriptedConsole console({test::Chr('y'), test::Chr('Y'), test::Chr('n'), test::Ext(0x79), test::Chr('y'),
                           test::PgUp, test::Chr('I')});
  Screen s(&console);
  EXPECT_TRUE(s.ReadYes());
  EXPECT_TRUE(s.ReadYes());
  EXPECT_FALSE(s.ReadYes());
  EXPECT_FALSE(s.ReadYes());
  EXPECT_TRUE(s.ReadYes());  // the scan code was not left behind
  EXPECT_EQ(s.ReadCharacterKey(), Screen::NoCharacter);
  EXPECT_EQ(s.ReadCharacterKey(), 'I');
}

// On a Russian keyboard layout the keys of I and Y type Ш and Н: a question
// asking for the letter takes them as the letter.
TEST(ScreenKeys, QuestionsTakeTheLettersOnARussianLayout) {
  struct Case {
    const char* name;
    KeyPress key;
    int character;  // what ReadCharacterKey gives
    bool yes;       // what ReadYes answers
  };
  const std::vector<Case> cases = {
      {"capital En (the key of Y) is Y", test::Chr(0x8D), 'Y', true},
      {"small en is y", test::Chr(0xAD), 'y', true},
      {"capital Sha (the key of I) is I", test::Chr(0x98), 'I', false},
      {"small sha is i", test::Chr(0xE8), 'i', false},
      {"Te, on the key of N, stays itself and is no", test::Chr(0x92), 0x92, false},
      {"capital I of the Cyrillic alphabet is not I", test::Chr(0x88), 0x88, false},
      {"Y itself", test::Chr('Y'), 'Y', true},
      {"PgUp (scan code of I) is no letter", test::PgUp, Screen::NoCharacter, false},
      {"extended 0x8D is no letter", test::Ext(0x8D), Screen::NoCharacter, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedConsole console({c.key, c.key, test::Chr('x')});
    Screen s(&console);
    EXPECT_EQ(s.ReadCharacterKey(), c.character);
    EXPECT_EQ(s.ReadYes(), c.yes);
    EXPECT_EQ(s.ReadCharacterKey(), 'x');  // nothing of the key was left behind
  }
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

using test::Chr;
using test::Enter;
using test::Esc;
using test::ScriptedConsole;

constexpr KeyPress CtrlC = test::Chr(key::CtrlC);

// Keys typed while the tool waited for the device were typed blind: the next
// key read, whatever screen makes it, drops them. Keys typed ahead without a
// wait between (an operator who knows the menus) are kept.
TEST(ScreenTypeahead, KeysTypedDuringAWaitAnswerNothing) {
  struct Case {
    const char* name;
    bool waited;
    int expected;
  };
  const Case cases[] = {{"after a wait", true, 'n'}, {"without a wait", false, key::Enter}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedConsole console({Chr('n')});
    Screen s(&console);
    if (c.waited) s.NoteWait();
    console.TypeAhead({Enter, Chr('y')});
    EXPECT_EQ(s.ReadKey(), c.expected);
    // The wait is spent by one key read: later typeahead counts again.
    console.TypeAhead({Chr('y')});
    EXPECT_EQ(s.ReadKey(), 'y');
  }
}

// Ctrl+C is no key of any screen: it asks whether to leave, over whatever
// stands there; a second Ctrl+C, or one typed while the question stands,
// leaves at once.
TEST(ScreenCtrlC, AsksToLeaveAndASecondOneLeaves) {
  {
    SCOPED_TRACE("stays: the key read goes on");
    ScriptedConsole console({CtrlC, Chr('x')});
    Screen s(&console);
    int asked = 0;
    s.SetLeaveQuestion([&] { return ++asked, false; });
    EXPECT_EQ(s.ReadKey(), 'x');
    EXPECT_EQ(asked, 1);
  }
  {
    SCOPED_TRACE("leaves");
    ScriptedConsole console({CtrlC});
    Screen s(&console);
    s.SetLeaveQuestion([] { return true; });
    EXPECT_THROW(s.ReadKey(), LeaveRequested);
  }
  {
    SCOPED_TRACE("no question: leaves");
    ScriptedConsole console({CtrlC});
    Screen s(&console);
    EXPECT_THROW(s.ReadKey(), LeaveRequested);
  }
  {
    SCOPED_TRACE("Ctrl+C while the question stands");
    ScriptedConsole console({CtrlC, CtrlC});
    Screen s(&console);
    s.SetLeaveQuestion([&s] { return s.ReadYes(); });
    EXPECT_THROW(s.ReadKey(), LeaveRequested);
  }
  {
    SCOPED_TRACE("Ctrl+C during a wait: asked at the next key read, the wait goes on");
    ScriptedConsole console({Chr('x')});
    Screen s(&console);
    int asked = 0;
    s.SetLeaveQuestion([&] { return ++asked, false; });
    s.NoteWait();
    console.TypeAhead({Chr('a'), CtrlC, Chr('b')});
    EXPECT_FALSE(s.EscPressed());
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(s.ReadKey(), 'x');
    EXPECT_EQ(asked, 1);
  }
  {
    SCOPED_TRACE("two during a wait: leaves at once");
    ScriptedConsole console;
    Screen s(&console);
    s.SetLeaveQuestion([] { return false; });
    console.TypeAhead({CtrlC, Esc, CtrlC});
    EXPECT_TRUE(s.EscPressed());
    EXPECT_THROW(s.EscPressed(), LeaveRequested);
  }
}

}  // namespace
}  // namespace tv
