// The tool on a network serial port, end to end: a real ser2net on loopback
// (started by the test with a configuration of its own, on a free port,
// stopped by its PID) serves gwsim's pseudo-terminal over RFC 2217, and
// ./COM1 is an address file. Between the tool and ser2net stands the tests'
// relay, which sees every request and the data of both directions pass; it
// answers the DTR/RTS requests itself (ser2net on a pseudo-terminal never
// does) and plays the network's faults: a dropped connection and 150 ms of
// added delay each way. Refused and silent servers need no ser2net.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/gateway_session.h"
#include "tests/e2e/ser2net_process.h"
#include "tests/net/telnet_relay.h"
#include "tests/support/trace_reader.h"

namespace tv::e2e {
namespace {

namespace fs = std::filesystem;
using test::TelnetRelay;

const std::string kConnected = Utf8(u8"Для продолжения нажмите любую клавишу.");
const std::string kErrorHeading = Utf8(u8"Ошибка обмена по последовательному каналу !");
const std::string kPortGone = Utf8(u8"COM-порта нет или он занят другим приложением");
const std::string kNoAnswer = Utf8(u8"Нет ответа от внешнего устройства.");
constexpr Duration kTransferWait{60000};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteWhole(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The tool's directory with ./COM1 an address file for the relay, gwsim on
// ./gw there, ser2net serving ./gw, the relay in front of ser2net; the
// exchange traced to ./trace.txt.
struct NetworkRig {
  GatewaySession g;
  std::unique_ptr<Ser2net> ser2net;
  std::unique_ptr<TelnetRelay> relay;

  NetworkRig() : g(TracedSession()) {}
  static SessionOptions TracedSession() {
    SessionOptions options;
    options.env = {{"TARVELIN_TRACE", "trace.txt"}};
    return options;
  }

  ::testing::AssertionResult Start(TelnetRelay::Options options = {}, std::vector<std::string> gatewayArgs = {}) {
    if (auto r = g.StartGateway(std::move(gatewayArgs), "gw"); !r) return r;
    ser2net = std::make_unique<Ser2net>(g.Dir(), g.Dir() + "/gw");
    if (!ser2net->Ready()) return ::testing::AssertionFailure() << "ser2net did not start";
    options.upstreamPort = ser2net->Port();
    relay = std::make_unique<TelnetRelay>(options);
    WriteWhole(g.Dir() + "/COM1", "# the simulated gateway behind ser2net\nrfc2217://127.0.0.1:" +
                                      std::to_string(relay->Port()) + "\n");
    return ::testing::AssertionSuccess();
  }
  test::TraceContents Trace() const { return test::ReadTrace(ReadWhole(g.Dir() + "/trace.txt")); }
};

class NetworkPortE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

// Gateways 1 to 4 as the lines address them: DTR and RTS set or cleared.
struct Levels {
  bool dtr, rts;
};
constexpr Levels kGatewayLevels[4] = {{true, true}, {false, true}, {true, false}, {false, false}};

// The commands of a connection: the probe, then the whole book in one range
// read (ser2net passes the reply on as the modem sends it).
std::string ConnectCommands() { return "AT\rAT+CPBR=1,99\r"; }

// The dialog (which keeps the last gateway chosen) with the next gateway,
// of this index (1..3), chosen; Enter, and the book read.
::testing::AssertionResult ConnectNextGateway(TerminalSession& t, int gateway) {
  if (auto r = OpenConnectionDialog(t); !r) return r;
  t.Press(Key::Right);
  t.Press(Key::Up);
  const std::string name = Utf8(u8"ШЛЮЗ ") + std::to_string(gateway + 1);
  if (!t.WaitForTextAt(53, 14, name, kScreenWait)) return Failure(t, "gateway not chosen: " + name);
  t.Press(Key::Enter);
  if (!t.WaitForTextAt(20, 14, kConnected, kExchangeWait)) return Failure(t, "the book was not read");
  t.SendKeys(" ");
  if (!t.WaitFor([&] { return OpenMenu(t) == kFileMenu && t.TextAt(73, 1, 6) == name; }, kScreenWait))
    return Failure(t, "no connection to " + name + " in the status area");
  return ::testing::AssertionSuccess();
}

// Contact 1's number lengthened by two digits in the book form: the SIM
// holds it at once; back in the menu.
::testing::AssertionResult EditContactOne(GatewaySession& g, const std::string& digits) {
  TerminalSession& t = g.Term();
  if (auto r = Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")); !r) return r;
  if (auto r = ShowsField(t, 10, 4, "89161234501", 30); !r) return r;
  const auto keys = [&] {
    t.Press(Key::Right, 11);
    t.Type(digits);
  };
  if (auto r = EditField(t, 10, 4, 30, keys, "89161234501" + digits); !r) return r;
  if (auto r = g.WaitForDumpLine("01,\"89161234501" + digits + "\",129,\"01\""); !r) return r;
  return LeaveForm(t, kProgrammingMenu);
}

// SIM to file ("net.set"; contact 1 as the SIM holds it), then the file,
// with contact 1 changed in it, back to the SIM: the SIM holds that change
// and nothing else.
void SimToFileAndBack(GatewaySession& g, const std::string& contactOne) {
  TerminalSession& t = g.Term();
  ASSERT_TRUE(Choose(t, kFileMenu, 2, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
  ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(20, 23, 21) == Utf8(u8"Колличество файлов: 0"); }, kScreenWait))
      << t.ScreenText();
  t.Type("net");
  ASSERT_TRUE(t.WaitForTextAt(34, 4, "net", kScreenWait)) << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Сохранить данные из SIM-Карты в файл? [Y/N]")));
  t.SendKeys("y");
  ASSERT_TRUE(
      Shows(t, 20, 4, Utf8(u8"Данные сохранены. Для продолжения нажмите любую клавишу"), kExchangeWait));
  t.SendKeys(" ");
  const std::string file = g.Dir() + "/net.set";
  std::string saved = ReadWhole(file);
  ASSERT_EQ(saved.rfind(" 1,\"" + contactOne + "\",129,\"01\"\r\n", 0), 0u) << saved;
  EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 99);
  saved.replace(0, saved.find('\r'), " 1,\"84951112233\",129,\"01\"");
  WriteWhole(file, saved);
  const std::string before = g.Dump();

  ASSERT_TRUE(Choose(t, kFileMenu, 3, Utf8(u8"Пересылка данных из файла в SIM-Карту")));
  ASSERT_TRUE(
      t.WaitFor([&] { return t.TextAt(20, 6, 7) == "net.set" && t.CellBg(20, 6) == Indexed(ansi::Green); },
                kScreenWait))
      << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Загрузить данные из файла в SIM-Карту? [Y/N]")));
  t.SendKeys("y");
  ASSERT_TRUE(
      Shows(t, 20, 4, Utf8(u8"Данные загружены.  Для продолжения нажмите любую клавишу"), kTransferWait));
  t.SendKeys(" ");
  ASSERT_TRUE(g.WaitForDumpLine("01,\"84951112233\",129,\"01\""));
  std::string expected = before;
  expected.replace(0, expected.find('\n'), "01,\"84951112233\",129,\"01\"");
  EXPECT_EQ(g.Dump(), expected);
}

TEST_F(NetworkPortE2E, ASessionThroughSer2net) {
  NetworkRig rig;
  TerminalSession& t = rig.g.Term();
  ASSERT_TRUE(rig.Start());
  TelnetRelay& relay = *rig.relay;

  // The dialog's device row names the address.
  ASSERT_TRUE(OpenConnectionDialog(t));
  ASSERT_TRUE(Shows(t, 12, 15, "COM1: rfc2217://127.0.0.1:" + std::to_string(relay.Port())));
  t.Press(Key::Esc);

  // Connect: 115200 8N1 asked for, gateway 1's levels, and the trace holds
  // exactly the bytes that went over the connection, both ways.
  const auto start = Clock::now();
  ASSERT_TRUE(Connect(t));
  std::printf("[ measured ] connect over ser2net %.3f s\n",
              std::chrono::duration<double>(Clock::now() - start).count());
  const std::vector<std::string> settings = {"baud 115200", "datasize 8", "parity 1", "stopsize 1"};
  const std::vector<std::string> requests = relay.Requests();
  ASSERT_GE(requests.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(requests.begin(), requests.begin() + 4), settings);
  EXPECT_EQ(relay.LineRequests(), (std::vector<std::string>{"DTR on", "RTS on"}));
  const test::TraceContents trace = rig.Trace();
  EXPECT_TRUE(trace.errors.empty());
  EXPECT_EQ(trace.sent, ConnectCommands());
  EXPECT_EQ(trace.sent, relay.FromClient());
  EXPECT_EQ(trace.received, relay.ToClient());
  EXPECT_NE(trace.received.find("+CPBR: 98,\"1100200\",129,\"98.GSM.TRV\"\r\n"), std::string::npos);
  ASSERT_GE(trace.events.size(), 4u);
  EXPECT_EQ(trace.events[1], "open COM1: rfc2217://127.0.0.1:" + std::to_string(relay.Port()) + ": 0");
  EXPECT_EQ(trace.events[2], "DTR on");
  EXPECT_EQ(trace.events[3], "RTS on");

  // A form edit goes through to the SIM.
  ASSERT_TRUE(EditContactOne(rig.g, "77"));

  // SIM to file, then the file (one cell changed in it) to the SIM.
  ASSERT_NO_FATAL_FAILURE(SimToFileAndBack(rig.g, "8916123450177"));

  // Gateways 2 to 4 on the same connection: each connect drives its levels.
  for (int gateway = 1; gateway < 4; ++gateway) {
    SCOPED_TRACE(gateway + 1);
    ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait)) << t.ScreenText();
    ASSERT_TRUE(ConnectNextGateway(t, gateway));
    const std::vector<std::string> lines = relay.LineRequests();
    ASSERT_GE(lines.size(), 2u);
    const Levels want = kGatewayLevels[gateway];
    EXPECT_EQ(lines[lines.size() - 2], want.dtr ? "DTR on" : "DTR off");
    EXPECT_EQ(lines[lines.size() - 1], want.rts ? "RTS on" : "RTS off");
  }
  EXPECT_EQ(relay.Connections(), 1);
}

