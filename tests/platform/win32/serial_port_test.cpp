// The COM names of the Win32 port and what opening an absent one gives.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/win32_serial_port.h"

namespace tv {
namespace {

TEST(Win32SerialPort, EverySixteenNamesTakeTheDevicePrefix) {
  EXPECT_EQ(Win32PortPath(0), "\\\\.\\COM1");
  EXPECT_EQ(Win32PortPath(8), "\\\\.\\COM9");
  EXPECT_EQ(Win32PortPath(9), "\\\\.\\COM10");  // plain "COM10" names no device
  EXPECT_EQ(Win32PortPath(15), "\\\\.\\COM16");
  EXPECT_EQ(Win32PortPath(16), "");
  EXPECT_EQ(Win32PortPath(-1), "");
}

// A port named on the command line: a device name past the dialog's 16, or
// one with the prefix already; the forms of the other system and the network
// are none. Given to an index, it is what the index opens until taken back.
TEST(Win32SerialPort, APortNamedOnTheCommandLine) {
  const struct {
    const char* text;
    const char* path;
  } cases[] = {
      {"COM20", "\\\\.\\COM20"},
      {"com7", "\\\\.\\COM7"},
      {"\\\\.\\COM255", "\\\\.\\COM255"},
      {"COM0", ""},
      {"COM", ""},
      {"COM20x", ""},
      {"COM1000", ""},
      {"/srv/lines/gw-usb0", ""},
      {"rfc2217://host:4001", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Win32DevicePath(c.text), c.path);
  }
  SetPortTarget(0, "COM20");
  EXPECT_EQ(Win32PortPath(0), "\\\\.\\COM20");
  SetPortTarget(0, "");
  EXPECT_EQ(Win32PortPath(0), "\\\\.\\COM1");
}

// The test prefix maps no device to COM2 .. COM16 (scripts/test-windows.sh).
TEST(Win32SerialPort, AnAbsentPortIsExchangeError6AndNothingIsDriven) {
  Win32SerialPort port;
  EXPECT_EQ(port.Open(4), xerr::PortBusy);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_FALSE(port.SetDtr(true));
  EXPECT_FALSE(port.SetRts(false));
  uint8_t byte = 0;
  EXPECT_EQ(port.ReadByte(byte), ReadFailed);
  EXPECT_EQ(port.Open(16), xerr::PortBusy);
  EXPECT_EQ(port.Describe(4).rfind("\\\\.\\COM5", 0), 0u);
}

}  // namespace
}  // namespace tv
