// The AT engine against reply sequences that real modems send: echoes,
// unsolicited lines between and inside replies, line ends of every kind,
// replies split over time, stale replies and noise. Simulated clock only.
#include "device/at_engine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/scripted_modem.h"

namespace tv {
namespace {

using namespace std::chrono_literals;
using test::ScriptedModem;

TEST(AtLines, FinalResultsAndClassification) {
  struct Case {
    const char* line;
    LineKind kind;  // for AT+CPBR=05 expecting "+CPBR:"
  };
  const Case cases[] = {
      {"", LineKind::Blank},
      {"   ", LineKind::Blank},
      {"OK", LineKind::Final},
      {"OK ", LineKind::Final},
      {"ERROR", LineKind::Final},
      {"+CME ERROR: 22", LineKind::Final},
      {"+CMS ERROR: 500", LineKind::Final},
      {"NO CARRIER", LineKind::Unsolicited},  // a caller hung up: ends no phonebook read
      {"BUSY", LineKind::Unsolicited},
      {"AT+CPBR=05", LineKind::Echo},
      {"at+cpbr=05", LineKind::Echo},
      {"AT+CPBR=05AT+CPBR=05", LineKind::Echo},
      {"+CPBR: 5,\"0\",129,\"05\"", LineKind::Expected},
      {"RING", LineKind::Unsolicited},
      {"+CREG: 5,\"1A2B\",\"0C3D\"", LineKind::Unsolicited},
      {"^BOOT: 24591766,0,0,0,75", LineKind::Unsolicited},
      {"+CUSD: 0,\"Balance OK\",15", LineKind::Unsolicited},
      {"OKAY", LineKind::Unsolicited},  // not a final result: "OK" is the whole line
      {"OK\",15", LineKind::Unsolicited},
      {"Call Ready", LineKind::Unsolicited},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(ClassifyLine(c.line, "AT+CPBR=05\r", "+CPBR:"), c.kind);
  }
  EXPECT_EQ(ClassifyLine("NO CARRIER", "ATD89161234567;\r", {}), LineKind::Final);
  EXPECT_TRUE(IsNotFound("+CME ERROR: 22"));
  EXPECT_TRUE(IsNotFound("+CME ERROR: not found"));
  EXPECT_FALSE(IsNotFound("+CME ERROR: 21"));
  EXPECT_FALSE(IsNotFound("ERROR"));
  EXPECT_TRUE(IsBusy("+CME ERROR: 14"));
  EXPECT_FALSE(IsBusy("+CME ERROR: 10"));
}

TEST(AtLines, FramingKeepsEveryByteAndDropsNoise) {
  LineFramer framer;
  std::vector<std::string> lines;
  const std::string bytes =
      std::string("\r\r\nA\0B\n\x8F\xE0\r\n", 12) + std::string(LineFramer::MaxLine + 10, 'x') + "\nOK\n";
  for (char c : bytes)
    if (framer.Feed(static_cast<uint8_t>(c))) lines.push_back(framer.Line());
  // The overlong line is dropped whole; the next one is intact.
  EXPECT_EQ(lines, (std::vector<std::string>{"", std::string("A\0B", 3), "\x8F\xE0", "OK"}));
}

std::vector<std::string> Frame(LineFramer& framer, const std::string& bytes) {
  std::vector<std::string> lines;
  for (char c : bytes)
    if (framer.Feed(static_cast<uint8_t>(c))) lines.push_back(framer.Line());
  return lines;
}

// The same reply as modems frame it with each line end they use: CR LF,
// CR alone (S4 set to 13), LF alone, CR CR LF. Each is one line end; the
// lines that come out are those of CR LF, zero bytes and high bytes kept.
TEST(AtLines, EveryLineEndIsOneLineEnd) {
  const std::string entry("+CPBR: 5,\"1\0\",129,\"a\0\x8F\"", 24);
  const std::vector<std::string> reply = {"", entry, "", "OK"};
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"CR LF", "\r\n" + entry + "\r\n\r\nOK\r\n", reply},
      {"CR alone", "\r" + entry + "\r\rOK\r", {"", entry, "OK"}},
      {"LF alone", "\n" + entry + "\n\nOK\n", reply},
      {"CR CR LF", "\r\r\n" + entry + "\r\r\n\r\r\nOK\r\r\n", reply},
      {"echo, then CR LF", "AT+CPBR=05\r\r\n" + entry + "\r\n\r\nOK\r\n", {"AT+CPBR=05", entry, "", "OK"}},
      {"echo, then CR alone", "AT+CPBR=05\r\r" + entry + "\r\rOK\r", {"AT+CPBR=05", entry, "OK"}},
      {"echo, then LF alone", "AT+CPBR=05\r\n" + entry + "\n\nOK\n", {"AT+CPBR=05", entry, "", "OK"}},
      {"CR alone, several lines in a row", "\rRING\r\r+CREG: 1\r\rOK\r", {"", "RING", "+CREG: 1", "OK"}},
      {"an empty line between CR LF lines", "RING\r\n\r\nOK\r\n", {"RING", "", "OK"}},
      {"a USSD text with a line break", "\r\n+CUSD: 0,\"Line 1\r\nLine 2\",15\r\n",
       {"", "+CUSD: 0,\"Line 1", "Line 2\",15"}},
      {"OK without a line end is no line yet", "\r\nOK", {""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LineFramer framer;
    EXPECT_EQ(Frame(framer, c.bytes), c.lines);
  }
}

// The LF of a final "OK" CR LF may come after the command is over and the
// framer was reset for the next one: it ends no line of its own.
TEST(AtLines, ALateLfAfterAResetEndsNothing) {
  LineFramer framer;
  EXPECT_EQ(Frame(framer, "\r\nOK\r"), (std::vector<std::string>{"", "OK"}));
  framer.Reset();
  EXPECT_EQ(Frame(framer, "\nRING\r\n"), (std::vector<std::string>{"RING"}));
  framer.Reset();
  EXPECT_EQ(Frame(framer, "\nRING\n"), (std::vector<std::string>{"", "RING"}));
}

struct EngineTest : ::testing::Test {
  ManualClock clock;
  ScriptedModem modem{clock};
  AtEngine engine{modem, clock};
};

// Replies to AT+CPBR=05, as real modems and simulators send them.
TEST_F(EngineTest, CollectsItsOwnReplyWhateverComesAroundIt) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Millis>> bursts;  // reply bytes and their delay
    AtStatus status;
    std::vector<std::string> lines;
    std::string final;
  };
  const std::string entry = "\r\n+CPBR: 5,\"0\",129,\"05\"\r\n";
  const Case cases[] = {
      {"simulator", {{entry + "\r\nOK\r\n", 0ms}}, AtStatus::Ok, {"+CPBR: 5,\"0\",129,\"05\""}, "OK"},
      {"echo, CR CR LF",
       {{"AT+CPBR=05\r\r\r\n+CPBR: 5,\"0\",129,\"05\"\r\r\n\r\r\nOK\r\r\n", 0ms}},
       AtStatus::Ok,
       {"+CPBR: 5,\"0\",129,\"05\""},
       "OK"},
      {"LF alone",
       {{"\n+CPBR: 5,\"0\",129,\"05\"\nOK\n", 0ms}},
       AtStatus::Ok,
       {"+CPBR: 5,\"0\",129,\"05\""},
       "OK"},
      {"CR alone (S4 set to 13)",
       {{"\r+CPBR: 5,\"0\",129,\"05\"\r\rOK\r", 0ms}},
       AtStatus::Ok,
       {"+CPBR: 5,\"0\",129,\"05\""},
       "OK"},
      {"echo, CR alone",
       {{"AT+CPBR=05\r\r+CPBR: 5,\"0\",129,\"05\"\r\rOK\r", 0ms}},
       AtStatus::Ok,
       {"+CPBR: 5,\"0\",129,\"05\""},
       "OK"},
      {"unsolicited lines everywhere",
       {{"AT+CPBR=05\r\r\n+CREG: 1\r\n" + entry + "\r\nRING\r\n\r\n^BOOT: 24591766,0,0,0,75\r\n\r\nOK\r\n",
         0ms}},
       AtStatus::Ok,
       {"+CPBR: 5,\"0\",129,\"05\""},
       "OK"},
      {"OK in a second write",
       {{entry, 20ms}, {"\r\nOK\r\n", 150ms}},
       AtStatus::Ok,
       {"+CPBR: 5,\"0\",129,\"05\""},
       "OK"},
      {"stale entry before the echo",
       {{"\r\n+CPBR: 4,\"9\",129,\"04\"\r\nAT+CPBR=05\r" + entry + "\r\nOK\r\n", 0ms}},
       AtStatus::Ok,
       {"+CPBR: 5,\"0\",129,\"05\""},
       "OK"},
      {"not found", {{"\r\n+CME ERROR: 22\r\n", 30ms}}, AtStatus::Error, {}, "+CME ERROR: 22"},
      {"error with a URC in front",
       {{"\r\n+CMTI: \"SM\",3\r\n\r\nERROR\r\n", 0ms}},
       AtStatus::Error,
       {},
       "ERROR"},
      {"only URCs, never a final",
       {{"\r\nRING\r\n", 0ms}, {"\r\nRING\r\n", 900ms}, {"\r\nRING\r\n", 1800ms}},
       AtStatus::Timeout,
       {},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManualClock clk;
    ScriptedModem m{clk};
    AtEngine e{m, clk};
    const auto start = clk.Now();
    // The first burst answers the command; the others follow at their times.
    m.Answer(c.bursts[0].first, c.bursts[0].second);
    for (std::size_t i = 1; i < c.bursts.size(); ++i) m.Arrive(c.bursts[i].first, c.bursts[i].second);
    const AtReply reply = e.Run("AT+CPBR=05\r", "+CPBR:", 2000ms);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.finalLine, c.final);
    EXPECT_EQ(reply.lines, c.lines);
    if (c.status == AtStatus::Timeout) {
      EXPECT_GE(clk.Now() - start, 2000ms);
      EXPECT_LE(clk.Now() - start, 2200ms);
      EXPECT_TRUE(e.QuietPending());
    }
    EXPECT_EQ(m.written, "AT+CPBR=05\r");
  }
}