// The exchange error box with this message on its row 14.
bool ErrorBoxShows(const TerminalSession& t, const std::string& message) {
  return t.RowText(13).find(kErrorHeading) != std::string::npos &&
         t.RowText(14).find(message) != std::string::npos;
}

// Enter in the connection dialog; the time until the closing message or an
// error box.
Clock::duration TimedConnect(TerminalSession& t) {
  EXPECT_TRUE(OpenConnectionDialog(t));
  const auto start = Clock::now();
  t.Press(Key::Enter);
  t.WaitFor([&] { return t.RowText(14).find(kConnected) != std::string::npos || ErrorBoxShows(t, ""); },
            kTransferWait);
  return Clock::now() - start;
}

void DismissErrorToMenu(TerminalSession& t) {
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor(
      [&] { return OpenMenu(t) == kFileMenu && t.ScreenText().find(kErrorHeading) == std::string::npos; },
      kScreenWait))
      << t.ScreenText();
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The command line of the real binary in dir: its status and standard error.
struct CliOutcome {
  int status = -1;
  std::string err;
};
CliOutcome RunCli(const std::string& dir, const std::vector<std::string>& args) {
  const std::string errPath = dir + "/.cli-stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int null = open("/dev/null", O_RDWR);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (null < 0 || err < 0) _exit(126);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    setenv("LANG", "C.UTF-8", 1);
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    unsetenv("TARVELIN_TRACE");
    const std::string binary = TarvelinBinary();
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  CliOutcome o;
  int status = 0;
  const auto deadline = Clock::now() + kTransferWait;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return o;
    }
    std::this_thread::sleep_for(Duration(10));
  }
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  o.err = ReadWhole(errPath);
  return o;
}

