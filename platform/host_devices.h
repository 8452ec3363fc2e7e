// The console and the serial port of the machine the tool runs on, made
// once by the program's start-up (app/*_main.cpp) and handed to the layers
// as the interfaces they use (screen/console.h, device/serial_port.h). Each
// platform folder provides these.
#pragma once

#include <memory>
#include <string>

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

// The help item of the menu: shows the help to the operator outside the
// screen (an external viewer) and comes back to the screen as it was.
// Returns "" when something was shown, else a one-line cp866 message for
// the panel that says why nothing was.
std::string ShowHelpOutside(Console& console, const Screen& screen);

}  // namespace tv
