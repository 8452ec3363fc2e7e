// The host on Linux: the terminal through curses, the termios serial port or
// a network port, the help shown in the user's pager, texts in the locale's
// encoding.
#include "platform/host.h"
#include "platform/host_devices.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "cp866/literal.h"
#include "platform/posix/routed_serial_port.h"
#include "platform/posix/terminal_console.h"

namespace tv {

namespace {

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Whether a program of that name is found on the PATH (an empty entry is
// the working directory).
bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string_view rest = path;
  for (;;) {
    const std::size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    if (dir.empty()) dir = ".";
    dir += '/';
    dir += program;
    if (IsFile(dir) && ::access(dir.c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    rest.remove_prefix(colon + 1);
  }
}

// The character encoding of the user's locale (LC_ALL, LC_CTYPE, LANG), read
// without changing the process's own locale.
std::string LocaleCodeset() {
  locale_t loc = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (!loc) return "ANSI_X3.4-1968";
  std::string codeset = ::nl_langinfo_l(CODESET, loc);
  ::freelocale(loc);
  return codeset;
}

// Single quotes for the shell.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

constexpr const char* kNoHelpFile = "Нет файла справки (help.hlp, help.txt)"_cp;
constexpr const char* kNoPager = "Нет программы просмотра: задайте PAGER или установите less"_cp;
constexpr const char* kNoTempFile = "Не удалось создать временный файл справки"_cp;
// The first line of the document in less or more: their Esc does not close
// them (in less it begins key sequences of its own), and less cannot show
// Cyrillic in its prompt row, so the document says which key does.
constexpr const char* kPagerHead = "Закрыть справку: клавиша q. Листать: стрелки, PgUp, PgDn, пробел."_cp;

// The help document for the pager: help.hlp, else help.txt, in the working
// directory, else the help.txt installed with the program.
std::string HelpDocument() {
  for (const char* name : {"help.hlp", "help.txt"})
    if (IsFile(name)) return name;
  return InstalledFile("help.txt");
}

}  // namespace

std::unique_ptr<HostConsole> MakeHostConsole() { return std::make_unique<TerminalConsole>(); }

std::unique_ptr<SerialPort> MakeHostSerialPort() { return std::make_unique<RoutedSerialPort>(); }

PortForm ClassifyPortArgument(std::string_view text) {
  // One line, read as an address file's line is: a TLS or other form the
  // network port learns is taken here as well.
  const bool oneLine = text.find_first_of("\r\n") == std::string_view::npos;
  if (oneLine && ParseAddressFile(text)) return PortForm::Network;
  if (text.find("://") != std::string_view::npos || text.rfind("telnet(", 0) == 0)
    return PortForm::BadAddress;
  // A path names a directory entry ("/dev/ttyUSB0", "./gw"); a bare word
  // is taken for a misspelt COM name, not for a file in the working directory.
  if (oneLine && text.find('/') != std::string_view::npos) return PortForm::Device;
  return PortForm::None;
}

std::string PortLine(int portIndex) {
  std::string name = PortDeviceName(portIndex);
  const std::string& target = PortTarget(portIndex);
  std::optional<NetworkAddress> address;
  std::string path;
  if (!target.empty()) {
    address = ParseAddressFile(target);
    path = target;
  } else if (IsAddressFile(portIndex)) {
    // As the network port reads it: a small text file of one address line.
    std::ifstream in("./" + name, std::ios::binary);
    std::string text(4097, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() < 4097) address = ParseAddressFile(text);
    if (!address) return name;
  } else {
    path = PosixSerialPort::PathFor(portIndex);
  }
  if (address) {
    const bool v6 = address->host.find(':') != std::string::npos;
    return "rfc2217://" + (v6 ? "[" + address->host + "]" : address->host) + ":" + address->port;
  }
  if (path.empty()) return name;
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string resolved(real);
  std::free(real);
  return resolved;
}

// The viewer "hiew" when there is one; otherwise the help document in the
// user's pager ($PAGER, else less, else more) as text of the locale, through
// a temporary file on its standard input.
std::string ShowHelpOutside(Console& console, const Screen& screen) {
  if (OnPath("hiew")) {
    console.RunCommand("hiew help.hlp", screen);
    return {};
  }
  const std::string document = HelpDocument();
  if (document.empty()) return kNoHelpFile;
  std::string pager;
  if (const char* fromUser = std::getenv("PAGER"); fromUser && *fromUser)
    pager = fromUser;
  else if (OnPath("less"))
    pager = "less";
  else if (OnPath("more"))
    pager = "more";
  else
    return kNoPager;
  std::ifstream in(document, std::ios::binary);
  std::string cp866(std::istreambuf_iterator<char>(in), {});
  if (pager == "less" || pager == "more") {
    const char* end = cp866.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    cp866 = kPagerHead + std::string(end) + end + cp866;
  }
  const std::string text = ToLocaleText(cp866);
  const char* tmpdir = std::getenv("TMPDIR");
  std::string temp = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/tarvelin-help-XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return kNoTempFile;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  console.RunCommand((pager + " < " + Quoted(temp)).c_str(), screen);
  ::unlink(temp.c_str());
  return {};
}

// share/tarvelin/<name> beside the bin directory the program runs from.
std::string InstalledFile(std::string_view name) {
  const std::string path = InstalledFileLocation(name);
  return !path.empty() && IsFile(path) ? path : std::string();
}

std::string InstalledFileLocation(std::string_view name) {
  char exe[4096];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return {};
  // /proc/self/exe is the resolved path: its directory's parent is the
  // prefix (/usr for /usr/bin/tarvelin).
  std::string prefix(exe, static_cast<std::size_t>(n));
  for (int up = 0; up < 2; ++up) prefix.erase(prefix.rfind('/') == std::string::npos ? 0 : prefix.rfind('/'));
  return prefix + "/share/tarvelin/" + std::string(name);
}

// Through iconv from CP866 to the locale's encoding; a character the
// encoding lacks becomes '?' (after iconv's transliteration).
std::string ToLocaleText(std::string_view cp866) {
  const iconv_t cd = ::iconv_open((LocaleCodeset() + "//TRANSLIT").c_str(), "CP866");
  std::string out;
  if (cd == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr): iconv_open's failure
    for (const char c : cp866) out += static_cast<uint8_t>(c) < 0x80 ? c : '?';
    return out;
  }
  std::string in(cp866);
  char* inPtr = in.data();
  std::size_t inLeft = in.size();
  char buffer[1024];
  for (bool flushed = false; !flushed;) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    // With the input used up, one more call writes what the encoding still
    // holds back.
    flushed = inLeft == 0;
    const std::size_t rc = flushed ? ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft)
                                   : ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (rc == static_cast<std::size_t>(-1) && errno != E2BIG && inLeft > 0) {
      out += '?';  // a character the locale cannot show
      ++inPtr;
      --inLeft;
    }
  }
  ::iconv_close(cd);
  return out;
}

bool ErrorOutputIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace tv
