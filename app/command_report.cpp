// The scripted commands' messages, differing lines and JSON summary.
#include "app/command_report.h"

#include <cstdint>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "app/command_line.h"
#include "core/cp866_text.h"
#include "core/settings_file.h"
#include "core/settings_model.h"
#include "cp866/literal.h"
#include "device/cell_transfer.h"
#include "device/range_read.h"
#include "gateway/compare.h"
#include "platform/host.h"

namespace tv::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kCell = "Ячейка %02d"_cp;
constexpr const char* kFile = ": файл "_cp;
constexpr const char* kOnSim = "; SIM-Карта "_cp;
// A line that names no cell 1..99: restore sends it and the SIM refuses it.
constexpr const char* kNoCell = "Строка %02d: не называет ячейку 1..99: "_cp;
constexpr const char* kDiffer = "Ячеек с отличиями: %d"_cp;

// One JSON Lines record, spaced as the tool has always written them
// (`{"status": 0, "command": "backup"}`); each value as the library writes
// it (its escapes, its numbers), a byte that is not UTF-8 replaced.
std::string OneLine(const Json& value) {
  std::string out;
  if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it)
      out += (out.empty() ? "{" : ", ") + Json(it.key()).dump(-1, ' ', false, Json::error_handler_t::replace) + ": " +
             OneLine(it.value());
    return out.empty() ? "{}" : out + "}";
  }
  if (value.is_array()) {
    for (const Json& item : value) out += (out.empty() ? "[" : ", ") + OneLine(item);
    return out.empty() ? "[]" : out + "]";
  }
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json TextOrNull(const std::string& utf8) { return utf8.empty() ? Json(nullptr) : Json(utf8); }

// A cell's texts as the human line shows them: "number","name".
std::string Texts(const CpbrTexts& texts) {
  return "\"" + Harmless(texts.number) + "\",\"" + Harmless(texts.name) + "\"";
}

// The number and the name of a settings-file line (` 05,"123",129,"05"`),
// exactly as they stand between their quotes.
CpbrTexts TextsOf(const std::string& line) { return ParseCpbrLine("+CPBR:" + line); }

}  // namespace

Summary& Run() {
  static Summary summary;
  return summary;
}

std::string Utf8FromArgument(std::string_view text) { return ValidUtf8(text, "\xEF\xBF\xBD"); }

std::string Harmless(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

void Say(std::string_view where, std::string_view cp866) {
  std::string line = "tarvelin: ";
  line += where;
  line += ": ";
  line += ToLocaleText(cp866);
  line += '\n';
  std::fputs(line.c_str(), stderr);
}

void Complain(std::string_view where, std::string_view cp866) {
  Say(where, cp866);
  if (Run().reason.empty()) Run().reason = Utf8FromCp866(cp866);
}

void Notice(std::string_view where, std::string_view cp866) {
  Say(where, cp866);
  Run().notices.push_back(Utf8FromCp866(cp866));
}

void WriteSummary(int status) {
  const Summary& s = Run();
  Json notices = Json::array();
  for (const std::string& notice : s.notices) notices.push_back(notice);
  const Json summary = {{"status", status},
                        {"command", TextOrNull(s.command)},
                        {"gateway", TextOrNull(s.gateway)},
                        {"file", TextOrNull(s.file)},
                        {"cells_differing", s.cellsDiffering},
                        {"refused_lines", s.refusedLines},
                        {"reason", TextOrNull(s.reason)},
                        {"notices", notices},
                        {"journal", TextOrNull(Utf8FromArgument(s.journal))}};
  std::fputs((OneLine(summary) + "\n").c_str(), stdout);
}

int ReportDifferences(std::string_view fileBytes, const std::vector<std::string>& simLines) {
  // With --json the lines go to standard output as JSON Lines, the texts
  // whole (any byte); the human lines then go to standard error.
  const bool json = Run().json;
  SimImage fileImage;
  ParseSettingsText(fileBytes, fileImage);
  int differing = 0;
  for (const LineAgainstSim& l : CompareWithSim(SplitLinesForSim(fileBytes), simLines)) {
    if (!l.differs) continue;
    ++differing;
    char head[64];
    std::string human;
    Json object = {{"line", l.line}};
    if (l.cell < 0) {
      std::snprintf(head, sizeof head, kNoCell, l.line);
      human = head + Harmless(l.fileLine);
      object["cell"] = nullptr;
      object["file_line"] = Utf8FromCp866(l.fileLine);
    } else {
      const CpbrTexts file = TextsOf(l.fileLine), sim = TextsOf(l.simLine);
      // The settings the cell holds, as the file has it (a contact that
      // carries a route's platform is that route's).
      const std::string setting = SettingsOfCell(fileImage, l.cell);
      std::snprintf(head, sizeof head, kCell, l.cell);
      // Lines whose texts agree differ elsewhere (the number type, a blank
      // outside the quotes): the whole lines say where.
      const bool sameTexts = file.number == sim.number && file.name == sim.name;
      human = head + (setting.empty() ? "" : " (" + setting + ")") + kFile +
              (sameTexts ? "[" + Harmless(l.fileLine) + "]" : Texts(file)) + kOnSim +
              (sameTexts ? "[" + Harmless(l.simLine) + "]" : Texts(sim));
      object["cell"] = l.cell;
      object["file"] = Utf8FromCp866(file.number);
      object["sim"] = Utf8FromCp866(sim.number);
      object["file_name"] = Utf8FromCp866(file.name);
      object["sim_name"] = Utf8FromCp866(sim.name);
      object["setting"] = TextOrNull(Utf8FromCp866(setting));
    }
    std::fputs(ToLocaleText(human + "\n").c_str(), json ? stderr : stdout);
    if (json) std::fputs((OneLine(object) + "\n").c_str(), stdout);
  }
  if (differing == 0) return exitcode::Ok;
  char count[48];
  std::snprintf(count, sizeof count, kDiffer, differing);
  std::fputs(("tarvelin: " + ToLocaleText(count) + "\n").c_str(), stderr);
  Run().cellsDiffering = differing;
  if (Run().reason.empty()) Run().reason = Utf8FromCp866(count);
  return exitcode::Differences;
}

}  // namespace tv::cli
