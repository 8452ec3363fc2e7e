// Settings file bytes -> what "Load for editing" and "File to SIM" make of
// them: the file read back through ReadSettingsFile (from an in-memory file),
// parsed into an image that held other texts before, and split into
// AT+CPBW= commands. Texts carry their length: a byte 0 inside a quoted text
// is one of its characters (the modem's GSM '@'). Checked: texts of at most
// 47 characters in cells 1..99 only, every field zero behind its text, the
// cells (texts and shortened marks) equal to those of a plain line-by-line
// reading of the file, and the saved form of the image loading back into the
// same texts.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_file.h"
#include "core/sim_image.h"
#include "platform/file_access.h"
#include "ui/tool.h"

namespace {

using namespace tv;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The cells as a reader taking one line at a time sees them: a UTF-8
// byte-order mark skipped, the lines up to the first one that begins with a
// zero byte (the padding), blanks dropped, the index from the digits before
// the first comma, then the first quoted text as the number and the next one
// as the name (an unclosed one runs to the end of the line; zero bytes are
// characters like any other); a later line for the same cell replaces each
// text it opens.
struct ReferenceCells {
  std::string number[CellSlots];
  std::string name[CellSlots];
  bool numberCut[CellSlots] = {};
  bool nameCut[CellSlots] = {};
};

ReferenceCells ReadLineByLine(std::string_view content) {
  ReferenceCells ref;
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  std::size_t start = 0;
  while (start <= content.size()) {
    if (start < content.size() && content[start] == '\0') break;
    std::size_t end = content.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = content.size();
    std::string line;
    for (char c : content.substr(start, end - start))
      if (c != ' ') line += c;
    start = end + 1;

    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) continue;
    long index = 0;
    for (std::size_t i = 0; i < comma; ++i)
      if (line[i] >= '0' && line[i] <= '9' && index < 100000) index = index * 10 + (line[i] - '0');
    const bool valid = index >= 1 && index <= SettingsLines;
    std::size_t from = comma + 1;
    const std::size_t cell = valid ? index : 0;
    struct Field {
      std::string* text;
      bool* cut;
    };
    for (const Field field :
         {Field{&ref.number[cell], &ref.numberCut[cell]}, Field{&ref.name[cell], &ref.nameCut[cell]}}) {
      const std::size_t open = line.find('"', from);
      if (open == std::string::npos) break;
      std::size_t close = line.find('"', open + 1);
      if (close == std::string::npos) close = line.size();
      if (valid) {
        *field.text = line.substr(open + 1, std::min<std::size_t>(close - open - 1, TextMax));
        *field.cut = close - open - 1 > static_cast<std::size_t>(TextMax);
      }
      from = close + 1;
      if (close >= line.size()) break;
    }
  }
  return ref;
}

// The same texts, zero bytes inside them included, and the same fields.
bool SameCells(const SimImage& a, const SimImage& b) {
  for (int cell = 0; cell < CellSlots; ++cell)
    if (a.CellNumber(cell) != b.CellNumber(cell) || a.CellName(cell) != b.CellName(cell) ||
        std::memcmp(a.NumberField(cell), b.NumberField(cell), TextFieldBytes) != 0 ||
        std::memcmp(a.NameField(cell), b.NameField(cell), TextFieldBytes) != 0)
      return false;
  return true;
}

// Every text at most 47 characters, its field holding it and zero behind
// it (the field always ends in a zero); slot 0 empty.
void CheckFields(const SimImage& image) {
  for (int cell = 0; cell < CellSlots; ++cell) {
    const std::string_view texts[] = {image.CellNumber(cell), image.CellName(cell)};
    const char* fields[] = {image.NumberField(cell), image.NameField(cell)};
    for (int f = 0; f < 2; ++f) {
      const std::size_t length = texts[f].size();
      Check(length <= static_cast<std::size_t>(TextMax));
      Check(cell != 0 || length == 0);
      Check(texts[f].data() == fields[f] || length == 0);
      for (std::size_t i = length; i < static_cast<std::size_t>(TextFieldBytes); ++i)
        Check(fields[f][i] == 0);
    }
  }
}

// The file as ReadSettingsFile gets it from the disk: an in-memory file
// reached through its /proc path.
bool ReadThroughFile(const uint8_t* data, std::size_t size, std::string& bytes) {
  const int fd = memfd_create("fuzz.set", MFD_CLOEXEC);
  if (fd < 0) return false;
  bool ok = true;
  for (std::size_t done = 0; ok && done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  const FileReadResult result =
      ok ? ReadSettingsFile("/proc/self/fd/" + std::to_string(fd), bytes) : FileReadResult::OpenFailed;
  ::close(fd);
  Check(ok);
  if (size > static_cast<std::size_t>(SettingsFileMaxBytes)) {
    Check(result == FileReadResult::TooLarge && bytes.empty());
    return false;
  }
  Check(result == FileReadResult::Ok);
  Check(bytes == std::string_view(reinterpret_cast<const char*>(data), size));
  return true;
}

void CheckCommands(const std::vector<std::string>& commands) {
  Check(commands.size() <= static_cast<std::size_t>(SettingsLines));
  for (const std::string& c : commands) {
    Check(c.size() > 9 && c.compare(0, 8, "AT+CPBW=") == 0);
    Check(c.back() == '\r' && c[c.size() - 2] != '\r');
    Check(c.find('\n') == std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string bytes;
  if (!ReadThroughFile(data, size, bytes)) return 0;

  // Load for editing, over an image that held other texts.
  SimImage image;
  for (int cell = 0; cell < CellSlots; ++cell) {
    image.SetCellNumber(cell, std::string(TextMax, 'x'));
    image.SetCellName(cell, std::string(TextMax, 'y'));
  }
  ParseSettingsText(bytes, image);
  CheckFields(image);
  const ReferenceCells ref = ReadLineByLine(bytes);
  for (int cell = 1; cell <= SettingsLines; ++cell) {
    Check(image.CellNumber(cell) == ref.number[cell] && image.CellName(cell) == ref.name[cell]);
    Check(image.Shortened(cell) == (ref.numberCut[cell] || ref.nameCut[cell]));
  }

  // Save to file, then load that file again.
  const std::string text = EncodeSettingsText(image);
  const std::string file = EncodeSettingsFile(image);
  Check(file.size() % FileBlockBytes == 0 && file.size() > text.size());
  Check(file.size() <= static_cast<std::size_t>(SettingsFileMaxBytes));
  Check(SettingsContent(file) == text);
  SimImage again;
  ParseSettingsText(file, again);
  Check(SameCells(image, again));

  // File to SIM, of the file as given and of the saved one (whose 99 lines
  // all fit a command).
  CheckCommands(SplitLinesForSim(bytes));
  const std::vector<std::string> saved = SplitLinesForSim(file);
  CheckCommands(saved);
  Check(saved.size() == static_cast<std::size_t>(SettingsLines));
  for (int cell = 1; cell <= SettingsLines; ++cell) {
    const std::string line = EncodeSaveLine(cell, image.CellNumber(cell), image.CellName(cell));
    Check(saved[cell - 1] == "AT+CPBW=" + line.substr(0, line.size() - 1));
  }
  return 0;
}
