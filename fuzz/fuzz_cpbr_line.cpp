// Arbitrary "+CPBR:" lines (of any length, unlike the framed reply lines of
// fuzz_reply_lines) -> ParseCpbrLine, and, for lines that fit the reply line,
// ParseCellReply into the image and the raw reply. The first byte chooses the
// cell (1..99); the rest is the line.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "device/cell_transfer.h"
#include "fuzz/fuzz_support.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// A text of the line: empty, or a run of it without double quotes.
bool FromLine(std::string_view line, const std::string& text) {
  return text.size() <= static_cast<std::size_t>(tv::TextMax) && text.find('"') == std::string::npos &&
         (text.empty() || line.find(text) != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace tv;
  if (size < 1) return 0;
  const int cell = 1 + data[0] % 99;
  const std::string_view line(reinterpret_cast<const char*>(data) + 1, size - 1);

  const CpbrTexts texts = ParseCpbrLine(line);
  Check(FromLine(line, texts.number) && FromLine(line, texts.name));
  Check(line.find('"') != std::string_view::npos || (texts.number.empty() && texts.name.empty()));

  if (line.size() >= static_cast<std::size_t>(ReplyLineBytes) || line.find('\0') != std::string_view::npos)
    return 0;
  fuzz::BytesPort port(nullptr, 0);
  ManualClock clock;
  Screen screen;
  Tool tool(screen, clock, port);
  std::memset(tool.at.raw, 'r', RawReplyBytes);
  std::memcpy(tool.at.reply, line.data(), line.size());
  ParseCellReply(tool, cell);
  Check(tool.image.CellNumber(cell) == texts.number && tool.image.CellName(cell) == texts.name);
  for (int other = 0; other < CellSlots; ++other)
    Check(other == cell || (tool.image.CellNumber(other).empty() && tool.image.CellName(other).empty()));
  // Everything after "+CPBR:" and CR LF, zero-filled behind.
  const std::string_view rest = line.size() > 6 ? line.substr(6) : std::string_view{};
  Check(std::string_view(tool.at.raw, rest.size() + 2) == std::string(rest) + "\r\n");
  for (std::size_t i = rest.size() + 2; i < static_cast<std::size_t>(RawReplyBytes); ++i)
    Check(tool.at.raw[i] == 0);
  return 0;
}
