// The terminal under strain: resized in the middle of a form and of a
// transfer, too small in either direction, the common terminal types and an
// unusable one, locales without UTF-8, and file names and device texts that
// hold control and escape bytes. Besides the emulated screen, the raw bytes
// the program wrote are searched for anything a name or a text smuggled in.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "cp866/code_page.h"
#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"

extern "C" {
#include <vterm.h>
}

namespace tv::e2e {
namespace {

namespace fs = std::filesystem;

// --- helpers ---------------------------------------------------------------

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A cp866 byte as the UTF-8 terminal shows it.
std::string GlyphOf(uint8_t b) {
  const char32_t c = Cp866ToUnicode(b);
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::string Glyphs(const std::string& cp866) {
  std::string out;
  for (const char c : cp866) out += GlyphOf(static_cast<uint8_t>(c));
  return out;
}

// A settings file: the given lines for cells 1..n, then plain cells up to 99,
// CR LF, NUL-padded to whole 256-byte blocks.
std::string SettingsFile(const std::vector<std::pair<std::string, std::string>>& cells) {
  std::string text;
  for (int i = 1; i <= 99; ++i) {
    char index[8];
    std::snprintf(index, sizeof index, " %02d,\"", i);
    const bool given = i <= static_cast<int>(cells.size());
    const std::string number = given ? cells[i - 1].first : std::to_string(1000 + i);
    const std::string name = given ? cells[i - 1].second : "N" + std::to_string(i);
    text += index + number + "\",129,\"" + name + "\"\r\n";
  }
  text.resize((text.size() / 256 + 1) * 256, '\0');
  return text;
}

// The start-up screen is up and complete.
::testing::AssertionResult StartScreen(TerminalSession& t, Duration wait = kScreenWait) {
  if (t.WaitFor(
          [&] {
            return t.TextAt(2, 3, 25) == Utf8(u8" Подключение к устройству") &&
                   t.TextAt(2, 8, 6) == Utf8(u8" Выход") && t.TextAt(41, 9, 1) == Utf8(u8"┘") &&
                   t.CursorPos() == std::make_pair(2, 3);
          },
          wait)) {
    t.Drain(Duration{30});
    return ::testing::AssertionSuccess();
  }
  return Failure(t, "no start-up screen");
}

// The size notice for the current size is up: the three centred lines and
// nothing else on the screen.
::testing::AssertionResult ShowsNoticeOnly(TerminalSession& t) {
  const std::string size = std::to_string(t.Cols()) + "x" + std::to_string(t.Rows());
  const std::vector<std::string> lines = {Utf8(u8"Нужен терминал 80x25, сейчас ") + size,
                                          "Terminal must be 80x25, now " + size, "Enlarge the window"};
  const std::vector<int> widths = {29 + static_cast<int>(size.size()), 28 + static_cast<int>(size.size()),
                                   18};
  const int mid = t.Rows() / 2;  // 1-based row of the middle line
  auto whole = [&] {
    for (int k = 0; k < 3; ++k) {
      const int row = mid + k;
      const int col = (t.Cols() - widths[k]) / 2 + 1;
      if (t.TextAt(col, row, widths[k]) != lines[k]) return false;
      if (col > 1 && t.TextAt(1, row, col - 1) != std::string(col - 1, ' ')) return false;
      const int after = t.Cols() - (col + widths[k] - 1);
      if (after > 0 && t.TextAt(col + widths[k], row, after) != std::string(after, ' ')) return false;
    }
    for (int row = 1; row <= t.Rows(); ++row) {
      if (row >= mid && row < mid + 3) continue;
      if (t.RowText(row) != std::string(t.Cols(), ' ')) return false;
    }
    return !t.CursorVisible();
  };
  if (t.WaitFor(whole, kScreenWait)) return ::testing::AssertionSuccess();
  return Failure(t, "no clean size notice for " + size);
}

// Loads the settings file `name` (the only or the first in the list) for
// editing and returns to the menu.
::testing::AssertionResult LoadForEditing(TerminalSession& t, const std::string& shownName) {
  if (auto r = Choose(t, kFileMenu, 4, Utf8(u8"Загрузка файла для редактирования")); !r) return r;
  if (!t.WaitFor(
          [&] {
            return t.TextAt(20, 6, 12).rfind(shownName, 0) == 0 && t.CellBg(20, 6) == Indexed(ansi::Green);
          },
          kScreenWait))
    return Failure(t, "no file list with " + shownName);
  t.Press(Key::Enter);
  if (!t.WaitForTextAt(20, 4, Utf8(u8"Загрузить данные для редактирования? [Y/N]"), kScreenWait))
    return Failure(t, "no question");
  t.SendKeys("y");
  if (!t.WaitForTextAt(20, 4, Utf8(u8"Данные загружены. Для продолжения нажмите любую клавишу"), kScreenWait))
    return Failure(t, "not loaded");
  t.SendKeys(" ");
  if (!t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait)) return Failure(t, "no menu");
  return ::testing::AssertionSuccess();
}

// The whole-book view's row r shows cell `cell` with these texts (UTF-8, as
// the terminal shows them), every part at its column.
bool BookRowShows(const TerminalSession& t, int r, int cell, const std::string& number, int numberCols,
                  const std::string& name, int nameCols) {
  char label[16];
  std::snprintf(label, sizeof label, "%02d", cell);
  return t.TextAt(1, r, 11) == Utf8(u8"Контакт ") + label + " " &&
         t.TextAt(12, r, 30) == number + std::string(30 - numberCols, ' ') &&
         t.TextAt(42, r, 6) == Utf8(u8"  Имя ") &&
         t.TextAt(48, r, 32) == name + std::string(32 - nameCols, ' ') && t.TextAt(80, r, 1) == " ";
}

// Bytes that no name or text may bring to the terminal: BEL, string
// controls (OSC, DCS, PM, APC, SOS) in 7-bit and in UTF-8-encoded C1 form.
void ExpectNoForeignControls(const std::string& raw) {
  EXPECT_EQ(raw.find('\x07'), std::string::npos) << "BEL";
  for (const char* seq : {"\x1b]", "\x1bP", "\x1b^", "\x1b_", "\x1bX"})
    EXPECT_EQ(raw.find(seq), std::string::npos) << "string control ESC " << seq[1];
  for (int c1 = 0x80; c1 <= 0x9F; ++c1) {
    const std::string encoded = {'\xC2', static_cast<char>(c1)};
    EXPECT_EQ(raw.find(encoded), std::string::npos) << "C1 control " << std::hex << c1;
  }
}

// The screen a terminal that speaks the locale's encoding shows after the
// raw bytes: converted to UTF-8 and replayed on a fresh emulator.
std::vector<std::string> ReplayInEncoding(const std::string& raw, const char* encoding, int cols, int rows) {
  iconv_t cd = iconv_open("UTF-8", encoding);
  std::string utf8;
  if (cd != reinterpret_cast<iconv_t>(-1)) {
    std::string in = raw;
    char* inp = in.data();
    std::size_t inLeft = in.size();
    std::string out(raw.size() * 4 + 16, '\0');
    char* outp = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
      if (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1)) {
        *outp++ = '?';  // a byte the encoding lacks
        --outLeft;
        ++inp;
        --inLeft;
      }
    }
    out.resize(out.size() - outLeft);
    utf8 = out;
    iconv_close(cd);
  }
  VTerm* vt = vterm_new(rows, cols);
  vterm_set_utf8(vt, 1);
  VTermScreen* screen = vterm_obtain_screen(vt);
  vterm_screen_enable_altscreen(screen, 1);
  vterm_screen_reset(screen, 1);
  vterm_input_write(vt, utf8.data(), utf8.size());
  std::vector<std::string> lines;
  for (int r = 0; r < rows; ++r) {
    std::string line;
    for (int c = 0; c < cols; ++c) {
      VTermScreenCell cell;
      vterm_screen_get_cell(screen, VTermPos{r, c}, &cell);
      const char32_t u = cell.chars[0] ? cell.chars[0] : U' ';
      // Back through cp866 where it can, so the test compares cp866 texts.
      const int b = UnicodeToCp866(u);
      line += GlyphOf(b >= 0 ? static_cast<uint8_t>(b) : '?');
    }
    lines.push_back(line);
  }
  vterm_free(vt);
  return lines;
}

