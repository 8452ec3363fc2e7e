// The status area at the right of row 1: the port, speed and gateway the
// lines select while connected, else the loaded settings file. The main
// screen shows it on its menu bar, and every full-screen form on its own
// first row, which the forms' layouts leave free, so that with four
// gateways on one port the operator never has to remember which one a form
// is working on.
#pragma once

#include <cstdint>
#include <string>

namespace tv {

struct Tool;

// Columns 59..80 of row 1, blanked first, in attr.
void DrawStatusArea(Tool& tool, uint8_t attr);

// "COM2 ШЛЮЗ 4" while connected, "Файл: gw1.set" with a loaded file, else
// empty (cp866).
std::string WorkedOn(const Tool& tool, int nameWidth);

}  // namespace tv
