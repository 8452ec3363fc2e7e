// The device connection dialog (File menu, first item): choose the port and
// the gateway, open and address it, check the SIM signature (offering to
// initialise a blank SIM) and read the whole phonebook into the image.
#pragma once

namespace tv {

struct Tool;

void ConnectToDevice(Tool& tool);
// Writes the default contents into cells 1..99, with its progress panel.
// Cells the SIM did not take are reported before the panel closes. False
// when the device was lost on the way (reported with how many were written).
bool InitialiseSim(Tool& tool);

}  // namespace tv
