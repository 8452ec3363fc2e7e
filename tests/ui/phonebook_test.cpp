// The phonebook editor and the whole-book view: layout, paging, which
// fields Enter and F10 act on, and edits reaching the gateway's SIM.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ui/forms_bench.h"
#include "ui/commands.h"

namespace tv {
namespace {

using namespace test;

// "Конт. 07", "Контакт 26": a label word and the two-digit cell index.
std::string Label(const char* word, int cell) {
  return std::string(word) + " " + static_cast<char>('0' + cell / 10) + static_cast<char>('0' + cell % 10);
}

std::vector<KeyPress> operator+(std::vector<KeyPress> a, const std::vector<KeyPress>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(PhonebookEditor, Layout) {
  FormsBench b;
  EXPECT_THROW(PhonebookEditor(b.tool), OutOfKeys);
  EXPECT_EQ(b.screen.TextAt(27, 2, 26), std::string("Записная книжка устройства"_cp));
  EXPECT_EQ(b.screen.TextAt(1, 3), std::string(80, static_cast<char>(line::DoubleHorizontal)));
  EXPECT_EQ(b.screen.TextAt(1, 24), std::string(80, static_cast<char>(line::DoubleHorizontal)));
  for (int r = 1; r <= 20; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(b.screen.TextAt(1, r + 3, 8), Label("Конт."_cp, r));
    if (r < 20) {
      EXPECT_EQ(b.screen.TextAt(41, r + 3, 8), Label("Конт."_cp, r + 20));
    }
  }
  // Column 2, row 20 (cell 40) is blank.
  EXPECT_EQ(b.Trimmed(41, 23, 39), "");
  EXPECT_EQ(b.screen.TextAt(10, 4, 30), "89161234501" + std::string(19, ' '));
  EXPECT_EQ(b.screen.TextAt(10, 6, 12), "+79031112233");
  EXPECT_EQ(b.screen.TextAt(50, 4, 2), "0 ");
  EXPECT_EQ(b.screen.CursorX(), 10);
  EXPECT_EQ(b.screen.CursorY(), 4);
}

TEST(PhonebookEditor, KeysOnTheFields) {
  struct Case {
    std::string name;
    std::vector<KeyPress> keys;  // the form is closed by an Esc after them
    std::string written;
  };
  const std::vector<Case> cases = {
      {"Enter edits the number 30 wide",
       {Down, Enter, Del, Chr('7'), Enter},
       FormsBench::Cpbw(2, "74957654321", "02")},
      {"column 2 shows cells 21 and up",
       {Right, Down, Enter, Chr('5'), Enter},
       FormsBench::Cpbw(22, "5", "22")},
      {"Enter on column 2 row 20 does nothing",
       std::vector<KeyPress>(25, Down) + std::vector{Right, Enter, Chr('1'), Enter}, ""},
      {"PgUp, PgDn, Tab and Delete are ignored", {PgDn, PgUp, Tab, Del}, ""},
      {"Esc of the editor does not close the form", {Enter, Chr('9'), Esc}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormsBench b;
    b.console.Add(c.keys + std::vector{Esc});
    PhonebookEditor(b.tool);
    EXPECT_EQ(b.console.KeysLeft(), 0u);
    EXPECT_EQ(b.port.written, c.written);
  }
}

// F1 too: terminals that take F10 for their menu pass it on.
TEST(PhonebookEditor, F10ShowsTopicOneEverywhere) {
  for (auto keys : {std::vector<KeyPress>{F10}, std::vector<KeyPress>(19, Down) + std::vector{Right, F10},
                    std::vector<KeyPress>{F1}, std::vector<KeyPress>(19, Down) + std::vector{Right, F1}}) {
    FormsBench b;
    b.UseHelpTopics({1, 2, 3});
    b.console.Add(keys);
    EXPECT_THROW(PhonebookEditor(b.tool), OutOfKeys);
    EXPECT_EQ(b.ShownHelpTopic(), "topic 1");
  }
}

TEST(WholeBookView, PageLayout) {
  FormsBench b;
  b.tool.image.SetCellName(7, "IVANOV");
  EXPECT_THROW(WholeBookView(b.tool), OutOfKeys);
  for (int r = 1; r <= 25; ++r) {
    SCOPED_TRACE(r);
    EXPECT_EQ(b.screen.TextAt(1, r, 11), Label("Контакт"_cp, r) + " ");
    EXPECT_EQ(b.screen.TextAt(42, r, 6), std::string("  Имя "_cp));
  }
  EXPECT_EQ(b.screen.TextAt(12, 1, 30), "89161234501" + std::string(19, ' '));
  EXPECT_EQ(b.screen.TextAt(48, 7, 32), "IVANOV" + std::string(26, ' '));
  EXPECT_EQ(b.screen.TextAt(48, 5, 3), "05 ");
  EXPECT_EQ(b.screen.CharAt(80, 25), ' ');
  EXPECT_EQ(b.screen.CursorX(), 12);
  EXPECT_EQ(b.screen.CursorY(), 1);
}

TEST(WholeBookView, Pages) {
  struct Case {
    std::string name;
    std::vector<KeyPress> keys;
    int firstCell;  // the cell of row 1
    int cursorX, cursorY;
  };
  const std::vector<Case> cases = {
      {"PgDn from the first page", {PgDn}, 26, 12, 25},
      {"three PgDn", {PgDn, PgDn, PgDn}, 75, 12, 25},
      {"a fourth PgDn stays on the last page", {PgDn, PgDn, PgDn, Up, Right, PgDn}, 75, 12, 25},
      {"PgUp back to the first page", {PgDn, PgUp}, 1, 12, 1},
      {"PgUp on the first page moves the cursor only", {Down, Down, Right, PgUp}, 1, 12, 1},
      {"PgUp from the last page", {PgDn, PgDn, PgDn, PgUp}, 51, 12, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormsBench b;
    b.console.Add(c.keys);
    EXPECT_THROW(WholeBookView(b.tool), OutOfKeys);
    EXPECT_EQ(b.screen.TextAt(1, 1, 10), Label("Контакт"_cp, c.firstCell));
    EXPECT_EQ(b.screen.TextAt(1, 25, 10), Label("Контакт"_cp, c.firstCell + 24));
    EXPECT_EQ(b.screen.CursorX(), c.cursorX);
    EXPECT_EQ(b.screen.CursorY(), c.cursorY);
  }
}

TEST(WholeBookView, EditsReachTheGatewaysSim) {
  struct Case {
    std::string name;
    std::vector<KeyPress> keys;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"number of cell 50 after PgDn", {PgDn, Enter, Chr('1'), Enter}, FormsBench::Cpbw(50, "18495", "50")},
      {"number on the first page", {Down, Enter, Chr('*'), Enter}, FormsBench::Cpbw(2, "*84957654321", "02")},
      {"name on the first page",
       {Right, Enter, Chr('A'), Chr('b'), Chr('C'), Enter},
       FormsBench::Cpbw(1, "89161234501", "AC01")},
      {"the signature in cell 98 can be changed",
       {PgDn, PgDn, PgDn, Up, Right, Enter, Del, Enter},
       FormsBench::Cpbw(98, "1100200", "8.GSM.TRV")},
      {"cell 99 on the last row",
       {PgDn, PgDn, PgDn, Enter, Del, Enter},
       FormsBench::Cpbw(99, "9161234567", "99")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormsBench b;
    b.console.Add(c.keys + std::vector{Esc});
    WholeBookView(b.tool);
    EXPECT_EQ(b.console.KeysLeft(), 0u);
    EXPECT_EQ(b.port.written, c.written);
    EXPECT_EQ(b.gateway.Dump().find(c.written.substr(8, c.written.size() - 9)) != std::string::npos, true)
        << b.gateway.Dump();
  }
}

TEST(WholeBookView, F10TopicByColumn) {
  for (auto [keys, topic] :
       std::vector<std::pair<std::vector<KeyPress>, std::string>>{{{F10}, "topic 2"},
                                                                  {{Right, F10}, "topic 3"},
                                                                  {{PgDn, F10}, "topic 2"},
                                                                  {{Right, F1}, "topic 3"}}) {
    SCOPED_TRACE(topic);
    FormsBench b;
    b.UseHelpTopics({1, 2, 3});
    b.console.Add(keys);
    EXPECT_THROW(WholeBookView(b.tool), OutOfKeys);
    EXPECT_EQ(b.ShownHelpTopic(), topic);
  }
}

TEST(PhonebookForms, NeedADeviceOrAFile) {
  for (auto* form : {&PhonebookEditor, &WholeBookView}) {
    FormsBench b;
    b.tool.state.deviceConnected = false;
    b.console.Add({Enter});
    form(b.tool);
    EXPECT_EQ(b.console.KeysLeft(), 0u);
    EXPECT_EQ(b.screen.Dump().find("Конт"_cp), std::string::npos);
  }
}

TEST(PhonebookForms, WithAFileLoadedNothingIsSent) {
  FormsBench b;
  b.UseFile();
  b.console.Add({Enter, Chr('1'), Enter, Esc});
  PhonebookEditor(b.tool);
  b.console.Add({Right, Enter, Chr('X'), Enter, Esc});
  WholeBookView(b.tool);
  EXPECT_EQ(b.tool.image.CellNumber(1), "189161234501");
  EXPECT_EQ(b.tool.image.CellName(1), "X01");
  EXPECT_TRUE(b.port.written.empty());
}

}  // namespace
}  // namespace tv
