// Faults of the line and of the gateway, end to end: the simulated gateway
// falls silent, answers ERROR or +CME ERROR, sends noise or overlong lines,
// or hangs up (its pseudo-terminal closes, as when a USB adapter is pulled),
// at each stage of a connection, of the transfers between SIM and file and
// of the network commands. Each fault must end with its message within its
// bound, the menu must come back and still answer, and a settings file on
// disk keeps its exact bytes unless the tool wrote it whole.
//
// The long network waits (forwarding, USSD) are given up in-process on a
// simulated clock (tests/forms); here only the faults that end quickly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

namespace fs = std::filesystem;

// Deadlines are generous: several builds share this machine's two cores.
// They bound the wait for a result; the measured times are printed.
constexpr Duration kScreenWait{10000};
constexpr Duration kGiveUpWait{30000};

const std::string kNoAnswer = Utf8(u8"Нет ответа от внешнего устройства.");
const std::string kNoPortChosen = Utf8(u8"Не выбран порт обмена");
const std::string kPortGone = Utf8(u8"COM-порта нет или он занят другим приложением");
const std::string kBadReply = Utf8(u8"Неверный ответ устройства");
const std::string kErrorHeading = Utf8(u8"Ошибка обмена по последовательному каналу !");
const std::string kConnected = Utf8(u8"Для продолжения нажмите любую клавишу.");
const std::string kPressI = Utf8(u8"Для начала инициализации нажмите I");

// Column of the items of each pull-down (menus 1..4).
constexpr int kItemColumn[5] = {0, 2, 9, 27, 37};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

void Report(const std::string& what, Clock::duration d) {
  std::printf("[ measured ] %-60s %6.2f s\n", what.c_str(), Seconds(d));
  std::fflush(stdout);
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Every entry of the working directory, hidden ones included.
std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}


// The faults count the gateway's commands (silent after N, hang up after
// N): the tool reads cell by cell and writes every line here, so that N
// names a cell. The range reads have their faults tested on their own.
SessionOptions CellByCell() {
  SessionOptions o;
  o.env = {{"TARVELIN_READ", "cells"}, {"TARVELIN_WRITE", "all"}};
  return o;
}

// The tool in a scratch directory and gwsim serving ./COM1 there.
struct Rig {
  TerminalSession t;
  std::unique_ptr<GatewayProcess> gateway;

  explicit Rig(std::vector<std::string> faults) : t(TarvelinBinary(), CellByCell()) {
    std::vector<std::string> args = {"--link", t.Directory() + "/COM1"};
    args.insert(args.end(), faults.begin(), faults.end());
    gateway = std::make_unique<GatewayProcess>(GwsimBinary(), args, t.Directory() + "/COM1", kScreenWait);
  }
  fs::path File(const std::string& name) const { return fs::path(t.Directory()) / name; }
};

// The main screen is up: the menu bar, the blue background, and the cursor
// on a highlighted pull-down item.
bool MenuShown(const TerminalSession& t) {
  const auto [col, row] = t.CursorPos();
  return t.TextAt(1, 1, 4) == Utf8(u8"Файл") && t.TextAt(26, 1, 7) == Utf8(u8"Команды") &&
         t.CellBg(80, 25) == Indexed(ansi::Blue) && row >= 3 && row <= 8 &&
         t.CellBg(col, row) == Indexed(ansi::Green);
}

void WaitForMenu(TerminalSession& t) {
  ASSERT_TRUE(t.WaitFor([&] { return MenuShown(t); }, kScreenWait)) << t.ScreenText();
  t.Drain(Duration{30});
}

// A key, then the screen it leads to.
void PressAndWait(TerminalSession& t, Key key, const std::function<bool()>& shown) {
  t.Press(key);
  ASSERT_TRUE(t.WaitFor(shown, kScreenWait)) << t.ScreenText();
}

// The row of the highlighted item when the cursor rests on it in column
// `col` (curses moves the cursor while it draws), else 0.
int HighlightedRow(const TerminalSession& t, int col) {
  const auto [c, row] = t.CursorPos();
  return c == col && row >= 3 && row <= 8 && t.CellBg(col, row) == Indexed(ansi::Green) &&
                 t.CellBg(col + 1, row) == Indexed(ansi::Green)
             ? row
             : 0;
}

