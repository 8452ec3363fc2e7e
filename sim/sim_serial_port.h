// A SerialPort on the simulated gateway, on a simulated clock: reading waits
// by moving the clock, never by sleeping. It records every byte written and
// every modem-line change, and can pretend ports are absent or held.
#pragma once

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "device/clock.h"
#include "device/serial_port.h"
#include "sim/gateway_model.h"

namespace tv::sim {

class SimSerialPort : public SerialPort {
 public:
  SimSerialPort(GatewayModel& gateway, ManualClock& clock);

  int Open(int portIndex) override;
  bool IsOpen() const override;
  bool SetDtr(bool on) override;
  bool SetRts(bool on) override;
  ReadStatus ReadByte(uint8_t& byte) override;
  void WriteBytes(const uint8_t* data, std::size_t count) override;
  void DiscardInput() override;
  std::string Describe(int portIndex) const override;
  bool Lost() const override;

  // Test controls.
  std::set<int> absentPorts;          // Open gives ExchangeError 6
  std::set<int> heldPorts;            // held by another program: ExchangeError 6
  std::set<int> unconfigurablePorts;  // ExchangeError 7
  bool linesFail = false;             // SetDtr/SetRts fail
  bool rtsFails = false;              // only SetRts fails

  // Records.
  std::string written;                 // every byte written, in order
  std::vector<std::string> lineLog;    // "DTR=1", "RTS=0", ... in order
  std::vector<std::string> lineCalls;  // the same for every call, failed ones included
  std::vector<int> opens;              // port index of every Open call, in order
  int openPort = -1;

 private:
  Nanos Elapsed() const;  // model time: since the port was made
  void Collect();         // moves the bytes due now into received_

  GatewayModel& gateway_;
  ManualClock& clock_;
  Clock::TimePoint start_;
  std::deque<uint8_t> received_;  // on the line, not yet read
};

}  // namespace tv::sim
