// The call-forwarding screen: what it shows for the network's answers, the
// bytes it sends when switching, the delay editor's keys, and the waits that
// end when the network stays silent.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"
#include "tests/support/fields.h"
#include "tests/support/scripted_console.h"
#include "tests/support/scripted_modem.h"
#include "tests/support/scripted_tool.h"
#include "tests/ui/forms_bench.h"
#include "ui/commands.h"
#include "ui/tool.h"

namespace tv {
namespace {

using test::Field;

using test::Chr;
using test::Down;
using test::Enter;
using test::Esc;
using tv::KeyPress;

using test::OutOfKeys;
using test::ScriptedConsole;
using test::ScriptedModem;
using test::ScriptedTool;

constexpr const char* kModeText = "1100200";  // delay "20" in positions 4 and 5
const std::string kOk = "\r\nOK\r\n";
const std::string kOff = "\r\n+CCFC: 0,7\r\n\r\nOK\r\n";
const std::string kWriteMode98 = "AT+CPBW=98,\"";

// A clock that notes every delay the screen takes, with what the screen
// showed at column 40 of rows 8 and 10 while it waited.
class WatchingClock : public ManualClock {
 public:
  void Sleep(Millis duration) override {
    sleeps.push_back(duration);
    if (screen) {
      shown8 = screen->TextAt(40, 8, 32);
      attr8 = screen->AttrAt(40, 8);
    }
    ManualClock::Sleep(duration);
  }
  const Screen* screen = nullptr;
  std::vector<Millis> sleeps;
  std::string shown8;
  uint8_t attr8 = 0;
};

int Count(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (std::size_t p = haystack.find(needle); p != std::string::npos; p = haystack.find(needle, p + 1)) ++n;
  return n;
}

// The screen against a port whose answers the test chooses.
struct ScriptedForm : ::testing::Test {
  ScriptedConsole console;
  Screen screen{&console};
  WatchingClock clock;
  ScriptedModem port{clock};
  Tool tool{screen, clock, port};

