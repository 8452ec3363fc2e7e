// backup, restore and verify: SIM to file, File to SIM with its read-back,
// and the comparison of a SIM with a file (gateway/transfers.h), reported on
// the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_common.h"
#include "app/command_line.h"
#include "app/command_report.h"
#include "core/settings_file.h"
#include "core/settings_model.h"
#include "gateway/journal.h"
#include "gateway/session.h"
#include "gateway/transfers.h"
#include "platform/host.h"

namespace tv::cli {

namespace {

constexpr const char* kNotInitialised = "SIM-Карта не инициализирована: файл не записан"_cp;
constexpr const char* kUnsigned =
    "В файле нет настроек шлюза, SIM-Карта не изменена (записать его все же: restore --force)"_cp;
constexpr const char* kKeptOld = "Прежний файл не изменен"_cp;
constexpr const char* kRefused = "SIM-Карта не приняла строк: %d из %d"_cp;
// backup of a SIM whose last write stopped part way (its journal named).
constexpr const char* kHalfWritten =
    "SIM-Карта записана не полностью (журнал %s), файл не записан (записать его все же: backup --force)"_cp;
constexpr const char* kWriting = "Запись в SIM-Карту"_cp;
constexpr const char* kReadingBack = "Проверка записи"_cp;
// Before restore writes: what the file changes on the SIM, in words.
constexpr const char* kWillChange = "На SIM-Карте изменится:"_cp;
// The lines of that summary: a screenful that still leaves the rest of the
// run's messages in view.
constexpr int kSummaryLines = 10;

// restore: the settings the file changes on the SIM, in words, on standard
// output.
int SayWhatWillChange(GatewaySession& session, const std::string& port, std::string_view fileBytes) {
  SimImage onSim;
  if (const ExchangeFault fault = ReadSimSettings(session, onSim, ProgressOf(kReading, SettingsLines)); fault.Failed())
    return DeviceFailed(port, fault);
  // As File to SIM's question says it: the cells no line names stay as the
  // SIM holds them, since restore does not write them.
  SimImage written = onSim;
  OverlaySettingsText(fileBytes, written);
  const std::vector<std::string> lines = SummariseChanges(CompareSettings(onSim, written), kSummaryLines);
  if (lines.empty()) return exitcode::Ok;
  std::string text = std::string(kWillChange) + "\n";
  for (const std::string& line : lines) text += "  " + Harmless(line) + "\n";
  std::fputs(ToLocaleText(text).c_str(), stdout);
  std::fflush(stdout);
  return exitcode::Ok;
}

}  // namespace

int Backup(GatewaySession& session, const PortChoice& port, const std::string& path, const CommandOptions& options) {
  const std::string& where = port.where;
  if (const ExchangeFault fault = Attach(session, where); fault.Failed()) return DeviceFailed(where, fault);
  // A SIM known to hold part of one file and part of another is no copy to
  // keep: the last good backup stays, unless the operator takes it anyway.
  if (!Run().journal.empty() && !options.force) {
    char text[384];
    std::snprintf(text, sizeof text, kHalfWritten, Harmless(Run().journal).c_str());
    Complain(where, text);
    return exitcode::Unfinished;
  }
  // A SIM that lost its settings is not copied over the last good backup;
  // initialising it is the operator's decision, in the connection dialog.
  if (!session.image.HasSignature()) {
    Complain(where, kNotInitialised);
    return exitcode::Device;
  }
  const SaveOutcome saved = SaveSimToFile(session, path, ProgressOf(kReading, SettingsLines));
  switch (saved.step) {
    case SaveStep::Saved: return exitcode::Ok;
    case SaveStep::CreateFailed: ReportFileFault(path, kFileOpenError, saved.fault); return exitcode::File;
    case SaveStep::DeviceFailed: return DeviceFailed(where, saved.device);
    case SaveStep::WriteFailed:
      ReportFileFault(path, std::string(kFileWriteError) + " " + kKeptOld, saved.fault);
      return exitcode::File;
  }
  return exitcode::Ok;
}

int Restore(GatewaySession& session, const PortChoice& port, const std::string& path, const CommandOptions& options) {
  const std::string& where = port.where;
  std::string bytes;
  if (!ReadFile(path, bytes)) return exitcode::File;
  if (!options.force && !CarriesGatewaySettings(bytes)) {
    Complain(path, kUnsigned);
    return exitcode::File;
  }
  if (const ExchangeFault fault = Attach(session, where); fault.Failed()) return DeviceFailed(where, fault);
  // The change is said from the book the writes compare with. --all on a
  // modem read cell by cell writes without reading the SIM first: nothing
  // to say it from then. A --json run keeps standard output to its JSON
  // Lines.
  if (!Run().json && (options.dryRun || !session.writeAll || session.BookFresh())) {
    if (const int rc = SayWhatWillChange(session, where, bytes); rc != exitcode::Ok) return rc;
  }
  if (options.dryRun) {
    // Nothing is written, and no journal: the lines restore would write
    // are those verify reports.
    std::vector<std::string> simLines;
    if (const int rc = ReadSim(session, where, kReading, simLines); rc != exitcode::Ok) return rc;
    return ReportDifferences(bytes, simLines);
  }
  const SendOutcome sent = SendFileToSim(session, bytes, path,
                                         ProgressOf(kWriting, static_cast<int>(SplitLinesForSim(bytes).size())));
  if (sent.journalFailed) {
    ReportFileFault(JournalPath(session.state.portIndex, session.state.gatewayIndex), kFileOpenError, sent.journalFault);
    return exitcode::File;
  }
  if (sent.device.Failed()) return DeviceFailed(where, sent.device);
  std::vector<std::string> simLines;
  if (const int rc = ReadSim(session, where, kReadingBack, simLines); rc != exitcode::Ok) return rc;
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
    Complain(where, listed);
    Run().refusedLines = sent.refusedLines;
  }
  Notice(where, WrittenAndMatched(sent));
  // A refused line is a difference whatever the read-back shows (a line
  // that names no cell, a cell a later line wrote over, a line --all sent
  // that the SIM already held).
  const int rc = ReportDifferences(bytes, simLines);
  return sent.tally.Failed() > 0 ? exitcode::Differences : rc;
}

int Verify(GatewaySession& session, const PortChoice& port, const std::string& path) {
  std::string bytes;
  if (!ReadFile(path, bytes)) return exitcode::File;
  if (const ExchangeFault fault = Attach(session, port.where); fault.Failed()) return DeviceFailed(port.where, fault);
  std::vector<std::string> simLines;
  if (const int rc = ReadSim(session, port.where, kReading, simLines); rc != exitcode::Ok) return rc;
  return ReportDifferences(bytes, simLines);
}

}  // namespace tv::cli
