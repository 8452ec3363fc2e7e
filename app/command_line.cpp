// The command line: the usage, the options each command takes, and the
// command run on the gateway session alone (app/command_transfer.cpp,
// app/command_settings.cpp).
#include "app/command_line.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_common.h"
#include "app/command_report.h"
#include "app/version.h"
#include "core/cp866_text.h"
#include "gateway/session.h"
#include "platform/host.h"

namespace tv {

namespace {

using namespace cli;

// The usage, a line each (cp866).
constexpr const char* kUsage[] = {
    "Использование:"_cp,
    "  tarvelin                                  полный экран, в рабочем каталоге"_cp,
    "  tarvelin backup [--force] [--json] ПОРТ ФАЙЛ"_cp,
    "                                            SIM-Карту в ФАЙЛ"_cp,
    "  tarvelin restore [--force] [--all] [--dry-run] [--json] ПОРТ ФАЙЛ"_cp,
    "                                            ФАЙЛ в SIM-Карту, прочитать и сравнить"_cp,
    "  tarvelin verify [--json] ПОРТ ФАЙЛ        сравнить SIM-Карту с ФАЙЛом"_cp,
    "  tarvelin show [--secrets] [--json] ИСТОЧНИК"_cp,
    "                                            настройки словами"_cp,
    "  tarvelin diff [--secrets] [--json] ИСТОЧНИК ИСТОЧНИК"_cp,
    "                                            отличия настроек, по одной"_cp,
    "  tarvelin set [--dry-run] [--json] ФАЙЛ КЛЮЧ=ЗНАЧЕНИЕ..."_cp,
    "                                            изменить настройки в ФАЙЛе"_cp,
    "  ключи команд с портом: --gateway G (шлюз, вместо COMn:G), --cell-by-cell"_cp,
    "  (читать по ячейке, для модемов без чтения диапазона)"_cp,
    "restore пишет только строки, отличные от SIM-Карты; --all - все строки."_cp,
    "restore и set с --dry-run только говорят, что изменится, и ничего не пишут."_cp,
    "  tarvelin --help | --version"_cp,
    "ПОРТ - COMn[:G], путь устройства (/dev/ttyUSB0) или адрес rfc2217://узел:порт."_cp,
    "COMn - COM1..COM16 (сначала ./COMn в рабочем каталоге), G - шлюз на этом"_cp,
    "порту, 1..4 (по умолчанию 1; для пути и адреса - --gateway G). restore не"_cp,
    "пишет файл без подписи шлюза в ячейке 98, если не задан --force; backup не"_cp,
    "копирует неинициализированную SIM-Карту и оставляет ФАЙЛ прежним; SIM-Карту"_cp,
    "с незавершенной записью (журнал) - тоже, если не задан --force."_cp,
    "ИСТОЧНИК - файл настроек или ПОРТ (COMn и адрес - всегда порт, существующий"_cp,
    "файл - файл). КЛЮЧ - как в show --json: forwarding.number, contacts.7.name,"_cp,
    "routes.3.password, incoming.barring... Пароли маршрутов показываются как ***,"_cp,
    "если не задан --secrets. --json: строки JSON (UTF-8) на стандартный вывод, по"_cp,
    "одной на строку с отличиями, последняя - итог; show, diff, set - один документ."_cp,
    "Код завершения: 0 выполнено, 1 SIM-Карта отличается от файла (строки"_cp,
    "перечислены) или настройки отличаются (diff), 2 ошибка в команде (set:"_cp,
    "неизвестный ключ или значение не подходит), 3 ошибка устройства, 4 ошибка"_cp,
    "файла, 5 запись в SIM-Карту не завершена (backup без --force)."_cp,
};

bool OneOf(const std::string& command, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* name) { return command == name; });
}

