// Which device a COM name opens, on made-up device listings in a made-up
// directory (no device is opened or probed here).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/posix/posix_serial_port.h"

namespace tv {
namespace {

TEST(PortMapping, SystemDevicesInComOrder) {
  struct Case {
    const char* name;
    std::vector<std::string> dev;
    std::set<std::string> uarts;  // ttyS entries with a UART behind them
    std::vector<std::string> order;
  };
  const Case cases[] = {
      {"one USB adapter, no UART",
       {"tty0", "ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyUSB0", "console"},
       {},
       {"fake/ttyUSB0"}},
      {"UART first, then USB, then ACM",
       {"ttyACM0", "ttyUSB1", "ttyS1", "ttyUSB0", "ttyS0"},
       {"ttyS0"},
       {"fake/ttyS0", "fake/ttyUSB0", "fake/ttyUSB1", "fake/ttyACM0"}},
      {"numeric, not alphabetic",
       {"ttyUSB10", "ttyUSB2", "ttyUSB1"},
       {},
       {"fake/ttyUSB1", "fake/ttyUSB2", "fake/ttyUSB10"}},
      {"names that only look alike",
       {"ttyS", "ttySx1", "ttyUSB", "ttyprintk", "ttyACM0a", "tty1"},
       {"ttyS"},
       {}},
      {"nothing", {}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OrderSystemPorts(
                  c.dev, [&c](const std::string& n) { return c.uarts.count(n) != 0; }, "fake/"),
              c.order);
  }
}

TEST(PortMapping, LocalEntryComesFirst) {
  const std::vector<std::string> system = {"fake/ttyUSB0", "fake/ttyACM0"};
  struct Case {
    int index;
    bool local;
    std::string path;
  };
  const Case cases[] = {
      {0, true, "./COM1"},
      {0, false, "fake/ttyUSB0"},
      {1, false, "fake/ttyACM0"},
      {2, false, ""},
      {15, true, "./COM16"},
      {9, true, "./COM10"},
      {16, true, ""},
      {-1, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(MapPortPath(c.index, c.local, system), c.path);
  }
}

}  // namespace
}  // namespace tv
