// The scripted operations: the connection, SIM to file and File to SIM of
// the menus (ui/gateway_transfers.h), reported on the command line.
#include "app/command_line.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/version.h"
#include "core/settings_file.h"
#include "platform/file_access.h"
#include "platform/host.h"
#include "ui/exchange_error.h"
#include "ui/gateway_transfers.h"
#include "ui/settings_transfers.h"
#include "ui/tool.h"
#include "ui/transfer_journal.h"

namespace tv {

namespace {

constexpr const char* kUsage =
    "Usage: tarvelin                               the full screen, in the working directory\n"
    "       tarvelin backup COMn[:G] FILE          save the SIM to FILE\n"
    "       tarvelin restore [--force] COMn[:G] FILE\n"
    "                                              write FILE to the SIM, read it back, compare\n"
    "       tarvelin verify COMn[:G] FILE          compare the SIM with FILE\n"
    "       tarvelin --help | --version\n"
    "COMn is COM1..COM16 (./COMn in the working directory first), G the gateway\n"
    "on that port, 1..4 (default 1). restore refuses a file without the gateway's\n"
    "signature in cell 98 unless --force is given; backup refuses a SIM that is\n"
    "not initialised and leaves FILE as it was.\n"
    "Exit status: 0 done, 1 the SIM differs from the file (the cells are listed),\n"
    "2 usage error, 3 device error, 4 file error.\n";

// Messages; Russian texts as the screens show them.
constexpr const char* kNotInitialised = "SIM-Карта не инициализирована: файл не записан"_cp;
constexpr const char* kUnsigned =
    "В файле нет настроек шлюза, SIM-Карта не изменена (записать его все же: restore --force)"_cp;
constexpr const char* kOpenError = "Ошибка открытия файла!"_cp;
constexpr const char* kWriteError = "Ошибка записи файла! Прежний файл не изменен"_cp;
constexpr const char* kTooLarge = "Файл слишком велик!"_cp;
constexpr const char* kRefused = "SIM-Карта не приняла строк: %d из %d"_cp;
constexpr const char* kRefusedList = "Не приняты строки:"_cp;
constexpr const char* kCell = "Ячейка %02d: файл "_cp;
constexpr const char* kOnSim = "; SIM-Карта "_cp;
constexpr const char* kDiffer = "Ячеек с отличиями: %d"_cp;
constexpr const char* kReading = "Чтение SIM-Карты"_cp;
constexpr const char* kWriting = "Запись в SIM-Карту"_cp;
constexpr const char* kReadingBack = "Проверка записи"_cp;

// A text from the device or a file may hold any byte: none of them may
// control the terminal.
std::string Harmless(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

// One message line on standard error: "tarvelin: ", the place it concerns
// (a port or a file name, as given), and cp866 text.
void Complain(std::string_view where, std::string_view cp866) {
  std::string line = "tarvelin: ";
  line += where;
  line += ": ";
  line += ToLocaleText(cp866);
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

int UsageError(std::string_view why) {
  std::string line = "tarvelin: ";
  line += why;
  line += "\n";
  std::fputs(line.c_str(), stderr);
  std::fputs(kUsage, stderr);
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

void ReportFileFault(const std::string& path, const char* what, FileFault fault) {
  std::string text = what;
  if (const char* why = FileFaultText(fault)) text = text + " (" + why + ")";
  Complain(path, text);
}

// The settings file named on the command line, or false after the message.
bool ReadFile(const std::string& path, std::string& bytes) {
  FileFault fault = FileFault::None;
  switch (ReadSettingsFile(path, bytes, &fault)) {
    case FileReadResult::Ok: return true;
    case FileReadResult::TooLarge: Complain(path, kTooLarge); return false;
    case FileReadResult::OpenFailed: break;
  }
  ReportFileFault(path, kOpenError, fault);
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
// SIM may hold a mix of two files.
void ReportUnfinishedTransfer(const Tool& tool, std::string_view port) {
  const std::string notice = UnfinishedTransferNotice(tool.state.portIndex, tool.state.gatewayIndex);
  if (!notice.empty()) Complain(port, notice);
}

// The connection; lines that nobody confirmed are said before gateway 1 goes
// on, and a write to this gateway that stopped part way.
ExchangeFault Attach(Tool& tool, std::string_view port) {
  ExchangeFault fault = AttachGateway(tool);
  if (fault.Failed()) return fault;
  if (tool.port.LinesUnconfirmed()) Complain(port, kLinesUnconfirmed);
  ReportUnfinishedTransfer(tool, port);
  return fault;
}

// The cells that differ, one line each on standard output; their count on
// standard error.
int ReportDifferences(std::string_view fileBytes, std::string_view simText) {
  const std::vector<int> cells = DifferingCells(fileBytes, simText);
  if (cells.empty()) return exitcode::Ok;
  SimImage file, sim;
  ParseSettingsText(fileBytes, file);
  ParseSettingsText(simText, sim);
  auto texts = [](const SimImage& image, int cell) {
    return "\"" + Harmless(image.CellNumber(cell)) + "\",\"" + Harmless(image.CellName(cell)) + "\"";
  };
  for (const int cell : cells) {
    char head[48];
    std::snprintf(head, sizeof head, kCell, cell);
    const std::string line = head + texts(file, cell) + kOnSim + texts(sim, cell) + "\n";
    std::fputs(ToLocaleText(line).c_str(), stdout);
  }
  char count[48];
  std::snprintf(count, sizeof count, kDiffer, static_cast<int>(cells.size()));
  std::fputs(("tarvelin: " + ToLocaleText(count) + "\n").c_str(), stderr);
  return exitcode::Differences;
}

int Backup(Tool& tool, const std::string& port, const std::string& path) {
  if (const ExchangeFault fault = Attach(tool, port); fault.Failed()) return DeviceFailed(port, fault);
  // A SIM that lost its settings is not copied over the last good backup;
  // initialising it is the operator's decision, in the connection dialog.
  if (!tool.image.HasSignature()) {
    Complain(port, kNotInitialised);
    return exitcode::Device;
  }
  const SaveOutcome saved = SaveSimToFile(tool, path, ProgressOf(kReading, SettingsLines));
  switch (saved.step) {
    case SaveStep::Saved: return exitcode::Ok;
    case SaveStep::CreateFailed: ReportFileFault(path, kOpenError, saved.fault); return exitcode::File;
    case SaveStep::DeviceFailed: return DeviceFailed(port, saved.device);
    case SaveStep::WriteFailed: ReportFileFault(path, kWriteError, saved.fault); return exitcode::File;
  }
  return exitcode::Ok;
}

// Reads the SIM's cells 1..99 as SIM to file keeps them.
int ReadSim(Tool& tool, const std::string& port, const char* label, std::string& text) {
  tool.image.ClearImage();
  if (const ExchangeFault fault = ReadSimCells(tool, &text, ProgressOf(label, SettingsLines)); fault.Failed())
    return DeviceFailed(port, fault);
  return exitcode::Ok;
}

int Restore(Tool& tool, const std::string& port, const std::string& path, bool force) {
  std::string bytes;
  if (!ReadFile(path, bytes)) return exitcode::File;
  if (!force && !CarriesGatewaySettings(bytes)) {
    Complain(path, kUnsigned);
    return exitcode::File;
  }
  if (const ExchangeFault fault = Attach(tool, port); fault.Failed()) return DeviceFailed(port, fault);
  const SendOutcome sent = SendFileToSim(tool, bytes, path,
                                         ProgressOf(kWriting, static_cast<int>(SplitLinesForSim(bytes).size())));
  if (sent.journalFailed) {
    ReportFileFault(JournalPath(tool.state.portIndex, tool.state.gatewayIndex), kOpenError, sent.journalFault);
    return exitcode::File;
  }
  if (sent.device.Failed()) return DeviceFailed(port, sent.device);
  std::string simText;
  if (const int rc = ReadSim(tool, port, kReadingBack, simText); rc != exitcode::Ok) return rc;
  RemoveJournal(tool.state.portIndex, tool.state.gatewayIndex);
  Complain(port, WrittenAndMatched(sent));
  if (sent.tally.Failed() > 0) {
    char text[96];
    std::snprintf(text, sizeof text, kRefused, sent.tally.Failed(), sent.total);
    std::string listed = std::string(text) + ". " + kRefusedList;
    for (std::size_t n = 0; n < sent.refusedLines.size(); ++n) {
      char number[16];
      std::snprintf(number, sizeof number, "%s%02d", n == 0 ? " " : ", ", sent.refusedLines[n]);
      listed += number;
    }
    Complain(port, listed);
  }
  const int rc = ReportDifferences(bytes, simText);
  return sent.tally.Failed() > 0 ? exitcode::Differences : rc;
}

int Verify(Tool& tool, const std::string& port, const std::string& path) {
  std::string bytes;
  if (!ReadFile(path, bytes)) return exitcode::File;
  if (const ExchangeFault fault = Attach(tool, port); fault.Failed()) return DeviceFailed(port, fault);
  std::string simText;
  if (const int rc = ReadSim(tool, port, kReading, simText); rc != exitcode::Ok) return rc;
  return ReportDifferences(bytes, simText);
}

}  // namespace

int RunCommandLine(Tool& tool, const std::vector<std::string>& args) {
  // The commands show no screen; the device's waits present nothing.
  tool.screen.AttachConsole(nullptr);
  if (args.empty()) return UsageError("no command");
  const std::string& command = args[0];
  if (args.size() == 1 && command == "--help") {
    std::fputs(kUsage, stdout);
    return exitcode::Ok;
  }
  if (args.size() == 1 && command == "--version") {
    std::fputs("tarvelin " TARVELIN_VERSION "\n", stdout);
    return exitcode::Ok;
  }
  if (command != "backup" && command != "restore" && command != "verify")
    return UsageError("unknown command or option '" + Harmless(command) + "'");
  std::vector<std::string> rest(args.begin() + 1, args.end());
  bool force = false;
  if (command == "restore" && !rest.empty() && rest[0] == "--force") {
    force = true;
    rest.erase(rest.begin());
  }
  if (rest.size() != 2) return UsageError(command + ": a port and a file are needed");
  const std::string& port = rest[0];
  const std::string& path = rest[1];
  if (!ParsePort(port, tool.state.portIndex, tool.state.gatewayIndex))
    return UsageError("'" + Harmless(port) + "' is not COM1..COM16, optionally with :1..:4");
  if (command == "backup") return Backup(tool, port, path);
  if (command == "restore") return Restore(tool, port, path, force);
  return Verify(tool, port, path);
}

}  // namespace tv
