// The file chooser: which files are listed and how, the moves in the list,
// and typing a new name.
#include "ui/file_chooser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/sim_serial_port.h"
#include "tests/ui/chooser_fixture.h"

namespace tv {
namespace {

using namespace test;

TEST_F(ChooserTest, DrawsLabelListCountAndHints) {
  MakeFiles(70);
  EXPECT_EQ(Choose({Esc}), ChooseListEsc);
  EXPECT_EQ(screen.TextAt(20, 4, 14), std::string("Текущий файл: "_cp));
  EXPECT_EQ(screen.AttrAt(20, 4), ColorPanel);
  EXPECT_EQ(screen.TextAt(34, 4, 14), "f00.set       ");
  // Every file is counted; four columns of 16 show at a time.
  EXPECT_EQ(screen.TextAt(20, 23, 22), std::string("Колличество файлов: 70"_cp));
  EXPECT_EQ(screen.TextAt(45, 23, 32), std::string("ENTER - Выполнить  ESC  - Выход "_cp));
  EXPECT_EQ(screen.AttrAt(45, 23), ColorSelected);
  EXPECT_EQ(screen.AttrAt(50, 23), ColorPanel);
  EXPECT_EQ(screen.AttrAt(64, 23), ColorSelected);
  EXPECT_EQ(screen.AttrAt(70, 23), ColorPanel);
  struct Place {
    int entry, x, y;
  } places[] = {{0, 20, 6}, {15, 20, 21}, {16, 35, 6}, {40, 50, 14}, {63, 65, 21}};
  for (const Place& p : places) {
    SCOPED_TRACE(p.entry);
    EXPECT_EQ(screen.TextAt(p.x, p.y, 7), Numbered(p.entry));
    EXPECT_EQ(screen.AttrAt(p.x, p.y), p.entry == 0 ? ColorSelected : ColorPanel);
  }
  EXPECT_EQ(screen.Dump().find("f64.set"), std::string::npos);
}

TEST_F(ChooserTest, MovesInTheList) {
  using K = std::vector<KeyPress>;
  auto repeat = [](KeyPress k, int n) { return K(n, k); };
  auto join = [](K a, const K& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  struct Case {
    const char* name;
    int files;
    K keys;
    int expected;
  } cases[] = {
      {"10 files, Right from 5 stops at the last", 10, join(repeat(Down, 5), {Right}), 9},
      {"10 files, Left from 5 goes to 0", 10, join(repeat(Down, 5), {Left}), 0},
      {"40 files, Left from 20 goes to 4", 40, join(repeat(Down, 20), {Left}), 4},
      {"40 files, Right from 20 goes to 36", 40, join(repeat(Down, 20), {Right}), 36},
      {"Up on entry 0 does nothing", 10, {Up}, 0},
      {"Down on the last entry does nothing", 10, repeat(Down, 10), 9},
      {"Right on the last entry does nothing", 40, repeat(Right, 4), 39},
      {"other extended keys do nothing", 10, {Down, PgDn, F10, Del}, 1},
      {"other characters do nothing", 10, {Down, Chr('1'), Chr(' '), Tab}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& e : std::filesystem::directory_iterator(".")) std::filesystem::remove(e.path());
    MakeFiles(c.files);
    EXPECT_EQ(Choose(join(c.keys, {Enter})), ChooseAccepted);
    EXPECT_EQ(tool.state.currentFileName, Numbered(c.expected));
    EXPECT_EQ(console.KeysLeft(), 0u);
  }
}

TEST_F(ChooserTest, MoveRedrawsHighlightAndNameField) {
  MakeFiles(20);
  EXPECT_EQ(Choose({Right, Esc}), ChooseListEsc);
  EXPECT_EQ(screen.AttrAt(20, 6), ColorPanel);
  EXPECT_EQ(screen.AttrAt(35, 6), ColorSelected);
  EXPECT_EQ(screen.TextAt(34, 4, 14), "f16.set       ");
  EXPECT_EQ(screen.AttrAt(40, 4), ColorPanel);
}

TEST_F(ChooserTest, TypingANewName) {
  struct Case {
    const char* name;
    std::string typed;
    std::vector<KeyPress> more;
    int result;
    std::string fileName;
  } cases[] = {
      {"only the first letter is lowered", "Test", {Enter}, ChooseAccepted, "test.set"},
      {"a name with a dot is taken as typed", "Dump.TXT", {Enter}, ChooseAccepted, "dump.TXT"},
      {"13 characters without a dot, Enter", "abcdefghij_12", {Enter}, ChooseAccepted, "abcdefghij_12.set"},
      {"Backspace over the first letter", "x", {Backspace, Enter}, ChooseAccepted, ".set"},
      {"a removed dot counts no more", "ab.", {Backspace, Chr('c'), Enter}, ChooseAccepted, "abc.set"},
      {"other keys ignored",
       "a",
       {Up, Chr('/'), Chr(' '), Chr('b'), Enter},
       ChooseAccepted,
       "ab.set"},
      {"a name with '-', '_' and digits", "COM1-1", {Enter}, ChooseAccepted, "cOM1-1.set"},
      {"Esc while typing", "new", {Esc}, ChooseTypingEsc, "keep.set"},
      {"13 characters with a dot, Enter", "abcdef.ghijkl", {Enter}, ChooseAccepted, "abcdef.ghijkl"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tool.state.currentFileName = "keep.set";
    console.Type(c.typed);
    EXPECT_EQ(Choose(c.more), c.result);
    EXPECT_EQ(tool.state.currentFileName, c.fileName);
    EXPECT_EQ(console.KeysLeft(), 0u);
  }
}

TEST_F(ChooserTest, TypedNameIsEchoedAndClearedOnAccept) {
  MakeFiles(1);
  std::string echoed;
  // Look at the screen while the third key is awaited.
  struct Peek : ScriptedConsole {
    std::string* out;
    KeyPress NextKey(const Screen& s) override {
      if (keysRead == 2) *out = s.TextAt(34, 4, 12);
      return ScriptedConsole::NextKey(s);
    }
  } peek;
  peek.out = &echoed;
  peek.Type("Ab");
  peek.Add({Enter});
  screen.AttachConsole(&peek);
  EXPECT_EQ(ChooseFile(tool.screen, tool.state.currentFileName, "*.set"), ChooseAccepted);
  EXPECT_EQ(tool.state.currentFileName, "ab.set");
  EXPECT_EQ(echoed, "ab          ");
  EXPECT_EQ(screen.AttrAt(34, 4), ColorPanel);
  EXPECT_EQ(screen.TextAt(34, 4, 12), std::string(12, ' '));
  EXPECT_EQ(screen.CursorX(), 34);
  EXPECT_EQ(screen.CursorY(), 4);
}

TEST_F(ChooserTest, EnterOnAnEmptyListGivesAnEmptyName) {
  tool.state.currentFileName = "old.set";
  EXPECT_EQ(Choose({Enter}), ChooseAccepted);
  EXPECT_EQ(tool.state.currentFileName, "");
  EXPECT_EQ(screen.TextAt(20, 23, 21), std::string("Колличество файлов: 0"_cp));
}

TEST_F(ChooserTest, LongNameShownShortenedInTheListButWholeAsTheCurrentFile) {
  ScratchDir::Write("a_very_long_settings_name.set", "");
  ScratchDir::Write("b.set", "");
  EXPECT_EQ(Choose({Enter}), ChooseAccepted);
  EXPECT_EQ(tool.state.currentFileName, "a_very_long_settings_name.set");
  // Cut in the middle: the end of the name shows.
  EXPECT_EQ(screen.TextAt(20, 6, 15), "a_ve~name.set  ");
  EXPECT_EQ(screen.TextAt(20, 7, 5), "b.set");
  // The name field has room up to the panel's edge.
  EXPECT_EQ(screen.TextAt(34, 4, 30), "a_very_long_settings_name.set ");
}

// A character past the typed name's limit says why it was not taken, on the
// row under the name, until the name is made shorter.
TEST_F(ChooserTest, ATypedNameTooLongSaysSoUntilShortened) {
  struct Recorder : ScriptedConsole {
    std::vector<std::string> hintRows;
    KeyPress NextKey(const Screen& s) override {
      hintRows.push_back(s.TextAt(20, 5, 48));
      return ScriptedConsole::NextKey(s);
    }
  } rec;
  rec.Type("gw1-2024-12-10");
  rec.Add({Enter, Backspace, Backspace, Chr('0'), Enter});
  screen.AttachConsole(&rec);
  screen.DrawPanel(18, 3, 59, 20);
  EXPECT_EQ(ChooseFile(tool.screen, tool.state.currentFileName, "*.set"), ChooseAccepted);
  EXPECT_EQ(tool.state.currentFileName, "gw1-2024-120.set");
  const std::string hint = "Имя длиннее 13 знаков: сократите его (Backspace)"_cp;
  // Before the 14th character: nothing; after it and after the refused
  // Enter: the hint; after Backspace: gone.
  ASSERT_EQ(rec.hintRows.size(), 19u);
  EXPECT_EQ(rec.hintRows[13], std::string(48, ' '));
  EXPECT_EQ(rec.hintRows[14], hint);
  EXPECT_EQ(rec.hintRows[15], hint);
  EXPECT_EQ(rec.hintRows[16], std::string(48, ' '));
}

// With no file to list, the place of the list says how to go on; the
// count and the key hints stay where they are.
TEST_F(ChooserTest, AnEmptyDirectorySaysHowToTypeANewName) {
  const std::string hint = "Наберите имя нового файла латинскими буквами и ENTER"_cp;
  struct Case {
    const char* name;
    int files;
    bool hinted;
  } cases[] = {{"no file", 0, true}, {"one file", 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeFiles(c.files);
    screen.DrawPanel(18, 3, 59, 20);
    EXPECT_EQ(Choose({Esc}), ChooseListEsc);
    EXPECT_EQ(screen.TextAt(20, 6, static_cast<int>(hint.size())) == hint, c.hinted);
    EXPECT_EQ(screen.TextAt(20, 23, 21), "Колличество файлов: "_cp + std::to_string(c.files));
    EXPECT_EQ(screen.TextAt(45, 23, 32), std::string("ENTER - Выполнить  ESC  - Выход "_cp));
  }
}

// The name being typed is the one that will be used: no listed file stays
// highlighted as the target. A name at its length limit waits for Enter, so
// that a key the operator is still typing neither ends it nor goes on to
// answer the question that follows; a character past the limit is refused
// and Enter then waits until the name is made shorter: the name meant is
// never taken cut.
TEST_F(ChooserTest, WhileANameIsTypedItIsTheOnlyTarget) {
  ScratchDir::Write("big.set", "");
  ScratchDir::Write("small.set", "");
  struct Case {
    const char* name;
    std::string typed;
    std::vector<KeyPress> more;
    std::string fileName;
  } cases[] = {
      {"a short name", "fresh", {Enter}, "fresh.set"},
      {"after moving in the list", "", {Down, Chr('n'), Chr('e'), Chr('w'), Enter}, "new.set"},
      {"13 characters and one more", "abcdefghij_12x", {Enter, Backspace, Enter}, "abcdefghij_1.set"},
      {"13 characters with a dot and more", "abcdef.ghijklmn", {Enter, Backspace, Enter}, "abcdef.ghijk"},
      {"Backspace at the limit", "abcdefghij_12", {Backspace, Chr('z'), Enter}, "abcdefghij_1z.set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // For each key awaited once typing began: whether a list entry was highlighted.
    struct Peek : ScriptedConsole {
      bool typing = false;  // a letter was given in the list
      std::vector<bool> highlighted;
      KeyPress NextKey(const Screen& s) override {
        if (typing) {
          bool any = false;
          for (int y = 6; y <= 21; ++y)
            for (int x = 20; x <= 76; ++x) any = any || s.AttrAt(x, y) == ColorSelected;
          highlighted.push_back(any);
        }
        const KeyPress k = ScriptedConsole::NextKey(s);
        typing = typing || (!k.extended && std::isalpha(k.code));
        return k;
      }
    } peek;
    peek.Type(c.typed);
    peek.Add(c.more);
    screen.AttachConsole(&peek);
    screen.DrawPanel(18, 3, 59, 20);
    tool.state.currentFileName = "keep.set";
    EXPECT_EQ(ChooseFile(tool.screen, tool.state.currentFileName, "*.set"), ChooseAccepted);
    EXPECT_EQ(tool.state.currentFileName, c.fileName);
    EXPECT_EQ(peek.KeysLeft(), 0u);
    EXPECT_FALSE(peek.highlighted.empty());
    EXPECT_EQ(std::count(peek.highlighted.begin(), peek.highlighted.end(), true), 0);
  }
  screen.AttachConsole(&console);
}

TEST(FileNameDisplay, Cases) {
  struct Case {
    const char* name;
    std::string file;
    int width;
    std::string shown;
  } cases[] = {
      {"fits", "abc.set", 12, "abc.set"},
      {"exactly the width", "abcdefgh.set", 12, "abcdefgh.set"},
      {"one over", "abcdefghi.set", 12, "abc~fghi.set"},
      {"dates that differ at the end", "gw1_20261210.set", 13, "gw1_~1210.set"},
      {"the other date", "gw1_20261211.set", 13, "gw1_~1211.set"},
      {"Cyrillic UTF-8 to cp866", "\xd0\xa4\xd0\xb0\xd0\xb9\xd0\xbb.set", 12, "Файл.set"_cp},
      {"UTF-8 without cp866 glyph", "\xe2\x82\xac.set", 12, "?.set"},
      {"cp866 bytes from a DOS system kept", "\x94\xa0\xa9\xab.set", 12, "Файл.set"_cp},
      {"truncated UTF-8 sequence", "a\xd0", 12,
       "a"
       "\xd0"},
      {"control bytes and DEL", "\x01\x08\x7f.set", 12, "???.set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DisplayFileName(c.file, c.width), c.shown);
  }
}

// More files than four columns hold: the columns scroll sideways, so that
// every file can be reached.
TEST_F(ChooserTest, EveryFileIsReachableByScrolling) {
  MakeFiles(81);
  EXPECT_EQ(Choose({Right, Right, Right, Right, Right, Down, Esc}), ChooseListEsc);
  // Entry 80 (column 5) is highlighted in the last column in view, which
  // shows columns 2 to 5.
  EXPECT_EQ(screen.TextAt(65, 6, 7), Numbered(80));
  EXPECT_EQ(screen.AttrAt(65, 6), ColorSelected);
  EXPECT_EQ(screen.TextAt(20, 6, 7), Numbered(32));
  EXPECT_EQ(screen.TextAt(65, 7, 13), std::string(13, ' '));
  EXPECT_EQ(screen.TextAt(34, 4, 7), Numbered(80));
  EXPECT_EQ(Choose({Right, Right, Right, Right, Right, Left, Left, Left, Left, Enter}), ChooseAccepted);
  EXPECT_EQ(tool.state.currentFileName, Numbered(16));
  EXPECT_EQ(screen.TextAt(20, 6, 7), Numbered(16));
}

// F2 sorts newest first and back by name; the highlighted file stays the
// same, and the row under the list says what F2 gives.
TEST_F(ChooserTest, F2SortsNewestFirstOrByName) {
  namespace fs = std::filesystem;
  MakeFiles(3);
  const auto now = fs::file_time_type::clock::now();
  fs::last_write_time(Numbered(0), now - std::chrono::hours(3));
  fs::last_write_time(Numbered(1), now - std::chrono::hours(1));
  fs::last_write_time(Numbered(2), now - std::chrono::hours(2));
  const KeyPress f2 = Ext(0x3C);
  EXPECT_EQ(Choose({Esc}), ChooseListEsc);
  EXPECT_EQ(screen.TextAt(20, 22, 24), std::string("F2 - новые файлы первыми"_cp));
  EXPECT_EQ(Choose({f2, Esc}), ChooseListEsc);
  EXPECT_EQ(screen.TextAt(20, 6, 7), Numbered(1));
  EXPECT_EQ(screen.TextAt(20, 7, 7), Numbered(2));
  EXPECT_EQ(screen.TextAt(20, 8, 7), Numbered(0));
  EXPECT_EQ(screen.AttrAt(20, 8), ColorSelected);  // f00.set, as before
  EXPECT_EQ(screen.TextAt(20, 22, 13), std::string("F2 - по имени"_cp));
  EXPECT_EQ(Choose({f2, Up, Up, Enter}), ChooseAccepted);
  EXPECT_EQ(tool.state.currentFileName, Numbered(1));
  EXPECT_EQ(Choose({f2, f2, Enter}), ChooseAccepted);
  EXPECT_EQ(tool.state.currentFileName, Numbered(0));
}

}  // namespace
}  // namespace tv
