// Fields that show a SIM cell's text at a form's current field and edit it in
// place: Enter stores the text into the image and writes the cell to the
// device at once (nothing is sent while a settings file is loaded); Esc
// leaves the cell as it was.
#pragma once

#include <cstdint>

namespace tv {

struct Tool;
struct FormGrid;

inline constexpr int NameFieldWidth = 32;
inline constexpr int NameTextLongest = 16;

void ShowNumberField(Tool& tool, const FormGrid& grid, int cell, int width, uint8_t attr);
void EditNumberField(Tool& tool, FormGrid& grid, int cell, int width);
void ShowNameField(Tool& tool, const FormGrid& grid, int cell, uint8_t attr);
void EditNameField(Tool& tool, FormGrid& grid, int cell);

}  // namespace tv
