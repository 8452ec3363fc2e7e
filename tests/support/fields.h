// A fixed-width screen field as the forms write it: the text, blank-padded
// (or cut) to the width.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tv::test {

inline std::string Field(std::string_view text, std::size_t width) {
  std::string s(text);
  s.resize(width, ' ');
  return s;
}

}  // namespace tv::test
