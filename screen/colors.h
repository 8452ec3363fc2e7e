// The six PC text attributes the tool draws with: bits 0-3 foreground,
// bits 4-7 background, in PC colour order (1 blue, 2 green, 4 red, 7 light grey,
// 14 yellow, 15 white).
#pragma once

#include <cstdint>

namespace tv {

inline constexpr uint8_t ColorNormal = 0x1E;    // yellow on blue
inline constexpr uint8_t ColorHintKey = 0x71;   // blue on light grey
inline constexpr uint8_t ColorPanel = 0x70;     // black on light grey
inline constexpr uint8_t ColorSelected = 0x2E;  // yellow on green
inline constexpr uint8_t ColorAlert = 0x47;     // light grey on red
inline constexpr uint8_t ColorFatal = 0x4F;     // white on red

}  // namespace tv
