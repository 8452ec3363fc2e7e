// The serial port on Linux: port name mapping, exclusive open, raw 115200
// 8N1 without flow control, DTR/RTS by TIOCMBIS/TIOCMBIC, one-byte reads with
// a 200 ms poll. A held port is given back (its settings, the exclusive flag,
// the lock) by Close, and by an exit hook when the process dies of a signal or
// loses its terminal.
#include "platform/posix/posix_serial_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cp866/literal.h"
#include "platform/posix/emergency_exit.h"

namespace tv {

namespace {

struct DeviceGroup {
  const char* prefix;
  bool uart;
};
// Wine's order: built-in UARTs, then USB serial adapters, then CDC-ACM modems.
constexpr DeviceGroup kGroups[] = {{"ttyS", true}, {"ttyUSB", false}, {"ttyACM", false}};

// "ttyUSB12" with prefix "ttyUSB" -> 12; -1 when the rest is not a number.
long DeviceNumber(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  long n = 0;
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 100000) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

// The kernel's answer, without opening the device: /sys/class/tty/ttySn/type
// holds the UART type that TIOCGSERIAL reports; 0 is PORT_UNKNOWN, a slot
// without a UART behind it.
bool UartExists(const std::string& name) {
  std::ifstream type("/sys/class/tty/" + name + "/type");
  int value = 0;
  return static_cast<bool>(type >> value) && value != 0;
}

std::vector<std::string> DevEntries() {
  std::vector<std::string> names;
  if (DIR* dir = opendir("/dev")) {
    while (const dirent* e = readdir(dir)) names.emplace_back(e->d_name);
    closedir(dir);
  }
  return names;
}

// Devices the kernel writes its console to, e.g. "ttyS0": a serial console
// is never a gateway line.
bool IsSystemConsole(const std::string& path) {
  char real[PATH_MAX];
  if (!realpath(path.c_str(), real)) return false;
  std::ifstream active("/sys/class/tty/console/active");
  std::string name;
  while (active >> name)
    if (real == "/dev/" + name) return true;
  return false;
}

std::string LocalEntry(int portIndex) { return "./" + PortDeviceName(portIndex); }

bool LocalEntryExists(int portIndex) {
  struct stat st {};
  return lstat(LocalEntry(portIndex).c_str(), &st) == 0;
}

constexpr speed_t kSpeed = B115200;

// Async-signal-safe. A port left raw with TIOCEXCL set cannot be opened by
// the next start (nor by a terminal program) until someone resets it.
void Restore(int fd, const termios& original) {
  tcsetattr(fd, TCSANOW, &original);
  ioctl(fd, TIOCNXCL);  // the exclusive flag outlives us while others hold the tty
}

// The held ports as the exit hook sees them, in static storage because the
// hook runs in a signal handler. The settings are in place before the
// descriptor is published, and the descriptor is withdrawn before it closes.
struct ExitSlot {
  std::atomic<bool> taken{false};
  std::atomic<int> fd{-1};
  termios original{};
};
static_assert(std::atomic<int>::is_always_lock_free);
ExitSlot gExitSlots[4];

void GiveBackHeldPorts() {
  for (ExitSlot& slot : gExitSlots) {
    const int fd = slot.fd.exchange(-1);
    if (fd < 0) continue;
    Restore(fd, slot.original);
    close(fd);  // also drops the flock
  }
}

// The slot now watching fd, or -1 when all are taken (more ports open at once
// than the tool ever uses: that one is given back by Close only).
int WatchForExit(int fd, const termios& original) {
  AddExitHook(GiveBackHeldPorts);
  // The scripted commands run without the console, which would otherwise
  // have put the handlers that run the hooks in place; again is harmless.
  InstallFatalSignalHandlers();
  for (int i = 0; i < static_cast<int>(std::size(gExitSlots)); ++i) {
    ExitSlot& slot = gExitSlots[i];
    if (slot.taken.exchange(true)) continue;
    slot.original = original;
    slot.fd.store(fd);
    return i;
  }
  return -1;
}

void StopWatching(int slot) {
  if (slot < 0) return;
  gExitSlots[slot].fd.store(-1);
  gExitSlots[slot].taken.store(false);
}

}  // namespace

std::vector<std::string> OrderSystemPorts(const std::vector<std::string>& devEntries,
                                          const std::function<bool(const std::string&)>& isUart,
                                          const std::string& devDir) {
  std::vector<std::string> ports;
  for (const DeviceGroup& group : kGroups) {
    std::vector<std::pair<long, std::string>> found;
    for (const std::string& name : devEntries) {
      const long n = DeviceNumber(name, group.prefix);
      if (n < 0) continue;
      if (group.uart && !isUart(name)) continue;
      found.emplace_back(n, name);
    }
    std::sort(found.begin(), found.end());
    for (const auto& f : found) ports.push_back(devDir + f.second);
  }
  return ports;
}

std::string MapPortPath(int portIndex, bool localEntryExists, const std::vector<std::string>& systemPorts) {
  if (portIndex < 0 || portIndex >= PortCount) return {};
  if (localEntryExists) return LocalEntry(portIndex);
  if (static_cast<std::size_t>(portIndex) < systemPorts.size()) return systemPorts[portIndex];
  return {};
}

std::string PosixSerialPort::PathFor(int portIndex) {
  if (portIndex < 0 || portIndex >= PortCount) return {};
  if (const std::string& target = PortTarget(portIndex); !target.empty()) return target;
  if (LocalEntryExists(portIndex)) return LocalEntry(portIndex);
  return MapPortPath(portIndex, false, OrderSystemPorts(DevEntries(), UartExists));
}

PosixSerialPort::~PosixSerialPort() { Close(); }

void PosixSerialPort::Close() {
  lost_ = false;
  if (fd_ < 0) return;
  Restore(fd_, original_);
  StopWatching(exitSlot_);
  exitSlot_ = -1;
  close(fd_);  // also drops the flock
  fd_ = -1;
  noModemLines_ = false;
  bufferStart_ = bufferEnd_ = 0;
}

int PosixSerialPort::Open(int portIndex) {
  Close();
  const std::string path = PathFor(portIndex);
  if (path.empty() || IsSystemConsole(path)) return xerr::PortBusy;
  // A path given on the command line may name anything: only a terminal
  // device (a serial adapter, a pseudo-terminal, a link to either) is a
  // port, and a file or a directory is as absent as a missing one.
  struct stat target {};
  if (!PortTarget(portIndex).empty() && (stat(path.c_str(), &target) != 0 || !S_ISCHR(target.st_mode)))
    return xerr::PortBusy;

  // O_NONBLOCK so that the open does not wait for carrier; it stays, see below.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return xerr::PortBusy;  // absent, no permission, or TIOCEXCL of another program
  // Another terminal program, modem manager or tool instance holds it.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return xerr::PortBusy;
  }
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    close(fd);
    return xerr::SystemError;
  }
  fd_ = fd;
  original_ = tio;
  exitSlot_ = WatchForExit(fd_, original_);
  ioctl(fd_, TIOCEXCL);
  // The descriptor stays non-blocking: reads wait in poll() for at most one
  // read time-out, and writes give up after the write time-out, so a far end
  // that stops reading (a wedged adapter, a stopped simulator) cannot hold
  // the tool.

  struct stat st {};
  if (fstat(fd_, &st) == 0 && S_ISCHR(st.st_mode)) {
    const unsigned m = major(st.st_rdev);
    noModemLines_ = (m >= 136 && m <= 143) || m == 3;  // Unix98 and legacy pty slaves
  }

  // Read-modify-write: fields not named here keep what the port reported.
  // HUPCL off: closing the port must not drop DTR and RTS, the lines that
  // select the gateway.
  tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, kSpeed) != 0 || cfsetospeed(&tio, kSpeed) != 0 ||
      tcsetattr(fd_, TCSANOW, &tio) != 0) {
    Close();  // a port the tool cannot use is not kept from other programs
    return xerr::SystemError;
  }
  return 0;
}

