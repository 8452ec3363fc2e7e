// Phonebook cell read and write over the AT engine.
#include "device/cell_transfer.h"

#include <cstdio>

#include "core/sim_image.h"
#include "cp866/literal.h"
#include "device/at_engine.h"

namespace tv {

namespace {

// A SIM that answers "busy" (right after power-on or a SIM swap) is given
// this long before the one more try.
constexpr Millis BusyPause{500};

// The text after the quote at `open` up to the next quote (or the end);
// `after` receives the position behind the closing quote.
std::string_view QuotedFrom(std::string_view line, std::size_t open, std::size_t& after, bool& closed) {
  const std::size_t close = line.find('"', open + 1);
  closed = close != std::string_view::npos;
  if (!closed) {
    after = line.size();
    return line.substr(open + 1);
  }
  after = close + 1;
  return line.substr(open + 1, close - open - 1);
}

std::string TwoDigits(int index) {
  return {static_cast<char>('0' + index / 10), static_cast<char>('0' + index % 10)};
}

CellResult Failure(CellOutcome outcome, std::string detail, bool heard) {
  return CellResult{outcome, std::move(detail), heard, {}};
}

}  // namespace

CpbrTexts ParseCpbrLine(std::string_view line) {
  CpbrTexts texts;
  static constexpr std::string_view kPrefix = "+CPBR:";
  if (line.substr(0, kPrefix.size()) == kPrefix) {
    std::size_t i = kPrefix.size();
    while (i < line.size() && line[i] == ' ') ++i;
    int index = 0;
    const std::size_t digits = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && index < 100000)
      index = index * 10 + (line[i++] - '0');
    if (i > digits && i < line.size() && line[i] == ',') texts.index = index;
  }
  std::size_t open = line.find('"');
  if (open == std::string_view::npos) return texts;
  std::size_t after = 0;
  bool closedNumber = false, closedName = false;
  texts.number = std::string(QuotedFrom(line, open, after, closedNumber));
  open = line.find('"', after);
  if (open == std::string_view::npos) return texts;
  texts.name = std::string(QuotedFrom(line, open, after, closedName));
  texts.complete = closedNumber && closedName;
  return texts;
}

std::string BuildReadCommand(int index) { return "AT+CPBR=" + TwoDigits(index) + "\r"; }

std::string BuildWriteCommand(int index, std::string_view number, std::string_view name) {
  std::string command = "AT+CPBW=" + TwoDigits(index) + ",\"";
  command += number;
  command += "\",129,\"";
  command += name;
  command += "\"\r";
  return command;
}

std::string BuildWriteCommand(const SimImage& image, int index) {
  return BuildWriteCommand(index, image.CellNumber(index), image.CellName(index));
}

int ExchangeErrorOf(const CellResult& result) {
  switch (result.outcome) {
    case CellOutcome::Refused:
    case CellOutcome::WrongReply: return xerr::BadReply;
    default: return xerr::NoAnswer;
  }
}

std::string DescribeFailure(int index, const CellResult& result) {
  char text[64];
  std::snprintf(text, sizeof text, "Ячейка %02d: "_cp, index);
  std::string out = text;
  switch (result.outcome) {
    case CellOutcome::NoAnswer: return out + "нет ответа"_cp;
    case CellOutcome::LineLost: return out + "линия связи потеряна"_cp;
    default: return out + result.detail;
  }
}

CellResult ReadCell(AtEngine& at, SimImage& image, int index) {
  CellResult result;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0 && result.outcome != CellOutcome::NoAnswer) at.AwaitQuiet();
    const AtReply reply = at.Run(BuildReadCommand(index), "+CPBR:", CellReadBound);
    result.heard = result.heard || reply.heard;
    if (reply.status == AtStatus::Failed) return Failure(CellOutcome::LineLost, {}, result.heard);
    if (reply.status == AtStatus::Timeout) {
      result = Failure(CellOutcome::NoAnswer, {}, result.heard);
      continue;
    }
    if (reply.status == AtStatus::Error || reply.lines.empty()) {
      if (reply.status == AtStatus::Ok || IsNotFound(reply.finalLine)) {
        // An empty location: the image follows the SIM, whatever it held.
        image.SetCellNumber(index, {});
        image.SetCellName(index, {});
        return CellResult{CellOutcome::Empty, {}, result.heard, {}};
      }
      result = Failure(CellOutcome::Refused, reply.finalLine, result.heard);
      if (!IsBusy(reply.finalLine)) return result;
      at.clock().Sleep(BusyPause);
      continue;
    }
    // One entry asked for, one "+CPBR:" line with its index and four quotes;
    // anything else is not this cell's entry.
    const CpbrTexts texts = ParseCpbrLine(reply.lines.back());
    if (reply.lines.size() != 1 || texts.index != index || !texts.complete) {
      std::string detail;
      if (reply.lines.size() != 1)
        detail = std::to_string(reply.lines.size()) + " ответа вместо одного"_cp;
      else if (texts.index != index)
        detail = "ответ для ячейки "_cp + std::to_string(texts.index);
      else
        detail = "ответ искажен"_cp;
      result = Failure(CellOutcome::WrongReply, std::move(detail), result.heard);
      continue;
    }
    image.SetCellNumber(index, texts.number);
    image.SetCellName(index, texts.name);
    // Everything after "+CPBR:", then CR LF: the line of a settings file.
    return CellResult{CellOutcome::Done, {}, result.heard, reply.lines.back().substr(6) + "\r\n"};
  }
  return result;
}

CellResult SendCellWrite(AtEngine& at, std::string_view command) {
  CellResult result;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const AtReply reply = at.Run(command, {}, CellWriteBound);
    result.heard = result.heard || reply.heard;
    switch (reply.status) {
      case AtStatus::Ok: return CellResult{CellOutcome::Done, {}, result.heard, {}};
      case AtStatus::Failed: return Failure(CellOutcome::LineLost, {}, result.heard);
      case AtStatus::Timeout: result = Failure(CellOutcome::NoAnswer, {}, result.heard); break;
      case AtStatus::Error:
        result = Failure(CellOutcome::Refused, reply.finalLine, result.heard);
        if (!IsBusy(reply.finalLine)) return result;
        at.clock().Sleep(BusyPause);
        break;
    }
  }
  return result;
}

CellResult WriteCell(AtEngine& at, const SimImage& image, int index) {
  return SendCellWrite(at, BuildWriteCommand(image, index));
}

bool WriteTally::Add(const CellResult& result) {
  switch (result.outcome) {
    case CellOutcome::Done: ++taken; break;
    case CellOutcome::Refused: ++refused; break;
    case CellOutcome::LineLost: ++unanswered; return true;
    default: ++unanswered; break;
  }
  unansweredInARow = result.outcome == CellOutcome::NoAnswer ? unansweredInARow + 1 : 0;
  return unansweredInARow >= 2;
}

}  // namespace tv
