// tarvelin.exe under Wine on a pseudo-terminal, read back through libvterm,
// against gwsim: the start-up screen cell for cell and colour for colour as
// the Linux build shows it, the connection with its status area and the
// gateway's lines driven, a form edit written through to the SIM, the whole
// book, and the settings files of SIM to file and File to SIM byte for byte
// the Linux build's. Run by scripts/test-windows.sh, which prepares the Wine
// prefix and gives the program through TV_WINE_TARVELIN (a script that checks
// the prefix's COM links and starts Wine) and the DTR/RTS record through
// TV_MODEM_LINES_LOG. Prints the figures of the emulated run.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "tests/e2e/gateway_session.h"

namespace tv::e2e {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Which build the next session runs: tarvelin.exe under Wine, or the Linux
// build for the reference.
void UseWindowsBuild(bool windows) {
  if (windows)
    setenv("TV_E2E_TARVELIN", Env("TV_WINE_TARVELIN").c_str(), 1);
  else
    unsetenv("TV_E2E_TARVELIN");
}

class WineE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("TV_WINE_TARVELIN").empty()) GTEST_SKIP() << "run by scripts/test-windows.sh";
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
  void TearDown() override { UseWindowsBuild(false); }
};

// Every cell's character and colours, and the cursor.
std::string Frame(const TerminalSession& t) {
  std::string frame = t.ScreenText();
  for (int row = 1; row <= 25; ++row)
    for (int col = 1; col <= 80; ++col)
      frame += Describe(t.CellFg(col, row)) + "/" + Describe(t.CellBg(col, row)) + " ";
  const auto [x, y] = t.CursorPos();
  return frame + "\ncursor " + std::to_string(x) + "," + std::to_string(y);
}

std::string StartupFrame(bool windows, double* ms = nullptr) {
  UseWindowsBuild(windows);
  const auto t0 = Clock::now();
  TerminalSession t(TarvelinBinary());
  const bool up = t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kExchangeWait);
  if (ms) *ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
  EXPECT_TRUE(up) << t.ScreenText();
  t.Drain();
  return Frame(t);
}

TEST_F(WineE2E, StartUpScreenAsOnLinuxInItsColours) {
  double ms = 0;
  const std::string windows = StartupFrame(true, &ms);
  const std::string linux = StartupFrame(false);
  EXPECT_EQ(windows, linux);
  // Blue desk, light-grey bar, the highlighted title in green.
  EXPECT_NE(windows.find(Utf8(u8"Файл   Програмирование   Команды   Справка")), std::string::npos);
  std::printf("figure: start-up to the first frame under Wine: %.0f ms\n", ms);
}

// The menu's exit ends the program normally; Ctrl+C, a key of the screen
// that asks only when a loaded file has unsaved edits, ends it normally too.
TEST_F(WineE2E, ExitAndCtrlCEndTheProgram) {
  for (const bool ctrlC : {false, true}) {
    SCOPED_TRACE(ctrlC ? "Ctrl+C" : "menu exit");
    UseWindowsBuild(true);
    TerminalSession t(TarvelinBinary());
    ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kExchangeWait)) << t.ScreenText();
    if (ctrlC)
      t.SendKeys("\x03");
    else
      ASSERT_TRUE(Choose(t, kFileMenu, 6, Utf8(u8"Выход")));
    const std::optional<int> status = t.WaitForExit(kScreenWait);
    ASSERT_TRUE(status.has_value()) << t.ScreenText();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  }
}

// The help item runs "hiew help.hlp" through the command interpreter and
// takes the screen back: here a hiew.bat in the working directory stands in
// for the viewer and leaves a note of its argument.
TEST_F(WineE2E, HelpItemRunsTheViewerThroughTheCommandInterpreter) {
  UseWindowsBuild(true);
  TerminalSession t(TarvelinBinary());
  WriteWhole(t.Directory() + "/hiew.bat", "@echo %1> shown.txt\r\n");
  ASSERT_TRUE(Choose(t, kHelpMenu, 1, Utf8(u8"Вызов справки")));
  const std::string note = t.Directory() + "/shown.txt";
  ASSERT_TRUE(t.WaitFor([&] { return fs::exists(note); }, kScreenWait));
  EXPECT_TRUE(t.WaitFor([&] { return ReadWhole(note).rfind("help.hlp", 0) == 0; }, kScreenWait))
      << ReadWhole(note);
  EXPECT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kHelpMenu; }, kScreenWait)) << t.ScreenText();
}

