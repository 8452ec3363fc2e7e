// COM name to local device or network address.
#include "platform/posix/routed_serial_port.h"

namespace tv {

int RoutedSerialPort::Open(int portIndex) {
  local_.Close();
  network_.Close();
  active_ = IsAddressFile(portIndex) ? static_cast<SerialPort*>(&network_) : &local_;
  return active_->Open(portIndex);
}

std::string RoutedSerialPort::Describe(int portIndex) const {
  return IsAddressFile(portIndex) ? network_.Describe(portIndex) : local_.Describe(portIndex);
}

}  // namespace tv
