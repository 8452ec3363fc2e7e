// The address forms and address files of network serial ports: the parsing
// is pure (the forms are in the header); reading ./COMn is all the file
// system it touches.
#include "platform/posix/network_address.h"

#include <arpa/inet.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "device/serial_port.h"

namespace tv {

namespace {

// An address file is a line, not a document.
constexpr std::size_t kAddressFileMax = 4096;

bool ValidHost(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' || c == ':';
  });
}

bool ValidPort(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  long n = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return n >= 1 && n <= 65535;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

// rfc2217://host:port, rfc2217://[v6]:port; rfc2217s:// the same over TLS.
std::optional<NetworkAddress> ParseUrl(std::string_view line) {
  const bool tls = StartsWithNoCase(line, "rfc2217s://");
  std::string_view rest = line.substr(std::string_view(tls ? "rfc2217s://" : "rfc2217://").size());
  std::string_view host;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') return {};
    host = rest.substr(1, close - 1);
    rest.remove_prefix(close + 2);
    if (host.find(':') == std::string_view::npos) return {};
  } else {
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos) return {};
    host = rest.substr(0, colon);
    rest.remove_prefix(colon + 1);
    if (host.find(':') != std::string_view::npos) return {};
  }
  if (!ValidHost(host) || !ValidPort(rest)) return {};
  NetworkAddress a;
  a.host = std::string(host);
  a.port = std::string(rest);
  a.text = std::string(line);
  a.tls = tls;
  return a;
}

// A file named for TLS: a path, never empty, nothing the library's own
// option syntax would read as more than a path.
bool ValidFileName(std::string_view name) {
  return !name.empty() && name.size() <= 1024 && std::none_of(name.begin(), name.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ',' || c == '(' || c == ')' ||
           c == '"' || c == '\'' || c == '\\';
  });
}

// A user name for the certificate login: what ser2net takes as a directory
// name under its authdir.
bool ValidUserName(std::string_view name) {
  return !name.empty() && name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' || c == '@';
  });
}

// One "ca=", "cert=", "key=" (the library's "CA=" too) or "user=" into the
// address; false for another name, an unusable value or a name given twice.
// user= only on a line of its own (fileLine).
bool TakeFileOption(std::string_view option, NetworkAddress& a, bool fileLine) {
  const std::size_t eq = option.find('=');
  if (eq == std::string_view::npos) return false;
  std::string name(Trim(option.substr(0, eq)));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string_view value = Trim(option.substr(eq + 1));
  if (name == "user" && fileLine) {
    if (!a.user.empty() || !ValidUserName(value)) return false;
    a.user = std::string(value);
    return true;
  }
  std::string* slot = name == "ca" ? &a.ca : name == "cert" ? &a.cert : name == "key" ? &a.key : nullptr;
  if (!slot || !slot->empty() || !ValidFileName(value)) return false;
  *slot = std::string(value);
  return true;
}

// Whether a line of the address file names a TLS file (or the user of the
// certificate login) rather than an address.
bool IsFileOptionLine(std::string_view line) {
  const std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  std::string name(Trim(line.substr(0, eq)));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name == "ca" || name == "cert" || name == "key" || name == "user";
}

// telnet(rfc2217),tcp,host,port and telnet(rfc2217),ssl[(CA=..,cert=..,
// key=..)],tcp,host,port: the library's own forms. Only these: the library
// opens much else from a string (a program's standard input and output
// among them), and a file in the working directory is no place to choose
// that.
std::optional<NetworkAddress> ParseLibraryForm(std::string_view line) {
  static constexpr std::string_view kTelnet = "telnet(rfc2217),";
  std::string_view rest = line.substr(kTelnet.size());
  NetworkAddress a;
  if (rest.rfind("ssl,", 0) == 0) {
    a.tls = true;
    rest.remove_prefix(4);
  } else if (rest.rfind("ssl(", 0) == 0) {
    a.tls = true;
    const std::size_t close = rest.find(')');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ',') return {};
    std::string_view options = rest.substr(4, close - 4);
    rest.remove_prefix(close + 2);
    while (!options.empty()) {
      const std::size_t comma = options.find(',');
      if (!TakeFileOption(options.substr(0, comma), a, false)) return {};
      options.remove_prefix(comma == std::string_view::npos ? options.size() : comma + 1);
    }
  }
  if (rest.rfind("tcp,", 0) != 0) return {};
  rest.remove_prefix(4);
  const std::size_t comma = rest.rfind(',');
  if (comma == std::string_view::npos) return {};
  const std::string_view host = rest.substr(0, comma);
  const std::string_view port = rest.substr(comma + 1);
  if (!ValidHost(host) || !ValidPort(port)) return {};
  a.host = std::string(host);
  a.port = std::string(port);
  a.text = std::string(line);
  return a;
}

}  // namespace

std::optional<NetworkAddress> ParseAddressFile(std::string_view text) {
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a BOM
  std::optional<std::string_view> only;
  std::vector<std::string_view> fileLines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (IsFileOptionLine(line)) {
      fileLines.push_back(line);
      continue;
    }
    if (only) return {};  // more than one address
    only = line;
  }
  if (!only) return {};
  std::optional<NetworkAddress> a;
  if (SchemeLength(*only) != 0)
    a = ParseUrl(*only);
  else if (only->rfind("telnet(rfc2217),", 0) == 0)
    a = ParseLibraryForm(*only);
  if (!a) return {};
  // Files for TLS beside a plain address: the operator meant TLS, and a
  // clear-text connection is not what the file asks for.
  if (!fileLines.empty() && !a->tls) return {};
  for (std::string_view line : fileLines)
    if (!TakeFileOption(line, *a, true)) return {};
  if (!a->cert.empty() && a->key.empty()) return {};  // a certificate is no use without its key
  if (!a->user.empty() && a->key.empty()) return {};   // the login is by the certificate
  return a;
}

bool IsLoopbackHost(std::string_view host) {
  std::string lower(host);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "localhost" || lower == "::1" || lower == "0:0:0:0:0:0:0:1") return true;
  in_addr v4{};
  return inet_pton(AF_INET, lower.c_str(), &v4) == 1 && (ntohl(v4.s_addr) >> 24) == 127;
}

bool IsAddressFile(int portIndex) {
  if (portIndex < 0 || portIndex >= PortCount) return false;
  struct stat st {};
  return stat(AddressFilePath(portIndex).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string AddressFilePath(int portIndex) { return "./" + PortDeviceName(portIndex); }

std::size_t SchemeLength(std::string_view text) {
  for (std::string_view scheme : {"rfc2217://", "rfc2217s://"})
    if (StartsWithNoCase(text, scheme)) return scheme.size();
  return 0;
}

std::optional<std::string> ReadAddressFile(int portIndex) {
  return ReadSmallFile(AddressFilePath(portIndex), kAddressFileMax);
}

std::string AddressFileDir(int portIndex) {
  char* real = realpath(AddressFilePath(portIndex).c_str(), nullptr);
  if (!real) return {};
  std::string path(real);
  free(real);
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(max + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > max) return {};
  return text;
}

}  // namespace tv
