// The balance query: the request on the wire, the answer forms real modems
// send, and the screen the operator reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"
#include "tests/support/fields.h"
#include "tests/support/scripted_console.h"
#include "tests/support/scripted_modem.h"
#include "tests/support/scripted_tool.h"
#include "ui/commands.h"
#include "ui/tool.h"

namespace tv {
namespace {

using test::Field;

using test::Enter;
using test::ScriptedConsole;
using test::ScriptedModem;
using test::ScriptedTool;

const std::string kRequest = "AT+CUSD=1,\"#100#\",15\r";

struct Balance : ::testing::Test {
  ScriptedConsole console{{Enter}};
  Screen screen{&console};
  ManualClock clock;
  ScriptedModem port{clock};
  Tool tool{screen, clock, port};

  Balance() { tool.state.deviceConnected = true; }
};

TEST_F(Balance, ScreenWhileWaitingAndAfterTheAnswer) {
  std::string waiting, waitHint;
  uint8_t waitingAttr = 0;
  port.onCommand = [&](const std::string&) {
    waiting = screen.TextAt(40, 8, 33);
    waitingAttr = screen.AttrAt(71, 8);
    waitHint = screen.TextAt(4, 24, 33);
  };
  port.On("AT+CUSD=", {{Millis(0), "\r\nOK\r\n"}, {Millis(3000), "\r\n+CUSD: 0,\"Bal: 12.50\",15\r\n"}});
  BalanceQuery(tool);

  EXPECT_EQ(port.written, kRequest);
  EXPECT_EQ(kRequest.size(), 21u);
  EXPECT_EQ(waiting, Field("Выполняется запрос баланса"_cp, 32) + " ");
  EXPECT_EQ(waitingAttr, ColorPanel);
  // The minute's wait says how to leave it; the frame is whole again after it.
  EXPECT_EQ(waitHint, std::string("ESC-Прервать ожидание ответа сети"_cp));
  EXPECT_EQ(screen.CharAt(4, 24), line::DoubleHorizontal);
  EXPECT_EQ(screen.CharAt(78, 24), line::DoubleBottomRight);
  EXPECT_EQ(screen.TextAt(24, 2, 34), std::string(" Запрос и выдача на экран баланса "_cp));
  EXPECT_EQ(screen.CharAt(2, 2), line::DoubleTopLeft);
  EXPECT_EQ(screen.TextAt(10, 8, 30), Field("Текущий баланц"_cp, 30));  // column 40 is the answer's
  // Ten characters at 40..49, then 22 blanks, all in the normal colour.
  EXPECT_EQ(screen.TextAt(40, 8, 32), Field("Bal: 12.50", 32));
  EXPECT_EQ(screen.AttrAt(40, 8), ColorNormal);
  EXPECT_EQ(screen.AttrAt(71, 8), ColorNormal);
  EXPECT_EQ(screen.TextAt(40, 10, 37), std::string("Для продолжения нажмите любую клавишу"_cp));
  EXPECT_EQ(console.KeysLeft(), 0u);
}

TEST_F(Balance, AnswerForms) {
  struct Case {
    const char* name;
    std::vector<ScriptedModem::Chunk> reply;
    std::string shown;  // at (40,8), 32 wide
    uint8_t attr;
  };
  const std::string ok = "\r\nOK\r\n";
  const Case cases[] = {
      {"after OK",
       {{Millis(0), ok}, {Millis(5000), "\r\n+CUSD: 0,\"Balance: 123.45 RUB\",15\r\n"}},
       "Balance: 123.45 RUB",
       ColorNormal},
      {"before OK", {{Millis(0), "\r\n+CUSD: 0,\"Thank you\",15\r\n" + ok}}, "Thank you", ColorNormal},
      {"after the echo",
       {{Millis(0), kRequest + "\r\n+CUSD: 0,\"Echoed\",15\r\n" + ok}},
       "Echoed",
       ColorNormal},
      {"UCS2",
       {{Millis(0), ok}, {Millis(2000), "\r\n+CUSD: 0,\"04110430043B0430043D0441\",72\r\n"}},
       "Баланс"_cp,
       ColorNormal},
      {"UCS2, two words",
       {{Millis(0), "\r\n+CUSD: 0,\"0414043B044F00200441043F044004300432043A0438\",72\r\n"}},
       "Для справки"_cp,
       ColorNormal},
      {"hex although dcs 15", {{Millis(0), "\r\n+CUSD: 2,\"00480061\",15\r\n"}}, "00480061", ColorNormal},
      {"no dcs",
       {{Millis(0), "\r\n+CUSD: 1,\"Kontostand: 3.00 EUR\"\r\n"}},
       "Kontostand: 3.00 EUR",
       ColorNormal},
      {"empty first, the answer later",
       {{Millis(0), "\r\n+CUSD: 0,\"\"\r\n" + ok}, {Millis(5000), "\r\n+CUSD: 0,\"Later\",15\r\n"}},
       "Later",
       ColorNormal},
      {"control bytes cannot move the cursor",
       {{Millis(0),
         "\r\n+CUSD: 0,\"A\bB\x1b"
         "C\",15\r\n"}},
       "A B C",
       ColorNormal},
      {"text over two lines",
       {{Millis(0), "\r\n+CUSD: 0,\"Line one\r\nLine two\",15\r\n" + ok}},
       "Line one Line two",
       ColorNormal},
      {"not supported",
       {{Millis(0), ok + "\r\n+CUSD: 4\r\n"}},
       "Запрос не поддерживается сетью"_cp,
       ColorAlert},
      {"ended without text",
       {{Millis(0), ok + "\r\n+CUSD: 2\r\n"}},
       "Сеть завершила запрос без ответа"_cp,
       ColorAlert},
      {"network time out", {{Millis(0), ok + "\r\n+CUSD: 5\r\n"}}, "Нет ответа от сети"_cp, ColorAlert},
      {"+CME ERROR",
       {{Millis(0), "\r\n+CME ERROR: 132\r\n"}},
       "Запрос отклонен: +CME ERROR: 132"_cp,
       ColorAlert},
      {"ERROR", {{Millis(0), "\r\nERROR\r\n"}}, "Запрос отклонен: ERROR"_cp, ColorAlert},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTool rig({Enter});
    auto& [keys, s, clk, p, t] = rig;
    p.On("AT+CUSD=", c.reply);
    const auto start = clk.Now();
    BalanceQuery(t);
    EXPECT_EQ(s.TextAt(40, 8, 32), Field(c.shown, 32));
    EXPECT_EQ(s.AttrAt(40, 8), c.attr);
    EXPECT_EQ(s.TextAt(40, 10, 37), std::string("Для продолжения нажмите любую клавишу"_cp));
    EXPECT_LT(clk.Now() - start, Millis(10000));
  }
}

TEST_F(Balance, SilenceEndsWithAMessageAfterTheBound) {
  struct Case {
    const char* name;
    std::string reply;
    std::string shown;
  };
  const Case cases[] = {
      {"nothing at all", "", "Нет ответа от сети"_cp},
      {"OK only", "\r\nOK\r\n", "Нет ответа от сети"_cp},
      {"an empty answer only", "\r\nOK\r\n\r\n+CUSD: 0,\"\"\r\n", "Сеть прислала пустой ответ"_cp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTool rig({Enter});
    auto& [keys, s, clk, p, t] = rig;
    if (!c.reply.empty()) p.On("AT+CUSD=", c.reply);
    const auto start = clk.Now();
    BalanceQuery(t);
    EXPECT_GE(clk.Now() - start, Millis(60000));
    EXPECT_LT(clk.Now() - start, Millis(61000));
    EXPECT_EQ(s.TextAt(40, 8, 32), Field(c.shown, 32));
    EXPECT_EQ(s.AttrAt(40, 8), ColorAlert);
  }
}

// A line that hangs up is said as such, not blamed on the network, whether
// it goes before the request or while the answer is awaited.
TEST(BalanceQueryScreen, ALostLineIsSaidAsSuch) {
  for (const bool afterOk : {false, true}) {
    SCOPED_TRACE(afterOk ? "after the request's OK" : "before the request");
    ScriptedTool rig({Enter});
    auto& [keys, s, clk, p, t] = rig;
    if (afterOk) {
      p.On("AT+CUSD=", "\r\nOK\r\n");
      p.hangUpAtEnd = true;
    } else {
      p.HangUp();
    }
    const auto start = clk.Now();
    BalanceQuery(t);
    EXPECT_LT(clk.Now() - start, Millis(5000));
    EXPECT_EQ(s.TextAt(40, 8, 32), Field("линия связи потеряна"_cp, 32));
    EXPECT_EQ(s.AttrAt(40, 8), ColorAlert);
    EXPECT_FALSE(t.state.deviceConnected);
  }
}

TEST_F(Balance, LongAnswersStayInsideTheFrame) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> rows;  // rows 8, 9, ... from column 40
    int promptRow;
  };
  const std::string text35 = "Balance 123.45 RUB, bonus 10 points";
  const std::string word38(38, 'x');
  const Case cases[] = {
      {"32 and more shown whole, no blanks after", text35, {text35}, 10},
      {"wrapped at the last blank",
       "Your balance is 123.45 RUB. Top up by dialling *100*code# today",
       {"Your balance is 123.45 RUB. Top up by ", "dialling *100*code# today"},
       11},
      {"no blank: cut at the frame", std::string(80, 'x'), {word38, word38, "xxxx"}, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTool rig({Enter});
    auto& [keys, s, clk, p, t] = rig;
    p.On("AT+CUSD=", "\r\n+CUSD: 0,\"" + c.text + "\",15\r\n");
    BalanceQuery(t);
    for (std::size_t i = 0; i < c.rows.size(); ++i)
      EXPECT_EQ(s.TextAt(40, 8 + static_cast<int>(i), 38), Field(c.rows[i], 38));
    EXPECT_EQ(s.TextAt(40, c.promptRow, 37), std::string("Для продолжения нажмите любую клавишу"_cp));
    for (int y = 3; y <= 23; ++y) EXPECT_EQ(s.CharAt(78, y), line::DoubleVertical) << y;
    EXPECT_EQ(s.CharAt(2, 2), line::DoubleTopLeft);  // nothing scrolled
  }
}

TEST_F(Balance, UcsAnswerOfEightyCharactersIsReadWhole) {
  // 320 hex digits: far more than a 99-byte reply line.
  std::string hex;
  for (int i = 0; i < 80; ++i) hex += "0431";  // б
  port.On("AT+CUSD=", "\r\n+CUSD: 0,\"" + hex + "\",72\r\n");
  BalanceQuery(tool);
  const std::string b38(38, "б"_cp[0]);
  EXPECT_EQ(screen.TextAt(40, 8, 38), b38);
  EXPECT_EQ(screen.TextAt(40, 9, 38), b38);
  EXPECT_EQ(screen.TextAt(40, 10, 5), std::string(4, "б"_cp[0]) + " ");
  EXPECT_EQ(screen.TextAt(40, 12, 37), std::string("Для продолжения нажмите любую клавишу"_cp));
}

TEST(BalanceQueryScreen, NeedsAConnection) {
  ScriptedTool rig({Enter}, false);
  auto& [keys, s, clk, p, t] = rig;
  BalanceQuery(t);
  EXPECT_TRUE(p.written.empty());
}

TEST(BalanceQueryScreen, AgainstTheSimulatedGateway) {
  struct Case {
    const char* name;
    bool ucs2;
  };
  for (const Case& c : {Case{"UCS2 answer", true}, Case{"7-bit answer", false}}) {
    SCOPED_TRACE(c.name);
    sim::GatewayModel gateway;
    gateway.Options().ussdUcs2 = c.ucs2;
    if (!c.ucs2) gateway.Options().ussdAnswer = "Balance: 123.45 RUB";  // UCS2: the default
    ScriptedConsole keys({Enter});
    Screen s(&keys);
    ManualClock clk;
    sim::SimSerialPort port(gateway, clk);
    port.Open(0);
    Tool t(s, clk, port);
    t.state.deviceConnected = true;
    BalanceQuery(t);
    EXPECT_EQ(port.written, kRequest);
    EXPECT_EQ(s.TextAt(40, 8, 32), Field(c.ucs2 ? "Баланс: 123.45 руб."_cp : "Balance: 123.45 RUB", 32));
  }
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// An answer with <m> 1 leaves the network waiting for a reply in the same
// session: it is ended, so the next request is not taken as a menu choice.
TEST(BalanceSession, ASessionTheNetworkHoldsOpenIsEnded) {
  struct Case {
    const char* name;
    std::string answer;
    bool ended;
  };
  const Case cases[] = {
      {"m 0: the network closed it", "\r\n+CUSD: 0,\"Balance 1\",15\r\n\r\nOK\r\n", false},
      {"m 1: the network waits for a choice", "\r\n+CUSD: 1,\"1 Balance 2 Top up\",15\r\n\r\nOK\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTool rig({Enter});
    auto& [keys, s, clk, p, t] = rig;
    p.On("AT+CUSD=1", c.answer);
    p.On("AT+CUSD=2", "\r\nOK\r\n");
    BalanceQuery(t);
    EXPECT_EQ(p.written, kRequest + (c.ended ? "AT+CUSD=2\r" : ""));
    EXPECT_EQ(keys.KeysLeft(), 0u);
  }
}

}  // namespace
}  // namespace tv
