// The program: the serial port and the clock of this machine in the one
// gateway session; with arguments, the scripted commands on it, else the
// console, the screen and the main loop around it.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "app/command_line.h"
#include "app/main_loop.h"
#include "cp866/literal.h"
#include "device/clock.h"
#include "device/exchange_trace.h"
#include "gateway/session.h"
#include "platform/file_access.h"
#include "platform/host.h"
#include "platform/host_devices.h"
#include "ui/tool.h"

int main(int argc, char** argv) {
  const std::unique_ptr<tv::HostConsole> console = tv::MakeHostConsole();
  tv::SystemClock clock;
  // The trace holds a gateway's whole configuration: its owner's to read.
  if (const char* trace = std::getenv("TARVELIN_TRACE"); trace && *trace) tv::KeepToOwner(trace);
  const std::unique_ptr<tv::SerialPort> port = tv::TraceExchangeIfAsked(tv::MakeHostSerialPort(), std::cerr);
  tv::GatewaySession gateway(clock, *port);
  gateway.TakeExchangeSettings();
  if (argc > 1) return tv::RunCommandLine(gateway, std::vector<std::string>(argv + 1, argv + argc));
  tv::Screen screen(console.get());
  tv::Tool tool(screen, gateway);
  console->Start(screen);
  const std::string helpPath = tv::HelpFilePath();
  const int status = tv::RunTarvelin(tool, helpPath.c_str());
  console->Stop();
  // The box said only that the help file could not be opened: where it was
  // looked for is said once the terminal is given back.
  if (status == 1) {
    std::error_code ec;
    const std::string here = (std::filesystem::current_path(ec) / "help.txt").string();
    std::string text = tv::ToLocaleText("tarvelin: не удалось открыть файл помощи help.txt; искали:"_cp) + "\n  " + here;
    if (const std::string installed = tv::InstalledFileLocation("help.txt"); !installed.empty())
      text += "\n  " + installed;
    std::cerr << text << std::endl;
  }
  return status;
}
