// The context help window: topic lookup by "#" headers, line pieces and
// cutting, and the screen put back exactly after Esc.
#include "screen/help_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "screen/screen.h"
#include "tests/support/scripted_console.h"

namespace tv {
namespace {

using namespace test;

// A help file with the given contents, read as the program reads help.txt.
class HelpFixture {
 public:
  explicit HelpFixture(const std::string& contents) : file_(std::tmpfile()) {
    std::fwrite(contents.data(), 1, contents.size(), file_);
    std::rewind(file_);
    help.file = file_;
  }
  ~HelpFixture() { std::fclose(file_); }
  HelpFixture(const HelpFixture&) = delete;
  HelpFixture& operator=(const HelpFixture&) = delete;

  HelpFile help;

 private:
  std::FILE* file_;
};

constexpr int InteriorWidth = 69;  // columns 7..75

// The panel interior of a row, trailing blanks removed.
std::string Row(const Screen& s, int y) {
  std::string t = s.TextAt(7, y, InteriorWidth);
  t.erase(t.find_last_not_of(' ') + 1);
  return t;
}

// Opens the topic and inspects the window while it waits for Esc: the
// console runs out of keys there, before the screen is restored.
std::vector<std::string> ShownRows(const std::string& contents, int topic) {
  HelpFixture fixture(contents);
  ScriptedConsole console;
  Screen screen(&console);
  EXPECT_THROW(ShowHelpTopic(screen, fixture.help, topic), OutOfKeys);
  std::vector<std::string> rows;
  for (int y = 3; y <= 23; ++y) rows.push_back(Row(screen, y));
  while (!rows.empty() && rows.back().empty()) rows.pop_back();
  return rows;
}

TEST(HelpTopic, ShowsHeaderAndLinesUpToTheNextHeaderOrTheEnd) {
  struct Case {
    std::string name;
    std::string file;
    int topic;
    std::vector<std::string> rows;
  };
  const std::string a100 = std::string(80, 'a') + std::string(20, 'b');
  const std::vector<Case> cases = {
      {"topic before the next header", "#2\none\ntwo\n#3\nthree\n", 2, {"", "one", "two"}},
      {"the header row shows the title, not the number",
       "#1 First\na\n#12  \tCell 12\nb\n",
       12,
       {"Cell 12", "b"}},
      {"last topic, no header after it", "#2\none\n#3\nthree\nfour\n", 3, {"", "three", "four"}},
      {"last line without line feed", "#3\nthree\nfour", 3, {"", "three", "four"}},
      {"unknown topic leaves the panel empty", "#2\none\n", 9, {}},
      {"a 100-character line: 69 characters, then characters 81..100",
       "#5\n" + a100 + "\nend\n",
       5,
       {"", std::string(69, 'a'), std::string(20, 'b'), "end"}},
      {"CR LF line ends show nothing for the CR", "#4\r\nabc\r\ndef\r\n#5\r\n", 4, {"", "abc", "def"}},
      {"a CR LF line of 79 characters gives one row",
       "#4\r\n" + std::string(79, 'x') + "\r\nnext\r\n",
       4,
       {"", std::string(69, 'x'), "next"}},
      {"header of a topic found after other topics", "#1\na\n#10\nb\n#11\nc\n", 10, {"", "b"}},
      {"a continuation piece that begins with # ends the topic",
       "#6\n" + std::string(80, 'z') + "#7 rest\nnot shown\n",
       6,
       {"", std::string(69, 'z')}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ShownRows(c.file, c.topic), c.rows);
  }
}

TEST(HelpTopic, HeaderNumberIsReadFromAtMostFourDigits) {
  struct Case {
    std::string header;
    int topic;
    std::string title;  // the header row: what follows the number
  };
  const std::vector<Case> cases = {
      {"#7", 7, ""}, {"#07", 7, ""},   {"#0007", 7, ""}, {"#12345", 1234, ""},
      {"#", 0, ""},  {"#A", 0, "A"}, {"#3x", 3, "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    const std::string file = "#99\nother\n" + c.header + "\nbody\n";
    EXPECT_EQ(ShownRows(file, c.topic), (std::vector<std::string>{c.title, "body"}));
  }
  // #12345 does not name topic 12345.
  EXPECT_TRUE(ShownRows("#12345\nbody\n", 12345).empty());
}

TEST(HelpTopic, ShowsAtMostTwentyLinesAfterTheHeader) {
  std::string file = "#1\n";
  for (int i = 1; i <= 25; ++i) file += "line " + std::to_string(i) + "\n";
  const std::vector<std::string> rows = ShownRows(file, 1);
  ASSERT_EQ(rows.size(), 21u);
  EXPECT_EQ(rows.front(), "");
  EXPECT_EQ(rows.back(), "line 20");
}

TEST(HelpTopic, WindowLayoutAndAttributes) {
  HelpFixture fixture("#2\nhelp text\n");
  ScriptedConsole console;
  Screen screen(&console);
  EXPECT_THROW(ShowHelpTopic(screen, fixture.help, 2), OutOfKeys);
  // The panel covers columns 6..76, rows 2..24.
  EXPECT_EQ(screen.CharAt(6, 2), line::SingleTopLeft);
  EXPECT_EQ(screen.CharAt(76, 24), line::SingleBottomRight);
  EXPECT_EQ(screen.CharAt(77, 2), ' ');
  EXPECT_EQ(screen.AttrAt(7, 4), ColorPanel);
  EXPECT_EQ(screen.TextAt(7, 4, 9), "help text");
  EXPECT_EQ(screen.CursorX(), 2);
  EXPECT_EQ(screen.CursorY(), 2);
  EXPECT_EQ(screen.Attribute(), ColorNormal);
}

TEST(HelpTopic, OnlyEscClosesAndTheScreenComesBackCellForCell) {
  HelpFixture fixture("#1\nhelp\n");
  // Every key but Esc is ignored, an extended key's scan code included (0x1B
  // as a scan code is not Esc).
  ScriptedConsole console({Up, Down, Chr('q'), Enter, F10, Ext(key::Esc), Tab, Esc});
  Screen screen(&console);
  for (int y = 1; y <= 25; ++y)
    for (int x = 1; x <= 80; ++x) {
      screen.SetAttribute(static_cast<uint8_t>((x + y) % 7 + 0x10));
      if (x != 80 || y != 25)
        screen.PutText(x, y, std::string(1, static_cast<char>('A' + (x * y) % 26)).c_str());
    }
  screen.SetCursor(15, 9);
  screen.SetAttribute(ColorPanel);
  uint8_t before[ScreenSaveBytes], after[ScreenSaveBytes];
  screen.SaveRect(1, 1, 80, 25, before);

  ShowHelpTopic(screen, fixture.help, 1);

  EXPECT_EQ(console.KeysLeft(), 0u);
  screen.SaveRect(1, 1, 80, 25, after);
  EXPECT_EQ(std::memcmp(before, after, ScreenSaveBytes), 0);
  EXPECT_EQ(screen.CursorX(), 15);
  EXPECT_EQ(screen.CursorY(), 9);
  EXPECT_EQ(screen.Attribute(), ColorPanel);
}

}  // namespace
}  // namespace tv