// A server that refuses the connection, or accepts it and says nothing: the
// connect ends with ExchangeError 6 within its bound (about 4 s for the
// silent one, where the library gives up the telnet negotiation), and the
// dialog's device row says why.
TEST_F(NetworkPortE2E, ServerRefusesOrStaysSilent) {
  TelnetRelay silent({.silent = true});
  struct Case {
    const char* name;
    int port;
    std::string why;
  };
  const int closed = test::UnusedLoopbackPort();
  const Case cases[] = {
      {"refused", closed, Utf8(u8"(отказ в соединении)")},
      {"silent server", silent.Port(), Utf8(u8"(нет ответа по RFC 2217)")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GatewaySession g;
    TerminalSession& t = g.Term();
    const std::string address = "rfc2217://127.0.0.1:" + std::to_string(c.port);
    WriteWhole(g.Dir() + "/COM1", address + "\n");
    const auto took = TimedConnect(t);
    ASSERT_TRUE(t.WaitFor([&] { return ErrorBoxShows(t, kPortGone); }, kScreenWait)) << t.ScreenText();
    // The reason at once, on the box's detail row.
    const std::string words = c.why.substr(1, c.why.size() - 2);
    EXPECT_TRUE(t.WaitFor([&] { return t.RowText(15).find(words) != std::string::npos; }, kScreenWait))
        << t.ScreenText();
    std::printf("[ measured ] connect, %-40s %6.2f s\n", c.name, Seconds(took));
    EXPECT_LT(took, Duration(8000));
    ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));
    ASSERT_TRUE(OpenConnectionDialog(t));
    EXPECT_TRUE(Shows(t, 12, 15, "COM1: " + address + " " + c.why));
    t.Press(Key::Esc);
    // The command line says the same words.
    const CliOutcome cli = RunCli(g.Dir(), {"backup", "COM1", "x.set"});
    EXPECT_EQ(cli.status, 3) << cli.err;
    EXPECT_NE(cli.err.find(kPortGone + " " + c.why), std::string::npos) << cli.err;
  }
}

