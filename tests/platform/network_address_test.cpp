// The address forms of a network port, as an address file holds them: what
// is taken (host, port, TLS and its files) and what is no address at all,
// the scheme the device row may leave out, and which hosts are loopback.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/posix/network_address.h"

namespace tv {
namespace {

TEST(NetworkAddressFile, TheFormsItTakes) {
  struct Case {
    const char* text;
    const char* host;  // nullptr: not an address
    const char* port;
  };
  const Case cases[] = {
      {"rfc2217://gw-site7.example:4001", "gw-site7.example", "4001"},
      {"rfc2217://gw-site7.example:4001\n", "gw-site7.example", "4001"},
      {"\xEF\xBB\xBF# rack 7, top\r\n\r\n  RFC2217://192.0.2.7:4001  \r\n", "192.0.2.7", "4001"},
      {"rfc2217://[2001:db8::7]:4001", "2001:db8::7", "4001"},
      {"telnet(rfc2217),tcp,gw-site7.example,4001", "gw-site7.example", "4001"},
      {"telnet(rfc2217),tcp,::1,4001", "::1", "4001"},
      {"rfc2217://host:65535", "host", "65535"},
      // Not addresses.
      {"", nullptr, nullptr},
      {"# only a comment\n", nullptr, nullptr},
      {"rfc2217://host", nullptr, nullptr},
      {"rfc2217://host:", nullptr, nullptr},
      {"rfc2217://host:0", nullptr, nullptr},
      {"rfc2217://host:65536", nullptr, nullptr},
      {"rfc2217://host:40x1", nullptr, nullptr},
      {"rfc2217://2001:db8::7:4001", nullptr, nullptr},  // a bare IPv6 address: brackets needed
      {"rfc2217://ho st:4001", nullptr, nullptr},
      {"rfc2217://host:4001\nrfc2217://other:4001", nullptr, nullptr},
      {"host:4001", nullptr, nullptr},
      {"/tmp/gateway-line", nullptr, nullptr},  // a path, not an address
      // The library's other forms open programs and files: never taken.
      {"stdio,sh -c reboot", nullptr, nullptr},
      {"telnet(rfc2217),stdio,sh", nullptr, nullptr},
      {"telnet(rfc2217),tcp,host,4001,stdio", nullptr, nullptr},
      {"telnet,tcp,host,4001", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<NetworkAddress> a = ParseAddressFile(c.text);
    ASSERT_EQ(a.has_value(), c.host != nullptr);
    if (!a) continue;
    EXPECT_EQ(a->host, c.host);
    EXPECT_EQ(a->port, c.port);
  }
}

// The TLS forms: the scheme or the library's ssl layer, and the files named
// in the library's options or on lines of their own; files beside a plain
// address, or anything else inside ssl(...), make no address.
TEST(NetworkAddressFile, TheTlsFormsItTakes) {
  struct Case {
    const char* text;
    bool address;
    bool tls;
    const char* ca;
    const char* cert;
    const char* key;
  };
  const Case cases[] = {
      {"rfc2217s://gw-site7.example:4001", true, true, "", "", ""},
      {"RFC2217S://[2001:db8::7]:4001\nca=site7-ca.pem\n", true, true, "site7-ca.pem", "", ""},
      {"rfc2217s://gw:4001\r\nca = ca.pem\r\ncert=op.crt\r\nkey=keys/op.key\r\n", true, true, "ca.pem", "op.crt",
       "keys/op.key"},
      {"key=op.pem\n# the certificate and its key in one file\nrfc2217s://gw:4001", true, true, "", "", "op.pem"},
      {"telnet(rfc2217),ssl,tcp,gw,4001", true, true, "", "", ""},
      {"telnet(rfc2217),ssl(CA=/etc/site7/ca.pem,cert=op.crt,key=op.key),tcp,gw,4001", true, true,
       "/etc/site7/ca.pem", "op.crt", "op.key"},
      {"telnet(rfc2217),ssl(CA=ca.pem),tcp,gw,4001\nkey=op.key", true, true, "ca.pem", "", "op.key"},
      {"rfc2217s://gw:4001\ncert=op.crt\nkey=op.key\nuser=operator", true, true, "", "op.crt", "op.key"},
      {"rfc2217://gw:4001", true, false, "", "", ""},
      // Not addresses.
      {"rfc2217://gw:4001\nca=ca.pem", false, false, "", "", ""},    // files for a plain connection
      {"rfc2217s://gw:4001\ncert=op.crt", false, false, "", "", ""},  // a certificate without its key
      {"rfc2217s://gw:4001\nca=a.pem\nca=b.pem", false, false, "", "", ""},
      {"telnet(rfc2217),ssl(CA=a.pem),tcp,gw,4001\nca=b.pem", false, false, "", "", ""},
      {"rfc2217s://gw:4001\nca=", false, false, "", "", ""},
      {"rfc2217s://gw:4001\ncert=op.crt\nkey=op,stdio", false, false, "", "", ""},
      {"telnet(rfc2217),ssl(mode=server),tcp,gw,4001", false, false, "", "", ""},
      {"telnet(rfc2217),ssl(allow-authfail),tcp,gw,4001", false, false, "", "", ""},
      {"telnet(rfc2217),ssl(CA=ca.pem,tcp,gw,4001", false, false, "", "", ""},
      {"telnet(rfc2217),ssl,stdio,sh", false, false, "", "", ""},
      {"telnet(rfc2217),certauth,ssl,tcp,gw,4001", false, false, "", "", ""},
      {"rfc2217s://gw:4001\nuser=operator", false, false, "", "", ""},  // a login without a certificate
      {"rfc2217s://gw:4001\ncert=a\nkey=b\nuser=op/../x", false, false, "", "", ""},
      {"telnet(rfc2217),ssl(user=operator,key=op.key),tcp,gw,4001", false, false, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<NetworkAddress> a = ParseAddressFile(c.text);
    ASSERT_EQ(a.has_value(), c.address);
    if (!a) continue;
    EXPECT_EQ(a->tls, c.tls);
    EXPECT_EQ(a->ca, c.ca);
    EXPECT_EQ(a->cert, c.cert);
    EXPECT_EQ(a->key, c.key);
  }
}

TEST(NetworkAddressFile, LoopbackHosts) {
  for (const char* host : {"localhost", "LocalHost", "127.0.0.1", "127.1.2.3", "::1"}) {
    SCOPED_TRACE(host);
    EXPECT_TRUE(IsLoopbackHost(host));
  }
  for (const char* host : {"gw-site7.example", "128.0.0.1", "0.0.0.0", "192.0.2.7", "2001:db8::1", "localhost.evil"}) {
    SCOPED_TRACE(host);
    EXPECT_FALSE(IsLoopbackHost(host));
  }
}

TEST(NetworkAddressFile, TheSchemeTheDeviceRowMayLeaveOut) {
  struct Case {
    const char* text;
    std::size_t length;
  };
  const Case cases[] = {
      {"rfc2217://gw:4001", 10},
      {"RFC2217S://gw:4001", 11},
      {"telnet(rfc2217),tcp,gw,4001", 0},
      {"rfc2217:/gw:4001", 0},
      {"", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(SchemeLength(c.text), c.length);
  }
}

}  // namespace
}  // namespace tv
