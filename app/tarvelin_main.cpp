// The program: the console, the serial port and the clock of this machine
// around the one Tool, and the main loop; with arguments, the scripted
// commands on the same Tool without the screen.
#include <iostream>

#include "app/command_line.h"
#include "app/main_loop.h"
#include "device/clock.h"
#include "device/exchange_trace.h"
#include "platform/host.h"
#include "ui/tool.h"

int main(int argc, char** argv) {
  const std::unique_ptr<tv::HostConsole> console = tv::MakeHostConsole();
  tv::Screen screen(console.get());
  tv::SystemClock clock;
  const std::unique_ptr<tv::SerialPort> port = tv::TraceExchangeIfAsked(tv::MakeHostSerialPort(), std::cerr);
  tv::Tool tool(screen, clock, *port);
  tool.TakeExchangeSettings();
  if (argc > 1) return tv::RunCommandLine(tool, std::vector<std::string>(argv + 1, argv + argc));
  console->Start(screen);
  const int status = tv::RunTarvelin(tool, tv::HelpFilePath().c_str());
  console->Stop();
  return status;
}