// The connection drops while SIM to file reads the cells: ExchangeError 1 as
// for a hang-up, the old file keeps its bytes and nothing is left beside
// it; the next connect opens a new connection and reads the whole book.
TEST_F(NetworkPortE2E, ConnectionDroppedDuringSimToFile) {
  NetworkRig rig;
  TerminalSession& t = rig.g.Term();
  // At line speed the book's one range reply takes a third of a second, so
  // the connection drops in the middle of it.
  ASSERT_TRUE(rig.Start({}, {"--pace"}));
  const std::string old = "not a file the tool would write\r\n" + std::string(300, '\xAA');
  WriteWhole(rig.g.Dir() + "/old.set", old);
  ASSERT_TRUE(Connect(t));
  std::set<std::string> before;
  for (const auto& e : fs::directory_iterator(rig.g.Dir())) before.insert(e.path().filename().string());

  ASSERT_TRUE(Choose(t, kFileMenu, 2, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
  ASSERT_TRUE(
      t.WaitFor([&] { return t.TextAt(20, 6, 7) == "old.set" && t.CellBg(20, 6) == Indexed(ansi::Green); },
                kScreenWait))
      << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Заменить файл данными из SIM-Карты? [Y/N]")));
  rig.relay->DropAfter(1500);  // about a third of the book
  const auto start = Clock::now();
  t.SendKeys("y");
  ASSERT_TRUE(t.WaitFor([&] { return ErrorBoxShows(t, kNoAnswer); }, kTransferWait)) << t.ScreenText();
  EXPECT_TRUE(t.WaitFor(
      [&] { return t.RowText(15).find(Utf8(u8"линия связи потеряна")) != std::string::npos; }, kScreenWait))
      << t.ScreenText();
  std::printf("[ measured ] SIM to file, connection dropped %6.2f s\n", Seconds(Clock::now() - start));
  ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));
  EXPECT_TRUE(t.WaitFor([&] { return !ShowsConnection(t); }, kScreenWait)) << t.ScreenText();
  EXPECT_EQ(ReadWhole(rig.g.Dir() + "/old.set"), old);
  std::set<std::string> after;
  for (const auto& e : fs::directory_iterator(rig.g.Dir())) after.insert(e.path().filename().string());
  EXPECT_EQ(after, before);
  const std::vector<std::string> events = rig.Trace().events;
  EXPECT_NE(std::find(events.begin(), events.end(), "read failed: the line hung up"), events.end());

  ASSERT_TRUE(Connect(t));
  EXPECT_EQ(rig.relay->Connections(), 2);
}

// 150 ms added each way (a 300 ms round trip): the connect and a form edit
// go through; the connect takes about its 101 round trips.
TEST_F(NetworkPortE2E, AWanRoundTripOf300Ms) {
  NetworkRig rig;
  TerminalSession& t = rig.g.Term();
  ASSERT_TRUE(rig.Start({.delay = Duration(150)}));
  const auto took = TimedConnect(t);
  ASSERT_TRUE(t.WaitForTextAt(20, 14, kConnected, kScreenWait)) << t.ScreenText();
  std::printf("[ measured ] connect, 150 ms each way %6.2f s\n", Seconds(took));
  EXPECT_LT(took, kTransferWait);
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu && ShowsConnection(t); }, kScreenWait))
      << t.ScreenText();
  EXPECT_EQ(rig.relay->LineRequests(), (std::vector<std::string>{"DTR on", "RTS on"}));
  EXPECT_EQ(rig.Trace().sent, ConnectCommands());

  ASSERT_TRUE(EditContactOne(rig.g, "55"));
}

// A trace file that cannot be opened: one line on the error output before
// the screen starts, and the tool works without the trace.
TEST_F(NetworkPortE2E, ATraceFileThatCannotBeOpened) {
  SessionOptions options;
  options.env = {{"TARVELIN_TRACE", "no-such-dir/trace.txt"}};
  GatewaySession g(options);
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait)) << t.ScreenText();
  const std::string& raw = t.RawOutput();
  const std::size_t end = raw.find('\n');
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(raw.rfind("tarvelin: TARVELIN_TRACE: cannot open no-such-dir/trace.txt: ", 0), 0u)
      << raw.substr(0, end);
  EXPECT_EQ(raw.substr(0, end).find('\x1b'), std::string::npos) << "not before the screen";
  ASSERT_TRUE(Connect(t));
  EXPECT_FALSE(fs::exists(g.Dir() + "/no-such-dir"));
}

// --- the line held by one client, lines nobody confirmed, restarts while idle --

const std::string kLineBusy = Utf8(u8"линия занята другим клиентом");
const std::string kLinesUnconfirmed = Utf8(u8"линии DTR/RTS не подтверждены");

// The tool's directory with ./COM1 an address file for ser2net itself (no
// relay: nobody answers the line requests, as ser2net on a device without
// modem lines), gwsim on ./gw. Either can be restarted; ser2net keeps its
// port.
struct DirectRig {
  GatewaySession g{NetworkRig::TracedSession()};
  std::vector<std::string> gwsimArgs;
  std::unique_ptr<GatewayProcess> gwsim;  // declared after g: stopped before the directory goes
  std::unique_ptr<Ser2net> ser2net;

