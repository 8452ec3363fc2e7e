// The command line of the real binary: backup, restore and verify against
// gwsim, usage errors, --help and --version; the help item's pager; the
// installed tree run from an empty directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/version.h"
#include "tests/e2e/command_run.h"
#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/ser2net_process.h"
#include "tests/net/telnet_relay.h"

namespace tv::e2e {
namespace {

// Backup, verify and restore on gateway 2 of COM1 (a pseudo-terminal has no
// DTR/RTS, so the number reaches the port and changes nothing there).
TEST(CommandLineE2E, BackupVerifyAndRestoreOnAGatewayNumber) {
  Scratch dir;
  auto gateway = StartGateway(dir);

  Outcome o = RunTool(dir.Path(), {"backup", "COM1:2", "sim.set"});
  ASSERT_EQ(o.status, 0) << Describe(o);
  EXPECT_EQ(o.out + o.err, "");  // no progress when standard error is a file
  const std::string backup = ReadAll(dir / "sim.set");
  EXPECT_EQ(backup.size() % 256, 0u);
  EXPECT_NE(backup.find(" 5,\"89265550505\",129,\"05\"\r\n"), std::string::npos) << backup;
  EXPECT_NE(backup.find(",129,\"98.GSM.TRV\"\r\n"), std::string::npos) << backup;

  o = RunTool(dir.Path(), {"verify", "COM1:2", "sim.set"});
  EXPECT_EQ(o.status, 0) << Describe(o);
  EXPECT_EQ(o.out, "");

  // The same file with another number in cell 5.
  std::string changed = backup;
  changed.replace(changed.find(" 5,\"89265550505\""), 16, " 5,\"5551234\"");
  WriteAll(dir / "changed.set", changed);
  o = RunTool(dir.Path(), {"verify", "COM1:2", "changed.set"});
  EXPECT_EQ(o.status, 1) << Describe(o);
  // The cell named with the setting it holds.
  EXPECT_EQ(o.out, Utf8(u8"Ячейка 05 (Записная книжка: контакт 05): файл \"5551234\",\"05\"; "
                        u8"SIM-Карта \"89265550505\",\"05\"\n"));
  EXPECT_EQ(o.err, Utf8(u8"tarvelin: Ячеек с отличиями: 1\n"));

  o = RunTool(dir.Path(), {"restore", "COM1:2", "changed.set"});
  EXPECT_EQ(o.status, 0) << Describe(o);
  EXPECT_NE(ReadAll(dir / "dump").find("05,\"5551234\",129,\"05\""), std::string::npos);
  o = RunTool(dir.Path(), {"verify", "COM1:2", "changed.set"});
  EXPECT_EQ(o.status, 0) << Describe(o);
  o = RunTool(dir.Path(), {"verify", "COM1:2", "sim.set"});
  EXPECT_EQ(o.status, 1) << Describe(o);
}

// What each command says and returns when the device or the file fails; a
// backup never replaces the previous file then.
TEST(CommandLineE2E, FailuresGiveTheirStatusAndMessage) {
  struct Case {
    const char* name;
    std::optional<std::vector<std::string>> gwsim;  // none: nothing behind ./COM1
    std::vector<std::string> args;
    int status;
    std::string message;  // the start of standard error (how far a transfer came varies by a cell)
  };
  const std::vector<Case> cases = {
      {"no device",
       std::nullopt,
       {"backup", "COM1", "kept.set"},
       3,
       Utf8(u8"tarvelin: COM1: COM-порта нет или он занят другим приложением\n")},
      {"silent after the probe and cell 98",
       std::vector<std::string>{"--silent-after", "10"},
       {"backup", "COM1:4", "kept.set"},
       3,
       Utf8(u8"tarvelin: COM1:4: Нет ответа от внешнего устройства. (Ячейка 0")},
      {"error to a read",
       std::vector<std::string>{"--error-to", "AT+CPBR=13"},
       {"verify", "COM1", "hand.set"},
       3,
       Utf8(u8"tarvelin: COM1: Неверный ответ устройства (Ячейка 13: ERROR)\n")},
      {"SIM not initialised",
       std::vector<std::string>{"--blank"},
       {"backup", "COM1", "kept.set"},
       3,
       Utf8(u8"tarvelin: COM1: SIM-Карта не инициализирована: файл не записан\n")},
      {"line hangs up while writing",
       std::vector<std::string>{"--hang-up-after", "30"},
       {"restore", "COM1", "signed.set"},
       3,
       Utf8(u8"tarvelin: COM1: Нет ответа от внешнего устройства. (линия связи потеряна. Записано строк: 2")},
      {"SIM refuses every write",
       std::vector<std::string>{"--error-to", "AT+CPBW= 0"},
       {"restore", "COM1", "signed.set"},
       1,
       Utf8(u8"tarvelin: COM1: SIM-Карта не приняла строк: 9 из 99. Не приняты строки: 01, 02, 03, 04, 05, "
            u8"06, 07, 08, 09\n")},
      {"unsigned file",
       std::vector<std::string>{},
       {"restore", "COM1", "hand.set"},
       4,
       Utf8(u8"tarvelin: hand.set: В файле нет настроек шлюза, SIM-Карта не изменена (записать его все же: "
            u8"restore --force)\n")},
      {"no such file",
       std::vector<std::string>{},
       {"verify", "COM1", "none.set"},
       4,
       Utf8(u8"tarvelin: none.set: Ошибка открытия файла! (Нет такого файла)\n")},
      {"restore of a file that cannot be read",
       std::vector<std::string>{},
       {"restore", "COM1", "none.set"},
       4,
       Utf8(u8"tarvelin: none.set: Ошибка открытия файла! (Нет такого файла)\n")},
      {"directory not there",
       std::vector<std::string>{},
       {"backup", "COM1", "no/dir.set"},
       4,
       Utf8(u8"tarvelin: no/dir.set: Ошибка открытия файла! (Нет такого файла)\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch dir;
    WriteAll(dir / "kept.set", "previous backup");
    WriteAll(dir / "hand.set", SettingsFile("123", false));
    WriteAll(dir / "signed.set", SettingsFile("123"));
    std::unique_ptr<GatewayProcess> gateway;
    if (c.gwsim) gateway = StartGateway(dir, *c.gwsim);
    // The faults count the gateway's commands: cell by cell, every line
    // written, so that a count names a cell.
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, "--cell-by-cell");
    if (args[0] == "restore") args.insert(args.begin() + 1, "--all");
    const Outcome o = RunTool(dir.Path(), args);
    EXPECT_EQ(o.status, c.status) << Describe(o);
    // Cells that differ after a restore are listed on standard output.
    EXPECT_EQ(o.err.substr(0, c.message.size()), c.message) << Describe(o);
    EXPECT_EQ(ReadAll(dir / "kept.set"), "previous backup");
  }
}

// A file without the signature goes to the SIM only with --force.
TEST(CommandLineE2E, RestoreOfAnUnsignedFileNeedsForce) {
  Scratch dir;
  auto gateway = StartGateway(dir);
  WriteAll(dir / "hand.set", SettingsFile("4242", false));
  const std::string before = ReadAll(dir / "dump");
  Outcome o = RunTool(dir.Path(), {"restore", "COM1", "hand.set"});
  EXPECT_EQ(o.status, 4) << Describe(o);
  EXPECT_EQ(ReadAll(dir / "dump"), before);
  o = RunTool(dir.Path(), {"restore", "--force", "COM1", "hand.set"});
  EXPECT_EQ(o.status, 0) << Describe(o);
  EXPECT_NE(ReadAll(dir / "dump").find("05,\"4242\",129,\"05\""), std::string::npos);
}

// Arguments that are no command never start the full screen.
TEST(CommandLineE2E, UsageErrorsHelpAndVersion) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // the start of standard output
    std::string err;  // the start of standard error
  };
  const std::string usage = Utf8(u8"Использование:\n  tarvelin ");
  const std::string unknown = Utf8(u8"tarvelin: неизвестная команда или ключ '");
  const std::string needed = Utf8(u8": нужны порт и файл\n");
  std::vector<Case> cases = {
      {{"--help"}, 0, usage, ""},
      {{"--version"}, 0, "tarvelin " TARVELIN_VERSION "\n", ""},
      {{"-h"}, 2, "", unknown + "-h'\n" + usage},
      {{"--version", "x"}, 2, "", unknown + "--version'\n"},
      {{"help"}, 2, "", unknown + "help'\n"},
      {{"backup"}, 2, "", "tarvelin: backup" + needed},
      {{"verify", "COM1"}, 2, "", "tarvelin: verify" + needed},
      {{"verify", "COM1", "a.set", "b.set"}, 2, "", "tarvelin: verify" + needed},
      {{"verify", "--force", "COM1", "a.set"}, 2, "", Utf8(u8"tarvelin: неизвестный ключ '--force'\n")},
      {{"verify", "--all", "COM1", "a.set"}, 2, "", Utf8(u8"tarvelin: неизвестный ключ '--all'\n")},
      {{"backup", "--gateway", "5", "COM1", "a.set"}, 2, "", Utf8(u8"tarvelin: --gateway: нужен номер шлюза 1..4\n")},
      {{"backup", "--gateway", "2", "COM1:3", "a.set"}, 2, "",
       Utf8(u8"tarvelin: 'COM1:3' и --gateway называют разные шлюзы\n")},
      {{"restore", "--force", "COM1"}, 2, "", "tarvelin: restore" + needed},
      {{"verify", "--json", "--json", "COM1"}, 2, "", "tarvelin: verify" + needed},
  };
  for (const char* port : {"COM0", "COM17", "COM1:0", "COM1:5", "COM1:", "COM1:12", "COM", "COM1x"})
    cases.push_back({{"backup", port, "a.set"},
                     2,
                     "",
                     std::string("tarvelin: '") + port + Utf8(u8"' - не COM1..COM16 (после него можно :1..:4)\n")});
  // Neither a COM name, nor a path, nor an address.
  for (const char* port : {"LPT1", "gw", "ttyUSB0"})
    cases.push_back({{"backup", port, "a.set"},
                     2,
                     "",
                     std::string("tarvelin: '") + port +
                         Utf8(u8"' - не порт: нужен COMn, путь устройства или rfc2217://узел:порт\n")});
  Scratch dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    const Outcome o = RunTool(dir.Path(), c.args);
    EXPECT_EQ(o.status, c.status) << Describe(o);
    EXPECT_EQ(o.out.substr(0, c.out.size()), c.out) << Describe(o);
    EXPECT_EQ(o.err.substr(0, c.err.size()), c.err) << Describe(o);
    EXPECT_EQ((o.out + o.err).find('\x1b'), std::string::npos);  // no terminal control
    EXPECT_FALSE(std::filesystem::exists(dir / "a.set"));
  }
}

