// The machine the tool runs on: its console and its serial ports. Each
// platform folder provides these; the program itself is written against the
// interfaces only.
#pragma once

#include <memory>

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

}  // namespace tv
