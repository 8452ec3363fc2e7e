// The scripted commands and the journal of a write that stopped part way: a
// nightly backup does not take a half-written SIM for a good copy, and the
// journal is found by whatever name reaches its line (an address given on
// the command line, a ./COMn address file holding it).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/command_run.h"
#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/ser2net_process.h"

namespace tv::e2e {
namespace {

const std::string kStopped = Utf8(u8"Прошлая запись файла в SIM-Карту не завершена: остановлена на строке ");

// restore killed part way (12 of 99 lines of another file written), then
// the nightly backup: status 5, the last good backup byte for byte as it
// was, the journal named on standard error and in the summary; --force
// takes the SIM as it is.
TEST(CommandJournalE2E, ABackupOfAHalfWrittenSimKeepsTheLastGoodFile) {
  if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  Scratch dir;
  auto gateway = StartGateway(dir, {"--write-delay", "40"});
  ASSERT_EQ(RunTool(dir.Path(), {"backup", "COM1", "nightly.set"}).status, 0);
  const std::string good = ReadAll(dir / "nightly.set");
  ASSERT_NE(good.find(" 5,\"89265550505\",129,\"05\""), std::string::npos);
  WriteAll(dir / "other.set", SettingsFile("4242"));
  ASSERT_TRUE(KillPartWay(dir.Path(), {"restore", "--all", "COM1", "other.set"}, 12));
  const std::string journal = JournalIn(dir.Path());
  ASSERT_FALSE(journal.empty());
  const std::string refused =
      Utf8(u8"tarvelin: COM1: SIM-Карта записана не полностью (журнал ") + journal +
      Utf8(u8"), файл не записан (записать его все же: backup --force)\n");

  struct Case {
    const char* name;
    std::vector<std::string> args;
  } cases[] = {{"plain", {"backup", "COM1", "nightly.set"}}, {"--json", {"backup", "--json", "COM1", "nightly.set"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = RunTool(dir.Path(), c.args);
    EXPECT_EQ(o.status, 5) << Describe(o);
    EXPECT_EQ(ReadAll(dir / "nightly.set"), good);
    EXPECT_NE(o.err.find(kStopped), std::string::npos) << Describe(o);
    EXPECT_NE(o.err.find(refused), std::string::npos) << Describe(o);
    if (c.args[1] == "--json") {
      EXPECT_NE(o.out.find("{\"status\": 5, \"command\": \"backup\""), std::string::npos) << Describe(o);
      EXPECT_NE(o.out.find(", \"journal\": \"" + journal + "\"}\n"), std::string::npos) << Describe(o);
    }
  }

  const Outcome forced = RunTool(dir.Path(), {"backup", "--force", "COM1", "nightly.set"});
  EXPECT_EQ(forced.status, 0) << Describe(forced);
  const std::string taken = ReadAll(dir / "nightly.set");
  EXPECT_NE(taken.find(" 5,\"4242\",129,\"05\""), std::string::npos) << taken;
  // The journal stays until a write to the SIM completes.
  EXPECT_EQ(JournalIn(dir.Path()), journal);
}

// restore through an address on the command line, killed part way; verify
// through ./COM3, an address file holding that same address (in the other
// form an address file takes), tells of it. The journal is UTF-8 text a
// person can read with cat, its device line too.
TEST(CommandJournalE2E, AJournalIsFoundThroughTheAddressFileOfItsLine) {
  if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  Scratch dir;
  GatewayProcess gwsim(GwsimBinary(), {"--link", dir / "gw", "--write-delay", "40"}, dir / "gw", kScreenWait);
  ASSERT_TRUE(gwsim.Ready());
  Ser2net ser2net(dir.Path(), dir / "gw");
  ASSERT_TRUE(ser2net.Ready()) << "ser2net did not start";
  const std::string port = std::to_string(ser2net.Port());
  const std::string address = "rfc2217://127.0.0.1:" + port;
  WriteAll(dir / "prep.set", SettingsFile("123"));
  ASSERT_TRUE(KillPartWay(dir.Path(), {"restore", "--all", address, "prep.set"}, 5));
  const std::string journal = "tarvelin-rfc2217-127.0.0.1-" + port + "-1.journal";
  ASSERT_EQ(JournalIn(dir.Path()), journal);
  EXPECT_NE(ReadAll(dir / journal).find("\nline " + address + "\n"), std::string::npos) << ReadAll(dir / journal);

  WriteAll(dir / "COM3", "# the gateways' line\ntelnet(rfc2217),tcp,127.0.0.1," + port + "\n");
  // ser2net lets the killed client's connection go when it sees it closed.
  Outcome o;
  for (const auto deadline = Clock::now() + kScreenWait; Clock::now() < deadline;) {
    o = RunTool(dir.Path(), {"verify", "--json", "COM3", "prep.set"});
    if (o.status != 3) break;
  }
  EXPECT_EQ(o.status, 1) << Describe(o);  // part of prep.set is on the SIM
  EXPECT_NE(o.err.find(kStopped), std::string::npos) << Describe(o);
  EXPECT_NE(o.out.find(", \"journal\": \"" + journal + "\"}\n"), std::string::npos) << Describe(o);

  // A write through COM3 stopped part way: the same journal, its device row
  // ("... (линии DTR/RTS не подтверждены)" from ser2net on a pseudo-terminal)
  // in UTF-8.
  std::filesystem::remove(dir / journal);
  bool stopped = false;
  for (int attempt = 0; attempt < 3 && !stopped; ++attempt)  // ser2net may still hold the last client
    stopped = KillPartWay(dir.Path(), {"restore", "--all", "COM3", "prep.set"}, 5);
  ASSERT_TRUE(stopped);
  EXPECT_EQ(JournalIn(dir.Path()), journal);
  const std::string text = ReadAll(dir / journal);
  EXPECT_NE(text.find("\nport COM3\n"), std::string::npos) << text;
  EXPECT_NE(text.find(Utf8(u8"линии DTR/RTS не подтверждены")), std::string::npos) << text;
}

}  // namespace
}  // namespace tv::e2e
