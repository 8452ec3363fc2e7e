// The connection's read of the whole book: one range command where the modem
// takes it, the cell-by-cell read where it does not (for the rest of the
// connection) or where the operator chose it; the settings-file text the same
// byte for byte either way.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/settings_file.h"
#include "gateway/session.h"
#include "gateway/transfers.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/scripted_modem.h"
#include "tests/support/simulated_gateway.h"

namespace tv {
namespace {

using test::SimulatedGateway;

std::vector<std::string> Commands(const std::string& written) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : written) {
    cur += c;
    if (c == '\r') {
      out.push_back(cur);
      cur.clear();
    }
  }
  return out;
}

struct Rig : SimulatedGateway {
  explicit Rig(bool cellByCell) {
    session.cellByCell = cellByCell;
    gateway.SetEntry(7, std::string("12\0" "3", 4), "@ in GSM");
    gateway.SetEntry(60, "", "");
  }
  // Connects and reads the book as SIM to file does; the file's text.
  std::string ConnectAndRead() {
    EXPECT_FALSE(AttachGateway(session).Failed());
    std::string text;
    EXPECT_FALSE(ReadSimCells(session, &text, {}).Failed());
    return text;
  }
};

TEST(BookRead, OneRangeCommandOrCellByCellTheSameText) {
  Rig reference(true);
  const std::string expected = reference.ConnectAndRead();
  ASSERT_EQ(Commands(reference.port.written).size(), 2u + 99u);  // AT, cell 98, cells 1..99

  struct Case {
    const char* name;
    std::function<void(sim::GatewayModel&)> setup;
    std::vector<std::string> commands;  // the whole exchange; empty: not checked
    bool rangeAfter;
  };
  std::vector<std::string> fallback{"AT\r", "AT+CPBR=1,99\r"};
  for (int i = 1; i <= 99; ++i)
    fallback.push_back(std::string("AT+CPBR=") + char('0' + i / 10) + char('0' + i % 10) + "\r");
  const Case cases[] = {
      {"the range form", [](sim::GatewayModel&) {}, {"AT\r", "AT+CPBR=1,99\r"}, true},
      {"echo and unsolicited lines",
       [](sim::GatewayModel& m) {
         m.Options().echo = true;
         m.Options().faults.urcPercent = 40;
       },
       {"AT\r", "AT+CPBR=1,99\r"},
       true},
      {"refused: cell by cell for the connection", [](sim::GatewayModel& m) { m.Options().faults.noRange = true; },
       fallback, false},
      {"capped at 30 entries a reply", [](sim::GatewayModel& m) { m.Options().faults.rangeCap = 30; }, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig r(false);
    c.setup(r.gateway);
    EXPECT_EQ(r.ConnectAndRead(), expected);
    const std::vector<std::string> sent = Commands(r.port.written);
    if (!c.commands.empty()) {
      EXPECT_EQ(sent, c.commands);
    }
    // The signature comes from the book's read, not from a read of its own.
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[1], "AT+CPBR=1,99\r");
    EXPECT_EQ(r.session.rangeReads, c.rangeAfter);
    // A second read of the same connection goes the way the first ended.
    r.port.written.clear();
    std::string again;
    EXPECT_FALSE(ReadSimCells(r.session, &again, {}).Failed());
    EXPECT_EQ(again, expected);
    EXPECT_EQ(Commands(r.port.written).size(), c.rangeAfter ? (c.commands.empty() ? 4u : 1u) : 99u);
  }
}

