// Settings file encoding, parsing and splitting into write commands.
#include "core/settings_file.h"

#include <cstring>

namespace tv {

namespace {

constexpr std::string_view kWrite = "AT+CPBW=";

// The cell a line writes: its index, blanks around it, up to the comma or
// the line's end; 0 when that is no cell 1..99.
int CellOfLine(std::string_view line) {
  int index = 0;
  bool digits = false, blankAfter = false;
  for (const char c : line) {
    if (c == ',') break;
    if (c == ' ') {
      blankAfter = digits;
      continue;
    }
    if (c < '0' || c > '9' || blankAfter || index >= 100) return 0;
    index = index * 10 + (c - '0');
    digits = true;
  }
  return digits && index >= 1 && index <= SettingsLines ? index : 0;
}

}  // namespace

std::string EncodeSaveLine(int index, std::string_view number, std::string_view name) {
  std::string line;
  line.reserve(15 + number.size() + name.size());
  line += ' ';
  line += static_cast<char>('0' + index / 10);
  line += static_cast<char>('0' + index % 10);
  line += ",\"";
  line += number;
  line += "\",129,\"";
  line += name;
  line += "\"\r\n";
  return line;
}

std::string EncodeSettingsText(const SimImage& image) {
  std::string text;
  for (int i = 1; i <= SettingsLines; ++i) text += EncodeSaveLine(i, image.CellNumber(i), image.CellName(i));
  return text;
}

std::string PadToBlocks(std::string text) {
  const std::size_t blocks = text.size() / FileBlockBytes + 1;
  text.resize(blocks * FileBlockBytes, '\0');
  return text;
}

std::string EncodeSettingsFile(const SimImage& image) { return PadToBlocks(EncodeSettingsText(image)); }

std::string_view SettingsContent(std::string_view fileBytes) {
  static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (fileBytes.substr(0, kByteOrderMark.size()) == kByteOrderMark)
    fileBytes.remove_prefix(kByteOrderMark.size());
  // The padding begins right after the last line's LF. A zero byte inside a
  // line is a character of a text (the modem's GSM '@'), not the end.
  for (std::size_t nul = fileBytes.find('\0'); nul != std::string_view::npos;
       nul = fileBytes.find('\0', nul + 1))
    if (nul == 0 || fileBytes[nul - 1] == '\n' || fileBytes[nul - 1] == '\r') return fileBytes.substr(0, nul);
  return fileBytes;
}

void ParseSettingsText(std::string_view fileBytes, SimImage& image) {
  // States: 0 index, 1 before the number, 2 in the number, 3 before the
  // name, 4 in the name, 5 rest of the line.
  constexpr int kIndexCeiling = 1000;  // any index above 99 is simply "too big"
  image.ClearImage();
  int index = 0;
  int state = 0;
  bool cellValid = false;
  std::string text;  // the text being read; a second line for a cell replaces it whole
  auto store = [&] {
    if (!cellValid) return;
    if (state == 2) image.SetCellNumber(index, text);
    if (state == 4) image.SetCellName(index, text);
  };
  for (const char c : SettingsContent(fileBytes)) {
    if (c == ' ') continue;
    if (c == '\r' || c == '\n') {
      store();  // a text without its closing quote runs to the line's end
      index = 0;
      state = 0;
      continue;
    }
    switch (state) {
      case 0:
        if (c >= '0' && c <= '9') {
          index = index * 10 + (c - '0');
          if (index > kIndexCeiling) index = kIndexCeiling;
        } else if (c == ',') {
          cellValid = index >= 1 && index <= SettingsLines;
          state = 1;
        }
        break;
      case 1:
      case 3:
        if (c == '"') {
          text.clear();
          ++state;
          store();
        }
        break;
      case 2:
      case 4:
        if (c == '"') {
          store();
          ++state;
        } else if (text.size() <= static_cast<std::size_t>(TextMax)) {
          text += c;  // one past the limit, so that the cell knows it was shortened
        }
        break;
      default: break;
    }
  }
  store();
}

std::vector<std::string> SplitLinesForSim(std::string_view fileBytes) {
  std::vector<std::string> commands;
  std::string_view rest = SettingsContent(fileBytes);
  int lines = 0;
  while (!rest.empty() && lines < SettingsLines) {
    // A line ends at CR or LF, as for Load for editing (CR LF, LF alone from
    // Linux, CR alone from old Macs); a CR must never go out inside a command.
    const std::size_t end = rest.find_first_of("\r\n");
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (line.empty()) continue;
    ++lines;
    std::string command(kWrite);
    command += line;
    command += '\r';
    commands.push_back(std::move(command));
  }
  return commands;
}

void OverlaySettingsText(std::string_view fileBytes, SimImage& image) {
  SimImage written;
  for (const std::string& command : SplitLinesForSim(fileBytes)) {
    // The line as sent, without "AT+CPBW=" and its CR.
    const std::string_view line = std::string_view(command).substr(kWrite.size(), command.size() - kWrite.size() - 1);
    const int cell = CellOfLine(line);
    if (cell == 0) continue;
    ParseSettingsText(line, written);
    image.Restore(cell, written.Cell(cell));
  }
}

}  // namespace tv