// Opens menu `menu` (1..4) and chooses the item with this text, from any
// item of any menu.
void Choose(TerminalSession& t, int menu, const std::string& item) {
  WaitForMenu(t);
  // Esc leads back to the File menu, a second Esc to its last item (Exit),
  // Down from there to its first. Each Esc is let alone long enough that it
  // is not taken for the start of a key sequence.
  t.Press(Key::Esc);
  t.Drain(Duration{100});
  PressAndWait(t, Key::Esc, [&] { return HighlightedRow(t, kItemColumn[1]) == 8; });
  t.Drain(Duration{100});
  PressAndWait(t, Key::Down, [&] { return HighlightedRow(t, kItemColumn[1]) == 3; });
  for (int m = 2; m <= menu; ++m)
    PressAndWait(t, Key::Right, [&] { return HighlightedRow(t, kItemColumn[m]) != 0; });
  const int col = kItemColumn[menu];
  const std::string wanted = " " + item;
  for (int tries = 0; tries < 6; ++tries) {
    t.Drain(Duration{30});
    const int row = HighlightedRow(t, col);
    ASSERT_NE(row, 0) << t.ScreenText();
    if (t.TextAt(col, row, 40).rfind(wanted, 0) == 0) {
      t.Press(Key::Enter);
      return;
    }
    PressAndWait(t, Key::Down, [&] {
      const int now = HighlightedRow(t, col);
      return now != 0 && now != row && t.CellBg(col, row) != Indexed(ansi::Green);
    });
  }
  FAIL() << "no item \"" << item << "\" in menu " << menu << "\n" << t.ScreenText();
}

// The program still answers: the about box opens over the menu and closes.
void ExpectMenuStillWorks(TerminalSession& t) {
  SCOPED_TRACE("the menu afterwards");
  Choose(t, 4, Utf8(u8"О программе"));
  ASSERT_TRUE(t.WaitForTextAt(28, 11, "***** TARVELIN.EXE *****", kScreenWait)) << t.ScreenText();
  t.SendKeys("q");
  ASSERT_TRUE(t.WaitFor([&] { return t.RowText(11).find("TARVELIN") == std::string::npos && MenuShown(t); },
                        kScreenWait))
      << t.ScreenText();
  EXPECT_FALSE(t.Exited());
}

bool ShowsConnection(const TerminalSession& t) {
  return t.TextAt(59, 1, 5) == "COM1 " && t.TextAt(65, 1, 6) == "115200";
}

// The exchange error box with this message on its row 14.
bool ErrorBoxShows(const TerminalSession& t, const std::string& message) {
  return t.RowText(13).find(kErrorHeading) != std::string::npos &&
         t.RowText(14).find(message) != std::string::npos;
}

// Connects through the dialog; the time from Enter to the first of the
// closing message or an error box.
Clock::duration StartConnect(TerminalSession& t) {
  Choose(t, 1, Utf8(u8"Подключение к устройству"));
  EXPECT_TRUE(t.WaitForTextAt(20, 12, Utf8(u8"**** Установка связи с устройством ****"), kScreenWait))
      << t.ScreenText();
  t.Drain(Duration{30});
  const auto start = Clock::now();
  t.Press(Key::Enter);
  t.WaitFor(
      [&] {
        return t.RowText(14).find(kConnected) != std::string::npos || ErrorBoxShows(t, "") ||
               t.RowText(15).find(kPressI) != std::string::npos;
      },
      kGiveUpWait);
  return Clock::now() - start;
}

void ConnectOk(TerminalSession& t) {
  StartConnect(t);
  ASSERT_TRUE(t.WaitForTextAt(20, 14, kConnected, kScreenWait)) << t.ScreenText();
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor([&] { return MenuShown(t) && ShowsConnection(t); }, kScreenWait)) << t.ScreenText();
}

// Dismisses the error box and waits for the menu: no remains of the box,
// no connection in the status area.
void DismissErrorToMenu(TerminalSession& t) {
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor(
      [&] { return MenuShown(t) && t.ScreenText().find(kErrorHeading) == std::string::npos; }, kScreenWait))
      << t.ScreenText();
  EXPECT_EQ(t.TextAt(59, 1, 22), std::string(22, ' ')) << "the status area still shows a connection";
}

