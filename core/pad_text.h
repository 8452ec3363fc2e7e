// Fixed-width screen fields: texts are blank-padded so that a shorter text
// written over a longer one leaves no remains.
#pragma once

#include <string>
#include <string_view>

namespace tv {

// A field of width blanks with text placed offset columns into it; what does
// not fit is cut.
inline std::string PadText(std::string_view text, int width, int offset = 0) {
  std::string field(width > 0 ? static_cast<std::size_t>(width) : 0, ' ');
  for (std::size_t i = 0; i < text.size() && offset + static_cast<int>(i) < width; ++i)
    if (offset + static_cast<int>(i) >= 0) field[offset + i] = text[i];
  return field;
}

// The text followed by blanks up to width; a longer text is kept whole.
inline std::string PadRight(std::string_view text, int width) {
  std::string field(text);
  if (static_cast<int>(field.size()) < width)
    field.append(static_cast<std::size_t>(width) - field.size(), ' ');
  return field;
}

}  // namespace tv
