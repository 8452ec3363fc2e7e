// Screen texts are written in the sources as UTF-8 and converted to cp866 at
// compile time: "Файл"_cp is a zero-terminated cp866 string, one byte a
// character, so widths and positions count bytes. A character that cp866
// lacks stops the build.
#pragma once

#include <cstddef>

#include "cp866/code_page.h"

namespace tv {

template <std::size_t N>
struct Utf8Literal {
  char bytes[N] = {};
  consteval Utf8Literal(const char (&s)[N]) {  // NOLINT: implicit by design
    for (std::size_t i = 0; i < N; ++i) bytes[i] = s[i];
  }
};

template <std::size_t N>
struct Cp866Text {
  char text[N] = {};
  std::size_t length = 0;
};

namespace detail {
template <std::size_t N>
consteval Cp866Text<N> ToCp866(const Utf8Literal<N>& in) {
  Cp866Text<N> out;
  std::size_t i = 0;
  while (i + 1 < N && in.bytes[i] != 0) {
    const auto b0 = static_cast<unsigned char>(in.bytes[i]);
    char32_t u = 0;
    int extra = 0;
    if (b0 < 0x80) {
      u = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      u = b0 & 0x1F;
      extra = 1;
    } else if ((b0 & 0xF0) == 0xE0) {
      u = b0 & 0x0F;
      extra = 2;
    } else {
      throw "UTF-8 sequence that cp866 cannot hold";
    }
    for (int k = 1; k <= extra; ++k) u = (u << 6) | (static_cast<unsigned char>(in.bytes[i + k]) & 0x3F);
    i += 1 + extra;
    const int c = UnicodeToCp866(u);
    if (c < 0) throw "character not in cp866";
    out.text[out.length++] = static_cast<char>(c);
  }
  return out;
}
template <Utf8Literal S>
inline constexpr Cp866Text<sizeof(S.bytes)> kCp866 = ToCp866(S);
}  // namespace detail

namespace literals {
template <Utf8Literal S>
consteval const char* operator""_cp() {
  return detail::kCp866<S>.text;
}
}  // namespace literals

}  // namespace tv

using namespace tv::literals;  // NOLINT: the suffix is used in every screen file
