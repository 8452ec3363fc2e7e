// Start-up, the menu bar and the status area, driven by scripted keys on the
// in-memory screen.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/main_loop.h"
#include "tests/app/menu_fixture.h"

namespace tv {
namespace {

using namespace test;

TEST_F(MenuFixture, StartupScreen) {
  DrawMainScreen(tool, menu);
  EXPECT_EQ(screen.TextAt(1, 1, 4), std::string("Файл"_cp));
  EXPECT_EQ(screen.AttrAt(1, 1), ColorSelected);
  EXPECT_EQ(screen.AttrAt(5, 1), ColorPanel);
  for (auto [x, title] : {std::pair{8, "Програмирование"_cp}, {26, "Команды"_cp}, {36, "Справка"_cp}}) {
    EXPECT_EQ(screen.TextAt(x, 1, static_cast<int>(std::string(title).size())), title);
    EXPECT_EQ(screen.AttrAt(x, 1), ColorPanel);
  }
  EXPECT_EQ(screen.TextAt(43, 1), std::string(38, ' '));  // no status text
  EXPECT_EQ(screen.AttrAt(80, 1), ColorPanel);
  EXPECT_EQ(screen.CharAt(1, 2), line::SingleTopLeft);
  EXPECT_EQ(screen.CharAt(41, 9), line::SingleBottomRight);
  EXPECT_EQ(Item(1, 1, 39), Padded("Подключение к устройству"_cp, 39));
  EXPECT_EQ(screen.AttrAt(2, 3), ColorSelected);
  EXPECT_EQ(screen.AttrAt(40, 3), ColorSelected);
  EXPECT_EQ(Item(1, 6, 39), Padded("Выход"_cp, 39));
  EXPECT_EQ(screen.AttrAt(2, 8), ColorPanel);
  EXPECT_EQ(screen.AttrAt(50, 12), ColorNormal);
  EXPECT_EQ(screen.CursorX(), 2);
  EXPECT_EQ(screen.CursorY(), 3);
}

TEST_F(MenuFixture, ArrowsMoveBetweenMenusAndItemsWithWrap) {
  struct Case {
    const char* name;
    std::vector<KeyPress> keys;
    int menu;
    int item;
  } cases[] = {
      {"right four times", {Right, Right, Right, Right}, 1, 1},
      {"left from menu 1", {Left}, 4, 1},
      {"down from item 6", {Down, Down, Down, Down, Down, Down}, 1, 1},
      {"up from item 1 of menu 4", {Left, Up}, 4, 2},
      {"esc in menu 3", {Down, Down, Right, Right, Down, Esc}, 1, 3},
      {"esc in menu 1", {Esc}, 1, 6},
      {"second esc", {Esc, Esc}, 1, 6},
      {"letters and other keys ignored", {Chr('x'), Chr(0x94), Tab, F10, PgDn, Del}, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    menu = MenuState{};
    std::vector<KeyPress> keys = c.keys;
    keys.push_back(Enter);
    Run(keys);
    EXPECT_EQ(menu.current, c.menu);
    EXPECT_EQ(menu.selected[menu.current - 1], c.item);
  }
}

TEST_F(MenuFixture, SwitchingMenusRedrawsOnlyOnePullDown) {
  Run({Right, Right, Down, Enter});  // menu 3, item 2
  const std::string menuCol = screen.TextAt(26, 1, 7);
  EXPECT_EQ(menuCol, std::string("Команды"_cp));
  EXPECT_EQ(screen.AttrAt(26, 1), ColorSelected);
  EXPECT_EQ(screen.AttrAt(1, 1), ColorPanel);
  EXPECT_EQ(screen.CharAt(1, 2), ' ');  // menu 1's box is erased
  EXPECT_EQ(screen.AttrAt(1, 2), ColorNormal);
  EXPECT_EQ(Item(26, 2, 15), Padded("Баланс"_cp, 15));
  EXPECT_EQ(screen.AttrAt(27, 4), ColorSelected);
  EXPECT_EQ(screen.AttrAt(27, 3), ColorPanel);
}

TEST_F(MenuFixture, StatusAreaShowsConnectionOrFile) {
  tool.state.deviceConnected = true;
  tool.state.portIndex = 9;
  tool.state.gatewayIndex = 2;
  DrawMainScreen(tool, menu);
  EXPECT_EQ(screen.TextAt(59, 1, 5), "COM10");
  EXPECT_EQ(screen.TextAt(65, 1, 6), "115200");
  EXPECT_EQ(screen.TextAt(73, 1, 6), std::string("ШЛЮЗ 3"_cp));
  EXPECT_EQ(screen.AttrAt(73, 1), ColorPanel);

  tool.state.deviceConnected = false;
  tool.state.fileLoaded = true;
  tool.state.currentFileName = "test.set";
  DrawMainScreen(tool, menu);
  EXPECT_EQ(screen.TextAt(59, 1), std::string("Файл:"_cp) + " test.set        ");

  tool.state.currentFileName = "abcdefghijklm.set";  // 17 characters: 16 fit
  DrawMainScreen(tool, menu);
  EXPECT_EQ(screen.TextAt(65, 1), "abcde~hijklm.set");  // cut in the middle: the end shows
  EXPECT_EQ(screen.CharAt(1, 2), line::SingleTopLeft);  // nothing wrapped onto row 2
}

TEST_F(MenuFixture, AboutBoxAndArrowDismissal) {
  Run({Left, Down, Enter});
  console.Add({Right});  // dismisses the box; its scan code reaches the menu as a plain 'M'
  RunMenuItem(tool, menu);
  EXPECT_EQ(screen.CharAt(20, 10), line::SingleTopLeft);
  EXPECT_EQ(screen.CharAt(62, 21), line::SingleBottomRight);
  EXPECT_EQ(screen.TextAt(24, 11, 35), std::string("    ***** TARVELIN.EXE *****       "));
  EXPECT_EQ(screen.TextAt(24, 15, 23), std::string("           Версия 01.01"_cp));
  EXPECT_EQ(screen.TextAt(24, 12, 35), std::string(35, ' '));
  EXPECT_EQ(screen.AttrAt(24, 11), ColorPanel);
  EXPECT_EQ(screen.TextAt(24, 18, 35).substr(0, 21), std::string("Справки по телефонам:"_cp));
  // The phone numbers of rows 18 and 19 end in the same column.
  EXPECT_NE(screen.CharAt(58, 18), ' ');
  EXPECT_NE(screen.CharAt(58, 19), ' ');
  Run({Enter});
  EXPECT_EQ(menu.current, 4);
  EXPECT_EQ(menu.selected[3], 2);
}

class HelpFileFixture : public MenuFixture {
 protected:
  std::string path = ::testing::TempDir() + "help_for_menu_test.txt";
  void SetUp() override {
    std::FILE* f = std::fopen(path.c_str(), "w");
    std::fputs("#1\nhelp\n", f);
    std::fclose(f);
  }
  void TearDown() override { std::remove(path.c_str()); }
};

TEST_F(HelpFileFixture, EscEscEnterEndsWithAClearedScreen) {
  console.Add({Esc, Esc, Enter});
  EXPECT_EQ(RunTarvelin(tool, path.c_str()), 0);
  EXPECT_EQ(screen.TextAt(1, 1), std::string(80, ' '));
  EXPECT_EQ(screen.AttrAt(1, 1), ColorNormal);
  EXPECT_EQ(console.KeysLeft(), 0u);
}

TEST_F(HelpFileFixture, AfterAnOperationTheSameMenuAndItemAreOpen) {
  // Menu 2, item 3 without a device: the form shows the exchange error box
  // (one key), then the loop redraws the menu screen.
  console.Add({Right, Down, Down, Enter, Chr(' ')});
  EXPECT_THROW(RunTarvelin(tool, path.c_str()), OutOfKeys);
  EXPECT_EQ(screen.AttrAt(8, 1), ColorSelected);
  EXPECT_EQ(screen.AttrAt(9, 3 + 2), ColorSelected);
  EXPECT_EQ(Item(8, 3, 17), Padded("Входящая связь"_cp, 17));
}

TEST_F(MenuFixture, MissingHelpFileShowsTheStartupBoxOverTheOldScreen) {
  screen.PutText(1, 1, "previous output");
  console.Add({Chr('q')});
  EXPECT_EQ(RunTarvelin(tool, "/nonexistent/help.txt"), 1);
  EXPECT_EQ(screen.TextAt(1, 1, 15), "previous output");
  EXPECT_EQ(screen.TextAt(20, 12, 40), std::string("      Ошибка открытия файла помощи!     "_cp));
  EXPECT_EQ(screen.AttrAt(20, 11), ColorFatal);
  EXPECT_EQ(screen.AttrAt(59, 13), ColorFatal);
  EXPECT_EQ(screen.TextAt(20, 11, 40), std::string(40, ' '));
  EXPECT_EQ(console.KeysLeft(), 0u);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Exit with a loaded file changed and not saved asks first: n stays in the
// program, y ends it.
TEST_F(MenuFixture, ExitWithUnsavedEditsAsksFirst) {
  tool.state.fileLoaded = true;
  tool.state.unsavedEdits = true;
  menu.current = 1;
  menu.selected[0] = 6;  // Выход
  console.Add({Chr('n')});
  RunMenuItem(tool, menu);
  EXPECT_FALSE(menu.exitRequested);
  console.Add({Chr('y')});
  RunMenuItem(tool, menu);
  EXPECT_TRUE(menu.exitRequested);
  EXPECT_EQ(console.KeysLeft(), 0u);
}

}  // namespace
}  // namespace tv
