// The program on a real (emulated) terminal: start-up, the menu bar and its
// colours, the about box, the help viewer, the terminal size notice, exit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

// Foreground and background of one cell, as the attribute bytes of the
// tool show on an xterm-256color terminal.
struct Colours {
  int fg, bg;
};
constexpr Colours kNormal{ansi::BrightYellow, ansi::Blue};     // 0x1E
constexpr Colours kPanel{ansi::Black, ansi::LightGrey};        // 0x70
constexpr Colours kSelected{ansi::BrightYellow, ansi::Green};  // 0x2E
constexpr Colours kFatal{ansi::BrightWhite, ansi::Red};        // 0x4F

void ExpectColours(const TerminalSession& t, int col, int row, Colours c) {
  SCOPED_TRACE("cell (" + std::to_string(col) + "," + std::to_string(row) + ")");
  EXPECT_EQ(Describe(t.CellFg(col, row)), Describe(Indexed(c.fg)));
  EXPECT_EQ(Describe(t.CellBg(col, row)), Describe(Indexed(c.bg)));
}

// The start-up screen is up: the File menu is open, the frame complete
// (curses writes top to bottom and places the cursor last), and nothing more
// is on its way.
void WaitForMenu(TerminalSession& t) {
  ASSERT_TRUE(t.WaitFor([&] {
    return t.TextAt(2, 3, 25) == Utf8(u8" Подключение к устройству") &&
           t.CellBg(80, 25) == Indexed(ansi::Blue) && t.CursorPos() == std::make_pair(2, 3);
  })) << t.ScreenText();
  t.Drain(Duration{30});
}

bool BlankRow(const TerminalSession& t, int row) {
  return t.RowText(row).find_first_not_of(' ') == std::string::npos;
}

TEST(StartupE2E, MissingHelpFileShowsTheFatalBoxAndAnyKeyEnds) {
  SessionOptions o;
  o.withHelpFile = false;
  TerminalSession t(TarvelinBinary(), o);
  ASSERT_TRUE(t.WaitFor([&] {
    return t.TextAt(26, 12, 29) == Utf8(u8"Ошибка открытия файла помощи!") &&
           t.CellBg(59, 13) == Indexed(ansi::Red);
  })) << t.ScreenText();
  t.Drain(Duration{30});
  for (int row : {11, 12, 13}) {
    ExpectColours(t, 20, row, kFatal);
    ExpectColours(t, 59, row, kFatal);
  }
  ExpectColours(t, 30, 12, kFatal);
  // Outside the 40-column box nothing was drawn in red.
  EXPECT_NE(Describe(t.CellBg(19, 12)), Describe(Indexed(ansi::Red)));
  EXPECT_NE(Describe(t.CellBg(60, 12)), Describe(Indexed(ansi::Red)));

  t.SendKeys("x");
  const auto status = t.WaitForExit();
  ASSERT_TRUE(status.has_value()) << "still running after a key";
  EXPECT_TRUE(WIFEXITED(*status));
  EXPECT_TRUE(t.CursorVisible());
  EXPECT_FALSE(t.AltScreen());
  // Once the terminal is given back, standard error names where the file
  // was looked for: the working directory and the installed share directory.
  const std::string text = t.ScreenText();
  EXPECT_NE(text.find(Utf8(u8"tarvelin: не удалось открыть файл помощи help.txt; искали:")), std::string::npos)
      << text;
  EXPECT_NE(text.find("  " + t.Directory() + "/help.txt"), std::string::npos) << text;
  EXPECT_NE(text.find("/share/tarvelin/help.txt"), std::string::npos) << text;
}

