// The four File menu transfers between the SIM, a settings file and the image.
#pragma once

namespace tv {

struct Tool;

void SimToFile(Tool& tool);
void FileToSim(Tool& tool);
void LoadForEditing(Tool& tool);
void SaveToFile(Tool& tool);

}  // namespace tv
