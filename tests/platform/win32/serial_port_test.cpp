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
