// The machine the tool runs on, as every layer from device/ up may ask it:
// what a port name leads to, installed files, the command line's encoding.
// Each platform folder provides these (its console and serial ports: see
// platform/host_devices.h); the program is written against them only.
#pragma once

#include <string>
#include <string_view>

namespace tv {

// What a port argument of the scripted commands that is not COMn[:G] names
// on this machine: a serial device by its path, a network port by its
// address (the forms an address file holds), an address this build cannot
// use, or nothing it knows.
enum class PortForm { Device, Network, BadAddress, NoNetwork, None };
PortForm ClassifyPortArgument(std::string_view text);

// The line a port reaches, whatever name reached it (a COM name, a device
// path or an address given on the command line, an address file): the
// network address as "rfc2217://host:port" (whichever form and scheme the
// address was written in), else the device path with its links followed
// ("/dev/ttyUSB0" for a ./COM3 that links to /dev/serial/by-id/...). The
// COM name itself when it leads nowhere that can be told. Nothing is opened.
std::string PortLine(int portIndex);

// A file installed with the program (the help text "help.txt"): its path,
// or "" when this installation has none.
std::string InstalledFile(std::string_view name);
// Where the installed copy of such a file is looked for (for a message that
// names it), whether it is there or not.
std::string InstalledFileLocation(std::string_view name);

// Text for the command line (standard output and error): cp866 bytes in
// the encoding of the user's locale.
std::string ToLocaleText(std::string_view cp866);
// Whether standard error is shown on a terminal (progress goes there only
// then).
bool ErrorOutputIsTerminal();

}  // namespace tv