TEST(StartupE2E, StartScreenHasTheFileMenuOpenInPcColours) {
  TerminalSession t(TarvelinBinary());
  WaitForMenu(t);

  EXPECT_EQ(t.TextAt(1, 1, 4), Utf8(u8"Файл"));
  EXPECT_EQ(t.TextAt(8, 1, 15), Utf8(u8"Програмирование"));
  EXPECT_EQ(t.TextAt(26, 1, 7), Utf8(u8"Команды"));
  EXPECT_EQ(t.TextAt(36, 1, 7), Utf8(u8"Справка"));
  ExpectColours(t, 1, 1, kSelected);
  for (int col : {8, 26, 36}) ExpectColours(t, col, 1, kPanel);
  // No status text: the rest of the bar is light grey blanks.
  EXPECT_EQ(t.TextAt(43, 1, 38), std::string(38, ' '));
  ExpectColours(t, 43, 1, kPanel);
  ExpectColours(t, 80, 1, kPanel);

  // The pull-down: a single-line box from (1,2), 39 columns inside.
  EXPECT_EQ(t.TextAt(1, 2, 1), Utf8(u8"┌"));
  EXPECT_EQ(t.TextAt(41, 2, 1), Utf8(u8"┐"));
  EXPECT_EQ(t.TextAt(1, 9, 1), Utf8(u8"└"));
  EXPECT_EQ(t.TextAt(2, 9, 39), Utf8(u8"───────────────────────────────────────"));
  ExpectColours(t, 2, 3, kSelected);
  ExpectColours(t, 40, 3, kSelected);  // the highlight is a full-width bar
  ExpectColours(t, 2, 4, kPanel);
  EXPECT_EQ(t.TextAt(2, 8, 6), Utf8(u8" Выход"));

  // The background.
  ExpectColours(t, 60, 15, kNormal);
  ExpectColours(t, 80, 25, kNormal);
  EXPECT_TRUE(t.CursorVisible());
}

// Where the highlight is after each key, from the start-up screen on.
struct MenuStep {
  const char* name;
  Key key;
  int col, row;         // first column of the highlighted item
  const char8_t* item;  // its text
  int titleCol;         // the open menu's title, in ColorSelected
};

TEST(StartupE2E, ArrowsWalkAllFourMenus) {
  const std::vector<MenuStep> steps = {
      {"Right: Programming", Key::Right, 9, 3, u8" Записная книжка", 8},
      {"Down: outgoing", Key::Down, 9, 4, u8" Исходящая связь", 8},
      {"Right: Commands", Key::Right, 27, 3, u8" Переадресация", 26},
      {"Up from item 1 wraps to 3", Key::Up, 27, 5, u8" Вся книжка", 26},
      {"Right: Help", Key::Right, 37, 3, u8" Вызов справки", 36},
      {"Down: about", Key::Down, 37, 4, u8" О программе", 36},
      {"Down from the last wraps to 1", Key::Down, 37, 3, u8" Вызов справки", 36},
      {"Right from 4 wraps to File", Key::Right, 2, 3, u8" Подключение к устройству", 1},
      {"Left from File opens Help", Key::Left, 37, 3, u8" Вызов справки", 36},
      {"Left back to Commands keeps its item", Key::Left, 27, 5, u8" Вся книжка", 26},
      {"Esc opens File", Key::Esc, 2, 3, u8" Подключение к устройству", 1},
      {"Esc in File highlights Exit", Key::Esc, 2, 8, u8" Выход", 1},
  };
  TerminalSession t(TarvelinBinary());
  WaitForMenu(t);
  for (const MenuStep& s : steps) {
    SCOPED_TRACE(s.name);
    t.Press(s.key);
    ASSERT_TRUE(t.WaitFor([&] {
      return t.CursorPos() == std::make_pair(s.col, s.row) &&
             t.TextAt(s.col, s.row, 40).rfind(Utf8(s.item), 0) == 0;
    })) << t.ScreenText();
    ASSERT_TRUE(t.WaitFor([&] { return t.CellBg(s.col, s.row) == Indexed(ansi::Green); }));
    ExpectColours(t, s.titleCol, 1, kSelected);
  }
  // Only one pull-down is open: the Commands box (columns 26..42) is gone.
  ExpectColours(t, 30, 4, kPanel);  // the File box covers it now
  EXPECT_EQ(t.TextAt(8, 1, 15), Utf8(u8"Програмирование"));
  ExpectColours(t, 8, 1, kPanel);
  ExpectColours(t, 45, 5, kNormal);
}

// The same keys in the encodings other terminals send: each moves the
// highlight as the key does.
TEST(StartupE2E, KeyEncodingsOfOtherTerminals) {
  struct Case {
    const char* name;
    std::string bytes;
    int col, row;  // the cursor on the highlighted item afterwards
  };
  const std::vector<Case> cases = {
      {"Down, normal cursor mode", keys::CsiDown, 2, 4},
      {"Down, application mode", "\x1bOB", 2, 5},
      {"Up, normal cursor mode", keys::CsiUp, 2, 4},
      {"Right, normal cursor mode", keys::CsiRight, 9, 3},
      {"Left, normal cursor mode", keys::CsiLeft, 2, 4},
      {"Esc then a line feed: Exit highlighted, then chosen", keys::Esc, 2, 8},
  };
  TerminalSession t(TarvelinBinary());
  WaitForMenu(t);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    t.SendKeys(c.bytes);
    ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(c.col, c.row); }))
        << t.CursorPos().first << "," << t.CursorPos().second << "\n"
        << t.ScreenText();
  }
  // A line feed is Enter as well.
  t.SendKeys(keys::LineFeed);
  const auto status = t.WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status));
}