struct Outcome {
  std::string deviceRow;  // the dialog's row that says what COM1 opens
  std::string simToFile;  // the file SIM to file wrote
  std::string dumpAfterFileToSim;
  std::string bookRow;  // the whole-book view's first row
};

// One operator's session, the same keys for either build.
void Session(bool windows, Outcome& out) {
  UseWindowsBuild(windows);
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway());

  ASSERT_TRUE(OpenConnectionDialog(t));
  ASSERT_TRUE(t.WaitFor([&] { return t.ScreenText().find("COM1: ") != std::string::npos; }, kScreenWait));
  for (int row = 1; row <= 25; ++row)
    if (t.RowText(row).find("COM1: ") != std::string::npos) out.deviceRow = t.RowText(row);
  t.Press(Key::Enter);
  ASSERT_TRUE(FinishConnect(t));

  // Contact 1's number, written through to the SIM from the form.
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(ShowsField(t, 10, 4, "89161234501", 30));
  ASSERT_TRUE(EditField(
      t, 10, 4, 30,
      [&] {
        t.Press(Key::Right, 11);
        t.Type("99");
      },
      "8916123450199"));
  ASSERT_TRUE(g.WaitForDumpLine("01,\"8916123450199\",129,\"01\""));
  ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));

  // The whole book shows it.
  ASSERT_TRUE(Choose(t, kCommandsMenu, 3, Utf8(u8"Вся книжка")));
  ASSERT_TRUE(t.WaitFor([&] { return FieldShows(t, 12, 1, "8916123450199", 30); }, kScreenWait))
      << t.ScreenText();
  // The row once the view has covered it whole: the number shows before the
  // rest of the repaint has replaced the menu screen's status area.
  const std::string nameLabel = Utf8(u8"Имя 01");
  EXPECT_TRUE(t.WaitFor(
      [&] {
        const std::string row = t.RowText(1);
        return row.find(nameLabel) != std::string::npos && row.find("115200") == std::string::npos;
      },
      kScreenWait))
      << t.ScreenText();
  out.bookRow = t.RowText(1);
  ASSERT_TRUE(LeaveForm(t, kCommandsMenu));

  // SIM to a new file.
  ASSERT_TRUE(Choose(t, kFileMenu, 2, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
  ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(20, 23, 21) == Utf8(u8"Колличество файлов: 0"); }, kScreenWait))
      << t.ScreenText();
  t.Type("test");
  ASSERT_TRUE(t.WaitForTextAt(34, 4, "test", kScreenWait)) << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(Answer(t, Utf8(u8"Сохранить данные из SIM-Карты в файл? [Y/N]"), "y"));
  ASSERT_TRUE(Acknowledge(t, Utf8(u8"Данные сохранены. Для продолжения нажмите любую клавишу")));
  const std::string file = g.Dir() + "/test.set";
  out.simToFile = ReadWhole(file);

  // The file with contact 2's number changed goes back to the SIM.
  std::string edited = out.simToFile;
  const std::size_t at = edited.find("\"84957654321\"");
  ASSERT_NE(at, std::string::npos) << edited;
  edited.replace(at, 13, "\"84950000000\"");
  WriteWhole(file, edited);
  ASSERT_TRUE(Choose(t, kFileMenu, 3, Utf8(u8"Пересылка данных из файла в SIM-Карту")));
  ASSERT_TRUE(PickTheOnlyFile(t));
  ASSERT_TRUE(Answer(t, Utf8(u8"Загрузить данные из файла в SIM-Карту? [Y/N]"), "y"));
  ASSERT_TRUE(Acknowledge(t, Utf8(u8"Данные загружены.  Для продолжения нажмите любую клавишу")));
  ASSERT_TRUE(g.WaitForDumpLine("02,\"84950000000\",129,\"02\""));
  out.dumpAfterFileToSim = g.Dump();
}