struct Fault {
  const char* name;
  std::vector<std::string> args;
  std::string message;  // on the error box's message row
};

TEST(FaultInjectionE2E, ConnectGivesUpWithItsMessage) {
  ASSERT_FALSE(GwsimBinary().empty());
  const std::vector<Fault> faults = {
      // The connect asks "AT" first, then cell 98, then cells 1 to 99.
      {"silent from the first command", {"--silent-after", "0"}, kNoAnswer},
      {"silent at cell 98", {"--silent-after", "1"}, kNoAnswer},
      {"silent after 50 commands (mid-book)", {"--silent-after", "50"}, kNoAnswer},
      {"silent at the last cell, 99", {"--silent-after", "100"}, kNoAnswer},
      {"line hangs up after 30 commands", {"--hang-up-after", "30"}, kNoAnswer},
      // A modem that answers, but not with the cell: said as such, with its answer.
      {"ERROR to every read", {"--error-to", "AT+CPBR"}, kBadReply},
      {"+CME ERROR to every read", {"--error-to", "AT+CPBR", "--cme-error"}, kBadReply},
      {"ERROR to every command, with noise", {"--error-to", "AT", "--garbage"}, kBadReply},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    ASSERT_FALSE(::testing::Test::HasFailure()) << "stopped at the first fault that failed";
    Rig rig(f.args);
    ASSERT_TRUE(rig.gateway->Ready());
    TerminalSession& t = rig.t;
    const auto took = StartConnect(t);
    ASSERT_TRUE(t.WaitFor([&] { return ErrorBoxShows(t, f.message); }, kScreenWait)) << t.ScreenText();
    Report(std::string("connect, ") + f.name, took);
    ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));
    if (f.args[0] == "--hang-up-after") {
      // The adapter is gone: connecting again cannot open the port.
      const auto again = StartConnect(t);
      ASSERT_TRUE(t.WaitFor([&] { return ErrorBoxShows(t, kPortGone); }, kScreenWait)) << t.ScreenText();
      Report(std::string("connect again, ") + f.name, again);
      ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));
    }
    ASSERT_NO_FATAL_FAILURE(ExpectMenuStillWorks(t));
  }
}

// A gateway that falls silent while the SIM is being initialised: the
// unanswered writes are passed over, the read that follows fails.
TEST(FaultInjectionE2E, SilenceDuringTheSimInitialisation) {
  ASSERT_FALSE(GwsimBinary().empty());
  // Cell 98 is read, 90 cells are written, then nothing is answered.
  Rig rig({"--blank", "--silent-after", "91"});
  TerminalSession& t = rig.t;
  StartConnect(t);
  ASSERT_TRUE(t.WaitForTextAt(22, 15, kPressI, kScreenWait)) << t.ScreenText();
  const auto start = Clock::now();
  t.SendKeys("I");
  ASSERT_TRUE(t.WaitFor([&] { return ErrorBoxShows(t, kNoAnswer); }, kGiveUpWait)) << t.ScreenText();
  Report("connect, blank SIM, silent after 90 of 99 initialisation writes", Clock::now() - start);
  ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));
  ASSERT_NO_FATAL_FAILURE(ExpectMenuStillWorks(t));
}

TEST(FaultInjectionE2E, ConnectSucceedsThroughNoiseAndOverlongLines) {
  ASSERT_FALSE(GwsimBinary().empty());
  const std::vector<Fault> faults = {
      {"a noise line before every reply", {"--garbage"}, ""},
      {"+CPBR lines padded past 200 bytes", {"--long-lines"}, ""},
      {"echo, noise and 5 ms latency", {"--echo", "--garbage", "--latency", "5"}, ""},
      {"writes refused, reads answered", {"--error-to", "AT+CPBW", "--cme-error"}, ""},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    ASSERT_FALSE(::testing::Test::HasFailure()) << "stopped at the first fault that failed";
    Rig rig(f.args);
    TerminalSession& t = rig.t;
    const auto took = StartConnect(t);
    ASSERT_TRUE(t.WaitForTextAt(20, 14, kConnected, kScreenWait)) << t.ScreenText();
    Report(std::string("connect, ") + f.name, took);
    t.SendKeys(" ");
    ASSERT_TRUE(t.WaitFor([&] { return MenuShown(t) && ShowsConnection(t); }, kScreenWait)) << t.ScreenText();
    // Nothing of the noise reached the screen.
    const std::string screen = t.ScreenText();
    EXPECT_EQ(screen.find("~#"), std::string::npos) << screen;
    EXPECT_EQ(screen.find(Utf8(u8"\uFFFD")), std::string::npos) << screen;
    ASSERT_NO_FATAL_FAILURE(ExpectMenuStillWorks(t));
  }
}

