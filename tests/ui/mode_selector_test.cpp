// The mode-string chooser: the cycles of every kind, every display text,
// and what Enter and Esc leave in the image and on the line.
#include "ui/mode_selector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/form_grid.h"
#include "tests/ui/forms_bench.h"

namespace tv {
namespace {

using namespace test;

TEST(ModeSelectorCycle, UpAndDownStepThroughEachKindsValues) {
  struct Case {
    std::string name;
    SelectorKind kind;
    std::string from, to;  // from[i] steps to to[i]
  };
  const std::vector<Case> cases = {
      {"barring", SelectorKind::Barring, "01", "10"},
      {"barring off the cycle", SelectorKind::Barring, "27", "00"},
      {"outgoing control", SelectorKind::OutgoingControlKind, "012", "120"},
      {"outgoing routing values are not offered", SelectorKind::OutgoingControlKind, "4563", "0000"},
      {"incoming control", SelectorKind::IncomingControlKind, "012456", "124560"},
      {"incoming off the cycle", SelectorKind::IncomingControlKind, "37", "00"},
      {"message", SelectorKind::MessageKind, "012", "120"},
      {"message off the cycle", SelectorKind::MessageKind, "7", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (std::size_t i = 0; i < c.from.size(); ++i)
      EXPECT_EQ(NextModeValue(c.kind, c.from[i]), c.to[i]) << c.from[i];
  }
  // A zero byte (a mode string cut short) is off every cycle.
  EXPECT_EQ(NextModeValue(SelectorKind::IncomingControlKind, 0), '0');
}

TEST(ModeSelectorText, EveryValueOfEveryKind) {
  struct Case {
    SelectorKind kind;
    char c;
    std::string text;
  };
  const std::vector<Case> cases = {
      {SelectorKind::Barring, '1', "Запрещена"_cp},
      {SelectorKind::Barring, '0', "Разрешена"_cp},
      {SelectorKind::Barring, 0, "Разрешена"_cp},
      {SelectorKind::OutgoingControlKind, '0', "Контроля нет"_cp},
      {SelectorKind::OutgoingControlKind, '1', "Запрещенные номера"_cp},
      {SelectorKind::OutgoingControlKind, '2', "Разрешенные номера"_cp},
      {SelectorKind::OutgoingControlKind, '4', "Маршрутизация"_cp},
      {SelectorKind::OutgoingControlKind, '5', "Запрещенные номера и маршрутизация"_cp},
      {SelectorKind::OutgoingControlKind, '6', "Разрешенные номера и маршрутизация"_cp},
      {SelectorKind::OutgoingControlKind, '3', "Неизвестный режим"_cp},
      {SelectorKind::IncomingControlKind, '0', "Контроля нет"_cp},
      {SelectorKind::IncomingControlKind, '1', "Черный список"_cp},
      {SelectorKind::IncomingControlKind, '2', "Белый список"_cp},
      {SelectorKind::IncomingControlKind, '4', "Обратный вызов"_cp},
      {SelectorKind::IncomingControlKind, '5', "Черный список и обратный вызов"_cp},
      {SelectorKind::IncomingControlKind, '6', "Белый список и обратный вызов"_cp},
      {SelectorKind::IncomingControlKind, 0, "Неизвестный режим"_cp},
      {SelectorKind::MessageKind, '0', "Без сообщения"_cp},
      {SelectorKind::MessageKind, '1', "Сообщение перед подачей звонка"_cp},
      {SelectorKind::MessageKind, '2', "Сообщение после звонка и ответа"_cp},
      {SelectorKind::MessageKind, '7', "Без сообщения"_cp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.c ? c.c : '0') + " " + std::to_string(static_cast<int>(c.kind)));
    const std::string text = ModeValueText(c.kind, c.c);
    const std::size_t width = c.kind == SelectorKind::Barring ? 9 : 34;
    ASSERT_EQ(text.size(), width);
    EXPECT_EQ(text.substr(0, c.text.size()), c.text);
    EXPECT_EQ(text.find_first_not_of(' ', c.text.size()), std::string::npos);
  }
}

// The outgoing control at column 2, row 12 of the settings grid: (36, 21).
FormGrid ControlField() {
  return FormGrid{2, 12, {12, 36, 60}, {8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 20, 21, 22}};
}

TEST(ModeSelector, StepsShowInThePanelColourAndChangeTheImageAtOnce) {
  FormsBench b;
  b.tool.image.SetCellNumber(ModeCell, "4000100");
  b.console.Add({Down});
  FormGrid grid = ControlField();
  EXPECT_THROW(ModeSelector(b.tool, grid, OutgoingControl, SelectorKind::OutgoingControlKind), OutOfKeys);
  EXPECT_EQ(b.tool.image.ModeChar(OutgoingControl), '0');
  EXPECT_EQ(b.screen.TextAt(36, 21, 34), OutgoingControlText('0'));
  EXPECT_EQ(b.screen.AttrAt(36, 21), ColorPanel);
  EXPECT_EQ(b.screen.AttrAt(69, 21), ColorPanel);
  EXPECT_TRUE(b.port.written.empty());
}

TEST(ModeSelector, EscPutsBackTheValueAndSendsNothing) {
  FormsBench b;
  b.tool.image.SetCellNumber(ModeCell, "1000100");
  b.console.Add({Up, Up, Esc});
  FormGrid grid = ControlField();
  ModeSelector(b.tool, grid, OutgoingControl, SelectorKind::OutgoingControlKind);
  EXPECT_EQ(b.tool.image.CellNumber(ModeCell), "1000100");
  EXPECT_EQ(b.screen.TextAt(36, 21, 34), OutgoingControlText('1'));
  EXPECT_EQ(b.screen.AttrAt(36, 21), ColorNormal);
  EXPECT_EQ(b.screen.Attribute(), ColorNormal);
  EXPECT_TRUE(b.port.written.empty());
}

TEST(ModeSelector, EnterWritesCellNinetyEight) {
  struct Case {
    std::string name;
    std::vector<KeyPress> keys;
    std::string mode;
  };
  const std::vector<Case> cases = {
      {"without a step", {Enter}, "1100200"},
      {"after two steps", {Down, Up, Enter}, "0100200"},
      {"other keys are ignored", {Left, Chr('5'), Tab, Enter}, "1100200"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormsBench b;  // the gateway's mode string is "1100200"
    b.console.Add(c.keys);
    FormGrid grid = ControlField();
    ModeSelector(b.tool, grid, OutgoingControl, SelectorKind::OutgoingControlKind);
    EXPECT_EQ(b.port.written, FormsBench::Cpbw(ModeCell, c.mode, "98.GSM.TRV"));
    EXPECT_EQ(b.gateway.Number(ModeCell), c.mode);
    EXPECT_EQ(b.tool.image.CellNumber(ModeCell), c.mode);
    EXPECT_EQ(b.screen.TextAt(36, 21, 34), OutgoingControlText(c.mode[0]));
    EXPECT_EQ(b.screen.AttrAt(36, 21), ColorNormal);
  }
}

TEST(ModeSelector, WithAFileLoadedEnterChangesOnlyTheImage) {
  FormsBench b;
  b.UseFile();
  b.console.Add({Down, Enter});
  FormGrid grid = ControlField();
  ModeSelector(b.tool, grid, OutgoingControl, SelectorKind::OutgoingControlKind);
  EXPECT_EQ(b.tool.image.CellNumber(ModeCell), "2100200");
  EXPECT_TRUE(b.port.written.empty());
  EXPECT_EQ(b.gateway.Number(ModeCell), "1100200");
}

TEST(ModeSelector, ChoosingInAnEmptyModeStringGivesAOneCharacterText) {
  FormsBench b;
  b.UseFile();
  b.tool.image.SetCellNumber(ModeCell, "");
  b.console.Add({Up, Enter});
  FormGrid grid = ControlField();
  ModeSelector(b.tool, grid, OutgoingControl, SelectorKind::OutgoingControlKind);
  EXPECT_EQ(b.tool.image.CellNumber(ModeCell), "0");
}

}  // namespace
}  // namespace tv
