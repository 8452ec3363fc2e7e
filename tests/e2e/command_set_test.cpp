// set of the real binary on settings files: each kind of setting changes
// the lines of its cells alone; a refused value, an unknown key or a dry run
// leave the file byte for byte; every settings file of the tests' data
// comes back byte for byte when set to what it holds.
// check_texts: UTF-8 expectations (the messages as Utf8FromCp866 and the JSON give them).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/e2e/command_run.h"
#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

using Json = nlohmann::json;

// The line of a cell in SettingsFile's form, without its CR LF.
std::string Line(int cell, const std::string& number, const std::string& name) {
  char index[4];
  std::snprintf(index, sizeof index, "%02d", cell);
  return std::string(" ") + index + ",\"" + number + "\",129,\"" + name + "\"";
}

// The line SettingsFile("123") holds for a cell.
std::string Initial(int cell) {
  char index[4];
  std::snprintf(index, sizeof index, "%02d", cell);
  if (cell == 98) return Line(cell, "0000100", "98.GSM.TRV");
  return Line(cell, cell == 5 ? "123" : "0", index);
}

TEST(CommandSetE2E, EachKindOfSettingChangesItsCellsLinesAlone) {
  struct Case {
    const char* name;
    std::vector<std::string> assignments;
    std::vector<std::pair<int, std::string>> lines;  // cell, its new line
    std::string out;  // standard output; empty: not checked
  };
  const std::vector<Case> cases = {
      {"a contact's number and name",
       {"contacts.7.number=89161234567", "contacts.7.name=IVAN,PETROV"},
       {{7, Line(7, "89161234567", "IVAN,PETROV")}},
       Utf8(u8"Записная книжка: контакт 07: номер 0 -> 89161234567\n"
            u8"Записная книжка: контакт 07: имя 07 -> IVAN,PETROV\n")},
      {"the dialling and incoming lists",
       {"outgoing.allowed.3=8495", "incoming.white.2=89031234567", "incoming.callback.8=*#84951112233"},
       {{52, Line(52, "8495", "52")}, {81, Line(81, "89031234567", "81")}, {97, Line(97, "*#84951112233", "97")}},
       ""},
      {"modes by their names and by their characters",
       {"outgoing.control=allowed+routing", "incoming.message=1", "outgoing.barring=barred"},
       {{98, " 98,\"6001101\",129,\"98.GSM.TRV\""}},
       Utf8(u8"Исходящая связь: запрет: Разрешена -> Запрещена\n"
            u8"Исходящая связь: контроль: Контроля нет -> Разрешенные номера и маршрутизация\n"
            u8"Входящая связь: сообщение: Без сообщения -> Сообщение перед подачей звонка\n")},
      {"the delay, in two digits", {"forwarding.delay=5"}, {{98, " 98,\"0000050\",129,\"98.GSM.TRV\""}},
       Utf8(u8"Переадресация: задержка 10 с -> 05 с\n")},
      {"the forwarding number", {"forwarding.number=84957654321"}, {{99, Line(99, "84957654321", "99")}}, ""},
      {"a route, part by part, its contact carrying the platform",
       {"routes.2.contact=7", "routes.2.prefix=*#1", "routes.2.platform=4951112233", "routes.2.pause1=3",
        "routes.2.password=0000", "routes.2.pause2=4"},
       {{61, Line(61, "*#1***07", "61")}, {7, Line(7, "4951112233*3*0000*4*", "07")}},
       ""},
      {"a password changed: said without its value",
       {"routes.2.contact=07", "routes.2.password=1", "routes.2.password=2"},
       {{61, Line(61, "******07", "61")}, {7, Line(7, "**2**", "07")}},
       Utf8(u8"Записная книжка: контакт 07: номер 0 -> (маршрут 2)\n"
            u8"Маршрут 2: контакт не задан -> 07\n"
            u8"Маршрут 2: номер платформы - -> (пусто)\n"
            u8"Маршрут 2: пауза 1 - -> (пусто)\n"
            u8"Маршрут 2: пароль изменён\n"
            u8"Маршрут 2: пауза 2 - -> (пусто)\n")},
      {"the value it holds: nothing changes", {"contacts.5.number=123", "incoming.control=none"}, {}, ""},
  };
  Scratch dir;
  const std::string original = SettingsFile("123");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(dir / "site.set", original);
    std::vector<std::string> args = {"set", "site.set"};
    args.insert(args.end(), c.assignments.begin(), c.assignments.end());
    const Outcome o = RunTool(dir.Path(), args);
    EXPECT_EQ(o.status, 0) << Describe(o);
    EXPECT_EQ(o.err, "");
    if (!c.out.empty()) {
      EXPECT_EQ(o.out, c.out);
    }
    // The file as a hand edit of those lines would leave it: the same size,
    // every other byte as it was.
    std::string expected = original;
    for (const auto& [cell, line] : c.lines) {
      const std::string before = Initial(cell) + "\r\n";
      expected.replace(expected.find(before), before.size(), line + "\r\n");
    }
    expected.resize(original.size(), '\0');
    EXPECT_EQ(ReadAll(dir / "site.set"), expected);
  }
}

