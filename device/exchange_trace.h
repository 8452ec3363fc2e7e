// The exchange trace, for support: when TARVELIN_TRACE names a file, every
// byte sent to and received from the gateway is appended to it with a time
// stamp and its direction, with a line for each open, close, DTR/RTS change
// and purge of the port. Any kind of port: it wraps the port interface.
//
//   2026-12-10 17:09:48.120 open COM1: rfc2217://127.0.0.1:4001: 0
//   2026-12-10 17:09:48.121 DTR on
//   2026-12-10 17:09:48.121 RTS on
//   2026-12-10 17:09:48.122 purge
//   2026-12-10 17:09:48.122 -> AT\x0D
//   2026-12-10 17:09:48.130 <- \x0D\x0A
//   2026-12-10 17:09:48.130 <- OK\x0D\x0A
//
// Bytes 0x20..0x7E stand as themselves, a backslash as "\\", every other
// byte as "\xHH". Received bytes are gathered into one line up to each line
// feed (or 64 bytes), stamped with the time of their first byte. Each line
// is flushed as it is written, so a trace survives the process.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "device/serial_port.h"

namespace tv {

// The bytes as a trace line shows them.
std::string TraceText(const uint8_t* data, std::size_t count);

class TracingSerialPort : public SerialPort {
 public:
  // The time stamp of a line ("2026-12-10 17:09:48.120"); local time unless
  // a test gives its own.
  using StampFn = std::function<std::string()>;
  static std::string LocalTimeStamp();

  TracingSerialPort(std::unique_ptr<SerialPort> inner, std::unique_ptr<std::ostream> out,
                    StampFn stamp = LocalTimeStamp);
  ~TracingSerialPort() override;
  TracingSerialPort(const TracingSerialPort&) = delete;
  TracingSerialPort& operator=(const TracingSerialPort&) = delete;

  int Open(int portIndex) override;
  bool IsOpen() const override { return inner_->IsOpen(); }
  bool SetDtr(bool on) override;
  bool SetRts(bool on) override;
  ReadStatus ReadByte(uint8_t& byte) override;
  void WriteBytes(const uint8_t* data, std::size_t count) override;
  void DiscardInput() override;
  std::string Describe(int portIndex) const override { return inner_->Describe(portIndex); }
  bool Lost() const override { return inner_->Lost(); }
  bool CheckHungUp() override { return inner_->CheckHungUp(); }
  bool LinesUnconfirmed() const override { return inner_->LinesUnconfirmed(); }
  bool Unencrypted() const override { return inner_->Unencrypted(); }
  std::string FailureReason() const override { return inner_->FailureReason(); }

 private:
  void Line(const std::string& text);
  void FlushReceived();

  std::unique_ptr<SerialPort> inner_;
  std::unique_ptr<std::ostream> out_;
  StampFn stamp_;
  std::string received_;       // gathered, not yet written
  std::string receivedStamp_;  // the time its first byte came
  bool failedReported_ = false;
};

// The port, traced when the environment variable TARVELIN_TRACE names a file
// that can be opened for appending. When it cannot, one line on errors says
// so and the port comes back untraced.
std::unique_ptr<SerialPort> TraceExchangeIfAsked(std::unique_ptr<SerialPort> port, std::ostream& errors);

}  // namespace tv
