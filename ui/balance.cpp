// The balance query: a USSD request through the gateway's modem and the
// network's answer on the screen.
//
//   AT+CUSD=1,"#100#",15\r  ->  OK, 1 to 5 s later  +CUSD: 0,"04110430043B0430043D0441",72
//
// The answer often comes after OK, sometimes before it, and some networks
// first send an empty +CUSD: 0,"". Russian networks answer in UCS2, which
// the modem hands over as hex digits. The wait ends after UssdWait at the
// latest, with a message instead of the answer; Esc leaves it at once.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/network_replies.h"
#include "core/pad_text.h"
#include "device/at_engine.h"
#include "screen/screen.h"
#include "ui/commands.h"
#include "ui/exchange_error.h"
#include "ui/tool.h"
#include "ui/status_area.h"

namespace tv {

namespace {

// An answer typically takes 5 s and now and then much longer.
constexpr Millis UssdWait{60000};

constexpr const char* kRequest = "AT+CUSD=1,\"#100#\",15\r";
constexpr const char* kEndSession = "AT+CUSD=2\r";
constexpr Millis EndSessionWait{2000};

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
constexpr const char* kLineLost = "линия связи потеряна"_cp;

// On the frame's bottom row while the answer is awaited.
constexpr int WaitHintY = 24;
constexpr const char* kWaitKey = "ESC";
constexpr const char* kWaitText = "-Прервать ожидание ответа сети"_cp;

void Put(Screen& s, const Text& t) { s.PutTextAttr(t.x, t.y, PadRight(t.text, t.width).c_str(), t.attr); }

struct Answer {
  bool isText = false;
  std::string text;           // cp866: the network's text, or the message
  bool networkWaits = false;  // +CUSD: 1: the network holds the session open for a reply
};

Answer Message(std::string text) { return Answer{false, std::move(text)}; }

// A "+CUSD:" line as the answer, the lines of a text with line breaks
// joined (the rest follows at once, up to the closing quote). nullopt when
// it is a phone's empty first answer: the real one follows.
std::optional<Answer> TakeCusd(Tool& tool, std::string line, Clock::TimePoint deadline) {
  CusdReply reply = ParseCusdLine(line);
  while (!reply.closed) {
    const auto more = tool.at.AwaitUnsolicited("", deadline, {});
    if (!more) break;
    line += '\n';
    line += *more;
    reply = ParseCusdLine(line);
  }
  switch (reply.kind) {
    case CusdKind::Text: return Answer{true, DecodeUssdText(reply.text, reply.dcs), reply.status == 1};
    case CusdKind::EmptyText: return std::nullopt;
    case CusdKind::NotSupported: return Message(kNotSupported);
    case CusdKind::NetworkTimeout: return Message(kNoAnswer);
    case CusdKind::NoText:
    case CusdKind::NotCusd: break;
  }
  return Message(kNoText);
}

// Sends the request and waits for its answer: in the request's own reply
// (before its OK) or after it. Only a "+CUSD:" that comes after the request
// was sent counts; one set aside earlier answers an earlier request.
// nullopt when the operator left the wait with Esc. sessionOpen tells
// whether the network may still answer (the request was taken).
std::optional<Answer> AwaitAnswer(Tool& tool, bool& sessionOpen) {
  const Clock::TimePoint deadline = tool.clock.Now() + UssdWait;
  const auto esc = [&tool] { return tool.screen.EscPressed(); };
  const AtReply request = tool.at.RunUntilAnswer(kRequest, "+CUSD:", UssdWait, esc);
  if (request.stopped) {
    sessionOpen = true;  // the request may have reached the network
    return std::nullopt;
  }
  if (request.status == AtStatus::Error)
    return Message(std::string(kRefused) + ScreenSafeText(request.finalLine));
  if (request.status == AtStatus::Failed) return Message(kLineLost);
  if (request.status != AtStatus::Ok) return Message(kNoAnswer);
  sessionOpen = true;
  bool emptySeen = false;
  for (const std::string& line : request.lines) {
    if (auto answer = TakeCusd(tool, line, deadline)) return answer;
    emptySeen = true;
  }
  for (;;) {
    const auto line = tool.at.AwaitUnsolicited("+CUSD:", deadline, esc);
    if (!line) {
      if (tool.port.Lost()) return Message(kLineLost);
      if (tool.clock.Now() < deadline) return std::nullopt;  // Esc
      return Message(emptySeen ? kEmptyText : kNoAnswer);
    }
    if (auto answer = TakeCusd(tool, *line, deadline)) return answer;
    emptySeen = true;  // some phones send an empty answer first
  }
}

// A request given up or left: the network session is ended, so that its
// late answer cannot come as the answer to the next request. What still
// comes meanwhile is set aside.
void EndUssdSession(Tool& tool) {
  if (tool.port.Lost()) return;
  tool.at.Run(kEndSession, {}, EndSessionWait);
  tool.at.AwaitQuiet();
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
  DrawStatusArea(tool, ColorPanel);
  s.DrawFrame(2, 2, 78, 24, line::DoubleHorizontal);
  Put(s, kTitle);
  Put(s, kLabel);
  Put(s, kWaiting);

  // The wait may take a minute: the frame's bottom row says how to leave it.
  uint8_t frameRow[ScreenWidth * 2];
  s.SaveRect(1, WaitHintY, ScreenWidth, WaitHintY, frameRow);
  s.PutTextAttr(4, WaitHintY, kWaitKey, ColorHintKey);
  s.PutTextAttr(7, WaitHintY, kWaitText, ColorPanel);
  bool sessionOpen = false;
  const std::optional<Answer> awaited = AwaitAnswer(tool, sessionOpen);
  s.RestoreRect(1, WaitHintY, ScreenWidth, WaitHintY, frameRow);
  // A session the network still holds open (a menu awaiting a choice) is
  // ended too: the next request would otherwise be taken as the choice.
  if (sessionOpen && (!awaited || !awaited->isText || awaited->networkWaits)) EndUssdSession(tool);
  if (!awaited) return;  // Esc: the operator left the wait
  const Answer& answer = *awaited;

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
  // scan code does not reach the menu as a character. Keys pressed while the
  // answer was awaited do not count: the answer must stay to be read.
  s.DiscardTypeahead();
  s.ReadKeyCode();
}

}  // namespace tv
