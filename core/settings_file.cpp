// Settings file encoding, parsing and splitting into write commands.
#include "core/settings_file.h"

#include <algorithm>
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

namespace {

// The cell a line names as ParseSettingsText reads it: the digits before its
// first comma (blanks and anything else there passed over); 0 for none of
// 1..99 or no comma at all.
int CellParsedFrom(std::string_view line) {
  const std::size_t comma = line.find(',');
  if (comma == std::string_view::npos) return 0;
  int index = 0;
  for (const char c : line.substr(0, comma))
    if (c >= '0' && c <= '9') index = std::min(index * 10 + (c - '0'), 1000);
  return index >= 1 && index <= SettingsLines ? index : 0;
}

// The line end a new line gets: the file's first one (CR LF, LF or CR);
// CR LF in a file that has none.
std::string_view LineEndOf(std::string_view content) {
  const std::size_t end = content.find_first_of("\r\n");
  if (end == std::string_view::npos) return "\r\n";
  if (content[end] == '\n') return "\n";
  return content.substr(end + 1, 1) == "\n" ? "\r\n" : "\r";
}

}  // namespace

std::string RewriteSettingsFile(std::string_view fileBytes, const SimImage& edited) {
  SimImage before;
  ParseSettingsText(fileBytes, before);
  const std::string_view content = SettingsContent(fileBytes);
  const std::size_t head = static_cast<std::size_t>(content.data() - fileBytes.data());  // the byte order mark
  const std::string_view tail = fileBytes.substr(head + content.size());

  // Each line's place in the content, and the last line naming each cell.
  struct Span {
    std::size_t from, to;
  };
  std::vector<Span> lines;
  std::vector<int> lastLine(SettingsLines + 1, -1);
  for (std::size_t from = 0; from <= content.size();) {
    std::size_t to = content.find_first_of("\r\n", from);
    if (to == std::string_view::npos) to = content.size();
    if (const int cell = CellParsedFrom(content.substr(from, to - from)); cell != 0)
      lastLine[cell] = static_cast<int>(lines.size());
    lines.push_back({from, to});
    from = to + 1;
  }

  std::vector<std::string> replacement(lines.size());
  std::vector<bool> replaced(lines.size(), false);
  std::string added;
  const std::string_view lineEnd = LineEndOf(content);
  for (int cell = 1; cell <= SettingsLines; ++cell) {
    if (before.CellNumber(cell) == edited.CellNumber(cell) && before.CellName(cell) == edited.CellName(cell)) continue;
    std::string line = EncodeSaveLine(cell, edited.CellNumber(cell), edited.CellName(cell));
    line.resize(line.size() - 2);  // without its CR LF
    // An international number ("+79161234567") is read back from the
    // device with type 145: so written, a restore finds the line on the
    // SIM as it is in the file.
    if (edited.CellNumber(cell).substr(0, 1) == "+")
      line.replace(6 + edited.CellNumber(cell).size(), 5, ",145,");
    if (lastLine[cell] < 0) {
      added += line;
      added += lineEnd;
      continue;
    }
    replacement[static_cast<std::size_t>(lastLine[cell])] = std::move(line);
    replaced[static_cast<std::size_t>(lastLine[cell])] = true;
  }

  std::string text(fileBytes.substr(0, head));
  std::size_t copied = 0;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    if (!replaced[n]) continue;
    text += content.substr(copied, lines[n].from - copied);
    text += replacement[n];
    copied = lines[n].to;
  }
  text += content.substr(copied);
  if (!added.empty()) {
    // A last line without its line end gets one before the new lines.
    if (!content.empty() && content.back() != '\r' && content.back() != '\n') text += lineEnd;
    text += added;
  }

  // The padding: as many NULs fewer or more as the text grew or shrank, the
  // file keeping its size, while one still ends the text.
  if (tail.empty()) return text;
  const std::size_t oldSize = head + content.size();
  if (text.size() <= oldSize) return text + std::string(oldSize - text.size(), '\0') + std::string(tail);
  const std::size_t grown = text.size() - oldSize;
  const std::size_t nuls = std::min(tail.find_first_not_of('\0'), tail.size());
  if (grown < nuls) return text + std::string(tail.substr(grown));
  if (nuls == tail.size()) return PadToBlocks(std::move(text));
  return text + std::string(tail);
}

}  // namespace tv
