// Connecting to the simulated gateway through the File menu: the whole book
// read, a SIM without the gateway's signature initialised on the spot, and a
// port that is not there.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "tests/e2e/gateway_session.h"

namespace tv::e2e {
namespace {

class DeviceE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

bool StatusAreaBlank(const TerminalSession& t) { return t.TextAt(43, 1, 38) == std::string(38, ' '); }

TEST_F(DeviceE2E, ConnectReadsTheBookAndShowsThePortInTheStatusArea) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(OpenConnectionDialog(t));
  EXPECT_TRUE(Shows(t, 28, 14, "COM1 "));
  EXPECT_TRUE(Shows(t, 53, 14, Utf8(u8"ШЛЮЗ 1")));
  EXPECT_TRUE(StatusAreaBlank(t));
  t.Press(Key::Enter);
  ASSERT_TRUE(FinishConnect(t));
  // The dialog is gone without a trace; the File menu is back on its item.
  EXPECT_TRUE(Gone(t, Utf8(u8"Установка связи")));
  EXPECT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(2, 3); })) << t.ScreenText();
  for (int col : {59, 65, 73}) EXPECT_EQ(Describe(t.CellBg(col, 1)), Describe(Indexed(ansi::LightGrey)));

  // What was read is what the gateway holds: the book form shows it.
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(ShowsField(t, 10, 4, "89161234501", 30));
  EXPECT_TRUE(ShowsField(t, 10, 6, "+79031112233", 30));
  EXPECT_TRUE(Shows(t, 1, 4, Utf8(u8"Конт. 01")));
  ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));
  EXPECT_TRUE(ShowsConnection(t));
}

TEST_F(DeviceE2E, BlankSimIsInitialisedThenRead) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  // A little latency per command keeps the initialisation panel up long
  // enough to be seen between two screen reads.
  ASSERT_TRUE(g.StartGateway({"--blank", "--latency", "10"}));
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitFor(
      [&] {
        return t.TextAt(25, 14, 29) == Utf8(u8"SIM-Карта не инициализирована") &&
               t.TextAt(22, 15, 34) == Utf8(u8"Для начала инициализации нажмите I");
      },
      kExchangeWait))
      << t.ScreenText();
  EXPECT_TRUE(t.WaitFor([&] { return t.CellBg(20, 14) == Indexed(ansi::Red); })) << t.ScreenText();
  EXPECT_EQ(g.Dump(), "");  // nothing written before the operator agrees

  t.SendKeys("i");
  bool panelSeen = false;
  ASSERT_TRUE(t.WaitFor(
      [&] {
        if (t.TextAt(23, 20, 47) == Utf8(u8"И Н И Ц И А Л И З А Ц И Я   S I M  -  К А Р Т Ы") &&
            t.TextAt(20, 22, 9) == Utf8(u8"Записано:"))
          panelSeen = true;
        return t.TextAt(20, 14, 38) == Utf8(u8"Для продолжения нажмите любую клавишу.");
      },
      kExchangeWait))
      << t.ScreenText();
  EXPECT_TRUE(panelSeen);
  // The panel is gone again: rows 18..24 show the plain background.
  EXPECT_TRUE(Gone(t, Utf8(u8"И Н И Ц И А")));
  EXPECT_TRUE(t.WaitFor([&] { return t.CellBg(40, 22) == Indexed(ansi::Blue); })) << t.ScreenText();
  ASSERT_TRUE(FinishConnect(t));

  const std::string dump = g.Dump();
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 99) << dump;
  for (const std::string line :
       {"98,\"0000100\",129,\"98.GSM.TRV\"", "01,\"0\",129,\"01\"", "99,\"0\",129,\"99\""})
    EXPECT_NE(("\n" + dump).find("\n" + line + "\n"), std::string::npos) << line << "\n" << dump;
}

TEST_F(DeviceE2E, BlankSimLeftAloneOnAnyOtherKey) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway({"--blank"}));
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitForTextAt(22, 15, Utf8(u8"Для начала инициализации нажмите I"), kExchangeWait))
      << t.ScreenText();
  t.SendKeys("n");
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait)) << t.ScreenText();
  EXPECT_TRUE(StatusAreaBlank(t));
  EXPECT_EQ(g.Dump(), "");
}

TEST_F(DeviceE2E, MissingPortShowsTheExchangeErrorAndTheToolGoesOn) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  // ./COM1 leads nowhere: without it the tool would look for a system serial
  // device, which a test must never open.
  ASSERT_EQ(symlink("/nonexistent/tarvelin-test-tty", (t.Directory() + "/COM1").c_str()), 0);
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitFor(
      [&] {
        return t.TextAt(18, 14, 45) == Utf8(u8"COM-порта нет или он занят другим приложением") &&
               t.TextAt(19, 13, 43) == Utf8(u8"Ошибка обмена по последовательному каналу !");
      },
      kScreenWait))
      << t.ScreenText();
  EXPECT_TRUE(t.WaitFor([&] { return t.CellBg(14, 14) == Indexed(ansi::Red); })) << t.ScreenText();
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait)) << t.ScreenText();
  EXPECT_TRUE(Gone(t, Utf8(u8"COM-порта нет")));
  EXPECT_TRUE(Gone(t, Utf8(u8"Установка связи")));
  EXPECT_TRUE(StatusAreaBlank(t));
  EXPECT_FALSE(t.Exited());

  // Once the gateway is there, the same dialog connects.
  unlink((t.Directory() + "/COM1").c_str());
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(Connect(t));
}

}  // namespace
}  // namespace tv::e2e
