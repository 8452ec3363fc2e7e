// The network commands through the simulated gateway's modem: call
// forwarding queried and switched on and off, and the balance by USSD.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/gateway_session.h"

namespace tv::e2e {
namespace {

class NetworkE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

// A state field of the forwarding form: 34 columns at column 40.
bool StateShows(const TerminalSession& t, int row, const std::string& text, int chars) {
  return t.TextAt(40, row, 34) == text + std::string(34 - chars, ' ') &&
         t.CellBg(40, row) == Indexed(ansi::Blue);
}

TEST_F(NetworkE2E, ForwardingQueriedSwitchedOnAndOff) {
  struct Case {
    const char* name;
    std::vector<std::string> gatewayArgs;
  };
  const std::vector<Case> cases = {
      {"modem answers as 27.007 writes it", {}},
      {"the gateway's own modem: no blank after the commas", {"--blank-after-comma"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GatewaySession g;
    TerminalSession& t = g.Term();
    ASSERT_TRUE(g.StartGateway(c.gatewayArgs));
    ASSERT_TRUE(Connect(t));
    ASSERT_TRUE(Choose(t, kCommandsMenu, 1, Utf8(u8"Переадресация")));
    ASSERT_TRUE(t.WaitFor(
        [&] {
          return StateShows(t, 8, Utf8(u8"Выключена"), 9) && StateShows(t, 10, Utf8(u8"Выключена"), 9) &&
                 t.CursorPos() == std::make_pair(40, 8);
        },
        kExchangeWait))
        << t.ScreenText();
    EXPECT_TRUE(Shows(t, 24, 2, Utf8(u8" Переадресация вызова ")));
    EXPECT_TRUE(Shows(t, 10, 8, Utf8(u8"Переадресация безусловная")));
    EXPECT_TRUE(Shows(t, 40, 12, "89161234567 "));  // cell 99, the forwarding number

    t.Press(Key::Enter);
    ASSERT_TRUE(t.WaitForTextAt(40, 8, Utf8(u8"Включить переадресацию? [Y/N]"), kScreenWait))
        << t.ScreenText();
    EXPECT_TRUE(t.WaitFor([&] { return t.CellBg(40, 8) == Indexed(ansi::LightGrey); })) << t.ScreenText();
    t.SendKeys("y");
    ASSERT_TRUE(t.WaitFor(
        [&] {
          return StateShows(t, 8, Utf8(u8"Включена"), 8) && StateShows(t, 10, Utf8(u8"Выключена"), 9) &&
                 t.CursorPos() == std::make_pair(40, 8);  // the form stays on the operator's row
        },
        kExchangeWait))
        << t.ScreenText();
    // The network reports the number the gateway forwards to.
    EXPECT_TRUE(Shows(t, 40, 12, "89161234567 "));
    ASSERT_TRUE(LeaveForm(t, kCommandsMenu));

    // A second visit queries afresh and finds the service still on; Enter
    // on it offers to switch it off.
    ASSERT_TRUE(Choose(t, kCommandsMenu, 1, Utf8(u8"Переадресация")));
    ASSERT_TRUE(t.WaitFor(
        [&] { return StateShows(t, 8, Utf8(u8"Включена"), 8) && t.CursorPos() == std::make_pair(40, 8); },
        kExchangeWait))
        << t.ScreenText();
    t.Press(Key::Enter);
    ASSERT_TRUE(Shows(t, 40, 8, Utf8(u8"Выключить переадресацию? [Y/N]")));
    t.SendKeys("Y");
    ASSERT_TRUE(t.WaitFor(
        [&] { return StateShows(t, 8, Utf8(u8"Выключена"), 9) && t.CursorPos() == std::make_pair(40, 8); },
        kExchangeWait))
        << t.ScreenText();
    ASSERT_TRUE(LeaveForm(t, kCommandsMenu));
  }
}

TEST_F(NetworkE2E, BalanceAnswerInUcs2IsShownInCyrillic) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kCommandsMenu, 2, Utf8(u8"Баланс")));
  ASSERT_TRUE(t.WaitForTextAt(24, 2, Utf8(u8" Запрос и выдача на экран баланса "), kScreenWait))
      << t.ScreenText();
  EXPECT_TRUE(Shows(t, 10, 8, Utf8(u8"Текущий баланц")));
  // gwsim answers 1.5 s after the OK, as a network does.
  const std::string answer = Utf8(u8"Баланс: 123.45 руб.");
  ASSERT_TRUE(t.WaitFor(
      [&] {
        return t.TextAt(40, 8, 32) == answer + std::string(32 - 19, ' ') &&
               t.TextAt(40, 10, 37) == Utf8(u8"Для продолжения нажмите любую клавишу");
      },
      kExchangeWait))
      << t.ScreenText();
  EXPECT_EQ(Describe(t.CellBg(40, 8)), Describe(Indexed(ansi::Blue)));
  EXPECT_TRUE(Gone(t, Utf8(u8"Выполняется")));
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kCommandsMenu; }, kScreenWait)) << t.ScreenText();
  EXPECT_TRUE(t.WaitFor([&] { return ShowsConnection(t); })) << t.ScreenText();
}

}  // namespace
}  // namespace tv::e2e