// A tool killed during a range read leaves its tail on the line: the next
// connection's probe is answered first by "+CPBR: 97,..." and the OK that
// ended that read, and only then by its own, late OK. Whatever came besides
// the probe's answer is let drain away before the book is read: the late OK
// must not pass for the range read's answer (an empty book, no signature,
// the SIM offered for initialisation).
TEST(BookRead, TheTailOfAnEarlierReadIsNotTakenForTheBook) {
  ManualClock clk;
  test::ScriptedModem modem{clk};
  GatewaySession session{clk, modem};
  modem.On("AT\r", {{Millis(0), "\r\n+CPBR: 97,\"0\",129,\"97\"\r\n\r\nOK\r\n"}, {Millis(60), "\r\nOK\r\n"}});
  std::string book;
  for (int cell = 1; cell <= 99; ++cell) {
    const std::string digits{static_cast<char>('0' + cell / 10), static_cast<char>('0' + cell % 10)};
    book += "\r\n+CPBR: " + std::to_string(cell) + (cell == ModeCell ? ",\"0000100\",129,\"98.GSM.TRV\"" : ",\"0\",129,\"" + digits + "\"") + "\r\n";
  }
  modem.On("AT+CPBR=1,99\r", {{Millis(120), book + "\r\nOK\r\n"}});
  ASSERT_FALSE(AttachGateway(session).Failed());
  EXPECT_TRUE(session.image.HasSignature());
  EXPECT_EQ(session.image.CellName(1), "01");
  EXPECT_EQ(session.image.CellName(97), "97");
  std::string text;
  ASSERT_FALSE(ReadSimCells(session, &text, {}).Failed());
  EXPECT_EQ(SplitLinesForSim(text).size(), 99u);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// File to SIM writes only the lines that differ from the SIM's, byte for
// byte, after one range read; the read-back then shows the file whole.
TEST(DifferingWrites, OnlyWhatDiffersIsWritten) {
  struct Case {
    const char* name;
    std::function<void(std::string&)> edit;  // on the SIM's own backup
    std::vector<std::string> writes;
  };
  const Case cases[] = {
      {"a file equal to the SIM", [](std::string&) {}, {}},
      {"one cell differs",
       [](std::string& text) {
         const std::size_t at = text.find(" 5,\"");
         text.replace(at, text.find("\r\n", at) - at, " 5,\"123\",129,\"05\"");
       },
       {"AT+CPBW= 5,\"123\",129,\"05\"\r"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir dir;  // the write's journal goes beside the settings files
    Rig r(false);
    r.session.writeAll = false;
    std::string file = r.ConnectAndRead();
    c.edit(file);
    r.port.written.clear();
    const SendOutcome sent = SendFileToSim(r.session, file, "test.set", {});
    EXPECT_FALSE(sent.device.Failed());
    std::vector<std::string> writes;
    for (const std::string& cmd : Commands(r.port.written))
      if (cmd.rfind("AT+CPBW=", 0) == 0) writes.push_back(cmd);
    EXPECT_EQ(writes, c.writes);
    // One range read before the writes, nothing else.
    EXPECT_EQ(Commands(r.port.written).front(), "AT+CPBR=1,99\r");
    EXPECT_EQ(sent.matched, 99 - static_cast<int>(c.writes.size()));
    std::string back;
    EXPECT_FALSE(ReadSimCells(r.session, &back, {}).Failed());
    EXPECT_EQ(back, file);
  }
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// The settings read before a File to SIM (what restore says will change)
// cost no read of their own: the connection's book, or one read that the
// writes then use; the SIM's texts as its backup loads them (a blank in a
// name dropped, as from the file).
TEST(SettingsRead, TheBookIsReadOnceForTheSettingsAndTheWrites) {
  for (const bool cellByCell : {false, true}) {
    SCOPED_TRACE(cellByCell ? "cell by cell" : "by range");
    test::ScratchDir dir;
    Rig r(cellByCell);
    r.session.writeAll = false;
    r.gateway.SetEntry(9, "123", "IVAN PETROV");
    ASSERT_FALSE(AttachGateway(r.session).Failed());
    SimImage settings;
    ASSERT_FALSE(ReadSimSettings(r.session, settings, {}).Failed());
    EXPECT_EQ(settings.CellName(9), "IVANPETROV");
    EXPECT_EQ(settings.CellNumber(7), std::string("12\0" "3", 4));
    EXPECT_TRUE(settings.HasSignature());
    const std::size_t reads = Commands(r.port.written).size();
    EXPECT_EQ(reads, cellByCell ? 2u + 99u : 2u);  // AT, the mode cell or the range, the cells
    std::string file = EncodeSettingsFile(settings);
    const SendOutcome sent = SendFileToSim(r.session, file, "test.set", {});
    EXPECT_FALSE(sent.device.Failed());
    const std::vector<std::string> after = Commands(r.port.written);
    // The writes follow at once: the name that held a blank, and the cells
    // whose saved form differs from the device's lines.
    for (std::size_t n = reads; n < after.size(); ++n) EXPECT_EQ(after[n].rfind("AT+CPBW=", 0), 0u) << after[n];
    EXPECT_NE(std::find(after.begin(), after.end(), "AT+CPBW= 09,\"123\",129,\"IVANPETROV\"\r"), after.end());
  }
}

}  // namespace
}  // namespace tv
