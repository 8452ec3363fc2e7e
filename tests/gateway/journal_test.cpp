// The journal of an unfinished write read back for a gateway: its own, one
// of the same line or the same port name under another file name, an
// earlier version's; never another gateway's; its text UTF-8.
#include "gateway/journal.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/host.h"
#include "tests/support/scratch_dir.h"

namespace tv {
namespace {

using test::ScratchDir;

// A write of a.set to `line` (reached as `port`) that stopped after 10 lines.
std::string JournalText(const std::string& line, const std::string& port, int gateway) {
  TransferJournal j;
  j.line = line;
  j.port = port;
  j.gatewayIndex = gateway - 1;
  j.device = "./COM1 -> /dev/pts/77";
  j.file = "a.set";
  j.written = 10;
  j.total = 99;
  return EncodeJournal(j);
}

TEST(TransferJournal, ReadForTheGatewayOfItsLine) {
  ScratchDir dir;
  const std::string line = PortLine(0);  // COM1, as this machine leads it
  const std::string own = JournalPath(0, 0);
  // An earlier version's journal: named after the COM name, the device row
  // in cp866 ("Устройство").
  const std::string earlier =
      "# tarvelin\nport COM1\ngateway 1\ndevice \x93\xE1\xE2\xE0\xAE\xA9\xE1\xE2\xA2\xAE\n"
      "transfer file\nfile old.set\nwritten 30\ntotal 99\n";
  struct Planted {
    std::string path, text;
  };
  struct Case {
    const char* name;
    std::vector<Planted> files;
    bool found;
    std::string file;  // "?": told without figures
    int written;
  };
  const std::vector<Case> cases = {
      {"its own", {{own, JournalText(line, "COM1", 1)}}, true, "a.set", 10},
      {"another gateway's copied to this one's name", {{own, JournalText(line, "COM1", 2)}}, true, "?", 0},
      {"another gateway's under its own name", {{JournalPath(0, 1), JournalText(line, "COM1", 2)}}, false, "", 0},
      {"the same line reached by another name",
       {{"tarvelin-rfc2217-10.0.0.5-2001-1.journal", JournalText(line, "rfc2217://10.0.0.5:2001", 1)}},
       true, "a.set", 10},
      {"the same line by another name, another gateway",
       {{"tarvelin-rfc2217-10.0.0.5-2001-2.journal", JournalText(line, "rfc2217://10.0.0.5:2001", 2)}},
       false, "", 0},
      {"the same port name, its device renumbered since",
       {{"tarvelin-dev-pts-77-1.journal", JournalText("/dev/pts/77", "COM1", 1)}}, true, "a.set", 10},
      {"another line, another name",
       {{"tarvelin-dev-pts-77-1.journal", JournalText("/dev/pts/77", "COM2", 1)}}, false, "", 0},
      {"an earlier version's", {{"tarvelin-COM1-1.journal", earlier}}, true, "old.set", 30},
      {"not a journal at this one's name", {{own, "garbage\n"}}, true, "?", 0},
      {"no journal", {}, false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir each;
    for (const Planted& p : c.files) ScratchDir::Write(p.path, p.text);
    TransferJournal read;
    ASSERT_EQ(ReadJournal(0, 0, read), c.found);
    if (!c.found) continue;
    EXPECT_EQ(read.file, c.file);
    EXPECT_EQ(read.written, c.written);
    EXPECT_EQ(read.gatewayIndex, 0);
    if (c.file == "old.set") {
      EXPECT_EQ(read.device, "Устройство");  // UTF-8
    }
    // Removed with the notice, and only that one.
    RemoveJournal(0, 0);
    EXPECT_FALSE(ReadJournal(0, 0, read));
  }
}

// Another gateway's journal outlives this gateway's removal.
TEST(TransferJournal, RemovingOneGatewaysKeepsTheOthers) {
  ScratchDir dir;
  ScratchDir::Write(JournalPath(0, 0), JournalText(PortLine(0), "COM1", 1));
  ScratchDir::Write(JournalPath(0, 1), JournalText(PortLine(0), "COM1", 2));
  RemoveJournal(0, 0);
  EXPECT_FALSE(ScratchDir::Exists(JournalPath(0, 0)));
  EXPECT_TRUE(ScratchDir::Exists(JournalPath(0, 1)));
}

// The text is UTF-8 whatever it was given: a name's stray bytes become '?',
// control bytes too, and it reads back as written.
TEST(TransferJournal, TheTextIsUtf8) {
  TransferJournal j;
  j.line = "/dev/pts/7";
  j.port = "COM3";
  j.gatewayIndex = 1;
  j.device = "rfc2217://10.0.0.5:2001 (без шифрования)";  // UTF-8
  j.file = "gw\xFF\n1.set";
  j.written = 3;
  j.total = 99;
  const std::string text = EncodeJournal(j);
  EXPECT_NE(text.find("\ndevice " + j.device + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nfile gw??1.set\n"), std::string::npos) << text;
  TransferJournal back;
  ASSERT_TRUE(DecodeJournal(text, back));
  EXPECT_EQ(back.line, j.line);
  EXPECT_EQ(back.port, j.port);
  EXPECT_EQ(back.gatewayIndex, 1);
  EXPECT_EQ(back.device, j.device);
  EXPECT_EQ(back.written, 3);
}

}  // namespace
}  // namespace tv
