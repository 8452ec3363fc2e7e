// The whole transfers against a gateway that behaves as modems do in the
// field, all at once: it echoes every command, sends unsolicited lines
// (RING, +CREG: ...) between and inside replies and while idle, loses what
// is sent to it before it has finished its last reply, takes 100..300 ms for
// every phonebook write, and reports an empty location as "+CME ERROR: 22".
// Each transfer must end with its own closing message, and what the SIM
// holds afterwards (gwsim's dump) must be exactly what was meant, cell for
// cell.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/e2e/gateway_session.h"

namespace tv::e2e {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kFieldModem = {
    "--echo", "--urc", "30", "--drop-while-busy", "--write-delay", "100-300", "--cme-not-found"};

// 99 writes at 100..300 ms each take about 20 s; the deadline leaves room
// for a loaded machine and still ends well before the test's own time-out.
constexpr Duration kTransferWait{60000};

const std::string kErrorHeading = Utf8(u8"Ошибка обмена по последовательному каналу !");
const std::string kNotTaken = Utf8(u8"SIM-Карта не приняла");

// One phonebook entry as the dump and the settings files write it:
//   dump:               07,"123",129,"07"
//   file, from image:    07,"123",129,"07"
//   file, from device:   7,"+7903...",145,"07"
struct Cell {
  int index = 0;
  std::string number;
  int type = 0;
  std::string name;
  bool operator==(const Cell&) const = default;
};

void PrintTo(const Cell& c, std::ostream* os) {
  *os << c.index << ",\"" << c.number << "\"," << c.type << ",\"" << c.name << "\"";
}

std::optional<Cell> ParseCell(std::string_view line) {
  std::size_t p = line.find_first_not_of(' ');
  auto integer = [&](int& out) {
    const std::size_t start = p;
    out = 0;
    while (p < line.size() && line[p] >= '0' && line[p] <= '9') out = out * 10 + (line[p++] - '0');
    return p > start;
  };
  auto literal = [&](std::string_view s) {
    if (line.substr(p, s.size()) != s) return false;
    p += s.size();
    return true;
  };
  auto quoted = [&](std::string& out) {
    if (!literal("\"")) return false;
    const std::size_t end = line.find('"', p);
    if (end == std::string_view::npos) return false;
    out = std::string(line.substr(p, end - p));
    p = end + 1;
    return true;
  };
  Cell c;
  if (p == std::string_view::npos || !integer(c.index) || !literal(",") || !quoted(c.number) ||
      !literal(",") || !integer(c.type) || !literal(",") || !quoted(c.name) || p != line.size())
    return std::nullopt;
  return c;
}

// The cells of a text whose lines end with eol; every line must be one.
::testing::AssertionResult ParseCells(std::string_view text, std::string_view eol, std::vector<Cell>& cells) {
  cells.clear();
  for (std::size_t p = 0; p < text.size();) {
    const std::size_t end = text.find(eol, p);
    if (end == std::string_view::npos)
      return ::testing::AssertionFailure() << "a line without its end: " << text.substr(p);
    const std::string_view line = text.substr(p, end - p);
    const auto cell = ParseCell(line);
    if (!cell) return ::testing::AssertionFailure() << "not a phonebook line: " << line;
    cells.push_back(*cell);
    p = end + eol.size();
  }
  return ::testing::AssertionSuccess();
}

// A settings file's lines: the text before the NUL padding, which fills the
// file to whole 256-byte blocks.
::testing::AssertionResult ParseSettingsFile(const std::string& bytes, std::vector<Cell>& cells) {
  if (bytes.size() % 256 != 0)
    return ::testing::AssertionFailure() << "the file is " << bytes.size() << " bytes, not whole blocks";
  const std::size_t nul = bytes.find('\0');
  if (nul == std::string::npos) return ::testing::AssertionFailure() << "no NUL padding";
  if (bytes.find_first_not_of('\0', nul) != std::string::npos)
    return ::testing::AssertionFailure() << "bytes after the padding";
  return ParseCells(std::string_view(bytes).substr(0, nul), "\r\n", cells);
}

std::string SettingsFileOf(const std::vector<Cell>& cells) {
  std::string text;
  char line[128];
  for (const Cell& c : cells) {
    std::snprintf(line, sizeof line, " %02d,\"%s\",%d,\"%s\"\r\n", c.index, c.number.c_str(), c.type,
                  c.name.c_str());
    text += line;
  }
  text.append(256 - text.size() % 256, '\0');
  return text;
}

std::string TwoDigits(int i) { return {static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10)}; }