// Characters of a UTF-8 string.
int Utf8Length(const std::string& s) {
  int n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// count characters of a UTF-8 string from character `from` (0-based).
std::string Utf8Sub(const std::string& s, int from, int count) {
  std::size_t i = 0;
  auto skip = [&](int n) {
    for (int k = 0; k < n && i < s.size(); ++k) {
      ++i;
      while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    }
  };
  skip(from);
  const std::size_t start = i;
  skip(count);
  return s.substr(start, i - start);
}

class RobustnessE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

// --- 1. resizing in the middle of things -------------------------------------

TEST_F(RobustnessE2E, ResizeInTheIncomingCallsFormAndInItsFieldEditor) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 3, Utf8(u8"Входящая связь")));
  ASSERT_TRUE(Shows(t, 30, 2, Utf8(u8" Входящая связь ")));
  ASSERT_TRUE(MoveTo(t, Key::Down, 12, 9));  // cell 71
  t.Drain(Duration{100});
  const std::string form = t.ScreenText();

  {
    SCOPED_TRACE("navigating: shrink, keys typed blind, grow");
    t.Resize(80, 24);
    ASSERT_TRUE(ShowsNoticeOnly(t));
    t.Press(Key::Down);
    t.Press(Key::Enter);
    t.Type("5");
    t.Press(Key::Esc);
    t.Drain();
    t.Resize(80, 25);
    ASSERT_TRUE(t.WaitFor([&] { return t.ScreenText() == form && t.CursorPos() == std::make_pair(12, 9); }))
        << t.ScreenText();
    EXPECT_EQ(Describe(t.CellBg(80, 25)), Describe(Indexed(ansi::Blue)));
    EXPECT_TRUE(t.CursorVisible());
  }

  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitFor([&] { return t.CellBg(12, 9) == Indexed(ansi::LightGrey); })) << t.ScreenText();
  t.Drain(Duration{100});
  const std::string editing = t.ScreenText();
  const auto cursor = t.CursorPos();
  {
    SCOPED_TRACE("editing a field: shrink in one direction, then the other, grow");
    t.Resize(80, 24);
    ASSERT_TRUE(ShowsNoticeOnly(t));
    t.Resize(79, 25);
    ASSERT_TRUE(ShowsNoticeOnly(t));
    t.Type("9");
    t.Drain();
    t.Resize(80, 25);
    ASSERT_TRUE(t.WaitFor([&] { return t.ScreenText() == editing && t.CursorPos() == cursor; }))
        << t.ScreenText();
    EXPECT_EQ(Describe(t.CellBg(12, 9)), Describe(Indexed(ansi::LightGrey)));
  }
  // The editor is still there and takes the new number; the gateway gets it.
  t.Press(Key::Delete, 16);
  t.Type("5551234");
  ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(12, 9, 7) == "5551234"; })) << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(ShowsField(t, 12, 9, "5551234", 16, kExchangeWait));
  EXPECT_TRUE(t.WaitFor([&] { return ("\n" + g.Dump()).find("\n71,\"5551234\",") != std::string::npos; },
                        kExchangeWait))
      << g.Dump();
  ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));
}

