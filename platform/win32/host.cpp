// The host on Windows: the Win32 console, the COM ports.
#include "platform/host.h"
#include "platform/host_devices.h"

#include <windows.h>

#include "cp866/code_page.h"
#include "platform/win32/win32_console.h"
#include "platform/win32/win32_serial_port.h"
#include "platform/win32/win32_text.h"

namespace tv {

namespace {

// A path in the ANSI code page, as the C runtime's fopen takes it; false
// when the code page lacks one of its characters.
bool AnsiPath(const std::wstring& wide, std::string& out) {
  const int size = static_cast<int>(wide.size());
  BOOL lossy = FALSE;
  const int n =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, nullptr, &lossy);
  if (n <= 0 || lossy) return false;
  out.assign(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, out.data(), n, nullptr, nullptr);
  return true;
}

}  // namespace

std::unique_ptr<HostConsole> MakeHostConsole() { return std::make_unique<Win32Console>(); }

std::unique_ptr<SerialPort> MakeHostSerialPort() { return std::make_unique<Win32SerialPort>(); }

PortForm ClassifyPortArgument(std::string_view text) {
  // The network port exists on Linux only.
  if (text.find("://") != std::string_view::npos || text.rfind("telnet(", 0) == 0) return PortForm::NoNetwork;
  return Win32DevicePath(text).empty() ? PortForm::None : PortForm::Device;
}

std::string PortLine(int portIndex) {
  std::string path = Win32PortPath(portIndex);
  if (path.empty()) return PortDeviceName(portIndex);
  // Device names are not case-sensitive: \\.\com20 is \\.\COM20.
  for (char& c : path)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return path;
}

std::string ShowHelpOutside(Console& console, const Screen& screen) {
  console.RunCommand("hiew help.hlp", screen);
  return {};
}

namespace {
// The name in the folder of tarvelin.exe; empty when that is not known.
std::wstring BesideProgram(std::string_view name) {
  std::wstring path(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (n == 0 || n >= path.size()) return {};
  path.resize(n);
  path.erase(path.find_last_of(L"\\/") + 1);
  return path + WideFromName(name);
}
}  // namespace

// The file beside tarvelin.exe (the zip unpacks help.txt there). The help
// text is opened with fopen: the path comes in the ANSI code page, or by its
// short name where a folder's name has characters that code page lacks.
std::string InstalledFile(std::string_view name) {
  const std::wstring path = BesideProgram(name);
  if (path.empty()) return {};
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
  std::string ansi;
  if (AnsiPath(path, ansi)) return ansi;
  std::wstring shortPath(32768, L'\0');
  const DWORD m = GetShortPathNameW(path.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
  if (m == 0 || m >= shortPath.size()) return {};
  shortPath.resize(m);
  return AnsiPath(shortPath, ansi) ? ansi : std::string();
}

std::string InstalledFileLocation(std::string_view name) {
  const std::wstring path = BesideProgram(name);
  if (path.empty()) return {};
  std::string ansi;
  return AnsiPath(path, ansi) ? ansi : std::string();
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
