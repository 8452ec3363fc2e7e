// Arbitrary "+CPBR:" lines (of any length, zero bytes included) ->
// ParseCpbrLine: the texts come from the line, the index only from its
// beginning. The first byte is skipped (it once chose the cell).
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "device/cell_transfer.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// A text of the line: empty, or a run of it without double quotes.
bool FromLine(std::string_view line, const std::string& text) {
  return text.find('"') == std::string::npos && (text.empty() || line.find(text) != std::string_view::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace tv;
  if (size < 1) return 0;
  const std::string_view line(reinterpret_cast<const char*>(data) + 1, size - 1);

  const CpbrTexts texts = ParseCpbrLine(line);
  Check(FromLine(line, texts.number) && FromLine(line, texts.name));
  Check(line.find('"') != std::string_view::npos || (texts.number.empty() && texts.name.empty()));

  // The index is the number right after "+CPBR:" (blanks allowed before
  // it) when a comma follows it; anything else is unreadable.
  if (texts.index >= 0) {
    Check(line.substr(0, 6) == "+CPBR:");
    std::size_t i = 6;
    while (line[i] == ' ') ++i;
    Check(std::to_string(texts.index) == line.substr(i, line.find(',', i) - i) || line[i] == '0');
  }
  if (texts.complete) Check(line.find('"') != std::string_view::npos);
  return 0;
}