  ::testing::AssertionResult StartGwsim() {
    gwsim.reset();  // its link goes with it
    std::vector<std::string> args = {"--link", g.Dir() + "/gw", "--dump", g.DumpPath()};
    args.insert(args.end(), gwsimArgs.begin(), gwsimArgs.end());
    gwsim = std::make_unique<GatewayProcess>(GwsimBinary(), args, g.Dir() + "/gw", kScreenWait);
    if (!gwsim->Ready()) return ::testing::AssertionFailure() << "gwsim did not start";
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult StartSer2net() {
    const int port = ser2net ? ser2net->Port() : 0;
    ser2net.reset();
    ser2net = std::make_unique<Ser2net>(g.Dir(), g.Dir() + "/gw", port);
    if (!ser2net->Ready()) return ::testing::AssertionFailure() << "ser2net did not start";
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult Start() {
    if (auto r = StartGwsim(); !r) return r;
    if (auto r = StartSer2net(); !r) return r;
    WriteWhole(g.Dir() + "/COM1", "rfc2217://127.0.0.1:" + std::to_string(ser2net->Port()) + "\n");
    return ::testing::AssertionSuccess();
  }
};

// A settings file whose cell N holds 7495000NN (cell 98: the gateway's
// modes and signature), as restore takes one.
std::string NumberedSettings() {
  std::string text;
  char line[64];
  for (int cell = 1; cell <= 99; ++cell) {
    if (cell == 98)
      std::snprintf(line, sizeof line, " 98,\"1100200\",129,\"98.GSM.TRV\"\r\n");
    else
      std::snprintf(line, sizeof line, " %02d,\"7495000%02d\",129,\"%02d\"\r\n", cell, cell, cell);
    text += line;
  }
  text.resize((text.size() / 256 + 1) * 256, '\0');
  return text;
}

// The documented ser2net configuration: while the screen writes a file to
// the SIM, `tarvelin backup` of the same gateway is turned away with the
// reason and status 3; the screen's write goes on undisturbed to its end.
TEST_F(NetworkPortE2E, ASecondClientIsRefusedWhileTheFirstWrites) {
  DirectRig rig;
  rig.gwsimArgs = {"--write-delay", "150"};  // leaves the second client time under a loaded machine
  TerminalSession& t = rig.g.Term();
  ASSERT_TRUE(rig.Start());
  WriteWhole(rig.g.Dir() + "/numbered.set", NumberedSettings());
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Enter);
  // Gateway 1 goes on over lines nobody confirmed, and the device row says so.
  ASSERT_TRUE(t.WaitForTextAt(20, 14, kConnected, kExchangeWait)) << t.ScreenText();
  EXPECT_TRUE(
      t.WaitFor([&] { return t.RowText(15).find(kLinesUnconfirmed) != std::string::npos; }, kScreenWait))
      << t.ScreenText();
  ASSERT_TRUE(FinishConnect(t));

  ASSERT_TRUE(Choose(t, kFileMenu, 3, Utf8(u8"Пересылка данных из файла в SIM-Карту")));
  ASSERT_TRUE(t.WaitFor(
      [&] { return t.TextAt(20, 6, 12) == "numbered.set" && t.CellBg(20, 6) == Indexed(ansi::Green); },
      kScreenWait))
      << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitFor([&] { return t.RowText(4).find("[Y/N]") != std::string::npos; }, kScreenWait))
      << t.ScreenText();
  t.SendKeys("y");
  ASSERT_TRUE(rig.g.WaitForDumpLine("05,\"749500005\",129,\"05\""));  // the write is under way

  const CliOutcome second = RunCli(rig.g.Dir(), {"backup", "COM1", "second.set"});
  EXPECT_EQ(second.status, 3) << second.err;
  EXPECT_NE(second.err.find(kLineBusy), std::string::npos) << second.err;
  EXPECT_FALSE(fs::exists(rig.g.Dir() + "/second.set"));
  EXPECT_EQ(rig.g.Dump().find("749500099"), std::string::npos) << "the second client came too late to test";

  ASSERT_TRUE(
      Shows(t, 20, 4, Utf8(u8"Данные загружены.  Для продолжения нажмите любую клавишу"), kTransferWait));
  const std::string dump = rig.g.Dump();
  char line[64];
  for (int cell = 1; cell <= 99; ++cell) {
    if (cell == 98) continue;
    std::snprintf(line, sizeof line, "%02d,\"7495000%02d\",129,\"%02d\"\n", cell, cell, cell);
    EXPECT_NE(("\n" + dump).find(std::string("\n") + line), std::string::npos) << line;
  }
}

// Lines nobody confirmed: gateways 2 to 4 are refused (the dialog's error
// box and the command line say why), gateway 1 goes on with the warning.
TEST_F(NetworkPortE2E, LinesNobodyConfirmed) {
  DirectRig rig;
  TerminalSession& t = rig.g.Term();
  ASSERT_TRUE(rig.Start());

  const CliOutcome third = RunCli(rig.g.Dir(), {"backup", "COM1:3", "third.set"});
  EXPECT_EQ(third.status, 3) << third.err;
  EXPECT_NE(third.err.find(kLinesUnconfirmed), std::string::npos) << third.err;
  EXPECT_FALSE(fs::exists(rig.g.Dir() + "/third.set"));
  const CliOutcome first = RunCli(rig.g.Dir(), {"backup", "COM1", "first.set"});
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.err.find(kLinesUnconfirmed), std::string::npos) << first.err;

  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Right);
  t.Press(Key::Up);
  ASSERT_TRUE(t.WaitForTextAt(53, 14, Utf8(u8"ШЛЮЗ 2"), kScreenWait)) << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitFor(
      [&] {
        return ErrorBoxShows(t, Utf8(u8"Ошибка системы")) &&
               t.RowText(15).find(kLinesUnconfirmed) != std::string::npos;
      },
      kExchangeWait))
      << t.ScreenText();
  ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));
  EXPECT_TRUE(t.WaitFor([&] { return !ShowsConnection(t); }, kScreenWait)) << t.ScreenText();
  // The trace does not show the levels as set.
  const std::string trace = ReadWhole(rig.g.Dir() + "/trace.txt");
  EXPECT_NE(trace.find(" DTR off not confirmed\n"), std::string::npos) << trace;
}

