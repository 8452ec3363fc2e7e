// The scripted operations: the connection, SIM to file and File to SIM of
// the menus (gateway/transfers.h) on the gateway session alone, reported on
// the command line.
#include "app/command_line.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_report.h"
#include "app/version.h"
#include "core/cp866_text.h"
#include "core/settings_file.h"
#include "gateway/faults.h"
#include "gateway/journal.h"
#include "gateway/session.h"
#include "gateway/transfers.h"
#include "platform/file_access.h"
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
    "  tarvelin restore [--force] [--all] [--json] ПОРТ ФАЙЛ"_cp,
    "                                            ФАЙЛ в SIM-Карту, прочитать и сравнить"_cp,
    "  tarvelin verify [--json] ПОРТ ФАЙЛ        сравнить SIM-Карту с ФАЙЛом"_cp,
    "  ключи всех команд: --gateway G (шлюз, вместо COMn:G), --cell-by-cell"_cp,
    "  (читать по ячейке, для модемов без чтения диапазона)"_cp,
    "restore пишет только строки, отличные от SIM-Карты; --all - все строки."_cp,
    "  tarvelin --help | --version"_cp,
    "ПОРТ - COMn[:G], путь устройства (/dev/ttyUSB0) или адрес rfc2217://узел:порт."_cp,
    "COMn - COM1..COM16 (сначала ./COMn в рабочем каталоге), G - шлюз на этом"_cp,
    "порту, 1..4 (по умолчанию 1; для пути и адреса - --gateway G). restore не"_cp,
    "пишет файл без подписи шлюза в ячейке 98, если не задан --force; backup не"_cp,
    "копирует неинициализированную SIM-Карту и оставляет ФАЙЛ прежним; SIM-Карту"_cp,
    "с незавершенной записью (журнал) - тоже, если не задан --force. --json:"_cp,
    "строки JSON (UTF-8) на стандартный вывод, по одной на строку с отличиями,"_cp,
    "последняя - итог."_cp,
    "Код завершения: 0 выполнено, 1 SIM-Карта отличается от файла (строки"_cp,
    "перечислены), 2 ошибка в команде, 3 ошибка устройства, 4 ошибка файла,"_cp,
    "5 запись в SIM-Карту не завершена (backup без --force)."_cp,
};

// Messages; Russian texts as the screens show them.
constexpr const char* kNotInitialised = "SIM-Карта не инициализирована: файл не записан"_cp;
constexpr const char* kUnsigned =
    "В файле нет настроек шлюза, SIM-Карта не изменена (записать его все же: restore --force)"_cp;
constexpr const char* kKeptOld = "Прежний файл не изменен"_cp;
constexpr const char* kRefused = "SIM-Карта не приняла строк: %d из %d"_cp;
// backup of a SIM whose last write stopped part way (its journal named).
constexpr const char* kHalfWritten =
    "SIM-Карта записана не полностью (журнал %s), файл не записан (записать его все же: backup --force)"_cp;
constexpr const char* kReading = "Чтение SIM-Карты"_cp;
constexpr const char* kWriting = "Запись в SIM-Карту"_cp;
constexpr const char* kReadingBack = "Проверка записи"_cp;

// The usage error "cp866Before ARGUMENT cp866After" (the argument as typed),
// then the usage.
int UsageError(std::string_view cp866Before, std::string_view argument = {}, std::string_view cp866After = {}) {
  const std::string shown = Harmless(argument);
  std::fputs(("tarvelin: " + ToLocaleText(cp866Before) + shown + ToLocaleText(cp866After) + "\n").c_str(), stderr);
  for (const char* line : kUsage) std::fputs((ToLocaleText(line) + "\n").c_str(), stderr);
  Run().reason = Utf8FromCp866(cp866Before) + Utf8FromArgument(shown) + Utf8FromCp866(cp866After);
  return exitcode::Usage;
}

