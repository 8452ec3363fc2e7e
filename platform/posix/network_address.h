// The address of a network serial port, and the address files that hold
// one: ./COMn in the working directory is a regular text file (or a link to
// one) holding one address line, in either form
//     rfc2217://gw-site7.example:4001
//     telnet(rfc2217),tcp,gw-site7.example,4001
// or, encrypted and with the server's certificate checked (TLS),
//     rfc2217s://gw-site7.example:4001
//     telnet(rfc2217),ssl,tcp,gw-site7.example,4001
//     telnet(rfc2217),ssl(CA=site7-ca.pem,cert=op.crt,key=op.key),tcp,gw-site7.example,4001
// and with a TLS address, optional lines naming the files it uses:
//     ca=site7-ca.pem      the CA the server's certificate must be signed by
//                          (without it: the system's CA store)
//     cert=operator.crt    the client's certificate, for a server that asks
//     key=operator.key     for one, and its key (readable by its owner only)
//     user=operator        log in with that certificate as this user, for a
//                          server with the certificate login over TLS
//                          (ser2net's certauth) instead of TLS client
//                          certificates
// Relative paths are taken from the address file's own directory (where a
// link to it points). Blank lines and lines beginning with '#' are passed
// over.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tv {

struct NetworkAddress {
  std::string host;  // a name, an IPv4 address or an IPv6 address (no brackets)
  std::string port;  // 1..65535, digits
  std::string text;  // the line as the operator wrote it
  bool tls = false;
  std::string ca, cert, key;  // TLS files as written ("" when not given)
  std::string user;           // the certificate login's user ("": TLS shows the certificate)
  std::string baseDir;        // where relative file names are taken from ("": the working directory)
};

// The address an address file holds, or nullopt when its text is not one
// address line of the forms above.
std::optional<NetworkAddress> ParseAddressFile(std::string_view fileText);

// How long the scheme the address text begins with is ("rfc2217://",
// "RFC2217S://"), 0 for the library's form.
std::size_t SchemeLength(std::string_view text);

// Whether the host is a loopback address ("localhost", 127.x.x.x, ::1): a
// plain connection there does not leave the machine.
bool IsLoopbackHost(std::string_view host);

// ./COMn, as the device row names it.
std::string AddressFilePath(int portIndex);

// Whether ./COMn (or what it links to) is a regular file: then COMn is a
// network port.
bool IsAddressFile(int portIndex);

// The address file's text, or nullopt when it cannot be read or is too long
// for an address file.
std::optional<std::string> ReadAddressFile(int portIndex);

// The directory of the address file itself (where a link to it points):
// the TLS files it names are taken from there.
std::string AddressFileDir(int portIndex);

// A file's text, up to `max` bytes; nullopt when it cannot be read or is
// longer. (The address file, and the TLS files it names.)
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max);

}  // namespace tv
