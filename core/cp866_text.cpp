// cp866 and UTF-8 at run time.
#include "core/cp866_text.h"

#include <cstdint>

#include "cp866/code_page.h"

namespace tv {

namespace {

void AppendUtf8(std::string& out, char32_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

// The length of the UTF-8 sequence at the start of text, 0 when none begins
// there (a stray continuation byte, a cut or overlong sequence).
std::size_t SequenceAt(std::string_view text) {
  const auto b = static_cast<uint8_t>(text[0]);
  const std::size_t length = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || length > text.size() || (length == 2 && b < 0xC2)) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((static_cast<uint8_t>(text[k]) & 0xC0) != 0x80) return 0;
  return length;
}

}  // namespace

std::string Utf8FromCp866(std::string_view cp866) {
  std::string out;
  out.reserve(cp866.size());
  for (const char c : cp866) {
    const auto b = static_cast<uint8_t>(c);
    AppendUtf8(out, b < 0x80 ? b : Cp866High[b - 0x80]);
  }
  return out;
}

bool IsUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = SequenceAt(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

std::string ValidUtf8(std::string_view text, std::string_view replacement) {
  std::string out;
  while (!text.empty()) {
    const std::size_t length = SequenceAt(text);
    if (length == 0) {
      out += replacement;
      text.remove_prefix(1);
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

}  // namespace tv
