// The program: the terminal, the serial port and the clock of this machine
// around the one Tool, and the main loop.
#include "app/main_loop.h"
#include "device/clock.h"
#include "platform/posix/posix_serial_port.h"
#include "platform/posix/terminal_console.h"
#include "ui/tool.h"

int main() {
  tv::TerminalConsole console;
  tv::Screen screen(&console);
  tv::SystemClock clock;
  tv::PosixSerialPort port;
  tv::Tool tool(screen, clock, port);
  console.Start(screen);
  const int status = tv::RunTarvelin(tool);
  console.Stop();
  return status;
}
