// show, diff and set of the real binary: a configuration by name from a
// settings file and from gwsim, in words and as JSON, passwords masked; set
// changing each kind of setting in a file and leaving it byte for byte as
// it was when it refuses or nothing changes; restore --dry-run saying what
// would change and writing nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/command_run.h"
#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

using Json = nlohmann::json;

// The text with its one `from` replaced by `to`; the test fails when it
// is not there.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

Json Parsed(const Outcome& o) {
  Json document = Json::parse(o.out, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << Describe(o);
  return document;
}

// Route 3 (dialled 8495) on contact 05 with its platform and the password
// 9753, a name, a list entry, a mode, the forwarding number and delay: a
// change in every group the menus have. The signature is changed by hand
// (set refuses it: only the initialisation writes it).
const std::vector<std::string> kEveryGroup = {
    "contacts.3.name=PETROV",     "outgoing.forbidden.2=8809",  "routes.3.contact=05",
    "routes.3.prefix=8495",       "routes.3.platform=84951234567", "routes.3.pause1=1",
    "routes.3.password=9753",     "routes.3.pause2=2",          "incoming.barring=barred",
    "forwarding.number=84957654321", "forwarding.delay=25"};

// gwsim on ./COM1, its SIM saved to sim.set, and changed.set: that file
// with a change in every group.
struct Rig {
  Scratch dir;
  std::unique_ptr<GatewayProcess> gateway = StartGateway(dir);
  Rig() {
    EXPECT_EQ(RunTool(dir.Path(), {"backup", "COM1", "sim.set"}).status, 0);
    std::filesystem::copy_file(dir / "sim.set", dir / "changed.set");
    std::vector<std::string> args = {"set", "changed.set"};
    args.insert(args.end(), kEveryGroup.begin(), kEveryGroup.end());
    const Outcome o = RunTool(dir.Path(), args);
    EXPECT_EQ(o.status, 0) << Describe(o);
  }
};

// What diff says of sim.set -> changed.set (gwsim's own settings first).
const std::string kEveryGroupInWords = Utf8(
    u8"Записная книжка: контакт 03: имя 03 -> PETROV\n"
    u8"Записная книжка: контакт 05: номер 89265550505 -> (маршрут 3)\n"
    u8"Исходящая связь: запрещенный набор 41 0 -> 8809\n"
    u8"Маршрут 3: набор не задан -> 8495\n"
    u8"Маршрут 3: контакт не задан -> 05\n"
    u8"Маршрут 3: номер платформы - -> 84951234567\n"
    u8"Маршрут 3: пауза 1 - -> 1\n"
    u8"Маршрут 3: пароль изменён\n"
    u8"Маршрут 3: пауза 2 - -> 2\n"
    u8"Входящая связь: запрет: Разрешена -> Запрещена\n"
    u8"Переадресация: номер 89161234567 -> 84957654321\n"
    u8"Переадресация: задержка 20 с -> 25 с\n");

// show of a file and of the gateway that holds it: the same words and the
// same document, the route's contact shown as the route's data, the
// password masked unless --secrets.
TEST(CommandSettingsE2E, ShowOfAFileAndOfAGateway) {
  Rig rig;
  ASSERT_EQ(RunTool(rig.dir.Path(), {"restore", "COM1", "changed.set"}).status, 0);
  const Outcome file = RunTool(rig.dir.Path(), {"show", "changed.set"});
  ASSERT_EQ(file.status, 0) << Describe(file);
  EXPECT_EQ(file.err, "");
  EXPECT_NE(file.out.find(Utf8(u8"Маршрут 3\n"
                               u8"  набор                 8495\n"
                               u8"  контакт               05\n"
                               u8"  номер платформы       84951234567\n"
                               u8"  пауза 1               1\n"
                               u8"  пароль                ***\n"
                               u8"  пауза 2               2\n"
                               u8"Маршрут 4\n")),
            std::string::npos)
      << file.out;
  EXPECT_NE(file.out.find(Utf8(u8"Переадресация\n  номер                 84957654321\n  задержка              25 с\n")),
            std::string::npos);
  EXPECT_NE(file.out.find(Utf8(u8"  контакт 03: имя       PETROV\n")), std::string::npos);
  // Contact 05 carries the route: its name is shown, its number is not.
  EXPECT_NE(file.out.find(Utf8(u8"  контакт 04: имя       04\n  контакт 05: имя       05\n")), std::string::npos);
  EXPECT_EQ(file.out.find("9753"), std::string::npos);
  EXPECT_EQ(RunTool(rig.dir.Path(), {"show", "COM1"}).out, file.out);
  const Outcome secrets = RunTool(rig.dir.Path(), {"show", "--secrets", "changed.set"});
  EXPECT_NE(secrets.out.find(Utf8(u8"  пароль                9753\n")), std::string::npos);

  struct Case {
    const char* name;
    std::vector<std::string> args;
    Json source, gateway, password;
  };
  const std::vector<Case> cases = {
      {"a file", {"show", "--json", "changed.set"}, "changed.set", nullptr, "***"},
      {"the gateway", {"show", "--json", "COM1"}, "COM1", "COM1:1", "***"},
      {"the gateway by --gateway", {"show", "--json", "--secrets", "--gateway", "2", "COM1"}, "COM1", "COM1:2", "9753"},
  };
  Json settings;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = RunTool(rig.dir.Path(), c.args);
    ASSERT_EQ(o.status, 0) << Describe(o);
    Json document = Parsed(o);
    EXPECT_EQ(document["source"], c.source);
    EXPECT_EQ(document["gateway"], c.gateway);
    EXPECT_EQ(document["notices"], Json::array());
    EXPECT_EQ(document["routes"]["3"],
              Json({{"prefix", "8495"}, {"contact", "05"}, {"platform", "84951234567"}, {"pause1", "1"},
                    {"password", c.password}, {"pause2", "2"}}));
    EXPECT_EQ(document["routes"]["4"], Json({{"prefix", ""}, {"contact", ""}}));
    EXPECT_EQ(document["contacts"]["5"], Json({{"name", "05"}}));
    EXPECT_EQ(document["contacts"]["3"], Json({{"number", "+79031112233"}, {"name", "PETROV"}}));
    EXPECT_EQ(document["forwarding"], Json({{"number", "84957654321"}, {"delay", "25"}}));
    EXPECT_EQ(document["incoming"]["barring"], "barred");
    EXPECT_EQ(document["outgoing"]["forbidden"]["2"], "8809");
    EXPECT_EQ(document["signature"], "98.GSM.TRV");
    // The file and the gateway hold the same settings.
    document.erase("source");
    document.erase("gateway");
    document["routes"]["3"]["password"] = "***";
    if (settings.is_null()) settings = document;
    EXPECT_EQ(document, settings);
  }
}

