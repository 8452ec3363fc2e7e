// The balance query: a USSD request through the gateway's modem and the
// network's answer on the screen.
//
//   AT+CUSD=1,"#100#",15\r  ->  OK, 1 to 5 s later  +CUSD: 0,"04110430043B0430043D0441",72
//
// The answer often comes after OK, sometimes before it, and some networks
// first send an empty +CUSD: 0,"". Russian networks answer in UCS2, which
// the modem hands over as hex digits. The wait ends after UssdWait at the
// latest, with a message instead of the answer.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "commands/commands.h"
#include "commands/network_replies.h"
#include "device/at_exchange.h"
#include "device/exchange_error.h"
#include "device/tool.h"
#include "screen/pad_text.h"
#include "screen/screen.h"

namespace tv {

namespace {

// An answer typically takes 5 s and now and then much longer.
constexpr Millis UssdWait{60000};

// A UCS2 answer of 80 characters is 320 hex digits: more than the shared
// 100-byte reply line holds, so the answer is read into a line of its own.
constexpr int AnswerLineBytes = 1024;

constexpr const char* kRequest = "AT+CUSD=1,\"#100#\",15\r";

// --- the screen, as the operator sees it ---
constexpr int AnswerX = 40, AnswerY = 8;
constexpr int AnswerPad = 32;                  // a shorter answer is padded to this
constexpr int AnswerWidth = 77 - AnswerX + 1;  // up to the frame at column 78
constexpr int AnswerLastRow = 21;              // keeps the prompt inside the frame
constexpr int PromptX = 40, PromptY = 10;

struct Text {
  int x, y;
  const char* text;
  int width;
  uint8_t attr;
};
constexpr Text kTitle = {24, 2, " Запрос и выдача на экран баланса "_cp, 0, ColorNormal};
constexpr Text kLabel = {10, 8, "Текущий баланц"_cp, 31, ColorNormal};
constexpr Text kWaiting = {AnswerX, AnswerY, "Выполняется запрос баланса"_cp, AnswerPad, ColorPanel};
constexpr const char* kPrompt = "Для продолжения нажмите любую клавишу"_cp;  // ColorNormal

// Messages instead of an answer, at (40,8) in ColorAlert, 32 wide.
constexpr const char* kNoAnswer = "Нет ответа от сети"_cp;
constexpr const char* kNotSupported = "Запрос не поддерживается сетью"_cp;
constexpr const char* kNoText = "Сеть завершила запрос без ответа"_cp;
constexpr const char* kEmptyText = "Сеть прислала пустой ответ"_cp;
constexpr const char* kRefused = "Запрос отклонен: "_cp;  // followed by the modem's line

void Put(Screen& s, const Text& t) { s.PutTextAttr(t.x, t.y, PadRight(t.text, t.width).c_str(), t.attr); }

struct Answer {
  bool isText = false;
  std::string text;  // cp866: the network's text, or the message
};

Answer Message(std::string text) { return Answer{false, std::move(text)}; }

Answer AwaitAnswer(Tool& tool) {
  const Clock::TimePoint deadline = tool.clock.Now() + UssdWait;
  char line[AnswerLineBytes];
  bool emptySeen = false;
  for (;;) {
    const ReadStatus status = ReadReplyLineBefore(tool, deadline, line, AnswerLineBytes);
    if (status != ReadOk) {
      if (tool.clock.Now() >= deadline) return Message(emptySeen ? kEmptyText : kNoAnswer);
      if (status == ReadFailed) tool.clock.Sleep(ByteReadTimeout);
      continue;
    }
    const std::string_view first(line);
    if (IsErrorAnswer(first)) return Message(std::string(kRefused) + ScreenSafeText(first));
    CusdReply reply = ParseCusdLine(first);
    if (reply.kind == CusdKind::NotCusd) continue;  // echo, OK, unsolicited lines
    // A text answer with line breaks arrives as several lines: the rest of
    // it follows at once, up to the closing quote.
    std::string joined(first);
    while (!reply.closed && ReadReplyLineBefore(tool, deadline, line, AnswerLineBytes) == ReadOk) {
      joined += '\n';
      joined += line;
      reply = ParseCusdLine(joined);
    }
    switch (reply.kind) {
      case CusdKind::Text: return Answer{true, DecodeUssdText(reply.text, reply.dcs)};
      case CusdKind::EmptyText:
        emptySeen = true;  // some phones send an empty answer first
        continue;
      case CusdKind::NotSupported: return Message(kNotSupported);
      case CusdKind::NetworkTimeout: return Message(kNoAnswer);
      case CusdKind::NoText:
      case CusdKind::NotCusd: return Message(kNoText);
    }
  }
}

// The answer from (40,8), written whole: short answers padded to 32, long
// ones wrapped at the frame and cut at row 21. Returns the last row used.
int ShowAnswer(Screen& s, const std::string& text) {
  const std::vector<std::string> rows =
      WrapText(ScreenSafeText(text), AnswerWidth, AnswerLastRow - AnswerY + 1);
  if (rows.empty()) {
    s.PutText(AnswerX, AnswerY, PadRight("", AnswerPad).c_str());
    return AnswerY;
  }
  int y = AnswerY;
  for (const std::string& row : rows) {
    s.SetCursor(AnswerX, y);
    for (char c : y == AnswerY ? PadRight(row, AnswerPad) : row) s.WriteChar(static_cast<uint8_t>(c));
    ++y;
  }
  return y - 1;
}

}  // namespace

void BalanceQuery(Tool& tool) {
  Screen& s = tool.screen;
  if (!tool.state.deviceConnected) {
    ShowExchangeError(s, xerr::NoPort);
    return;
  }
  s.SetAttribute(ColorNormal);
  s.ClearScreen();
  s.DrawFrame(2, 2, 78, 24, line::DoubleHorizontal);
  Put(s, kTitle);
  Put(s, kLabel);
  Put(s, kWaiting);

  tool.port.DiscardInput();
  SendCommand(tool, PutCommand(tool, kRequest, 0));
  const Answer answer = AwaitAnswer(tool);

  int lastRow = AnswerY;
  if (answer.isText) {
    lastRow = ShowAnswer(s, answer.text);
  } else {
    std::string message = ScreenSafeText(answer.text);
    if (static_cast<int>(message.size()) > AnswerWidth) message.resize(AnswerWidth);
    s.PutTextAttr(AnswerX, AnswerY, PadRight(message, AnswerPad).c_str(), ColorAlert);
  }
  const int promptRow = lastRow + 2 > PromptY ? lastRow + 2 : PromptY;
  s.PutText(PromptX, promptRow, kPrompt);
  // Any key ends the screen; an extended key is taken whole, so that its
  // scan code does not reach the menu as a character.
  s.ReadKeyCode();
}

}  // namespace tv
