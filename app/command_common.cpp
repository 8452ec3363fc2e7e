// The scripted commands' shared steps: ports and sources as named on the
// command line, the connection, and reading the SIM and the settings files.
#include "app/command_common.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "app/command_report.h"
#include "core/cp866_text.h"
#include "core/settings_file.h"
#include "gateway/journal.h"
#include "gateway/session.h"
#include "platform/file_access.h"
#include "platform/host.h"

namespace tv::cli {

namespace {

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

bool LooksLikeComName(std::string_view text) {
  return text.size() >= 3 && (text[0] | 0x20) == 'c' && (text[1] | 0x20) == 'o' && (text[2] | 0x20) == 'm';
}

// A write to this gateway that stopped part way, until one completes: the
// SIM may hold a mix of two files. The summary names its journal.
void ReportUnfinishedTransfer(const GatewaySession& session, std::string_view port) {
  TransferJournal journal;
  if (!ReadJournal(session.state.portIndex, session.state.gatewayIndex, journal)) return;
  Notice(port, InterruptionNoticeLine(journal));
  Run().journal = journal.path;
}

}  // namespace

int ChoosePort(const std::string& argument, int gateway, PortChoice& choice) {
  // The gateway's name in the summary: "COM3:2", "/dev/ttyUSB0:1",
  // "rfc2217://site7:4001:2".
  if (ParsePort(argument, choice.portIndex, choice.gatewayIndex)) {
    if (gateway != 0 && argument.find(':') != std::string::npos && choice.gatewayIndex != gateway - 1)
      return UsageError("'", argument, "' и --gateway называют разные шлюзы"_cp);
    choice.target.clear();
    choice.named = "COM" + std::to_string(choice.portIndex + 1);
  } else {
    // A device path or a network address: the run's port is COM1's index
    // given that target; the gateway comes from --gateway only.
    switch (ClassifyPortArgument(argument)) {
      case PortForm::Device:
      case PortForm::Network: break;
      case PortForm::BadAddress:
        return UsageError("'", argument, "' - адрес не понят, нужно rfc2217://узел:порт"_cp);
      case PortForm::NoNetwork:
        return UsageError("'", argument, "' - сетевые порты (rfc2217://) есть только в версии для Linux"_cp);
      case PortForm::None:
        // A misspelt COM name is told what a COM name takes.
        if (LooksLikeComName(argument))
          return UsageError("'", argument, "' - не COM1..COM16 (после него можно :1..:4)"_cp);
        return UsageError("'", argument, "' - не порт: нужен COMn, путь устройства или rfc2217://узел:порт"_cp);
    }
    choice.portIndex = 0;
    choice.gatewayIndex = 0;
    choice.target = argument;
    choice.named = Utf8FromArgument(argument);
  }
  if (gateway != 0) choice.gatewayIndex = gateway - 1;
  choice.named += ":" + std::to_string(choice.gatewayIndex + 1);
  // A path as typed may hold any byte; the messages name it harmlessly.
  choice.where = Harmless(argument);
  return exitcode::Ok;
}

void UsePort(GatewaySession& session, const PortChoice& choice) {
  if (session.state.portIndex != choice.portIndex || PortTarget(choice.portIndex) != choice.target)
    session.state.deviceConnected = false;
  session.state.portIndex = choice.portIndex;
  session.state.gatewayIndex = choice.gatewayIndex;
  SetPortTarget(choice.portIndex, choice.target);
}

bool SourceIsPort(const std::string& argument) {
  int port = 0, gateway = 0;
  if (ParsePort(argument, port, gateway)) return true;
  const PortForm form = ClassifyPortArgument(argument);
  if (form == PortForm::Network) return true;
  std::error_code ec;
  if (std::filesystem::is_regular_file(argument, ec)) return false;
  // What is neither a file nor a device path is refused as the port it
  // most likely meant (a misspelt COM name, an address), else as the file
  // that is not there.
  return form != PortForm::None || LooksLikeComName(argument);
}

ExchangeFault Attach(GatewaySession& session, std::string_view port) {
  ExchangeFault fault = AttachGateway(session);
  if (fault.Failed()) return fault;
  if (session.port.Unencrypted()) Notice(port, kUnencrypted);
  if (session.port.LinesUnconfirmed()) Notice(port, kLinesUnconfirmed);
  ReportUnfinishedTransfer(session, port);
  return fault;
}

int DeviceFailed(std::string_view port, const ExchangeFault& fault) {
  const char* message = ExchangeErrorMessage(fault.code);
  std::string text = message ? message : "Ошибка обмена"_cp;
  if (!fault.detail.empty()) text += " (" + Harmless(fault.detail) + ")";
  Complain(port, text);
  return exitcode::Device;
}

void ReportFileFault(const std::string& path, const std::string& what, FileFault fault) {
  std::string text = what;
  if (const char* why = FileFaultText(fault)) text = text + " (" + why + ")";
  Complain(path, text);
}

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

int ReadSim(GatewaySession& session, const std::string& port, const char* label, std::vector<std::string>& lines) {
  session.image.ClearImage();
  if (const ExchangeFault fault = ReadSimCells(session, nullptr, ProgressOf(label, SettingsLines), &lines);
      fault.Failed())
    return DeviceFailed(port, fault);
  return exitcode::Ok;
}

int ReadSource(GatewaySession& session, const std::string& argument, int gateway, Source& source) {
  source.given = Utf8FromArgument(argument);
  if (!SourceIsPort(argument)) {
    Run().file = source.given;
    std::string bytes;
    if (!ReadFile(argument, bytes)) return exitcode::File;
    ParseSettingsText(bytes, source.image);
    return exitcode::Ok;
  }
  PortChoice choice;
  if (const int rc = ChoosePort(argument, gateway, choice); rc != exitcode::Ok) return rc;
  UsePort(session, choice);
  source.gateway = Run().gateway = choice.named;
  const std::size_t noticesBefore = Run().notices.size();
  if (const ExchangeFault fault = Attach(session, choice.where); fault.Failed())
    return DeviceFailed(choice.where, fault);
  source.notices.assign(Run().notices.begin() + static_cast<long>(noticesBefore), Run().notices.end());
  if (const ExchangeFault fault = ReadSimSettings(session, source.image, ProgressOf(kReading, SettingsLines));
      fault.Failed())
    return DeviceFailed(choice.where, fault);
  return exitcode::Ok;
}

}  // namespace tv::cli
