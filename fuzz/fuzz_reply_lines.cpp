// Device bytes -> reply-line framing -> "+CPBR:" parsing into the image and
// the raw reply, as a cell read does it.
#include <cstring>

#include "device/at_exchange.h"
#include "device/cell_transfer.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace tv;
  fuzz::BytesPort port(data, size);
  ManualClock clock;
  Screen screen;
  Tool tool(screen, clock, port);
  for (int i = 0; i < 64 && !port.AtEnd(); ++i) {
    if (ReadReplyLine(tool) != ReadOk) break;
    if (tool.at.reply[ReplyLineBytes - 1] != 0) __builtin_trap();  // the line must stay terminated
    if (ReplyStartsWith(tool, "+CPBR:") == 0) ParseCellReply(tool, 1 + i % 99);
    if (strnlen(tool.at.raw, RawReplyBytes) >= RawReplyBytes) __builtin_trap();
  }
  for (int cell = 1; cell <= 99; ++cell)
    if (tool.image.CellNumber(cell).size() > TextMax || tool.image.CellName(cell).size() > TextMax)
      __builtin_trap();
  return 0;
}
