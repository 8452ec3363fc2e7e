// The machine the tool runs on: its console and its serial ports. Each
// platform folder provides these; the program itself is written against the
// interfaces only.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "device/serial_port.h"
#include "screen/console.h"

namespace tv {

class Screen;

// The console the screen is shown on, taken for the whole run.
class HostConsole : public Console {
 public:
  // Takes the console: modes, code page or locale, colours, and whatever the
  // platform needs to give it back if the tool is ended from outside.
  virtual void Start(const Screen& screen) = 0;
  // Clears the console and gives it back as it was.
  virtual void Stop() = 0;
};

std::unique_ptr<HostConsole> MakeHostConsole();

// The serial port that the COM names of the dialog open on this machine.
std::unique_ptr<SerialPort> MakeHostSerialPort();

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

// The help item of the menu: shows the help to the operator outside the
// screen (an external viewer) and comes back to the screen as it was.
// Returns "" when something was shown, else a one-line cp866 message for
// the panel that says why nothing was.
std::string ShowHelpOutside(Console& console, const Screen& screen);

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
