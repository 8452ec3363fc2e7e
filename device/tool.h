// The process-wide state that every operation of the tool works on: the
// screen, the one SIM image and work state, the one serial port with the
// shared command and reply buffers, the help file and the clock. One Tool is
// built by the program (or by a test) and handed to every menu operation.
#pragma once

#include <cstdint>

#include "device/clock.h"
#include "device/serial_port.h"
#include "image/core/sim_image.h"
#include "screen/help_window.h"
#include "screen/screen.h"

namespace tv {

// Holds the longest command: a cell write with both texts at 47 characters
// (115 bytes), with room to spare.
inline constexpr int CommandBufferBytes = 128;
inline constexpr int ReplyLineBytes = 100;  // 99 characters and a zero byte
inline constexpr int RawReplyBytes = 256;

struct AtBuffers {
  uint8_t command[CommandBufferBytes] = {};
  char reply[ReplyLineBytes] = {};  // the last reply line, zero-filled behind it
  char raw[RawReplyBytes] = {};     // the last "+CPBR:" line from its seventh byte, CR LF
};

struct Tool {
  Tool(Screen& s, Clock& c, SerialPort& p) : screen(s), clock(c), port(p) {}
  Tool(const Tool&) = delete;
  Tool& operator=(const Tool&) = delete;

  Screen& screen;
  Clock& clock;
  SerialPort& port;
  HelpFile help;
  SimImage image;
  WorkState state;
  AtBuffers at;
};

}  // namespace tv