TEST(StartupE2E, AboutBoxOverTheMenuAndBack) {
  TerminalSession t(TarvelinBinary());
  WaitForMenu(t);
  const std::string menu = t.ScreenText();
  t.Press(Key::Left);
  t.Press(Key::Down);
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitFor([&] {
    return t.TextAt(28, 11, 24) == "***** TARVELIN.EXE *****" && t.TextAt(62, 21, 1) == Utf8(u8"┘");
  })) << t.ScreenText();
  t.Drain(Duration{30});
  EXPECT_EQ(t.TextAt(28, 13, 24), Utf8(u8"Чтение и  редактирование"));
  EXPECT_EQ(t.TextAt(20, 10, 1), Utf8(u8"┌"));
  EXPECT_EQ(t.TextAt(62, 21, 1), Utf8(u8"┘"));
  ExpectColours(t, 28, 11, kPanel);
  EXPECT_EQ(t.TextAt(21, 12, 41), std::string(41, ' '));

  t.SendKeys("q");
  ASSERT_TRUE(t.WaitFor([&] { return t.RowText(11).find("TARVELIN") == std::string::npos; }))
      << t.ScreenText();
  ASSERT_TRUE(t.WaitForTextAt(37, 4, Utf8(u8" О программе")));
  ExpectColours(t, 37, 4, kSelected);
  ExpectColours(t, 36, 1, kSelected);
}

TEST(StartupE2E, EscEscEnterEndsWithStatusZeroAndARestoredTerminal) {
  TerminalSession t(TarvelinBinary());
  WaitForMenu(t);
  t.Press(Key::Esc);
  ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(2, 8); }));
  t.Press(Key::Esc);
  t.Press(Key::Enter);
  const auto status = t.WaitForExit();
  ASSERT_TRUE(status.has_value()) << t.ScreenText();
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  // Back on the normal screen, nothing of the tool left, cursor on.
  EXPECT_FALSE(t.AltScreen());
  EXPECT_TRUE(t.CursorVisible());
  for (int row = 1; row <= t.Rows(); ++row) EXPECT_TRUE(BlankRow(t, row)) << "row " << row;
  EXPECT_EQ(Describe(t.CellBg(40, 12)), Describe(CellColor{}));
}

TEST(StartupE2E, TerminationBySignalRestoresTheTerminal) {
  TerminalSession t(TarvelinBinary());
  WaitForMenu(t);
  ASSERT_TRUE(t.AltScreen());
  kill(t.Pid(), SIGTERM);
  const auto status = t.WaitForExit();
  ASSERT_TRUE(status.has_value());
  ASSERT_TRUE(WIFSIGNALED(*status));
  EXPECT_EQ(WTERMSIG(*status), SIGTERM);
  EXPECT_FALSE(t.AltScreen());
  EXPECT_TRUE(t.CursorVisible());
}

// Without UTF-8 in the locale no byte of 0x80 or above may reach the
// terminal: lines come from the terminal's line-drawing set, Cyrillic is
// transliterated letter for letter, so the layout stays.
TEST(StartupE2E, PlainAsciiLocaleKeepsTheLayoutReadable) {
  SessionOptions o;
  o.lang = "C";
  TerminalSession t(TarvelinBinary(), o);
  ASSERT_TRUE(t.WaitFor([&] {
    return t.CursorPos() == std::make_pair(2, 3) && t.CellBg(80, 25) == Indexed(ansi::Blue);
  })) << t.ScreenText();
  t.Drain(Duration{30});
  EXPECT_EQ(t.TextAt(1, 1, 4), "Fajl");
  EXPECT_EQ(t.TextAt(2, 8, 6), " Vyhod");
  EXPECT_EQ(t.TextAt(1, 2, 3), Utf8(u8"┌──"));
  EXPECT_EQ(t.TextAt(1, 3, 1), Utf8(u8"│"));
  EXPECT_EQ(t.ScreenText().find(Utf8(u8"\uFFFD")), std::string::npos) << t.ScreenText();
  ExpectColours(t, 2, 3, kSelected);
}