TEST_F(WineE2E, ConnectEditBookAndFilesAsOnLinux) {
  Outcome windows, linux;
  const std::string lines = Env("TV_MODEM_LINES_LOG");
  if (!lines.empty()) fs::remove(lines);
  ASSERT_NO_FATAL_FAILURE(Session(true, windows));
  ASSERT_NO_FATAL_FAILURE(Session(false, linux));

  // The Win32 port names its device; the Linux one its link.
  EXPECT_NE(windows.deviceRow.find("COM1: \\\\.\\COM1 -> \\Device\\Serial0"), std::string::npos)
      << windows.deviceRow;
  // Gateway 1: DTR and RTS both set, through EscapeCommFunction.
  if (!lines.empty()) {
    const std::string record = ReadWhole(lines);
    EXPECT_NE(record.find("DTR=1 RTS=1"), std::string::npos) << record;
  }
  EXPECT_EQ(windows.bookRow, linux.bookRow);
  EXPECT_FALSE(windows.simToFile.empty());
  EXPECT_EQ(windows.simToFile, linux.simToFile);
  EXPECT_EQ(windows.dumpAfterFileToSim, linux.dumpAfterFileToSim);
}

// One scripted command of either build, run in dir (where gwsim's ./COM1
// is): its exit status, or -1 when it did not end by itself in time.
int RunScripted(bool windows, const std::string& dir, const std::string& args) {
  UseWindowsBuild(windows);
  SessionOptions o;
  o.withHelpFile = false;
  o.args = {"-c", "cd '" + dir + "' && exec '" + TarvelinBinary() + "' " + args};
  TerminalSession t("/bin/sh", o);
  const std::optional<int> status = t.WaitForExit(kExchangeWait);
  EXPECT_TRUE(status.has_value()) << args << "\n" << t.ScreenText();
  if (!status || !WIFEXITED(*status)) return -1;
  return WEXITSTATUS(*status);
}

// The scripted commands of tarvelin.exe: the backup is the Linux build's
// byte for byte, verify and restore give the same statuses, and a COM name
// with no device is a device error.
TEST_F(WineE2E, ScriptedCommandsAsOnLinux) {
  char pattern[] = "/tmp/tarvelin-wine-cli-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  {
    GatewayProcess gw(GwsimBinary(), {"--link", dir + "/COM1", "--echo", "--urc", "20"}, dir + "/COM1");
    ASSERT_TRUE(gw.Ready());
    EXPECT_EQ(RunScripted(true, dir, "backup COM1:2 win.set"), 0);
    EXPECT_EQ(RunScripted(false, dir, "backup COM1:2 linux.set"), 0);
    const std::string backup = ReadWhole(dir + "/win.set");
    EXPECT_FALSE(backup.empty());
    EXPECT_EQ(backup, ReadWhole(dir + "/linux.set"));
    EXPECT_EQ(RunScripted(true, dir, "verify COM1 linux.set"), 0);

    std::string edited = backup;
    const std::size_t at = edited.find("\"84957654321\"");
    ASSERT_NE(at, std::string::npos) << edited;
    edited.replace(at, 13, "\"84950000000\"");
    WriteWhole(dir + "/edited.set", edited);
    EXPECT_EQ(RunScripted(true, dir, "restore COM1:3 edited.set"), 0);
    EXPECT_EQ(RunScripted(true, dir, "verify COM1 linux.set"), 1);
    EXPECT_EQ(RunScripted(false, dir, "verify COM1 edited.set"), 0);
    EXPECT_EQ(RunScripted(true, dir, "backup COM2 none.set"), 3);
    EXPECT_FALSE(fs::exists(dir + "/none.set"));

    // Each gateway's commands went out while the lines selected it, and no
    // byte of them while they selected another: the record notes the levels
    // in force at every write to the port, so that a SetRts that drove DTR
    // (or the other way round) is seen even though opening and closing the
    // port pass through every combination.
    const std::string lines = Env("TV_MODEM_LINES_LOG");
    if (!lines.empty()) {
      const struct {
        const char* port;
        const char* levels;
      } gateways[] = {{"COM1:1", "DTR=1 RTS=1"},
                      {"COM1:2", "DTR=0 RTS=1"},
                      {"COM1:3", "DTR=1 RTS=0"},
                      {"COM1:4", "DTR=0 RTS=0"}};
      for (const auto& g : gateways) {
        SCOPED_TRACE(g.port);
        const std::size_t before = ReadWhole(lines).size();
        EXPECT_EQ(RunScripted(true, dir, std::string("backup ") + g.port + " gateway.set"), 0);
        const std::string record = ReadWhole(lines).substr(before);
        int writes = 0;
        for (std::size_t s = record.find("sent "); s != std::string::npos; s = record.find("sent ", s + 1)) {
          ++writes;
          EXPECT_EQ(record.substr(s + 5, record.find('\n', s) - s - 5), g.levels) << record;
        }
        EXPECT_GT(writes, 0) << record;
      }
    }
  }
  fs::remove_all(dir);
}

