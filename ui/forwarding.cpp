// The call-forwarding screen: asks the network for the state of unconditional
// and no-reply forwarding through the gateway's modem (gateway/
// network_services.h), switches each on and off, and edits the forwarding
// number (cell 99) and the no-reply delay (positions 4 and 5 of the mode
// string in cell 98). Every wait ends by its bound at the latest, or at once
// on Esc; a service whose state the network did not report is shown as
// unknown, never as on or off.
#include <cstring>
#include <string>
#include <string_view>

#include "core/network_replies.h"
#include "core/pad_text.h"
#include "core/settings_model.h"
#include "gateway/network_services.h"
#include "screen/form_grid.h"
#include "screen/help_window.h"
#include "screen/screen.h"
#include "ui/cell_fields.h"
#include "ui/commands.h"
#include "ui/exchange_error.h"
#include "ui/status_area.h"
#include "ui/tool.h"

namespace tv {

namespace {

constexpr Millis InvalidNumberShown{2500};
constexpr int ShortestNumber = 3;

// --- the screen, as the operator sees it ---
constexpr int FieldX = 40;       // every field and message starts here
constexpr int StateWidth = 34;   // state texts and the query messages
constexpr int PromptWidth = 32;  // questions, progress and error texts
constexpr int NumberWidth = ForwardNumberWidth;
constexpr int RowUnconditional = 8, RowNoReply = 10, RowNumber = 12, RowDelay = 14;
constexpr int HelpTopicFirst = 40;  // topics 40..43 for grid rows 1..4

struct Text {
  int x, y;
  const char* text;
};
constexpr Text kFixedTexts[] = {
    {24, 2, " Переадресация вызова "_cp},
    {10, RowUnconditional, "Переадресация безусловная"_cp},
    {10, RowNoReply, "Переадресация по <НЕТ ОТВЕТА>"_cp},
    {10, RowNumber, "Номер переадресации"_cp},
    {10, RowDelay, "Время задержки переадресации"_cp},
    {43, RowDelay, "с"_cp},
};

// At column 40 of a service's row:
constexpr const char* kQueryUnconditional = "Запрос безусловной переадресации"_cp; // ColorPanel, 34
constexpr const char* kQueryNoReply = "Запрос переадресации по неответу"_cp;      // ColorPanel, 34
constexpr const char* kOn = "Включена"_cp;                                        // ColorNormal, 34
constexpr const char* kOff = "Выключена"_cp;                                      // ColorNormal, 34
constexpr const char* kNoAnswer = "Состояние неизвестно (нет ответа)"_cp;         // ColorAlert, 34
constexpr const char* kRefused = "Состояние неизвестно (отказ сети)"_cp;          // ColorAlert, 34
constexpr const char* kLeft = "Состояние неизвестно (прервано)"_cp;              // ColorAlert, 34
constexpr const char* kLineLost = "линия связи потеряна"_cp;                      // ColorAlert, 34
constexpr const char* kAskOff = "Выключить переадресацию? [Y/N]"_cp;              // ColorPanel, 32
constexpr const char* kAskOn = "Включить переадресацию? [Y/N]"_cp;                // ColorPanel, 32
constexpr const char* kSwitchingOff = "Идет выключение переадресации"_cp;         // ColorPanel, 32
constexpr const char* kSwitchingOn = "Идет включение переадресации"_cp;           // ColorPanel, 32
constexpr const char* kInvalidNumber = "Неверный номер переадресации"_cp;         // ColorAlert, 32
// Beside the delay while it is edited; in ColorAlert while the typed value is outside it.
constexpr const char* kDelayRange = ForwardDelayRange;
constexpr int DelayRangeX = 46;
// Row 24 while the network is waited for.
constexpr const char* kWaitKey = "ESC";
constexpr const char* kWaitText = "-Прервать ожидание ответа сети"_cp;

// What the network last said about a service. Unknown states count as off
// for Enter (it offers to switch on), but are never shown as off.
enum class ServiceState { Off, On, NoAnswer, Refused, Left, LineLost };

struct Service {
  int reason;
  int y;
  const char* queryText;
  ServiceState state = ServiceState::Off;
};

struct Form {
  Tool& tool;
  FormGrid grid{1, 1, {FieldX}, {RowUnconditional, RowNoReply, RowNumber, RowDelay}};
  Service services[2] = {{ForwardUnconditional, RowUnconditional, kQueryUnconditional},
                         {ForwardNoReply, RowNoReply, kQueryNoReply}};
};

void PutField(Screen& s, int y, const char* text, int width, uint8_t attr) {
  s.PutTextAttr(FieldX, y, PadRight(text, width).c_str(), attr);
}

void ShowState(Screen& s, const Service& service) {
  switch (service.state) {
    case ServiceState::On: PutField(s, service.y, kOn, StateWidth, ColorNormal); break;
    case ServiceState::Off: PutField(s, service.y, kOff, StateWidth, ColorNormal); break;
    case ServiceState::NoAnswer: PutField(s, service.y, kNoAnswer, StateWidth, ColorAlert); break;
    case ServiceState::Refused: PutField(s, service.y, kRefused, StateWidth, ColorAlert); break;
    case ServiceState::Left: PutField(s, service.y, kLeft, StateWidth, ColorAlert); break;
    case ServiceState::LineLost: PutField(s, service.y, kLineLost, StateWidth, ColorAlert); break;
  }
}

// --- the exchange ---

using Outcome = ServiceOutcome;

// The state a service is in when a command about it got no decision.
ServiceState Undecided(Outcome outcome) {
  switch (outcome) {
    case Outcome::Left: return ServiceState::Left;
    case Outcome::Lost: return ServiceState::LineLost;
    default: return ServiceState::NoAnswer;
  }
}

// Row 24 says how to leave the wait for the network.
StopRequest WaitWithEsc(Screen& s) {
  s.PutTextAttr(4, 24, PadRight(kWaitKey, 3).c_str(), ColorHintKey);
  s.PutTextAttr(7, 24, PadRight(kWaitText, 70).c_str(), ColorPanel);
  return [&s] { return s.EscPressed(); };
}

Outcome Exchange(Tool& tool, const std::string& command) {
  return RunForwardingCommand(tool.session, command, WaitWithEsc(tool.screen));
}

Outcome QueryService(Form& f, Service& service) {
  Tool& tool = f.tool;
  PutField(tool.screen, service.y, service.queryText, StateWidth, ColorPanel);
  const ForwardingState asked = QueryForwarding(tool.session, service.reason, WaitWithEsc(tool.screen));
  const Outcome outcome = asked.outcome;
  const bool active = asked.active;
  // A reported active line counts even when the final OK did not come.
  if (active)
    service.state = ServiceState::On;
  else if (outcome == Outcome::Ok)
    service.state = ServiceState::Off;
  else
    service.state = outcome == Outcome::Error ? ServiceState::Refused : Undecided(outcome);
  ShowState(tool.screen, service);
  return outcome;
}

void ShowDelay(Form& f) {
  Screen& s = f.tool.screen;
  s.SetCursor(FieldX, RowDelay);
  for (int i = 0; i < 2; ++i) {
    const auto c = static_cast<uint8_t>(f.tool.image.ModeChar(ForwardDelay + i));
    s.WriteChar(c < 0x20 ? ' ' : c);
  }
}

// The number and delay rows; the form's current row stays where it was.
void ShowNumberAndDelay(Form& f) {
  const int row = f.grid.row;
  f.grid.row = 3;
  ShowNumberField(f.tool, f.grid, ForwardCell, NumberWidth, ColorNormal);
  f.grid.row = 4;
  ShowDelay(f);
  f.grid.row = row;
}

// When the network leaves the first query unanswered for the whole wait (or
// the line is gone), the second is not asked: it would only keep the
// operator waiting as long again. Its state is then unknown as well.
// False when the operator left the wait with Esc: the screen is left.
bool RefreshForwarding(Form& f) {
  const Outcome first = QueryService(f, f.services[0]);
  if (first == Outcome::Left) return false;
  if (first == Outcome::GaveUp || first == Outcome::Lost) {
    f.services[1].state = Undecided(first);
    ShowState(f.tool.screen, f.services[1]);
  } else if (QueryService(f, f.services[1]) == Outcome::Left) {
    return false;
  }
  ShowNumberAndDelay(f);
  return true;
}

// After a switch: a reply (OK or an error answer) means the network has
// decided, and both services are asked anew; without a reply (none in
// time, Esc, the line gone) the service's state is unknown, and asking again
// would only keep the operator waiting. False when the operator left the
// queries with Esc.
bool AfterSwitch(Form& f, Service& service, Outcome outcome) {
  if (outcome == Outcome::Ok || outcome == Outcome::Error) return RefreshForwarding(f);
  service.state = Undecided(outcome);
  ShowState(f.tool.screen, service);
  ShowNumberAndDelay(f);
  return true;
}

// Both: false when the operator left the screen with Esc.
bool DisableForwarding(Form& f, Service& service) {
  Screen& s = f.tool.screen;
  PutField(s, service.y, kAskOff, PromptWidth, ColorPanel);
  if (!s.ReadYes()) {
    ShowState(s, service);
    return true;
  }
  PutField(s, service.y, kSwitchingOff, PromptWidth, ColorPanel);
  const Outcome outcome = Exchange(f.tool, BuildForwardingCommand(service.reason, ForwardingMode::SwitchOff));
  return AfterSwitch(f, service, outcome);
}

bool EnableForwarding(Form& f, Service& service) {
  Tool& tool = f.tool;
  Screen& s = tool.screen;
  PutField(s, service.y, kAskOn, PromptWidth, ColorPanel);
  if (!s.ReadYes()) {
    ShowState(s, service);
    return true;
  }
  PutField(s, service.y, kSwitchingOn, PromptWidth, ColorPanel);
  const std::string_view number = tool.image.CellNumber(ForwardCell);
  if (static_cast<int>(number.size()) < ShortestNumber) {
    PutField(s, service.y, kInvalidNumber, PromptWidth, ColorAlert);
    s.Present();
    tool.clock.Sleep(InvalidNumberShown);
    ShowState(s, service);
    return true;
  }
  const char delay[2] = {tool.image.ModeChar(ForwardDelay), tool.image.ModeChar(ForwardDelay + 1)};
  const Outcome outcome = Exchange(
      tool, BuildForwardingCommand(service.reason, ForwardingMode::SwitchOn, number, std::string_view(delay, 2)));
  return AfterSwitch(f, service, outcome);
}

// Two digits, 01 to 30; one digit d is 0d. The digits show as typed, never
// changed behind the operator's back: while they make no delay of that range
// (35, 00, a third digit) the range beside the field turns red and Enter
// writes nothing; Backspace takes a digit back.
void EditForwardingDelay(Form& f) {
  Tool& tool = f.tool;
  Screen& s = tool.screen;
  char digits[2] = {' ', ' '};
  int count = 0;
  auto value = [&] { return count == 1 ? digits[0] - '0' : (digits[0] - '0') * 10 + (digits[1] - '0'); };
  auto inRange = [&] { return count > 0 && value() >= ForwardDelayMin && value() <= ForwardDelayMax; };
  // A single digit is still being typed: only two digits can be out of range.
  auto outOfRange = [&] { return count == 2 && !inRange(); };
  auto show = [&](bool refused) {
    s.PutTextAttr(FieldX, RowDelay, std::string(digits, 2).c_str(), ColorPanel);
    s.PutTextAttr(DelayRangeX, RowDelay, kDelayRange, refused ? ColorAlert : ColorNormal);
    s.SetCursor(FieldX + count, RowDelay);
  };
  show(false);
  for (;;) {
    const int k = s.ReadKeyCode();
    if (k == key::Esc) break;
    if (k == key::Enter) {
      if (count == 0) break;
      if (!inRange()) {
        show(true);
        continue;
      }
      const int v = value();
      const SimImage::CellState before = tool.image.Cell(ModeCell);
      tool.image.SetModeChar(ForwardDelay, static_cast<char>('0' + v / 10));
      tool.image.SetModeChar(ForwardDelay + 1, static_cast<char>('0' + v % 10));
      CommitCell(tool, ModeCell, before);  // on failure the delay shows what the SIM holds
      break;
    }
    if (k == key::Backspace) {
      if (count > 0) digits[--count] = ' ';
      show(outOfRange());
      continue;
    }
    if (k < '0' || k > '9' || count == 2) {
      show(true);
      continue;
    }
    digits[count++] = static_cast<char>(k);
    show(outOfRange());
  }
  s.PutText(DelayRangeX, RowDelay, PadRight("", static_cast<int>(std::string_view(kDelayRange).size())).c_str());
  s.SetAttribute(ColorNormal);
  ShowDelay(f);
}

}  // namespace

void CallForwardingScreen(Tool& tool) {
  Screen& s = tool.screen;
  if (!tool.state.deviceConnected) {
    ShowExchangeError(s, xerr::NoPort);
    return;
  }
  s.SetAttribute(ColorNormal);
  s.ClearScreen();
  DrawStatusArea(tool, ColorPanel);
  s.DrawFrame(2, 2, 78, 24, line::DoubleHorizontal);
  for (const Text& t : kFixedTexts) s.PutText(t.x, t.y, t.text);

  Form f{tool};
  if (!RefreshForwarding(f)) return;  // Esc while the network was asked
  f.grid.column = 1;
  f.grid.row = 1;
  for (;;) {
    s.HintsParameterChoice();
    const int k = NavigateGrid(s, f.grid);
    if (k == key::Esc) return;
    if (k == key::Enter) {
      switch (f.grid.row) {
        case 1:
        case 2: {
          Service& service = f.services[f.grid.row - 1];
          const bool stay =
              service.state == ServiceState::On ? DisableForwarding(f, service) : EnableForwarding(f, service);
          if (!stay) return;
          break;
        }
        case 3:
          s.HintsFieldEdit();
          EditNumberField(tool, f.grid, ForwardCell, NumberWidth);
          break;
        case 4:
          s.HintsDigitEntry();
          EditForwardingDelay(f);
          break;
      }
    } else if (key::IsHelp(k)) {
      ShowHelpTopic(s, tool.help, HelpTopicFirst + f.grid.row - 1);
    }
  }
}

}  // namespace tv