// SIM to file onto an existing file: a failure at any cell leaves the file
// with its exact bytes and no temporary file behind.
TEST(FaultInjectionE2E, SimToFileFailureKeepsTheOldFile) {
  ASSERT_FALSE(GwsimBinary().empty());
  // The connection costs 101 commands ("AT", cell 98, then cells 1 to 99).
  const std::vector<Fault> faults = {
      {"silent at cell 1", {"--silent-after", "101"}, kNoAnswer},
      {"silent at cell 50", {"--silent-after", "150"}, kNoAnswer},
      {"silent at cell 99", {"--silent-after", "199"}, kNoAnswer},
      {"line hangs up after cell 30", {"--hang-up-after", "131"}, kNoAnswer},
      {"line dead since the connection", {"--hang-up-after", "101"}, kNoAnswer},
  };
  // Not a file the tool would write: any change to it shows.
  std::string old = SignedSettingsFile("12345");
  old[40] = '\x01';
  old += std::string(100, '\xAA');
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    ASSERT_FALSE(::testing::Test::HasFailure()) << "stopped at the first fault that failed";
    Rig rig(f.args);
    TerminalSession& t = rig.t;
    WriteBytes(rig.File("old.set"), old);
    const std::set<std::string> before = Entries(t.Directory());
    ASSERT_NO_FATAL_FAILURE(ConnectOk(t));

    ASSERT_NO_FATAL_FAILURE(Choose(t, 1, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
    ASSERT_TRUE(t.WaitForText("old.set", kScreenWait)) << t.ScreenText();
    t.Drain(Duration{30});
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitForTextAt(20, 4, Utf8(u8"Заменить файл данными из SIM-Карты? [Y/N]"), kScreenWait))
        << t.ScreenText();
    const auto start = Clock::now();
    t.SendKeys("y");
    ASSERT_TRUE(t.WaitFor([&] { return ErrorBoxShows(t, f.message); }, kGiveUpWait)) << t.ScreenText();
    Report(std::string("SIM to file, ") + f.name, Clock::now() - start);
    ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));

    EXPECT_EQ(ReadBytes(rig.File("old.set")), old) << "the old file changed";
    EXPECT_EQ(Entries(t.Directory()), before) << "a file was left behind";
    // Without the connection the transfer is refused at once.
    ASSERT_NO_FATAL_FAILURE(Choose(t, 1, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
    ASSERT_TRUE(t.WaitFor([&] { return ErrorBoxShows(t, kNoPortChosen); }, kScreenWait)) << t.ScreenText();
    ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));
    ASSERT_NO_FATAL_FAILURE(ExpectMenuStillWorks(t));
  }
}

// The terminal closes (SIGHUP) while SIM to file reads the cells: the
// program ends, the old file keeps its bytes and no temporary file is left.
TEST(FaultInjectionE2E, SimToFileEndedBySighupLeavesNothingBehind) {
  ASSERT_FALSE(GwsimBinary().empty());
  Rig rig({"--latency", "30"});  // about 3 s for the 99 cells
  TerminalSession& t = rig.t;
  const std::string old = SignedSettingsFile("12345");
  WriteBytes(rig.File("old.set"), old);
  const std::set<std::string> before = Entries(t.Directory());
  ASSERT_NO_FATAL_FAILURE(ConnectOk(t));
  ASSERT_NO_FATAL_FAILURE(Choose(t, 1, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
  ASSERT_TRUE(t.WaitForText("old.set", kScreenWait)) << t.ScreenText();
  t.Drain(Duration{30});
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitForTextAt(20, 4, Utf8(u8"Заменить файл данными из SIM-Карты? [Y/N]"), kScreenWait))
      << t.ScreenText();
  t.SendKeys("y");
  ASSERT_TRUE(t.WaitForTextAt(20, 4, Utf8(u8"Выполнено:"), kScreenWait)) << t.ScreenText();
  kill(t.Pid(), SIGHUP);
  const auto status = t.WaitForExit(kScreenWait);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFSIGNALED(*status));
  EXPECT_EQ(ReadBytes(rig.File("old.set")), old);
  EXPECT_EQ(Entries(t.Directory()), before);
}

