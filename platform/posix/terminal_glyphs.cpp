// The narrow glyphs of cp866 bytes and the locale's own encoding of them,
// for terminals whose locale is not UTF-8.
#include "platform/posix/terminal_glyphs.h"

#include <climits>
#include <cstddef>
#include <cwchar>

#include "cp866/code_page.h"

namespace tv {

namespace {

// One Latin letter per Cyrillic letter, for terminals whose locale cannot
// show Cyrillic: widths stay byte for byte, and "Файл" reads "Fajl".
constexpr char kTranslitUpper[33] = "ABVGDEZZIJKLMNOPRSTUFHCCSS'Y'EUA";

}  // namespace

chtype NarrowGlyph(uint8_t b) {
  if (b >= 0x20 && b < 0x7F) return b;
  const char32_t u = Cp866ToUnicode(b);
  switch (u) {
    case 0x2500:
    case 0x2550: return ACS_HLINE;
    case 0x2502:
    case 0x2551: return ACS_VLINE;
    case 0x250C:
    case 0x2554:
    case 0x2552:
    case 0x2553: return ACS_ULCORNER;
    case 0x2510:
    case 0x2557:
    case 0x2555:
    case 0x2556: return ACS_URCORNER;
    case 0x2514:
    case 0x255A:
    case 0x2558:
    case 0x2559: return ACS_LLCORNER;
    case 0x2518:
    case 0x255D:
    case 0x255B:
    case 0x255C: return ACS_LRCORNER;
    case 0x251C:
    case 0x2560:
    case 0x255E:
    case 0x255F: return ACS_LTEE;
    case 0x2524:
    case 0x2563:
    case 0x2561:
    case 0x2562: return ACS_RTEE;
    case 0x252C:
    case 0x2566:
    case 0x2564:
    case 0x2565: return ACS_TTEE;
    case 0x2534:
    case 0x2569:
    case 0x2567:
    case 0x2568: return ACS_BTEE;
    case 0x253C:
    case 0x256C:
    case 0x256A:
    case 0x256B: return ACS_PLUS;
    case 0x2591:
    case 0x2592:
    case 0x2593: return ACS_CKBOARD;
    case 0x2588:
    case 0x2584:
    case 0x258C:
    case 0x2590:
    case 0x2580:
    case 0x25A0: return ACS_BLOCK;
    case 0x00B0: return ACS_DEGREE;
    case 0x00B7:
    case 0x2219:
    case 0x2022: return ACS_BULLET;
    case 0x00A0:
    case 0x0020: return ' ';
    default: break;
  }
  if (u >= 0x0410 && u <= 0x044F) {
    const char c = kTranslitUpper[(u - 0x0410) % 32];
    return static_cast<unsigned char>(u >= 0x0430 && c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  if (u == 0x0401) return 'E';
  if (u == 0x0451) return 'e';
  return '?';
}

// KOI8-R puts the degree sign, the bullets, the root sign and the no-break
// space at 0x95..0x9E, which a terminal in 8-bit mode reads as C1 controls
// (0x9E begins a privacy message, swallowed up to the next string
// terminator): those count as not encodable and are drawn as the narrow
// glyphs instead.
bool LocaleHas(char32_t u) {
  char buf[MB_LEN_MAX];
  std::mbstate_t st{};
  const std::size_t n = std::wcrtomb(buf, static_cast<wchar_t>(u), &st);
  if (n == static_cast<std::size_t>(-1)) return false;
  const auto b = static_cast<unsigned char>(buf[0]);
  return !(n == 1 && (b < 0x20 || (b >= 0x80 && b < 0xA0)));
}

}  // namespace tv
