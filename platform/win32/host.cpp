// The host on Windows: the Win32 console, the COM ports.
#include "platform/host.h"

#include <windows.h>

#include "platform/win32/win32_console.h"
#include "platform/win32/win32_serial_port.h"
#include "screen/cp866.h"

namespace tv {

std::unique_ptr<HostConsole> MakeHostConsole() { return std::make_unique<Win32Console>(); }

std::unique_ptr<SerialPort> MakeHostSerialPort() { return std::make_unique<Win32SerialPort>(); }

std::string ShowHelpOutside(Console& console, const Screen& screen) {
  console.RunCommand("hiew help.hlp", screen);
  return {};
}

std::string ToLocaleText(std::string_view cp866) {
  // The console's output code page; 866 on a Russian system, where the text
  // goes out as it is.
  const UINT cp = GetConsoleOutputCP();
  if (cp == 0 || cp == 866) return std::string(cp866);
  std::wstring wide;
  for (const char c : cp866) wide += static_cast<wchar_t>(Cp866ToUnicode(static_cast<uint8_t>(c)));
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(cp, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string(cp866);
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

bool ErrorOutputIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace tv
