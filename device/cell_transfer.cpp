// Phonebook cell read and write over the AT exchange.
#include "device/cell_transfer.h"

#include <cstring>

#include "device/at_exchange.h"
#include "device/tool.h"

namespace tv {

namespace {
constexpr int ReadCellMaxLines = 64;

std::string_view Cut(std::string_view text) {
  return text.size() > static_cast<std::size_t>(TextMax) ? text.substr(0, TextMax) : text;
}

// The text after the quote at `open` up to the next quote (or the end);
// `after` receives the position behind the closing quote.
std::string_view QuotedFrom(std::string_view line, std::size_t open, std::size_t& after) {
  const std::size_t close = line.find('"', open + 1);
  if (close == std::string_view::npos) {
    after = line.size();
    return line.substr(open + 1);
  }
  after = close + 1;
  return line.substr(open + 1, close - open - 1);
}

int PutIndex(Tool& tool, int index, int offset) {
  const char digits[2] = {static_cast<char>('0' + index / 10), static_cast<char>('0' + index % 10)};
  return PutCommand(tool, std::string_view(digits, 2), offset);
}
}  // namespace

CpbrTexts ParseCpbrLine(std::string_view line) {
  CpbrTexts texts;
  std::size_t open = line.find('"');
  if (open == std::string_view::npos) return texts;
  std::size_t after = 0;
  texts.number = std::string(Cut(QuotedFrom(line, open, after)));
  open = line.find('"', after);
  if (open == std::string_view::npos) return texts;
  texts.name = std::string(Cut(QuotedFrom(line, open, after)));
  return texts;
}

int BuildReadCommand(Tool& tool, int index) {
  int n = PutCommand(tool, "AT+CPBR=", 0);
  n = PutIndex(tool, index, n);
  return PutCommand(tool, "\r", n);
}

int BuildWriteCommand(Tool& tool, int index) {
  int n = PutCommand(tool, "AT+CPBW=", 0);
  n = PutIndex(tool, index, n);
  n = PutCommand(tool, ",\"", n);
  n = PutCommand(tool, tool.image.CellNumber(index), n);
  n = PutCommand(tool, "\",129,\"", n);
  n = PutCommand(tool, tool.image.CellName(index), n);
  return PutCommand(tool, "\"\r", n);
}

void ParseCellReply(Tool& tool, int index) {
  const std::string_view line(tool.at.reply, strnlen(tool.at.reply, ReplyLineBytes));
  std::memset(tool.at.raw, 0, RawReplyBytes);
  const CpbrTexts texts = ParseCpbrLine(line);
  tool.image.SetCellNumber(index, texts.number);
  tool.image.SetCellName(index, texts.name);
  // Everything after "+CPBR:", then CR LF. The reply line holds at most 99
  // bytes, so this always fits.
  const std::string_view rest = line.size() > 6 ? line.substr(6) : std::string_view{};
  std::memcpy(tool.at.raw, rest.data(), rest.size());
  tool.at.raw[rest.size()] = '\r';
  tool.at.raw[rest.size() + 1] = '\n';
}

ReadStatus ReadCell(Tool& tool, int index) {
  tool.port.DiscardInput();
  SendCommand(tool, BuildReadCommand(tool, index));
  // A reply is a few lines (echo, "+CPBR:", blank lines, "OK"); a device
  // that keeps sending lines without ever ending with "OK" is given up as
  // one that does not answer.
  for (int line = 0; line < ReadCellMaxLines; ++line) {
    const ReadStatus status = ReadReplyLine(tool);
    if (status != ReadOk) return status;
    if (ReplyStartsWith(tool, "+CPBR:") == 0) ParseCellReply(tool, index);
    if (ReplyStartsWith(tool, "OK") == 0) return ReadOk;
  }
  return ReadTimeout;
}

bool ReadWriteAcknowledgement(Tool& tool) {
  for (int line = 0; line < 2; ++line)
    if (ReadReplyLine(tool) == ReadOk && ReplyStartsWith(tool, "OK") == 0) return true;
  return false;
}

int WriteCell(Tool& tool, int index) {
  if (tool.state.fileLoaded) return 0;
  SendCommand(tool, BuildWriteCommand(tool, index));
  int result = ReadTimeout;
  for (int line = 0; line < 3; ++line) {
    const ReadStatus status = ReadReplyLine(tool);
    if (status == ReadOk && ReplyStartsWith(tool, "OK") == 0) return 0;
    result = status == ReadOk ? 1 : status;
  }
  return result;
}

}  // namespace tv
