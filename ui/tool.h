// The process-wide state that every operation of the tool works on: the
// screen, the one SIM image and work state, the one serial port with the
// AT engine, the help file and the clock. One Tool is
// built by the program (or by a test) and handed to every menu operation.
#pragma once

#include <cstdint>
#include <string>

#include "core/sim_image.h"
#include "device/at_engine.h"
#include "device/clock.h"
#include "device/serial_port.h"
#include "screen/help_window.h"
#include "screen/screen.h"

namespace tv {

struct Tool {
  Tool(Screen& s, Clock& c, SerialPort& p) : screen(s), clock(c), port(p), at(p, c) {
    at.beforeWait = [this] { screen.NoteWait(); };
    // A line found hung up is no connection, whatever screen found it.
    at.onLineLost = [this] { state.deviceConnected = false; };
  }
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  Screen& screen;
  Clock& clock;
  SerialPort& port;
  HelpFile help;
  SimImage image;
  WorkState state;
  AtEngine at;
};

}  // namespace tv
