// The balance query's screen: the network's answer to the USSD request
// (gateway/network_services.h), or what came instead, until a key. The wait
// ends by its bound at the latest, with a message instead of the answer; Esc
// leaves it at once.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/network_replies.h"
#include "core/pad_text.h"
#include "gateway/network_services.h"
#include "screen/screen.h"
#include "ui/commands.h"
#include "ui/exchange_error.h"
#include "ui/status_area.h"
#include "ui/tool.h"

namespace tv {

namespace {

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

// On the frame's bottom row while the answer is awaited.
constexpr int WaitHintY = 24;
constexpr const char* kWaitKey = "ESC";
constexpr const char* kWaitText = "-Прервать ожидание ответа сети"_cp;

void Put(Screen& s, const Text& t) { s.PutTextAttr(t.x, t.y, PadRight(t.text, t.width).c_str(), t.attr); }

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
  const std::optional<UssdAnswer> awaited = AskBalance(tool.session, sessionOpen, [&s] { return s.EscPressed(); });
  s.RestoreRect(1, WaitHintY, ScreenWidth, WaitHintY, frameRow);
  // A session the network still holds open (a menu awaiting a choice) is
  // ended too: the next request would otherwise be taken as the choice.
  if (sessionOpen && (!awaited || !awaited->isText || awaited->networkWaits)) EndUssdSession(tool.session);
  if (!awaited) return;  // Esc: the operator left the wait
  const UssdAnswer& answer = *awaited;

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