  ScriptedForm() {
    clock.screen = &screen;
    tool.state.deviceConnected = true;
    tool.image.SetCellNumber(ForwardCell, "89161234567");
    tool.image.SetCellNumber(ModeCell, kModeText);
    tool.image.SetCellName(ModeCell, SimSignature);
    port.On("AT+CPBW=", kOk);
  }
  // Runs the screen with these keys; false when it waited for more keys.
  bool Run(std::vector<KeyPress> keys) {
    console.Add(std::move(keys));
    try {
      CallForwardingScreen(tool);
    } catch (const OutOfKeys&) {
      return false;
    }
    return true;
  }
};

TEST_F(ScriptedForm, DrawsTheFormAndTheServiceStates) {
  port.On("AT+CCFC=0,2", "\r\n+CCFC: 1,1,\"+79161234567\",145\r\n\r\nOK\r\n");
  port.On("AT+CCFC=2,2", kOff);
  ASSERT_TRUE(Run({Esc}));

  EXPECT_EQ(port.written, "AT+CCFC=0,2\rAT+CCFC=2,2\r");
  EXPECT_EQ(screen.TextAt(24, 2, 22), std::string(" Переадресация вызова "_cp));
  EXPECT_EQ(screen.CharAt(2, 2), line::DoubleTopLeft);
  EXPECT_EQ(screen.CharAt(78, 24), line::DoubleBottomRight);
  EXPECT_EQ(screen.TextAt(10, 8, 25), std::string("Переадресация безусловная"_cp));
  EXPECT_EQ(screen.TextAt(10, 10, 29), std::string("Переадресация по <НЕТ ОТВЕТА>"_cp));
  EXPECT_EQ(screen.TextAt(10, 12, 19), std::string("Номер переадресации"_cp));
  EXPECT_EQ(screen.TextAt(10, 14, 28), std::string("Время задержки переадресации"_cp));
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Включена"_cp, 34));
  EXPECT_EQ(screen.TextAt(40, 10, 34), Field("Выключена"_cp, 34));
  EXPECT_EQ(screen.AttrAt(40, 8), ColorNormal);
  EXPECT_EQ(screen.AttrAt(73, 10), ColorNormal);
  EXPECT_EQ(screen.TextAt(40, 12, 32), Field("89161234567", 32));
  EXPECT_EQ(screen.TextAt(40, 14, 2), "20");
}

TEST_F(ScriptedForm, QueryRepliesSetTheStateAndTheForwardingNumber) {
  struct Case {
    const char* name;
    std::string reply;
    bool on;
    const char* number;  // cell 99 afterwards
  };
  const char* before = "8916123456789012";  // longer than any number below
  const Case cases[] = {
      {"+7 becomes 8", "+CCFC: 1,1,\"+79161234567\",145", true, "89161234567"},
      {"blank after each comma", "+CCFC: 1, 1,\"+79161234567\",145", true, "89161234567"},
      {"no blank after the colon", "+CCFC:1,1,\"+79161234567\",145", true, "89161234567"},
      {"another country loses the plus", "+CCFC: 1,1,\"+420800123456\",145", true, "420800123456"},
      {"no plus: copied", "+CCFC: 1,1,\"89031234567\",129", true, "89031234567"},
      {"all classes, voice among them", "+CCFC: 1,7,\"+420800123456\",129,\"\",128,0", true, "420800123456"},
      {"not active", "+CCFC: 0,7", false, before},
      {"not active, with a number", "+CCFC: 0,1,\"+79161234567\",145", false, before},
      {"data only", "+CCFC: 1,2,\"+79161234567\",145", false, before},
      {"closing quote missing", "+CCFC: 1,1,\"+7916123", true, before},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTool rig({Esc});
    auto& [keys, s, clk, p, t] = rig;
    t.image.SetCellNumber(ForwardCell, before);
    p.On("AT+CCFC=0,2", "\r\n" + c.reply + "\r\n\r\nOK\r\n");
    p.On("AT+CCFC=2,2", kOff);
    CallForwardingScreen(t);
    EXPECT_EQ(s.TextAt(40, 8, 34), Field(c.on ? "Включена"_cp : "Выключена"_cp, 34));
    EXPECT_EQ(t.image.CellNumber(ForwardCell), c.number);
    EXPECT_EQ(s.TextAt(40, 12, 32), Field(c.number, 32));
  }
}

TEST_F(ScriptedForm, SwitchCommandsOnTheWire) {
  struct Case {
    const char* name;
    std::string uncondQuery;
    std::vector<KeyPress> keys;
    const char* number;
    std::string command;
    int row;  // the screen row the form stays on
  };
  const std::string on = "\r\n+CCFC: 1,1,\"+79161234567\",145\r\n\r\nOK\r\n";
  const Case cases[] = {
      {"switch on unconditional", kOff, {Enter, Chr('y')}, "89161234567", "AT+CCFC=0,3,\"89161234567\"\r", 8},
      {"switch on no reply", kOff, {Down, Enter, Chr('Y')}, "123", "AT+CCFC=2,3,\"123\",,,,,20\r", 10},
      {"switch off unconditional", on, {Enter, Chr('y')}, "89161234567", "AT+CCFC=0,4\r", 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTool rig(c.keys);
    auto& [keys, s, clk, p, t] = rig;
    t.image.SetCellNumber(ForwardCell, c.number);
    t.image.SetCellNumber(ModeCell, kModeText);
    p.On("AT+CCFC=0,2", c.uncondQuery);
    p.On("AT+CCFC=2,2", kOff);
    p.On("AT+CCFC=", kOk);
    EXPECT_THROW(CallForwardingScreen(t), OutOfKeys);
    const std::string queries = "AT+CCFC=0,2\rAT+CCFC=2,2\r";
    // Queries, the switch, the queries again; the form then waits on the
    // service's row, where the operator was (not on the delay's).
    EXPECT_EQ(p.written, queries + c.command + queries);
    EXPECT_EQ(s.CursorY(), c.row);
    EXPECT_EQ(s.CursorX(), 40);
  }
}

TEST_F(ScriptedForm, DeclinedQuestionRestoresTheState) {
  port.On("AT+CCFC=", kOff);
  ASSERT_FALSE(Run({Enter, Chr('n')}));
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Выключена"_cp, 34));
  EXPECT_EQ(port.written, "AT+CCFC=0,2\rAT+CCFC=2,2\r");
}

TEST_F(ScriptedForm, ShortNumberIsRefusedForTwoAndAHalfSeconds) {
  tool.image.SetCellNumber(ForwardCell, "12");
  port.On("AT+CCFC=", kOff);
  ASSERT_FALSE(Run({Enter, Chr('y')}));

  EXPECT_EQ(port.written, "AT+CCFC=0,2\rAT+CCFC=2,2\r");  // nothing more was sent
  ASSERT_EQ(clock.sleeps, std::vector<Millis>{Millis(2500)});
  EXPECT_EQ(clock.shown8, Field("Неверный номер переадресации"_cp, 32));
  EXPECT_EQ(clock.attr8, ColorAlert);
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Выключена"_cp, 34));
  EXPECT_EQ(screen.AttrAt(40, 8), ColorNormal);
}

TEST_F(ScriptedForm, SilentNetworkEndsTheQueryAfterItsBound) {
  port.On("AT+CCFC=2,2", kOff);  // the unconditional query gets no answer
  const auto start = clock.Now();
  ASSERT_TRUE(Run({Esc}));
  const auto waited = clock.Now() - start;
  EXPECT_GE(waited, Millis(40000));
  EXPECT_LT(waited, Millis(41000));
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Состояние неизвестно (нет ответа)"_cp, 34));
  EXPECT_EQ(screen.AttrAt(40, 8), ColorAlert);
  // The second service is not asked after a first query the network left
  // unanswered: its state is unknown too.
  EXPECT_EQ(port.written, "AT+CCFC=0,2\r");
  EXPECT_EQ(screen.TextAt(40, 10, 34), Field("Состояние неизвестно (нет ответа)"_cp, 34));
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(ScriptedForm, UnknownStateOffersSwitchOnAndStaysUnknownWhenDeclined) {
  port.On("AT+CCFC=2,2", kOff);  // the unconditional query gets no answer
  ASSERT_FALSE(Run({Enter}));
  EXPECT_EQ(screen.TextAt(40, 8, 32), Field("Включить переадресацию? [Y/N]"_cp, 32));
  EXPECT_EQ(screen.AttrAt(40, 8), ColorPanel);
  ASSERT_FALSE(Run({Chr('n')}));
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Состояние неизвестно (нет ответа)"_cp, 34));
}

TEST_F(ScriptedForm, F10ShowsTheHelpTopicOfTheRow) {
  std::FILE* help = std::tmpfile();
  ASSERT_NE(help, nullptr);
  std::fputs("#40\nTopic forty\n#41\nTopic forty-one\n#42\nTopic forty-two\n#43\nTopic forty-three\n", help);
  tool.help.file = help;
  port.On("AT+CCFC=", kOff);
  const char* topics[] = {"Topic forty ", "Topic forty-one", "Topic forty-two", "Topic forty-three"};
  for (int row = 1; row <= 4; ++row) {
    SCOPED_TRACE(row);
    std::vector<KeyPress> keys(static_cast<std::size_t>(row - 1), Down);
    keys.push_back(row % 2 ? test::F10 : test::F1);  // either help key
    ScriptedConsole round(keys);                     // runs out while the help window waits for Esc
    screen.AttachConsole(&round);
    EXPECT_THROW(CallForwardingScreen(tool), OutOfKeys);
    EXPECT_NE(screen.Dump().find(topics[row - 1]), std::string::npos) << screen.Dump();
  }
  std::fclose(help);
}

TEST_F(ScriptedForm, ErrorAnswerToAQueryShowsTheStateAsUnknown) {
  port.On("AT+CCFC=0,2", "\r\n+CME ERROR: 30\r\n");
  port.On("AT+CCFC=2,2", "\r\nERROR\r\n");
  const auto start = clock.Now();
  ASSERT_TRUE(Run({Esc}));
  EXPECT_LT(clock.Now() - start, Millis(2000));  // no waiting for an OK that never comes
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Состояние неизвестно (отказ сети)"_cp, 34));
  EXPECT_EQ(screen.TextAt(40, 10, 34), Field("Состояние неизвестно (отказ сети)"_cp, 34));
}

TEST_F(ScriptedForm, FailingPortEndsTheWaitWithoutSpinning) {
  port.HangUp();
  const auto start = clock.Now();
  ASSERT_TRUE(Run({Esc}));
  EXPECT_LT(clock.Now() - start, Millis(2000));
  // A hung-up line is said as such, not as the network's silence.
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("линия связи потеряна"_cp, 34));
  EXPECT_EQ(screen.TextAt(40, 10, 34), Field("линия связи потеряна"_cp, 34));
  EXPECT_EQ(screen.AttrAt(40, 8), ColorAlert);
  EXPECT_FALSE(tool.state.deviceConnected);
}

TEST_F(ScriptedForm, ALineLostDuringASwitchIsSaidAsSuch) {
  port.On("AT+CCFC=0,2", kOff);
  port.On("AT+CCFC=2,2", kOff);
  port.onCommand = [&](const std::string& command) {
    if (command.rfind("AT+CCFC=0,3", 0) == 0) port.HangUp();
  };
  ASSERT_FALSE(Run({Enter, Chr('y')}));
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("линия связи потеряна"_cp, 34));
  EXPECT_EQ(screen.CursorY(), 8);
}

// While the network is asked, the row shows the query in flight and row 24
// says how to leave the wait.
TEST_F(ScriptedForm, TheRowShowsTheQueryInFlight) {
  port.On("AT+CCFC=0,2", kOff);
  port.On("AT+CCFC=2,2", kOff);
  std::vector<std::string> shown;
  port.onCommand = [&](const std::string& command) {
    const int row = command.rfind("AT+CCFC=0,2", 0) == 0 ? 8 : 10;
    shown.push_back(screen.TextAt(40, row, 34) + "|" + screen.TextAt(4, 24, 33));
  };
  ASSERT_TRUE(Run({Esc}));
  const std::string hint = "ESC-Прервать ожидание ответа сети"_cp;
  EXPECT_EQ(shown, (std::vector<std::string>{Field("Запрос безусловной переадресации"_cp, 34) + "|" + hint,
                                             Field("Запрос переадресации по неответу"_cp, 34) + "|" + hint}));
}

// Esc while the network is asked for the state leaves the screen at once,
// and nothing is switched.
TEST_F(ScriptedForm, EscDuringAQueryLeavesTheScreen) {
  for (const char* query : {"AT+CCFC=0,2", "AT+CCFC=2,2"}) {
    SCOPED_TRACE(query);
    ScriptedTool rig;  // no keys: the screen must not wait for one
    auto& [keys, s, clk, p, t] = rig;
    t.image.SetCellNumber(ForwardCell, "89161234567");
    const bool first = std::string(query) == "AT+CCFC=0,2";
    if (!first) p.On("AT+CCFC=0,2", kOff);  // the query Esc is pressed in stays unanswered
    auto& typist = keys;
    p.onCommand = [&](const std::string& command) {
      if (command.rfind(query, 0) == 0) typist.TypeAhead({Chr('y'), Esc, Enter, Chr('y')});
    };
    const auto start = clk.Now();
    CallForwardingScreen(t);
    EXPECT_LT(clk.Now() - start, Millis(2000));
    EXPECT_EQ(p.written.find("AT+CCFC=0,3"), std::string::npos) << p.written;
    EXPECT_EQ(Count(p.written, "AT+CCFC="), first ? 1 : 2);
  }
}

// Esc while a switch is awaited: the service's state is unknown, said so,
// and the screen stays.
TEST_F(ScriptedForm, EscDuringASwitchLeavesItsStateUnknown) {
  const std::string on = "\r\n+CCFC: 1,1,\"+79161234567\",145\r\n\r\nOK\r\n";
  struct Case {
    const char* name;
    std::string state;
    const char* switchCommand;
    std::string waitText;
  };
  const Case cases[] = {
      {"switching on", kOff, "AT+CCFC=0,3", "Идет включение переадресации"_cp},
      {"switching off", on, "AT+CCFC=0,4", "Идет выключение переадресации"_cp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTool rig({Enter, Chr('y')});
    auto& [keys, s, clk, p, t] = rig;
    t.image.SetCellNumber(ForwardCell, "89161234567");
    p.On("AT+CCFC=0,2", c.state);
    p.On("AT+CCFC=2,2", kOff);
    std::string waiting;
    auto& keysRef = keys;
    auto& screenRef = s;
    p.onCommand = [&](const std::string& command) {
      if (command.rfind(c.switchCommand, 0) != 0) return;
      waiting = screenRef.TextAt(40, 8, 32);
      keysRef.TypeAhead({Esc});
    };
    const auto start = clk.Now();
    EXPECT_THROW(CallForwardingScreen(t), OutOfKeys);  // the screen stays
    EXPECT_LT(clk.Now() - start, Millis(2000));
    EXPECT_EQ(waiting, Field(c.waitText, 32));
    EXPECT_EQ(s.TextAt(40, 8, 34), Field("Состояние неизвестно (прервано)"_cp, 34));
    EXPECT_EQ(s.AttrAt(40, 8), ColorAlert);
    EXPECT_EQ(Count(p.written, "AT+CCFC="), 3);  // not asked again
    EXPECT_EQ(s.CursorY(), 8);
  }
}

TEST_F(ScriptedForm, SwitchWithoutAnswerLeavesTheServiceUnknown) {
  port.On("AT+CCFC=0,2", kOff);
  port.On("AT+CCFC=2,2", kOff);  // AT+CCFC=0,3 gets no answer
  ASSERT_FALSE(Run({Enter, Chr('y')}));
  // No new queries after the silent switch: they would only wait as long again.
  EXPECT_EQ(port.written, "AT+CCFC=0,2\rAT+CCFC=2,2\rAT+CCFC=0,3,\"89161234567\"\r");
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Состояние неизвестно (нет ответа)"_cp, 34));
  EXPECT_EQ(screen.TextAt(40, 10, 34), Field("Выключена"_cp, 34));
  EXPECT_EQ(screen.CursorY(), 8);
}

TEST_F(ScriptedForm, DelayEditorKeys) {
  struct Case {
    const char* name;
    std::string keys;   // typed on row 4, then Esc leaves the form
    const char* delay;  // positions 4 and 5 of cell 98 afterwards
    bool written;
  };
  const Case cases[] = {
      {"2 5 Enter", "25\r", "25", true},
      {"3 Enter: 3 s", "3\r", "03", true},
      {"7 Enter: 7 s", "7\r", "07", true},
      {"3 0 Enter", "30\r", "30", true},
      {"0 9 Enter", "09\r", "09", true},
      {"3 5 is not written", "35\r\x1b", "20", false},
      {"3 5, Backspace twice, 1 2", "35\r\b\b12\r", "12", true},
      {"3 1 is not written", "31\r\x1b", "20", false},
      {"4 5 is not written", "45\r\x1b", "20", false},
      {"0 0 is not written", "00\r\x1b", "20", false},
      {"0 0, Backspace, 5", "00\b5\r", "05", true},
      {"a third digit is refused", "123\r", "12", true},
      {"Esc after 1 2", "12\x1b", "20", false},
      {"Enter alone", "\r", "20", false},
      {"lone 0 is no delay", "0\r\x1b", "20", false},
      {"letters refused", "1a5\r", "15", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTool rig({Down, Down, Down, Enter});
    auto& [keys, s, clk, p, t] = rig;
    keys.Type(c.keys);
    keys.Add({Esc});
    t.image.SetCellNumber(ModeCell, kModeText);
    t.image.SetCellName(ModeCell, SimSignature);
    p.On("AT+CCFC=", kOff);
    p.On("AT+CPBW=", kOk);
    CallForwardingScreen(t);
    EXPECT_EQ(std::string(t.image.CellNumber(ModeCell)).substr(4, 2), c.delay);
    const std::string write = "AT+CPBW=98,\"1100" + std::string(c.delay) + "0\",129,\"98.GSM.TRV\"\r";
    EXPECT_EQ(Count(p.written, "AT+CPBW="), c.written ? 1 : 0);
    if (c.written) {
      EXPECT_NE(p.written.find(write), std::string::npos) << p.written;
    }
    EXPECT_EQ(s.TextAt(40, 14, 2), c.delay);
    EXPECT_EQ(s.AttrAt(40, 14), ColorNormal);
  }
}

// The digits show as typed; beside them the range, red while the typed
// value is outside it (or a key was refused), so that nothing is dropped or
// changed without a word.
TEST_F(ScriptedForm, DelayFieldWhileTyping) {
  struct Case {
    const char* keys;
    const char* field;
    bool refused;
  };
  const Case cases[] = {
      {"", "  ", false},     {"3", "3 ", false},   {"35", "35", true},  {"00", "00", true},
      {"0", "0 ", false},    {"0\r", "0 ", true},  {"7", "7 ", false},  {"25", "25", false},
      {"123", "12", true},   {"12a", "12", true},  {"35\b", "3 ", false}, {"45", "45", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("keys ") + c.keys);
    ScriptedTool rig({Down, Down, Down, Enter});
    auto& [keys, s, clk, p, t] = rig;
    keys.Type(c.keys);
    t.image.SetCellNumber(ModeCell, kModeText);
    p.On("AT+CCFC=", kOff);
    EXPECT_THROW(CallForwardingScreen(t), OutOfKeys);
    EXPECT_EQ(s.TextAt(40, 14, 2), c.field);
    EXPECT_EQ(s.AttrAt(40, 14), ColorPanel);
    EXPECT_EQ(s.AttrAt(41, 14), ColorPanel);
    EXPECT_EQ(s.TextAt(43, 14, 24), std::string("с  допустимо от 01 до 30"_cp));
    EXPECT_EQ(s.AttrAt(46, 14), c.refused ? ColorAlert : ColorNormal);
    EXPECT_EQ(s.CursorX(), 40 + static_cast<int>(std::string(c.field).find_last_not_of(' ') + 1));
  }
}

TEST(ForwardingScreen, NeedsAConnection) {
  ScriptedTool rig({Enter}, false);
  auto& [keys, s, clk, p, t] = rig;
  CallForwardingScreen(t);
  EXPECT_TRUE(p.written.empty());
  EXPECT_EQ(keys.KeysLeft(), 0u);  // the error box took its key
}

// Against the simulated gateway, through its serial port; the image holds
// the gateway's SIM (forwarding number 89161234567, mode string 1100200).
struct SimulatedForm : ::testing::Test, test::FormsBench {};

TEST_F(SimulatedForm, SwitchUnconditionalOnAndOffAgain) {
  for (bool blankAfterComma : {false, true}) {
    SCOPED_TRACE(blankAfterComma ? "+CCFC: 1, 1," : "+CCFC: 1,1,");
    gateway.Options().blankAfterComma = blankAfterComma;
    gateway.Forwarding(0) = {};
    console.Add({Enter, Chr('y')});
    EXPECT_THROW(CallForwardingScreen(tool), OutOfKeys);
    EXPECT_TRUE(gateway.Forwarding(0).active);
    EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Включена"_cp, 34));
    EXPECT_EQ(tool.image.CellNumber(ForwardCell), "89161234567");
    EXPECT_EQ(screen.CursorY(), 8);

    // The screen anew: the network now reports the service on.
    console.Add({Enter, Chr('y')});
    EXPECT_THROW(CallForwardingScreen(tool), OutOfKeys);
    EXPECT_FALSE(gateway.Forwarding(0).active);
    EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Выключена"_cp, 34));
  }
}

TEST_F(SimulatedForm, NoReplyForwardingTakesTheDelay) {
  console.Add({Down, Down, Down, Enter});
  console.Type("15\r");
  console.Add({test::Up, test::Up, Enter, Chr('y'), Esc});
  CallForwardingScreen(tool);
  EXPECT_EQ(gateway.Number(98), "1100150");
  EXPECT_TRUE(gateway.Forwarding(2).active);
  EXPECT_EQ(gateway.Forwarding(2).delaySeconds, 15);
  EXPECT_EQ(screen.TextAt(40, 10, 34), Field("Включена"_cp, 34));
  EXPECT_NE(port.written.find("AT+CCFC=2,3,\"89161234567\",,,,,15\r"), std::string::npos);
}

TEST_F(SimulatedForm, SilentGatewayEndsEveryWait) {
  gateway.Options().forwardingSilent = true;
  console.Add({Esc});
  const auto start = clock.Now();
  CallForwardingScreen(tool);
  EXPECT_LT(clock.Now() - start, Millis(82000));
  EXPECT_EQ(screen.TextAt(40, 8, 34), Field("Состояние неизвестно (нет ответа)"_cp, 34));
  EXPECT_EQ(screen.TextAt(40, 10, 34), Field("Состояние неизвестно (нет ответа)"_cp, 34));
}

}  // namespace
}  // namespace tv