// The SIM phonebook from gwsim's dump, cell for cell against what is
// expected; the first cell that differs fails.
void ExpectSimHolds(GatewaySession& g, const std::vector<Cell>& expected) {
  std::vector<Cell> sim;
  // The dump is rewritten after the gateway's last change: wait for it.
  g.Term().WaitFor([&] { return ParseCells(g.Dump(), "\n", sim) && sim == expected; }, kScreenWait);
  ASSERT_TRUE(ParseCells(g.Dump(), "\n", sim));
  ASSERT_EQ(sim.size(), expected.size()) << g.Dump();
  for (std::size_t i = 0; i < sim.size(); ++i) ASSERT_EQ(sim[i], expected[i]) << "cell " << i + 1;
}

// Waits for the closing message on the row, or for the first sign of
// failure: the exchange error box or cells the SIM did not take.
::testing::AssertionResult EndsWith(TerminalSession& t, int row, const std::string& message) {
  const auto failed = [&] {
    const std::string screen = t.ScreenText();
    return screen.find(kErrorHeading) != std::string::npos || screen.find(kNotTaken) != std::string::npos;
  };
  const auto start = Clock::now();
  if (!t.WaitFor([&] { return t.RowText(row).find(message) != std::string::npos || failed(); },
                 kTransferWait))
    return Failure(t, "neither the end nor an error within the deadline: " + message);
  if (failed()) return Failure(t, "the transfer failed");
  std::printf("[ measured ] %-50s %6.2f s\n", message.c_str(),
              std::chrono::duration<double>(Clock::now() - start).count());
  std::fflush(stdout);
  return ::testing::AssertionSuccess();
}

// The closing message of a transfer in the File menu's panel, any key, and
// the menu again with the connection still in the status area.
::testing::AssertionResult TransferEnds(TerminalSession& t, const std::string& message) {
  if (auto r = EndsWith(t, 4, message); !r) return r;
  t.SendKeys(" ");
  if (!t.WaitFor([&] { return OpenMenu(t) == kFileMenu && ShowsConnection(t); }, kScreenWait))
    return Failure(t, "no menu with the connection after " + message);
  return ::testing::AssertionSuccess();
}

class FieldModemE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

TEST_F(FieldModemE2E, BlankSimIsInitialisedWithTheDefaults) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  std::vector<std::string> args = {"--blank"};
  args.insert(args.end(), kFieldModem.begin(), kFieldModem.end());
  ASSERT_TRUE(g.StartGateway(args));
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Enter);
  ASSERT_TRUE(EndsWith(t, 15, Utf8(u8"Для начала инициализации нажмите I")));
  t.SendKeys("I");
  ASSERT_TRUE(EndsWith(t, 14, Utf8(u8"Для продолжения нажмите любую клавишу.")));

  std::vector<Cell> defaults;
  for (int i = 1; i <= 99; ++i) defaults.push_back({i, "0", 129, TwoDigits(i)});
  defaults[97] = {98, "0000100", 129, "98.GSM.TRV"};
  ASSERT_NO_FATAL_FAILURE(ExpectSimHolds(g, defaults));
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu && ShowsConnection(t); }, kScreenWait))
      << t.ScreenText();
}

