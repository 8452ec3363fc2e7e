// The host on Linux: the terminal through curses, the termios serial port.
#include "platform/host.h"

#include <unistd.h>

#include "platform/posix/posix_serial_port.h"
#include "platform/posix/terminal_console.h"

namespace tv {

std::unique_ptr<HostConsole> MakeHostConsole() { return std::make_unique<TerminalConsole>(); }

std::unique_ptr<SerialPort> MakeHostSerialPort() { return std::make_unique<PosixSerialPort>(); }

std::string ShowHelpOutside(Console& console, const Screen& screen) {
  console.RunCommand("hiew help.hlp", screen);
  return {};
}

std::string ToLocaleText(std::string_view cp866) { return std::string(cp866); }

bool ErrorOutputIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace tv