TEST_F(RobustnessE2E, ResizeInTheWholeBookViewLargerAndSmaller) {
  TerminalSession t(TarvelinBinary());
  WriteBytes(t.Directory() + "/book.set", SettingsFile({}));
  ASSERT_TRUE(StartScreen(t));
  ASSERT_TRUE(LoadForEditing(t, "book.set"));
  ASSERT_TRUE(Choose(t, kCommandsMenu, 3, Utf8(u8"Вся книжка")));
  ASSERT_TRUE(t.WaitFor([&] { return BookRowShows(t, 25, 25, "1025", 4, "N25", 3); })) << t.ScreenText();
  t.Press(Key::PgDn);
  ASSERT_TRUE(t.WaitFor([&] {
    return BookRowShows(t, 25, 50, "1050", 4, "N50", 3) && t.CursorPos() == std::make_pair(12, 25);
  })) << t.ScreenText();
  t.Drain(Duration{100});
  const std::string page = t.ScreenText();

  t.Resize(40, 10);
  ASSERT_TRUE(ShowsNoticeOnly(t));
  t.Press(Key::PgUp);
  t.Press(Key::Esc);
  t.Drain();
  // Larger than needed: the grid at the top left, the rest blank.
  t.Resize(100, 30);
  ASSERT_TRUE(t.WaitFor([&] {
    for (int r = 1; r <= 25; ++r)
      if (t.TextAt(1, r, 80) + "\n" != Utf8Sub(page, 81 * (r - 1), 81)) return false;
    return t.CursorPos() == std::make_pair(12, 25);
  })) << t.ScreenText();
  for (int r = 1; r <= 30; ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    EXPECT_EQ(t.TextAt(81, r, 20), std::string(20, ' '));
    if (r > 25) {
      EXPECT_EQ(t.RowText(r), std::string(100, ' '));
    }
  }
  t.Resize(80, 25);
  ASSERT_TRUE(t.WaitFor([&] { return t.ScreenText() == page; })) << t.ScreenText();
  // The view still answers: back to the first page, then out.
  t.Press(Key::PgUp);
  ASSERT_TRUE(t.WaitFor([&] { return BookRowShows(t, 1, 1, "1001", 4, "N1", 2); })) << t.ScreenText();
  ASSERT_TRUE(LeaveForm(t, kCommandsMenu));
}

// gwsim at line speed with a latency: reading the 99 cells takes seconds.
// The terminal shrinks while the cells are read and grows again.
TEST_F(RobustnessE2E, ResizeDuringSimToFileRepaintsTheProgressAndTheFileIsWhole) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway({"--pace", "--latency", "20"}));
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kFileMenu, 2, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
  ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(20, 23, 21) == Utf8(u8"Колличество файлов: 0"); }, kScreenWait))
      << t.ScreenText();
  t.Type("robust");
  ASSERT_TRUE(Shows(t, 34, 4, "robust"));
  t.Press(Key::Enter);
  ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Сохранить данные из SIM-Карты в файл? [Y/N]")));
  t.SendKeys("y");
  // Some cells are read.
  ASSERT_TRUE(t.WaitFor(
      [&] { return t.TextAt(20, 4, 10) == Utf8(u8"Выполнено:") && t.TextAt(41, 4, 1) == Utf8(u8"█"); },
      kExchangeWait))
      << t.ScreenText();

  t.Resize(80, 24);
  ASSERT_TRUE(ShowsNoticeOnly(t));
  t.Resize(80, 25);
  // The whole panel comes back, and the progress line is consistent: the
  // percentage p after cell p - 1 and blocks in columns 40 .. 40 + (p - 1) / 3.
  int shownPercent = -1;
  auto repainted = [&] {
    if (t.TextAt(18, 3, 1) != Utf8(u8"┌") || t.TextAt(78, 3, 1) != Utf8(u8"┐") ||
        t.TextAt(18, 24, 1) != Utf8(u8"└") || t.TextAt(78, 24, 1) != Utf8(u8"┘"))
      return false;
    for (int r = 4; r <= 23; ++r)
      if (t.TextAt(18, r, 1) != Utf8(u8"│") || t.TextAt(78, r, 1) != Utf8(u8"│")) return false;
    // Row 1 keeps only the status area, the connection's.
    if (t.RowText(1).substr(0, 56) != std::string(56, ' ') || !ShowsConnection(t) ||
        t.TextAt(20, 4, 10) != Utf8(u8"Выполнено:"))
      return false;
    const std::string percent = t.TextAt(31, 4, 4);
    if (percent.size() != 4 || percent[3] != '%') return false;
    const int p = std::atoi(percent.c_str());
    if (p < 2 || p > 100) return false;
    const int last = 40 + (p - 1) / 3;
    for (int col = 40; col <= 73; ++col) {
      const std::string cell = t.TextAt(col, 4, 1);
      if (cell != (col <= last ? Utf8(u8"█") : col <= 72 ? Utf8(u8"░") : " ")) return false;
    }
    shownPercent = p;
    return true;
  };
  ASSERT_TRUE(t.WaitFor(repainted, kScreenWait)) << t.ScreenText();
  EXPECT_LT(shownPercent, 100) << "the transfer ended before the terminal grew back";

  ASSERT_TRUE(
      Shows(t, 20, 4, Utf8(u8"Данные сохранены. Для продолжения нажмите любую клавишу"), kExchangeWait));
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu && ShowsConnection(t); })) << t.ScreenText();

  // The file holds all 99 cells as the gateway has them.
  const std::string file = ReadBytes(g.Dir() + "/robust.set");
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.size() % 256, 0u);
  const std::string text = file.substr(0, file.find('\0'));
  EXPECT_EQ(file.size(), (text.size() / 256 + 1) * 256);
  EXPECT_EQ(file.find_first_not_of('\0', text.size()), std::string::npos);
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << "a line without CR LF at " << at;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_EQ(lines.size(), 99u) << text;
  std::vector<std::string> dump;
  const std::string d = g.Dump();
  for (std::size_t at = 0; at < d.size();) {
    const std::size_t end = d.find('\n', at);
    dump.push_back(d.substr(at, end - at));
    at = end == std::string::npos ? d.size() : end + 1;
  }
  ASSERT_EQ(dump.size(), 99u) << d;
  for (int i = 1; i <= 99; ++i) {
    SCOPED_TRACE("cell " + std::to_string(i));
    const std::string& line = lines[i - 1];
    ASSERT_EQ(line.rfind(" " + std::to_string(i) + ",\"", 0), 0u) << line;
    // Number and name: the quoted texts, in file and gateway alike.
    auto quoted = [](const std::string& s, int k) {
      std::size_t at = 0;
      for (int q = 0; q < 2 * k + 1; ++q) at = s.find('"', at) + 1;
      return s.substr(at, s.find('"', at) - at);
    };
    EXPECT_EQ(quoted(line, 0), quoted(dump[i - 1], 0));
    EXPECT_EQ(quoted(line, 1), quoted(dump[i - 1], 1));
  }
}

