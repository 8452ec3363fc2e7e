// COM name or command-line target to local device or network address.
#include "platform/posix/routed_serial_port.h"

namespace tv {

namespace {

// The address a port's command-line target names, if it is one.
std::optional<NetworkAddress> TargetAddress(int portIndex) {
  const std::string& target = PortTarget(portIndex);
  return target.empty() ? std::nullopt : ParseAddressFile(target);
}

}  // namespace

int RoutedSerialPort::Open(int portIndex) {
  local_.Close();
  network_.Close();
  if (const std::optional<NetworkAddress> address = TargetAddress(portIndex)) {
    active_ = &network_;
    return network_.OpenAddress(*address);
  }
  const bool network = PortTarget(portIndex).empty() && IsAddressFile(portIndex);
  active_ = network ? static_cast<SerialPort*>(&network_) : &local_;
  return active_->Open(portIndex);
}

std::string RoutedSerialPort::Describe(int portIndex) const {
  if (const std::optional<NetworkAddress> address = TargetAddress(portIndex)) return address->text;
  if (!PortTarget(portIndex).empty()) return local_.Describe(portIndex);
  return IsAddressFile(portIndex) ? network_.Describe(portIndex) : local_.Describe(portIndex);
}

}  // namespace tv
