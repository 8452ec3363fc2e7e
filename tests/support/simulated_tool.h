// One tool on the simulated gateway, on a manual clock, with the keys of a
// scripted console of the test's choosing (one that records the screen at
// every key wait, say). The port is not opened and nothing is connected:
// each rig built on it says what its tests start from.
#pragma once

#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"
#include "tests/support/scripted_console.h"
#include "ui/tool.h"

namespace tv::test {

template <typename ConsoleT = ScriptedConsole>
struct SimulatedTool {
  // The tests that spell out every command on the wire follow the
  // cell-by-cell exchange, every line of a file written; the range reads and
  // the writes of what differs have tests of their own, which clear these.
  SimulatedTool() {
    tool.cellByCell = true;
    tool.writeAll = true;
  }
  SimulatedTool(const SimulatedTool&) = delete;
  SimulatedTool& operator=(const SimulatedTool&) = delete;

  sim::GatewayModel gateway;
  ConsoleT console;
  Screen screen{&console};
  ManualClock clock;
  sim::SimSerialPort port{gateway, clock};
  Tool tool{screen, clock, port};
};

}  // namespace tv::test