// diff of two files, of a file and the gateway each way round, of the
// gateway with its own backup and of two gateway numbers of one port.
TEST(CommandSettingsE2E, DiffOfFilesAndGatewaysSettingBySetting) {
  Rig rig;
  // The signature too, by hand.
  WriteAll(rig.dir / "changed.set", Replaced(ReadAll(rig.dir / "changed.set"), "\"98.GSM.TRV\"", "\"98.GSM.TRX\""));
  const std::string everyGroup = kEveryGroupInWords + Utf8(u8"SIM-Карта: подпись 98.GSM.TRV -> 98.GSM.TRX\n");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"two files", {"diff", "sim.set", "changed.set"}, 1, everyGroup},
      {"the gateway, then the file", {"diff", "COM1", "changed.set"}, 1, everyGroup},
      {"a password in the clear with --secrets",
       {"diff", "--secrets", "sim.set", "changed.set"},
       1,
       Replaced(everyGroup, Utf8(u8"Маршрут 3: пароль изменён\n"), Utf8(u8"Маршрут 3: пароль - -> 9753\n"))},
      {"the gateway and its backup", {"diff", "sim.set", "COM1"}, 0, ""},
      {"two gateway numbers of one port, one after the other", {"diff", "COM1:1", "COM1:2"}, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = RunTool(rig.dir.Path(), c.args);
    EXPECT_EQ(o.status, c.status) << Describe(o);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err, c.status == 0 ? "" : Utf8(u8"tarvelin: Настроек с отличиями: 13\n"));
  }
  // The file first, the gateway second: each change the other way round.
  const Outcome reverse = RunTool(rig.dir.Path(), {"diff", "changed.set", "COM1"});
  EXPECT_EQ(reverse.status, 1);
  EXPECT_NE(reverse.out.find(Utf8(u8"Переадресация: номер 84957654321 -> 89161234567\n")), std::string::npos);
  EXPECT_NE(reverse.out.find(Utf8(u8"Входящая связь: запрет: Запрещена -> Разрешена\n")), std::string::npos);

  // --json: one document, each change with its key, old and new value.
  const Outcome o = RunTool(rig.dir.Path(), {"diff", "--json", "COM1", "changed.set"});
  EXPECT_EQ(o.status, 1) << Describe(o);
  const Json document = Parsed(o);
  EXPECT_EQ(document["a"], Json({{"source", "COM1"}, {"gateway", "COM1:1"}, {"notices", Json::array()}}));
  EXPECT_EQ(document["b"]["source"], "changed.set");
  EXPECT_EQ(document["summary"], Json({{"status", 1}, {"changed", 13}}));
  std::vector<std::string> keys;
  for (const Json& change : document["changes"]) keys.push_back(change["key"]);
  EXPECT_EQ(keys, (std::vector<std::string>{"contacts.3.name", "contacts.5.number", "outgoing.forbidden.2",
                                            "routes.3.prefix", "routes.3.contact", "routes.3.platform",
                                            "routes.3.pause1", "routes.3.password", "routes.3.pause2",
                                            "incoming.barring", "forwarding.number", "forwarding.delay",
                                            "signature"}));
  EXPECT_EQ(document["changes"][1],
            Json({{"key", "contacts.5.number"},
                  {"setting", Utf8(u8"Записная книжка: контакт 05: номер")},
                  {"old", "89265550505"},
                  {"new", nullptr},
                  {"text", Utf8(u8"Записная книжка: контакт 05: номер 89265550505 -> (маршрут 3)")}}));
  EXPECT_EQ(document["changes"][7]["old"], nullptr);
  EXPECT_EQ(document["changes"][7]["new"], "***");
  EXPECT_EQ(document["changes"][9]["old"], "allowed");
  EXPECT_EQ(document["changes"][9]["new"], "barred");
  EXPECT_EQ(o.out.find("9753"), std::string::npos);
  const Outcome open = RunTool(rig.dir.Path(), {"diff", "--json", "--secrets", "COM1", "changed.set"});
  EXPECT_EQ(Parsed(open)["changes"][7]["new"], "9753");
}

