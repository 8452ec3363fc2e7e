// A write to the SIM that stops part way (the tool killed, the line dropped)
// leaves its journal beside the settings files; the next connection to that
// gateway, on the screen and on the command line, says where it stopped,
// until a write completes or the operator dismisses the notice.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/command_run.h"
#include "tests/e2e/gateway_session.h"

namespace tv::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kFileStopped = Utf8(u8"Прошлая запись файла в SIM-Карту не завершена:");
const std::string kPressAnyKey = Utf8(u8"Для продолжения нажмите любую клавишу.");

bool HasJournal(const std::string& dir) { return !JournalIn(dir).empty(); }

// File to SIM of test.set, answered; returns once the question is answered.
::testing::AssertionResult StartFileToSim(TerminalSession& t) {
  if (auto r = Choose(t, kFileMenu, 3, Utf8(u8"Пересылка данных из файла в SIM-Карту")); !r) return r;
  if (auto r = PickTheOnlyFile(t); !r) return r;
  return Answer(t, Utf8(u8"Загрузить данные из файла в SIM-Карту? [Y/N]"), "y");
}

// Enter in the connection dialog; the notice of an unfinished write is
// awaited, checked and answered with the key.
::testing::AssertionResult ConnectThroughNotice(TerminalSession& t, const std::string& where,
                                                const std::string& key) {
  if (auto r = OpenConnectionDialog(t); !r) return r;
  t.Press(Key::Enter);
  if (!t.WaitForText(kFileStopped, kExchangeWait)) return Failure(t, "no notice of the unfinished write");
  if (!t.WaitForText(where, kScreenWait)) return Failure(t, "the notice does not say " + where);
  t.SendKeys(key);
  return FinishConnect(t);
}

// gwsim started anew on ./COM1 after its line hung up (the adapter plugged in
// again). The old one leads the link to a dead device once the line is down
// (a moment after the tool stopped reading), and is ended before the new one
// starts: the new line may get the old one's pseudo-terminal name. The new
// one is ready once the link leads to its own line.
::testing::AssertionResult RestartGateway(GatewaySession& g) {
  const fs::path link = g.Dir() + "/COM1";
  const fs::path dead = "/dev/gwsim-hung-up";
  if (!g.Term().WaitFor([&] {
        std::error_code e;
        return fs::read_symlink(link, e) == dead;
      }))
    return ::testing::AssertionFailure() << "the old line never hung up";
  g.StopGateway();
  if (auto r = g.StartGateway(); !r) return r;
  if (g.Term().WaitFor([&] {
        std::error_code e;
        const fs::path now = fs::read_symlink(link, e);
        return !e && now != dead;
      }))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "./COM1 still leads to " << dead;
}

class JournalE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

// The tool killed in the middle of File to SIM: the next start's connection
// says at which line and from which file; a write that completes ends it.
TEST_F(JournalE2E, AToolKilledMidFileToSimIsToldAtTheNextStart) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway({"--write-delay", "30"}));
  std::ofstream(g.Dir() + "/test.set", std::ios::binary) << SignedSettingsFile("777");
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(StartFileToSim(t));
  ASSERT_TRUE(t.WaitFor([&] { return JournalWritten(g.Dir()) >= 5; }, kExchangeWait)) << t.ScreenText();
  kill(t.Pid(), SIGKILL);
  ASSERT_TRUE(t.WaitForExit().has_value());
  const int written = JournalWritten(g.Dir());
  ASSERT_GE(written, 5);
  ASSERT_LT(written, 99);

  SessionOptions again;
  again.directory = g.Dir();
  TerminalSession next(TarvelinBinary(), again);
  const std::string where =
      Utf8(u8"остановлена на строке ") + std::to_string(written + 1) + Utf8(u8" из 99, файл test.set");
  // Any key but D goes on and keeps the notice for the next connection.
  ASSERT_TRUE(ConnectThroughNotice(next, where, " "));
  EXPECT_TRUE(HasJournal(g.Dir()));

  ASSERT_TRUE(StartFileToSim(next));
  ASSERT_TRUE(Acknowledge(next, Utf8(u8"Данные загружены.  Для продолжения нажмите любую клавишу")));
  EXPECT_FALSE(HasJournal(g.Dir()));
  ASSERT_TRUE(Connect(next));
  EXPECT_EQ(next.ScreenText().find(kFileStopped), std::string::npos);
}

// The line dropped in the middle of File to SIM: the scripted commands say it
// on standard error, the screen says it until D dismisses it.
TEST_F(JournalE2E, ALineDroppedMidFileToSimIsToldUntilDismissed) {
  // The hang-up counts commands: cell by cell, every line written, it comes
  // at a known line.
  SessionOptions cellByCell;
  cellByCell.env = {{"TARVELIN_READ", "cells"}, {"TARVELIN_WRITE", "all"}};
  GatewaySession g(cellByCell);
  TerminalSession& t = g.Term();
  // 101 commands connect, then 30 lines are taken.
  ASSERT_TRUE(g.StartGateway({"--hang-up-after", "131"}));
  std::ofstream(g.Dir() + "/test.set", std::ios::binary) << SignedSettingsFile("777");
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(StartFileToSim(t));
  ASSERT_TRUE(t.WaitForText(Utf8(u8"Записано строк: 30 из 99"), kExchangeWait)) << t.ScreenText();
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait)) << t.ScreenText();
  EXPECT_EQ(JournalWritten(g.Dir()), 30);

  ASSERT_TRUE(RestartGateway(g));
  const std::string where = Utf8(u8"остановлена на строке 31 из 99, файл test.set");
  const Outcome verify = RunTool(g.Dir(), {"verify", "COM1", "test.set"});
  EXPECT_NE(verify.err.find(kFileStopped + " " + where), std::string::npos) << verify.err;

  ASSERT_TRUE(ConnectThroughNotice(t, where, "d"));
  EXPECT_FALSE(HasJournal(g.Dir()));
  ASSERT_TRUE(Connect(t));
  EXPECT_EQ(t.ScreenText().find(kFileStopped), std::string::npos);
}

// restore keeps the journal too: a line dropped part way is told by the next
// restore, which ends it when it completes.
TEST_F(JournalE2E, RestoreKeepsTheJournalAndTellsIt) {
  GatewaySession g;
  // Two commands address the gateway, then 40 lines are taken.
  ASSERT_TRUE(g.StartGateway({"--hang-up-after", "42"}));
  std::ofstream(g.Dir() + "/test.set", std::ios::binary) << SignedSettingsFile("777");
  const Outcome dropped = RunTool(g.Dir(), {"restore", "COM1", "test.set"});
  EXPECT_EQ(dropped.status, 3) << dropped.err;
  EXPECT_EQ(JournalWritten(g.Dir()), 40);

  ASSERT_TRUE(RestartGateway(g));
  const Outcome again = RunTool(g.Dir(), {"restore", "COM1", "test.set"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.err.find(kFileStopped + Utf8(u8" остановлена на строке 41 из 99, файл test.set")),
            std::string::npos)
      << again.err;
  EXPECT_FALSE(HasJournal(g.Dir()));
  const Outcome verify = RunTool(g.Dir(), {"verify", "COM1", "test.set"});
  EXPECT_EQ(verify.status, 0) << verify.err;
  EXPECT_EQ(verify.err.find(kFileStopped), std::string::npos) << verify.err;
}

}  // namespace
}  // namespace tv::e2e
