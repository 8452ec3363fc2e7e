// One gateway session on the simulated gateway, on a manual clock, without a
// screen: the port is not opened and nothing is connected.
#pragma once

#include "device/clock.h"
#include "gateway/session.h"
#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"

namespace tv::test {

struct SimulatedGateway {
  // The tests that spell out every command on the wire follow the
  // cell-by-cell exchange, every line of a file written; the range reads and
  // the writes of what differs have tests of their own, which clear these.
  SimulatedGateway() {
    session.cellByCell = true;
    session.writeAll = true;
  }
  SimulatedGateway(const SimulatedGateway&) = delete;
  SimulatedGateway& operator=(const SimulatedGateway&) = delete;

  sim::GatewayModel gateway;
  ManualClock clock;
  sim::SimSerialPort port{gateway, clock};
  GatewaySession session{clock, port};
};

}  // namespace tv::test