// restore --dry-run says in words what would change and which lines it
// would write, and writes nothing (no journal either); restore itself says
// the same words before it writes.
TEST(CommandSettingsE2E, RestoreDryRunSaysWhatWouldChangeAndWritesNothing) {
  Rig rig;
  // The first nine changes, then how many are left.
  std::string words = Utf8(u8"На SIM-Карте изменится:\n");
  std::size_t from = 0;
  for (int line = 0; line < 9; ++line) {
    const std::size_t end = kEveryGroupInWords.find('\n', from) + 1;
    words += "  " + kEveryGroupInWords.substr(from, end - from);
    from = end;
  }
  words += Utf8(u8"  и ещё 3\n");
  const std::string before = ReadAll(rig.dir / "dump");

  Outcome o = RunTool(rig.dir.Path(), {"restore", "--dry-run", "COM1", "changed.set"});
  EXPECT_EQ(o.status, 1) << Describe(o);
  EXPECT_EQ(o.out.substr(0, words.size()), words) << o.out;
  EXPECT_NE(o.out.find(Utf8(u8"\nЯчейка 05 (Маршрут 3: данные платформы): файл \"84951234567*1*9753*2*\",\"05\"; "
                            u8"SIM-Карта \"89265550505\",\"05\"\n")),
            std::string::npos)
      << o.out;
  EXPECT_EQ(o.err, Utf8(u8"tarvelin: Ячеек с отличиями: 6\n"));
  EXPECT_EQ(ReadAll(rig.dir / "dump"), before);
  EXPECT_EQ(JournalIn(rig.dir.Path()), "");

  // --json: standard output holds the JSON Lines alone, each cell with its
  // setting.
  o = RunTool(rig.dir.Path(), {"restore", "--dry-run", "--json", "COM1", "changed.set"});
  EXPECT_EQ(o.status, 1) << Describe(o);
  std::vector<Json> lines;
  for (std::size_t at = 0, end; (end = o.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(Json::parse(o.out.substr(at, end - at)));
  ASSERT_EQ(lines.size(), 7u) << o.out;
  EXPECT_EQ(lines[5]["setting"], Utf8(u8"Переадресация: номер"));
  EXPECT_EQ(lines[6]["cells_differing"], 6);
  EXPECT_EQ(ReadAll(rig.dir / "dump"), before);
  EXPECT_EQ(JournalIn(rig.dir.Path()), "");

  o = RunTool(rig.dir.Path(), {"restore", "COM1", "changed.set"});
  EXPECT_EQ(o.status, 0) << Describe(o);
  EXPECT_EQ(o.out, words);
  EXPECT_NE(ReadAll(rig.dir / "dump"), before);
  EXPECT_EQ(RunTool(rig.dir.Path(), {"verify", "COM1", "changed.set"}).status, 0);
}

}  // namespace
}  // namespace tv::e2e
