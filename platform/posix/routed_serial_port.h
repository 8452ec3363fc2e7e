// The serial port the COM names open on Linux: a network port when ./COMn is
// an address file, else the local serial device (see posix_serial_port.h and
// network_serial_port.h). A target given to the port (SetPortTarget) is
// opened instead: an address as the network port, a path as the local one.
// One of them is held at a time.
#pragma once

#include <optional>

#include "platform/posix/network_serial_port.h"
#include "platform/posix/posix_serial_port.h"

namespace tv {

class RoutedSerialPort : public SerialPort {
 public:
  int Open(int portIndex) override;
  bool IsOpen() const override { return active_ && active_->IsOpen(); }
  bool SetDtr(bool on) override { return active_ && active_->SetDtr(on); }
  bool SetRts(bool on) override { return active_ && active_->SetRts(on); }
  ReadStatus ReadByte(uint8_t& byte) override { return active_ ? active_->ReadByte(byte) : ReadFailed; }
  void WriteBytes(const uint8_t* data, std::size_t count) override {
    if (active_) active_->WriteBytes(data, count);
  }
  void DiscardInput() override {
    if (active_) active_->DiscardInput();
  }
  std::string Describe(int portIndex) const override;
  bool Lost() const override { return active_ && active_->Lost(); }
  bool CheckHungUp() override { return active_ && active_->CheckHungUp(); }
  bool LinesUnconfirmed() const override { return active_ && active_->LinesUnconfirmed(); }
  bool Unencrypted() const override { return active_ && active_->Unencrypted(); }
  std::string FailureReason() const override { return active_ ? active_->FailureReason() : std::string(); }

 private:
  PosixSerialPort local_;
  NetworkSerialPort network_;
  SerialPort* active_ = nullptr;
};

}  // namespace tv
