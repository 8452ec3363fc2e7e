#include "ui/transfer_journal.h"

#include <cstdio>
#include <cstdlib>

#include "core/cp866_literal.h"
#include "device/serial_port.h"
#include "ui/file_chooser.h"
#include "ui/tool.h"

namespace tv {

namespace {

constexpr const char* kHeader = "# tarvelin: a write to this gateway's SIM that has not completed\n";

constexpr const char* kFileStopped = "Прошлая запись файла в SIM-Карту не завершена:"_cp;
constexpr const char* kInitStopped = "Прошлая инициализация SIM-Карты не завершена:"_cp;
constexpr const char* kAtLine = "остановлена на строке %d из %d, файл %s"_cp;
constexpr const char* kAtCell = "остановлена на ячейке %d из %d"_cp;
constexpr const char* kAtReadBack = "остановлена при проверке записи, файл %s"_cp;

// A value kept on one line: no line breaks or other control bytes.
std::string OneLine(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

bool ToInt(const std::string& text, int& value) {
  if (text.empty() || text.size() > 6) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  value = std::atoi(text.c_str());
  return true;
}

}  // namespace

std::string JournalPath(int portIndex, int gatewayIndex) {
  return "tarvelin-" + PortFileName(portIndex) + "-" + std::to_string(gatewayIndex + 1) + ".journal";
}

std::string EncodeJournal(const TransferJournal& j) {
  std::string text = kHeader;
  text += "port " + PortDeviceName(j.portIndex) + "\n";
  text += "gateway " + std::to_string(j.gatewayIndex + 1) + "\n";
  text += "device " + OneLine(j.device) + "\n";
  text += std::string("transfer ") + (j.initialisation ? "init" : "file") + "\n";
  text += "file " + OneLine(j.file) + "\n";
  text += "written " + std::to_string(j.written) + "\n";
  text += "total " + std::to_string(j.total) + "\n";
  return text;
}

bool DecodeJournal(const std::string& text, TransferJournal& j) {
  TransferJournal out;
  bool port = false, gateway = false, written = false, total = false, transfer = false;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    int n = 0;
    if (key == "port") {
      for (int i = 0; i < PortCount; ++i)
        if (PortDeviceName(i) == value) {
          out.portIndex = i;
          port = true;
        }
    } else if (key == "gateway" && ToInt(value, n) && n >= 1 && n <= GatewayCount) {
      out.gatewayIndex = n - 1;
      gateway = true;
    } else if (key == "device") {
      out.device = value;
    } else if (key == "transfer" && (value == "file" || value == "init")) {
      out.initialisation = value == "init";
      transfer = true;
    } else if (key == "file") {
      out.file = value;
    } else if (key == "written" && ToInt(value, n)) {
      out.written = n;
      written = true;
    } else if (key == "total" && ToInt(value, n)) {
      out.total = n;
      total = true;
    }
  }
  if (!(port && gateway && written && total && transfer)) return false;
  j = out;
  return true;
}

bool WriteJournal(const TransferJournal& journal, FileFault* fault) {
  AtomicFileWriter writer;
  if (writer.Open(JournalPath(journal.portIndex, journal.gatewayIndex)) && writer.Commit(EncodeJournal(journal)))
    return true;
  if (fault) *fault = writer.Fault();
  return false;
}

bool UpdateJournal(const TransferJournal& journal) {
  AtomicFileWriter writer;
  return writer.Open(JournalPath(journal.portIndex, journal.gatewayIndex)) &&
         writer.Commit(EncodeJournal(journal), false);
}

bool ReadJournal(int portIndex, int gatewayIndex, TransferJournal& journal) {
  std::string text;
  if (ReadSettingsFile(JournalPath(portIndex, gatewayIndex), text) != FileReadResult::Ok) return false;
  // A journal names its own gateway; one copied under another name is not
  // taken for this gateway's.
  TransferJournal read;
  if (!DecodeJournal(text, read) || read.portIndex != portIndex || read.gatewayIndex != gatewayIndex) {
    // Still something left behind by a stopped write: say it without figures.
    read = {};
    read.portIndex = portIndex;
    read.gatewayIndex = gatewayIndex;
    read.file = "?";
  }
  journal = read;
  return true;
}

void RemoveJournal(int portIndex, int gatewayIndex) { RemoveFile(JournalPath(portIndex, gatewayIndex)); }

std::vector<std::string> InterruptionNotice(const TransferJournal& j, int nameWidth) {
  char where[160];
  const int total = j.total > 0 ? j.total : 99;
  // The line in flight when it stopped: the one after the last one taken.
  const int line = j.written < total ? j.written + 1 : total;
  const std::string file = DisplayFileName(j.file, nameWidth);
  if (j.initialisation)
    std::snprintf(where, sizeof where, kAtCell, line, total);
  else if (j.written >= total && j.total > 0)
    std::snprintf(where, sizeof where, kAtReadBack, file.c_str());
  else
    std::snprintf(where, sizeof where, kAtLine, line, total, file.c_str());
  return {j.initialisation ? kInitStopped : kFileStopped, where};
}

std::string InterruptionNoticeLine(const TransferJournal& journal) {
  const std::vector<std::string> lines = InterruptionNotice(journal);
  return lines[0] + " " + lines[1];
}

std::string UnfinishedTransferNotice(int portIndex, int gatewayIndex) {
  TransferJournal journal;
  return ReadJournal(portIndex, gatewayIndex, journal) ? InterruptionNoticeLine(journal) : std::string();
}

TransferJournal StartJournal(Tool& tool, bool initialisation, const std::string& file, int total) {
  TransferJournal j;
  j.portIndex = tool.state.portIndex;
  j.gatewayIndex = tool.state.gatewayIndex;
  j.device = tool.port.Describe(j.portIndex);
  j.initialisation = initialisation;
  j.file = file;
  j.total = total;
  return j;
}

}  // namespace tv
