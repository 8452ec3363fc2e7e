// The POSIX port on a pseudo-terminal linked as ./COM1 (never a system serial
// device): reads end at the read time-out, a hung-up far end fails reads, and
// writes to a far end that stops reading give up instead of blocking.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "device/posix_serial_port.h"

namespace tv {
namespace {

struct PtyLink : ::testing::Test {
  int master = -1, slave = -1;
  std::string dir, oldCwd;

  void SetUp() override {
    char name[PATH_MAX];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    char tmpl[] = "/tmp/tv-port-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd = cwd;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    ASSERT_EQ(symlink(name, "COM1"), 0);
  }
  void TearDown() override {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
    unlink((dir + "/COM1").c_str());
    ASSERT_EQ(chdir(oldCwd.c_str()), 0);
    rmdir(dir.c_str());
  }
};

TEST_F(PtyLink, ReadsWritesAndTimeOuts) {
  PosixSerialPort port;
  ASSERT_EQ(port.Open(0), 0);
  EXPECT_TRUE(port.SetDtr(true));  // a pty has no modem lines: accepted without effect
  EXPECT_TRUE(port.SetRts(false));
  const uint8_t cmd[] = {'A', 'T', '\r'};
  port.WriteBytes(cmd, sizeof cmd);
  char got[8] = {};
  ASSERT_EQ(read(master, got, sizeof got), 3);
  EXPECT_EQ(std::string(got, 3), "AT\r");

  ASSERT_EQ(write(master, "OK", 2), 2);
  uint8_t b = 0;
  EXPECT_EQ(port.ReadByte(b), ReadOk);
  EXPECT_EQ(b, 'O');
  port.DiscardInput();
  EXPECT_EQ(port.ReadByte(b), ReadTimeout);  // the K was dropped

  // A second tool (or a terminal program) cannot take the held port.
  PosixSerialPort other;
  EXPECT_EQ(other.Open(0), 6);

  // The far end hangs up: reads fail instead of waiting for ever.
  close(master);
  master = -1;
  EXPECT_EQ(port.ReadByte(b), ReadFailed);
}

TEST_F(PtyLink, WritesToAFarEndThatStopsReadingGiveUp) {
  PosixSerialPort port;
  ASSERT_EQ(port.Open(0), 0);
  // Nothing reads the master: fill the line's buffer, then a command must
  // return (its bytes dropped) rather than block the tool.
  const int flags = fcntl(slave, F_GETFL);
  ASSERT_EQ(fcntl(slave, F_SETFL, flags | O_NONBLOCK), 0);
  const std::string fill(4096, 'F');
  while (write(slave, fill.data(), fill.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  const std::string command(115, 'A');
  port.WriteBytes(reinterpret_cast<const uint8_t*>(command.data()), command.size());
  SUCCEED();
}

TEST_F(PtyLink, MissingLinkIsAnAbsentPort) {
  PosixSerialPort port;
  unlink("COM1");
  ASSERT_EQ(symlink("/nonexistent/tty", "COM1"), 0);
  EXPECT_EQ(port.Open(0), 6);
  EXPECT_FALSE(port.IsOpen());
}

}  // namespace
}  // namespace tv
