// The process-wide state that every operation of the tool works on: the
// screen, the one SIM image and work state, the one serial port with the
// AT engine, the help file and the clock. One Tool is
// built by the program (or by a test) and handed to every menu operation.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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
    at.whileWaiting = [this] { screen.WatchKeys(); };
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

  // How the phonebook travels. A gateway whose modem mishandles the range
  // form can be read cell by cell (TARVELIN_READ=cells, --cell-by-cell), and
  // File to SIM can write every line instead of the differing ones
  // (TARVELIN_WRITE=all, restore --all).
  bool cellByCell = false;
  bool writeAll = false;
  // Per connection: cleared when a range read did not fit a range reply.
  bool rangeReads = true;
  // The settings-file lines of the whole book as last read (index 1..99),
  // true while no command has been sent since (bookAt).
  std::vector<std::string> bookLines;
  uint64_t bookAt = 0;
  bool BookFresh() const { return !bookLines.empty() && bookAt == at.CommandsSent(); }

  // Called once the lines select the gateway of state.gatewayIndex (the
  // status area is drawn anew then, not only after the connection).
  std::function<void()> linesSwitched;

  // The settings of the environment: TARVELIN_READ=cells, TARVELIN_WRITE=all.
  void TakeExchangeSettings() {
    const char* read = std::getenv("TARVELIN_READ");
    const char* write = std::getenv("TARVELIN_WRITE");
    cellByCell = read && std::string_view(read) == "cells";
    writeAll = write && std::string_view(write) == "all";
  }
};

}  // namespace tv
