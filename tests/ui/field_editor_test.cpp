// The in-place number and name editors: every key, the character sets and
// length limits, what the field shows while editing, what Enter stores and
// sends, and Esc.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "screen/form_grid.h"
#include "tests/ui/forms_bench.h"
#include "ui/cell_fields.h"

namespace tv {
namespace {

using namespace test;

enum class Editor { Number, Name };

struct EditCase {
  std::string name;
  Editor editor;
  int width;  // number field width (the name field is 32 wide)
  std::string start;
  std::vector<KeyPress> keys;  // position keys and typed keys, before Enter
  std::string shown;           // the field on screen while editing, blanks trimmed
  int pos;                     // insertion position: the cursor is at field x + pos
  std::string stored;          // the text after Enter
};

std::vector<KeyPress> Typed(const std::string& text) {
  std::vector<KeyPress> keys;
  for (char c : text) keys.push_back(Chr(static_cast<unsigned char>(c)));
  return keys;
}

std::vector<KeyPress> operator+(std::vector<KeyPress> a, const std::vector<KeyPress>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<KeyPress> Times(int n, KeyPress k) { return std::vector<KeyPress>(n, k); }

const std::string Name40 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABCD";

const std::vector<EditCase>& Cases() {
  static const std::vector<EditCase> cases = {
      // Moving.
      {"Right three times on 123 stops after the text", Editor::Number, 8, "123", Times(4, Right), "123", 3,
       "123"},
      {"typing after the Right bound appends", Editor::Number, 8, "123", Times(4, Right) + Typed("4"), "1234",
       4, "1234"},
      {"Left in column 0 stays", Editor::Number, 8, "12", {Left, Left}, "12", 0, "12"},
      {"Left then insert at the front", Editor::Number, 8, "45", {Right, Left, Chr('3')}, "345", 1, "345"},
      {"other extended keys do nothing", Editor::Number, 8, "12", {F10, Up, Down, PgDn, PgUp}, "12", 0, "12"},
      // Typing.
      {"nine digits in width 8 leave eight", Editor::Number, 8, "", Typed("123456789"), "12345678", 8,
       "12345678"},
      {"a full field refuses an insert as well", Editor::Number, 8, "",
       Typed("123456789") + std::vector{Left, Chr('0')}, "12345678", 7, "12345678"},
      {"insert at pos 2", Editor::Number, 8, "125", {Right, Right, Chr('4')}, "1245", 3, "1245"},
      {"plus, blank and letters are refused in a number", Editor::Number, 8, "12", Typed("+ aA-"), "12", 0,
       "12"},
      {"star and hash are digits of a number", Editor::Number, 8, "", Typed("*1#"), "*1#", 3, "*1#"},
      {"Tab is not an editing key", Editor::Number, 8, "12", {Tab}, "12", 0, "12"},
      // Delete.
      {"Delete in the middle closes the gap",
       Editor::Number,
       8,
       "12345",
       {Right, Right, Del},
       "1245",
       2,
       "1245"},
      {"Delete on the last character", Editor::Number, 8, "12345", Times(4, Right) + std::vector{Del}, "1234",
       4, "1234"},
      {"Delete behind the text does nothing", Editor::Number, 8, "123", Times(3, Right) + std::vector{Del},
       "123", 3, "123"},
      {"Delete on an empty text does nothing", Editor::Number, 8, "", {Del}, "", 0, ""},
      {"Delete the only character", Editor::Number, 8, "7", {Del}, "", 0, ""},
      // Backspace: the character before the cursor.
      {"Backspace at the front does nothing", Editor::Number, 8, "12", {Backspace}, "12", 0, "12"},
      {"Backspace at the end takes back the last character", Editor::Number, 8, "12345",
       Times(5, Right) + std::vector{Backspace}, "1234", 4, "1234"},
      {"Backspace in the middle closes the gap",
       Editor::Number,
       8,
       "12345",
       {Right, Right, Backspace},
       "1345",
       1,
       "1345"},
      {"Backspace takes back a mistyped digit", Editor::Number, 8, "",
       Typed("129") + std::vector{Backspace} + Typed("3"), "123", 3, "123"},
      {"Backspace at the field end of a long number", Editor::Number, 8, "1234567890",
       Times(8, Right) + std::vector{Backspace}, "12345679", 7, "123456790"},
      {"Backspace in a name", Editor::Name, 32, "ABC", {Right, Backspace}, "BC", 0, "BC"},
      // "0" marks an unused cell: the first character typed replaces it.
      {"digits typed into the unused marker", Editor::Number, 30, "0", Typed("89031234567"), "89031234567",
       11, "89031234567"},
      {"the marker is replaced wherever the cursor stands", Editor::Number, 8, "0",
       std::vector{Right} + Typed("84"), "84", 2, "84"},
      {"a typed 0 replaces the marker and the next digits follow it", Editor::Number, 8, "0", Typed("095"),
       "095", 3, "095"},
      {"a refused character leaves the marker to the first digit", Editor::Number, 8, "0", Typed("+7"), "7",
       1, "7"},
      {"star replaces the marker", Editor::Number, 8, "0", Typed("*1"), "*1", 2, "*1"},
      {"Backspace behind the marker empties the field", Editor::Number, 8, "0",
       std::vector{Right, Backspace} + Typed("5"), "5", 1, "5"},
      {"a leading zero of a number is not the marker", Editor::Number, 8, "05", Typed("7"), "705", 1, "705"},
      {"only the first character replaces the marker", Editor::Number, 8, "0",
       Typed("1") + std::vector{Left} + Typed("2"), "21", 1, "21"},
      // A number longer than its field (from the device): shown cut, kept whole.
      {"a long number shows its first 8 characters",
       Editor::Number,
       8,
       "1234567890",
       {},
       "12345678",
       0,
       "1234567890"},
      {"Right stops at the field width", Editor::Number, 8, "1234567890", Times(10, Right), "12345678", 8,
       "1234567890"},
      {"Delete in a long number shifts it within the field",
       Editor::Number,
       8,
       "1234567890",
       {Del},
       "23456789",
       0,
       "234567890"},
      {"Delete at the field end keeps the field", Editor::Number, 8, "1234567890",
       Times(8, Right) + std::vector{Del}, "12345678", 8, "123456780"},
      {"the phonebook width is 30", Editor::Number, 30, "", Typed(std::string(31, '5')), std::string(30, '5'),
       30, std::string(30, '5')},
      // Insert switches to typing over the text; Home and End.
      {"insert stays the default: 8495 typed on 8800 goes in front", Editor::Number, 8, "8800", Typed("8495"),
       "84958800", 4, "84958800"},
      {"Insert, then 8495 typed over 8800", Editor::Number, 8, "8800", std::vector{Ins} + Typed("8495"), "8495",
       4, "8495"},
      {"typing over runs on behind the text", Editor::Number, 8, "88", std::vector{Ins} + Typed("1234"), "1234",
       4, "1234"},
      {"typing over a full field stops at its end", Editor::Number, 8, "12345678",
       std::vector{Ins} + Typed("987654321"), "98765432", 8, "98765432"},
      {"Insert twice inserts again", Editor::Number, 8, "12", std::vector{Ins, Ins} + Typed("3"), "312", 1,
       "312"},
      {"typing over in the middle", Editor::Number, 8, "12345", std::vector{Right, Right, Ins} + Typed("9"),
       "12945", 3, "12945"},
      {"the unused marker is replaced when typing over too", Editor::Number, 8, "0",
       std::vector{Ins} + Typed("12"), "12", 2, "12"},
      {"typing over the shown part of a long number keeps its hidden part", Editor::Number, 8, "1234567890",
       std::vector{Ins} + Typed("9"), "92345678", 1, "9234567890"},
      {"typing over never reaches behind the field", Editor::Number, 8, "1234567890",
       std::vector{Ins, End} + Typed("9"), "12345678", 8, "1234567890"},
      {"End then Home", Editor::Number, 8, "12345", std::vector{End} + Typed("6") + std::vector{Home} + Typed("0"),
       "0123456", 1, "0123456"},
      {"End stops at the field width in a long number", Editor::Number, 8, "1234567890", {End}, "12345678", 8,
       "1234567890"},
      {"Backspace after End", Editor::Number, 8, "123", {End, Backspace}, "12", 2, "12"},
      {"typing over a name", Editor::Name, 32, "ABC", std::vector{Ins} + Typed("X"), "XBC", 1, "XBC"},
      {"End in a name", Editor::Name, 32, "ABC", std::vector{End} + Typed("D"), "ABCD", 4, "ABCD"},
      // Names.
      {"a small letter is refused in a name", Editor::Name, 32, "", Typed("aB"), "B", 1, "B"},
      {"the name set", Editor::Name, 32, "", Typed("QWERTYUIOP*#,."), "QWERTYUIOP*#,.", 14, "QWERTYUIOP*#,."},
      {"more name characters", Editor::Name, 32, "", Typed("ASDFGHJKL0123456"), "ASDFGHJKL0123456", 16,
       "ASDFGHJKL0123456"},
      {"blank, minus and Cyrillic are refused in a name", Editor::Name, 32, "",
       Typed(std::string(" -+") + "ЖЯ"_cp + "ZXCVBNM"), "ZXCVBNM", 7, "ZXCVBNM"},
      {"a name of 16 characters refuses more", Editor::Name, 32, "ABCDEFGHIJKLMNOP",
       Times(16, Right) + Typed("Q"), "ABCDEFGHIJKLMNOP", 16, "ABCDEFGHIJKLMNOP"},
      {"insert into a name", Editor::Name, 32, "AC", {Right, Chr('B')}, "ABC", 2, "ABC"},
      {"Delete in a name", Editor::Name, 32, "ABC", {Del}, "BC", 0, "BC"},
      {"Right in a long name stops at 32", Editor::Name, 32, Name40, Times(40, Right), Name40.substr(0, 32),
       32, Name40},
      {"Delete behind a long name's 32 columns does not touch row 25's corner", Editor::Name, 32, Name40,
       Times(40, Right) + std::vector{Del}, Name40.substr(0, 32), 32, Name40},
      {"shortening a long name drops its hidden tail",
       Editor::Name,
       32,
       Name40,
       {Del},
       Name40.substr(1, 31),
       0,
       Name40.substr(1, 31)},
  };
  return cases;
}

constexpr int NumberCell = 41;
constexpr int NameCell = 75;

// The number editor on a field at (12, 8); the name editor on the whole-book
// view's bottom row, columns 48..79 of row 25.
FormGrid GridFor(Editor editor) {
  return editor == Editor::Number ? FormGrid{1, 1, {12}, {8}} : FormGrid{1, 1, {48}, {25}};
}

void StartText(FormsBench& b, const EditCase& c) {
  if (c.editor == Editor::Number)
    b.tool.image.SetCellNumber(NumberCell, c.start);
  else
    b.tool.image.SetCellName(NameCell, c.start);
}

void RunEditor(FormsBench& b, FormGrid& grid, const EditCase& c) {
  if (c.editor == Editor::Number)
    EditNumberField(b.tool, grid, NumberCell, c.width);
  else
    EditNameField(b.tool, grid, NameCell);
}

TEST(FieldEditor, WhatTheFieldShowsWhileEditing) {
  for (const EditCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    FormsBench b;
    StartText(b, c);
    b.console.Add(c.keys);  // no Enter: the editor is still open when the keys run out
    FormGrid grid = GridFor(c.editor);
    const int width = c.editor == Editor::Number ? c.width : NameFieldWidth;
    EXPECT_THROW(RunEditor(b, grid, c), OutOfKeys);
    EXPECT_EQ(b.Trimmed(grid.X(), grid.Y(), width), c.shown);
    for (int i = 0; i < width; ++i) ASSERT_EQ(b.screen.AttrAt(grid.X() + i, grid.Y()), ColorPanel) << i;
    // Nothing around the field was touched, and nothing scrolled.
    EXPECT_EQ(b.screen.CharAt(grid.X() + width, grid.Y()), ' ');
    EXPECT_EQ(b.screen.AttrAt(grid.X() + width, grid.Y()), ColorNormal);
    EXPECT_EQ(b.screen.CharAt(grid.X(), grid.Y() - 1), ' ');
    EXPECT_EQ(b.screen.CursorX(), grid.X() + c.pos);
    EXPECT_EQ(b.screen.CursorY(), grid.Y());
    EXPECT_TRUE(b.port.written.empty());
  }
}

TEST(FieldEditor, EnterStoresTheTextAndSendsTheCell) {
  for (const EditCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    FormsBench b;
    StartText(b, c);
    // The SIM refuses names over 16 characters: the operator is told (a
    // key dismisses the box) and the cell shows what the SIM holds.
    const bool refused = c.editor == Editor::Name && c.stored.size() > 16;
    b.console.Add(c.keys);
    b.console.Add({Enter});
    if (refused) b.console.Add({Enter});
    FormGrid grid = GridFor(c.editor);
    RunEditor(b, grid, c);
    EXPECT_EQ(b.console.KeysLeft(), 0u);
    const int cell = c.editor == Editor::Number ? NumberCell : NameCell;
    const int width = c.editor == Editor::Number ? c.width : NameFieldWidth;
    const std::string number(b.tool.image.CellNumber(cell)), name(b.tool.image.CellName(cell));
    const std::string shown = refused ? b.gateway.Name(cell) : c.stored;
    if (refused) {
      EXPECT_EQ(b.port.written, FormsBench::Cpbw(cell, number, c.stored) + "AT+CPBR=75\r");
      EXPECT_EQ(name, "75");
      EXPECT_EQ(b.gateway.Name(cell), "75");
    } else {
      EXPECT_EQ(c.editor == Editor::Number ? number : name, c.stored);
      EXPECT_EQ(b.port.written, FormsBench::Cpbw(cell, number, name));
      EXPECT_EQ(b.gateway.Number(cell), number);
      EXPECT_EQ(b.gateway.Name(cell), name);
    }
    // The field is drawn again from the cell, in the normal colour.
    EXPECT_EQ(b.Trimmed(grid.X(), grid.Y(), width), shown.substr(0, width));
    for (int i = 0; i < width; ++i) ASSERT_EQ(b.screen.AttrAt(grid.X() + i, grid.Y()), ColorNormal) << i;
    EXPECT_EQ(b.screen.Attribute(), ColorNormal);
  }
}

TEST(FieldEditor, EscRestoresTheFieldAndSendsNothing) {
  FormsBench b;
  b.tool.image.SetCellNumber(NumberCell, "12345");
  b.console.Add({Del, Chr('9'), Right, Del, Esc});
  FormGrid grid = GridFor(Editor::Number);
  EditNumberField(b.tool, grid, NumberCell, 8);
  EXPECT_EQ(b.tool.image.CellNumber(NumberCell), "12345");
  EXPECT_EQ(b.screen.TextAt(12, 8, 8), "12345   ");
  EXPECT_EQ(b.screen.AttrAt(12, 8), ColorNormal);
  EXPECT_EQ(b.screen.Attribute(), ColorNormal);
  EXPECT_TRUE(b.port.written.empty());
  EXPECT_EQ(b.gateway.Number(NumberCell), "0");
}

TEST(FieldEditor, EnterWithoutAnEditStillWritesTheCell) {
  FormsBench b;
  b.tool.image.SetCellName(NameCell, "BOSS");
  b.console.Add({Enter});
  FormGrid grid = GridFor(Editor::Name);
  EditNameField(b.tool, grid, NameCell);
  EXPECT_EQ(b.port.written, FormsBench::Cpbw(NameCell, "0", "BOSS"));
  EXPECT_EQ(b.gateway.Name(NameCell), "BOSS");
}

TEST(FieldEditor, NothingIsSentWhileAFileIsLoaded) {
  FormsBench b;
  b.UseFile();
  b.tool.image.SetCellNumber(NumberCell, "12");
  b.console.Add({Right, Right, Chr('3'), Enter});
  FormGrid grid = GridFor(Editor::Number);
  EditNumberField(b.tool, grid, NumberCell, 8);
  EXPECT_EQ(b.tool.image.CellNumber(NumberCell), "123");
  EXPECT_TRUE(b.port.written.empty());
  EXPECT_EQ(b.gateway.Number(NumberCell), "0");
}

TEST(FieldEditor, EnterLeavesTheCellBehindTheEditedPositionsAlone) {
  // The number editor stores 42 positions, the name editor 32; what the
  // 48-byte field holds behind them stays. (A loaded file: no SIM takes a
  // number this long.)
  FormsBench b;
  b.UseFile();
  b.tool.image.SetCellNumber(NumberCell, std::string(45, '1'));
  b.console.Add({Enter});
  FormGrid grid{1, 1, {10}, {4}};
  EditNumberField(b.tool, grid, NumberCell, 30);
  EXPECT_EQ(b.tool.image.CellNumber(NumberCell), std::string(45, '1'));
  // A deletion ends the text inside the edited positions: nothing comes back.
  b.console.Add({Del, Enter});
  EditNumberField(b.tool, grid, NumberCell, 30);
  EXPECT_EQ(b.tool.image.CellNumber(NumberCell), std::string(41, '1'));
}

TEST(FieldEditor, CharactersBehindAnInnerZeroDoNotComeBack) {
  // A mode string cut short by an in-place change: "00", then hidden "0100".
  FormsBench b;
  b.tool.image.SetCellNumber(ModeCell, "0000100");
  b.tool.image.SetModeChar(2, 0);
  b.console.Add({Right, Right, Chr('7'), Enter});
  FormGrid grid{1, 1, {12}, {1}};
  EditNumberField(b.tool, grid, ModeCell, 30);
  EXPECT_EQ(b.tool.image.CellNumber(ModeCell), "007");
  EXPECT_EQ(b.port.written, FormsBench::Cpbw(ModeCell, "007", "98.GSM.TRV"));
  EXPECT_EQ(b.Trimmed(12, 1, 30), "007");
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST(FieldEditor, AnUnchangedEnterKeepsAZeroByteAndWhatFollowsIt) {
  // GSM '@' arrives as byte 0; the cell goes back to the SIM as it came.
  FormsBench b;
  b.gateway.Options().faults.gsmNul = true;
  b.gateway.SetEntry(NameCell, "0", "A@B");
  b.tool.image.SetCellName(NameCell, std::string("A\0B", 3));
  b.console.Add({Enter});
  FormGrid grid = GridFor(Editor::Name);
  EditNameField(b.tool, grid, NameCell);
  EXPECT_EQ(b.tool.image.CellName(NameCell), std::string("A\0B", 3));
  EXPECT_EQ(b.gateway.Name(NameCell), "A@B");
}

TEST(FieldEditor, AWriteToAGatewayThatStoppedAnsweringIsUndoneAndSaid) {
  FormsBench b;
  b.gateway.Options().faults.silentAfterCommands = 0;
  b.console.Add({Chr('7'), Enter, Enter});  // the second Enter dismisses the box
  FormGrid grid = GridFor(Editor::Number);
  const std::string before(b.tool.image.CellNumber(NumberCell));
  EditNumberField(b.tool, grid, NumberCell, 8);
  EXPECT_EQ(b.tool.image.CellNumber(NumberCell), before);
  EXPECT_FALSE(b.tool.state.deviceConnected);
  EXPECT_EQ(b.console.KeysLeft(), 0u);
  // The next edit in the same form goes nowhere, and says so.
  b.console.Add({Chr('8'), Enter, Enter});
  EditNumberField(b.tool, grid, NumberCell, 8);
  EXPECT_EQ(b.tool.image.CellNumber(NumberCell), before);
  EXPECT_EQ(b.console.KeysLeft(), 0u);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// The SIM holds a name longer than the 47 characters a cell keeps (a UCS2
// name in hex soon is): an unchanged Enter asks before the SIM's text is
// cut, every time until the operator agrees.
TEST(FieldEditor, ATextTheSimHoldsLongerIsCutOnlyWhenTheOperatorAgrees) {
  FormsBench b;
  b.tool.image.SetCellName(NameCell, std::string(60, 'A'));
  ASSERT_TRUE(b.tool.image.Shortened(NameCell));
  FormGrid grid = GridFor(Editor::Name);
  for (int declined = 0; declined < 2; ++declined) {
    b.console.Add({Enter, Chr('n')});
    EditNameField(b.tool, grid, NameCell);
    EXPECT_TRUE(b.port.written.empty());
    EXPECT_TRUE(b.tool.image.Shortened(NameCell));
  }
  b.console.Add({Enter, Chr('y'), Enter});  // the last Enter: the SIM refuses 47 letters as a name
  EditNameField(b.tool, grid, NameCell);
  EXPECT_EQ(b.port.written.rfind("AT+CPBW=75,\"0\",129,\"" + std::string(47, 'A') + "\"\r", 0), 0u);
  EXPECT_EQ(b.console.KeysLeft(), 0u);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Every typed character the field refuses says why on the hint row (the
// row above when the field stands on it), and the next key the field takes
// puts the row back as it was. The text stays as it was: what the field
// shows is what Enter sends.
TEST(FieldEditor, ARefusedCharacterSaysWhyUntilTheNextKeyTaken) {
  struct Case {
    std::string name;
    Editor editor;
    int width;
    std::string start;
    std::vector<KeyPress> keys;
    std::string hint;
  };
  const std::vector<Case> cases = {
      {"plus in a number", Editor::Number, 8, "12", Typed("+"), "номер набирается без +"_cp},
      {"plus on the unused marker", Editor::Number, 8, "0", Typed("+"), "номер набирается без +"_cp},
      {"a letter in a number", Editor::Number, 8, "12", Typed("a"), "В номере только цифры, * и #"_cp},
      {"a blank in a number", Editor::Number, 16, "12", Typed(" "), "В номере только цифры, * и #"_cp},
      {"a digit past the width", Editor::Number, 8, "12345678", {End, Chr('9')},
       "Поле заполнено: не более 8 знаков"_cp},
      {"a digit inserted into a full field", Editor::Number, 8, "12345678", {Chr('9')},
       "Поле заполнено: не более 8 знаков"_cp},
      {"a small letter in a name", Editor::Name, 32, "AB", Typed("a"), "В имени только A-Z, цифры и * # , ."_cp},
      {"a Cyrillic letter in a name", Editor::Name, 32, "AB", Typed("Ж"_cp),
       "В имени только A-Z, цифры и * # , ."_cp},
      {"a seventeenth letter in a name", Editor::Name, 32, "ABCDEFGHIJKLMNOP", {End, Chr('Q')},
       "Поле заполнено: не более 16 знаков"_cp},
  };
  for (const Case& c : cases) {
    for (const int fieldY : {8, 24}) {
      SCOPED_TRACE(c.name + ", field on row " + std::to_string(fieldY));
      const int cell = c.editor == Editor::Number ? NumberCell : NameCell;
      const int width = c.editor == Editor::Number ? c.width : NameFieldWidth;
      const int hintY = fieldY == 24 ? 23 : 24;
      // The keys on a fresh form; the editor is still open when they run out
      // unless they end with Enter.
      auto edit = [&](const std::vector<KeyPress>& keys) {
        auto b = std::make_unique<FormsBench>();
        if (c.editor == Editor::Number)
          b->tool.image.SetCellNumber(cell, c.start);
        else
          b->tool.image.SetCellName(cell, c.start);
        b->screen.HintsFieldEdit();
        b->screen.PutText(1, 23, "row 23 of the form");
        FormGrid grid{1, 1, {c.editor == Editor::Number ? 12 : 48}, {fieldY}};
        b->console.Add(keys);
        try {
          if (c.editor == Editor::Number)
            EditNumberField(b->tool, grid, cell, c.width);
          else
            EditNameField(b->tool, grid, cell);
        } catch (const OutOfKeys&) {
        }
        return b;
      };
      const auto untouched = edit({});
      const std::string rowBefore = untouched->screen.TextAt(1, hintY);

      const auto refused = edit(c.keys);
      EXPECT_EQ(refused->screen.TextAt(5, hintY, static_cast<int>(c.hint.size())), c.hint);
      EXPECT_EQ(refused->screen.AttrAt(5, hintY), ColorAlert);
      const int fieldX = c.editor == Editor::Number ? 12 : 48;
      EXPECT_EQ(refused->Trimmed(fieldX, fieldY, width), c.start.substr(0, width));

      const auto taken = edit(c.keys + std::vector{Home});
      EXPECT_EQ(taken->screen.TextAt(1, hintY), rowBefore);
      EXPECT_EQ(taken->screen.CursorX(), fieldX);
      EXPECT_EQ(taken->screen.CursorY(), fieldY);

      const auto sent = edit(c.keys + std::vector{Enter});
      EXPECT_EQ(sent->screen.TextAt(1, hintY), rowBefore);
      const std::string stored(c.editor == Editor::Number ? sent->tool.image.CellNumber(cell)
                                                          : sent->tool.image.CellName(cell));
      EXPECT_EQ(stored, c.start);
      EXPECT_EQ(sent->gateway.Number(cell) + "/" + sent->gateway.Name(cell),
                std::string(sent->tool.image.CellNumber(cell)) + "/" + std::string(sent->tool.image.CellName(cell)));
    }
  }
}

TEST(FieldEditor, AnotherRefusalReplacesTheHint) {
  FormsBench b;
  b.tool.image.SetCellNumber(NumberCell, "12");
  b.screen.HintsFieldEdit();
  FormGrid grid = GridFor(Editor::Number);
  b.console.Add({Chr('a'), Chr('+')});
  EXPECT_THROW(EditNumberField(b.tool, grid, NumberCell, 8), OutOfKeys);
  // The longer hint is gone whole: the row shows the form's own hints behind the short one.
  FormsBench fresh;
  fresh.screen.HintsFieldEdit();
  const std::string hint = " " + std::string("номер набирается без +"_cp) + " ";
  EXPECT_EQ(b.screen.TextAt(4, 24, static_cast<int>(hint.size())), hint);
  EXPECT_EQ(b.screen.TextAt(4 + static_cast<int>(hint.size()), 24),
            fresh.screen.TextAt(4 + static_cast<int>(hint.size()), 24));
}

// Insert turns the cursor into a block while it types over; every edit
// starts inserting, and the cursor is the usual one when the editor ends.
TEST(FieldEditor, TheCursorShowsTypingOver) {
  FormsBench b;
  b.tool.image.SetCellNumber(NumberCell, "8800");
  FormGrid grid = GridFor(Editor::Number);
  b.console.Add({Ins});
  EXPECT_THROW(EditNumberField(b.tool, grid, NumberCell, 8), OutOfKeys);
  EXPECT_TRUE(b.console.blockCursor);
  b.console.Add({Ins, Ins});  // a new edit: inserting again, then over, then back
  EXPECT_THROW(EditNumberField(b.tool, grid, NumberCell, 8), OutOfKeys);
  EXPECT_FALSE(b.console.blockCursor);
  b.console.Add({Ins, Chr('1'), Enter});
  EditNumberField(b.tool, grid, NumberCell, 8);
  EXPECT_FALSE(b.console.blockCursor);
  EXPECT_EQ(b.tool.image.CellNumber(NumberCell), "1800");
  b.console.Add({Chr('2'), Esc});
  EditNumberField(b.tool, grid, NumberCell, 8);
  EXPECT_FALSE(b.console.blockCursor);
  b.console.Add({Ins, Esc});
  EditNumberField(b.tool, grid, NumberCell, 8);
  EXPECT_FALSE(b.console.blockCursor);
}

}  // namespace
}  // namespace tv
