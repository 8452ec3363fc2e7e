// The simulated gateway opened on a manual clock with an AT engine on it,
// and the odd phonebook the read and comparison tests share.
#pragma once

#include <functional>
#include <string>

#include "device/at_engine.h"
#include "device/clock.h"
#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"

namespace tv::test {

struct OnSim {
  explicit OnSim(const std::function<void(sim::GatewayOptions&)>& setup = {}) : model(Options(setup)) {
    port.Open(0);
  }
  static sim::GatewayOptions Options(const std::function<void(sim::GatewayOptions&)>& setup) {
    sim::GatewayOptions options;
    if (setup) setup(options);
    return options;
  }
  sim::GatewayModel model;
  ManualClock clock;
  sim::SimSerialPort port{model, clock};
  AtEngine at{port, clock};
};

// The SIM of the tests: '@' as byte 0 in both texts, texts longer than a
// cell holds, a type 145 number, a comma and blanks in a name, empty cells
// at the start, inside and at the end.
inline void OddBook(sim::GatewayModel& model) {
  model.SetEntry(2, "12@3", "@home");
  model.SetEntry(3, "+79031112233", "a, b  c");
  model.SetEntry(4, std::string(60, '7'), std::string(60, 'N'));
  model.SetEntry(5, "@", "a@b@");
  model.SetEntry(6, "", "");
  model.SetEntry(7, "1", std::string(47, 'Z'));
  for (int i : {1, 10, 50, 97, 99}) model.EraseEntry(i);
}

}  // namespace tv::test
