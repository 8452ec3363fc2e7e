// The comparison of a settings file's lines with the SIM's.
#include "gateway/compare.h"

#include <string_view>

#include "core/settings_file.h"
#include "core/sim_image.h"

namespace tv {

namespace {

std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// The cell a settings-file line names, as the modem reads the index of a
// write command (blanks, digits, a comma), and the rest of the line from
// that comma on; -1 when the line names no cell 1..99.
int SplitIndex(std::string_view line, std::string_view& rest) {
  std::size_t i = 0;
  while (i < line.size() && line[i] == ' ') ++i;
  const std::size_t digits = i;
  int index = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9' && i - digits < 4) index = index * 10 + (line[i++] - '0');
  if (i == digits || i >= line.size() || line[i] != ',' || index < 1 || index > SettingsLines) return -1;
  rest = line.substr(i);
  return index;
}

}  // namespace

std::vector<LineAgainstSim> CompareWithSim(const std::vector<std::string>& commands,
                                           const std::vector<std::string>& simLines) {
  static constexpr std::string_view kWrite = "AT+CPBW=";
  // What each cell holds when the next command comes, in the file's form
  // from its comma on; empty where it is not known.
  std::vector<std::string> holds(SettingsLines + 1);
  for (int index = 1; index <= SettingsLines && static_cast<std::size_t>(index) < simLines.size(); ++index) {
    std::string_view rest;
    if (SplitIndex(WithoutLineEnd(simLines[static_cast<std::size_t>(index)]), rest) == index)
      holds[static_cast<std::size_t>(index)] = std::string(rest);
  }
  std::vector<LineAgainstSim> compared;
  compared.reserve(commands.size());
  for (const std::string& command : commands) {
    LineAgainstSim out;
    out.line = static_cast<int>(compared.size()) + 1;
    std::string_view line = command;
    if (line.substr(0, kWrite.size()) == kWrite) line.remove_prefix(kWrite.size());
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.fileLine = std::string(line);
    std::string_view rest;
    out.cell = command.compare(0, kWrite.size(), kWrite) == 0 ? SplitIndex(WithoutLineEnd(line), rest) : -1;
    if (out.cell < 0) {
      out.differs = true;
      compared.push_back(std::move(out));
      continue;
    }
    const auto cell = static_cast<std::size_t>(out.cell);
    if (cell < simLines.size()) out.simLine = std::string(WithoutLineEnd(simLines[cell]));
    std::string& held = holds[cell];
    out.differs = held.empty() || held != rest;
    if (out.differs) held = std::string(rest);
    compared.push_back(std::move(out));
  }
  return compared;
}

}  // namespace tv
