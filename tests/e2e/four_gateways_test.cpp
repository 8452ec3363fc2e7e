// Four gateways on one network port, told apart by DTR and RTS alone: what
// the operator picks in the dialog, or names as COMn:G on the command line,
// is the gateway whose SIM is read and written, and no other.
#include "tests/e2e/four_gateways.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

const std::string kConnected = Utf8(u8"Для продолжения нажмите любую клавишу.");
// A SIM taking 150 ms an entry and 300-500 ms a write, as a real one.
const std::vector<std::string> kSlowSim = {"--latency", "150", "--write-delay", "300-500"};
constexpr Duration kCommandWait{60000};

// A phonebook dump (01,"89161234501",129,"01" a line) as the tool saves it
// in a settings file: " 1,...", " 10,..." CR LF a cell, zeros to whole
// 256-byte blocks.
std::string AsSettingsFile(const std::string& dump) {
  std::istringstream lines(dump);
  std::string line, text;
  while (std::getline(lines, line)) {
    char cell[8];
    std::snprintf(cell, sizeof cell, " %d", std::stoi(line.substr(0, line.find(','))));
    text += cell + line.substr(line.find(',')) + "\r\n";
  }
  return text.append((256 - text.size() % 256) % 256, '\0');
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The tool's command line in dir, on a terminal as an operator types it;
// its exit status, or -1 when it did not end in time.
int RunTool(const std::string& dir, const std::vector<std::string>& args) {
  SessionOptions options;
  options.directory = dir;
  options.args = args;
  TerminalSession t(TarvelinBinary(), options);
  const auto status = t.WaitForExit(kCommandWait);
  if (!status || !WIFEXITED(*status)) return -1;
  if (WEXITSTATUS(*status) != 0) ADD_FAILURE() << "tarvelin " << args.front() << ":\n" << t.ScreenText();
  return WEXITSTATUS(*status);
}

class FourGatewaysE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

// Connects through the dialog, already open on COM2, to the gateway shown
// after the keys; the status area names it.
::testing::AssertionResult ConnectTo(TerminalSession& t, const std::string& gateway) {
  if (!t.WaitForTextAt(53, 14, gateway, kScreenWait)) return Failure(t, "not chosen: " + gateway);
  t.Press(Key::Enter);
  if (!t.WaitForTextAt(20, 14, kConnected, kExchangeWait)) return Failure(t, "the book was not read");
  t.SendKeys(" ");
  if (!t.WaitFor(
          [&] {
            return OpenMenu(t) == kFileMenu && t.TextAt(59, 1, 5) == "COM2 " && t.TextAt(73, 1, 6) == gateway;
          },
          kScreenWait))
    return Failure(t, "no connection to COM2 " + gateway + " in the status area");
  return ::testing::AssertionSuccess();
}

// COM2 gateway 3 picked in the dialog: a cell edited in the phonebook
// reaches gwsim 3's SIM and no other, and every byte the tool sent went to
// gateway 3. Gateway 1 then shows its own book, untouched. Gateway 4, never
// picked, keeps saying RING, +CREG: 1, ... on its line: none of it reaches
// the tool.
TEST_F(FourGatewaysE2E, TheGatewayPickedInTheDialogIsTheOneWritten) {
  GatewaySession g;
  FourGateways four(g.Dir(), {{{}, kSlowSim, {}, {"--blank", "--urc", "30"}}}, "COM2");
  ASSERT_TRUE(four.Ready());
  TerminalSession& t = g.Term();
  test::TelnetRelay& relay = four.Relay();
  const std::string before[] = {"", four.Dump(1), four.Dump(2), four.Dump(3), four.Dump(4)};

  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Up);
  ASSERT_TRUE(Shows(t, 28, 14, "COM2"));
  ASSERT_TRUE(Shows(t, 12, 15, "COM2: " + four.Address()));
  t.Press(Key::Right);
  t.Press(Key::Up, 2);
  ASSERT_TRUE(ConnectTo(t, Utf8(u8"ШЛЮЗ 3")));
  EXPECT_EQ(relay.LineRequests(), (std::vector<std::string>{"DTR on", "RTS off"}));
  ASSERT_TRUE(
      t.WaitFor([&] { return relay.FromGateway(4).find("\r\n", 2) != std::string::npos; }, kScreenWait))
      << "gateway 4 said nothing";
  const std::string noise = relay.FromGateway(4);

  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(ShowsField(t, 10, 4, "89161234501", 30));
  const auto keys = [&] {
    t.Press(Key::Right, 11);
    t.Type("33");
  };
  ASSERT_TRUE(EditField(t, 10, 4, 30, keys, "8916123450133"));
  const std::string written = "01,\"8916123450133\",129,\"01\"";
  ASSERT_TRUE(t.WaitFor([&] { return four.Holds(3, written); }, kExchangeWait)) << four.Dump(3);
  ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));
  for (int other : {1, 2, 4}) EXPECT_EQ(four.Dump(other), before[other]) << "gateway " << other;
  EXPECT_NE(relay.FromClientTo(3).find("AT+CPBW=01,\"8916123450133\",129,\"01\"\r"), std::string::npos);
  for (const test::TelnetRelay::Routed& r : relay.RoutedWrites())
    EXPECT_EQ(r.gateway, 3) << "sent to gateway " << r.gateway << ": " << r.bytes;

  // Gateway 1 on the same connection: its own cell 1, as it was.
  const std::size_t sentBefore = relay.RoutedWrites().size();
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Right);
  t.Press(Key::Down, 2);
  ASSERT_TRUE(ConnectTo(t, Utf8(u8"ШЛЮЗ 1")));
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(ShowsField(t, 10, 4, "89161234501", 30));
  ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));
  const std::vector<test::TelnetRelay::Routed> routed = relay.RoutedWrites();
  ASSERT_GT(routed.size(), sentBefore);
  for (std::size_t i = sentBefore; i < routed.size(); ++i) EXPECT_EQ(routed[i].gateway, 1) << routed[i].bytes;
  EXPECT_EQ(four.Dump(1), before[1]);
  EXPECT_EQ(relay.Connections(), 1);
  // What gateway 4 had said before the exchanges above would have reached
  // the tool ahead of their replies.
  std::istringstream lines(noise);
  for (std::string line; std::getline(lines, line, '\n');) {
    if (line.size() <= 1) continue;
    EXPECT_EQ(relay.ToClient().find(line), std::string::npos)
        << "gateway 4's " << line << " reached the tool";
  }
}