// Noise and overlong reply lines: the file is written, its lines hold the
// device's reply lines whole, no noise.
TEST(FaultInjectionE2E, SimToFileThroughNoiseWritesCleanLines) {
  ASSERT_FALSE(GwsimBinary().empty());
  const std::vector<Fault> faults = {
      {"noise before every reply", {"--garbage"}, ""},
      {"overlong +CPBR lines", {"--long-lines"}, ""},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    ASSERT_FALSE(::testing::Test::HasFailure()) << "stopped at the first fault that failed";
    Rig rig(f.args);
    TerminalSession& t = rig.t;
    ASSERT_NO_FATAL_FAILURE(ConnectOk(t));
    ASSERT_NO_FATAL_FAILURE(Choose(t, 1, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
    ASSERT_TRUE(t.WaitForText(Utf8(u8"Колличество файлов: 0"), kScreenWait)) << t.ScreenText();
    t.Type("noisy");
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitForTextAt(20, 4, Utf8(u8"Сохранить данные из SIM-Карты в файл? [Y/N]"), kScreenWait));
    const auto start = Clock::now();
    t.SendKeys("y");
    ASSERT_TRUE(t.WaitForText(Utf8(u8"Данные сохранены."), kGiveUpWait)) << t.ScreenText();
    Report(std::string("SIM to file, ") + f.name, Clock::now() - start);
    t.SendKeys(" ");
    ASSERT_NO_FATAL_FAILURE(WaitForMenu(t));

    const std::string file = ReadBytes(rig.File("noisy.set"));
    ASSERT_EQ(file.size() % 256, 0u);
    const std::string text = file.substr(0, file.find('\0'));
    EXPECT_EQ(text.find('\xFF'), std::string::npos);
    EXPECT_EQ(text.find('\x1B'), std::string::npos);
    std::vector<std::string> lines;
    for (std::size_t p = 0; p < text.size();) {
      const std::size_t end = text.find("\r\n", p);
      ASSERT_NE(end, std::string::npos) << "a line without CR LF";
      lines.push_back(text.substr(p, end - p));
      p = end + 2;
    }
    ASSERT_EQ(lines.size(), 99u);
    for (int i = 1; i <= 99; ++i) {
      const std::string& line = lines[static_cast<std::size_t>(i - 1)];
      SCOPED_TRACE(line);
      EXPECT_EQ(line.rfind(" " + std::to_string(i) + ",\"", 0), 0u);
      // The whole reply line: an extra field of 200 bytes included.
      if (f.args[0] == "--long-lines") {
        EXPECT_EQ(line.substr(line.size() - 203), ",\"" + std::string(200, 'P') + "\"");
      } else {
        EXPECT_LE(line.size(), 93u);
      }
      const std::string name = std::string(i < 10 ? "0" : "") + std::to_string(i);
      if (i != 98) {
        EXPECT_NE(line.find(",\"" + name + "\""), std::string::npos);
      }
    }
    EXPECT_EQ(Entries(t.Directory()), (std::set<std::string>{"COM1", "help.txt", "noisy.set"}));
    ASSERT_NO_FATAL_FAILURE(ExpectMenuStillWorks(t));
  }
}

// File to SIM: silence or a hang-up while the lines are written or read back
// ends with ExchangeError 1 and drops the connection; the file stays as it was.
TEST(FaultInjectionE2E, FileToSimFailureDropsTheConnection) {
  ASSERT_FALSE(GwsimBinary().empty());
  // 101 commands connect, 99 write the file, 99 read it back.
  const std::vector<Fault> faults = {
      {"silent for the last 10 writes", {"--silent-after", "190"}, kNoAnswer},
      {"read-back silent at cell 50", {"--silent-after", "249"}, kNoAnswer},
      {"line hangs up after 30 writes", {"--hang-up-after", "131"}, kNoAnswer},
  };
  const std::string source = SignedSettingsFile("777");
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    ASSERT_FALSE(::testing::Test::HasFailure()) << "stopped at the first fault that failed";
    Rig rig(f.args);
    TerminalSession& t = rig.t;
    WriteBytes(rig.File("new.set"), source);
    ASSERT_NO_FATAL_FAILURE(ConnectOk(t));
    ASSERT_NO_FATAL_FAILURE(Choose(t, 1, Utf8(u8"Пересылка данных из файла в SIM-Карту")));
    ASSERT_TRUE(t.WaitForText("new.set", kScreenWait)) << t.ScreenText();
    t.Drain(Duration{30});
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitForTextAt(20, 4, Utf8(u8"Загрузить данные из файла в SIM-Карту? [Y/N]"), kScreenWait));
    const auto start = Clock::now();
    t.SendKeys("y");
    ASSERT_TRUE(t.WaitFor([&] { return ErrorBoxShows(t, f.message); }, kGiveUpWait)) << t.ScreenText();
    Report(std::string("file to SIM, ") + f.name, Clock::now() - start);
    ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));
    EXPECT_EQ(ReadBytes(rig.File("new.set")), source);
    // The journal of the unfinished write stays for the next connection,
    // named after the line ./COM1 leads to.
    std::set<std::string> entries = Entries(t.Directory());
    std::size_t journals = 0;
    for (auto e = entries.begin(); e != entries.end();) {
      const bool journal = e->rfind("tarvelin-", 0) == 0 && e->size() > 8 && e->substr(e->size() - 8) == ".journal";
      journals += journal ? 1 : 0;
      e = journal ? entries.erase(e) : std::next(e);
    }
    EXPECT_EQ(journals, 1u);
    EXPECT_EQ(entries, (std::set<std::string>{"COM1", "help.txt", "new.set"}));
    ASSERT_NO_FATAL_FAILURE(ExpectMenuStillWorks(t));
  }
}