// "COM3" or "COM3:2" (case does not matter) into the dialog's indices.
bool ParsePort(std::string_view text, int& portIndex, int& gatewayIndex) {
  if (text.size() < 4 || (text[0] | 0x20) != 'c' || (text[1] | 0x20) != 'o' || (text[2] | 0x20) != 'm')
    return false;
  std::size_t i = 3;
  int port = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && port <= PortCount)
    port = port * 10 + (text[i++] - '0');
  if (i == 3 || port < 1 || port > PortCount) return false;
  int gateway = 1;
  if (i < text.size()) {
    if (text[i] != ':' || i + 2 != text.size() || text[i + 1] < '1' || text[i + 1] > '0' + GatewayCount)
      return false;
    gateway = text[i + 1] - '0';
  }
  portIndex = port - 1;
  gatewayIndex = gateway - 1;
  return true;
}

// "\rЧтение SIM-Карты: 45 из 99" on a terminal, a line feed after the last.
TransferProgress ProgressOf(const char* label, int total) {
  if (!ErrorOutputIsTerminal()) return {};
  // A slow terminal (a console under emulation, a remote session) is not
  // made to draw every cell: at most ten updates a second, the first and
  // the last always.
  return [label, total, shown = std::chrono::steady_clock::time_point{}](int done) mutable {
    const auto now = std::chrono::steady_clock::now();
    if (done != 0 && done != total && now - shown < std::chrono::milliseconds(100)) return;
    shown = now;
    char text[96];
    std::snprintf(text, sizeof text, "\r%s: %d / %d", label, done, total);
    std::string line = ToLocaleText(text);
    if (done == total) line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
  };
}

void ReportFileFault(const std::string& path, const std::string& what, FileFault fault) {
  std::string text = what;
  if (const char* why = FileFaultText(fault)) text = text + " (" + why + ")";
  Complain(path, text);
}

// The settings file named on the command line, or false after the message.
bool ReadFile(const std::string& path, std::string& bytes) {
  FileFault fault = FileFault::None;
  switch (ReadSettingsFile(path, bytes, &fault)) {
    case FileReadResult::Ok: return true;
    case FileReadResult::TooLarge: Complain(path, kFileTooLarge); return false;
    case FileReadResult::OpenFailed: break;
  }
  ReportFileFault(path, kFileOpenError, fault);
  return false;
}

// The exchange failed: the message of its ExchangeError, and its detail.
int DeviceFailed(std::string_view port, const ExchangeFault& fault) {
  const char* message = ExchangeErrorMessage(fault.code);
  std::string text = message ? message : "Ошибка обмена"_cp;
  if (!fault.detail.empty()) text += " (" + Harmless(fault.detail) + ")";
  Complain(port, text);
  return exitcode::Device;
}

// A write to this gateway that stopped part way, until one completes: the
// SIM may hold a mix of two files. The summary names its journal.
void ReportUnfinishedTransfer(const GatewaySession& session, std::string_view port) {
  TransferJournal journal;
  if (!ReadJournal(session.state.portIndex, session.state.gatewayIndex, journal)) return;
  Notice(port, InterruptionNoticeLine(journal));
  Run().journal = journal.path;
}

// The connection; lines that nobody confirmed are said before gateway 1 goes
// on, and a write to this gateway that stopped part way.
ExchangeFault Attach(GatewaySession& session, std::string_view port) {
  ExchangeFault fault = AttachGateway(session);
  if (fault.Failed()) return fault;
  if (session.port.Unencrypted()) Notice(port, kUnencrypted);
  if (session.port.LinesUnconfirmed()) Notice(port, kLinesUnconfirmed);
  ReportUnfinishedTransfer(session, port);
  return fault;
}

