// What every menu operation works on: the screen and the help file, and the
// gateway session (gateway/session.h) held by reference. The image, the work
// state, the AT engine, the port and the clock are the session's, named here
// as the forms use them all the time.
#pragma once

#include <memory>

#include "gateway/session.h"
#include "screen/help_window.h"
#include "screen/screen.h"

namespace tv {

struct Tool {
  Tool(Screen& s, GatewaySession& g)
      : screen(s), session(g), clock(g.clock), port(g.port), image(g.image), state(g.state), at(g.at) {
    // The operator sees the screen as it stands while the device is awaited,
    // and the keys typed meanwhile are watched (Esc, Ctrl+C, blind typing).
    at.beforeWait = [this] { screen.NoteWait(); };
    at.whileWaiting = [this] { screen.WatchKeys(); };
  }
  // A tool with a session of its own on the port and clock (a test's rig).
  Tool(Screen& s, Clock& c, SerialPort& p) : Tool(s, *std::make_unique<GatewaySession>(c, p).release()) {
    owned_.reset(&session);
  }
  ~Tool() {
    at.beforeWait = nullptr;
    at.whileWaiting = nullptr;
  }
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

 private:
  std::unique_ptr<GatewaySession> owned_;

 public:
  Screen& screen;
  GatewaySession& session;
  Clock& clock;
  SerialPort& port;
  SimImage& image;
  WorkState& state;
  AtEngine& at;
  HelpFile help;
};

}  // namespace tv