// The far end restarts while the tool is idle: the first connect after it
// works (the hung-up line is opened anew before the connect, not after a
// connect failed on it).
TEST_F(NetworkPortE2E, TheFirstConnectAfterARestartWhileIdle) {
  struct Case {
    const char* name;
    bool network;
    bool restartSer2net;
  };
  const Case cases[] = {
      {"gwsim on the local pseudo-terminal", false, false},
      {"gwsim behind ser2net", true, false},
      {"ser2net", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DirectRig rig;
    TerminalSession& t = rig.g.Term();
    if (c.network) {
      ASSERT_TRUE(rig.Start());
    } else {
      ASSERT_TRUE(rig.StartGwsim());
      ASSERT_EQ(symlink("gw", (rig.g.Dir() + "/COM1").c_str()), 0);
    }
    ASSERT_TRUE(Connect(t));
    ASSERT_TRUE(c.restartSer2net ? rig.StartSer2net() : rig.StartGwsim());
    ASSERT_TRUE(OpenConnectionDialog(t));
    t.Press(Key::Enter);
    ASSERT_TRUE(FinishConnect(t));
  }
}

// --- TLS ------------------------------------------------------------------

// Keys and certificates made for the test by openssl, none kept: a site CA
// and another one; the server's certificate for 127.0.0.1 and localhost
// (and 0.0.0.0), one for another name, one that has expired, all on the
// server's one key; the operator's self-signed certificate, which ser2net
// takes from its allowed_certs directory, and one that ser2net does not
// know; the operator's key as others and as its group could read it.
::testing::AssertionResult MakeTestPki(const std::string& dir) {
  WriteWhole(dir + "/make-pki.sh", R"(set -e
cd "$1"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out "$1"; chmod 600 "$1"; }
key ca.key
openssl req -x509 -key ca.key -out ca.pem -days 30 -subj "/CN=Site CA"
key other-ca.key
openssl req -x509 -key other-ca.key -out other-ca.pem -days 30 -subj "/CN=Another CA"
key server.key
openssl req -new -key server.key -out server.csr -subj "/CN=gw-site7"
mkdir db
: > db/index.txt
echo 01 > db/serial
printf '[ca]\ndefault_ca=d\n[d]\ndatabase=db/index.txt\nnew_certs_dir=db\nserial=db/serial\ndefault_md=sha256\npolicy=p\nunique_subject=no\n[p]\ncommonName=supplied\n' > db/ca.cnf
sign() {
  out=$1; san=$2; shift 2
  printf 'subjectAltName=%s\n' "$san" > db/ext
  openssl ca -batch -notext -config db/ca.cnf -cert ca.pem -keyfile ca.key -in server.csr -out "$out" -extfile db/ext "$@"
}
sign server.pem "DNS:localhost,IP:127.0.0.1,IP:0.0.0.0" -days 30
sign wrong-name.pem "DNS:gw-site7.example" -days 30
sign expired.pem "DNS:localhost,IP:127.0.0.1" -startdate 20200101000000Z -enddate 20200201000000Z
key op.key
openssl req -x509 -key op.key -out op.crt -days 30 -subj "/CN=operator"
key stranger.key
openssl req -x509 -key stranger.key -out stranger.crt -days 30 -subj "/CN=operator"
cp op.key open.key
chmod 644 open.key
cp op.key group.key
chmod 640 group.key
cat op.crt op.key > op-both.pem
chmod 600 op-both.pem
mkdir -p auth/operator/allowed_certs
cp op.crt auth/operator/allowed_certs/
openssl rehash auth/operator/allowed_certs
)");
  const std::string command = "bash " + dir + "/make-pki.sh " + dir + " >" + dir + "/make-pki.log 2>&1";
  if (std::system(command.c_str()) != 0)
    return ::testing::AssertionFailure() << "openssl could not make the keys: " << ReadWhole(dir + "/make-pki.log");
  return ::testing::AssertionSuccess();
}

// ser2net's accepters on gwsim's line, a port each: TLS asking for the
// client's certificate, the certificate login over TLS (certauth), TLS
// without either, TLS with a certificate for another
// name, TLS with an expired one, and plain. The tool's ./COM1 links to
// site7/address, an address file whose TLS files lie beside it.
struct TlsRig {
  enum Server { kClientAuth, kCertLogin, kServerOnly, kWrongName, kExpired, kPlain, kServers };
  GatewaySession g{NetworkRig::TracedSession()};
  std::vector<int> ports;
  std::unique_ptr<Ser2net> ser2net;

  std::string Site() const { return g.Dir() + "/site7"; }
  std::string Port(Server s) const { return std::to_string(ports[s]); }
  void Address(const std::string& text) const { WriteWhole(Site() + "/address", text); }

