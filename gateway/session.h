// One gateway as the tool talks to it, without a screen: the serial port and
// the clock of this machine, the AT engine on them, the image of the SIM's
// 99 cells and the work state (which port and gateway, connected or not).
// The program builds one; the screens (ui/tool.h) and the scripted commands
// (app/command_line.h) both work on it.
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

namespace tv {

struct GatewaySession {
  GatewaySession(Clock& c, SerialPort& p) : clock(c), port(p), at(p, c) {
    // A line found hung up is no connection, whoever found it.
    at.onLineLost = [this] { state.deviceConnected = false; };
  }
  GatewaySession(const GatewaySession&) = delete;
  GatewaySession& operator=(const GatewaySession&) = delete;

  Clock& clock;
  SerialPort& port;
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
  // screens draw their status area anew then, not only after the connection).
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