// The line settings, as the tty behind the COM name holds them.
std::optional<termios> LineSettings(const std::string& device) {
  const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  termios tio{};
  const bool ok = tcgetattr(fd, &tio) == 0;
  close(fd);
  if (!ok) return std::nullopt;
  return tio;
}

// Another program's settings of the port (9600 baud, two stop bits, RTS/CTS
// and XON/XOFF flow control: none of them the tool's) are there again once
// tarvelin.exe has closed it. Wine keeps a port's settings in the tty's
// termios, where they are set and read here; what a Windows port's settings
// cannot hold is left out: a pseudo-terminal keeps no parity and always 8
// bits, and Wine adds raw-mode flags of its own (CLOCAL, IGNBRK, NOFLSH) at
// every change of the settings.
TEST_F(WineE2E, ClosingThePortGivesBackTheSettingsFoundAtOpen) {
  char pattern[] = "/tmp/tarvelin-wine-tty-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern, device = dir + "/COM1";
  constexpr tcflag_t kHeldFlags = CSTOPB | CRTSCTS, kHeldInput = IXON | IXOFF;
  {
    GatewayProcess gw(GwsimBinary(), {"--link", device}, device);
    ASSERT_TRUE(gw.Ready());
    {
      const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      termios tio{};
      ASSERT_EQ(tcgetattr(fd, &tio), 0);
      tio.c_cflag |= kHeldFlags;
      tio.c_iflag |= kHeldInput;
      cfsetispeed(&tio, B9600);
      cfsetospeed(&tio, B9600);
      EXPECT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
      close(fd);
    }
    const std::optional<termios> found = LineSettings(device);
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(cfgetospeed(&*found), B9600);
    ASSERT_EQ(found->c_cflag & kHeldFlags, kHeldFlags);
    ASSERT_EQ(found->c_iflag & kHeldInput, kHeldInput);

    EXPECT_EQ(RunScripted(true, dir, "backup COM1 found.set"), 0);
    EXPECT_FALSE(ReadWhole(dir + "/found.set").empty());  // the port was used at the tool's own settings

    const std::optional<termios> after = LineSettings(device);
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(cfgetispeed(&*after), cfgetispeed(&*found));
    EXPECT_EQ(cfgetospeed(&*after), cfgetospeed(&*found));
    constexpr tcflag_t kFrame = CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS;
    EXPECT_EQ(after->c_cflag & kFrame, found->c_cflag & kFrame);
    EXPECT_EQ(after->c_iflag & (IXON | IXOFF | IXANY), found->c_iflag & (IXON | IXOFF | IXANY));
    for (const int c : {VSTART, VSTOP, VEOF})
      EXPECT_EQ(after->c_cc[c], found->c_cc[c]) << "control character " << c;
  }
  fs::remove_all(dir);
}

// The connection's reads against gwsim paced at 115200 baud: wall time from
// Enter to the closing message over the wire time of the bytes gwsim moved
// (its /proc/<pid>/io). A figure of the emulated run, not a goal.
TEST_F(WineE2E, ConnectAgainstAPacedLineFigure) {
  UseWindowsBuild(true);
  TerminalSession t(TarvelinBinary());
  GatewayProcess gw(GwsimBinary(), {"--link", t.Directory() + "/COM1", "--pace"}, t.Directory() + "/COM1");
  ASSERT_TRUE(gw.Ready());
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Drain();
  const long long io0 = IoBytes(gw.Pid());
  const auto t0 = Clock::now();
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitForTextAt(20, 14, Utf8(u8"Для продолжения нажмите любую клавишу."), kExchangeWait))
      << t.ScreenText();
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const long long bytes = IoBytes(gw.Pid()) - io0;
  const double wire = static_cast<double>(bytes) / 11520.0;
  std::printf("figure: connect under Wine, wall / wire time: %.3f (%.3f s / %.3f s, %lld bytes)\n",
              wall / wire, wall, wire, bytes);
  // The whole book went over the line: one range read of 99 entries (about
  // 2.7 kB with the probe).
  EXPECT_GT(bytes, 2500);
}

}  // namespace
}  // namespace tv::e2e