// restore COM3:G of a file made for gateway G changes gwsim G's SIM and no
// other (the blank one takes the whole file); backup COM3:G then gives four
// different files, each what its gwsim holds.
TEST_F(FourGatewaysE2E, EachGatewayOfACommandLinePortIsItsOwnSim) {
  FourGateways four("", {{{}, {"--latency", "20", "--write-delay", "100-200"}, {"--echo"}, {"--blank"}}},
                    "COM3");
  ASSERT_TRUE(four.Ready());
  const std::string& dir = four.Dir();
  for (int g = 1; g <= 4; ++g) {
    SCOPED_TRACE("restore to gateway " + std::to_string(g));
    // Cell 1 names the gateway: one cell to write, except on the blank SIM.
    const std::string number = "7000000000" + std::to_string(g);
    std::string file = g == 4 ? SignedSettingsFile(number) : AsSettingsFile(four.Dump(g));
    if (g != 4) file.replace(0, file.find('\r'), " 1,\"" + number + "\",129,\"01\"");
    std::ofstream(dir + "/gw.set", std::ios::binary | std::ios::trunc) << file;
    const std::string before[] = {"", four.Dump(1), four.Dump(2), four.Dump(3), four.Dump(4)};
    ASSERT_EQ(RunTool(dir, {"restore", "COM3:" + std::to_string(g), "gw.set"}), 0);
    const std::string cellOne = "01,\"" + number + "\",129,\"01\"";
    EXPECT_TRUE(four.Relay().WaitFor([&] { return four.Holds(g, cellOne); }, kExchangeWait)) << four.Dump(g);
    for (int other = 1; other <= 4; ++other) {
      if (other == g) continue;
      EXPECT_EQ(four.Dump(other), before[other]) << "gateway " << other;
    }
  }

  std::set<std::string> files;
  for (int g = 1; g <= 4; ++g) {
    SCOPED_TRACE("backup of gateway " + std::to_string(g));
    const std::string name = "backup" + std::to_string(g) + ".set";
    ASSERT_EQ(RunTool(dir, {"backup", "COM3:" + std::to_string(g), name}), 0);
    const std::string saved = ReadAll(dir + "/" + name);
    EXPECT_EQ(saved, AsSettingsFile(four.Dump(g)));
    EXPECT_NE(saved.find(" 1,\"7000000000" + std::to_string(g) + "\""), std::string::npos) << saved;
    files.insert(saved);
  }
  EXPECT_EQ(files.size(), 4u);
  EXPECT_EQ(four.Relay().Connections(), 8);
}

}  // namespace
}  // namespace tv::e2e