// --json: the differing cells and a summary as JSON Lines on standard
// output, the same in every locale (cp866 texts as UTF-8, control bytes and
// a byte 0 escaped); the human messages stay on standard error.
TEST(CommandLineE2E, JsonLinesAreTheSameInEveryLocale) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;  // standard output, whole
    std::string err;  // the start of standard error in C.UTF-8
  };
  const std::vector<Case> cases = {
      {"verify, one cell differs",
       {"verify", "--json", "COM1:2", "differs.set"},
       1,
       // cp866 0x80 and 0xFF, the ends of its upper half: А and U+00A0.
       Utf8(u8"{\"line\": 5, \"cell\": 5, \"file\": \"5551234\", \"sim\": \"89265550505\", "
            u8"\"file_name\": \"0\\u0000\\u0001ПА\u00A0\", \"sim_name\": \"05\", \"setting\": \"Записная книжка: контакт 05\"}\n"
            u8"{\"status\": 1, \"command\": \"verify\", \"gateway\": \"COM1:2\", \"file\": \"differs.set\", "
            u8"\"cells_differing\": 1, \"refused_lines\": [], \"reason\": \"Ячеек с отличиями: 1\", \"notices\": [], "
            u8"\"journal\": null}\n"),
       Utf8(u8"Ячейка 05 (Записная книжка: контакт 05): файл \"5551234\",\"0??ПА\u00A0\"; SIM-Карта \"89265550505\",\"05\"\n"
            u8"tarvelin: Ячеек с отличиями: 1\n")},
      {"backup",
       {"backup", "--json", "com1", "sim.set"},
       0,
       "{\"status\": 0, \"command\": \"backup\", \"gateway\": \"COM1:1\", \"file\": \"sim.set\", "
       "\"cells_differing\": 0, \"refused_lines\": [], \"reason\": null, \"notices\": [], \"journal\": null}\n",
       ""},
      {"restore, options in either order",
       {"restore", "--json", "--force", "--all", "COM1:3", "signed.set"},
       0,
       // --all: every line written, whatever the SIM holds.
       "{\"status\": 0, \"command\": \"restore\", \"gateway\": \"COM1:3\", \"file\": \"signed.set\", "
       "\"cells_differing\": 0, \"refused_lines\": [], \"reason\": null, " +
           Utf8(u8"\"notices\": [\"Записано строк: 99, уже совпадали: 0\"], \"journal\": null}\n"),
       ""},
      {"file error",
       {"verify", "--json", "COM1", "none.set"},
       4,
       Utf8(u8"{\"status\": 4, \"command\": \"verify\", \"gateway\": \"COM1:1\", \"file\": \"none.set\", "
            u8"\"cells_differing\": 0, \"refused_lines\": [], \"reason\": \"Ошибка открытия файла! (Нет такого файла)\", "
            u8"\"notices\": [], \"journal\": null}\n"),
       Utf8(u8"tarvelin: none.set: Ошибка открытия файла!")},
      {"usage error",
       {"verify", "--json", "COM1:9", "x.set"},
       2,
       Utf8(u8"{\"status\": 2, \"command\": \"verify\", \"gateway\": null, \"file\": null, \"cells_differing\": 0, "
            u8"\"refused_lines\": [], \"reason\": \"'COM1:9' - не COM1..COM16 (после него можно :1..:4)\", "
            u8"\"notices\": [], \"journal\": null}\n"),
       Utf8(u8"tarvelin: 'COM1:9' - не COM1..COM16 (после него можно :1..:4)\nИспользование:\n")},
      // The summary is promised after a usage error whatever stands before
      // --json: an option refused before it was read.
      {"usage error before --json",
       {"verify", "--bad", "--json", "COM1", "x.set"},
       2,
       Utf8(u8"{\"status\": 2, \"command\": \"verify\", \"gateway\": null, \"file\": null, \"cells_differing\": 0, "
            u8"\"refused_lines\": [], \"reason\": \"неизвестный ключ '--bad'\", \"notices\": [], \"journal\": null}\n"),
       Utf8(u8"tarvelin: неизвестный ключ '--bad'\nИспользование:\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch dir;
    auto gateway = StartGateway(dir);
    // The SIM's own file, but cell 5 with another number and a name with a
    // byte 0, a control byte and a Russian letter.
    ASSERT_EQ(RunTool(dir.Path(), {"backup", "COM1", "sim.set"}).status, 0);
    std::string differing = ReadAll(dir / "sim.set");
    const std::string cell5 = " 5,\"89265550505\",129,\"05\"";
    differing.replace(differing.find(cell5), cell5.size(),
                      std::string(" 5,\"5551234\",129,\"0\0\x01\x8F\x80\xFF\"", 25));
    WriteAll(dir / "differs.set", differing);
    WriteAll(dir / "signed.set", SettingsFile("123"));
    for (const char* lang : {"C.UTF-8", "C"}) {
      SCOPED_TRACE(lang);
      const Outcome o = RunTool(dir.Path(), c.args, TarvelinBinary(), lang);
      EXPECT_EQ(o.status, c.status) << Describe(o);
      EXPECT_EQ(o.out, c.out) << Describe(o);
      if (std::string(lang) == "C.UTF-8") {
        EXPECT_EQ(o.err.substr(0, c.err.size()), c.err) << Describe(o);
      }
    }
  }
}

// With standard error on a terminal, the transfer shows its progress there.
TEST(CommandLineE2E, ProgressOnATerminal) {
  Scratch dir;
  auto gateway = StartGateway(dir);
  SessionOptions o;
  o.withHelpFile = false;
  o.args = {"-c", "cd '" + dir.Path() + "' && exec '" + TarvelinBinary() + "' backup COM1 sim.set"};
  TerminalSession t("/bin/sh", o);
  EXPECT_TRUE(t.WaitForText(Utf8(u8"Чтение SIM-Карты: 99 / 99"), kExchangeWait)) << t.ScreenText();
  const std::optional<int> status = t.WaitForExit(kExchangeWait);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_TRUE(std::filesystem::exists(dir / "sim.set"));
}

// The port of a command as a device path or a network address besides
// COMn: gwsim on ./gw, and behind ser2net and the tests' relay (which
// answers DTR/RTS as a server on real hardware does) on loopback. The
// gateway comes from --gateway; the summary names the port as given.
TEST(CommandLineE2E, PortsByPathAndByAddress) {
  if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  Scratch dir;
  GatewayProcess gwsim(GwsimBinary(), {"--link", dir / "gw", "--dump", dir / "dump"}, dir / "gw", kScreenWait);
  ASSERT_TRUE(gwsim.Ready());
  Ser2net ser2net(dir.Path(), dir / "gw");
  ASSERT_TRUE(ser2net.Ready()) << "ser2net did not start";
  test::TelnetRelay::Options options;
  options.upstreamPort = ser2net.Port();
  test::TelnetRelay relay(options);
  const std::string address = "rfc2217://127.0.0.1:" + std::to_string(relay.Port());
  const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(test::UnusedLoopbackPort());
  WriteAll(dir / "signed.set", SettingsFile("123"));
  WriteAll(dir / "plain.txt", "not a terminal");
  const std::string gone = Utf8(u8"COM-порта нет или он занят другим приложением");
  const std::string badAddress = Utf8(u8"' - адрес не понят, нужно rfc2217://узел:порт\n");

  struct Case {
    std::vector<std::string> args;  // --json is added
    int status;
    std::string err;                  // the start of standard error
    std::string gateway;              // the summary's "gateway", "null" included
    std::vector<std::string> lines;   // the relay's DTR/RTS requests of the run
  };
  const std::vector<Case> cases = {
      {{"backup", "./gw", "sim.set"}, 0, "", "\"./gw:1\"", {}},
      {{"restore", "--gateway", "3", dir / "gw", "signed.set"},
       0,
       "tarvelin: " + dir / "gw" + Utf8(u8": Записано строк: "),
       "\"" + dir / "gw" + ":3\"",
       {}},
      {{"backup", address, "sim.set"}, 0, "", "\"" + address + ":1\"", {"DTR on", "RTS on"}},
      {{"verify", "--gateway", "2", address, "signed.set"}, 0, "", "\"" + address + ":2\"", {"DTR off", "RTS on"}},
      // The other form an address file takes.
      {{"backup", "--gateway", "4", "telnet(rfc2217),tcp,127.0.0.1," + std::to_string(relay.Port()), "sim.set"},
       0,
       "",
       "\"telnet(rfc2217),tcp,127.0.0.1," + std::to_string(relay.Port()) + ":4\"",
       {"DTR off", "RTS off"}},
      // Refused as a missing COMn is: no such path, a file, a directory, no
      // server.
      {{"backup", "./none", "kept.set"}, 3, "tarvelin: ./none: " + gone + "\n", "\"./none:1\"", {}},
      {{"backup", "./plain.txt", "kept.set"}, 3, "tarvelin: ./plain.txt: " + gone + "\n", "\"./plain.txt:1\"", {}},
      {{"verify", dir.Path() + "/", "signed.set"}, 3, "tarvelin: " + dir.Path() + "/: " + gone + "\n",
       "\"" + dir.Path() + "/:1\"", {}},
      {{"backup", refused, "kept.set"}, 3, "tarvelin: " + refused + ": " + gone, "\"" + refused + ":1\"", {}},
      // A path as typed is named without its control bytes.
      {{"backup", "./\x1b[2Jgw", "kept.set"}, 3, "tarvelin: ./?[2Jgw: " + gone + "\n", "\"./\\u001b[2Jgw:1\"", {}},
      // Usage errors: no port number, a port out of range, another scheme.
      {{"backup", "rfc2217://127.0.0.1", "kept.set"}, 2, "tarvelin: 'rfc2217://127.0.0.1" + badAddress, "null", {}},
      {{"backup", "rfc2217://127.0.0.1:99999", "kept.set"},
       2,
       "tarvelin: 'rfc2217://127.0.0.1:99999" + badAddress,
       "null",
       {}},
      {{"backup", "tcp://127.0.0.1:4001", "kept.set"}, 2, "tarvelin: 'tcp://127.0.0.1:4001" + badAddress, "null", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[c.args.size() - 2]);
    WriteAll(dir / "kept.set", "previous backup");
    std::filesystem::remove(dir / "sim.set");
    const std::size_t linesBefore = relay.LineRequests().size();
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, "--json");
    const Outcome o = RunTool(dir.Path(), args);
    EXPECT_EQ(o.status, c.status) << Describe(o);
    EXPECT_EQ(o.err.substr(0, c.err.size()), c.err) << Describe(o);
    EXPECT_NE(o.out.find("\"gateway\": " + c.gateway + ", "), std::string::npos) << Describe(o);
    EXPECT_EQ(ReadAll(dir / "kept.set"), "previous backup");
    EXPECT_EQ((o.out + o.err).find('\x1b'), std::string::npos);
    if (c.status == 0 && args[0] == "backup") {
      EXPECT_NE(ReadAll(dir / "sim.set").find(",129,\"98.GSM.TRV\"\r\n"), std::string::npos);
    }
    if (args[0] == "restore") {
      EXPECT_NE(ReadAll(dir / "dump").find("05,\"123\",129,\"05\""), std::string::npos);
    }
    // The gateway's lines as the run drove them (the first two after the
    // connection's line settings).
    const std::vector<std::string> lines = relay.LineRequests();
    std::vector<std::string> run(lines.begin() + static_cast<long>(linesBefore), lines.end());
    if (run.size() > 2) run.resize(2);
    EXPECT_EQ(run, c.lines);
  }
}

