// The network commands against a faulty gateway (the simulated gateway's
// fault options, on a simulated clock): silence, a dead line, ERROR and
// +CME ERROR answers and noise, at each step of the forwarding screen and
// of the balance query. Every wait ends within its bound and the screen
// says what is known; nothing waits for a key the operator did not press.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"
#include "tests/support/fields.h"
#include "tests/support/scripted_console.h"
#include "tests/ui/forms_bench.h"
#include "ui/commands.h"
#include "ui/tool.h"

namespace tv {
namespace {

using test::Field;

using test::Chr;
using test::Enter;
using test::Esc;
using test::ScriptedConsole;

// The bounds the screens promise: 40 s for each forwarding command, 60 s
// for the USSD answer. A give-up may run over by at most one read time-out.
constexpr Millis kForwardingBound{40000};
constexpr Millis kUssdBound{60000};
constexpr Millis kSlack{ByteReadTimeout};

const std::string kOn = Field("Включена"_cp, 34);
const std::string kOff = Field("Выключена"_cp, 34);
const std::string kNoAnswer = Field("Состояние неизвестно (нет ответа)"_cp, 34);
const std::string kRefused = Field("Состояние неизвестно (отказ сети)"_cp, 34);
const std::string kLineLost = Field("линия связи потеряна"_cp, 34);

// The tool, connected to the simulated gateway.
struct Rig : test::FormsBench {
  int Commands(const std::string& prefix) const {
    int n = 0;
    for (std::size_t p = port.written.find(prefix); p != std::string::npos;
         p = port.written.find(prefix, p + 1))
      ++n;
    return n;
  }
};

struct ForwardingFault {
  const char* name;
  std::function<void(sim::GatewayModel&)> setUp;
  std::vector<KeyPress> keys;  // after the screen's first queries; Esc follows
  std::string row8, row10;     // the state texts at the end
  uint8_t attr8;
  Millis least, most;  // simulated time the screen took
  int commandsSent;    // AT+CCFC commands in all
};

TEST(ForwardingFaults, EveryWaitEndsAndTheStateIsNeverGuessed) {
  auto quietAfter = [](int n) {
    return [n](sim::GatewayModel& g) { g.Options().faults.silentAfterCommands = n; };
  };
  auto deadAfter = [](int n) {
    return [n](sim::GatewayModel& g) { g.Options().faults.hangUpAfterCommands = n; };
  };
  auto unconditionalOn = [](sim::GatewayModel& g) { g.Forwarding(0) = {true, "+79161234567", 20}; };
  const std::vector<ForwardingFault> faults = {
      // One bounded wait: after an unanswered first query the second service
      // is shown as unknown without being asked.
      {"network silent to every forwarding command",
       [](sim::GatewayModel& g) { g.Options().forwardingSilent = true; },
       {},
       kNoAnswer,
       kNoAnswer,
       ColorAlert,
       kForwardingBound,
       kForwardingBound + kSlack,
       1},
      // A line that has hung up answers nothing ever: the wait ends at once.
      // It is said as a lost line, not as the network's silence.
      {"line dead from the start", deadAfter(0), {}, kLineLost, kLineLost, ColorAlert, Millis(0), kSlack, 1},
      {"switch on unanswered: no new queries",
       quietAfter(2),
       {Enter, Chr('y')},
       kNoAnswer,
       kOff,
       ColorAlert,
       kForwardingBound,
       kForwardingBound + kSlack,
       3},
      {"switch off unanswered",
       [&](sim::GatewayModel& g) {
         unconditionalOn(g);
         g.Options().faults.silentAfterCommands = 2;
       },
       {Enter, Chr('y')},
       kNoAnswer,
       kOff,
       ColorAlert,
       kForwardingBound,
       kForwardingBound + kSlack,
       3},
      {"line hangs up at the switch",
       deadAfter(2),
       {Enter, Chr('y')},
       kLineLost,
       kOff,
       ColorAlert,
       Millis(0),
       kSlack,
       3},
      {"switch done, the queries after it unanswered",
       quietAfter(3),
       {Enter, Chr('y')},
       kNoAnswer,
       kNoAnswer,
       ColorAlert,
       kForwardingBound,
       kForwardingBound + kSlack,
       4},
      {"ERROR to every forwarding command",
       [](sim::GatewayModel& g) { g.Options().forwardingError = true; },
       {Enter, Chr('y')},
       kRefused,
       kRefused,
       ColorAlert,
       Millis(0),
       Millis(1000),
       5},
      {"+CME ERROR to every forwarding command",
       [](sim::GatewayModel& g) {
         g.Options().forwardingError = true;
         g.Options().faults.cmeError = true;
       },
       {},
       kRefused,
       kRefused,
       ColorAlert,
       Millis(0),
       Millis(1000),
       2},
      {"noise before every reply",
       [&](sim::GatewayModel& g) {
         unconditionalOn(g);
         g.Options().faults.garbage = true;
       },
       {},
       kOn,
       kOff,
       ColorNormal,
       Millis(0),
       Millis(1000),
       2},
      {"echo, noise and latency; switch on",
       [](sim::GatewayModel& g) {
         g.Options().echo = true;
         g.Options().faults.garbage = true;
         g.Options().commandLatency = Millis(3000);
       },
       {Enter, Chr('y')},
       kOn,
       kOff,
       ColorNormal,
       Millis(15000),
       Millis(16000),
       5},
  };
  for (const ForwardingFault& f : faults) {
    SCOPED_TRACE(f.name);
    Rig r;
    f.setUp(r.gateway);
    r.console.Add(f.keys);
    r.console.Add({Esc});
    const auto start = r.clock.Now();
    ASSERT_NO_THROW(CallForwardingScreen(r.tool)) << r.screen.Dump();
    const auto took = r.clock.Now() - start;
    EXPECT_GE(took, f.least);
    EXPECT_LE(took, f.most);
    EXPECT_EQ(r.screen.TextAt(40, 8, 34), f.row8);
    EXPECT_EQ(r.screen.AttrAt(40, 8), f.attr8);
    EXPECT_EQ(r.screen.TextAt(40, 10, 34), f.row10);
    EXPECT_EQ(r.Commands("AT+CCFC="), f.commandsSent) << r.port.written;
    EXPECT_EQ(r.console.KeysLeft(), 0u);
  }
}

struct BalanceFault {
  const char* name;
  std::function<void(sim::GatewayModel&)> setUp;
  std::string shown;  // at (40, 8), 32 wide
  uint8_t attr;
  Millis least, most;
};

TEST(BalanceFaults, TheWaitEndsWithWhatIsKnown) {
  const std::string noAnswer = "Нет ответа от сети"_cp;
  const std::string balance = "Баланс: 123.45 руб."_cp;
  const Millis answerDelay = sim::GatewayOptions{}.ussdDelay;
  const std::vector<BalanceFault> faults = {
      // The session given up is ended (AT+CUSD=2) and the line left to go quiet.
      {"OK, then no network answer", [](sim::GatewayModel& g) { g.Options().ussdSilent = true; }, noAnswer,
       ColorAlert, kUssdBound, kUssdBound + kSlack + AtEngine::QuietGap + ByteReadTimeout},
      {"modem silent", [](sim::GatewayModel& g) { g.Options().faults.silentAfterCommands = 0; }, noAnswer,
       ColorAlert, kUssdBound, kUssdBound + kSlack},
      {"line dead", [](sim::GatewayModel& g) { g.Options().faults.hangUpAfterCommands = 0; }, "линия связи потеряна"_cp,
       ColorAlert, Millis(0), kSlack},
      {"ERROR", [](sim::GatewayModel& g) { g.Options().faults.errorPrefix = "AT+CUSD"; },
       "Запрос отклонен: ERROR"_cp, ColorAlert, Millis(0), Millis(1000)},
      {"+CME ERROR",
       [](sim::GatewayModel& g) {
         g.Options().faults.errorPrefix = "AT+CUSD";
         g.Options().faults.cmeError = true;
       },
       "Запрос отклонен: +CME ERROR: 100"_cp, ColorAlert, Millis(0), Millis(1000)},
      {"noise before the replies", [](sim::GatewayModel& g) { g.Options().faults.garbage = true; }, balance,
       ColorNormal, answerDelay, answerDelay + Millis(1000)},
      {"echo, noise and latency",
       [](sim::GatewayModel& g) {
         g.Options().echo = true;
         g.Options().faults.garbage = true;
         g.Options().commandLatency = Millis(2000);
       },
       balance, ColorNormal, answerDelay + Millis(2000), answerDelay + Millis(3000)},
  };
  for (const BalanceFault& f : faults) {
    SCOPED_TRACE(f.name);
    Rig r;
    f.setUp(r.gateway);
    r.console.Add({Enter});
    const auto start = r.clock.Now();
    ASSERT_NO_THROW(BalanceQuery(r.tool)) << r.screen.Dump();
    const auto took = r.clock.Now() - start;
    EXPECT_GE(took, f.least);
    EXPECT_LE(took, f.most);
    EXPECT_EQ(r.screen.TextAt(40, 8, 32), Field(f.shown, 32));
    EXPECT_EQ(r.screen.AttrAt(40, 8), f.attr);
    EXPECT_EQ(r.screen.TextAt(40, 10, 37), std::string("Для продолжения нажмите любую клавишу"_cp));
    EXPECT_EQ(r.console.KeysLeft(), 0u);
  }
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST(BalanceFaults, EscLeavesTheWaitAndEndsTheSession) {
  Rig r;
  r.gateway.Options().ussdSilent = true;
  r.console.TypeAhead({Chr('x'), Esc});  // pressed while the answer is awaited
  const auto start = r.clock.Now();
  ASSERT_NO_THROW(BalanceQuery(r.tool));
  EXPECT_LT(r.clock.Now() - start, Millis(2000));
  EXPECT_EQ(r.port.written, "AT+CUSD=1,\"#100#\",15\rAT+CUSD=2\r");
  EXPECT_EQ(r.console.KeysLeft(), 0u);
}

// A network that answers each request only after the next command: the
// answer to a request given up must never pass for the next one's.
TEST(BalanceFaults, AnEarlierRequestsAnswerIsNotTakenForTheNext) {
  Rig r;
  r.gateway.Options().faults.lateUssd = true;
  const std::string balance = "Баланс: 123.45 руб."_cp;
  for (int query = 1; query <= 2; ++query) {
    SCOPED_TRACE(query);
    r.console.Add({Enter});
    ASSERT_NO_THROW(BalanceQuery(r.tool));
    EXPECT_EQ(r.screen.TextAt(40, 8, 32), Field("Нет ответа от сети"_cp, 32));
  }
  // Between the two: nothing but the request and its session's end.
  EXPECT_EQ(r.port.written, "AT+CUSD=1,\"#100#\",15\rAT+CUSD=2\rAT+CUSD=1,\"#100#\",15\rAT+CUSD=2\r");
}

}  // namespace
}  // namespace tv
