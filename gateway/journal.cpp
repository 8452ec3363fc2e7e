// The journal file of a write to a SIM: its name, its text, and where it is
// looked for.
#include "gateway/journal.h"

#include <cstdio>
#include <cstdlib>

#include "core/cp866_text.h"
#include "cp866/literal.h"
#include "device/serial_port.h"
#include "gateway/session.h"
#include "platform/host.h"

namespace tv {

namespace {

constexpr const char* kHeader = "# tarvelin: a write to this gateway's SIM that has not completed\n";

constexpr const char* kFileStopped = "Прошлая запись файла в SIM-Карту не завершена:"_cp;
constexpr const char* kInitStopped = "Прошлая инициализация SIM-Карты не завершена:"_cp;
constexpr const char* kAtLine = "остановлена на строке %d из %d, файл %s"_cp;
constexpr const char* kAtCell = "остановлена на ячейке %d из %d"_cp;
constexpr const char* kAtReadBack = "остановлена при проверке записи, файл %s"_cp;

// A value kept on one line of UTF-8 text: no line breaks or other control
// bytes, and no byte outside a UTF-8 sequence.
std::string OneLine(const std::string& text) {
  std::string out = ValidUtf8(text, "?");
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

// The name that reached the port: its COM name, or the target given.
std::string PortName(int portIndex) {
  const std::string& target = PortTarget(portIndex);
  return target.empty() ? PortDeviceName(portIndex) : target;
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
  return "tarvelin-" + FileNamePart(PortLine(portIndex)) + "-" + std::to_string(gatewayIndex + 1) + ".journal";
}

std::string EncodeJournal(const TransferJournal& j) {
  std::string text = kHeader;
  text += "line " + OneLine(j.line) + "\n";
  text += "gateway " + std::to_string(j.gatewayIndex + 1) + "\n";
  text += "port " + OneLine(j.port) + "\n";
  text += "device " + OneLine(j.device) + "\n";
  text += std::string("transfer ") + (j.initialisation ? "init" : "file") + "\n";
  text += "file " + OneLine(j.file) + "\n";
  text += "written " + std::to_string(j.written) + "\n";
  text += "total " + std::to_string(j.total) + "\n";
  return text;
}

bool DecodeJournal(const std::string& text, TransferJournal& j) {
  TransferJournal out;
  bool gateway = false, written = false, total = false, transfer = false;
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
    if (key == "line") {
      out.line = value;
    } else if (key == "port") {
      out.port = value;
      for (int i = 0; i < PortCount; ++i)
        if (PortDeviceName(i) == value) out.portIndex = i;
    } else if (key == "gateway" && ToInt(value, n) && n >= 1 && n <= GatewayCount) {
      out.gatewayIndex = n - 1;
      gateway = true;
    } else if (key == "device") {
      // An earlier version wrote it in cp866.
      out.device = IsUtf8(value) ? value : Utf8FromCp866(value);
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
  if (out.line.empty() && out.port.empty()) return false;
  if (!(gateway && written && total && transfer)) return false;
  j = out;
  return true;
}

namespace {

// The journal's text; a journal that does not name its line and port yet is
// of its port index as the port now leads.
std::string TextOf(const TransferJournal& journal) {
  TransferJournal named = journal;
  if (named.line.empty()) named.line = PortLine(named.portIndex);
  if (named.port.empty()) named.port = PortName(named.portIndex);
  return EncodeJournal(named);
}

}  // namespace

bool WriteJournal(const TransferJournal& journal, FileFault* fault) {
  AtomicFileWriter writer;
  if (writer.Open(JournalPath(journal.portIndex, journal.gatewayIndex)) && writer.Commit(TextOf(journal)))
    return true;
  if (fault) *fault = writer.Fault();
  return false;
}

bool UpdateJournal(const TransferJournal& journal) {
  AtomicFileWriter writer;
  return writer.Open(JournalPath(journal.portIndex, journal.gatewayIndex)) &&
         writer.Commit(TextOf(journal), false);
}

namespace {

// Whether a journal's text is the record of this port's gateway: the same
// gateway, on the same line or reached by the same name.
bool Belongs(const std::string& text, int portIndex, int gatewayIndex, TransferJournal& journal) {
  TransferJournal read;
  if (!DecodeJournal(text, read) || read.gatewayIndex != gatewayIndex) return false;
  if (!(!read.line.empty() && read.line == PortLine(portIndex)) && read.port != PortName(portIndex)) return false;
  read.portIndex = portIndex;
  journal = read;
  return true;
}

// The journals in the working directory other than at JournalPath.
std::vector<std::string> OtherJournals(int portIndex, int gatewayIndex) {
  const std::string own = JournalPath(portIndex, gatewayIndex);
  std::vector<std::string> paths;
  for (const std::string& name : ListOrdinaryFiles(".")) {
    const bool journal = name.size() > 17 && name.rfind("tarvelin-", 0) == 0 &&
                         name.compare(name.size() - 8, 8, ".journal") == 0;
    if (journal && name != own) paths.push_back(name);
  }
  return paths;
}

}  // namespace

bool ReadJournal(int portIndex, int gatewayIndex, TransferJournal& journal) {
  const std::string own = JournalPath(portIndex, gatewayIndex);
  std::string text;
  if (ReadSettingsFile(own, text) == FileReadResult::Ok) {
    TransferJournal read;
    if (!Belongs(text, portIndex, gatewayIndex, read)) {
      // Still something left behind by a stopped write: say it without figures.
      read = {};
      read.portIndex = portIndex;
      read.gatewayIndex = gatewayIndex;
      read.file = "?";
    }
    read.path = own;
    journal = read;
    return true;
  }
  for (const std::string& path : OtherJournals(portIndex, gatewayIndex)) {
    TransferJournal read;
    if (ReadSettingsFile(path, text) == FileReadResult::Ok && Belongs(text, portIndex, gatewayIndex, read)) {
      read.path = path;
      journal = read;
      return true;
    }
  }
  return false;
}

void RemoveJournal(int portIndex, int gatewayIndex) {
  RemoveFile(JournalPath(portIndex, gatewayIndex));
  for (const std::string& path : OtherJournals(portIndex, gatewayIndex)) {
    std::string text;
    TransferJournal read;
    if (ReadSettingsFile(path, text) == FileReadResult::Ok && Belongs(text, portIndex, gatewayIndex, read))
      RemoveFile(path);
  }
}

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

TransferJournal StartJournal(GatewaySession& gateway, bool initialisation, const std::string& file, int total) {
  TransferJournal j;
  j.portIndex = gateway.state.portIndex;
  j.gatewayIndex = gateway.state.gatewayIndex;
  j.line = PortLine(j.portIndex);
  j.port = PortName(j.portIndex);
  j.device = Utf8FromCp866(gateway.port.Describe(j.portIndex));
  j.initialisation = initialisation;
  j.file = file;
  j.total = total;
  return j;
}

}  // namespace tv