// A write through a device path that stops part way keeps a journal named
// after the device the path leads to: the next run on the path says so, and
// so does COM1 linked to the same device, for that gateway only.
TEST(CommandLineE2E, AJournalPerDeviceWhateverNameReachedIt) {
  if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  Scratch dir;
  WriteAll(dir / "signed.set", SettingsFile("123"));
  GatewayProcess gwsim(GwsimBinary(), {"--link", dir / "gw", "--write-delay", "50"}, dir / "gw", kScreenWait);
  ASSERT_TRUE(gwsim.Ready());
  ASSERT_TRUE(KillPartWay(dir.Path(), {"restore", "--all", "--gateway", "2", "./gw", "signed.set"}, 3));
  std::string device = std::filesystem::canonical(dir / "gw").string();  // /dev/pts/N
  for (char& c : device) c = c == '/' ? '-' : c;
  EXPECT_EQ(JournalIn(dir.Path()), "tarvelin" + device + "-2.journal");
  std::filesystem::create_symlink(std::filesystem::read_symlink(dir / "gw"), dir / "COM1");
  const std::string stopped = Utf8(u8"Прошлая запись файла в SIM-Карту не завершена");
  Outcome o = RunTool(dir.Path(), {"verify", "--gateway", "2", "./gw", "signed.set"});
  EXPECT_NE(o.err.find(stopped), std::string::npos) << Describe(o);
  o = RunTool(dir.Path(), {"verify", "COM1:2", "signed.set"});
  EXPECT_NE(o.err.find(stopped), std::string::npos) << Describe(o);
  o = RunTool(dir.Path(), {"verify", "COM1:1", "signed.set"});
  EXPECT_EQ(o.err.find(stopped), std::string::npos) << Describe(o);
}