// --- 2. too small in either direction ----------------------------------------

TEST(RobustnessTerminalE2E, TooSmallInEitherDirectionShowsOnlyTheNoticeAndDropsKeys) {
  struct Size {
    const char* name;
    int cols, rows;
  };
  const std::vector<Size> sizes = {{"one column short", 79, 25}, {"one row short", 80, 24}, {"tiny", 40, 10}};
  TerminalSession t(TarvelinBinary());
  ASSERT_TRUE(StartScreen(t));
  t.Press(Key::Right);
  ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(9, 3); }));
  t.Drain(Duration{100});
  const std::string menu = t.ScreenText();
  for (const Size& s : sizes) {
    SCOPED_TRACE(s.name);
    t.Resize(s.cols, s.rows);
    ASSERT_TRUE(ShowsNoticeOnly(t));
    // The keys that would leave the program, and some that would open a form.
    t.Press(Key::Esc);
    t.Press(Key::Esc);
    t.Press(Key::Enter);
    t.Press(Key::Down);
    t.Press(Key::Enter);
    t.SendKeys("y\r");
    t.Drain(Duration{300});
    ASSERT_FALSE(t.WaitForExit(Duration{200}).has_value()) << "the program ended on keys typed blind";
    ASSERT_TRUE(ShowsNoticeOnly(t));
    t.Resize(80, 25);
    ASSERT_TRUE(t.WaitFor([&] { return t.ScreenText() == menu && t.CursorPos() == std::make_pair(9, 3); }))
        << t.ScreenText();
    EXPECT_EQ(Describe(t.CellBg(8, 1)), Describe(Indexed(ansi::Green)));
  }
  // The menu answers as before.
  t.Press(Key::Down);
  ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(9, 4); })) << t.ScreenText();
}

// --- 3. terminal types ---------------------------------------------------------

TEST(RobustnessTerminalE2E, CommonTerminalTypesShowTheMenuTakeTheirArrowsAndExitCleanly) {
  struct Case {
    const char* term;
    std::string up, down, right, left;  // what the terminfo entry says the keys send
  };
  const std::string ss3 = "\x1bO";
  const std::vector<Case> cases = {
      {"xterm-256color", ss3 + "A", ss3 + "B", ss3 + "C", ss3 + "D"},
      {"screen", ss3 + "A", ss3 + "B", ss3 + "C", ss3 + "D"},
      {"screen-256color", ss3 + "A", ss3 + "B", ss3 + "C", ss3 + "D"},
      {"tmux-256color", ss3 + "A", ss3 + "B", ss3 + "C", ss3 + "D"},
      {"linux", keys::CsiUp, keys::CsiDown, keys::CsiRight, keys::CsiLeft},
      {"vt100", ss3 + "A", ss3 + "B", ss3 + "C", ss3 + "D"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.term);
    if (!fs::exists(std::string("/usr/share/terminfo/") + c.term[0] + "/" + c.term) &&
        !fs::exists(std::string("/lib/terminfo/") + c.term[0] + "/" + c.term)) {
      ADD_FAILURE() << "no terminfo entry for " << c.term;
      continue;
    }
    SessionOptions o;
    o.term = c.term;
    TerminalSession t(TarvelinBinary(), o);
    ASSERT_TRUE(StartScreen(t));
    EXPECT_EQ(t.TextAt(1, 1, 4), Utf8(u8"Файл"));
    EXPECT_EQ(t.TextAt(8, 1, 15), Utf8(u8"Програмирование"));
    EXPECT_EQ(t.TextAt(1, 2, 3), Utf8(u8"┌──"));
    EXPECT_EQ(t.TextAt(1, 9, 1), Utf8(u8"└"));
    EXPECT_EQ(t.ScreenText().find(Utf8(u8"\uFFFD")), std::string::npos) << t.ScreenText();
    // The emulator's own encoding (it follows the keypad mode the program set).
    t.Press(Key::Down);
    ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(2, 4); })) << t.ScreenText();
    // The entry's sequences.
    const std::vector<std::pair<std::string, std::pair<int, int>>> steps = {
        {c.down, {2, 5}}, {c.up, {2, 4}}, {c.right, {9, 3}}, {c.left, {2, 4}}};
    for (const auto& [bytes, pos] : steps) {
      t.SendKeys(bytes);
      ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == pos; }))
          << t.CursorPos().first << "," << t.CursorPos().second << "\n"
          << t.ScreenText();
    }
    t.Press(Key::Esc);
    ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(2, 8); })) << t.ScreenText();
    t.Press(Key::Esc);
    t.Press(Key::Enter);
    const auto status = t.WaitForExit(kScreenWait);
    ASSERT_TRUE(status.has_value()) << t.ScreenText();
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_FALSE(t.AltScreen());
    EXPECT_TRUE(t.CursorVisible());
    for (int row = 1; row <= t.Rows(); ++row)
      EXPECT_EQ(t.RowText(row), std::string(80, ' ')) << "row " << row;
  }
}

