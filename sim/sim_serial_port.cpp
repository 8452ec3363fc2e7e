// The simulated gateway behind the SerialPort interface, on a ManualClock:
// a read that would wait moves the clock instead of sleeping.
#include "sim/sim_serial_port.h"

namespace tv::sim {

SimSerialPort::SimSerialPort(GatewayModel& gateway, ManualClock& clock)
    : gateway_(gateway), clock_(clock), start_(clock.Now()) {}

Nanos SimSerialPort::Elapsed() const { return clock_.Now() - start_; }

int SimSerialPort::Open(int portIndex) {
  opens.push_back(portIndex);
  openPort = -1;
  received_.clear();
  if (absentPorts.count(portIndex) || heldPorts.count(portIndex)) return xerr::PortBusy;
  // A port whose settings cannot be written stays held, as a real handle
  // does after a failed configuration.
  openPort = portIndex;
  if (unconfigurablePorts.count(portIndex)) return xerr::SystemError;
  return 0;
}

bool SimSerialPort::IsOpen() const { return openPort >= 0; }

bool SimSerialPort::SetDtr(bool on) {
  lineCalls.push_back(on ? "DTR=1" : "DTR=0");
  if (!IsOpen() || linesFail) return false;
  lineLog.push_back(lineCalls.back());
  return true;
}

bool SimSerialPort::SetRts(bool on) {
  lineCalls.push_back(on ? "RTS=1" : "RTS=0");
  if (!IsOpen() || linesFail || rtsFails) return false;
  lineLog.push_back(lineCalls.back());
  return true;
}

void SimSerialPort::Collect() {
  for (uint8_t b : gateway_.TakeOutput(Elapsed())) received_.push_back(b);
}

ReadStatus SimSerialPort::ReadByte(uint8_t& byte) {
  if (!IsOpen()) return ReadFailed;
  Collect();
  if (received_.empty()) {
    const auto next = gateway_.NextOutputTimeExact();
    const Nanos now = Elapsed();
    if (next && *next - now <= Nanos(ByteReadTimeout)) {
      clock_.Advance(std::chrono::ceil<Millis>(*next - now));
      Collect();
    } else if (gateway_.HungUp()) {
      return ReadFailed;
    } else {
      clock_.Advance(ByteReadTimeout);
      return ReadTimeout;
    }
  }
  byte = received_.front();
  received_.pop_front();
  return ReadOk;
}

void SimSerialPort::WriteBytes(const uint8_t* data, std::size_t count) {
  if (!IsOpen()) return;
  written.append(reinterpret_cast<const char*>(data), count);
  gateway_.Receive(Elapsed(), data, count);
}

void SimSerialPort::DiscardInput() {
  received_.clear();
  gateway_.TakeOutput(Elapsed());
}

std::string SimSerialPort::Describe(int) const { return "simulated gateway"; }

// The line has hung up and every reply already on it has been read.
bool SimSerialPort::Lost() const {
  return IsOpen() && gateway_.HungUp() && received_.empty() && !gateway_.NextOutputTimeExact();
}

}  // namespace tv::sim