// Refused writes do not stop the transfer; the read-back fills the image with
// what the SIM holds, and the end says how many lines the SIM refused instead
// of reporting success.
TEST(FaultInjectionE2E, FileToSimWithRefusedWritesEndsAndReadsTheSimBack) {
  ASSERT_FALSE(GwsimBinary().empty());
  for (const Fault& f : {Fault{"ERROR to every write", {"--error-to", "AT+CPBW"}, ""},
                         Fault{"+CME ERROR to every write", {"--error-to", "AT+CPBW", "--cme-error"}, ""}}) {
    SCOPED_TRACE(f.name);
    ASSERT_FALSE(::testing::Test::HasFailure()) << "stopped at the first fault that failed";
    Rig rig(f.args);
    TerminalSession& t = rig.t;
    WriteBytes(rig.File("new.set"), SignedSettingsFile("777"));
    ASSERT_NO_FATAL_FAILURE(ConnectOk(t));
    ASSERT_NO_FATAL_FAILURE(Choose(t, 1, Utf8(u8"Пересылка данных из файла в SIM-Карту")));
    ASSERT_TRUE(t.WaitForText("new.set", kScreenWait)) << t.ScreenText();
    t.Drain(Duration{30});
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitForTextAt(20, 4, Utf8(u8"Загрузить данные из файла в SIM-Карту? [Y/N]"), kScreenWait));
    const auto start = Clock::now();
    t.SendKeys("y");
    ASSERT_TRUE(t.WaitForText(Utf8(u8"SIM-Карта не приняла строк: 99 из 99."), kGiveUpWait))
        << t.ScreenText();
    Report(std::string("file to SIM, ") + f.name, Clock::now() - start);
    t.SendKeys(" ");
    ASSERT_TRUE(t.WaitFor([&] { return MenuShown(t) && ShowsConnection(t); }, kScreenWait)) << t.ScreenText();
    ASSERT_NO_FATAL_FAILURE(ExpectMenuStillWorks(t));
  }
}