// Counts the bytes the engine reads, to see which it leaves for the purge
// before the next command.
class CountingPort : public SerialPort {
 public:
  explicit CountingPort(SerialPort& inner) : inner_(inner) {}
  int Open(int i) override { return inner_.Open(i); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  bool SetDtr(bool on) override { return inner_.SetDtr(on); }
  bool SetRts(bool on) override { return inner_.SetRts(on); }
  ReadStatus ReadByte(uint8_t& byte) override {
    const ReadStatus status = inner_.ReadByte(byte);
    if (status == ReadOk) read += static_cast<char>(byte);
    return status;
  }
  void WriteBytes(const uint8_t* data, std::size_t count) override { inner_.WriteBytes(data, count); }
  void DiscardInput() override { inner_.DiscardInput(); }
  std::string Describe(int i) const override { return inner_.Describe(i); }
  std::string read;

 private:
  SerialPort& inner_;
};

// The reply ends with its final line's CR; a modem that ends its lines with
// CR LF still sends the LF, which is read as part of the reply (a trace of
// the line holds every byte). A modem that ends them with CR alone is not
// waited for.
TEST(EngineLineEnds, TheFinalLinesLfIsReadWhereItIsDue) {
  struct Case {
    const char* name;
    std::string reply;
    std::string late;  // bytes 50 ms later
    std::string read;
    Millis took;
  };
  const Case cases[] = {
      {"CR LF", "\r\nOK\r\n", "", "\r\nOK\r\n", 0ms},
      {"CR LF, the LF late", "\r\nOK\r", "\n", "\r\nOK\r\n", 50ms},
      {"CR CR LF", "\r\r\nOK\r\r\n", "", "\r\r\nOK\r\r\n", 0ms},
      {"CR alone", "\rOK\r", "\r", "\rOK\r", 0ms},
      {"LF alone", "\nOK\n", "", "\nOK\n", 0ms},
      {"CR LF, then a final line without its LF", "\r\nOK\r", "", "\r\nOK\r", ByteReadTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManualClock clock;
    ScriptedModem modem{clock};
    CountingPort port{modem};
    AtEngine engine{port, clock};
    modem.Answer(c.reply);
    if (!c.late.empty()) modem.Arrive(c.late, 50ms);
    const auto start = clock.Now();
    EXPECT_EQ(engine.Run("AT\r", {}, 2000ms).status, AtStatus::Ok);
    EXPECT_EQ(port.read, c.read);
    EXPECT_EQ(clock.Now() - start, c.took);
  }
}

TEST_F(EngineTest, UnsolicitedLinesAreSetAsideNotTaken) {
  modem.Answer("\r\n+CUSD: 0,\"old answer\",15\r\n\r\nRING\r\n\r\nOK\r\n");
  const AtReply reply = engine.Run("AT+CCFC=0,2\r", "+CCFC:", 1000ms);
  EXPECT_EQ(reply.status, AtStatus::Ok);
  EXPECT_TRUE(reply.lines.empty());
  EXPECT_EQ(engine.TakeUnsolicited(), (std::vector<std::string>{"+CUSD: 0,\"old answer\",15", "RING"}));
  EXPECT_TRUE(engine.TakeUnsolicited().empty());
}

TEST_F(EngineTest, LateReplyAfterATimeoutDrainsBeforeTheNextCommand) {
  // The first write's OK comes 2.5 s late, after the engine gave up on it;
  // the next command must not take it for its own.
  modem.Answer("\r\nOK\r\n", 2500ms);
  modem.Answer("\r\n+CPBR: 6,\"1\",129,\"06\"\r\n\r\nOK\r\n", 10ms);
  EXPECT_EQ(engine.Run("AT+CPBW=05,\"0\",129,\"05\"\r", {}, 2000ms).status, AtStatus::Timeout);
  const AtReply next = engine.Run("AT+CPBR=06\r", "+CPBR:", 2000ms);
  EXPECT_EQ(next.status, AtStatus::Ok);
  EXPECT_EQ(next.lines, (std::vector<std::string>{"+CPBR: 6,\"1\",129,\"06\""}));
  EXPECT_FALSE(engine.QuietPending());
}

TEST_F(EngineTest, BoundedAgainstEndlessTalkAndEndedByAHangUp) {
  // A talker that never stops: a line every 10 ms for ten seconds.
  for (int i = 0; i < 1000; ++i) modem.Arrive("+CPBR: 1,\"1\",129,\"A\"\r\n", Millis(10 * i));
  auto start = clock.Now();
  EXPECT_EQ(engine.Run("AT+CPBR=01\r", "+CPBR:", 2000ms).status, AtStatus::Timeout);
  EXPECT_LE(clock.Now() - start, 2200ms);

  ManualClock clk;
  ScriptedModem dying{clk};
  AtEngine e{dying, clk};
  dying.hangUpAtEnd = true;
  dying.Answer("\r\n+CPBR: 5,\"1\",129,");
  start = clk.Now();
  EXPECT_EQ(e.Run("AT+CPBR=05\r", "+CPBR:", 40000ms).status, AtStatus::Failed);
  EXPECT_LE(clk.Now() - start, 200ms);  // a hung-up line ends the wait at once
}

TEST_F(EngineTest, AStopEndsTheWaitAndAListenerGetsOnlyNewLines) {
  modem.Answer("\r\nOK\r\n");
  modem.Arrive("\r\n+CUSD: 0,\"stale\",15\r\n", 0ms);
  engine.AwaitQuiet();
  modem.Arrive("\r\n+CUSD: 0,\"fresh\",15\r\n", 3000ms);
  ASSERT_EQ(engine.Run("AT+CUSD=1,\"#100#\",15\r", "+CUSD:", 1000ms).status, AtStatus::Ok);
  const auto answer = engine.AwaitUnsolicited("+CUSD:", clock.Now() + 10000ms, {});
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, "+CUSD: 0,\"fresh\",15");

  int asked = 0;
  const auto start = clock.Now();
  EXPECT_FALSE(engine.AwaitUnsolicited("+CUSD:", clock.Now() + 60000ms, [&] { return ++asked > 5; }));
  EXPECT_LE(clock.Now() - start, 1200ms);
}

}  // namespace
}  // namespace tv
