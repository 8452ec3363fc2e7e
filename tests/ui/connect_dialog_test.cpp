// The connection dialog and the SIM initialisation against the simulated
// gateway: keys from a script, time on a manual clock.
#include "ui/connect_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "core/pad_text.h"
#include "gateway/faults.h"
#include "gateway/journal.h"
#include "gateway/transfers.h"
#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/scripted_console.h"
#include "tests/support/simulated_tool.h"
#include "ui/exchange_error.h"
#include "ui/tool.h"

namespace tv {
namespace {

using namespace std::chrono_literals;
using namespace tv::test;

// Records the progress figure every time the screen is shown.
class RecordingConsole : public ScriptedConsole {
 public:
  void Present(const Screen& s) override {
    ScriptedConsole::Present(s);
    progress.push_back(s.TextAt(31, 22, 4));
  }
  std::vector<std::string> progress;
};

// One tool on the simulated gateway, in a scratch working directory (where
// the journal of an initialisation is kept).
struct Rig : SimulatedTool<RecordingConsole> {
  ScratchDir dir;
  sim::GatewayModel& model{gateway};

  void Connect(std::vector<KeyPress> keys) {
    console.Add(std::move(keys));
    ConnectToDevice(tool);
    EXPECT_EQ(console.KeysLeft(), 0u);
  }
  // Runs until the dialog waits for a key the script does not give, so that
  // the screen can be looked at while the dialog shows it.
  void RunUntilWait(std::vector<KeyPress> keys) {
    console.Add(std::move(keys));
    EXPECT_THROW(ConnectToDevice(tool), OutOfKeys);
  }
  // The commands written, split after their CRs.
  std::vector<std::string> Commands() const {
    std::vector<std::string> out;
    std::string cur;
    for (char c : port.written) {
      cur += c;
      if (c == '\r') {
        out.push_back(cur);
        cur.clear();
      }
    }
    return out;
  }
};

std::string ReadOf(int cell) {
  return std::string("AT+CPBR=") + char('0' + cell / 10) + char('0' + cell % 10) + "\r";
}

// "AT" first: the modem may still be waking when it is addressed.
const std::string kProbe = "AT\r";

std::vector<std::string> FullRead() {
  std::vector<std::string> out{kProbe, ReadOf(98)};
  for (int i = 1; i <= 99; ++i) out.push_back(ReadOf(i));
  return out;
}

struct ConnectTest : ::testing::Test, Rig {};

TEST_F(ConnectTest, DialogLayout) {
  RunUntilWait({});
  struct Text {
    int x, y;
    std::string text;
    uint8_t attr;
  };
  const Text texts[] = {
      {20, 12, "**** Установка связи с устройством ****"_cp, ColorPanel},
      {20, 14, "Порт:"_cp, ColorPanel},
      {28, 14, "COM1 ", ColorSelected},
      {40, 14, "Устройство:"_cp, ColorPanel},
      {53, 14, "ШЛЮЗ 1"_cp, ColorPanel},
      {12, 15, "COM1: simulated gateway" + std::string(57 - 23, ' '), ColorPanel},
      {12, 16, "Стрелки - Выбор устройства"_cp, ColorPanel},
      {42, 16, "ENTER - Инициализация связи "_cp, ColorPanel},
  };
  for (const auto& t : texts) {
    SCOPED_TRACE(t.text);
    EXPECT_EQ(screen.TextAt(t.x, t.y, static_cast<int>(t.text.size())), t.text);
    EXPECT_EQ(screen.AttrAt(t.x, t.y), t.attr);
  }
  EXPECT_EQ(screen.CharAt(10, 10), line::SingleTopLeft);
  EXPECT_EQ(screen.CharAt(70, 17), line::SingleBottomRight);
}

TEST_F(ConnectTest, FirstConnectOpensAddressesAndReadsTheBook) {
  const std::string before = screen.Dump();
  RunUntilWait({Enter});
  EXPECT_EQ(port.opens, std::vector<int>{0});
  EXPECT_EQ(port.lineLog, (std::vector<std::string>{"DTR=1", "RTS=1"}));
  EXPECT_EQ(Commands(), FullRead());
  EXPECT_TRUE(tool.state.deviceConnected);
  EXPECT_EQ(screen.TextAt(20, 14, 39), std::string("Для продолжения нажмите любую клавишу. "_cp));
  EXPECT_EQ(screen.AttrAt(20, 14), ColorSelected);
  for (int cell : {1, 3, 50, 98, 99}) {
    SCOPED_TRACE(cell);
    EXPECT_EQ(tool.image.CellNumber(cell), model.Number(cell));
    EXPECT_EQ(tool.image.CellName(cell), model.Name(cell));
  }
  EXPECT_EQ(tool.image.CellNumber(0), "");
}

TEST_F(ConnectTest, SecondConnectKeepsThePortAndReadsAgain) {
  const std::string before = screen.Dump();
  Connect({Enter, Chr(' ')});
  EXPECT_EQ(screen.Dump(), before);
  EXPECT_EQ(screen.Attribute(), ColorNormal);
  model.SetEntry(5, "555", "05");
  port.written.clear();
  Connect({Enter, Chr(' ')});
  EXPECT_EQ(port.opens, std::vector<int>{0});
  EXPECT_EQ(Commands(), FullRead());
  EXPECT_EQ(port.lineLog, (std::vector<std::string>{"DTR=1", "RTS=1", "DTR=1", "RTS=1"}));
  EXPECT_EQ(tool.image.CellNumber(5), "555");
  EXPECT_TRUE(tool.state.deviceConnected);
}

TEST_F(ConnectTest, ArrowKeys) {
  struct Case {
    const char* name;
    int port, gateway;
    bool focusOnGateway;
    std::vector<KeyPress> keys;
    int portAfter, gatewayAfter;
    bool connectedAfter;
  };
  const Case cases[] = {
      // Esc leaves the dialog: the gateway whose lines are driven and whose
      // image is shown stays the tool's, whatever was browsed.
      {"Up on COM16", 15, 0, false, {Up, Esc}, 15, 0, true},
      {"Down on COM1", 0, 0, false, {Down, Esc}, 0, 0, true},
      {"Up on COM1", 0, 0, false, {Up, Esc}, 0, 0, true},
      {"Down on COM10", 9, 0, false, {Down, Esc}, 9, 0, true},
      {"Up on gateway 1", 0, 0, true, {Up, Esc}, 0, 0, true},
      {"Up on gateway 4", 0, 3, true, {Up, Esc}, 0, 3, true},
      {"Left then Up", 0, 0, true, {Left, Up, Esc}, 0, 0, true},
      {"Right then Down", 0, 2, false, {Right, Down, Esc}, 0, 2, true},
      {"other keys ignored", 4, 1, false, {Chr('x'), PgUp, Left, Esc}, 4, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.tool.state.deviceConnected = true;
    r.tool.state.portIndex = c.port;
    r.tool.state.gatewayIndex = c.gateway;
    r.tool.state.focusOnGateway = c.focusOnGateway;
    r.Connect(c.keys);
    EXPECT_EQ(r.tool.state.portIndex, c.portAfter);
    EXPECT_EQ(r.tool.state.gatewayIndex, c.gatewayAfter);
    EXPECT_EQ(r.tool.state.deviceConnected, c.connectedAfter);
    EXPECT_TRUE(r.port.opens.empty());
    EXPECT_TRUE(r.port.written.empty());
  }
}

TEST_F(ConnectTest, FieldsRedrawInPlace) {
  tool.state.portIndex = 9;
  RunUntilWait({Down, Right});
  EXPECT_EQ(screen.TextAt(28, 14, 5), "COM9 ");
  EXPECT_EQ(screen.AttrAt(28, 14), ColorPanel);
  EXPECT_EQ(screen.TextAt(53, 14, 6), std::string("ШЛЮЗ 1"_cp));
  EXPECT_EQ(screen.AttrAt(53, 14), ColorSelected);
  EXPECT_EQ(screen.TextAt(12, 15, 6), "COM9: ");
}

TEST_F(ConnectTest, ChosenPortAndGatewayAreUsed) {
  Connect({Up, Up, Right, Up, Up, Up, Enter, Chr(' ')});
  EXPECT_EQ(port.opens, std::vector<int>{2});
  EXPECT_EQ(port.lineLog, (std::vector<std::string>{"DTR=0", "RTS=0"}));
  EXPECT_TRUE(tool.state.deviceConnected);
  EXPECT_FALSE(tool.state.fileLoaded);
}

TEST(ConnectFailures, Table) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> setup;
    int error;
    bool connectedAfter;
    bool portHeld;
    int cellsRead;  // cells of 1..99 holding a text afterwards (98 is read first)
  };
  const Case cases[] = {
      {"port absent", [](Rig& r) { r.port.absentPorts.insert(0); }, xerr::PortBusy, false, false, 0},
      {"port held", [](Rig& r) { r.port.heldPorts.insert(0); }, xerr::PortBusy, false, false, 0},
      {"port cannot be configured", [](Rig& r) { r.port.unconfigurablePorts.insert(0); }, xerr::SystemError,
       false, true, 0},
      {"lines cannot be driven", [](Rig& r) { r.port.linesFail = true; }, xerr::SystemError, true, true, 0},
      {"gateway silent", [](Rig& r) { r.model.Options().faults.silentAfterCommands = 0; }, xerr::NoAnswer,
       false, true, 0},
      // The probe is the first command: then 98, then 1, 2, ...
      {"silent after 50 commands", [](Rig& r) { r.model.Options().faults.silentAfterCommands = 50; },
       xerr::NoAnswer, false, true, 49},
      {"line dies after 3 commands", [](Rig& r) { r.model.Options().faults.hangUpAfterCommands = 3; },
       xerr::NoAnswer, false, true, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      Rig shown;
      c.setup(shown);
      shown.RunUntilWait({Enter});
      int column = 0;
      const char* message = ExchangeErrorMessage(c.error, &column);
      EXPECT_EQ(shown.screen.TextAt(column, 14, static_cast<int>(std::strlen(message))), message);
    }
    Rig r;
    c.setup(r);
    const std::string before = r.screen.Dump();
    r.Connect({Enter, Chr(' ')});
    EXPECT_EQ(r.screen.Dump(), before);
    EXPECT_EQ(r.tool.state.deviceConnected, c.connectedAfter);
    EXPECT_EQ(r.port.IsOpen(), c.portHeld);
    int cells = 0;
    for (int i = 1; i <= 99; ++i) cells += r.tool.image.CellName(i).empty() ? 0 : 1;
    EXPECT_EQ(cells, c.cellsRead);
  }
}

TEST(ConnectFailures, SilentGatewayFailsAfterTheWakeGrace) {
  Rig r;
  r.model.Options().faults.silentAfterCommands = 0;
  const auto start = r.clock.Now();
  r.Connect({Enter, Chr(' ')});
  // A few seconds of probes for a modem that may be waking, then the box;
  // nothing is read from a gateway that never answered.
  EXPECT_GE(r.clock.Now() - start, 4000ms);
  EXPECT_LE(r.clock.Now() - start, 5000ms);
  for (const std::string& command : r.Commands()) EXPECT_EQ(command, kProbe);
}

TEST(ConnectFailures, DtrFailureLeavesRtsUntouched) {
  Rig r;
  ASSERT_EQ(r.port.Open(0), 0);
  r.port.linesFail = true;
  EXPECT_EQ(SelectGateway(r.tool.session, 0), xerr::SystemError);
  EXPECT_EQ(r.port.lineCalls, std::vector<std::string>{"DTR=1"});
  r.port.linesFail = false;
  r.port.rtsFails = true;
  EXPECT_EQ(SelectGateway(r.tool.session, 1), xerr::SystemError);
  EXPECT_EQ(r.port.lineLog, std::vector<std::string>{"DTR=0"});
}

TEST(SelectGatewayLines, PerGateway) {
  const std::vector<std::string> expected[] = {
      {"DTR=1", "RTS=1"}, {"DTR=0", "RTS=1"}, {"DTR=1", "RTS=0"}, {"DTR=0", "RTS=0"}};
  for (int g = 0; g < GatewayCount; ++g) {
    SCOPED_TRACE(g);
    Rig r;
    ASSERT_EQ(OpenPort(r.tool.session, 0), 0);
    EXPECT_EQ(SelectGateway(r.tool.session, g), 0);
    EXPECT_EQ(r.port.lineLog, expected[g]);
  }
}

TEST(ConnectSignature, MissingSignatureAndIInitialisesThenReads) {
  for (int letter : {'I', 'i'}) {
    SCOPED_TRACE(static_cast<char>(letter));
    Rig r;
    r.model.FillBlank();
    r.model.Options().echo = true;  // a modem just after power-on
    {
      Rig shown;
      shown.model.FillBlank();
      shown.RunUntilWait({Enter});
      EXPECT_EQ(shown.screen.TextAt(20, 14, 39), std::string("     SIM-Карта не инициализирована     "_cp));
      EXPECT_EQ(shown.screen.TextAt(20, 15, 39), std::string("  Для начала инициализации нажмите I   "_cp));
      EXPECT_EQ(shown.screen.AttrAt(20, 15), ColorAlert);
    }
    const std::string before = r.screen.Dump();
    r.Connect({Enter, Chr(letter), Chr(' ')});
    const auto commands = r.Commands();
    ASSERT_EQ(commands.size(), 2u + 99u + 99u);
    EXPECT_EQ(commands[0], kProbe);
    EXPECT_EQ(commands[1], ReadOf(98));
    for (int i = 1; i <= 99; ++i) EXPECT_EQ(commands[1 + i].rfind("AT+CPBW=", 0), 0u) << i;
    EXPECT_EQ(commands[1 + 5], "AT+CPBW=05,\"0\",129,\"05\"\r");
    EXPECT_EQ(commands[1 + 98], "AT+CPBW=98,\"0000100\",129,\"98.GSM.TRV\"\r");
    EXPECT_EQ(commands[1 + 98].size(), 38u);
    const auto reads = FullRead();
    EXPECT_EQ(std::vector<std::string>(commands.begin() + 101, commands.end()),
              std::vector<std::string>(reads.begin() + 2, reads.end()));
    EXPECT_TRUE(r.tool.state.deviceConnected);
    EXPECT_TRUE(r.tool.image.HasSignature());
    EXPECT_EQ(r.tool.image.CellNumber(98), "0000100");
    EXPECT_EQ(r.tool.image.CellName(7), "07");
    EXPECT_EQ(r.tool.image.CellNumber(7), "0");
    EXPECT_EQ(r.screen.Dump(), before);
    // The progress line showed 100% just before the panel was taken away.
    ASSERT_FALSE(r.console.progress.empty());
    bool sawFull = false;
    for (const auto& p : r.console.progress) sawFull = sawFull || p == "100%";
    EXPECT_TRUE(sawFull);
  }
}

TEST(ConnectSignature, AnyOtherKeyDeclines) {
  // PgUp's scan code is the code of 'I': an extended key never counts as the letter.
  for (KeyPress k : {Chr('x'), Chr(0x88 /* cp866 capital I */), Esc, Enter, Down, PgUp, Ext('i')}) {
    SCOPED_TRACE(static_cast<int>(k.code));
    Rig r;
    r.model.SetEntry(98, "0000100", "98.GSM");
    r.Connect({Enter, k});
    EXPECT_FALSE(r.tool.state.deviceConnected);
    EXPECT_EQ(r.Commands(), (std::vector<std::string>{kProbe, ReadOf(98)}));
    EXPECT_EQ(r.tool.image.CellName(98), "98.GSM");
    EXPECT_EQ(r.tool.image.CellName(1), "");
  }
}

// On a Russian keyboard layout the key of I types Ш: it starts the
// initialisation like I; the key of Y (Н) and PgUp (scan code of 'I') do not.
TEST(ConnectSignature, TheKeyOfIOnARussianLayoutInitialises) {
  struct Case {
    const char* name;
    KeyPress key;
    bool initialises;
  };
  const std::vector<Case> cases = {
      {"capital Sha", Chr(0x98), true},
      {"small sha", Chr(0xE8), true},
      {"capital En, the key of Y", Chr(0x8D), false},
      {"PgUp", PgUp, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r;
    r.model.FillBlank();
    // After the book is read, a key closes the dialog.
    r.Connect(c.initialises ? std::vector{Enter, c.key, Chr(' ')} : std::vector{Enter, c.key});
    EXPECT_EQ(r.tool.state.deviceConnected, c.initialises);
    EXPECT_EQ(r.tool.image.HasSignature(), c.initialises);
    EXPECT_EQ(r.Commands().size(), c.initialises ? 2u + 99u + 99u : 2u);
  }
}

TEST(ConnectSignature, LongerNameWithTheSignaturePasses) {
  Rig r;
  r.model.SetEntry(98, "0000100", "98.GSM.TRV.X");
  r.Connect({Enter, Chr(' ')});
  EXPECT_TRUE(r.tool.state.deviceConnected);
  EXPECT_EQ(r.Commands().size(), 101u);
}

TEST(InitialiseSim, ScreenIsRestoredAndNamesHaveTwoDigits) {
  Rig r;
  ASSERT_EQ(r.port.Open(0), 0);
  r.screen.PutText(1, 20, "under the panel");
  const std::string before = r.screen.Dump();
  EXPECT_TRUE(InitialiseSim(r.tool));
  EXPECT_EQ(r.screen.Dump(), before);
  EXPECT_EQ(r.model.Name(1), "01");
  EXPECT_EQ(r.model.Name(9), "09");
  EXPECT_EQ(r.model.Name(98), "98.GSM.TRV");
  EXPECT_EQ(r.model.Number(99), "0");
  EXPECT_EQ(r.model.CommandsSeen(), 99);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Modems as they are in the field, one behaviour at a time and all at once.
TEST(ConnectRealModems, BlankSimAnsweringNotFoundIsInitialisedWholeThroughEveryFault) {
  Rig r;
  r.model.FillBlank();
  sim::GatewayOptions& o = r.model.Options();
  o.echo = true;
  o.faults.cmeNotFound = true;  // cell 98 is "not found", not an error
  o.faults.urcPercent = 33;
  o.faults.dropWhileBusy = true;
  o.faults.writeDelayMin = 300ms;
  o.faults.writeDelayMax = 500ms;
  r.Connect({Enter, Chr('I'), Chr(' ')});
  EXPECT_TRUE(r.tool.state.deviceConnected);
  for (int i = 1; i <= 99; ++i) {
    SCOPED_TRACE(i);
    const std::string digits{static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10)};
    EXPECT_EQ(r.model.Number(i), i == 98 ? "0000100" : "0");
    EXPECT_EQ(r.model.Name(i), i == 98 ? "98.GSM.TRV" : digits);
    EXPECT_EQ(r.tool.image.CellNumber(i), r.model.Number(i));
    EXPECT_EQ(r.tool.image.CellName(i), r.model.Name(i));
  }
}

TEST(ConnectRealModems, AWakingModemIsWaitedForAndItsLateReplyNotTaken) {
  Rig r;
  r.model.Options().faults.wakeDelay = 2000ms;
  r.Connect({Enter, Chr(' ')});
  EXPECT_TRUE(r.tool.state.deviceConnected);
  for (int cell : {1, 5, 98, 99}) {
    SCOPED_TRACE(cell);
    EXPECT_EQ(r.tool.image.CellNumber(cell), r.model.Number(cell));
    EXPECT_EQ(r.tool.image.CellName(cell), r.model.Name(cell));
  }
}

// A modem slow to wake whose answer to the first "AT" comes only after the
// second "AT" was sent, a moment before the second one's own answer (the
// gateway answers every command 100 ms after it). The connection waits for a
// quiet line before the first read: otherwise the second "OK" would be taken
// for cell 98's answer, and the SIM for one without the gateway's settings.
class LateFirstAnswer : public SerialPort {
 public:
  LateFirstAnswer(sim::SimSerialPort& line, ManualClock& clock) : line_(line), clock_(clock) {}
  int Open(int portIndex) override { return line_.Open(portIndex); }
  bool IsOpen() const override { return line_.IsOpen(); }
  bool SetDtr(bool on) override { return line_.SetDtr(on); }
  bool SetRts(bool on) override { return line_.SetRts(on); }
  void DiscardInput() override { line_.DiscardInput(); }
  std::string Describe(int portIndex) const override { return line_.Describe(portIndex); }
  void WriteBytes(const uint8_t* data, std::size_t count) override {
    const std::string command(reinterpret_cast<const char*>(data), count);
    if (command == "AT\r" && ++probes_ == 1) return;  // answered late, below
    if (command == "AT\r" && probes_ == 2) {
      late_ = "\r\nOK\r\n";
      lateAt_ = clock_.Now() + Millis(10);
    }
    line_.WriteBytes(data, count);
  }
  ReadStatus ReadByte(uint8_t& byte) override {
    if (late_.empty()) return line_.ReadByte(byte);
    if (clock_.Now() < lateAt_) clock_.Advance(std::chrono::duration_cast<Millis>(lateAt_ - clock_.Now()));
    byte = static_cast<uint8_t>(late_.front());
    late_.erase(0, 1);
    return ReadOk;
  }

 private:
  sim::SimSerialPort& line_;
  ManualClock& clock_;
  int probes_ = 0;
  std::string late_;
  Clock::TimePoint lateAt_{};
};

TEST(ConnectRealModems, AnAnswerToAnEarlierProbeIsNotTakenForCell98) {
  sim::GatewayModel model;
  model.Options().commandLatency = 100ms;
  ManualClock clock;
  sim::SimSerialPort line(model, clock);
  LateFirstAnswer port(line, clock);
  ScriptedConsole console({Enter, Chr(' ')});
  Screen screen(&console);
  Tool tool(screen, clock, port);
  ConnectToDevice(tool);
  EXPECT_EQ(console.KeysLeft(), 0u);
  EXPECT_TRUE(tool.state.deviceConnected);
  EXPECT_TRUE(tool.image.HasSignature());
  for (int cell : {1, 98, 99}) {
    SCOPED_TRACE(cell);
    EXPECT_EQ(tool.image.CellNumber(cell), model.Number(cell));
    EXPECT_EQ(tool.image.CellName(cell), model.Name(cell));
  }
}

TEST(ConnectRealModems, AnEntryOfAnotherIndexIsReportedNeverStored) {
  {
    Rig shown;
    shown.model.Options().faults.wrongIndex = {13};
    shown.RunUntilWait({Enter});
    EXPECT_NE(shown.screen.TextAt(14, 14, 53).find("Неверный ответ устройства"_cp), std::string::npos);
    EXPECT_NE(shown.screen.TextAt(14, 15, 53).find("Ячейка 13: ответ для ячейки 14"_cp), std::string::npos);
  }
  Rig r;
  r.model.Options().faults.wrongIndex = {13};
  r.Connect({Enter, Chr(' ')});
  EXPECT_EQ(r.tool.image.CellNumber(13), "");
  EXPECT_EQ(r.tool.image.CellNumber(12), r.model.Number(12));
  EXPECT_FALSE(r.tool.state.deviceConnected);
}

TEST(ConnectRealModems, ZeroBytesInsideTextsAreKeptByteForByte) {
  // GSM '@' is byte 0: in the mode string it must not hide the signature.
  Rig r;
  r.model.Options().faults.gsmNul = true;
  r.model.SetEntry(98, "00@0100", "98.GSM.TRV");
  r.model.SetEntry(5, "0", "A@B");
  r.Connect({Enter, Chr(' ')});
  EXPECT_TRUE(r.tool.state.deviceConnected);
  EXPECT_EQ(r.tool.image.CellNumber(98), std::string("00\0"
                                                     "0100",
                                                     7));
  EXPECT_EQ(r.tool.image.CellName(5), std::string("A\0B", 3));
}

TEST(ConnectRealModems, APortThatHungUpIsOpenedAgain) {
  Rig r;
  r.Connect({Enter, Chr(' ')});
  ASSERT_TRUE(r.tool.state.deviceConnected);
  r.model.Options().faults.hangUpAfterCommands = 0;
  uint8_t byte = 0;
  EXPECT_EQ(r.port.ReadByte(byte), ReadFailed);
  ASSERT_TRUE(r.port.Lost());
  r.Connect({Enter, Chr(' ')});
  EXPECT_EQ(r.port.opens, (std::vector<int>{0, 0}));
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Types a key while the book is being read, as an impatient operator does.
struct ImpatientConsole : RecordingConsole {
  void Present(const Screen& s) override {
    RecordingConsole::Present(s);
    if (keysRead == 1 && !typed) {
      typed = true;
      TypeAhead({Chr('x')});
    }
  }
  bool typed = false;
};

TEST(ConnectRealModems, AKeyTypedWhileReadingDoesNotDismissTheEnd) {
  ImpatientConsole console;
  Screen screen{&console};
  ManualClock clock;
  sim::GatewayModel model;
  sim::SimSerialPort port{model, clock};
  Tool tool{screen, clock, port};
  console.Add({Enter});
  EXPECT_THROW(ConnectToDevice(tool), OutOfKeys);  // still waiting for its key
  EXPECT_TRUE(console.typed);
  EXPECT_EQ(screen.TextAt(20, 14, 39), std::string("Для продолжения нажмите любую клавишу. "_cp));
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Every connect starts from an empty image: a cell erased on the SIM reads
// empty, and a connect that fails halfway keeps only what it read, never
// the previous gateway's cells behind it.
TEST(ConnectImage, EachConnectStartsFromAnEmptyImage) {
  Rig r;
  r.Connect({Enter, Chr(' ')});
  ASSERT_EQ(r.tool.image.CellNumber(5), r.model.Number(5));
  r.model.EraseEntry(5);
  r.Connect({Enter, Chr(' ')});
  EXPECT_EQ(r.tool.image.CellNumber(5), "");
  EXPECT_EQ(r.tool.image.CellName(5), "");

  // "AT", cell 98 and cells 1..47 answered, then nothing.
  r.model.Options().faults.silentAfterCommands = r.model.CommandsSeen() + 49;
  r.Connect({Enter, Chr(' ')});
  EXPECT_FALSE(r.tool.state.deviceConnected);
  EXPECT_EQ(r.tool.image.CellName(47), r.model.Name(47));
  for (int cell : {48, 60, 97, 99}) {
    SCOPED_TRACE(cell);
    EXPECT_EQ(r.tool.image.CellNumber(cell), "");
    EXPECT_EQ(r.tool.image.CellName(cell), "");
  }
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

TEST(ConnectImage, AChangedLoadedFileIsNotDroppedUnasked) {
  for (KeyPress answer : {Chr('n'), Chr('y')}) {
    SCOPED_TRACE(static_cast<char>(answer.code));
    Rig r;
    r.tool.state.fileLoaded = true;
    r.tool.state.unsavedEdits = true;
    r.tool.image.SetCellNumber(41, "8495");
    const bool goOn = answer.code == 'y';
    r.Connect(goOn ? std::vector<KeyPress>{Enter, answer, Chr(' ')} : std::vector<KeyPress>{Enter, answer});
    EXPECT_EQ(r.port.opens.size(), goOn ? 1u : 0u);
    EXPECT_EQ(r.tool.state.fileLoaded, !goOn);
    EXPECT_EQ(r.tool.state.unsavedEdits, !goOn);
    EXPECT_EQ(r.tool.image.CellNumber(41), goOn ? r.model.Number(41) : "8495");
  }
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// The journal of a write to COM1 ШЛЮЗ 1 that stopped at line 20 of 99.
TransferJournal StoppedWrite() {
  TransferJournal j;
  j.device = "simulated gateway";
  j.file = "gw1_20261210.set";
  j.written = 19;
  j.total = 99;
  return j;
}

// A write that stopped part way is told at every connection to that gateway,
// under the dialog, before the book is read; D (В on a Russian layout)
// forgets it, any other key keeps it for the next time.
TEST(ConnectJournal, AnUnfinishedWriteIsToldUntilDismissed) {
  struct Case {
    const char* name;
    KeyPress key;
    bool kept;
  } cases[] = {
      {"D", Chr('D'), false},
      {"d", Chr('d'), false},
      {"Russian layout", Chr(0xA2 /* cp866 в */), false},
      {"space", Chr(' '), true},
      {"Esc", Esc, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      Rig shown;
      ASSERT_TRUE(WriteJournal(StoppedWrite()));
      shown.RunUntilWait({Enter});
      EXPECT_EQ(shown.screen.TextAt(19, 20, 46),
                std::string("Прошлая запись файла в SIM-Карту не завершена:"_cp));
      const std::string where = "остановлена на строке 20 из 99, файл gw1_20261210.set"_cp;
      EXPECT_EQ(shown.screen.TextAt(19, 21, static_cast<int>(where.size())), where);
      EXPECT_EQ(shown.screen.AttrAt(19, 20), ColorAlert);
      // Nothing is read before the notice is answered.
      EXPECT_EQ(shown.Commands(), (std::vector<std::string>{kProbe, ReadOf(98)}));
    }
    Rig r;
    ASSERT_TRUE(WriteJournal(StoppedWrite()));
    r.Connect({Enter, c.key, Chr(' ')});
    EXPECT_TRUE(r.tool.state.deviceConnected);
    TransferJournal left;
    EXPECT_EQ(ReadJournal(0, 0, left), c.kept);
  }
}

// Another gateway's journal is not told at this one's connection.
TEST(ConnectJournal, AnotherGatewaysJournalIsNotTold) {
  Rig r;
  TransferJournal other = StoppedWrite();
  other.gatewayIndex = 1;
  ASSERT_TRUE(WriteJournal(other));
  r.Connect({Enter, Chr(' ')});
  EXPECT_TRUE(r.tool.state.deviceConnected);
  EXPECT_TRUE(ScratchDir::Exists(JournalPath(0, 1)));
}

// The wait for a modem that is waking (up to 4 s) says what it waits for
// and how to leave it; Esc leaves it at once, without an error box.
TEST(ConnectJournal, TheWakeWaitSaysWhatItWaitsForAndEscLeavesIt) {
  Rig r;
  r.model.Options().faults.silentAfterCommands = 0;
  std::string shown;
  r.console.escWhen = [&r, &shown] {
    shown = r.screen.TextAt(12, 13, 57);
    return r.model.CommandsSeen() == 1;
  };
  r.Connect({Enter});
  EXPECT_NE(shown.find("Ожидание ответа шлюза (до 4 с). ESC - прервать"_cp), std::string::npos) << shown;
  EXPECT_FALSE(r.tool.state.deviceConnected);
  EXPECT_EQ(r.Commands(), std::vector<std::string>{kProbe});
}

// A connection says what it did, and to which gateway: the book read, and
// the initialisation.
TEST(ConnectJournal, TheEndSaysWhatWasDone) {
  for (bool blank : {false, true}) {
    SCOPED_TRACE(blank);
    Rig r;
    if (blank) r.model.FillBlank();
    r.RunUntilWait(blank ? std::vector<KeyPress>{Enter, Chr('I')} : std::vector<KeyPress>{Enter});
    const std::string did = blank ? "COM1 ШЛЮЗ 1: SIM инициализирована, прочитано 99 ячеек"_cp
                                  : "COM1 ШЛЮЗ 1: Прочитано 99 ячеек"_cp;
    EXPECT_NE(r.screen.TextAt(12, 13, 57).find(did), std::string::npos) << r.screen.TextAt(12, 13, 57);
    EXPECT_EQ(r.screen.TextAt(20, 14, 38), std::string("Для продолжения нажмите любую клавишу."_cp));
    // A completed initialisation leaves no journal.
    EXPECT_TRUE(ScratchDir::Entries().empty());
  }
}

// Esc during the initialisation asks whether to stop after the cell written;
// stopping leaves the journal of an initialisation, and the next connection
// tells it.
TEST(ConnectJournal, EscDuringTheInitialisationStopsAfterTheCellWritten) {
  {
    Rig shown;
    shown.model.FillBlank();
    // Two commands address the gateway; Esc comes once ten cells are written.
    shown.console.escWhen = [&shown] { return shown.model.CommandsSeen() == 2 + 10; };
    shown.RunUntilWait({Enter, Chr('I')});
    EXPECT_EQ(shown.screen.TextAt(18, 23, 57),
              PadText("Остановить после этой ячейки? Останется смесь [Y/N]"_cp, 57, 2));
  }
  Rig r;
  r.model.FillBlank();
  r.console.escWhen = [&r] { return r.model.CommandsSeen() == 2 + 10; };
  r.Connect({Enter, Chr('I'), Chr('y'), Chr(' ')});
  EXPECT_EQ(r.model.CommandsSeen(), 2 + 10);
  EXPECT_FALSE(r.tool.state.deviceConnected);
  TransferJournal journal;
  ASSERT_TRUE(ReadJournal(0, 0, journal));
  EXPECT_TRUE(journal.initialisation);
  EXPECT_EQ(journal.written, 10);

  r.RunUntilWait({Enter});
  EXPECT_EQ(r.screen.TextAt(19, 20, 45), std::string("Прошлая инициализация SIM-Карты не завершена:"_cp));
  EXPECT_EQ(r.screen.TextAt(19, 21, 30), std::string("остановлена на ячейке 11 из 99"_cp));
}

}  // namespace
}  // namespace tv
