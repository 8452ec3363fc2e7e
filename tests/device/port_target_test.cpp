// A port given a target by the command line: the journal's file name made
// from it stays one plain name in the working directory, whatever the target.
#include <gtest/gtest.h>

#include "device/serial_port.h"

namespace tv {
namespace {

TEST(PortTarget, TheFileNameOfATargetIsOnePlainName) {
  const struct {
    const char* target;
    const char* name;
  } cases[] = {
      {"/srv/lines/gw-usb0", "srv-lines-gw-usb0"},
      {"./gw", "gw"},
      {"../../etc/passwd", "etc-passwd"},
      {"rfc2217://gw-site7.example:4001", "rfc2217-gw-site7.example-4001"},
      {"rfc2217://[2001:db8::7]:4001", "rfc2217-2001-db8-7-4001"},
      {"telnet(rfc2217),tcp,10.0.0.5,2001", "telnet-rfc2217-tcp-10.0.0.5-2001"},
      {"/dev/..", "dev"},
      {"...", "port"},
      {"/", "port"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    SetPortTarget(2, c.target);
    EXPECT_EQ(PortFileName(2), c.name);
    EXPECT_EQ(PortTarget(2), c.target);
  }
  // Long targets keep their end, where they differ.
  SetPortTarget(2, "rfc2217://" + std::string(200, 'a') + ".example:4001");
  EXPECT_EQ(PortFileName(2).size(), 96u);
  EXPECT_EQ(PortFileName(2).substr(80), "aaa.example-4001");
  // Taken back: the COM name again; other ports never had one.
  SetPortTarget(2, "");
  EXPECT_EQ(PortFileName(2), "COM3");
  EXPECT_EQ(PortFileName(0), "COM1");
}

}  // namespace
}  // namespace tv