  ::testing::AssertionResult Start() {
    if (auto r = g.StartGateway({}, "gw"); !r) return r;
    fs::create_directory(Site());
    if (auto r = MakeTestPki(Site()); !r) return r;
    for (int i = 0; i < kServers; ++i) ports.push_back(test::UnusedLoopbackPort());
    const std::string site = Site(), device = g.Dir() + "/gw";
    ser2net = std::make_unique<Ser2net>(g.Dir(), ports, [&](int port) {
      const auto server = static_cast<Server>(std::find(ports.begin(), ports.end(), port) - ports.begin());
      const std::string tcp = "tcp(nodelay),127.0.0.1," + std::to_string(port);
      const std::string name = "s" + std::to_string(server);
      const auto tls = [&](const std::string& cert, const std::string& more) {
        return "telnet(rfc2217),ssl(key=" + site + "/server.key,cert=" + site + "/" + cert + more + ")," + tcp;
      };
      switch (server) {
        case kClientAuth:
          return Ser2net::Connection(name, tls("server.pem", ",clientauth"), device,
                                     "    authdir: " + site + "/auth\n");
        case kCertLogin:
          return Ser2net::Connection(name,
                                     "telnet(rfc2217),certauth,ssl(key=" + site + "/server.key,cert=" + site +
                                         "/server.pem)," + tcp,
                                     device, "    authdir: " + site + "/auth\n");
        case kServerOnly: return Ser2net::Connection(name, tls("server.pem", ""), device);
        case kWrongName: return Ser2net::Connection(name, tls("wrong-name.pem", ""), device);
        case kExpired: return Ser2net::Connection(name, tls("expired.pem", ""), device);
        default: return Ser2net::Connection(name, "telnet(rfc2217)," + tcp, device);
      }
    });
    if (!ser2net->Ready()) return ::testing::AssertionFailure() << "ser2net did not start";
    if (symlink("site7/address", (g.Dir() + "/COM1").c_str()) != 0)
      return ::testing::AssertionFailure() << "no ./COM1";
    return ::testing::AssertionSuccess();
  }
};

