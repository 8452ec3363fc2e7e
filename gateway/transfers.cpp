// The connection and the SIM <-> file transfers on the device.
#include "gateway/transfers.h"

#include <cstdio>

#include "core/settings_file.h"
#include "cp866/literal.h"
#include "device/at_engine.h"
#include "device/range_read.h"
#include "gateway/compare.h"
#include "gateway/journal.h"
#include "gateway/session.h"

namespace tv {

namespace {

// File to SIM stopped by a device that is gone: how far it came.
constexpr const char* kWrittenSoFar = "Записано строк: %d из %d"_cp;

// A modem may be asleep (power saving) or still starting when it is
// addressed: its first answer can take seconds, and the first command may be
// lost. "AT" is asked until it answers, within WakeGrace; an answer that came
// only after a probe went unanswered is followed by a quiet line, so that a
// late reply to an earlier probe cannot pass for the answer to a read.
constexpr Millis WakeGrace{4000};
constexpr Millis ProbeBound{700};

enum class Awoken { Yes, No, Left };
Awoken AwaitModem(GatewaySession& gateway, const StopRequest& stop) {
  const Clock::TimePoint deadline = gateway.clock.Now() + WakeGrace;
  bool late = false;
  while (gateway.clock.Now() < deadline) {
    const AtReply reply = gateway.at.Run("AT\r", {}, ProbeBound, stop);
    if (reply.stopped) return Awoken::Left;
    if (reply.status == AtStatus::Failed) return Awoken::No;
    if (reply.status != AtStatus::Timeout) {
      // Anything but the probe's own answer on the line (the tail of a reply
      // the last connection left behind: entries and an OK that may have
      // passed for the probe's) is let drain away first, so that none of it
      // can pass for the book's reply.
      const bool stray = !gateway.at.TakeUnsolicited().empty();
      if (late || stray) gateway.at.AwaitQuiet();
      return Awoken::Yes;
    }
    late = true;
  }
  return Awoken::No;
}

// A failed cell read: the device is taken as gone.
ExchangeFault CellReadFailed(GatewaySession& gateway, int cell, const CellResult& result) {
  gateway.state.deviceConnected = false;
  return {ExchangeErrorOf(result), DescribeFailure(cell, result)};
}

void Tell(const TransferProgress& progress, int done) {
  if (progress) progress(done);
}

// The whole book, by range where the modem takes it (one command instead of
// ninety-nine round trips), else cell by cell. What was read is kept as the
// settings file's lines while nothing else is sent to the device.
ExchangeFault ReadWholeBook(GatewaySession& gateway, const TransferProgress& progress, const StopRequest& stop = {}) {
  if (gateway.cellByCell) gateway.rangeReads = false;
  // A range reply names only the cells that hold an entry, as they come:
  // the progress is told every cell up to each as it comes (the reply is
  // one long wait: whoever shows the progress shows it at once).
  int told = 0;
  const auto tell = [&](int done) {
    if (!progress) return;
    if (done < told) told = 0;  // the read started over, cell by cell
    while (told < done) progress(++told);
  };
  const CellsRead read = ReadCells(gateway.at, gateway.image, 1, SettingsLines, gateway.rangeReads, tell, stop);
  if (read.stopped) {
    // Left by the operator: a book read in part is no connection.
    gateway.bookLines.clear();
    gateway.image.ClearImage();
    gateway.state.deviceConnected = false;
    return {0, {}, true};
  }
  if (!read.Ok()) {
    gateway.bookLines.clear();
    return CellReadFailed(gateway, read.failedCell, read.failure);
  }
  gateway.bookLines.assign(SettingsLines + 1, std::string());
  for (int cell = 1; cell <= SettingsLines; ++cell)
    gateway.bookLines[cell] = SettingsLineOf(cell, read.cells[static_cast<std::size_t>(cell - 1)]);
  gateway.bookAt = gateway.at.CommandsSent();
  return {};
}

}  // namespace

int OpenPort(GatewaySession& gateway, int portIndex) { return gateway.port.Open(portIndex); }

int SelectGateway(GatewaySession& gateway, int gatewayIndex) {
  const GatewayLines lines = GatewayLevels[gatewayIndex];
  if (!gateway.port.SetDtr(lines.dtr)) return xerr::SystemError;
  if (!gateway.port.SetRts(lines.rts)) return xerr::SystemError;
  return 0;
}

ExchangeFault AttachGateway(GatewaySession& gateway, const StopRequest& stop, const TransferProgress& reading) {
  WorkState& st = gateway.state;
  // A port that has hung up since (the adapter, the gateway or the network
  // server restarted while the tool was idle) is opened anew before it is
  // talked to, not after the first command went nowhere.
  if (!st.deviceConnected || gateway.port.CheckHungUp()) {
    if (const int rc = OpenPort(gateway, st.portIndex); rc != 0) {
      st.deviceConnected = false;
      // A network port says why ("отказ в соединении", "линия занята
      // другим клиентом"): at once, in the box and on the command line.
      return {rc, gateway.port.FailureReason()};
    }
    st.deviceConnected = true;
    st.fileLoaded = false;
    st.unsavedEdits = false;
  }
  if (SelectGateway(gateway, st.gatewayIndex) != 0) {
    if (gateway.port.Lost()) {
      st.deviceConnected = false;
      return {xerr::SystemError, kLineLost};
    }
    return {xerr::SystemError, {}};
  }
  // From here on the lines select this gateway, whatever the connection
  // then finds: whoever shows which gateway is driven is told now.
  if (gateway.linesSwitched) gateway.linesSwitched();
  // Lines nobody confirmed reach an unknown gateway: the one modem such a
  // server usually serves is gateway 1 (the caller warns); any other gateway
  // number would reach that same modem and is refused. The image is of
  // no gateway the operator can name now.
  if (gateway.port.LinesUnconfirmed() && st.gatewayIndex != 0) {
    st.deviceConnected = false;
    gateway.image.ClearImage();
    return {xerr::SystemError, kLinesUnconfirmed};
  }
  gateway.image.ClearImage();
  if (const Awoken awoken = AwaitModem(gateway, stop); awoken != Awoken::Yes) {
    st.deviceConnected = false;
    if (awoken == Awoken::Left) return {0, {}, true};
    return {xerr::NoAnswer, gateway.port.Lost() ? kLineLost : std::string()};
  }
  gateway.bookLines.clear();
  // The signature is checked from one read of the whole book where the
  // modem takes the range form; the reads that follow the connection use it.
  gateway.rangeReads = !gateway.cellByCell;
  if (gateway.rangeReads) {
    Tell(reading, 0);
    return ReadWholeBook(gateway, reading, stop);
  }
  if (const CellResult r = ReadCell(gateway.at, gateway.image, ModeCell); !r.Ok())
    return CellReadFailed(gateway, ModeCell, r);
  return {};
}

ExchangeFault ReadSimCells(GatewaySession& gateway, std::string* text, const TransferProgress& progress,
                           std::vector<std::string>* lines, const StopRequest& stop) {
  Tell(progress, 0);
  // Just read by the connection, with nothing sent since: the SIM is as read.
  if (!gateway.BookFresh()) {
    if (ExchangeFault fault = ReadWholeBook(gateway, progress, stop); fault.Failed()) return fault;
  }
  // A location the device reports empty brings no "+CPBR:" line: it is
  // kept as an empty cell.
  if (text)
    for (int cell = 1; cell <= SettingsLines; ++cell) *text += gateway.bookLines[cell];
  if (lines) *lines = gateway.bookLines;
  gateway.bookLines.clear();
  Tell(progress, SettingsLines);
  return {};
}

ExchangeFault ReadSimSettings(GatewaySession& gateway, SimImage& settings, const TransferProgress& progress) {
  Tell(progress, 0);
  if (!gateway.BookFresh()) {
    if (ExchangeFault fault = ReadWholeBook(gateway, progress); fault.Failed()) return fault;
  }
  std::string text;
  for (int cell = 1; cell <= SettingsLines; ++cell) text += gateway.bookLines[cell];
  ParseSettingsText(text, settings);
  Tell(progress, SettingsLines);
  return {};
}

SaveOutcome SaveSimToFile(GatewaySession& gateway, const std::string& path, const TransferProgress& progress) {
  // The file is tried before the cells are read, so that one that cannot be
  // written is reported at once; its temporary file is made again only when
  // the text is complete, so that a program ended by a signal in the middle
  // of the reads leaves nothing behind.
  AtomicFileWriter file;
  if (!file.Open(path)) return {SaveStep::CreateFailed, file.Fault(), {}};
  file.Discard();
  std::string text;
  if (ExchangeFault fault = ReadSimCells(gateway, &text, progress); fault.Failed())
    return {SaveStep::DeviceFailed, FileFault::None, std::move(fault)};
  if (!file.Open(path) || !file.Commit(PadToBlocks(std::move(text))))
    return {SaveStep::WriteFailed, file.Fault(), {}};
  return {};
}

SendOutcome SendFileToSim(GatewaySession& gateway, std::string_view fileBytes, const std::string& fileName,
                          const TransferProgress& progress, const StopRequest& stop) {
  SendOutcome out;
  const std::vector<std::string> commands = SplitLinesForSim(fileBytes);
  out.total = static_cast<int>(commands.size());
  // The journal is on the disk before the SIM is touched, so that a tool
  // killed or a line dropped at any cell leaves word of it.
  TransferJournal journal = StartJournal(gateway, false, fileName, out.total);
  if (!WriteJournal(journal, &out.journalFault)) {
    out.journalFailed = true;
    return out;
  }
  // Only the lines that differ from what the SIM holds are written (a SIM
  // takes up to half a second a write): the SIM is read first, by range.
  std::vector<bool> send(commands.size(), true);
  if (!gateway.writeAll) {
    if (!gateway.BookFresh()) {
      if (ExchangeFault fault = ReadWholeBook(gateway, {}); fault.Failed()) {
        out.device = std::move(fault);
        return out;
      }
    }
    const std::vector<LineAgainstSim> compared = CompareWithSim(commands, gateway.bookLines);
    for (std::size_t n = 0; n < compared.size(); ++n) send[n] = compared[n].differs;
    gateway.bookLines.clear();
  }
  Tell(progress, 0);
  int line = 0;
  for (const std::string& command : commands) {
    if (!send[static_cast<std::size_t>(line)]) {
      ++line;
      ++out.matched;
      out.sent = line;
      journal.written = line;
      Tell(progress, line);
      continue;
    }
    if (line > 0 && stop && stop()) {
      out.stopped = true;
      gateway.state.deviceConnected = false;
      return out;
    }
    ++line;
    // A refused line is counted, so that the end is not reported as a
    // success when the SIM took nothing. A device that is gone leaves the
    // SIM part new, part old: the fault says how far it came.
    const int failedBefore = out.tally.Failed();
    const bool gone = out.tally.Add(SendCellWrite(gateway.at, command));
    if (out.tally.Failed() > failedBefore) out.refusedLines.push_back(line);
    if (gone) {
      out.sent = line - 1;
      char detail[64];
      std::snprintf(detail, sizeof detail, kWrittenSoFar, out.tally.taken + out.matched, out.total);
      out.device = {xerr::NoAnswer, gateway.port.Lost() ? std::string(kLineLost) + ". " + detail : detail};
      gateway.state.deviceConnected = false;
      return out;
    }
    out.sent = line;
    // Only an answered line counts as come through: one left unanswered may
    // or may not have reached the SIM.
    if (out.tally.unansweredInARow == 0) {
      journal.written = line;
      UpdateJournal(journal);
    }
    Tell(progress, line);
  }
  return out;
}

namespace {
// AT+CPBW=05,"0",129,"05" CR; for the mode cell AT+CPBW=98,"0000100",129,"98.GSM.TRV" CR.
std::string DefaultCellCommand(int cell) {
  if (cell == ModeCell) return BuildWriteCommand(cell, DefaultModeString, SimSignature);
  const char digits[2] = {static_cast<char>('0' + cell / 10), static_cast<char>('0' + cell % 10)};
  return BuildWriteCommand(cell, "0", std::string_view(digits, 2));
}
}  // namespace

InitOutcome WriteDefaultCells(GatewaySession& gateway, const TransferProgress& progress, const StopRequest& stop) {
  InitOutcome out;
  out.total = CellSlots - 1;
  // On the disk before the first cell is written, so that a tool killed or a
  // line dropped part way leaves word of it for the next connection.
  TransferJournal journal = StartJournal(gateway, true, {}, out.total);
  if (!WriteJournal(journal, &out.journalFault)) {
    out.journalFailed = true;
    return out;
  }
  for (int cell = 1; cell <= out.total; ++cell) {
    if (stop && stop()) {
      out.stopped = true;
      return out;
    }
    if (out.tally.Add(SendCellWrite(gateway.at, DefaultCellCommand(cell)))) {
      out.gone = true;
      return out;
    }
    out.written = cell;
    // A cell left unanswered may or may not have reached the SIM.
    if (out.tally.unansweredInARow == 0) {
      journal.written = cell;
      UpdateJournal(journal);
    }
    Tell(progress, cell);
  }
  return out;
}

std::string WrittenAndMatched(const SendOutcome& sent) {
  char text[96];
  std::snprintf(text, sizeof text, "Записано строк: %d, уже совпадали: %d"_cp, sent.tally.taken, sent.matched);
  return text;
}

bool CarriesGatewaySettings(std::string_view fileBytes) {
  SimImage parsed;
  ParseSettingsText(fileBytes, parsed);
  return parsed.HasSignature();
}

}  // namespace tv