// cp866 to UTF-8, as the pager must receive the help document.
std::string FromCp866(const std::string& in) {
  iconv_t cd = iconv_open("UTF-8", "CP866");
  std::string src = in, out(in.size() * 3 + 16, '\0');
  char* inPtr = src.data();
  char* outPtr = out.data();
  std::size_t inLeft = src.size(), outLeft = out.size();
  iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// Chooses Справка -> Вызов справки from the start-up screen.
::testing::AssertionResult ChooseHelpItem(TerminalSession& t) {
  if (auto r = Shows(t, 1, 1, Utf8(u8"Файл")); !r) return r;
  t.Press(Key::Left);
  if (auto r = Shows(t, 38, 3, Utf8(u8"Вызов справки")); !r) return r;
  t.Drain();
  t.Press(Key::Enter);
  return ::testing::AssertionSuccess();
}

// Without the viewer "hiew", the help item shows help.hlp, else help.txt, in
// the pager ($PAGER, else less, else more) as the locale's text, and the
// screen comes back as it was.
TEST(HelpItemE2E, ThePagerReceivesTheDocumentInTheLocalesEncoding) {
  struct Case {
    const char* name;
    std::vector<std::string> fakes;  // programs on the PATH that take the document
    std::string pager;               // PAGER; unset when empty
    std::string reader;              // which one must have run
    bool withHlp;                    // a help.hlp beside help.txt
    std::string args;                // the reader's arguments, a line each
    bool head;                       // the document begins with the line on closing it
  };
  const std::vector<Case> cases = {
      {"less on the PATH, help.txt", {"less", "more"}, "", "less", false, "", true},
      {"more only, help.hlp first", {"more"}, "", "more", true, "", true},
      {"PAGER with options", {"less", "mypager"}, "mypager -R", "mypager", false, "-R\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch bin;
    for (const std::string& f : c.fakes) {
      WriteAll(bin / f, "#!/bin/sh\n[ $# -eq 0 ] || printf '%s\\n' \"$@\" > '" + bin.Path() + "/args-of-" + f +
                            "'\n/bin/cat > '" + bin.Path() + "/received-by-" + f + "'\n");
      chmod((bin / f).c_str(), 0700);
    }
    SessionOptions o;
    o.env = {{"PATH", bin.Path()}};  // the fakes only
    if (!c.pager.empty()) o.env.emplace_back("PAGER", c.pager);
    const std::string hlp = "\x8F\xE0\xA8\xA2\xA5\xE2, help.hlp\r\n";  // a Russian greeting, cp866
    TerminalSession t(TarvelinBinary(), o);
    if (c.withHlp) WriteAll(t.Directory() + "/help.hlp", hlp);
    ASSERT_TRUE(ChooseHelpItem(t));
    const std::string received = bin / ("received-by-" + c.reader);
    ASSERT_TRUE(t.WaitFor([&] { return std::filesystem::exists(received); }, kScreenWait));
    // The screen comes back with the help menu open.
    ASSERT_TRUE(Shows(t, 38, 3, Utf8(u8"Вызов справки")));
    // less and more do not close on Esc: the document's first line says
    // which key does (with the document's own line ends).
    const std::string document = FromCp866(c.withHlp ? hlp : ReadAll(RepoFile("help.txt")));
    const std::string end = document.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    const std::string head = Utf8(u8"Закрыть справку: клавиша q. Листать: стрелки, PgUp, PgDn, пробел.") + end + end;
    const std::string expected = (c.head ? head : "") + document;
    EXPECT_TRUE(t.WaitFor([&] { return ReadAll(received) == expected; }, kScreenWait)) << ReadAll(received);
    EXPECT_EQ(ReadAll(bin / ("args-of-" + c.reader)), c.args);
    for (const std::string& f : c.fakes) {
      if (f != c.reader) {
        EXPECT_FALSE(std::filesystem::exists(bin / ("received-by-" + f))) << f;
      }
    }
  }
}

// The real less: the document's first row says that q closes it, and q does.
TEST(HelpItemE2E, LessSaysThatQClosesItAndQDoes) {
  if (!std::filesystem::exists("/usr/bin/less")) GTEST_SKIP() << "no /usr/bin/less";
  SessionOptions o;
  o.env = {{"PATH", "/usr/bin:/bin"}, {"PAGER", ""}};
  TerminalSession t(TarvelinBinary(), o);
  ASSERT_TRUE(ChooseHelpItem(t));
  ASSERT_TRUE(Shows(t, 1, 1, Utf8(u8"Закрыть справку: клавиша q. Листать: стрелки, PgUp, PgDn, пробел.")));
  t.SendKeys("q");
  ASSERT_TRUE(Shows(t, 38, 3, Utf8(u8"Вызов справки")));
}

TEST(HelpItemE2E, WithoutAPagerThePanelSaysSo) {
  Scratch bin;  // an empty PATH: no hiew, no pager
  SessionOptions o;
  o.env = {{"PATH", bin.Path()}};
  TerminalSession t(TarvelinBinary(), o);
  ASSERT_TRUE(ChooseHelpItem(t));
  ASSERT_TRUE(t.WaitForText(Utf8(u8"Нет программы просмотра: задайте PAGER или установите less")))
      << t.ScreenText();
  t.SendKeys(" ");
  ASSERT_TRUE(Gone(t, Utf8(u8"Нет программы просмотра")));
  ASSERT_TRUE(Shows(t, 38, 3, Utf8(u8"Вызов справки")));
}

// cmake --install into a scratch prefix: the program, its manual page, the
// simulated gateway, and help.txt found beside the program when the working
// directory has none.
TEST(InstallE2E, TheInstalledTreeRunsFromAnEmptyDirectory) {
  Scratch prefix;
  const std::string install =
      "'" + CMakeCommand() + "' --install '" + BuildDir() + "' --prefix '" + prefix.Path() + "' >/dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0) << install;
  for (const char* f :
       {"bin/tarvelin", "bin/tarvelin-gwsim", "share/tarvelin/help.txt", "share/man/man1/tarvelin.1"})
    EXPECT_TRUE(std::filesystem::exists(prefix / f)) << f;

  Scratch empty;
  const Outcome version = RunTool(empty.Path(), {"--version"}, prefix / "bin/tarvelin");
  EXPECT_EQ(version.out, "tarvelin " TARVELIN_VERSION "\n");
  // The simulator goes by one name: the build's, the installed one, and the
  // one its usage and examples tell the user to type.
  EXPECT_EQ(std::filesystem::path(GwsimBinary()).filename(), "tarvelin-gwsim");
  const Outcome gwsimHelp = RunTool(empty.Path(), {"--help"}, prefix / "bin/tarvelin-gwsim");
  EXPECT_EQ(gwsimHelp.status, 0);
  const std::string usage = gwsimHelp.out + gwsimHelp.err;
  EXPECT_EQ(usage.rfind("usage: tarvelin-gwsim [", 0), 0u) << usage;
  for (std::size_t at = usage.find("gwsim "); at != std::string::npos; at = usage.find("gwsim ", at + 1))
    EXPECT_EQ(usage.compare(at < 9 ? 0 : at - 9, 9, "tarvelin-"), 0) << usage.substr(at < 40 ? 0 : at - 40, 80);

  SessionOptions o;
  o.withHelpFile = false;
  TerminalSession t(prefix / "bin/tarvelin", o);
  EXPECT_TRUE(Shows(t, 3, 3, Utf8(u8"Подключение к устройству")));
  EXPECT_EQ(t.ScreenText().find(Utf8(u8"Ошибка открытия файла помощи")), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(t.Directory()));
}

}  // namespace
}  // namespace tv::e2e
