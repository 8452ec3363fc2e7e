// bench_session: the real tarvelin binary on an emulated xterm-256color
// 80x25, driven by keys as an operator would, against gwsim on a
// pseudo-terminal linked as ./COM1 in the session's scratch directory.
// Measures the transfers against the wire time of a 115200-baud line (the
// bytes gwsim read and wrote, from its /proc/<pid>/io), the tool's CPU time
// (/proc/<pid>/schedstat, nanoseconds; /proc/<pid>/stat ticks as fallback),
// the bytes written to the terminal per key, the start-up time and the peak
// memory. Prints one "name|value|goal|verdict" line per figure for
// scripts/bench.sh.
//
//   bench_session [runs] [startup-runs] [idle-seconds]     (default 5 20 10)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"

using namespace tv::e2e;

namespace {

constexpr Duration kLong{30000};  // a paced transfer takes about a second
constexpr Duration kQuiet{100};   // no more output for this long: the frame is complete
constexpr double kLineBytesPerSecond = 11520.0;

// A step that did not happen: the screen goes to stderr, and the exception
// unwinds to main so that the sessions stop their processes.
[[noreturn]] void Fail(const std::string& what, const TerminalSession& t) {
  std::fprintf(stderr, "bench_session: %s\n%s", what.c_str(), t.ScreenText().c_str());
  throw std::runtime_error(what);
}

// Interrupted (Ctrl-C, SIGTERM): the processes of the current session are
// stopped by their PIDs and its scratch directory removed before leaving
// (only async-signal-safe calls here).
volatile pid_t gToolPid = -1, gGatewayPid = -1;
char gDirectory[256] = {};

void OnSignal(int) {
  if (gToolPid > 0) kill(gToolPid, SIGKILL);
  if (gGatewayPid > 0) kill(gGatewayPid, SIGTERM);
  if (gGatewayPid > 0) waitpid(gGatewayPid, nullptr, 0);  // gwsim removes its link first
  if (gDirectory[0] != '\0') {
    const pid_t rm = fork();
    if (rm == 0) {
      execl("/bin/rm", "rm", "-rf", gDirectory, static_cast<char*>(nullptr));
      _exit(127);
    }
    if (rm > 0) waitpid(rm, nullptr, 0);
  }
  _exit(130);
}

void Track(const TerminalSession& t) {
  gToolPid = t.Pid();
  const std::string& dir = t.Directory();
  if (dir.size() < sizeof gDirectory) std::memcpy(gDirectory, dir.c_str(), dir.size() + 1);
}
void Track(const GatewayProcess& gw) { gGatewayPid = gw.Pid(); }

void Require(bool ok, const std::string& what, const TerminalSession& t) {
  if (!ok) Fail(what, t);
}

// CPU time of a process in seconds: run time from schedstat (exact), else
// utime + stime from stat (clock ticks).
double CpuSeconds(pid_t pid) {
  std::ifstream sched("/proc/" + std::to_string(pid) + "/schedstat");
  unsigned long long ns = 0;
  if (sched >> ns) return static_cast<double>(ns) / 1e9;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // Fields after the command's closing parenthesis; utime and stime are 14 and 15.
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Peak resident set size in kB (the high-water mark the kernel keeps).
long PeakRssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

template <typename T>
T Median(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The start-up screen: the File pull-down open, the frame complete.
bool MenuUp(TerminalSession& t) {
  return t.WaitFor([&] {
    return t.TextAt(2, 8, 6) == Utf8(u8" Выход") && t.CellBg(80, 25) == Indexed(ansi::Blue) &&
           t.CursorPos() == std::make_pair(2, 3);
  });
}

// One key and the bytes the program writes for it, counted once the
// condition holds and the output has gone quiet.
uint64_t KeyBytes(TerminalSession& t, Key key, const std::function<bool()>& done, const char* what) {
  t.Drain(kQuiet);
  const uint64_t before = t.BytesReceived();
  t.Press(key);
  Require(t.WaitFor(done), what, t);
  t.Drain(kQuiet);
  return t.BytesReceived() - before;
}

uint64_t TypedBytes(TerminalSession& t, const std::string& text, const std::function<bool()>& done,
                    const char* what) {
  t.Drain(kQuiet);
  const uint64_t before = t.BytesReceived();
  t.Type(text);
  Require(t.WaitFor(done), what, t);
  t.Drain(kQuiet);
  return t.BytesReceived() - before;
}

// One timed transfer: wall time from the key that starts it to its closing
// message, the wire time of the bytes gwsim moved meanwhile, and the tool's
// CPU time.
struct Transfer {
  double wall = 0, wire = 0, cpu = 0;
  long long bytes = 0;
};

// The closing message is looked for in its own row only: the check runs
// after every chunk of output, and the harness shares the two cores with the
// tool and gwsim.
Transfer Timed(TerminalSession& t, const GatewayProcess& gw, const std::function<void()>& start, int row,
               const std::string& closing, const char* what) {
  t.Drain(Duration{50});
  const long long io0 = IoBytes(gw.Pid());
  const double cpu0 = CpuSeconds(t.Pid());
  const auto t0 = Clock::now();
  start();
  Require(t.WaitFor([&] { return t.RowText(row).find(closing) != std::string::npos; }, kLong), what, t);
  const auto t1 = Clock::now();
  Transfer r;
  r.cpu = CpuSeconds(t.Pid()) - cpu0;
  r.bytes = IoBytes(gw.Pid()) - io0;
  r.wall = Seconds(t1 - t0);
  r.wire = static_cast<double>(r.bytes) / kLineBytesPerSecond;
  return r;
}

// Connect from the start-up menu: the dialog, Enter, the closing message.
Transfer Connect(TerminalSession& t, const GatewayProcess& gw) {
  Require(MenuUp(t), "no start-up menu", t);
  t.Press(Key::Enter);
  Require(t.WaitForText(Utf8(u8"Установка связи с устройством")), "no connection dialog", t);
  return Timed(
      t, gw, [&] { t.Press(Key::Enter); }, 14, Utf8(u8"Для продолжения нажмите любую клавишу."),
      "connect did not end");
}

void BackToMenu(TerminalSession& t, int col, int row) {
  t.Press(Key::Enter);
  Require(t.WaitFor([&] {
    return t.CursorPos() == std::make_pair(col, row) && t.CellBg(col, row) == Indexed(ansi::Green);
  }),
          "not back in the menu", t);
}

struct Row {
  std::string name, value, goal, verdict;
};
std::vector<Row> rows;

void Add(const std::string& name, const std::string& value, const std::string& goal = "",
         const std::string& verdict = "") {
  rows.push_back({name, value, goal, verdict});
}

std::string Fmt(const char* f, double a, double b = 0, double c = 0) {
  char buf[160];
  std::snprintf(buf, sizeof buf, f, a, b, c);
  return buf;
}

void AddTransfer(const std::string& name, const std::vector<Transfer>& runs) {
  // A transfer that moved nothing on the line (SIM to file right after the
  // connection, which read the book already) has no wire time to hold it to.
  if (runs[0].bytes == 0) {
    std::vector<double> wall;
    for (const Transfer& r : runs) wall.push_back(r.wall);
    Add(name + ": wall", Fmt("%.3f s, nothing on the line (the connection's read)", Median(wall)));
    return;
  }
  std::vector<double> ratio, share, wall;
  for (const Transfer& r : runs) {
    ratio.push_back(r.wall / r.wire);
    share.push_back(100.0 * r.cpu / r.wall);
    wall.push_back(r.wall);
  }
  const double mr = Median(ratio), ms = Median(share);
  const auto [rmin, rmax] = std::minmax_element(ratio.begin(), ratio.end());
  const auto [smin, smax] = std::minmax_element(share.begin(), share.end());
  Add(name + ": wall / wire time",
      Fmt("%.3f (%.3f..%.3f)", mr, *rmin, *rmax) +
          Fmt("; %.3f s, %.0f bytes", Median(wall), static_cast<double>(runs[0].bytes)),
      "<= 1.10", mr <= 1.10 ? "ok" : "MISSED");
  Add(name + ": tool CPU / wall", Fmt("%.2f %% (%.2f..%.2f)", ms, *smin, *smax), "< 2 %",
      ms < 2.0 ? "ok" : "MISSED");
}

}  // namespace

int Run(int argc, char** argv);

int main(int argc, char** argv) {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  try {
    return Run(argc, argv);
  } catch (const std::exception&) {
    return 1;
  }
}

int Run(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const int startupRuns = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  const int idleSeconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
  if (GwsimBinary().empty()) {
    std::fprintf(stderr, "bench_session: built without gwsim\n");
    return 1;
  }

  // --- start-up and the menu keys ---------------------------------------------
  std::vector<double> startMs;
  std::vector<uint64_t> downBytes, rightBytes, frameBytes;
  for (int i = 0; i < startupRuns; ++i) {
    const auto t0 = Clock::now();
    TerminalSession t(TarvelinBinary());
    Track(t);
    Require(MenuUp(t), "no start-up frame", t);
    startMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    t.Drain(kQuiet);
    frameBytes.push_back(t.BytesReceived());
    downBytes.push_back(KeyBytes(
        t, Key::Down, [&] { return t.CursorPos() == std::make_pair(2, 4); }, "Down in the pull-down"));
    rightBytes.push_back(KeyBytes(
        t, Key::Right, [&] { return t.CursorPos() == std::make_pair(9, 3); }, "Right to the next menu"));
  }

  // --- the paced session: connect, SIM to file, file to SIM, a form, exit -----
  // By range reads and writes of the differing lines, then the same session
  // cell by cell with every line written (TARVELIN_READ=cells,
  // TARVELIN_WRITE=all), the path a modem without the range form takes.
  std::vector<Transfer> connects, toFile, toSim, cellConnects, cellToFile, cellToSim;
  std::vector<uint64_t> bookArrow, digit;
  long toolPeak = 0, gwPeak = 0;
  for (int i = 0; i < 2 * runs; ++i) {
    const bool byCell = i >= runs;
    SessionOptions options;
    if (byCell) options.env = {{"TARVELIN_READ", "cells"}, {"TARVELIN_WRITE", "all"}};
    TerminalSession t(TarvelinBinary(), options);
    Track(t);
    const std::string link = t.Directory() + "/COM1";
    GatewayProcess gw(GwsimBinary(), {"--link", link, "--pace"}, link);
    Require(gw.Ready(), "gwsim did not start", t);
    Track(gw);

    (byCell ? cellConnects : connects).push_back(Connect(t, gw));
    BackToMenu(t, 2, 3);

    // SIM to file: the second File item, a new name, Y.
    t.Press(Key::Down);
    t.Press(Key::Enter);
    Require(t.WaitForText(Utf8(u8"Колличество файлов: 0")), "no file chooser", t);
    t.Type("bench");
    t.Press(Key::Enter);
    Require(t.WaitForText(Utf8(u8"в файл? [Y/N]")), "no question", t);
    (byCell ? cellToFile : toFile)
        .push_back(Timed(
            t, gw, [&] { t.Type("y"); }, 4, Utf8(u8"Данные сохранены."), "SIM to file did not end"));
    BackToMenu(t, 2, 4);

    // File to SIM: the third item, the file just written, Y.
    t.Press(Key::Down);
    t.Press(Key::Enter);
    Require(t.WaitForText(Utf8(u8"Колличество файлов: 1")), "no file chooser with the saved file", t);
    t.Press(Key::Enter);
    Require(t.WaitForText(Utf8(u8"в SIM-Карту? [Y/N]")), "no question", t);
    (byCell ? cellToSim : toSim)
        .push_back(Timed(
            t, gw, [&] { t.Type("y"); }, 4, Utf8(u8"Данные загружены.  Для"), "file to SIM did not end"));
    BackToMenu(t, 2, 5);

    // The whole-book view: Commands, its third item.
    t.Press(Key::Right, 2);
    Require(t.WaitFor([&] { return t.CursorPos() == std::make_pair(27, 3); }), "no Commands menu", t);
    t.Press(Key::Up);
    Require(t.WaitFor([&] { return t.CursorPos() == std::make_pair(27, 5); }), "no whole-book item", t);
    t.Press(Key::Enter);
    Require(t.WaitFor([&] {
      return t.TextAt(1, 25, 10) == Utf8(u8"Контакт 25") && t.CursorPos() == std::make_pair(12, 1);
    }),
            "no whole-book view", t);
    bookArrow.push_back(KeyBytes(
        t, Key::Down, [&] { return t.CursorPos() == std::make_pair(12, 2); }, "Down in the whole book"));
    t.Press(Key::Enter);
    Require(t.WaitFor([&] { return t.CellBg(12, 2) == Indexed(ansi::LightGrey); }), "no field editor", t);
    digit.push_back(TypedBytes(
        t, "5", [&] { return t.CursorPos() == std::make_pair(13, 2) && t.TextAt(12, 2, 1) == "5"; },
        "digit not shown"));
    t.Press(Key::Esc);  // the edit is dropped, nothing is written
    Require(t.WaitFor([&] { return t.CellBg(12, 2) == Indexed(ansi::Blue); }), "editor did not close", t);
    t.Press(Key::Esc);
    Require(t.WaitFor([&] { return t.CursorPos() == std::make_pair(27, 5); }), "not back in Commands", t);

    // Exit: File (Right twice wraps round), Esc highlights Exit, Enter.
    t.Press(Key::Right, 2);
    Require(t.WaitFor([&] { return t.CursorPos() == std::make_pair(2, 5); }), "no File menu", t);
    t.Press(Key::Esc);
    Require(t.WaitFor([&] { return t.CursorPos() == std::make_pair(2, 8); }), "Exit not highlighted", t);
    t.Drain(kQuiet);
    toolPeak = std::max(toolPeak, PeakRssKb(t.Pid()));
    gwPeak = std::max(gwPeak, PeakRssKb(gw.Pid()));
    t.Press(Key::Enter);
    Require(t.WaitForExit().has_value(), "did not exit", t);
  }

  // --- idle in the menu ---------------------------------------------------------
  double idleShare = 0;
  uint64_t idleBytes = 0;
  {
    TerminalSession t(TarvelinBinary());
    Track(t);
    Require(MenuUp(t), "no start-up frame", t);
    t.Drain(Duration{500});
    const uint64_t b0 = t.BytesReceived();
    const double cpu0 = CpuSeconds(t.Pid());
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    idleShare = 100.0 * (CpuSeconds(t.Pid()) - cpu0) / Seconds(Clock::now() - t0);
    t.Drain(Duration{50});
    idleBytes = t.BytesReceived() - b0;
  }

  // --- waiting for a network that never answers the balance request ------------
  double ussdShare = 0;
  {
    TerminalSession t(TarvelinBinary());
    Track(t);
    const std::string link = t.Directory() + "/COM1";
    GatewayProcess gw(GwsimBinary(), {"--link", link, "--ussd-silent"}, link);
    Require(gw.Ready(), "gwsim did not start", t);
    Track(gw);
    Connect(t, gw);
    BackToMenu(t, 2, 3);
    t.Press(Key::Right, 2);
    Require(t.WaitFor([&] { return t.CursorPos() == std::make_pair(27, 3); }), "no Commands menu", t);
    t.Press(Key::Down);
    Require(t.WaitFor([&] { return t.CursorPos() == std::make_pair(27, 4); }), "no balance item", t);
    t.Press(Key::Enter);
    Require(t.WaitForText(Utf8(u8"Выполняется запрос баланса")), "no balance screen", t);
    t.Drain(Duration{200});
    const double cpu0 = CpuSeconds(t.Pid());
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    ussdShare = 100.0 * (CpuSeconds(t.Pid()) - cpu0) / Seconds(Clock::now() - t0);
    Require(!t.Exited() && t.ScreenText().find(Utf8(u8"Нет ответа от сети")) == std::string::npos,
            "the wait ended early", t);
  }  // the session is killed by its PID; the 60 s bound is not waited for

  const double ms = Median(startMs);
  AddTransfer("connect (\"AT\" + one range read), gwsim --pace", connects);
  AddTransfer("SIM to file after the connect, gwsim --pace", toFile);
  AddTransfer(
      "file to SIM of the file just saved (range read, nothing differs, range read back), gwsim --pace",
      toSim);
  AddTransfer("cell by cell: connect (cell 98 + cells 1..99), gwsim --pace", cellConnects);
  AddTransfer("cell by cell: SIM to file (cells 1..99), gwsim --pace", cellToFile);
  AddTransfer("cell by cell: file to SIM (99 writes + 99 reads), gwsim --pace", cellToSim);
  Add("CPU idle in the menu, " + std::to_string(idleSeconds) + " s",
      Fmt("%.3f %% (%.0f bytes to the terminal)", idleShare, static_cast<double>(idleBytes)), "~0",
      idleShare < 0.1 ? "ok" : "MISSED");
  Add("CPU waiting for a silent USSD answer, " + std::to_string(idleSeconds) + " s",
      Fmt("%.3f %%", ussdShare), "~0", ussdShare < 0.5 ? "ok" : "MISSED");
  Add("terminal bytes: Down within a pull-down", std::to_string(Median(downBytes)));
  Add("terminal bytes: Right to the next pull-down", std::to_string(Median(rightBytes)));
  Add("terminal bytes: Down in the whole-book view", std::to_string(Median(bookArrow)));
  Add("terminal bytes: a digit typed in a number field", std::to_string(Median(digit)));
  Add("terminal bytes: first frame", std::to_string(Median(frameBytes)));
  Add("start to first complete frame (median of " + std::to_string(startupRuns) + ")",
      Fmt("%.1f ms (min %.1f, max %.1f)", ms, *std::min_element(startMs.begin(), startMs.end()),
          *std::max_element(startMs.begin(), startMs.end())));
  Add("peak RSS of tarvelin (start, connect, transfers, a form)",
      Fmt("%.0f kB", static_cast<double>(toolPeak)));
  Add("peak RSS of gwsim (same session)", Fmt("%.0f kB", static_cast<double>(gwPeak)));
  for (const Row& r : rows)
    std::printf("%s|%s|%s|%s\n", r.name.c_str(), r.value.c_str(), r.goal.c_str(), r.verdict.c_str());
  return 0;
}