int Backup(GatewaySession& session, const std::string& port, const std::string& path, bool force) {
  if (const ExchangeFault fault = Attach(session, port); fault.Failed()) return DeviceFailed(port, fault);
  // A SIM known to hold part of one file and part of another is no copy to
  // keep: the last good backup stays, unless the operator takes it anyway.
  if (!Run().journal.empty() && !force) {
    char text[384];
    std::snprintf(text, sizeof text, kHalfWritten, Harmless(Run().journal).c_str());
    Complain(port, text);
    return exitcode::Unfinished;
  }
  // A SIM that lost its settings is not copied over the last good backup;
  // initialising it is the operator's decision, in the connection dialog.
  if (!session.image.HasSignature()) {
    Complain(port, kNotInitialised);
    return exitcode::Device;
  }
  const SaveOutcome saved = SaveSimToFile(session, path, ProgressOf(kReading, SettingsLines));
  switch (saved.step) {
    case SaveStep::Saved: return exitcode::Ok;
    case SaveStep::CreateFailed: ReportFileFault(path, kFileOpenError, saved.fault); return exitcode::File;
    case SaveStep::DeviceFailed: return DeviceFailed(port, saved.device);
    case SaveStep::WriteFailed: ReportFileFault(path, std::string(kFileWriteError) + " " + kKeptOld, saved.fault); return exitcode::File;
  }
  return exitcode::Ok;
}

// Reads the SIM's cells 1..99, each line as SIM to file keeps it at its
// cell's index.
int ReadSim(GatewaySession& session, const std::string& port, const char* label, std::vector<std::string>& lines) {
  session.image.ClearImage();
  if (const ExchangeFault fault = ReadSimCells(session, nullptr, ProgressOf(label, SettingsLines), &lines);
      fault.Failed())
    return DeviceFailed(port, fault);
  return exitcode::Ok;
}

int Restore(GatewaySession& session, const std::string& port, const std::string& path, bool force) {
  std::string bytes;
  if (!ReadFile(path, bytes)) return exitcode::File;
  if (!force && !CarriesGatewaySettings(bytes)) {
    Complain(path, kUnsigned);
    return exitcode::File;
  }
  if (const ExchangeFault fault = Attach(session, port); fault.Failed()) return DeviceFailed(port, fault);
  const SendOutcome sent = SendFileToSim(session, bytes, path,
                                         ProgressOf(kWriting, static_cast<int>(SplitLinesForSim(bytes).size())));
  if (sent.journalFailed) {
    ReportFileFault(JournalPath(session.state.portIndex, session.state.gatewayIndex), kFileOpenError, sent.journalFault);
    return exitcode::File;
  }
  if (sent.device.Failed()) return DeviceFailed(port, sent.device);
  std::vector<std::string> simLines;
  if (const int rc = ReadSim(session, port, kReadingBack, simLines); rc != exitcode::Ok) return rc;
  RemoveJournal(session.state.portIndex, session.state.gatewayIndex);
  if (sent.tally.Failed() > 0) {
    char text[96];
    std::snprintf(text, sizeof text, kRefused, sent.tally.Failed(), sent.total);
    std::string listed = std::string(text) + ". " + kRefusedLineList;
    for (std::size_t n = 0; n < sent.refusedLines.size(); ++n) {
      char number[16];
      std::snprintf(number, sizeof number, "%s%02d", n == 0 ? " " : ", ", sent.refusedLines[n]);
      listed += number;
    }
    Complain(port, listed);
    Run().refusedLines = sent.refusedLines;
  }
  Notice(port, WrittenAndMatched(sent));
  // A refused line is a difference whatever the read-back shows (a line
  // that names no cell, a cell a later line wrote over, a line --all sent
  // that the SIM already held).
  const int rc = ReportDifferences(bytes, simLines);
  return sent.tally.Failed() > 0 ? exitcode::Differences : rc;
}

int Verify(GatewaySession& session, const std::string& port, const std::string& path) {
  std::string bytes;
  if (!ReadFile(path, bytes)) return exitcode::File;
  if (const ExchangeFault fault = Attach(session, port); fault.Failed()) return DeviceFailed(port, fault);
  std::vector<std::string> simLines;
  if (const int rc = ReadSim(session, port, kReading, simLines); rc != exitcode::Ok) return rc;
  return ReportDifferences(bytes, simLines);
}


