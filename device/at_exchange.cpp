// Command building, sending, reply-line framing and matching.
#include "device/at_exchange.h"

#include <cstring>

#include "device/tool.h"

namespace tv {

int PutCommand(Tool& tool, std::string_view text, int offset) {
  for (char c : text) {
    if (offset >= CommandBufferBytes) break;
    tool.at.command[offset++] = static_cast<uint8_t>(c);
  }
  return offset;
}

void SendCommand(Tool& tool, int count) {
  if (count > CommandBufferBytes) count = CommandBufferBytes;
  tool.port.WriteBytes(tool.at.command, static_cast<std::size_t>(count));
}

ReadStatus ReadReplyLine(Tool& tool) {
  tool.screen.Present();
  return FrameReplyLine(tool.at.reply, ReplyLineBytes, [&tool](uint8_t& b) { return tool.port.ReadByte(b); });
}

ReadStatus ReadReplyLineBefore(Tool& tool, Clock::TimePoint deadline, char* line, int lineBytes) {
  tool.screen.Present();
  return FrameReplyLine(line, lineBytes, [&](uint8_t& b) {
    if (tool.clock.Now() >= deadline) return ReadTimeout;
    return tool.port.ReadByte(b);
  });
}

int ReplyStartsWith(const Tool& tool, std::string_view text) {
  const std::size_t len = strnlen(tool.at.reply, ReplyLineBytes);
  if (text.size() > len) return 1;
  return std::memcmp(tool.at.reply, text.data(), text.size()) == 0 ? 0 : 1;
}

}  // namespace tv
