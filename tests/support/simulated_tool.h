// One tool on the simulated gateway (tests/support/simulated_gateway.h), with
// the keys of a scripted console of the test's choosing (one that records
// the screen at every key wait, say). The port is not opened and nothing is
// connected: each rig built on it says what its tests start from.
#pragma once

#include "tests/support/scripted_console.h"
#include "tests/support/simulated_gateway.h"
#include "ui/tool.h"

namespace tv::test {

template <typename ConsoleT = ScriptedConsole>
struct SimulatedTool : SimulatedGateway {
  ConsoleT console;
  Screen screen{&console};
  Tool tool{screen, session};
};

}  // namespace tv::test