// From the start-up screen to the file chooser of Load for editing, listing
// `files` names. The walk follows the cursor alone: on a terminal without
// colours the highlight is no colour the helpers above could look for.
::testing::AssertionResult OpenLoadChooser(TerminalSession& t, int files) {
  for (int row = 4; row <= 6; ++row)
    if (auto r = MoveTo(t, Key::Down, 2, row); !r) return r;
  if (auto r = Shows(t, 3, 6, Utf8(u8"Загрузка файла для редактирования")); !r) return r;
  t.Press(Key::Enter);
  return Shows(t, 20, 23, Utf8(u8"Колличество файлов: ") + std::to_string(files));
}

// F10, as the terminal sends it, opens the help topic of the field under the
// cursor: xterm's and vt100's own sequences from their entries, and on vt100
// also xterm's, which the tool binds where an entry leaves it free (a
// terminal whose entry says less than it sends).
TEST(RobustnessTerminalE2E, F10AsTheTerminalSendsItOpensTheFieldsHelp) {
  struct Case {
    const char* name;
    const char* term;
    std::string f10;
  };
  const std::vector<Case> cases = {
      {"xterm-256color, its kf10", "xterm-256color", keys::F10},
      {"vt100, its kf10", "vt100", "\x1bOx"},
      {"vt100, xterm's F10", "vt100", keys::F10},
      // F1 does the same, for terminals that keep F10 for their own menu.
      {"xterm-256color, F1", "xterm-256color", "\x1bOP"},
      {"linux console, F1", "linux", "\x1b[[A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionOptions o;
    o.term = c.term;
    TerminalSession t(TarvelinBinary(), o);
    WriteBytes(t.Directory() + "/book.set", SettingsFile({}));
    ASSERT_TRUE(StartScreen(t));
    ASSERT_TRUE(OpenLoadChooser(t, 1));
    ASSERT_TRUE(Shows(t, 20, 6, "book.set"));
    t.Press(Key::Enter);
    ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Загрузить данные для редактирования? [Y/N]")));
    t.SendKeys("y");
    ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Данные загружены. Для продолжения нажмите любую клавишу")));
    t.SendKeys(" ");
    ASSERT_TRUE(t.WaitFor([&] {
      return t.CursorPos() == std::make_pair(2, 6) &&
             t.RowText(4).find(Utf8(u8"Загрузить")) == std::string::npos;
    })) << t.ScreenText();
    ASSERT_TRUE(MoveTo(t, Key::Right, 9, 3));
    ASSERT_TRUE(MoveTo(t, Key::Down, 9, 4));
    ASSERT_TRUE(Shows(t, 10, 4, Utf8(u8"Исходящая связь")));
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitFor([&] {
      return t.TextAt(30, 2, 17) == Utf8(u8" Исходящая связь ") && t.CursorPos() == std::make_pair(12, 8);
    })) << t.ScreenText();
    t.Drain(Duration{100});
    const std::string form = t.ScreenText();
    t.SendKeys(c.f10);
    // The first field is the forbidden list: topic 10 of help.txt.
    // The header row shows the topic's title, not its "#10".
    ASSERT_TRUE(Shows(t, 7, 3, Utf8(u8"Запрещенный набор")));
    ASSERT_TRUE(Shows(t, 7, 4, Utf8(u8"Ячейки 40-49: начала номеров, набор которых запрещён.")));
    t.Press(Key::Esc);
    ASSERT_TRUE(t.WaitFor([&] { return t.ScreenText() == form && t.CursorPos() == std::make_pair(12, 8); }))
        << t.ScreenText();
  }
}

// The Backspace key sends DEL on most terminals and ^H on others (vt100's
// entry names ^H). Whichever byte the entry names, both take back the last
// character of a file name being typed.
TEST(RobustnessTerminalE2E, DelAndCtrlHBothTakeBackATypedCharacter) {
  struct Step {
    const char* name;
    std::string bytes;
    std::string shown;  // the typed name afterwards
  };
  const std::vector<Step> steps = {
      {"a b c", "abc", "abc"},   {"DEL", keys::Del, "ab"}, {"d", "d", "abd"},
      {"^H", keys::CtrlH, "ab"}, {"e", "e", "abe"},
  };
  for (const char* term : {"xterm-256color", "vt100"}) {
    SCOPED_TRACE(term);
    SessionOptions o;
    o.term = term;
    TerminalSession t(TarvelinBinary(), o);
    ASSERT_TRUE(StartScreen(t));
    ASSERT_TRUE(OpenLoadChooser(t, 0));
    for (const Step& step : steps) {
      SCOPED_TRACE(step.name);
      t.SendKeys(step.bytes);
      const std::string field = step.shown + std::string(12 - step.shown.size(), ' ');
      const auto cursor = std::make_pair(34 + static_cast<int>(step.shown.size()), 4);
      ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(34, 4, 12) == field && t.CursorPos() == cursor; }))
          << t.ScreenText();
    }
    t.Press(Key::Esc);
    ASSERT_TRUE(t.WaitFor([&] {
      return t.CursorPos() == std::make_pair(2, 6) && t.TextAt(20, 23, 10) != Utf8(u8"Колличеств");
    })) << t.ScreenText();
  }
}

