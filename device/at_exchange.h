// The AT command exchange: commands are built in the shared command buffer
// and sent as their first N bytes; replies are read one line at a time into
// the shared reply line and matched by their beginning.
#pragma once

#include <cstdint>
#include <string_view>

#include "device/clock.h"
#include "device/serial_port.h"

namespace tv {

struct Tool;

// Copies text (no terminator) into the command buffer at offset; returns the
// offset after it. Text that would not fit is cut at the end of the buffer.
int PutCommand(Tool& tool, std::string_view text, int offset);
void SendCommand(Tool& tool, int count);

// Reads one line into the reply line: the bytes up to the next line feed,
// carriage returns left out. A line longer than the buffer keeps its first
// 99 bytes; the rest of it, up to its line feed, is dropped.
ReadStatus ReadReplyLine(Tool& tool);

// A reply-line read for the waits that are bounded in time (network
// commands): reads one line into line (lineBytes long) like ReadReplyLine,
// but a byte that would arrive after the deadline is not waited for, so even
// a device that never stops sending cannot hold the screen.
ReadStatus ReadReplyLineBefore(Tool& tool, Clock::TimePoint deadline, char* line, int lineBytes);

// 0 when the reply line begins with text, otherwise 1.
int ReplyStartsWith(const Tool& tool, std::string_view text);

// A line that has not ended after this many bytes is given up as if the
// device had fallen silent: a noisy line that never brings a line feed must
// not hold the tool.
inline constexpr int LineGiveUpBytes = 4096;

// The framing itself, for any byte source: fills line (lineBytes long,
// zero-filled first) as ReadReplyLine does.
template <typename ByteSource>
ReadStatus FrameReplyLine(char* line, int lineBytes, ByteSource&& next) {
  for (int i = 0; i < lineBytes; ++i) line[i] = 0;
  int pos = 0;
  for (int received = 0; received < LineGiveUpBytes; ++received) {
    uint8_t byte = 0;
    ReadStatus status = next(byte);
    if (status != ReadOk) return status;
    if (byte == '\r') continue;
    if (byte == '\n') return ReadOk;
    if (pos < lineBytes - 1) line[pos++] = static_cast<char>(byte);
  }
  return ReadTimeout;
}

}  // namespace tv