// What set refuses, the file left byte for byte; a dry run says the change
// and writes nothing.
TEST(CommandSetE2E, RefusalsAndDryRunsLeaveTheFileAsItWas) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // err: its start
  };
  const std::vector<Case> cases = {
      {{"set", "site.set", "forward.number=1"}, 2, "",
       Utf8(u8"tarvelin: forward.number: нет такой настройки (ключи - как в show --json)\n")},
      {{"set", "site.set", "contacts.1.number"}, 2, "",
       Utf8(u8"tarvelin: 'contacts.1.number' - нужно КЛЮЧ=ЗНАЧЕНИЕ\nИспользование:\n")},
      {{"set", "site.set", "contacts.1.number=+7916"}, 2, "",
       Utf8(u8"tarvelin: contacts.1.number=+7916: знак '+' не допускается (можно: 0123456789*#)\n")},
      {{"set", "site.set", "contacts.1.name=ABCDEFGHIJKLMNOPQ"}, 2, "",
       Utf8(u8"tarvelin: contacts.1.name=ABCDEFGHIJKLMNOPQ: длиннее 16 знаков\n")},
      {{"set", "site.set", "outgoing.forbidden.1=123456789"}, 2, "",
       Utf8(u8"tarvelin: outgoing.forbidden.1=123456789: длиннее 8 знаков\n")},
      {{"set", "site.set", "forwarding.delay=31"}, 2, "",
       Utf8(u8"tarvelin: forwarding.delay=31: допустимо от 01 до 30\n")},
      {{"set", "site.set", "incoming.barring=yes"}, 2, "",
       Utf8(u8"tarvelin: incoming.barring=yes: нет такого значения (можно: allowed, barred)\n")},
      {{"set", "site.set", "routes.1.password=1"}, 2, "",
       Utf8(u8"tarvelin: routes.1.password=1: маршрут 1 не задан: сначала routes.1.contact\n")},
      {{"set", "site.set", "routes.1.contact=40"}, 2, "",
       Utf8(u8"tarvelin: routes.1.contact=40: нужен номер контакта 01..39\n")},
      {{"set", "site.set", "signature=98.GSM.TRV"}, 2, "",
       Utf8(u8"tarvelin: signature=98.GSM.TRV: подпись пишет только инициализация SIM-Карты\n")},
      // One refused among accepted ones: none is written.
      {{"set", "site.set", "contacts.1.number=5", "forwarding.delay=0"}, 2, "",
       Utf8(u8"tarvelin: forwarding.delay=0: допустимо от 01 до 30\n")},
      {{"set", "--cell-by-cell", "site.set", "forwarding.delay=5"}, 2, "",
       Utf8(u8"tarvelin: неизвестный ключ '--cell-by-cell'\n")},
      {{"set", "site.set"}, 2, "", Utf8(u8"tarvelin: set: нужны файл и КЛЮЧ=ЗНАЧЕНИЕ\n")},
      {{"set", "none.set", "forwarding.delay=5"}, 4, "",
       Utf8(u8"tarvelin: none.set: Ошибка открытия файла! (Нет такого файла)\n")},
      {{"set", "--dry-run", "site.set", "forwarding.number=1", "routes.1.contact=02"}, 0,
       Utf8(u8"Маршрут 1: контакт не задан -> 02\nПереадресация: номер 0 -> 1\n"),
       ""},
  };
  Scratch dir;
  const std::string original = SettingsFile("123");
  WriteAll(dir / "site.set", original);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const Outcome o = RunTool(dir.Path(), c.args);
    EXPECT_EQ(o.status, c.status) << Describe(o);
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err.substr(0, c.err.size()), c.err) << Describe(o);
    EXPECT_EQ(ReadAll(dir / "site.set"), original);
  }

  // --json: the document of the change, or the summary of the refusal
  // naming the setting.
  Outcome o = RunTool(dir.Path(), {"set", "--json", "site.set", "forwarding.delay=7"});
  EXPECT_EQ(o.status, 0) << Describe(o);
  EXPECT_EQ(Json::parse(o.out),
            Json::parse(Utf8(u8R"({"file": "site.set", "dry_run": false, "written": true, "changes": [
                {"key": "forwarding.delay", "setting": "Переадресация: задержка", "old": "10", "new": "07",
                 "text": "Переадресация: задержка 10 с -> 07 с"}], "summary": {"status": 0, "changed": 1}})")));
  o = RunTool(dir.Path(), {"set", "--json", "site.set", "forwarding.delay=77"});
  EXPECT_EQ(o.status, 2) << Describe(o);
  EXPECT_EQ(Json::parse(o.out)["reason"], Utf8(u8"forwarding.delay=77: допустимо от 01 до 30"));
}