bool PosixSerialPort::SetLine(int bit, bool on) {
  if (fd_ < 0) return false;
  if (noModemLines_) return true;  // a pty: nothing to drive, see the header
  return ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0;
}

bool PosixSerialPort::SetDtr(bool on) { return SetLine(TIOCM_DTR, on); }
bool PosixSerialPort::SetRts(bool on) { return SetLine(TIOCM_RTS, on); }

ReadStatus PosixSerialPort::ReadByte(uint8_t& byte) {
  if (fd_ < 0 || lost_) return ReadFailed;
  if (bufferStart_ < bufferEnd_) {
    byte = buffer_[bufferStart_++];
    return ReadOk;
  }
  using Steady = std::chrono::steady_clock;
  const auto deadline = Steady::now() + ByteReadTimeout;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now()).count();
    pollfd p{fd_, POLLIN, 0};
    const int r = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return ReadFailed;
    if (r == 0) return ReadTimeout;
    if (p.revents & POLLIN) {
      // Take what has arrived, up to the buffer; it is handed out byte by byte.
      const ssize_t n = read(fd_, buffer_, sizeof buffer_);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) continue;
      if (n == 0 || (n < 0 && errno == EIO)) lost_ = true;  // hung up
      if (n <= 0) return ReadFailed;
      bufferStart_ = 1;
      bufferEnd_ = static_cast<std::size_t>(n);
      byte = buffer_[0];
      return ReadOk;
    }
    lost_ = true;  // POLLHUP, POLLERR, POLLNVAL without data
    return ReadFailed;
  }
}

bool PosixSerialPort::CheckHungUp() {
  if (fd_ < 0 || lost_) return lost_;
  // A pseudo-terminal whose simulator ended, an adapter unplugged: the
  // descriptor reports the hang-up at once, whether or not bytes are waiting.
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) lost_ = true;
  return lost_;
}

void PosixSerialPort::WriteBytes(const uint8_t* data, std::size_t count) {
  if (fd_ < 0 || lost_) return;
  using Steady = std::chrono::steady_clock;
  // The write time-out: 50 ms and 1 ms a byte. What is not out by then is
  // dropped; the missing reply shows it.
  const auto deadline = Steady::now() + WriteTimeoutConstant + WriteTimeoutPerByte * count;
  while (count > 0) {
    const ssize_t n = write(fd_, data, count);
    if (n > 0) {
      data += n;
      count -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EIO) lost_ = true;  // hung up
    if (n < 0 && errno != EAGAIN) return;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now()).count();
    if (left <= 0) return;
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0 && errno != EINTR) return;
  }
}

void PosixSerialPort::DiscardInput() {
  bufferStart_ = bufferEnd_ = 0;
  if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
}

std::string PosixSerialPort::Describe(int portIndex) const {
  const std::string path = PathFor(portIndex);
  if (path.empty()) return "нет устройства"_cp;
  std::string text = path;
  char target[256];
  if (path[0] == '.') {
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n > 0) text += " -> " + std::string(target, static_cast<std::size_t>(n));
  }
  if (IsSystemConsole(path)) text += " (консоль системы)"_cp;
  return text;
}

}  // namespace tv
