#include "image/settings_transfers.h"
namespace tv {
void SimToFile(Tool&) {}
void FileToSim(Tool&) {}
void LoadForEditing(Tool&) {}
void SaveToFile(Tool&) {}
}  // namespace tv