// Eight-colour and monochrome terminals: bright foregrounds become bold,
// and without colours the light-grey bars are reverse video.
TEST(StartupE2E, FewerColoursKeepTheBarsDistinct) {
  {
    SCOPED_TRACE("xterm, 8 colours");
    SessionOptions o;
    o.term = "xterm";
    TerminalSession t(TarvelinBinary(), o);
    WaitForMenu(t);
    EXPECT_EQ(Describe(t.CellFg(60, 15)), Describe(Indexed(3)));  // yellow ...
    EXPECT_TRUE(t.CellBold(60, 15));                              // ... made bright
    EXPECT_EQ(Describe(t.CellBg(60, 15)), Describe(Indexed(ansi::Blue)));
    ExpectColours(t, 2, 4, kPanel);
    EXPECT_FALSE(t.CellBold(2, 4));
  }
  {
    SCOPED_TRACE("vt100, no colours");
    SessionOptions o;
    o.term = "vt100";
    TerminalSession t(TarvelinBinary(), o);
    ASSERT_TRUE(t.WaitFor([&] {
      return t.TextAt(2, 8, 6) == Utf8(u8" Выход") && t.CursorPos() == std::make_pair(2, 3);
    })) << t.ScreenText();
    t.Drain(Duration{30});
    EXPECT_TRUE(t.CellReverse(2, 4));   // a panel item
    EXPECT_TRUE(t.CellReverse(50, 1));  // the menu bar
    EXPECT_FALSE(t.CellReverse(2, 3));  // the highlighted item stands out
    EXPECT_FALSE(t.CellReverse(60, 15));
  }
}

TEST(StartupE2E, TooSmallTerminalShowsANoticeUntilItGrows) {
  SessionOptions o;
  o.rows = 24;
  TerminalSession t(TarvelinBinary(), o);
  ASSERT_TRUE(t.WaitForText(Utf8(u8"Нужен терминал 80x25, сейчас 80x24"))) << t.ScreenText();
  EXPECT_EQ(t.ScreenText().find(Utf8(u8"Подключение")), std::string::npos);

  // Keys typed blind, while the notice stands, are dropped.
  t.Press(Key::Right);
  t.Press(Key::Down);
  t.Drain();
  t.Resize(80, 25);
  WaitForMenu(t);
  ExpectColours(t, 1, 1, kSelected);
}

TEST(StartupE2E, GrowingTheTerminalRepaintsTheWholeGrid) {
  SessionOptions o;
  o.rows = 24;
  TerminalSession t(TarvelinBinary(), o);
  ASSERT_TRUE(t.WaitForText(Utf8(u8"Нужен терминал"))) << t.ScreenText();
  t.Resize(80, 25);
  WaitForMenu(t);
  EXPECT_EQ(t.ScreenText().find(Utf8(u8"Нужен")), std::string::npos);
  ExpectColours(t, 1, 1, kSelected);
  ExpectColours(t, 80, 25, kNormal);
  // Shrinking again brings the notice back, growing the menu.
  t.Resize(79, 25);
  ASSERT_TRUE(t.WaitForText(Utf8(u8"сейчас 79x25"))) << t.ScreenText();
  t.Resize(100, 30);
  WaitForMenu(t);
  // The grid stands at the top left, the rest is blank.
  EXPECT_TRUE(BlankRow(t, 27));
  EXPECT_EQ(t.TextAt(81, 1, 20), std::string(20, ' '));
  ExpectColours(t, 80, 1, kPanel);
}

TEST(StartupE2E, HelpViewerThatIsMissingReturnsToAnIntactMenu) {
  SessionOptions o;
  o.env = {{"PAGER", "no-such-pager-here"}};  // and no hiew either
  TerminalSession t(TarvelinBinary(), o);
  WaitForMenu(t);
  t.Press(Key::Left);
  ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(37, 3); }));
  const std::string before = t.ScreenText();
  t.Press(Key::Enter);
  // The command runs (and fails: there is no such pager); the menu comes
  // back, repainted in full over whatever the shell wrote.
  t.Drain();
  ASSERT_TRUE(t.WaitFor([&] { return t.ScreenText() == before && t.AltScreen(); })) << t.ScreenText();
  ExpectColours(t, 37, 3, kSelected);
  ExpectColours(t, 60, 15, kNormal);
  EXPECT_EQ(t.CursorPos(), std::make_pair(37, 3));
  // And the program still answers keys.
  t.Press(Key::Down);
  ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(37, 4); }));
}

}  // namespace
}  // namespace tv::e2e
