// Range reads of the phonebook against the simulated gateway and scripted
// replies: the same cells, byte for byte, as the cell-by-cell read, and a
// fall back (nothing kept) for every answer that does not fit a range reply.
#include "device/range_read.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/settings_file.h"
#include "core/sim_image.h"
#include "device/at_engine.h"
#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"
#include "tests/support/scripted_modem.h"
#include "tests/support/sim_book.h"

namespace tv {
namespace {

using namespace std::chrono_literals;
using test::OddBook;
using test::OnSim;
using test::ScriptedModem;

void FillWithJunk(SimImage& image) {
  for (int i = 1; i <= SettingsLines; ++i) {
    image.SetCellNumber(i, "JUNK");
    image.SetCellName(i, "JUNKNAME");
  }
}

// The range read of cells 1..99 gives, cell by cell, exactly what ReadCell
// gives: outcome, raw line, the image's texts and shortened marks, and so
// the settings file.
TEST(RangeRead, GivesWhatTheCellByCellReadGives) {
  struct Case {
    const char* name;
    std::function<void(sim::GatewayOptions&)> options;
    std::function<void(sim::GatewayModel&)> book;
    int commands;  // range commands the read takes
  };
  const auto none = [](sim::GatewayOptions&) {};
  const auto initialised = [](sim::GatewayModel&) {};
  const auto odd = [](sim::GatewayModel& m) { OddBook(m); };
  const auto blank = [](sim::GatewayModel& m) { m.FillBlank(); };
  const Case cases[] = {
      {"an initialised SIM: one read", none, initialised, 1},
      {"GSM '@' as byte 0, long texts, empty cells", [](sim::GatewayOptions& o) { o.faults.gsmNul = true; }, odd,
       2},
      {"a blank SIM", none, blank, 1},
      {"a blank SIM answering not found", [](sim::GatewayOptions& o) { o.faults.cmeNotFound = true; }, blank, 1},
      {"echo on", [](sim::GatewayOptions& o) { o.echo = true; }, odd, 2},
      {"unsolicited lines inside the reply and around it",
       [](sim::GatewayOptions& o) {
         o.faults.urcPercent = 30;
         o.faults.urcIdleMean = 150ms;
       },
       odd, 2},
      {"a slow SIM on a paced line, 100 ms a location",
       [](sim::GatewayOptions& o) {
         o.pace115200 = true;
         o.commandLatency = 100ms;
       },
       odd, 2},
      {"capped at 10 entries a reply", [](sim::GatewayOptions& o) { o.faults.rangeCap = 10; }, initialised, 10},
      {"capped at 10, empty cells at the end", [](sim::GatewayOptions& o) { o.faults.rangeCap = 10; }, odd, 11},
      {"capped at 1", [](sim::GatewayOptions& o) { o.faults.rangeCap = 1; }, odd, 95},
      {"lines end with CR alone", [](sim::GatewayOptions& o) { o.lineEnd = "\r"; }, odd, 2},
      {"lines end with LF alone", [](sim::GatewayOptions& o) { o.lineEnd = "\n"; }, odd, 2},
      {"lines end with CR CR LF", [](sim::GatewayOptions& o) { o.lineEnd = "\r\r\n"; }, odd, 2},
      {"CR alone, echo on, unsolicited lines",
       [](sim::GatewayOptions& o) {
         o.lineEnd = "\r";
         o.echo = true;
         o.faults.urcPercent = 30;
       },
       odd, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnSim s(c.options);
    c.book(s.model);
    SimImage byRange, byCell;
    FillWithJunk(byRange);
    FillWithJunk(byCell);

    const RangeReadResult range = ReadCellRange(s.at, 1, SettingsLines);
    ASSERT_EQ(range.status, RangeStatus::Done) << range.reason;
    EXPECT_EQ(range.commands, c.commands);
    StoreRange(range, byRange);

    std::string fileByRange, fileByCell;
    for (int cell = 1; cell <= SettingsLines; ++cell) {
      SCOPED_TRACE(cell);
      const CellResult one = ReadCell(s.at, byCell, cell);
      ASSERT_TRUE(one.Ok());
      EXPECT_EQ(range.Cell(cell).outcome, one.outcome);
      EXPECT_EQ(range.Cell(cell).raw, one.raw);
      EXPECT_EQ(byRange.CellNumber(cell), byCell.CellNumber(cell));
      EXPECT_EQ(byRange.CellName(cell), byCell.CellName(cell));
      EXPECT_EQ(byRange.Shortened(cell), byCell.Shortened(cell));
      fileByRange += SettingsLineOf(cell, range.Cell(cell));
      // What the SIM-to-file transfer writes today.
      fileByCell += one.outcome == CellOutcome::Done ? one.raw : EncodeSaveLine(cell, {}, {});
    }
    EXPECT_EQ(fileByRange, fileByCell);
  }
}

TEST(RangeRead, OddBookKeepsItsBytes) {
  OnSim s([](sim::GatewayOptions& o) { o.faults.gsmNul = true; });
  OddBook(s.model);
  const RangeReadResult range = ReadCellRange(s.at, 1, SettingsLines);
  ASSERT_TRUE(range.Ok());
  EXPECT_EQ(range.Cell(2).raw, std::string(" 2,\"12\0" "3\",129,\"\0home\"\r\n", 23));
  EXPECT_EQ(range.Cell(4).raw, " 4,\"" + std::string(60, '7') + "\",129,\"" + std::string(60, 'N') + "\"\r\n");
  EXPECT_EQ(range.Cell(6).raw, " 6,\"\",129,\"\"\r\n");
  EXPECT_EQ(range.Cell(1).outcome, CellOutcome::Empty);
  EXPECT_EQ(SettingsLineOf(1, range.Cell(1)), " 01,\"\",129,\"\"\r\n");
  EXPECT_EQ(range.Cell(99).outcome, CellOutcome::Empty);
  SimImage image;
  StoreRange(range, image);
  EXPECT_EQ(image.CellName(2), std::string("\0home", 5));
  EXPECT_EQ(image.CellNumber(4), std::string(TextMax, '7'));
  EXPECT_TRUE(image.Shortened(4));
  // The read goes on after the last entry (98) to learn that 99 is empty.
  EXPECT_EQ(s.port.written, "AT+CPBR=1,99\rAT+CPBR=99,99\r");
}

// Every answer that does not fit a range reply: the read falls back and
// keeps nothing, also from the replies before it that were good.
TEST(RangeRead, FallsBackOnAnythingThatIsNotARangeReply) {
  struct Case {
    const char* name;
    std::function<void(sim::GatewayOptions&)> options;
    std::function<void(sim::GatewayModel&)> book;
    std::string reason;
  };
  const auto initialised = [](sim::GatewayModel&) {};
  const Case cases[] = {
      {"the range form refused", [](sim::GatewayOptions& o) { o.faults.noRange = true; }, initialised, "ERROR"},
      {"refused as not supported",
       [](sim::GatewayOptions& o) {
         o.faults.noRange = true;
         o.faults.cmeError = true;
       },
       initialised, "+CME ERROR: 4"},
      {"an index outside the range", [](sim::GatewayOptions& o) { o.faults.wrongIndex = {99}; },
       [](sim::GatewayModel& m) { m.SetEntry(100, "1", "100"); }, "index 100 outside 1..99"},
      {"an index twice", [](sim::GatewayOptions& o) { o.faults.wrongIndex = {13}; }, initialised, "index 14 twice"},
      {"an index twice in a continued read",
       [](sim::GatewayOptions& o) {
         o.faults.wrongIndex = {33};
         o.faults.rangeCap = 10;
       },
       initialised, "index 34 twice"},
      {"every read refused", [](sim::GatewayOptions& o) { o.faults.errorPrefix = "AT+CPBR"; }, initialised, "ERROR"},
      {"silence", [](sim::GatewayOptions& o) { o.faults.silentAfterCommands = 0; }, initialised,
       "no answer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnSim s(c.options);
    c.book(s.model);
    const RangeReadResult range = ReadCellRange(s.at, 1, SettingsLines);
    EXPECT_EQ(range.status, RangeStatus::FallBack);
    EXPECT_EQ(range.reason, c.reason);
    EXPECT_TRUE(range.cells.empty());
    SimImage image;
    FillWithJunk(image);
    StoreRange(range, image);
    EXPECT_EQ(image.CellNumber(5), "JUNK");
  }
}

// Replies no simulated modem sends, on a script.
TEST(RangeRead, FallsBackOnScriptedReplies) {
  const std::string e1 = "\r\n+CPBR: 1,\"0\",129,\"01\"\r\n";
  const std::string e2 = "\r\n+CPBR: 2,\"0\",129,\"02\"\r\n";
  const std::string e3 = "\r\n+CPBR: 3,\"0\",129,\"03\"\r\n";
  struct Case {
    const char* name;
    std::vector<ScriptedModem::Chunk> reply;
    RangeStatus status;
    std::string reason;
    bool heard = true;
  };
  const Case cases[] = {
      {"entries out of order", {{0ms, e2 + e1 + "\r\nOK\r\n"}}, RangeStatus::FallBack, "index 1 out of order"},
      {"an entry without its closing quote", {{0ms, e1 + "\r\n+CPBR: 2,\"0\",129,\"02\r\n\r\nOK\r\n"}},
       RangeStatus::FallBack, "entry 2 broken"},
      {"an entry without an index", {{0ms, "\r\n+CPBR: \"0\",129,\"02\"\r\n\r\nOK\r\n"}}, RangeStatus::FallBack,
       "index -1 outside 1..3"},
      {"entries, then an error", {{0ms, e1 + e2 + "\r\n+CME ERROR: 22\r\n"}}, RangeStatus::FallBack,
       "+CME ERROR: 22"},
      {"cut by silence after two entries", {{0ms, e1}, {100ms, e2}}, RangeStatus::FallBack, "no final result"},
      {"never an answer", {}, RangeStatus::FallBack, "no answer", false},
      {"busy twice", {{0ms, "\r\n+CME ERROR: 14\r\n"}}, RangeStatus::FallBack, "+CME ERROR: 14"},
      {"the whole range", {{0ms, e1 + e2 + e3 + "\r\nOK\r\n"}}, RangeStatus::Done, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManualClock clock;
    ScriptedModem modem{clock};
    AtEngine at{modem, clock};
    modem.On("AT+CPBR=", c.reply);
    const RangeReadResult range = ReadCellRange(at, 1, 3);
    EXPECT_EQ(range.status, c.status);
    EXPECT_EQ(range.reason, c.reason);
    EXPECT_EQ(range.heard, c.heard);
    EXPECT_EQ(range.cells.empty(), c.status != RangeStatus::Done);
  }
}

// A reply is bounded by the silence since its last byte, not by one total:
// a slow SIM's long reply is read whole, a reply cut short falls back one
// silence bound after its last byte, and one that trickles on forever
// ends within the bound of its range.
TEST(RangeRead, BoundedBySilenceAndInAll) {
  {
    SCOPED_TRACE("a SIM taking 250 ms a location: 25 s for the range");
    OnSim s([](sim::GatewayOptions& o) { o.commandLatency = 250ms; });
    const auto start = s.clock.Now();
    const RangeReadResult range = ReadCellRange(s.at, 1, SettingsLines);
    EXPECT_EQ(range.status, RangeStatus::Done) << range.reason;
    EXPECT_EQ(range.commands, 1);
    EXPECT_GE(s.clock.Now() - start, 99 * 250ms);
  }
  {
    SCOPED_TRACE("cut after 40 entries, 100 ms apart");
    ManualClock clock;
    ScriptedModem modem{clock};
    AtEngine at{modem, clock};
    std::vector<ScriptedModem::Chunk> entries;
    for (int i = 1; i <= 40; ++i)
      entries.push_back({Millis(100 * i), "\r\n+CPBR: " + std::to_string(i) + ",\"0\",129,\"x\"\r\n"});
    modem.On("AT+CPBR=", entries);
    const auto start = clock.Now();
    const RangeReadResult range = ReadCellRange(at, 1, SettingsLines);
    EXPECT_EQ(range.status, RangeStatus::FallBack);
    EXPECT_EQ(range.reason, "no final result");
    EXPECT_GE(clock.Now() - start, 4000ms + RangeSilenceBound);
    EXPECT_LE(clock.Now() - start, 4000ms + RangeSilenceBound + 300ms);
  }
  {
    SCOPED_TRACE("an unsolicited line every second, never a final result");
    ManualClock clock;
    ScriptedModem modem{clock};
    AtEngine at{modem, clock};
    std::vector<ScriptedModem::Chunk> ring;
    for (int i = 0; i < 200; ++i) ring.push_back({Millis(1000 * i), "\r\nRING\r\n"});
    modem.On("AT+CPBR=", ring);
    const auto start = clock.Now();
    const RangeReadResult range = ReadCellRange(at, 1, 10);
    EXPECT_EQ(range.status, RangeStatus::FallBack);
    EXPECT_LE(clock.Now() - start, CellReadBound + 10 * RangeCellAllowance + 300ms);
  }
}

TEST(RangeRead, BusyOnceIsTriedAgain) {
  ManualClock clock;
  ScriptedModem modem{clock};
  AtEngine at{modem, clock};
  modem.Answer("\r\n+CME ERROR: 14\r\n");
  modem.Answer("\r\n+CPBR: 2,\"5\",129,\"02\"\r\n\r\nOK\r\n");
  const RangeReadResult range = ReadCellRange(at, 1, 2);
  ASSERT_EQ(range.status, RangeStatus::Done) << range.reason;
  EXPECT_EQ(range.commands, 2);
  EXPECT_EQ(range.Cell(1).outcome, CellOutcome::Empty);
  EXPECT_EQ(range.Cell(2).raw, " 2,\"5\",129,\"02\"\r\n");
  EXPECT_EQ(modem.commands, (std::vector<std::string>{"AT+CPBR=1,2\r", "AT+CPBR=1,2\r"}));
}

// A capped modem: the read goes on from the index after each reply's last
// entry, and stops at a reply with no entry.
TEST(RangeRead, CappedRepliesAreReadOnFromTheNextIndex) {
  OnSim s([](sim::GatewayOptions& o) { o.faults.rangeCap = 4; });
  s.model.FillBlank();
  for (int i : {2, 3, 5, 8, 9, 11}) s.model.SetEntry(i, "1", std::to_string(i));
  const RangeReadResult range = ReadCellRange(s.at, 1, 20);
  ASSERT_TRUE(range.Ok()) << range.reason;
  EXPECT_EQ(s.port.written, "AT+CPBR=1,20\rAT+CPBR=9,20\rAT+CPBR=12,20\r");
  for (int i = 1; i <= 20; ++i) {
    SCOPED_TRACE(i);
    const bool filled = i == 2 || i == 3 || i == 5 || i == 8 || i == 9 || i == 11;
    EXPECT_EQ(range.Cell(i).outcome, filled ? CellOutcome::Done : CellOutcome::Empty);
  }
}

TEST(RangeRead, LineLostStopAndProgress) {
  {
    OnSim s([](sim::GatewayOptions& o) { o.faults.hangUpAfterCommands = 0; });
    EXPECT_EQ(ReadCellRange(s.at, 1, SettingsLines).status, RangeStatus::LineLost);
  }
  {
    OnSim s([](sim::GatewayOptions& o) { o.commandLatency = 100ms; });
    int asked = 0;
    const RangeReadResult range = ReadCellRange(s.at, 1, SettingsLines, [&] { return ++asked > 20; });
    EXPECT_EQ(range.status, RangeStatus::Stopped);
    EXPECT_TRUE(range.cells.empty());
  }
  {
    OnSim s([](sim::GatewayOptions& o) { o.commandLatency = 20ms; });
    s.model.EraseEntry(50);
    std::vector<int> told;
    const RangeReadResult range = ReadCellRange(s.at, 1, SettingsLines, {}, [&](int i) { told.push_back(i); });
    ASSERT_TRUE(range.Ok());
    ASSERT_EQ(told.size(), 98u);
    EXPECT_EQ(told.front(), 1);
    EXPECT_EQ(told[49], 51);
    EXPECT_EQ(told.back(), 99);
  }
}

// The book read as a connection uses it: by range, or cell by cell for the
// rest of the connection once a range read fell back; the same cells either way.
TEST(ReadCells, ByRangeOrCellByCellTheSameCells) {
  struct Case {
    const char* name;
    std::function<void(sim::GatewayOptions&)> options;
    bool byRange;
    std::string written;  // the commands up to cell 3, for a look at the path taken
  };
  const Case cases[] = {
      {"range", [](sim::GatewayOptions& o) { o.faults.gsmNul = true; }, true, "AT+CPBR=1,99\rAT+CPBR=99,99\r"},
      {"range refused",
       [](sim::GatewayOptions& o) {
         o.faults.gsmNul = true;
         o.faults.noRange = true;
       },
       false, "AT+CPBR=1,99\rAT+CPBR=01\rAT+CPBR=02\rAT+CPBR=03\r"},
  };
  std::string reference;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnSim s(c.options);
    OddBook(s.model);
    SimImage image;
    FillWithJunk(image);
    bool useRange = true;
    int told = 0;
    const CellsRead read = ReadCells(s.at, image, 1, SettingsLines, useRange, [&](int i) { told = i; });
    ASSERT_TRUE(read.Ok());
    EXPECT_EQ(read.byRange, c.byRange);
    EXPECT_EQ(useRange, c.byRange);
    EXPECT_EQ(told, SettingsLines);
    EXPECT_EQ(s.port.written.substr(0, c.written.size()), c.written);
    ASSERT_EQ(read.cells.size(), 99u);
    std::string text;
    for (int i = 1; i <= SettingsLines; ++i)
      text += SettingsLineOf(i, read.cells[static_cast<std::size_t>(i - 1)]) + std::string(image.CellNumber(i)) +
              "|" + std::string(image.CellName(i)) + "\n";
    if (reference.empty())
      reference = text;
    else
      EXPECT_EQ(text, reference);
    // The next read of this connection goes the same way without asking.
    s.port.written.clear();
    ASSERT_TRUE(ReadCells(s.at, image, 98, 98, useRange).Ok());
    EXPECT_EQ(s.port.written, c.byRange ? "AT+CPBR=98,98\r" : "AT+CPBR=98\r");
  }
  {
    SCOPED_TRACE("a silent cell after the fall back");
    OnSim s([](sim::GatewayOptions& o) { o.faults.noRange = true; o.faults.silentAfterCommands = 5; });
    SimImage image;
    bool useRange = true;
    const CellsRead read = ReadCells(s.at, image, 1, SettingsLines, useRange);
    EXPECT_EQ(read.failedCell, 5);
    EXPECT_EQ(read.failure.outcome, CellOutcome::NoAnswer);
    EXPECT_EQ(read.cells.size(), 4u);
  }
  {
    SCOPED_TRACE("the line lost");
    OnSim s([](sim::GatewayOptions& o) { o.faults.hangUpAfterCommands = 0; });
    SimImage image;
    bool useRange = true;
    const CellsRead read = ReadCells(s.at, image, 1, SettingsLines, useRange);
    EXPECT_EQ(read.failedCell, 1);
    EXPECT_EQ(read.failure.outcome, CellOutcome::LineLost);
  }
}

}  // namespace
}  // namespace tv