int RunCommand(GatewaySession& session, const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("не задана команда"_cp);
  const std::string& command = args[0];
  if (command != "backup" && command != "restore" && command != "verify")
    return UsageError("неизвестная команда или ключ '"_cp, command, "'");
  Run().command = command;
  std::vector<std::string> rest(args.begin() + 1, args.end());
  bool force = false;
  int gateway = 0;  // --gateway N, 1..4; 0: as the port says
  // The options, in any order before the port.
  while (!rest.empty() && rest[0].rfind("--", 0) == 0) {
    const std::string option = rest[0];
    rest.erase(rest.begin());
    if (option == "--json") {
      Run().json = true;
    } else if (option == "--cell-by-cell") {
      session.cellByCell = true;
    } else if ((command == "restore" || command == "backup") && option == "--force") {
      force = true;
    } else if (command == "restore" && option == "--all") {
      session.writeAll = true;
    } else if (option == "--gateway" && !rest.empty() && rest[0].size() == 1 && rest[0][0] >= '1' &&
               rest[0][0] <= '4') {
      gateway = rest[0][0] - '0';
      rest.erase(rest.begin());
    } else if (option == "--gateway") {
      return UsageError("--gateway: нужен номер шлюза 1..4"_cp);
    } else {
      return UsageError("неизвестный ключ '"_cp, option, "'");
    }
  }
  if (rest.size() != 2) return UsageError("", command, ": нужны порт и файл"_cp);
  const std::string& port = rest[0];
  const std::string& path = rest[1];
  // The gateway's name in the summary: "COM3:2", "/dev/ttyUSB0:1",
  // "rfc2217://site7:4001:2".
  std::string named;
  if (ParsePort(port, session.state.portIndex, session.state.gatewayIndex)) {
    if (gateway != 0 && port.find(':') != std::string::npos && session.state.gatewayIndex != gateway - 1)
      return UsageError("'", port, "' и --gateway называют разные шлюзы"_cp);
    named = "COM" + std::to_string(session.state.portIndex + 1);
  } else {
    // A device path or a network address: the run's port is COM1's index
    // given that target; the gateway comes from --gateway only.
    switch (ClassifyPortArgument(port)) {
      case PortForm::Device:
      case PortForm::Network: break;
      case PortForm::BadAddress: return UsageError("'", port, "' - адрес не понят, нужно rfc2217://узел:порт"_cp);
      case PortForm::NoNetwork:
        return UsageError("'", port, "' - сетевые порты (rfc2217://) есть только в версии для Linux"_cp);
      case PortForm::None:
        // A misspelt COM name is told what a COM name takes.
        if (port.size() >= 3 && (port[0] | 0x20) == 'c' && (port[1] | 0x20) == 'o' && (port[2] | 0x20) == 'm')
          return UsageError("'", port, "' - не COM1..COM16 (после него можно :1..:4)"_cp);
        return UsageError("'", port, "' - не порт: нужен COMn, путь устройства или rfc2217://узел:порт"_cp);
    }
    session.state.portIndex = 0;
    session.state.gatewayIndex = 0;
    SetPortTarget(session.state.portIndex, port);
    named = Utf8FromArgument(port);
  }
  if (gateway != 0) session.state.gatewayIndex = gateway - 1;
  Run().gateway = named + ":" + std::to_string(session.state.gatewayIndex + 1);
  Run().file = Utf8FromArgument(path);
  // A path as typed may hold any byte; the messages name it harmlessly.
  const std::string where = Harmless(port);
  if (command == "backup") return Backup(session, where, path, force);
  if (command == "restore") return Restore(session, where, path, force);
  return Verify(session, where, path);
}

}  // namespace

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
  if (Run().json) WriteSummary(status);
  return status;
}

}  // namespace tv
