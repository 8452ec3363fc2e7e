// Fields that show a SIM cell's text at a form's current field and edit it in
// place: Enter stores the text into the image and writes the cell to the
// device at once (nothing is sent while a settings file is loaded); Esc
// leaves the cell as it was.
#pragma once

#include <cstdint>
#include <string>

#include "core/settings_model.h"
#include "core/sim_image.h"

namespace tv {

struct Tool;
struct FormGrid;

inline constexpr int NameFieldWidth = 32;
inline constexpr int NameTextLongest = ContactNameLongest;

void ShowNumberField(Tool& tool, const FormGrid& grid, int cell, int width, uint8_t attr);
void EditNumberField(Tool& tool, FormGrid& grid, int cell, int width);
void ShowNameField(Tool& tool, const FormGrid& grid, int cell, uint8_t attr);
void EditNameField(Tool& tool, FormGrid& grid, int cell);

// Writes a cell the operator changed (the cell before the change given).
// When the SIM did not take it, the operator is told and the cell shows what
// the SIM holds (read anew; the old texts when the device did not answer,
// which is then taken as gone). A text the SIM holds longer than the cell
// is written shortened only when the operator agrees. True when written
// (always while a settings file is loaded).
bool CommitCell(Tool& tool, int cell, const SimImage::CellState& before);

}  // namespace tv
