// The program: the console, the serial port and the clock of this machine
// around the one Tool, and the main loop.
#include "app/main_loop.h"
#include "device/clock.h"
#include "platform/host.h"
#include "ui/tool.h"

int main() {
  const std::unique_ptr<tv::HostConsole> console = tv::MakeHostConsole();
  tv::Screen screen(console.get());
  tv::SystemClock clock;
  const std::unique_ptr<tv::SerialPort> port = tv::MakeHostSerialPort();
  tv::Tool tool(screen, clock, *port);
  console->Start(screen);
  const int status = tv::RunTarvelin(tool);
  console->Stop();
  return status;
}
