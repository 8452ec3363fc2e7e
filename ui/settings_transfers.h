// The four File menu transfers between the SIM, a settings file and the image.
#pragma once

#include "platform/file_access.h"

namespace tv {

struct Tool;

void SimToFile(Tool& tool);
void FileToSim(Tool& tool);
void LoadForEditing(Tool& tool);
void SaveToFile(Tool& tool);

// Before something replaces the image (a connection, another file, the end
// of the program): when a loaded file was changed and not saved, asks
// whether to go on without saving. True to go on.
bool ConfirmDiscardUnsavedEdits(Tool& tool);


}  // namespace tv
