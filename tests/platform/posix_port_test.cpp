// The POSIX port on a pseudo-terminal linked as ./COM1 (never a system serial
// device): the line settings it sets and gives back, its hold on the port,
// reads that end at the read time-out, a hung-up far end, and writes to a far
// end that stops reading. The pseudo-terminal's own descriptor shows the
// settings and flags of the line as any other program would see them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/emergency_exit.h"
#include "platform/posix/posix_serial_port.h"

namespace tv {
namespace {

struct PtyLink : ::testing::Test {
  int master = -1, slave = -1;
  std::string dir, oldCwd;

  void SetUp() override {
    char tmpl[] = "/tmp/tv-port-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    oldCwd = cwd;
    ASSERT_EQ(chdir(dir.c_str()), 0);
    ASSERT_NO_FATAL_FAILURE(LinkNewPty());
  }
  void TearDown() override {
    ClosePty();
    unlink((dir + "/COM1").c_str());
    ASSERT_EQ(chdir(oldCwd.c_str()), 0);
    rmdir(dir.c_str());
  }

  void ClosePty() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
    master = slave = -1;
  }
  // ./COM1 leads to a fresh pseudo-terminal (the old one, if any, is gone).
  void LinkNewPty() {
    ClosePty();
    unlink("COM1");
    char name[PATH_MAX];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    ASSERT_EQ(symlink(name, "COM1"), 0);
  }

