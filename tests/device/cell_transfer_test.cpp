// The cell read and write over the AT engine, with replies recorded from
// real modems: what is stored, what is reported, what goes on the line.
#include "device/cell_transfer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cp866/literal.h"
#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"
#include "tests/support/scripted_modem.h"
#include "ui/tool.h"

namespace tv {
namespace {

using namespace std::chrono_literals;
using test::ScriptedModem;

struct TransferTest : ::testing::Test {
  ManualClock clock;
  ScriptedModem modem{clock};
  AtEngine at{modem, clock};
  SimImage image;
};

TEST_F(TransferTest, CommandBytes) {
  const std::string n47(47, '1'), a47(47, 'A');
  image.SetCellNumber(7, "123");
  image.SetCellName(7, "ab");
  image.SetCellNumber(99, n47);
  image.SetCellName(99, a47);
  image.SetCellNumber(5, std::string("1\0"
                                     "2",
                                     3));
  image.SetCellName(5, std::string("A\0", 2));
  EXPECT_EQ(BuildReadCommand(1), "AT+CPBR=01\r");
  EXPECT_EQ(BuildReadCommand(98), "AT+CPBR=98\r");
  EXPECT_EQ(BuildWriteCommand(image, 12), "AT+CPBW=12,\"\",129,\"\"\r");
  EXPECT_EQ(BuildWriteCommand(image, 7), "AT+CPBW=07,\"123\",129,\"ab\"\r");
  EXPECT_EQ(BuildWriteCommand(image, 99), "AT+CPBW=99,\"" + n47 + "\",129,\"" + a47 + "\"\r");
  // A zero byte (GSM '@') goes out as it is.
  EXPECT_EQ(BuildWriteCommand(image, 5), std::string("AT+CPBW=05,\"1\0"
                                                     "2\",129,\"A\0\"\r",
                                                     26));
}

// Replies to AT+CPBR=05; the cell held "OLD"/"OLDNAME" before.
TEST_F(TransferTest, ReadCellWithRealReplies) {
  const std::string longLine = "+CPBR: 5,\"0\",129,\"05\",0,\"" + std::string(200, 'P') + "\"";
  const std::string overlong =
      "+CPBR: 5,\"" + std::string(50, '7') + "\",129,\"" + std::string(60, 'N') + "\"";
  const std::string nul = std::string(
      "+CPBR: 5,\"12\0"
      "3\",129,\"a\0b\"",
      26);
  const std::string kept;  // nothing for a settings file
  struct Case {
    const char* name;
    std::string reply;
    CellOutcome outcome;
    std::string number, text, raw;
    bool shortened = false;
  };
  const Case cases[] = {
      {"simulator", "\r\n+CPBR: 5,\"0\",129,\"05\"\r\n\r\nOK\r\n", CellOutcome::Done, "0", "05",
       " 5,\"0\",129,\"05\"\r\n"},
      {"echo first", "AT+CPBR=05\r\r\n+CPBR: 5,\"0\",129,\"05\"\r\n\r\nOK\r\n", CellOutcome::Done, "0", "05",
       " 5,\"0\",129,\"05\"\r\n"},
      {"unsolicited lines between",
       "\r\nRING\r\n\r\n+CPBR: 5,\"0\",129,\"05\"\r\n\r\n+CSQ: 20,99\r\n\r\nOK\r\n", CellOutcome::Done, "0",
       "05", " 5,\"0\",129,\"05\"\r\n"},
      {"empty location", "\r\nOK\r\n", CellOutcome::Empty, "", "", ""},
      {"empty location, not found", "\r\n+CME ERROR: 22\r\n", CellOutcome::Empty, "", "", ""},
      {"type 145, UCS2 name", "\r\n+CPBR: 5,\"+33616918685\",145,\"68506C6970696570\"\r\n\r\nOK\r\n",
       CellOutcome::Done, "+33616918685", "68506C6970696570",
       " 5,\"+33616918685\",145,\"68506C6970696570\"\r\n"},
      {"fifth field", "+CPBR: 5,\"*100#\",129,\"gg get balance\",0\r\nOK\r\n", CellOutcome::Done, "*100#",
       "gg get balance", " 5,\"*100#\",129,\"gg get balance\",0\r\n"},
      {"empty number and type", "+CPBR: 5,\"\",,\"0053\"\r\nOK\r\n", CellOutcome::Done, "", "0053",
       " 5,\"\",,\"0053\"\r\n"},
      {"date and time fields", "+CPBR: 5,\"+60122256476\",145,\"\",\"08/07/04\",\"17:24:55\"\r\nOK\r\n",
       CellOutcome::Done, "+60122256476", "", " 5,\"+60122256476\",145,\"\",\"08/07/04\",\"17:24:55\"\r\n"},
      {"a line over 99 bytes is kept whole", "\r\n" + longLine + "\r\nOK\r\n", CellOutcome::Done, "0", "05",
       longLine.substr(6) + "\r\n"},
      {"texts over 47: cut, and the cell knows", overlong + "\r\nOK\r\n", CellOutcome::Done,
       std::string(47, '7'), std::string(47, 'N'), overlong.substr(6) + "\r\n", true},
      {"zero bytes inside the texts (GSM '@')", nul + "\r\nOK\r\n", CellOutcome::Done,
       std::string("12\0"
                   "3",
                   4),
       std::string("a\0b", 3), nul.substr(6) + "\r\n"},
      // Replies that are not this cell's entry are reported, never stored.
      {"another index", "\r\n+CPBR: 14,\"1\",129,\"14\"\r\n\r\nOK\r\n", CellOutcome::WrongReply, "OLD",
       "OLDNAME", kept},
      {"two entries", "+CPBR: 5,\"1\",129,\"05\"\r\n+CPBR: 5,\"2\",129,\"05\"\r\nOK\r\n",
       CellOutcome::WrongReply, "OLD", "OLDNAME", kept},
      {"name without closing quote", "+CPBR: 5,\"123\",129,\"AB\r\nOK\r\n", CellOutcome::WrongReply, "OLD",
       "OLDNAME", kept},
      {"no quotes at all", "+CPBR: 5,123,129,AB\r\nOK\r\n", CellOutcome::WrongReply, "OLD", "OLDNAME", kept},
      {"ERROR", "\r\nERROR\r\n", CellOutcome::Refused, "OLD", "OLDNAME", kept},
      {"SIM not inserted", "\r\n+CME ERROR: 10\r\n", CellOutcome::Refused, "OLD", "OLDNAME", kept},
      {"no OK after the entry", "\r\n+CPBR: 5,\"1\",129,\"05\"\r\n", CellOutcome::NoAnswer, "OLD", "OLDNAME",
       kept},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManualClock clk;
    ScriptedModem m{clk};
    AtEngine e{m, clk};
    SimImage img;
    img.SetCellNumber(5, "OLD");
    img.SetCellName(5, "OLDNAME");
    m.Answer(c.reply);
    m.Answer(c.reply);  // the one more try, where there is one
    const CellResult r = ReadCell(e, img, 5);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(img.CellNumber(5), c.number);
    EXPECT_EQ(img.CellName(5), c.text);
    EXPECT_EQ(r.raw, c.raw);
    EXPECT_EQ(img.Shortened(5), c.shortened);
    for (const std::string& command : m.commands) EXPECT_EQ(command, "AT+CPBR=05\r");
  }
}

TEST_F(TransferTest, FailuresSayWhatHappened) {
  modem.Answer("\r\n+CME ERROR: 10\r\n");
  const CellResult refused = ReadCell(at, image, 13);
  EXPECT_EQ(ExchangeErrorOf(refused), xerr::BadReply);
  EXPECT_EQ(DescribeFailure(13, refused), "Ячейка 13: +CME ERROR: 10"_cp);

  modem.Answer("\r\n+CPBR: 31,\"1\",129,\"31\"\r\n\r\nOK\r\n");
  modem.Answer("\r\n+CPBR: 31,\"1\",129,\"31\"\r\n\r\nOK\r\n");
  const CellResult wrong = ReadCell(at, image, 13);
  EXPECT_EQ(ExchangeErrorOf(wrong), xerr::BadReply);
  EXPECT_EQ(DescribeFailure(13, wrong), "Ячейка 13: ответ для ячейки 31"_cp);

  const CellResult silent = ReadCell(at, image, 13);
  EXPECT_EQ(ExchangeErrorOf(silent), xerr::NoAnswer);
  EXPECT_EQ(DescribeFailure(13, silent), "Ячейка 13: нет ответа"_cp);
  EXPECT_FALSE(silent.heard);
}

TEST_F(TransferTest, WriteWaitsForItsOwnFinalResult) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, Millis>> replies;  // to the first and the second try
    CellOutcome outcome;
    int commands;  // tries sent
  };
  const Case cases[] = {
      {"OK", {{"\r\nOK\r\n", 0ms}}, CellOutcome::Done, 1},
      {"a slow SIM write", {{"\r\nOK\r\n", 480ms}}, CellOutcome::Done, 1},
      {"unsolicited line before OK", {{"\r\n+CREG: 1\r\n\r\nOK\r\n", 100ms}}, CellOutcome::Done, 1},
      {"name too long for the SIM", {{"\r\n+CME ERROR: 24\r\n", 0ms}}, CellOutcome::Refused, 1},
      {"SIM busy, then taken", {{"\r\n+CME ERROR: 14\r\n", 0ms}, {"\r\nOK\r\n", 0ms}}, CellOutcome::Done, 2},
      {"lost once, then taken", {{"", 0ms}, {"\r\nOK\r\n", 0ms}}, CellOutcome::Done, 2},
      {"never answered", {}, CellOutcome::NoAnswer, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManualClock clk;
    ScriptedModem m{clk};
    AtEngine e{m, clk};
    SimImage img;
    img.SetCellNumber(5, "0");
    img.SetCellName(5, "05");
    for (const auto& [bytes, after] : c.replies) m.Answer(bytes, after);
    EXPECT_EQ(WriteCell(e, img, 5).outcome, c.outcome);
    EXPECT_EQ(static_cast<int>(m.commands.size()), c.commands);
    for (const std::string& command : m.commands) EXPECT_EQ(command, "AT+CPBW=05,\"0\",129,\"05\"\r");
  }
}

TEST(WriteTally, TwoUnansweredWritesInARowMeanTheDeviceIsGone) {
  WriteTally tally;
  EXPECT_FALSE(tally.Add({CellOutcome::Done, {}, true, {}}));
  EXPECT_FALSE(tally.Add({CellOutcome::NoAnswer, {}, false, {}}));
  EXPECT_FALSE(tally.Add({CellOutcome::Refused, "ERROR", true, {}}));
  EXPECT_FALSE(tally.Add({CellOutcome::NoAnswer, {}, false, {}}));
  // Unsolicited lines came, but no final result: gone all the same.
  EXPECT_TRUE(tally.Add({CellOutcome::NoAnswer, {}, true, {}}));
  EXPECT_EQ(tally.taken, 1);
  EXPECT_EQ(tally.Failed(), 4);
  WriteTally lost;
  EXPECT_TRUE(lost.Add({CellOutcome::LineLost, {}, true, {}}));
}

TEST(ExchangeTiming, PacedReplyWithLatency) {
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
  EXPECT_EQ(ReadCell(tool.at, tool.image, 98).outcome, CellOutcome::Done);
  EXPECT_EQ(tool.image.CellName(98), "98.GSM.TRV");
  // 150 ms of latency and 11 + 47 bytes on the wire (5.0 ms).
  EXPECT_GE(clock.Now() - start, 155ms);
  EXPECT_LE(clock.Now() - start, 160ms);
}

}  // namespace
}  // namespace tv
