// Keys as an operator's keyboard sends them through a real terminal: a
// Russian layout answering the tool's questions, digits typed over the "0" of
// an unused cell, Backspace, and Alt held down with a key.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

// A settings file as the tool saves it: contacts 01-39 hold numbers, every
// other cell the unused marker "0", cell 98 the mode string and signature.
void WriteSettingsFile(const std::string& path) {
  std::string text;
  for (int i = 1; i <= 99; ++i) {
    char line[64];
    const std::string number = i == 98 ? "0000100" : i < 40 ? "8916123" + std::to_string(4500 + i) : "0";
    const std::string name = i == 98 ? "98.GSM.TRV" : (i < 10 ? "0" : "") + std::to_string(i);
    std::snprintf(line, sizeof line, " %02d,\"%s\",129,\"%s\"\r\n", i, number.c_str(), name.c_str());
    text += line;
  }
  text.resize((text.size() / 256 + 1) * 256, '\0');
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// File -> Load for editing, up to the question about book.set.
::testing::AssertionResult AskToLoad(TerminalSession& t) {
  if (auto r = Choose(t, kFileMenu, 4, Utf8(u8"Загрузка файла для редактирования")); !r) return r;
  if (!t.WaitFor([&] { return t.TextAt(20, 6, 8) == "book.set" && t.CellBg(20, 6) == Indexed(ansi::Green); },
                 kScreenWait))
    return Failure(t, "no file list with book.set");
  t.Press(Key::Enter);
  return Shows(t, 20, 4, Utf8(u8"Загрузить данные для редактирования? [Y/N]"));
}

// After the answer: the file is loaded, a key brings the menu back.
::testing::AssertionResult FinishLoad(TerminalSession& t) {
  if (auto r = Shows(t, 20, 4, Utf8(u8"Данные загружены. Для продолжения нажмите любую клавишу")); !r)
    return r;
  t.SendKeys(" ");
  if (!t.WaitFor([&] { return OpenMenu(t) == kFileMenu && t.CursorPos() == std::make_pair(2, 6); },
                 kScreenWait))
    return Failure(t, "no menu after loading");
  return ::testing::AssertionSuccess();
}

// A session with book.set loaded for editing, the File menu open.
::testing::AssertionResult LoadBook(TerminalSession& t) {
  WriteSettingsFile(t.Directory() + "/book.set");
  if (auto r = AskToLoad(t); !r) return r;
  t.SendKeys("y");
  return FinishLoad(t);
}

// Programming -> Outgoing calls: the cursor on the first forbidden-list field
// (cell 40, columns 12..19 of row 8).
constexpr int kFieldX = 12, kFieldY = 8, kFieldWidth = 8;
::testing::AssertionResult OpenOutgoingForm(TerminalSession& t) {
  if (auto r = Choose(t, kProgrammingMenu, 2, Utf8(u8"Исходящая связь")); !r) return r;
  if (!t.WaitFor(
          [&] {
            return t.TextAt(30, 2, 17) == Utf8(u8" Исходящая связь ") &&
                   t.CursorPos() == std::make_pair(kFieldX, kFieldY);
          },
          kScreenWait))
    return Failure(t, "no outgoing calls form");
  return ShowsField(t, kFieldX, kFieldY, "0", kFieldWidth);
}

// The key of Y on a Russian layout types Н: it answers a [Y/N] question yes.
TEST(OperatorKeysE2E, TheKeyOfYOnARussianLayoutAnswersYes) {
  for (const char8_t* answer : {u8"Н", u8"н"}) {
    SCOPED_TRACE(Utf8(answer));
    TerminalSession t(TarvelinBinary());
    WriteSettingsFile(t.Directory() + "/book.set");
    ASSERT_TRUE(AskToLoad(t));
    t.Type(Utf8(answer));
    ASSERT_TRUE(FinishLoad(t));
    EXPECT_TRUE(Shows(t, 59, 1, Utf8(u8"Файл: book.set")));
  }
}

// Digits typed into a list field that shows the unused marker "0" stand
// alone; Backspace (DEL or ^H from the terminal) takes back what is before
// the cursor.
TEST(OperatorKeysE2E, DigitsTypedOverTheUnusedMarkerStandAlone) {
  struct Case {
    const char* name;
    std::string keys;  // typed after Enter on the field, as the terminal sends them
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"digits", "8495", "8495"},
      {"a number beginning with 0", "0951", "0951"},
      {"Backspace as DEL", "84951" + keys::Del, "8495"},
      {"Backspace as ^H, in the middle", "8495" + keys::CsiLeft + keys::CtrlH + "7", "8475"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TerminalSession t(TarvelinBinary());
    ASSERT_TRUE(LoadBook(t));
    ASSERT_TRUE(OpenOutgoingForm(t));
    ASSERT_TRUE(EditField(
        t, kFieldX, kFieldY, kFieldWidth, [&] { t.SendKeys(c.keys); }, c.shown));
    // Still the form, on the same field.
    ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(kFieldX, kFieldY); }, kScreenWait));
    EXPECT_TRUE(Shows(t, 30, 2, Utf8(u8" Исходящая связь ")));
  }
}

