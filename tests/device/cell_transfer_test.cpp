// Command bytes, reply framing and the cell read/write waits, with replies
// recorded from real modems.
#include "device/cell_transfer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "device/at_exchange.h"
#include "device/tool.h"
#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"

namespace tv {
namespace {

using namespace std::chrono_literals;

// A port that hands out fixed bytes, then times out (or fails).
class ReplayPort : public SerialPort {
 public:
  int Open(int) override { return 0; }
  bool IsOpen() const override { return true; }
  bool SetDtr(bool) override { return true; }
  bool SetRts(bool) override { return true; }
  ReadStatus ReadByte(uint8_t& byte) override {
    if (pos < input.size()) {
      byte = static_cast<uint8_t>(input[pos++]);
      return ReadOk;
    }
    ++readsAfterEnd;
    return failAtEnd ? ReadFailed : ReadTimeout;
  }
  void WriteBytes(const uint8_t* data, std::size_t count) override {
    written.append(reinterpret_cast<const char*>(data), count);
  }
  void DiscardInput() override { ++discards; }
  std::string Describe(int) const override { return {}; }

  std::string input;
  std::size_t pos = 0;
  bool failAtEnd = false;
  int readsAfterEnd = 0;
  int discards = 0;
  std::string written;
};

struct ExchangeTest : ::testing::Test {
  Screen screen;
  ManualClock clock;
  ReplayPort port;
  Tool tool{screen, clock, port};