// Every settings file of the tests' data (the fuzzing corpus, the saved
// form, one with LF line ends) set to the values show reads from it: byte
// for byte the file it was, one setting at a time and all at once.
TEST(CommandSetE2E, EveryDataFileSetToWhatItHoldsComesBackByteForByte) {
  Scratch dir;
  std::vector<std::pair<std::string, std::string>> files;  // name, bytes
  for (const auto& entry : std::filesystem::directory_iterator(RepoFile("fuzz/corpus/settings_file")))
    files.emplace_back(entry.path().filename().string(), ReadAll(entry.path().string()));
  files.emplace_back("saved.set", SettingsFile("89161234567"));
  files.emplace_back("gwsim.set", SignedSettingsFile("84957654321"));
  const std::vector<std::string> keys = {"contacts.1.number",  "contacts.1.name",   "outgoing.forbidden.1",
                                         "incoming.control",   "forwarding.number", "forwarding.delay"};
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    WriteAll(dir / "data.set", bytes);
    const Outcome shown = RunTool(dir.Path(), {"show", "--json", "--secrets", "data.set"});
    ASSERT_EQ(shown.status, 0) << Describe(shown);
    const Json document = Json::parse(shown.out);
    std::vector<std::string> taken;
    for (const std::string& key : keys) {
      std::string pointer = "/" + key;
      std::replace(pointer.begin(), pointer.end(), '.', '/');
      const Json value = document[Json::json_pointer(pointer)];
      if (!value.is_string()) continue;
      const std::string assignment = key + "=" + value.get<std::string>();
      const Outcome o = RunTool(dir.Path(), {"set", "data.set", assignment});
      SCOPED_TRACE(assignment);
      EXPECT_TRUE(o.status == 0 || o.status == 2) << Describe(o);
      if (o.status == 0) taken.push_back(assignment);
      EXPECT_EQ(ReadAll(dir / "data.set"), bytes);
    }
    EXPECT_FALSE(taken.empty());
    taken.insert(taken.begin(), {"set", "data.set"});
    EXPECT_EQ(RunTool(dir.Path(), taken).status, 0);
    EXPECT_EQ(ReadAll(dir / "data.set"), bytes);
  }
}

}  // namespace
}  // namespace tv::e2e
