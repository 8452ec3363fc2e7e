// The outgoing-call and incoming-call settings forms: the gate on the work
// state, the layout for a sample image, which fields Enter and F10 act on,
// and edits reaching the gateway's SIM.
#include "ui/settings_forms.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/forms_bench.h"

namespace tv {
namespace {

using namespace test;

struct Placed {
  int x, y;
  std::string text;
};

void ExpectTexts(const FormsBench& b, const std::vector<Placed>& texts) {
  for (const Placed& p : texts) {
    SCOPED_TRACE(std::to_string(p.x) + "," + std::to_string(p.y));
    EXPECT_EQ(b.screen.TextAt(p.x, p.y, static_cast<int>(p.text.size())), p.text);
  }
}

// The sample gateway: 40 "8800", 50 "8495", 70 "89031234567", 71
// "89261112233", 90 "89167654321", the rest "0"; mode string "1100200".
TEST(OutgoingForm, LayoutForTheSampleImage) {
  FormsBench b;
  EXPECT_THROW(OutgoingCallsEditor(b.tool), OutOfKeys);
  ExpectTexts(b, {
                     {29, 2, "═ Исходящая связь ═"_cp},
                     {4, 4, "Запрещенный набор"_cp},
                     {4, 6, "Контакт Номер"_cp},
                     {28, 4, "Разрешенный набор"_cp},
                     {28, 6, "Контакт Номер"_cp},
                     {8, 8, "40  8800    "},
                     {8, 9, "41  0       "},
                     {8, 17, "49  0       "},
                     {32, 8, "50  8495    "},
                     {32, 17, "59  0       "},
                     {8, 20, "Связь: . . . . . . . . . ."_cp},
                     {8, 21, "Контроль:. . . . . . . . ."_cp},
                     {36, 20, "Разрешена"_cp},
                     {36, 21, OutgoingControlText('1')},
                     {4, 24, "СТРЕЛКИ-Выбор параметра  ENTER-Изменение  ESC-Выход"_cp},
                 });
  // Nothing in column 3 or on row 22.
  EXPECT_EQ(b.Trimmed(3, 22, 75), "");
  EXPECT_EQ(b.Trimmed(56, 8, 22), "");
  EXPECT_EQ(b.screen.CharAt(2, 2), line::DoubleTopLeft);
  EXPECT_EQ(b.screen.CharAt(78, 24), line::DoubleBottomRight);
  // The cursor waits on column 1, row 1, the field highlighted.
  EXPECT_EQ(b.screen.AttrAt(12, 8), ColorSelected);
  EXPECT_EQ(b.screen.AttrAt(12, 9), ColorNormal);
  EXPECT_EQ(b.screen.CursorX(), 12);
  EXPECT_EQ(b.screen.CursorY(), 8);
}

TEST(IncomingForm, LayoutForTheSampleImage) {
  FormsBench b;
  b.tool.image.SetCellNumber(ModeCell, "1110207");
  b.tool.image.SetCellNumber(95, "12345678901234567890");
  EXPECT_THROW(IncomingCallsEditor(b.tool), OutOfKeys);
  ExpectTexts(b, {
                     {29, 2, "═ Входящая связь ═"_cp},
                     {4, 4, "Черный список"_cp},
                     {28, 4, "Белый список"_cp},
                     {52, 4, "Обратный вызов"_cp},
                     {4, 6, "Контакт Номер"_cp},
                     {28, 6, "Контакт Номер"_cp},
                     {52, 6, "Контакт Номер"_cp},
                     {8, 8, "70  89031234567     "},
                     {8, 9, "71  89261112233     "},
                     {8, 17, "79  0               "},
                     {32, 8, "80  0"},
                     {56, 8, "90  89167654321     "},
                     {56, 12, "94  0"},
                     {56, 13, "95  1234567890123456 "},  // 20 characters shown as 16
                     {56, 15, "97  0"},
                     {8, 20, "Связь: . . . . . . . . . ."_cp},
                     {8, 21, "Контроль:. . . . . . . . ."_cp},
                     {8, 22, "Сообщение: . . . . . . . ."_cp},
                     {36, 20, "Запрещена"_cp},
                     {36, 21, IncomingControlText('1')},
                     {36, 22, MessageModeText('7')},
                 });
  EXPECT_EQ(b.screen.TextAt(36, 22, 13), std::string("Без сообщения"_cp));
  // Cells 98 and 99 are not listed.
  EXPECT_EQ(b.Trimmed(56, 16, 21), "");
  EXPECT_EQ(b.Trimmed(56, 17, 21), "");
}

TEST(SettingsForms, NeedADeviceOrAFile) {
  for (auto* form : {&OutgoingCallsEditor, &IncomingCallsEditor}) {
    FormsBench b;
    b.tool.state.deviceConnected = false;
    EXPECT_THROW(form(b.tool), OutOfKeys);  // the error box waits for a key
    EXPECT_NE(b.screen.Dump().find("Не выбран порт обмена"_cp), std::string::npos);
    b.console.Add({Enter});
    form(b.tool);  // the box closes and the form does not open
    EXPECT_EQ(b.screen.Dump().find("связь"_cp), std::string::npos);
    EXPECT_EQ(b.console.KeysLeft(), 0u);
    EXPECT_TRUE(b.port.written.empty());
  }
}

// Grid moves from column 1, row 1 to a field.
std::vector<KeyPress> To(int column, int row) {
  std::vector<KeyPress> keys(column - 1, Right);
  keys.insert(keys.end(), row - 1, Down);
  return keys;
}

std::vector<KeyPress> operator+(std::vector<KeyPress> a, const std::vector<KeyPress>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(SettingsForms, F10ShowsTheTopicOfTheField) {
  struct Case {
    std::string name;
    void (*form)(Tool&);
    int column, row;
    std::string topic;  // "" when F10 does nothing there
  };
  const std::vector<Case> cases = {
      {"forbidden list", OutgoingCallsEditor, 1, 10, "topic 10"},
      {"allowed list", OutgoingCallsEditor, 2, 1, "topic 11"},
      {"outgoing barring", OutgoingCallsEditor, 2, 11, "topic 13"},
      {"outgoing control", OutgoingCallsEditor, 2, 12, "topic 14"},
      {"Down from cell 49 reaches the barring", OutgoingCallsEditor, 1, 11, "topic 13"},
      {"Down from the control stays on it", OutgoingCallsEditor, 2, 13, "topic 14"},
      {"Right from the allowed list stays on it", OutgoingCallsEditor, 3, 1, "topic 11"},
      {"black list", IncomingCallsEditor, 1, 1, "topic 30"},
      {"white list", IncomingCallsEditor, 2, 10, "topic 31"},
      {"call-back list", IncomingCallsEditor, 3, 8, "topic 32"},
      {"incoming barring", IncomingCallsEditor, 2, 11, "topic 33"},
      {"incoming control", IncomingCallsEditor, 2, 12, "topic 34"},
      {"message", IncomingCallsEditor, 2, 13, "topic 35"},
      {"Down from cell 97 reaches the white list", IncomingCallsEditor, 3, 9, "topic 31"},
      {"incoming column 1 row 12: the control", IncomingCallsEditor, 1, 12, "topic 34"},
  };
  for (const Case& c : cases)
    for (const KeyPress help : {F10, F1}) {
      SCOPED_TRACE(c.name);
      FormsBench b;
      b.UseHelpTopics({10, 11, 13, 14, 30, 31, 32, 33, 34, 35});
      b.console.Add(To(c.column, c.row) + std::vector{help});
      if (c.topic.empty()) {
        // The form goes on navigating: Esc closes the form itself.
        b.console.Add({Esc});
        c.form(b.tool);
        EXPECT_EQ(b.console.KeysLeft(), 0u);
      } else {
        EXPECT_THROW(c.form(b.tool), OutOfKeys);  // the window waits for Esc
        EXPECT_EQ(b.ShownHelpTopic(), c.topic);
      }
    }
}

// Browsing moves only among the fields the form shows, the one with the
// focus highlighted: Enter always has a field to act on.
TEST(SettingsForms, TheFocusIsAlwaysOnAShownFieldAndHighlighted) {
  struct Case {
    std::string name;
    void (*form)(Tool&);
    std::vector<KeyPress> keys;
    int x, y;  // the field with the focus
    int width;
  };
  const std::vector<Case> cases = {
      {"start", OutgoingCallsEditor, {}, 12, 8, 8},
      {"Down from cell 49 to the barring", OutgoingCallsEditor, To(1, 10) + std::vector{Down}, 36, 20, 9},
      {"on to the control, and no further", OutgoingCallsEditor, To(1, 10) + std::vector{Down, Down, Down},
       36, 21, 34},
      {"Up from the barring to cell 59", OutgoingCallsEditor, To(1, 10) + std::vector{Down, Up}, 36, 17, 8},
      {"Left and Right on a mode row stay", OutgoingCallsEditor,
       To(1, 10) + std::vector{Down, Left, Right, Right}, 36, 20, 9},
      {"Right from the allowed list stays", OutgoingCallsEditor, {Right, Right, Right}, 36, 8, 8},
      {"Down from cell 97 to the white list", IncomingCallsEditor, To(3, 8) + std::vector{Down}, 36, 16, 16},
      {"Down from cell 79 to the barring", IncomingCallsEditor, To(1, 10) + std::vector{Down}, 36, 20, 9},
      {"down to the message mode", IncomingCallsEditor, To(1, 10) + std::vector{Down, Down, Down, Down}, 36,
       22, 34},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormsBench b;
    b.console.Add(c.keys);
    EXPECT_THROW(c.form(b.tool), OutOfKeys);
    EXPECT_EQ(b.screen.CursorX(), c.x);
    EXPECT_EQ(b.screen.CursorY(), c.y);
    for (int i = 0; i < c.width; ++i) ASSERT_EQ(b.screen.AttrAt(c.x + i, c.y), ColorSelected) << i;
    // Only that field: every other field is back to normal.
    int highlighted = 0;
    for (int y = 8; y <= 22; ++y)
      for (int x = 3; x <= 77; ++x) highlighted += b.screen.AttrAt(x, y) == ColorSelected;
    EXPECT_EQ(highlighted, c.width);
    // Enter acts on it: an editor or a selector opens (its keys run out).
    b.console.Add(c.keys + std::vector{Enter});
    EXPECT_THROW(c.form(b.tool), OutOfKeys);
    EXPECT_EQ(b.screen.AttrAt(c.x, c.y), ColorPanel);
  }
}

TEST(SettingsForms, AfterAnEditTheFieldKeepsTheFocus) {
  FormsBench b;
  b.console.Add(To(1, 3) + std::vector{Enter, Chr('7'), Enter});
  EXPECT_THROW(OutgoingCallsEditor(b.tool), OutOfKeys);
  EXPECT_EQ(b.screen.AttrAt(12, 10), ColorSelected);
  EXPECT_EQ(b.Trimmed(12, 10, 8), "7");
  EXPECT_EQ(b.screen.CursorY(), 10);
}

TEST(SettingsForms, EditsReachTheGatewaysSim) {
  struct Case {
    std::string name;
    void (*form)(Tool&);
    std::vector<KeyPress> keys;
    int cell;
    std::string number;
  };
  const std::vector<Case> cases = {
      {"forbidden entry, 8 wide", OutgoingCallsEditor,
       To(1, 2) + std::vector{Enter, Chr('8'), Chr('1'), Chr('0'), Chr('9'), Chr('9'), Chr('9'), Chr('9'),
                              Chr('9'), Chr('9'), Enter},
       41, "81099999"},  // the first digit takes the place of the unused "0"; 8 fit
      {"allowed entry", OutgoingCallsEditor, To(2, 1) + std::vector{Enter, Del, Chr('*'), Enter}, 50, "*495"},
      {"outgoing barring", OutgoingCallsEditor, To(2, 11) + std::vector{Enter, Up, Enter}, 98, "1101200"},
      {"outgoing control from 1 to 2", OutgoingCallsEditor, To(2, 12) + std::vector{Enter, Down, Enter}, 98,
       "2100200"},
      {"black list, 16 wide", IncomingCallsEditor,
       std::vector{Enter} + std::vector<KeyPress>(12, Right) + std::vector{Chr('5'), Enter}, 70,
       "890312345675"},
      {"white list", IncomingCallsEditor,
       To(2, 3) + std::vector{Enter, Chr('1'), Chr('2'), Chr('3'), Chr('4'), Chr('5'), Chr('6'), Chr('7'),
                              Chr('8'), Chr('9'), Chr('0'), Chr('1'), Chr('2'), Chr('3'), Chr('4'), Chr('5'),
                              Chr('6'), Chr('7'), Enter},
       82, "1234567890123456"},
      {"call-back", IncomingCallsEditor, To(3, 8) + std::vector{Enter, Chr('#'), Enter}, 97, "#"},
      {"incoming barring", IncomingCallsEditor, To(2, 11) + std::vector{Enter, Down, Enter}, 98, "1110200"},
      {"incoming control", IncomingCallsEditor, To(2, 12) + std::vector{Enter, Down, Down, Enter}, 98,
       "1400200"},
      {"message", IncomingCallsEditor, To(2, 13) + std::vector{Enter, Up, Enter}, 98, "1100201"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormsBench b;
    b.console.Add(c.keys);
    b.console.Add({Esc});
    c.form(b.tool);
    EXPECT_EQ(b.console.KeysLeft(), 0u);
    const std::string name = c.cell == ModeCell ? "98.GSM.TRV" : std::to_string(c.cell);
    EXPECT_EQ(b.port.written, FormsBench::Cpbw(c.cell, c.number, name));
    EXPECT_EQ(b.gateway.Number(c.cell), c.number);
    EXPECT_EQ(b.tool.image.CellNumber(c.cell), c.number);
  }
}

TEST(SettingsForms, WithAFileLoadedEditsStayInTheImage) {
  FormsBench b;
  b.UseFile();
  b.console.Add(To(1, 1) + std::vector{Enter, Chr('5'), Enter});
  b.console.Add(To(2, 12) + std::vector{Enter, Down, Enter, Esc});
  IncomingCallsEditor(b.tool);
  EXPECT_EQ(b.tool.image.CellNumber(70), "589031234567");
  EXPECT_EQ(b.tool.image.CellNumber(ModeCell), "1200200");
  EXPECT_TRUE(b.port.written.empty());
}

TEST(SettingsForms, NumberEditorShowsTheFieldEditHints) {
  FormsBench b;
  b.console.Add({Enter});
  EXPECT_THROW(OutgoingCallsEditor(b.tool), OutOfKeys);  // inside the number editor
  EXPECT_EQ(b.screen.TextAt(4, 24, 7), std::string("Стрелки"_cp));
  EXPECT_EQ(b.screen.AttrAt(12, 8), ColorPanel);
}

}  // namespace
}  // namespace tv
