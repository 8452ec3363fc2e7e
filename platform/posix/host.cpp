// The host on Linux: the terminal through curses, the termios serial port.
#include "platform/host.h"

#include "platform/posix/posix_serial_port.h"
#include "platform/posix/terminal_console.h"

namespace tv {

std::unique_ptr<HostConsole> MakeHostConsole() { return std::make_unique<TerminalConsole>(); }

std::unique_ptr<SerialPort> MakeHostSerialPort() { return std::make_unique<PosixSerialPort>(); }

}  // namespace tv