// A terminal type without an entry, or one that cannot place the cursor: one
// line on the terminal, no escape sequence, exit status 1.
TEST(RobustnessTerminalE2E, UnusableTerminalTypesEndWithAMessage) {
  struct Case {
    const char* term;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"nonexistent", "tarvelin: cannot use terminal type 'nonexistent'\r\n"},
      {"", "tarvelin: cannot use terminal type ''\r\n"},
      {"dumb", "tarvelin: terminal type 'dumb' cannot position the cursor\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("TERM='") + c.term + "'");
    SessionOptions o;
    o.term = c.term;
    TerminalSession t(TarvelinBinary(), o);
    const auto status = t.WaitForExit(kScreenWait);
    ASSERT_TRUE(status.has_value()) << t.ScreenText();
    ASSERT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    // Only the message (curses may put a carriage return before it).
    std::string raw = t.RawOutput();
    if (raw.rfind("\r", 0) == 0 && raw.rfind("\r\n", 0) != 0) raw.erase(0, 1);
    EXPECT_EQ(raw, c.message);
  }
}

// --- 4. locales without UTF-8 --------------------------------------------------

// Every cp866 byte a text can hold (all but NUL, LF, CR, blank and the double
// quote), as names of cells 1..9, 29 bytes each.
std::vector<std::pair<std::string, std::string>> AllBytesCells() {
  std::string all;
  for (int b = 1; b <= 0xFF; ++b)
    if (b != '\n' && b != '\r' && b != ' ' && b != '"') all += static_cast<char>(b);
  std::vector<std::pair<std::string, std::string>> cells;
  for (std::size_t at = 0; at < all.size(); at += 29)
    cells.push_back({std::to_string(100 + cells.size()), all.substr(at, 29)});
  return cells;
}

// Makes a KOI8-R Russian locale in a scratch directory (none is installed
// here); the program finds it through LOCPATH. Empty when it cannot.
std::string MakeKoi8Locale() {
  // Removed when the test program ends.
  struct ScratchDir {
    std::string path;
    ~ScratchDir() {
      std::error_code ec;
      if (!path.empty()) fs::remove_all(path, ec);
    }
  };
  static ScratchDir dir;
  if (!dir.path.empty()) return dir.path;
  char tmpl[] = "/tmp/tarvelin-locale-XXXXXX";
  if (!mkdtemp(tmpl)) return {};
  dir.path = tmpl;
  const std::string locale = dir.path + "/ru_RU.KOI8-R";
  const std::string cmd = "localedef -i ru_RU -f KOI8-R " + locale + " >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0 && !fs::exists(locale + "/LC_CTYPE")) return {};
  return dir.path;
}

TEST(RobustnessTerminalE2E, LocalesWithoutUtf8SendOnlyTheirOwnEncodingAndKeepTheLayout) {
  struct Case {
    const char* name;
    std::string lang, lcAll;
    const char* encoding;  // nullptr: plain ASCII
  };
  std::vector<Case> cases = {
      {"LANG=C", "C", "", nullptr},
      {"LC_ALL=POSIX over LANG=C.UTF-8", "C.UTF-8", "POSIX", nullptr},
  };
  const std::string locpath = MakeKoi8Locale();
  if (!locpath.empty()) {
    setenv("LOCPATH", locpath.c_str(), 1);  // inherited by the program
    cases.push_back({"LANG=ru_RU.KOI8-R", "ru_RU.KOI8-R", "", "KOI8-R"});
  } else {
    std::fprintf(stderr, "no KOI8-R locale could be made: that case is left out\n");
  }
  const auto cells = AllBytesCells();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionOptions o;
    o.lang = c.lang;
    o.lcAll = c.lcAll;
    // A terminal of the locale's encoding is an 8-bit one: one cell a byte.
    o.utf8Terminal = c.encoding == nullptr;
    TerminalSession t(TarvelinBinary(), o);
    WriteBytes(t.Directory() + "/bytes.set", SettingsFile(cells));
    ASSERT_TRUE(t.WaitFor([&] {
      return t.CursorPos() == std::make_pair(2, 3) && t.CellBg(80, 25) == Indexed(ansi::Blue);
    })) << t.ScreenText();
    t.Drain(Duration{50});
    // Through the File menu (no texts compared: they are transliterated or in
    // the locale's encoding) to the load, then to the whole-book view.
    t.Press(Key::Down, 3);
    ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(2, 6); }));
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitFor([&] {
      return t.TextAt(20, 6, 9) == "bytes.set" && t.CellBg(20, 6) == Indexed(ansi::Green);
    })) << t.ScreenText();
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(20, 4, 60).find("[Y/N]") != std::string::npos; }))
        << t.ScreenText();
    t.SendKeys("y");
    ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(20, 4, 60).find("[Y/N]") == std::string::npos; }));
    t.Drain(Duration{100});
    t.SendKeys(" ");
    ASSERT_TRUE(t.WaitFor([&] {
      return t.CursorPos() == std::make_pair(2, 6) && t.TextAt(65, 1, 9) == "bytes.set";
    })) << t.ScreenText();
    t.Press(Key::Right, 2);
    ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(27, 3); }));
    t.Press(Key::Up);
    ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(27, 5); }));
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitFor([&] {
      return t.CursorPos() == std::make_pair(12, 1) && t.TextAt(80, 25, 1) == " ";
    })) << t.ScreenText();
    t.Drain(Duration{200});

    const std::string& raw = t.RawOutput();
    ExpectNoForeignControls(raw);
    if (!c.encoding) {
      std::size_t high = 0;
      for (const char ch : raw) high += static_cast<unsigned char>(ch) >= 0x80;
      EXPECT_EQ(high, 0u) << "bytes of 0x80 and above in an ASCII locale";
      // The layout, on the terminal itself: every row's parts at their columns.
      for (int r = 1; r <= 25; ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        char label[16];
        std::snprintf(label, sizeof label, "Kontakt %02d ", r);
        EXPECT_EQ(t.TextAt(1, r, 11), label);
        EXPECT_EQ(t.TextAt(42, r, 6), "  Ima ");
        EXPECT_EQ(t.TextAt(80, r, 1), " ");
      }
      for (int r = 1; r <= static_cast<int>(cells.size()); ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        // Each of the 29 bytes is one cell: the field's blanks start at 77.
        EXPECT_EQ(t.TextAt(48 + static_cast<int>(cells[r - 1].second.size()), r,
                           32 - static_cast<int>(cells[r - 1].second.size())),
                  std::string(32 - cells[r - 1].second.size(), ' '));
        if (cells[r - 1].second.back() != '\xff') {  // 0xFF is the no-break space
          EXPECT_NE(t.TextAt(48 + static_cast<int>(cells[r - 1].second.size()) - 1, r, 1), " ");
        }
      }
      EXPECT_EQ(t.ScreenText().find(Utf8(u8"\uFFFD")), std::string::npos) << t.ScreenText();
    } else {
      // The locale's encoding, but no byte a terminal in 8-bit mode would
      // take as a C1 control.
      for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto b = static_cast<unsigned char>(raw[i]);
        EXPECT_FALSE(b >= 0x80 && b < 0xA0) << "C1 byte " << std::hex << int(b) << " at " << std::dec << i;
      }
      // On a terminal of that encoding: the labels in Cyrillic at their
      // columns, and the Cyrillic letters of the names as they are.
      const auto screen = ReplayInEncoding(raw, c.encoding, 80, 25);
      for (int r = 1; r <= 25; ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        char label[16];
        std::snprintf(label, sizeof label, "%02d ", r);
        EXPECT_EQ(Utf8Sub(screen[r - 1], 0, 11), Utf8(u8"Контакт ") + label);
        EXPECT_EQ(Utf8Sub(screen[r - 1], 41, 6), Utf8(u8"  Имя "));
        EXPECT_EQ(Utf8Sub(screen[r - 1], 79, 1), " ");
      }
      for (int r = 1; r <= static_cast<int>(cells.size()); ++r) {
        SCOPED_TRACE("row " + std::to_string(r));
        const std::string& name = cells[r - 1].second;
        for (std::size_t k = 0; k < name.size(); ++k) {
          const auto b = static_cast<uint8_t>(name[k]);
          const bool letter = (b >= 0x80 && b <= 0xAF) || (b >= 0xE0 && b <= 0xF1);
          if (letter) {
            EXPECT_EQ(Utf8Sub(screen[r - 1], 47 + static_cast<int>(k), 1), GlyphOf(b)) << int(b);
          }
        }
      }
    }
    // Out and exit, terminal given back.
    t.Press(Key::Esc);
    ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(27, 5); }));
    t.Press(Key::Esc);
    t.Press(Key::Esc);
    t.Press(Key::Enter);
    const auto status = t.WaitForExit(kScreenWait);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  }
}

