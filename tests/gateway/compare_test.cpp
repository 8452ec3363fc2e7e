// The one comparison of a settings file with the SIM.
#include "gateway/compare.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/settings_file.h"
#include "core/sim_image.h"
#include "device/range_read.h"
#include "tests/support/sim_book.h"

namespace tv {
namespace {

using test::OddBook;
using test::OnSim;

// Which of the comparison's lines differ: what restore writes.
std::vector<bool> Differing(const std::vector<std::string>& commands, const std::vector<std::string>& sim) {
  std::vector<bool> out;
  for (const LineAgainstSim& l : CompareWithSim(commands, sim)) out.push_back(l.differs);
  return out;
}

// The one comparison of a file with the SIM: a file line differs (restore
// writes it, verify reports it) only when the SIM's line of its cell differs
// from it byte for byte, or when it names no cell.
TEST(CompareWithSim, OnlyLinesThatChangeTheSim) {
  std::vector<std::string> sim(SettingsLines + 1);
  for (int i = 1; i <= SettingsLines; ++i) sim[static_cast<std::size_t>(i)] = EncodeSaveLine(i, "0", "x");
  sim[3] = " 3,\"+79031112233\",145,\"03\"\r\n";  // as the SIM answered it
  sim[5] = std::string(" 5,\"1\0" "2\",129,\"a\"\r\n", 18);
  sim[6] = " 06,\"\",129,\"\"\r\n";  // an empty location
  sim[9].clear();                     // not known
  sim[11] = " 11,\"123\",129,\"IVAN PETROV\"\r\n";
  struct Case {
    const char* name;
    std::vector<std::string> commands;
    std::vector<bool> send;
  };
  const Case cases[] = {
      {"equal in the image's form", {"AT+CPBW= 01,\"0\",129,\"x\"\r"}, {false}},
      {"equal with the index as the SIM gives it", {"AT+CPBW= 1,\"0\",129,\"x\"\r"}, {false}},
      {"equal, copied from the SIM", {"AT+CPBW= 3,\"+79031112233\",145,\"03\"\r"}, {false}},
      {"the type differs", {"AT+CPBW= 03,\"+79031112233\",129,\"03\"\r"}, {true}},
      {"the name differs", {"AT+CPBW= 01,\"0\",129,\"y\"\r"}, {true}},
      {"a blank inside differs", {"AT+CPBW= 01,\"0\", 129,\"x\"\r"}, {true}},
      {"two blanks inside a name against one", {"AT+CPBW= 11,\"123\",129,\"IVAN  PETROV\"\r"}, {true}},
      {"a name's blank kept", {"AT+CPBW= 11,\"123\",129,\"IVAN PETROV\"\r"}, {false}},
      {"byte 0 inside, equal", {std::string("AT+CPBW= 05,\"1\0" "2\",129,\"a\"\r", 26)}, {false}},
      {"byte 0 against '@'", {"AT+CPBW= 05,\"1@2\",129,\"a\"\r"}, {true}},
      {"an empty location, and the empty cell's line", {"AT+CPBW= 06,\"\",129,\"\"\r"}, {false}},
      {"an empty location, and a text", {"AT+CPBW= 06,\"1\",129,\"\"\r"}, {true}},
      {"a cell that is not known", {"AT+CPBW= 09,\"0\",129,\"x\"\r"}, {true}},
      {"no cell 1..99", {"AT+CPBW= 100,\"0\",129,\"x\"\r", "AT+CPBW= 00,\"0\",129,\"x\"\r"}, {true, true}},
      {"not a line of a cell", {"AT+CPBW=garbage\r", "AT+CPBW=\r", "AT+CPBW=,\"0\"\r"}, {true, true, true}},
      {"a field after the name", {"AT+CPBW= 02,\"0\",129,\"x\",0\r"}, {true}},
      // The last line of a cell wins on the SIM: after a changed line is
      // sent, a later line equal to the SIM's old one must go too.
      {"a cell changed and changed back",
       {"AT+CPBW= 07,\"5\",129,\"x\"\r", "AT+CPBW= 07,\"0\",129,\"x\"\r"},
       {true, true}},
      {"a cell named twice alike", {"AT+CPBW= 07,\"5\",129,\"x\"\r", "AT+CPBW= 7,\"5\",129,\"x\"\r"}, {true, false}},
      {"equal twice", {"AT+CPBW= 08,\"0\",129,\"x\"\r", "AT+CPBW= 08,\"0\",129,\"x\"\r"}, {false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Differing(c.commands, sim), c.send);
  }
  EXPECT_EQ(Differing({"AT+CPBW= 01,\"0\",129,\"x\"\r"}, {}), std::vector<bool>{true}) << "no SIM lines known";
}

// What a line is compared with, for verify to report: its place in the file,
// the cell it names and the SIM's own line of that cell.
TEST(CompareWithSim, NamesTheLineTheCellAndBothSides) {
  std::vector<std::string> sim(SettingsLines + 1);
  for (int i = 1; i <= SettingsLines; ++i) sim[static_cast<std::size_t>(i)] = EncodeSaveLine(i, "0", "x");
  sim[7] = " 7,\"123\",129,\"IVAN PETROV\"\r\n";
  const std::vector<LineAgainstSim> compared =
      CompareWithSim({"AT+CPBW= 01,\"0\",129,\"x\"\r", "AT+CPBW=junk\r", "AT+CPBW= 07,\"123\",129,\"IVAN  PETROV\"\r"}, sim);
  ASSERT_EQ(compared.size(), 3u);
  EXPECT_EQ(compared[0].line, 1);
  EXPECT_EQ(compared[0].cell, 1);
  EXPECT_FALSE(compared[0].differs);
  EXPECT_EQ(compared[1].line, 2);
  EXPECT_EQ(compared[1].cell, -1);
  EXPECT_TRUE(compared[1].differs);
  EXPECT_EQ(compared[1].fileLine, "junk");
  EXPECT_EQ(compared[1].simLine, "");
  EXPECT_EQ(compared[2].line, 3);
  EXPECT_EQ(compared[2].cell, 7);
  EXPECT_TRUE(compared[2].differs);
  EXPECT_EQ(compared[2].fileLine, " 07,\"123\",129,\"IVAN  PETROV\"");
  EXPECT_EQ(compared[2].simLine, " 7,\"123\",129,\"IVAN PETROV\"");
}

// A backup of a SIM, sent back to it, needs no write; one changed cell
// needs one.
TEST(CompareWithSim, ABackupOfTheSimWritesNothing) {
  OnSim s([](sim::GatewayOptions& o) { o.faults.gsmNul = true; });
  OddBook(s.model);
  const RangeReadResult range = ReadCellRange(s.at, 1, SettingsLines);
  ASSERT_TRUE(range.Ok());
  std::vector<std::string> simLines(SettingsLines + 1);
  std::string file;
  for (int i = 1; i <= SettingsLines; ++i) {
    simLines[static_cast<std::size_t>(i)] = SettingsLineOf(i, range.Cell(i));
    file += SettingsLineOf(i, range.Cell(i));
  }
  const std::vector<std::string> commands = SplitLinesForSim(PadToBlocks(file));
  ASSERT_EQ(commands.size(), 99u);
  EXPECT_EQ(Differing(commands, simLines), std::vector<bool>(99, false));

  SimImage image;
  ParseSettingsText(PadToBlocks(file), image);
  image.SetCellName(40, "changed");
  const std::vector<bool> send = Differing(SplitLinesForSim(EncodeSettingsFile(image)), simLines);
  std::vector<bool> expected(99, false);
  expected[39] = true;
  // The image's form drops the blanks inside the name of cell 3 and the
  // type 145, and cuts cell 4's texts: those lines change the SIM too.
  expected[2] = expected[3] = true;
  EXPECT_EQ(send, expected);
}

}  // namespace
}  // namespace tv