TEST_F(FieldModemE2E, FileToSimWritesEveryCellAndReadsItBack) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway(kFieldModem));
  // Every cell other than the SIM holds now, numbers and names of several
  // lengths (names up to the 16 characters a SIM takes); cell 98 keeps the
  // signature, with other modes.
  std::vector<Cell> wanted;
  for (int i = 1; i <= 99; ++i) {
    char number[24];
    std::snprintf(number, sizeof number, "8%02d%0*d", i, 3 + i % 9, i * 7919 % 1000000);
    wanted.push_back({i, number, 129,
                      TwoDigits(i) + "-" +
                          std::string(static_cast<std::size_t>(i % 14), static_cast<char>('A' + i % 26))});
  }
  wanted[97] = {98, "0101150", 129, "98.GSM.TRV"};
  std::vector<Cell> before;
  // gwsim writes its first dump just after it has linked ./COM1.
  ASSERT_TRUE(
      t.WaitFor([&] { return ParseCells(g.Dump(), "\n", before) && before.size() == 99; }, kScreenWait))
      << g.Dump();
  for (std::size_t i = 0; i < before.size(); ++i) {
    ASSERT_NE(before[i].number, wanted[i].number) << "cell " << i + 1;
    if (i != 97) {
      ASSERT_NE(before[i].name, wanted[i].name) << "cell " << i + 1;
    }
  }
  const std::string file = SettingsFileOf(wanted);
  {
    std::ofstream out(g.Dir() + "/field.set", std::ios::binary);
    out << file;
  }

  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kFileMenu, 3, Utf8(u8"Пересылка данных из файла в SIM-Карту")));
  ASSERT_TRUE(
      t.WaitFor([&] { return t.TextAt(20, 6, 9) == "field.set" && t.CellBg(20, 6) == Indexed(ansi::Green); },
                kScreenWait))
      << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitForTextAt(20, 4, Utf8(u8"Загрузить данные из файла в SIM-Карту? [Y/N]"), kScreenWait))
      << t.ScreenText();
  t.SendKeys("y");
  ASSERT_TRUE(TransferEnds(t, Utf8(u8"Данные загружены.  Для продолжения нажмите любую клавишу")));
  ASSERT_NO_FATAL_FAILURE(ExpectSimHolds(g, wanted));

  // The read-back is what the book form shows: contacts 1..20 in the left
  // column, 21..39 in the right.
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  for (int cell = 1; cell <= 39; ++cell)
    ASSERT_TRUE(ShowsField(t, cell <= 20 ? 10 : 50, 4 + (cell - 1) % 20, wanted[cell - 1].number, 30))
        << "contact " << cell;
  ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));
}

TEST_F(FieldModemE2E, SimToFileHoldsWhatTheSimHolds) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway(kFieldModem));
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kFileMenu, 2, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
  ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(20, 23, 21) == Utf8(u8"Колличество файлов: 0"); }, kScreenWait))
      << t.ScreenText();
  t.Type("copy");
  ASSERT_TRUE(t.WaitForTextAt(34, 4, "copy", kScreenWait)) << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitForTextAt(20, 4, Utf8(u8"Сохранить данные из SIM-Карты в файл? [Y/N]"), kScreenWait))
      << t.ScreenText();
  t.SendKeys("y");
  ASSERT_TRUE(TransferEnds(t, Utf8(u8"Данные сохранены. Для продолжения нажмите любую клавишу")));

  const fs::path path = fs::path(g.Dir()) / "copy.set";
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<Cell> saved, sim;
  ASSERT_TRUE(ParseSettingsFile(bytes, saved));
  ASSERT_TRUE(ParseCells(g.Dump(), "\n", sim));
  ASSERT_EQ(saved.size(), 99u);
  ASSERT_EQ(sim.size(), saved.size()) << g.Dump();
  for (std::size_t i = 0; i < sim.size(); ++i) ASSERT_EQ(saved[i], sim[i]) << "line " << i + 1;
}

}  // namespace
}  // namespace tv::e2e
