// Settings file bytes -> what "Load for editing" and "File to SIM" make of
// them: the file read back through ReadSettingsFile (from an in-memory file),
// parsed into an image that held other texts before, and split into
// AT+CPBW= commands. Checked: texts of at most 47 characters in cells 1..99
// only (their length carried, a byte 0 inside one included), every field
// zero behind its text, the cells equal to those of a plain
// line-by-line reading of the file, the saved form of the image loading
// back into the same image, and the file rewritten by set keeping its bytes
// or loading as the edited image.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/settings_file.h"
#include "core/sim_image.h"
#include "platform/file_access.h"
#include "ui/tool.h"

namespace {

using namespace tv;

// The target's own reference and checks steer nothing: left out of the
// coverage the fuzzer follows (and off its comparison tracing, which
// otherwise costs as much as the code under test).
#if defined(__clang__)
#define NOT_STEERING __attribute__((no_sanitize("coverage")))
#else
#define NOT_STEERING
#endif

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The cells as a reader taking one line at a time sees them: blanks dropped,
// the index from the digits before the first comma, then the first quoted
// text as the number and the next one as the name (an unclosed one runs to
// the end of the line); a later line for the same cell replaces each text it
// opens.
struct ReferenceCells {
  std::string number[CellSlots];
  std::string name[CellSlots];
};

// The file's text ends where its NUL padding begins: at a byte 0 at the start
// or right after a line end. A byte 0 inside a line is a character of a text
// (the modem's GSM '@'). The text starts behind the UTF-8 byte order mark a
// Windows editor may put first.
NOT_STEERING std::string_view TextBeforePadding(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  for (std::size_t nul = bytes.find('\0'); nul != std::string_view::npos; nul = bytes.find('\0', nul + 1))
    if (nul == 0 || bytes[nul - 1] == '\n' || bytes[nul - 1] == '\r') return bytes.substr(0, nul);
  return bytes;
}

NOT_STEERING ReferenceCells ReadLineByLine(std::string_view bytes) {
  ReferenceCells ref;
  const std::string_view content = TextBeforePadding(bytes);
  std::size_t start = 0;
  while (start <= content.size()) {
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
    for (std::string* text : {&ref.number[valid ? index : 0], &ref.name[valid ? index : 0]}) {
      const std::size_t open = line.find('"', from);
      if (open == std::string::npos) break;
      std::size_t close = line.find('"', open + 1);
      if (close == std::string::npos) close = line.size();
      if (valid) *text = line.substr(open + 1, std::min<std::size_t>(close - open - 1, TextMax));
      from = close + 1;
      if (close >= line.size()) break;
    }
  }
  return ref;
}

NOT_STEERING bool SameCells(const SimImage& a, const SimImage& b) {
  for (int cell = 0; cell < CellSlots; ++cell)
    if (std::memcmp(a.NumberField(cell), b.NumberField(cell), TextFieldBytes) != 0 ||
        std::memcmp(a.NameField(cell), b.NameField(cell), TextFieldBytes) != 0)
      return false;
  return true;
}

// Every text at most TextMax bytes long (its length carried: a byte 0 is a
// character of it), the field zero behind it; slot 0 empty and all zero.
NOT_STEERING void CheckFields(const SimImage& image) {
  for (int cell = 0; cell < CellSlots; ++cell) {
    const std::pair<const char*, std::size_t> fields[] = {{image.NumberField(cell), image.CellNumber(cell).size()},
                                                          {image.NameField(cell), image.CellName(cell).size()}};
    for (const auto& [field, length] : fields) {
      Check(length <= static_cast<std::size_t>(TextMax));
      Check(cell != 0 || length == 0);
      for (std::size_t i = length; i < static_cast<std::size_t>(TextFieldBytes); ++i) Check(field[i] == 0);
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

NOT_STEERING void CheckCommands(const std::vector<std::string>& commands) {
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

  // Load for editing, over an image that held other texts (filled once: a
  // copy is all each run needs).
  static const SimImage filled = [] {
    SimImage full;
    for (int cell = 0; cell < CellSlots; ++cell) {
      full.SetCellNumber(cell, std::string(TextMax, 'x'));
      full.SetCellName(cell, std::string(TextMax, 'y'));
    }
    return full;
  }();
  SimImage image = filled;
  ParseSettingsText(bytes, image);
  CheckFields(image);
  const ReferenceCells ref = ReadLineByLine(bytes);
  for (int cell = 1; cell <= SettingsLines; ++cell)
    Check(image.CellNumber(cell) == ref.number[cell] && image.CellName(cell) == ref.name[cell]);

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
  std::string_view lines = text;
  for (int cell = 1; cell <= SettingsLines; ++cell) {
    const std::string line = EncodeSaveLine(cell, image.CellNumber(cell), image.CellName(cell));
    Check(lines.substr(0, line.size()) == line);
    lines.remove_prefix(line.size());
    const std::string_view command = saved[cell - 1];
    Check(command.substr(0, 8) == "AT+CPBW=" && command.substr(8) == std::string_view(line).substr(0, line.size() - 1));
  }
  Check(lines.empty());

  // set: unchanged, the file comes back byte for byte; a cell changed (one
  // with a line and one that may have none), it loads as the edited image.
  Check(RewriteSettingsFile(bytes, image) == bytes);
  SimImage edited = image;
  edited.SetCellNumber(1, "555");
  edited.SetCellName(ForwardCell, "NEW");
  SimImage reloaded;
  ParseSettingsText(RewriteSettingsFile(bytes, edited), reloaded);
  Check(SameCells(edited, reloaded));
  return 0;
}