// A gateway reached over TLS, the server's certificate checked against the
// site's CA and the operator's certificate shown to a server that asks for
// it: the connect, a form edit and SIM to file and back, as over a plain
// connection. The trace of that exchange is its owner's alone.
TEST_F(NetworkPortE2E, AWholeSessionOverTlsWithAClientCertificate) {
  TlsRig rig;
  ASSERT_TRUE(rig.Start());
  const std::string address = "rfc2217s://127.0.0.1:" + rig.Port(TlsRig::kClientAuth);
  rig.Address("# site 7, over TLS; the files beside this one\n" + address +
              "\nca=ca.pem\ncert=op.crt\nkey=op.key\n");
  TerminalSession& t = rig.g.Term();
  ASSERT_TRUE(OpenConnectionDialog(t));
  ASSERT_TRUE(Shows(t, 12, 15, "COM1: " + address));
  EXPECT_EQ(t.RowText(15).find(Utf8(u8"без шифрования")), std::string::npos);
  t.Press(Key::Esc);
  ASSERT_TRUE(Connect(t));

  struct stat st {};
  ASSERT_EQ(stat((rig.g.Dir() + "/trace.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(ReadWhole(rig.g.Dir() + "/trace.txt").find("open COM1: " + address + ": 0"), std::string::npos);

  ASSERT_TRUE(EditContactOne(rig.g, "77"));
  ASSERT_NO_FATAL_FAILURE(SimToFileAndBack(rig.g, "8916123450177"));
}

// Each way a TLS connection is refused: the reason on the error box's
// detail row, in the dialog's device row and on the command line, within
// the open's bound, and nothing written to the SIM.
TEST_F(NetworkPortE2E, RefusalsOverTlsSayWhyAndWriteNothing) {
  TlsRig rig;
  ASSERT_TRUE(rig.Start());
  WriteWhole(rig.g.Dir() + "/numbered.set", NumberedSettings());
  const std::string before = rig.g.Dump();
  const std::string cert = Utf8(u8"сертификат сервера не подтверждён: ");
  struct Case {
    const char* name;
    std::string address;
    std::string why;
  };
  const auto tls = [&](TlsRig::Server s) { return "rfc2217s://127.0.0.1:" + rig.Port(s) + "\n"; };
  const Case cases[] = {
      {"a CA that did not sign the server's certificate", tls(TlsRig::kServerOnly) + "ca=other-ca.pem\n",
       cert + Utf8(u8"неизвестный УЦ")},
      {"the server's certificate for another name", tls(TlsRig::kWrongName) + "ca=ca.pem\n",
       cert + Utf8(u8"чужое имя узла")},
      {"an expired server certificate", tls(TlsRig::kExpired) + "ca=ca.pem\n", cert + Utf8(u8"истёк срок")},
      {"no client certificate for a server that asks", tls(TlsRig::kClientAuth) + "ca=ca.pem\n",
       Utf8(u8"сервер требует сертификат клиента")},
      {"a client certificate the server does not know",
       tls(TlsRig::kClientAuth) + "ca=ca.pem\ncert=stranger.crt\nkey=stranger.key\n",
       Utf8(u8"сертификат клиента не принят")},
      {"a certificate the login does not know",
       tls(TlsRig::kCertLogin) + "ca=ca.pem\ncert=stranger.crt\nkey=stranger.key\nuser=operator\n",
       Utf8(u8"сертификат клиента не принят")},
      {"a key others can read", tls(TlsRig::kClientAuth) + "ca=ca.pem\ncert=op.crt\nkey=open.key\n",
       Utf8(u8"ключ доступен другим: нужен chmod 600")},
      {"a key its group can read", tls(TlsRig::kClientAuth) + "ca=ca.pem\ncert=op.crt\nkey=group.key\n",
       Utf8(u8"ключ доступен другим: нужен chmod 600")},
      {"a key that is not the certificate's", tls(TlsRig::kClientAuth) + "ca=ca.pem\ncert=op.crt\nkey=stranger.key\n",
       Utf8(u8"ключ не подходит к сертификату")},
      {"a plain address to a TLS server", "rfc2217://127.0.0.1:" + rig.Port(TlsRig::kServerOnly) + "\n",
       Utf8(u8"сервер ждёт TLS: нужен rfc2217s://")},
      {"a TLS address to a plain server", tls(TlsRig::kPlain) + "ca=ca.pem\n", Utf8(u8"сервер не отвечает по TLS")},
  };
  TerminalSession& t = rig.g.Term();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.Address(c.address);
    const auto start = Clock::now();
    const CliOutcome cli = RunCli(rig.g.Dir(), {"restore", "--force", "COM1", "numbered.set"});
    const auto took = Clock::now() - start;
    EXPECT_EQ(cli.status, 3) << cli.err;
    EXPECT_NE(cli.err.find(kPortGone + " (" + c.why + ")"), std::string::npos) << cli.err;
    std::printf("[ measured ] refused, %-50s %6.2f s\n", c.name, Seconds(took));
    EXPECT_LT(took, Duration(6000));

    ASSERT_TRUE(OpenConnectionDialog(t));
    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitFor([&] { return ErrorBoxShows(t, kPortGone) && t.RowText(15).find(c.why) != std::string::npos; },
                          Duration(8000)))
        << t.ScreenText();
    ASSERT_NO_FATAL_FAILURE(DismissErrorToMenu(t));
    ASSERT_TRUE(OpenConnectionDialog(t));
    EXPECT_TRUE(t.WaitFor([&] { return t.RowText(15).find(c.why) != std::string::npos; }, kScreenWait))
        << t.ScreenText();
    t.Press(Key::Esc);
    EXPECT_EQ(rig.g.Dump(), before);
  }
}

// A server with the certificate login over TLS (ser2net's certauth): the
// operator's certificate logs in as the user the address file names.
TEST_F(NetworkPortE2E, ACertificateLoginOverTls) {
  TlsRig rig;
  ASSERT_TRUE(rig.Start());
  rig.Address("rfc2217s://localhost:" + rig.Port(TlsRig::kCertLogin) +
              "\nca=ca.pem\ncert=op.crt\nkey=op.key\nuser=operator\n");
  CliOutcome cli = RunCli(rig.g.Dir(), {"backup", "COM1", "site7.set"});
  EXPECT_EQ(cli.status, 0) << cli.err;
  // The certificate and its key in one file, named by key= alone.
  rig.Address("rfc2217s://localhost:" + rig.Port(TlsRig::kCertLogin) + "\nca=ca.pem\nkey=op-both.pem\nuser=operator\n");
  cli = RunCli(rig.g.Dir(), {"backup", "COM1", "site7.set"});
  EXPECT_EQ(cli.status, 0) << cli.err;
  EXPECT_EQ(std::count(cli.err.begin(), cli.err.end(), '\n'), 1) << cli.err;  // the lines nobody confirmed
  EXPECT_NE(ReadWhole(rig.g.Dir() + "/site7.set").find(" 98,\"1100200\",129,\"98.GSM.TRV\""), std::string::npos);
}

// A plain address to anything but a loopback address works, and says it
// goes without encryption: in the device row and on the command line.
// (0.0.0.0 is no loopback address, yet Linux connects it to this machine: a
// connection that would cross a network, without one.)
TEST_F(NetworkPortE2E, APlainAddressBeyondLoopbackSaysItIsNotEncrypted) {
  TlsRig rig;
  ASSERT_TRUE(rig.Start());
  const std::string address = "rfc2217://0.0.0.0:" + rig.Port(TlsRig::kPlain);
  rig.Address(address + "\n");
  const std::string plain = Utf8(u8"без шифрования");
  const CliOutcome cli = RunCli(rig.g.Dir(), {"backup", "COM1", "plain.set"});
  EXPECT_EQ(cli.status, 0) << cli.err;
  EXPECT_NE(cli.err.find("COM1: " + plain), std::string::npos) << cli.err;
  EXPECT_TRUE(fs::exists(rig.g.Dir() + "/plain.set"));

  TerminalSession& t = rig.g.Term();
  ASSERT_TRUE(OpenConnectionDialog(t));
  ASSERT_TRUE(Shows(t, 12, 15, "COM1: " + address + " (" + plain + ")"));
  t.Press(Key::Esc);
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(EditContactOne(rig.g, "55"));
}

}  // namespace
}  // namespace tv::e2e