// The forwarding screen against a network that refuses every forwarding
// command: the state is shown as unknown (not on, not off), at once, for the
// queries and after a switch.
TEST(FaultInjectionE2E, ForwardingRefusedShowsTheStateAsUnknown) {
  ASSERT_FALSE(GwsimBinary().empty());
  const std::string refused = Utf8(u8"Состояние неизвестно (отказ сети)");
  for (const Fault& f : {Fault{"ERROR to AT+CCFC", {"--forwarding-error"}, ""},
                         Fault{"+CME ERROR to AT+CCFC", {"--forwarding-error", "--cme-error"}, ""},
                         Fault{"ERROR, with noise before it", {"--error-to", "AT+CCFC", "--garbage"}, ""}}) {
    SCOPED_TRACE(f.name);
    ASSERT_FALSE(::testing::Test::HasFailure()) << "stopped at the first fault that failed";
    Rig rig(f.args);
    TerminalSession& t = rig.t;
    ASSERT_NO_FATAL_FAILURE(ConnectOk(t));
    const auto start = Clock::now();
    ASSERT_NO_FATAL_FAILURE(Choose(t, 3, Utf8(u8"Переадресация")));
    ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(40, 8, 33) == refused && t.TextAt(40, 10, 33) == refused; },
                          kGiveUpWait))
        << t.ScreenText();
    Report(std::string("forwarding queries, ") + f.name, Clock::now() - start);
    EXPECT_EQ(t.ScreenText().find(Utf8(u8"Включена")), std::string::npos);
    EXPECT_EQ(t.ScreenText().find(Utf8(u8"Выключена")), std::string::npos);
    // The form rests on the unconditional row (Up stays there); switch on.
    t.Drain(Duration{50});
    t.Press(Key::Up, 3);
    t.Drain(Duration{50});
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitForTextAt(40, 8, Utf8(u8"Включить переадресацию? [Y/N]"), kScreenWait))
        << t.ScreenText();
    const auto switchStart = Clock::now();
    t.SendKeys("y");
    // The switch is refused, both services are asked again and refused again.
    ASSERT_TRUE(t.WaitFor(
        [&] {
          return t.TextAt(40, 8, 33) == refused && t.TextAt(40, 10, 33) == refused &&
                 t.CursorPos().second == 8;  // the form stays on the operator's row
        },
        kGiveUpWait))
        << t.ScreenText();
    Report(std::string("forwarding switch on, ") + f.name, Clock::now() - switchStart);
    t.Press(Key::Esc);
    ASSERT_NO_FATAL_FAILURE(WaitForMenu(t));
    EXPECT_TRUE(ShowsConnection(t));
    ASSERT_NO_FATAL_FAILURE(ExpectMenuStillWorks(t));
  }
}

// The balance query against a modem that refuses the USSD command: the
// refusal ends the wait at once with the modem's line.
TEST(FaultInjectionE2E, BalanceRefusedEndsWithTheModemsLine) {
  ASSERT_FALSE(GwsimBinary().empty());
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"ERROR", {"--error-to", "AT+CUSD"}, Utf8(u8"Запрос отклонен: ERROR")},
      {"+CME ERROR", {"--error-to", "AT+CUSD", "--cme-error"}, Utf8(u8"Запрос отклонен: +CME ERROR: 100")},
      {"ERROR after noise", {"--error-to", "AT+CUSD", "--garbage"}, Utf8(u8"Запрос отклонен: ERROR")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(::testing::Test::HasFailure()) << "stopped at the first fault that failed";
    Rig rig(c.args);
    TerminalSession& t = rig.t;
    ASSERT_NO_FATAL_FAILURE(ConnectOk(t));
    const auto start = Clock::now();
    ASSERT_NO_FATAL_FAILURE(Choose(t, 3, Utf8(u8"Баланс")));
    ASSERT_TRUE(t.WaitForTextAt(40, 8, c.shown, kGiveUpWait)) << t.ScreenText();
    Report(std::string("balance, ") + c.name, Clock::now() - start);
    ASSERT_TRUE(t.WaitForTextAt(40, 10, Utf8(u8"Для продолжения нажмите любую клавишу"), kScreenWait));
    t.SendKeys(" ");
    ASSERT_NO_FATAL_FAILURE(WaitForMenu(t));
    EXPECT_TRUE(ShowsConnection(t));
    ASSERT_NO_FATAL_FAILURE(ExpectMenuStillWorks(t));
  }
}

}  // namespace
}  // namespace tv::e2e