// Terminals send Alt+key as ESC and the key in one write. That is not Esc:
// the menu, the form and the field editor stay as they are, and the next key
// acts there. A lone Esc still acts at once.
TEST(OperatorKeysE2E, AltWithAKeyIsNotEsc) {
  enum class Place { Menu, Form, Editor };
  struct Case {
    const char* name;
    Place place;
    std::string chord;
  };
  const std::vector<Case> cases = {
      {"Alt+x in the menu", Place::Menu, "\x1bx"},
      {"Alt+x in a form", Place::Form, "\x1bx"},
      {"Alt+Cyrillic in a form", Place::Form, "\x1b" + Utf8(u8"ч")},
      {"Alt+5 in the field editor", Place::Editor,
       "\x1b"
       "5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TerminalSession t(TarvelinBinary());
    ASSERT_TRUE(LoadBook(t));
    if (c.place == Place::Menu) {
      // File open, "Load for editing" highlighted.
      t.SendKeys(c.chord);
      ASSERT_TRUE(MoveTo(t, Key::Down, 2, 7));
      EXPECT_EQ(OpenMenu(t), kFileMenu);
      // Esc alone jumps to Exit.
      ASSERT_TRUE(MoveTo(t, Key::Esc, 2, 8));
      EXPECT_TRUE(Shows(t, 2, 8, Utf8(u8" Выход")));
      continue;
    }
    ASSERT_TRUE(OpenOutgoingForm(t));
    if (c.place == Place::Form) {
      t.SendKeys(c.chord);
      ASSERT_TRUE(MoveTo(t, Key::Down, kFieldX, kFieldY + 1));
      EXPECT_TRUE(Shows(t, 30, 2, Utf8(u8" Исходящая связь ")));
      ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));
      continue;
    }
    t.Press(Key::Enter);
    ASSERT_TRUE(
        t.WaitFor([&] { return t.CellBg(kFieldX, kFieldY) == Indexed(ansi::LightGrey); }, kScreenWait))
        << t.ScreenText();
    t.SendKeys(c.chord);
    t.SendKeys("7");
    // The editor still has the field: 7 took the place of the marker.
    ASSERT_TRUE(t.WaitFor(
        [&] {
          return t.TextAt(kFieldX, kFieldY, kFieldWidth) == "7       " &&
                 t.CellBg(kFieldX, kFieldY) == Indexed(ansi::LightGrey) &&
                 t.CursorPos() == std::make_pair(kFieldX + 1, kFieldY);
        },
        kScreenWait))
        << t.ScreenText();
    // Esc alone drops the edit and stays in the form.
    t.Press(Key::Esc);
    ASSERT_TRUE(ShowsField(t, kFieldX, kFieldY, "0", kFieldWidth));
    EXPECT_TRUE(Shows(t, 30, 2, Utf8(u8" Исходящая связь ")));
  }
}

}  // namespace
}  // namespace tv::e2e