  std::string Raw() const { return std::string(tool.at.raw); }
};

TEST_F(ExchangeTest, CommandBytes) {
  const std::string n47(47, '1'), a47(47, 'A');
  struct Case {
    const char* name;
    bool write;
    int cell;
    std::string number, text;
    std::string bytes;
  };
  const Case cases[] = {
      {"read 01", false, 1, "", "", "AT+CPBR=01\r"},
      {"read 98", false, 98, "", "", "AT+CPBR=98\r"},
      {"read 99", false, 99, "", "", "AT+CPBR=99\r"},
      {"write empty texts", true, 12, "", "", "AT+CPBW=12,\"\",129,\"\"\r"},
      {"write cell 7", true, 7, "123", "ab", "AT+CPBW=07,\"123\",129,\"ab\"\r"},
      {"write international", true, 3, "+7916", "X", "AT+CPBW=03,\"+7916\",129,\"X\"\r"},
      {"write longest", true, 99, n47, a47, "AT+CPBW=99,\"" + n47 + "\",129,\"" + a47 + "\"\r"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    port.written.clear();
    port.input = "\r\nOK\r\n";
    port.pos = 0;
    tool.image.SetCellNumber(c.cell, c.number);
    tool.image.SetCellName(c.cell, c.text);
    if (c.write) {
      EXPECT_EQ(WriteCell(tool, c.cell), 0);
    } else {
      EXPECT_EQ(ReadCell(tool, c.cell), ReadOk);
    }
    EXPECT_EQ(port.written, c.bytes);
  }
  EXPECT_EQ(port.written.size(), 115u);  // the longest command still fits the buffer
}

// Replies to AT+CPBR=05; the cell held "OLD"/"OLDNAME" and the raw reply
// "previous" before.
TEST_F(ExchangeTest, ReadCellWithRealReplies) {
  const std::string padded = "+CPBR: 5,\"0\",129,\"05\",0,\"" + std::string(200, 'P');
  const std::string overlong = "+CPBR: 5,\"" + std::string(50, '7') + "\",129,\"" + std::string(60, 'N');
  struct Case {
    const char* name;
    std::string reply;
    bool failAtEnd;
    ReadStatus status;
    std::string number, text, raw;
  };
  const Case cases[] = {
      {"simulator", "\r\n+CPBR: 5,\"0\",129,\"05\"\r\n\r\nOK\r\n", false, ReadOk, "0", "05",
       " 5,\"0\",129,\"05\"\r\n"},
      {"echo first", "AT+CPBR=05\r\r\n+CPBR: 5,\"0\",129,\"05\"\r\n\r\nOK\r\n", false, ReadOk, "0", "05",
       " 5,\"0\",129,\"05\"\r\n"},
      {"empty location", "\r\nOK\r\n", false, ReadOk, "OLD", "OLDNAME", "previous"},
      {"type 145, UCS2 name", "\r\n+CPBR: 1,\"+33616918685\",145,\"68506C6970696570\"\r\n\r\nOK\r\n", false,
       ReadOk, "+33616918685", "68506C6970696570", " 1,\"+33616918685\",145,\"68506C6970696570\"\r\n"},
      {"fifth field", "+CPBR: 2,\"*100#\",129,\"gg get balance\",0\r\nOK\r\n", false, ReadOk, "*100#",
       "gg get balance", " 2,\"*100#\",129,\"gg get balance\",0\r\n"},
      {"empty number and type", "+CPBR: 6,\"\",,\"005300740061006E006C0065007900200050\"\r\nOK\r\n", false,
       ReadOk, "", "005300740061006E006C0065007900200050",
       " 6,\"\",,\"005300740061006E006C0065007900200050\"\r\n"},
      {"date and time fields", "+CPBR: 1,\"+60122256476\",145,\"\",\"08/07/04\",\"17:24:55\"\r\nOK\r\n",
       false, ReadOk, "+60122256476", "", " 1,\"+60122256476\",145,\"\",\"08/07/04\",\"17:24:55\"\r\n"},
      {"name without closing quote", "+CPBR: 5,\"123\",129,\"AB\r\nOK\r\n", false, ReadOk, "123", "AB",
       " 5,\"123\",129,\"AB\r\n"},
      {"no quotes at all", "+CPBR: 5,123,129,AB\r\nOK\r\n", false, ReadOk, "", "", " 5,123,129,AB\r\n"},
      {"line over 99 bytes: the rest of it dropped", padded + "\"\r\nOK\r\n", false, ReadOk, "0", "05",
       padded.substr(6, 93) + "\r\n"},
      {"texts over 47, line cut at 99", overlong + "\"\r\nOK\r\n", false, ReadOk, std::string(47, '7'),
       std::string(99 - 67, 'N'), overlong.substr(6, 93) + "\r\n"},
      {"ERROR ends by silence", "\r\nERROR\r\n", false, ReadTimeout, "OLD", "OLDNAME", "previous"},
      {"CME error ends by silence", "\r\n+CME ERROR: 21\r\n", false, ReadTimeout, "OLD", "OLDNAME",
       "previous"},
      {"no OK after the entry", "\r\n+CPBR: 5,\"1\",129,\"05\"\r\n", false, ReadTimeout, "1", "05",
       " 5,\"1\",129,\"05\"\r\n"},
      {"line dies", "\r\n+CPBR: 5,\"1\",129,", true, ReadFailed, "OLD", "OLDNAME", "previous"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tool.image.SetCellNumber(5, "OLD");
    tool.image.SetCellName(5, "OLDNAME");
    std::memset(tool.at.raw, 0, RawReplyBytes);
    std::strcpy(tool.at.raw, "previous");
    port.input = c.reply;
    port.pos = 0;
    port.failAtEnd = c.failAtEnd;
    EXPECT_EQ(ReadCell(tool, 5), c.status);
    EXPECT_EQ(tool.image.CellNumber(5), c.number);
    EXPECT_EQ(tool.image.CellName(5), c.text);
    EXPECT_EQ(Raw(), c.raw);
    EXPECT_EQ(port.readsAfterEnd, c.status == ReadOk ? 0 : 1);
    port.readsAfterEnd = 0;
  }
  EXPECT_EQ(port.discards, static_cast<int>(std::size(cases)));
}

TEST_F(ExchangeTest, ReplyLineFraming) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;  // complete lines, then the unfinished rest
    ReadStatus end;
  };
  const Case cases[] = {
      {"CR LF OK CR LF", "\r\nOK\r\n", {"", "OK", ""}, ReadTimeout},
      {"OK then silence", "OK", {"OK"}, ReadTimeout},
      {"CR inside a line", "O\rK\n", {"OK", ""}, ReadTimeout},
      {"zero byte kept", std::string("A\0B\n", 4), {std::string("A\0B", 3), ""}, ReadTimeout},
      {"cp866 kept", "\x8F\xE0\n", {"\x8F\xE0", ""}, ReadTimeout},
      {"100 bytes keep 99", std::string(100, 'x') + "\nOK\n", {std::string(99, 'x'), "OK", ""}, ReadTimeout},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    port.input = c.bytes;
    port.pos = 0;
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
      const ReadStatus status = ReadReplyLine(tool);
      EXPECT_EQ(status, i + 1 < c.lines.size() ? ReadOk : c.end);
      EXPECT_EQ(std::string(tool.at.reply, c.lines[i].size()), c.lines[i]);
      EXPECT_EQ(tool.at.reply[c.lines[i].size()], 0);
    }
  }
  struct Match {
    const char* line;
    const char* text;
    int result;
  };
  const Match matches[] = {{"OK", "OK", 0}, {"OKAY", "OK", 0}, {" OK", "OK", 1},
                           {"", "OK", 1},   {"ok", "OK", 1},   {"+CPBR: 1", "+CPBR:", 0}};
  for (const auto& m : matches) {
    SCOPED_TRACE(m.line);
    std::memset(tool.at.reply, 0, ReplyLineBytes);
    std::strcpy(tool.at.reply, m.line);
    EXPECT_EQ(ReplyStartsWith(tool, m.text), m.result);
  }
}

TEST_F(ExchangeTest, WriteCellReadsAtMostThreeLines) {
  struct Case {
    const char* name;
    std::string reply;
    bool failAtEnd;
    int result;
    std::size_t consumed;  // bytes of the reply taken
  };
  const Case cases[] = {
      {"empty line then OK", "\r\nOK\r\n", false, 0, 6},
      {"OK third", "A\nB\nOK\n", false, 0, 7},
      {"three lines, no OK", "A\nB\nC\nOK\n", false, 1, 6},
      {"silence after two lines", "A\nB\n", false, ReadTimeout, 4},
      {"line dies after two", "A\nB\n", true, ReadFailed, 4},
      {"refused", "\r\nERROR\r\n", false, ReadTimeout, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    port.input = c.reply;
    port.pos = 0;
    port.failAtEnd = c.failAtEnd;
    EXPECT_EQ(WriteCell(tool, 5), c.result);
    EXPECT_EQ(port.pos, c.consumed);
  }
  EXPECT_EQ(port.discards, 0);  // a write does not discard pending input

  port.written.clear();
  tool.state.fileLoaded = true;
  EXPECT_EQ(WriteCell(tool, 5), 0);
  EXPECT_EQ(port.written, "");
}

TEST(ExchangeTiming, SilentDeviceCostsOneTimeoutPerRead) {
  sim::GatewayOptions options;
  options.faults.silentAfterCommands = 0;
  sim::GatewayModel model(options);
  ManualClock clock;
  sim::SimSerialPort port(model, clock);
  Screen screen;
  Tool tool(screen, clock, port);
  ASSERT_EQ(port.Open(0), 0);
  const auto start = clock.Now();
  EXPECT_EQ(ReadCell(tool, 1), ReadTimeout);
  EXPECT_EQ(clock.Now() - start, 200ms);
  EXPECT_EQ(WriteCell(tool, 1), ReadTimeout);
  EXPECT_EQ(clock.Now() - start, 800ms);
}

TEST(ExchangeTiming, PacedReplyArrivesWithinTheByteTimeout) {
  sim::GatewayOptions options;
  options.pace115200 = true;
  options.commandLatency = 150ms;
  sim::GatewayModel model(options);
  ManualClock clock;
  sim::SimSerialPort port(model, clock);
  Screen screen;
  Tool tool(screen, clock, port);
  ASSERT_EQ(port.Open(0), 0);
  const auto start = clock.Now();
  EXPECT_EQ(ReadCell(tool, 98), ReadOk);
  EXPECT_EQ(tool.image.CellName(98), "98.GSM.TRV");
  // 150 ms of latency and 11 + 47 bytes on the wire (5.0 ms).
  EXPECT_GE(clock.Now() - start, 155ms);
  EXPECT_LE(clock.Now() - start, 160ms);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// A noisy line can stream bytes for ever: neither a line without a line feed
// nor a reply of endless lines without "OK" may hold the tool.
TEST_F(ExchangeTest, EndlessNoiseIsGivenUp) {
  port.input = std::string(LineGiveUpBytes + 100, 'x');
  EXPECT_EQ(ReadReplyLine(tool), ReadTimeout);
  EXPECT_EQ(std::strlen(tool.at.reply), static_cast<std::size_t>(ReplyLineBytes - 1));
  EXPECT_EQ(port.pos, static_cast<std::size_t>(LineGiveUpBytes));

  port.input.clear();
  port.pos = 0;
  for (int i = 0; i < 1000; ++i) port.input += "+CPBR: 1,\"1\",129,\"A\"\r\n";
  EXPECT_EQ(ReadCell(tool, 1), ReadTimeout);
  EXPECT_LT(port.pos, port.input.size());
  EXPECT_EQ(tool.image.CellNumber(1), "1");
}

}  // namespace
}  // namespace tv