  termios LineSettings() {
    termios t{};
    EXPECT_EQ(tcgetattr(slave, &t), 0);
    return t;
  }
  // Settings nobody would choose for the gateway line, so that each one the
  // port changes, or fails to give back, shows. Returns them as the line
  // holds them. (A pseudo-terminal keeps 8 data bits, no parity and the
  // receiver on whatever is asked, so those cannot be varied here.)
  termios SetUnusualSettings() {
    termios t = LineSettings();
    t.c_iflag |= ICRNL | INLCR | ISTRIP | IXON | IXOFF;
    t.c_oflag |= OPOST | ONLCR;
    t.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    t.c_cflag &= ~CLOCAL;
    t.c_cflag |= CSTOPB | CRTSCTS | HUPCL;
    t.c_cc[VMIN] = 4;
    t.c_cc[VTIME] = 7;
    EXPECT_EQ(cfsetispeed(&t, B9600), 0);
    EXPECT_EQ(cfsetospeed(&t, B9600), 0);
    EXPECT_EQ(tcsetattr(slave, TCSANOW, &t), 0) << std::strerror(errno);
    return LineSettings();
  }
  void ExpectSettings(const termios& want) {
    const termios got = LineSettings();
    EXPECT_EQ(got.c_iflag, want.c_iflag);
    EXPECT_EQ(got.c_oflag, want.c_oflag);
    EXPECT_EQ(got.c_cflag, want.c_cflag);
    EXPECT_EQ(got.c_lflag, want.c_lflag);
    EXPECT_EQ(got.c_line, want.c_line);
    for (int i = 0; i < NCCS; ++i) EXPECT_EQ(got.c_cc[i], want.c_cc[i]) << "c_cc[" << i << "]";
    EXPECT_EQ(cfgetispeed(&got), cfgetispeed(&want));
    EXPECT_EQ(cfgetospeed(&got), cfgetospeed(&want));
  }
  // Whether the line refuses opens by other programs. Root's opens pass
  // TIOCEXCL, so the flag is read back rather than tried.
  bool Exclusive() {
    int excl = 0;
    if (ioctl(slave, TIOCGEXCL, &excl) != 0) ADD_FAILURE() << "TIOCGEXCL: " << std::strerror(errno);
    return excl != 0;
  }
  // Whether another descriptor of the line can take its lock.
  bool Lockable() {
    if (flock(slave, LOCK_EX | LOCK_NB) != 0) return false;
    flock(slave, LOCK_UN);
    return true;
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
  EXPECT_FALSE(port.Lost());                 // a quiet line is still there

  // A second tool (or a terminal program) cannot take the held port.
  PosixSerialPort other;
  EXPECT_EQ(other.Open(0), 6);

  // The far end hangs up: reads fail instead of waiting for ever.
  close(master);
  master = -1;
  EXPECT_EQ(port.ReadByte(b), ReadFailed);
}

TEST_F(PtyLink, OpenSetsTheLineForTheGateway) {
  SetUnusualSettings();
  PosixSerialPort port;
  ASSERT_EQ(port.Open(0), 0);
  const termios t = LineSettings();
  const struct {
    const char* name;
    bool holds;
  } cases[] = {
      {"HUPCL off: closing the port keeps DTR/RTS, the gateway address", !(t.c_cflag & HUPCL)},
      {"CLOCAL: no carrier needed", (t.c_cflag & CLOCAL) != 0},
      {"1 stop bit", !(t.c_cflag & CSTOPB)},
      {"115200 in", cfgetispeed(&t) == B115200},
      {"115200 out", cfgetospeed(&t) == B115200},
      {"no RTS/CTS flow control", !(t.c_cflag & CRTSCTS)},
      {"no XON/XOFF flow control", !(t.c_iflag & (IXON | IXOFF))},
      {"input bytes as received", !(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP))},
      {"output bytes as written", !(t.c_oflag & OPOST)},
      {"no line editing, echo or signal keys", !(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN))},
      {"a read returns each byte as it comes", t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(c.holds);
  }
}

TEST_F(PtyLink, CloseRestoresTheSettingsFoundAtOpen) {
  const termios original = SetUnusualSettings();
  PosixSerialPort port;
  ASSERT_EQ(port.Open(0), 0);
  port.Close();
  ExpectSettings(original);
}

TEST_F(PtyLink, TheHeldPortIsExclusiveAndLockedUntilClosed) {
  PosixSerialPort port;
  ASSERT_EQ(port.Open(0), 0);
  EXPECT_TRUE(Exclusive());
  EXPECT_FALSE(Lockable());
  port.Close();
  EXPECT_FALSE(Exclusive());
  EXPECT_TRUE(Lockable());
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
  // Its write time-out is 66 ms; the bound leaves room for a busy machine
  // and still fails a time-out of half a second.
  const std::string command(16, 'A');
  const auto start = std::chrono::steady_clock::now();
  port.WriteBytes(reinterpret_cast<const uint8_t*>(command.data()), command.size());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_FALSE(port.Lost());  // a far end that does not read is still there
}

TEST_F(PtyLink, AHungUpLineStaysLostUntilOpenedAgain) {
  const struct {
    const char* name;
    void (*notice)(PosixSerialPort&);
  } cases[] = {
      {"seen by a read",
       [](PosixSerialPort& port) {
         uint8_t b = 0;
         port.ReadByte(b);
       }},
      {"seen by a write",
       [](PosixSerialPort& port) {
         const uint8_t cmd[] = {'A', 'T', '\r'};
         port.WriteBytes(cmd, sizeof cmd);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(LinkNewPty());
    PosixSerialPort port;
    ASSERT_EQ(port.Open(0), 0);
    close(master);  // the adapter is unplugged
    master = -1;
    c.notice(port);
    EXPECT_TRUE(port.Lost());
    uint8_t b = 0;
    EXPECT_EQ(port.ReadByte(b), ReadFailed);

    // Plugged in again: a new open starts afresh.
    ASSERT_NO_FATAL_FAILURE(LinkNewPty());
    ASSERT_EQ(port.Open(0), 0);
    EXPECT_FALSE(port.Lost());
    ASSERT_EQ(write(master, "K", 1), 1);
    EXPECT_EQ(port.ReadByte(b), ReadOk);
    EXPECT_EQ(b, 'K');
  }
}

// A tool that dies of a signal, or leaves because its terminal is gone, must
// not leave the port raw and exclusive: the next start could not open it.
TEST_F(PtyLink, ThePortIsGivenBackWhenTheToolDies) {
  const struct {
    const char* name;
    int signal;  // 0: the terminal is gone, the tool leaves by itself
  } cases[] = {
      {"killed", SIGTERM},  {"its terminal hung up", SIGHUP}, {"interrupted", SIGINT},
      {"a fault", SIGSEGV}, {"its terminal is gone", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const termios original = SetUnusualSettings();
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(ready[0]);
      prctl(PR_SET_DUMPABLE, 0);  // no core file from the fault
      alarm(30);                  // never outlive a failed test
      PosixSerialPort port;
      // No console here, as in the scripted commands: the port alone sees
      // to its own return.
      if (port.Open(0) != 0) _exit(3);
      if (c.signal == 0) ExitAfterHooks(1);
      (void)!write(ready[1], "R", 1);
      for (;;) pause();
    }
    close(ready[1]);
    if (c.signal != 0) {
      char r = 0;
      EXPECT_EQ(read(ready[0], &r, 1), 1) << "the tool did not start";
      kill(child, c.signal);
    }
    close(ready[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (c.signal != 0) {
      ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
      EXPECT_EQ(WTERMSIG(status), c.signal);
    } else {
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 1);
    }
    ExpectSettings(original);
    EXPECT_FALSE(Exclusive());
    PosixSerialPort next;
    EXPECT_EQ(next.Open(0), 0);
  }
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