// --- 5. hostile file names and device texts --------------------------------------

TEST(RobustnessTerminalE2E, FileNamesWithControlBytesAreGlyphsInTheChooser) {
  struct Name {
    std::string real;
    std::string shown;  // in the list, 13 columns, UTF-8
  };
  // In the chooser's (byte-wise) order.
  const std::vector<Name> names = {
      {"a\x1b[2Jb.set", "a?[2Jb.set"},
      {"bad\xff\xfe.set", Utf8(u8"bad\u00a0■.set")},  // not UTF-8: taken as cp866
      {"bell\x07.set", "bell?.set"},
      {"bs\x08\x08x.set", "bs??x.set"},
      {"c1\xc2\x9b"
       "31m.set",
       "c1?31m.set"},  // U+009B, the 8-bit CSI
      {"cr\rz.set", "cr?z.set"},
      {"del\x7f.set", "del?.set"},
      {"osc\x1b]2;PWNED\x07.set", "osc?~NED?.set"},  // cut in the middle
      {"tab\tname.set", "tab?name.set"},
  };
  TerminalSession t(TarvelinBinary());
  for (const Name& n : names) WriteBytes(t.Directory() + "/" + n.real, SettingsFile({}));
  ASSERT_TRUE(StartScreen(t));
  const std::size_t before = t.RawOutput().size();
  ASSERT_TRUE(Choose(t, kFileMenu, 4, Utf8(u8"Загрузка файла для редактирования")));
  ASSERT_TRUE(Shows(t, 20, 23, Utf8(u8"Колличество файлов: 9")));
  ASSERT_TRUE(Shows(t, 34, 4, "a?[2Jb.set    "));
  t.Drain(Duration{100});
  for (std::size_t k = 0; k < names.size(); ++k) {
    SCOPED_TRACE("entry " + std::to_string(k));
    const int row = 6 + static_cast<int>(k);
    EXPECT_EQ(t.TextAt(18, row, 2), Utf8(u8"│ "));
    EXPECT_EQ(t.TextAt(20, row, 13), names[k].shown + std::string(13 - Utf8Length(names[k].shown), ' '));
    EXPECT_EQ(t.TextAt(33, row, 45), std::string(45, ' '));
    EXPECT_EQ(t.TextAt(78, row, 1), Utf8(u8"│"));
  }
  // The panel and the rest of the screen are intact.
  EXPECT_EQ(t.TextAt(18, 3, 2), Utf8(u8"┌─"));
  EXPECT_EQ(t.TextAt(77, 24, 2), Utf8(u8"─┘"));
  EXPECT_EQ(t.TextAt(20, 4, 14), Utf8(u8"Текущий файл: "));
  EXPECT_EQ(t.RowText(1), std::string(80, ' '));
  EXPECT_EQ(t.RowText(25), std::string(80, ' '));
  EXPECT_EQ(t.TextAt(45, 23, 5), "ENTER");
  // Walking the list shows each name in the name field, as glyphs.
  for (std::size_t k = 1; k < names.size(); ++k) {
    SCOPED_TRACE("down to " + std::to_string(k));
    t.Press(Key::Down);
    ASSERT_TRUE(t.WaitFor([&] { return t.CellBg(20, 6 + static_cast<int>(k)) == Indexed(ansi::Green); }))
        << t.ScreenText();
  }
  ASSERT_TRUE(Shows(t, 34, 4, "tab?name.set  "));
  t.Press(Key::Up);
  ASSERT_TRUE(Shows(t, 34, 4, "osc?]2;PWNED?.set"));
  t.Drain(Duration{100});
  const std::string raw = t.RawOutput().substr(before);
  ExpectNoForeignControls(raw);
  for (const char* smuggled :
       {"\x1b[2Jb", "\x1b]2;PWNED", "\x08\x08x", "\rz.set", "\tname", "\x7f.set", "\xff\xfe"})
    EXPECT_EQ(raw.find(smuggled), std::string::npos)
        << "raw name bytes: " << testing::PrintToString(smuggled);

  // Taken: loaded, and the status area shows the name as glyphs too.
  t.Press(Key::Enter);
  ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Загрузить данные для редактирования? [Y/N]")));
  t.SendKeys("y");
  ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Данные загружены. Для продолжения нажмите любую клавишу")));
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; })) << t.ScreenText();
  EXPECT_EQ(t.TextAt(59, 1, 22), Utf8(u8"Файл: osc?]~PWNED?.set"));
  EXPECT_EQ(t.TextAt(1, 1, 4), Utf8(u8"Файл"));
  ExpectNoForeignControls(t.RawOutput());
}

