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

// One UTF-8 sequence at s: its code point and length, or length 0 when the
// bytes there are not UTF-8.
char32_t DecodeUtf8(std::string_view s, std::size_t& length) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  length = 0;
  int extra = 0;
  char32_t cp = 0;
  if (b0 < 0x80) {
    length = 1;
    return b0;
  } else if ((b0 & 0xE0) == 0xC0 && b0 >= 0xC2) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0 && b0 <= 0xF4) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() < static_cast<std::size_t>(extra) + 1) return 0;
  for (int i = 1; i <= extra; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  length = static_cast<std::size_t>(extra) + 1;
  return cp;
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

std::string DisplayFileName(std::string_view name, int width) {
  std::string shown;
  if (width <= 0) return shown;
  int count = 0;
  std::size_t i = 0;
  while (i < name.size()) {
    std::size_t length = 0;
    const char32_t cp = DecodeUtf8(name.substr(i), length);
    char c;
    if (length == 0) {
      // Not UTF-8: a name written by a DOS system in cp866, shown as it is.
      const auto b = static_cast<unsigned char>(name[i]);
      c = b >= 0x80 ? static_cast<char>(b) : '?';
      length = 1;
    } else if (cp < 0x20 || cp == 0x7F) {
      c = '?';
    } else {
      const int b = UnicodeToCp866(cp);
      c = b < 0 ? '?' : static_cast<char>(b);
    }
    i += length;
    shown += c;
    ++count;
  }
  // Too long: the head, '~' and the end (one screen byte per character).
  if (count > width) {
    const int head = (width - 1) / 3;
    const int tail = width - 1 - head;
    shown = shown.substr(0, static_cast<std::size_t>(head)) + "~" + shown.substr(shown.size() - static_cast<std::size_t>(tail));
    if (width == 1) shown = "~";
  }
  return shown;
}

}  // namespace tv