int RunCommand(GatewaySession& session, const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("не задана команда"_cp);
  const std::string& command = args[0];
  if (!OneOf(command, {"backup", "restore", "verify", "show", "diff", "set"}))
    return UsageError("неизвестная команда или ключ '"_cp, command, "'");
  Run().command = command;
  std::vector<std::string> rest(args.begin() + 1, args.end());
  CommandOptions options;
  const bool onPorts = command != "set";
  // The options, in any order before the port.
  while (!rest.empty() && rest[0].rfind("--", 0) == 0) {
    const std::string option = rest[0];
    rest.erase(rest.begin());
    if (option == "--json") {
      Run().json = true;
    } else if (onPorts && option == "--cell-by-cell") {
      session.cellByCell = true;
    } else if (OneOf(command, {"restore", "backup"}) && option == "--force") {
      options.force = true;
    } else if (command == "restore" && option == "--all") {
      session.writeAll = true;
    } else if (OneOf(command, {"restore", "set"}) && option == "--dry-run") {
      options.dryRun = true;
    } else if (OneOf(command, {"show", "diff"}) && option == "--secrets") {
      options.secrets = true;
    } else if (onPorts && option == "--gateway" && !rest.empty() && rest[0].size() == 1 && rest[0][0] >= '1' &&
               rest[0][0] <= '4') {
      options.gateway = rest[0][0] - '0';
      rest.erase(rest.begin());
    } else if (onPorts && option == "--gateway") {
      return UsageError("--gateway: нужен номер шлюза 1..4"_cp);
    } else {
      return UsageError("неизвестный ключ '"_cp, option, "'");
    }
  }
  if (command == "show") {
    if (rest.size() != 1) return UsageError("", command, ": нужен файл или порт"_cp);
    return Show(session, rest[0], options);
  }
  if (command == "diff") {
    if (rest.size() != 2) return UsageError("", command, ": нужны два источника: файлы или порты"_cp);
    return Diff(session, rest[0], rest[1], options);
  }
  if (command == "set") {
    if (rest.size() < 2) return UsageError("", command, ": нужны файл и КЛЮЧ=ЗНАЧЕНИЕ"_cp);
    return Set(rest[0], std::vector<std::string>(rest.begin() + 1, rest.end()), options);
  }
  if (rest.size() != 2) return UsageError("", command, ": нужны порт и файл"_cp);
  PortChoice port;
  if (const int rc = ChoosePort(rest[0], options.gateway, port); rc != exitcode::Ok) return rc;
  UsePort(session, port);
  Run().gateway = port.named;
  const std::string& path = rest[1];
  Run().file = Utf8FromArgument(path);
  if (command == "backup") return Backup(session, port, path, options);
  if (command == "restore") return Restore(session, port, path, options);
  return Verify(session, port, path);
}

}  // namespace

namespace cli {

int UsageError(std::string_view cp866Before, std::string_view argument, std::string_view cp866After) {
  const std::string shown = Harmless(argument);
  std::fputs(("tarvelin: " + ToLocaleText(cp866Before) + shown + ToLocaleText(cp866After) + "\n").c_str(), stderr);
  for (const char* line : kUsage) std::fputs((ToLocaleText(line) + "\n").c_str(), stderr);
  Run().reason = Utf8FromCp866(cp866Before) + Utf8FromArgument(shown) + Utf8FromCp866(cp866After);
  return exitcode::Usage;
}

}  // namespace cli

int RunCommandLine(GatewaySession& session, const std::vector<std::string>& args) {
  if (args.size() == 1 && args[0] == "--help") {
    for (const char* line : kUsage) std::fputs((ToLocaleText(line) + "\n").c_str(), stdout);
    return exitcode::Ok;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::fputs("tarvelin " TARVELIN_VERSION "\n", stdout);
    return exitcode::Ok;
  }
  Run() = Summary{};
  // A script that asked for JSON gets its summary after a usage error too.
  Run().json = std::find(args.begin(), args.end(), "--json") != args.end();
  const int status = RunCommand(session, args);
  if (Run().json && !Run().documented) WriteSummary(status);
  return status;
}

}  // namespace tv
