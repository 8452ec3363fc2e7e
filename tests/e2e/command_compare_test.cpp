// verify and restore compare a file with the SIM alike: what restore would
// write is exactly what verify reports, and a line the SIM refuses makes
// restore's status 1 whatever the read-back shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/command_run.h"
#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

// The settings text with the line of `cell` (as the SIM writes it, " 7,...")
// replaced by `line`.
std::string WithLine(std::string text, int cell, const std::string& line) {
  const std::string head = " " + std::to_string(cell) + ",";
  std::size_t at = text.rfind(head, 0) == 0 ? 0 : text.find("\n" + head);
  if (at == std::string::npos) return text;
  if (at != 0) ++at;
  return text.replace(at, text.find("\r\n", at) - at, line);
}

// Two blanks inside a name where the SIM holds one, and a line that names no
// cell: verify reports both, restore writes both (the SIM refuses the
// second), and afterwards both report the refused line alone.
TEST(CommandCompareE2E, VerifyReportsWhatRestoreWrites) {
  if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  Scratch dir;
  auto gateway = StartGateway(dir);
  ASSERT_EQ(RunTool(dir.Path(), {"backup", "COM1", "sim.set"}).status, 0);
  const std::string onSim = WithLine(ReadAll(dir / "sim.set"), 7, " 7,\"123\",129,\"IVAN PETROV\"");
  WriteAll(dir / "onsim.set", onSim);
  ASSERT_EQ(RunTool(dir.Path(), {"restore", "COM1", "onsim.set"}).status, 0);
  WriteAll(dir / "x.set", WithLine(WithLine(onSim, 7, " 7,\"123\",129,\"IVAN  PETROV\""), 4, "junk"));

  const std::string junk = "{\"line\": 4, \"cell\": null, \"file_line\": \"junk\"}\n";
  const std::string name = "{\"line\": 7, \"cell\": 7, \"file\": \"123\", \"sim\": \"123\", \"file_name\": \"IVAN  PETROV\", "
                           "\"sim_name\": \"IVAN PETROV\", \"setting\": \"" + Utf8(u8"Записная книжка: контакт 07") + "\"}\n";
  Outcome o = RunTool(dir.Path(), {"verify", "--json", "COM1", "x.set"});
  EXPECT_EQ(o.status, 1) << Describe(o);
  EXPECT_EQ(o.out.rfind(junk + name + "{\"status\": 1, \"command\": \"verify\"", 0), 0u) << Describe(o);
  EXPECT_NE(o.out.find("\"cells_differing\": 2, \"refused_lines\": []"), std::string::npos) << Describe(o);
  EXPECT_EQ(o.err, Utf8(u8"Строка 04: не называет ячейку 1..99: junk\n"
                        u8"Ячейка 07 (Записная книжка: контакт 07): файл \"123\",\"IVAN  PETROV\"; SIM-Карта \"123\",\"IVAN PETROV\"\n"
                        u8"tarvelin: Ячеек с отличиями: 2\n"));

  // The two lines verify named are the two restore sends: one taken, one
  // refused; 97 already matched.
  o = RunTool(dir.Path(), {"restore", "--json", "COM1", "x.set"});
  EXPECT_EQ(o.status, 1) << Describe(o);
  EXPECT_NE(o.err.find(Utf8(u8"SIM-Карта не приняла строк: 1 из 99. Не приняты строки: 04\n")), std::string::npos)
      << Describe(o);
  EXPECT_NE(o.out.find(Utf8(u8"\"refused_lines\": [4], ")), std::string::npos) << Describe(o);
  EXPECT_NE(o.out.find(Utf8(u8"\"notices\": [\"Записано строк: 1, уже совпадали: 97\"]")), std::string::npos)
      << Describe(o);
  EXPECT_EQ(o.out.rfind(junk + "{\"status\": 1, \"command\": \"restore\"", 0), 0u) << Describe(o);

  o = RunTool(dir.Path(), {"verify", "--json", "COM1", "x.set"});
  EXPECT_EQ(o.status, 1) << Describe(o);
  EXPECT_EQ(o.out.rfind(junk + "{\"status\": 1, \"command\": \"verify\"", 0), 0u) << Describe(o);
}

// A refused line decides restore's status on its own: a line that names no
// cell, and a line --all sends though the SIM already holds it (the
// read-back then matches the file).
TEST(CommandCompareE2E, ARefusedLineIsStatusOne) {
  if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  struct Case {
    const char* name;
    std::vector<std::string> gwsim;
    std::vector<std::string> args;  // the file is the SIM's own backup, line 4 replaced when junk
    bool junk;
    int refused;
  } cases[] = {
      {"a line that names no cell", {}, {"restore", "--json", "COM1", "x.set"}, true, 4},
      {"--all, a line the SIM holds and refuses", {"--error-to", "AT+CPBW= 5,"},
       {"restore", "--json", "--all", "COM1", "x.set"}, false, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch dir;
    auto gateway = StartGateway(dir, c.gwsim);
    ASSERT_EQ(RunTool(dir.Path(), {"backup", "COM1", "sim.set"}).status, 0);
    const std::string backup = ReadAll(dir / "sim.set");
    WriteAll(dir / "x.set", c.junk ? WithLine(backup, 4, "junk") : backup);
    const Outcome o = RunTool(dir.Path(), c.args);
    EXPECT_EQ(o.status, 1) << Describe(o);
    EXPECT_NE(o.out.find("\"refused_lines\": [" + std::to_string(c.refused) + "], "), std::string::npos)
        << Describe(o);
  }
}

}  // namespace
}  // namespace tv::e2e
