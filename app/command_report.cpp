// The scripted commands' messages, differing lines and JSON summary.
#include "app/command_report.h"

#include <cstdint>
#include <cstdio>

#include "app/command_line.h"
#include "core/cp866_text.h"
#include "core/settings_file.h"
#include "cp866/literal.h"
#include "device/cell_transfer.h"
#include "device/range_read.h"
#include "gateway/compare.h"
#include "platform/host.h"

namespace tv::cli {

namespace {

constexpr const char* kCell = "Ячейка %02d: файл "_cp;
constexpr const char* kOnSim = "; SIM-Карта "_cp;
// A line that names no cell 1..99: restore sends it and the SIM refuses it.
constexpr const char* kNoCell = "Строка %02d: не называет ячейку 1..99: "_cp;
constexpr const char* kDiffer = "Ячеек с отличиями: %d"_cp;

// A UTF-8 text as a JSON string: quotes, backslashes and every control
// byte (a 0 inside a cell's text too) escaped.
std::string Json(std::string_view utf8) {
  std::string out = "\"";
  for (const char c : utf8) {
    const auto b = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20 || b == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonOrNull(const std::string& utf8) { return utf8.empty() ? "null" : Json(utf8); }

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
  std::string line = "{\"status\": " + std::to_string(status) + ", \"command\": " + JsonOrNull(s.command) +
                     ", \"gateway\": " + JsonOrNull(s.gateway) + ", \"file\": " + JsonOrNull(s.file) +
                     ", \"cells_differing\": " + std::to_string(s.cellsDiffering) + ", \"refused_lines\": [";
  for (std::size_t n = 0; n < s.refusedLines.size(); ++n)
    line += (n == 0 ? "" : ", ") + std::to_string(s.refusedLines[n]);
  line += "], \"reason\": " + JsonOrNull(s.reason) + ", \"notices\": [";
  for (std::size_t n = 0; n < s.notices.size(); ++n) line += (n == 0 ? "" : ", ") + Json(s.notices[n]);
  line += "], \"journal\": " + JsonOrNull(Utf8FromArgument(s.journal)) + "}\n";
  std::fputs(line.c_str(), stdout);
}

int ReportDifferences(std::string_view fileBytes, const std::vector<std::string>& simLines) {
  // With --json the lines go to standard output as JSON Lines, the texts
  // whole (any byte); the human lines then go to standard error.
  const bool json = Run().json;
  int differing = 0;
  for (const LineAgainstSim& l : CompareWithSim(SplitLinesForSim(fileBytes), simLines)) {
    if (!l.differs) continue;
    ++differing;
    char head[64];
    std::string human, object = "{\"line\": " + std::to_string(l.line);
    if (l.cell < 0) {
      std::snprintf(head, sizeof head, kNoCell, l.line);
      human = head + Harmless(l.fileLine);
      object += ", \"cell\": null, \"file_line\": " + Json(Utf8FromCp866(l.fileLine)) + "}\n";
    } else {
      const CpbrTexts file = TextsOf(l.fileLine), sim = TextsOf(l.simLine);
      std::snprintf(head, sizeof head, kCell, l.cell);
      // Lines whose texts agree differ elsewhere (the number type, a blank
      // outside the quotes): the whole lines say where.
      const bool sameTexts = file.number == sim.number && file.name == sim.name;
      human = head + (sameTexts ? "[" + Harmless(l.fileLine) + "]" : Texts(file)) + kOnSim +
              (sameTexts ? "[" + Harmless(l.simLine) + "]" : Texts(sim));
      object += ", \"cell\": " + std::to_string(l.cell) + ", \"file\": " + Json(Utf8FromCp866(file.number)) +
                ", \"sim\": " + Json(Utf8FromCp866(sim.number)) + ", \"file_name\": " +
                Json(Utf8FromCp866(file.name)) + ", \"sim_name\": " + Json(Utf8FromCp866(sim.name)) + "}\n";
    }
    std::fputs(ToLocaleText(human + "\n").c_str(), json ? stderr : stdout);
    if (json) std::fputs(object.c_str(), stdout);
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
