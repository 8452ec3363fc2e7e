// One tool on a scripted modem with scripted keys, for the screens that need
// reply forms the simulated gateway does not make. Connected unless asked
// otherwise. Its parts bind by name:  auto& [keys, s, clk, p, t] = rig;
#pragma once

#include <vector>

#include "tests/support/scripted_console.h"
#include "tests/support/scripted_modem.h"
#include "ui/tool.h"

namespace tv::test {

struct ScriptedTool {
  explicit ScriptedTool(std::vector<KeyPress> script = {}, bool connected = true) : keys(std::move(script)) {
    t.state.deviceConnected = connected;
  }
  ScriptedTool(const ScriptedTool&) = delete;
  ScriptedTool& operator=(const ScriptedTool&) = delete;

  ScriptedConsole keys;
  Screen s{&keys};
  ManualClock clk;
  ScriptedModem p{clk};
  Tool t{s, clk, p};
};

}  // namespace tv::test
