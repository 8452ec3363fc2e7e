// The serial port on Linux: termios, modem-control ioctls, poll.
//
// Which device "COMn" opens:
//  1. ./COMn in the working directory, when that entry exists: a link to a
//     serial device, to the pseudo-terminal of the gateway simulator, or to a
//     socat pty (in the manner of Wine's dosdevices links).
//  2. Otherwise the n-th serial device that really exists on this machine,
//     counted as Wine counts them: the built-in UARTs /dev/ttyS* whose UART
//     type is known to the kernel, then /dev/ttyUSB*, then /dev/ttyACM*, each
//     group in numeric order. A machine with one USB adapter and no UART thus
//     has it as COM1. A device the kernel uses as its console is counted but
//     never opened (ExchangeError 6).
// A target given to the index (SetPortTarget: a device path from the command
// line) replaces both; it must be a character device.
//
// A pseudo-terminal has no modem-control lines: DTR and RTS cannot be driven
// there, so all four gateway addresses reach the same far end. On a pty the
// line calls succeed without effect; on real serial hardware a line that
// cannot be driven is a failure.
#pragma once

#include <termios.h>

#include <functional>
#include <string>
#include <vector>

#include "device/serial_port.h"

namespace tv {

// The system serial devices in COM order, as paths in devDir. devEntries
// are the names in that directory ("ttyS0", "ttyUSB1", "tty1", ...) in any
// order; isUart tells whether a "ttySn" entry is a UART that really exists.
std::vector<std::string> OrderSystemPorts(const std::vector<std::string>& devEntries,
                                          const std::function<bool(const std::string&)>& isUart,
                                          const std::string& devDir = "/dev/");
// The path the port of portIndex (0 = COM1) opens, or "" when there is none.
std::string MapPortPath(int portIndex, bool localEntryExists, const std::vector<std::string>& systemPorts);

class PosixSerialPort : public SerialPort {
 public:
  PosixSerialPort() = default;
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  int Open(int portIndex) override;
  bool IsOpen() const override { return fd_ >= 0; }
  bool SetDtr(bool on) override;
  bool SetRts(bool on) override;
  ReadStatus ReadByte(uint8_t& byte) override;
  void WriteBytes(const uint8_t* data, std::size_t count) override;
  void DiscardInput() override;
  std::string Describe(int portIndex) const override;
  bool Lost() const override { return lost_; }
  bool CheckHungUp() override;

  // Restores the port's settings and lets it go.
  void Close();
  // The path that Open(portIndex) would use now ("" when none).
  static std::string PathFor(int portIndex);

 private:
  bool SetLine(int bit, bool on);

  int fd_ = -1;
  termios original_{};  // as the port was before Open
  int exitSlot_ = -1;   // where the exit hook finds it; -1 when it does not
  bool lost_ = false;
  bool noModemLines_ = false;  // a pseudo-terminal
  uint8_t buffer_[256] = {};   // received, not yet handed out
  std::size_t bufferStart_ = 0;
  std::size_t bufferEnd_ = 0;
};

}  // namespace tv