// Names in a settings file holding ESC, BEL, BS, CR and every other control
// byte: the whole-book view shows them as the PC's glyphs, every row's parts
// at their columns, and none of them reaches the terminal.
TEST(RobustnessTerminalE2E, DeviceTextsWithControlBytesAreGlyphsInTheWholeBookView) {
  std::string controls;
  for (int b = 1; b < 0x20; ++b)
    if (b != '\n' && b != '\r') controls += static_cast<char>(b);
  controls += '\x7f';
  struct Cell {
    std::string number, name;  // as in the file
    std::string shownNumber, shownName;
  };
  const std::vector<Cell> cells = {
      {"123", "A\x1b[2JB", "123", "A\x1b[2JB"},
      {"4\x07"
       "5",
       "BEL\x07X",
       "4\x07"
       "5",
       "BEL\x07X"},
      {"6", "BS\x08\x08Y", "6", "BS\x08\x08Y"},
      // CR ends the line: the name is cut there, "Z" is not a text.
      {"7", "CR\rZ", "7", "CR"},
      {"8", "\x1b]2;PWNED\x07", "8", "\x1b]2;PWNED\x07"},
      {"9",
       "\x9b"
       "31m",
       "9",
       "\x9b"
       "31m"},  // cp866 0x9B is a letter, not CSI
      {"0", controls, "0", controls.substr(0, 32)},
  };
  std::vector<std::pair<std::string, std::string>> lines;
  for (const Cell& c : cells) lines.push_back({c.number, c.name});
  TerminalSession t(TarvelinBinary());
  WriteBytes(t.Directory() + "/ctl.set", SettingsFile(lines));
  ASSERT_TRUE(StartScreen(t));
  const std::size_t before = t.RawOutput().size();
  ASSERT_TRUE(LoadForEditing(t, "ctl.set"));
  ASSERT_TRUE(Choose(t, kCommandsMenu, 3, Utf8(u8"Вся книжка")));
  ASSERT_TRUE(t.WaitFor([&] { return BookRowShows(t, 25, 25, "1025", 4, "N25", 3); })) << t.ScreenText();
  t.Drain(Duration{100});
  for (std::size_t k = 0; k < cells.size(); ++k) {
    SCOPED_TRACE("cell " + std::to_string(k + 1));
    const Cell& c = cells[k];
    EXPECT_TRUE(BookRowShows(t, static_cast<int>(k) + 1, static_cast<int>(k) + 1, Glyphs(c.shownNumber),
                             static_cast<int>(c.shownNumber.size()), Glyphs(c.shownName),
                             static_cast<int>(c.shownName.size())))
        << t.RowText(static_cast<int>(k) + 1);
  }
  // The rows after them are untouched by what came before.
  for (int r = static_cast<int>(cells.size()) + 1; r <= 25; ++r)
    EXPECT_TRUE(BookRowShows(t, r, r, std::to_string(1000 + r), 4, "N" + std::to_string(r), 3 - (r < 10)))
        << t.RowText(r);
  EXPECT_EQ(t.CursorPos(), std::make_pair(12, 1));

  const std::string raw = t.RawOutput().substr(before);
  ExpectNoForeignControls(raw);
  for (const char* smuggled : {"\x1b[2JB", "\x08\x08Y", "\x7f", "\x9b"})
    EXPECT_EQ(raw.find(smuggled), std::string::npos) << testing::PrintToString(smuggled);
  // Controls the backend uses for cursor moves (BS, CR, LF, TAB) may appear;
  // the others must not.
  for (int b = 1; b < 0x20; ++b) {
    if (b == 0x1b || b == '\b' || b == '\r' || b == '\n' || b == '\t') continue;
    EXPECT_EQ(raw.find(static_cast<char>(b)), std::string::npos) << "control byte " << b;
  }

  // Paging away and back redraws the same rows.
  t.Press(Key::PgDn);
  ASSERT_TRUE(t.WaitFor([&] { return BookRowShows(t, 1, 26, "1026", 4, "N26", 3); })) << t.ScreenText();
  t.Press(Key::PgUp);
  ASSERT_TRUE(t.WaitFor([&] {
    return BookRowShows(t, 1, 1, "123", 3, Glyphs("A\x1b[2JB"), 6) && t.CursorPos() == std::make_pair(12, 1);
  })) << t.ScreenText();
  ASSERT_TRUE(LeaveForm(t, kCommandsMenu));
}

}  // namespace
}  // namespace tv::e2e
