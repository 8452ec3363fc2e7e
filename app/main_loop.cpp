// The tool's spine: start-up, the menu bar on row 1 with one pull-down always
// open, the status area, and the dispatch of the menu items.
#include "app/main_loop.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/version.h"
#include "platform/host.h"
#include "platform/host_devices.h"
#include "ui/commands.h"
#include "ui/connect_dialog.h"
#include "ui/file_chooser.h"
#include "ui/settings_forms.h"
#include "ui/settings_transfers.h"
#include "ui/status_area.h"
#include "ui/tool.h"

namespace tv {

namespace {

using Operation = void (*)(Tool&, MenuState&);

struct MenuItem {
  const char* text;
  Operation run;
};

struct Menu {
  const char* title;
  int titleColumn;
  int boxColumn;  // the pull-down box: its top-left corner is (boxColumn, 2)
  int innerWidth;
  int itemCount;
  MenuItem items[6];
};

constexpr int kHelpMessageRow = 12;  // the help item's message, centred

template <void (*F)(Tool&)>
void Call(Tool& tool, MenuState&) {
  F(tool);
}
// A changed file that was not saved is not dropped unasked.
void Exit(Tool& tool, MenuState& menu) { menu.exitRequested = ConfirmDiscardUnsavedEdits(tool); }
// The help outside the screen; when nothing could be shown, why, in a
// one-line panel until a key.
void HelpViewer(Tool& tool, MenuState&) {
  Console* console = tool.screen.AttachedConsole();
  if (!console) return;
  const std::string message = ShowHelpOutside(*console, tool.screen);
  if (message.empty()) return;
  Screen& s = tool.screen;
  const int width = static_cast<int>(message.size()) + 2;
  const int x = (ScreenWidth - width) / 2;
  s.DrawPanel(x, kHelpMessageRow - 1, width, 1);
  s.PutTextAttr(x + 1, kHelpMessageRow, (" " + message + " ").c_str(), ColorAlert);
  s.DiscardTypeahead();
  s.ReadKeyCode();
}
void About(Tool& tool, MenuState&) { ShowAboutBox(tool); }

// One row per menu, as the menu bar reads.
// clang-format off
const Menu kMenus[4] = {
    {"Файл"_cp, 1, 1, 39, 6,
     {{"Подключение к устройству"_cp, Call<ConnectToDevice>},
      {"Пересылка данных из SIM-Карты в файл"_cp, Call<SimToFile>},
      {"Пересылка данных из файла в SIM-Карту"_cp, Call<FileToSim>},
      {"Загрузка файла для редактирования"_cp, Call<LoadForEditing>},
      {"Сохранение данных в файле"_cp, Call<SaveToFile>},
      {"Выход"_cp, Exit}}},
    {"Програмирование"_cp, 8, 8, 17, 3,
     {{"Записная книжка"_cp, Call<PhonebookEditor>},
      {"Исходящая связь"_cp, Call<OutgoingCallsEditor>},
      {"Входящая связь"_cp, Call<IncomingCallsEditor>}}},
    {"Команды"_cp, 26, 26, 15, 3,
     {{"Переадресация"_cp, Call<CallForwardingScreen>},
      {"Баланс"_cp, Call<BalanceQuery>},
      {"Вся книжка"_cp, Call<WholeBookView>}}},
    {"Справка"_cp, 36, 36, 15, 2, {{"Вызов справки"_cp, HelpViewer}, {"О программе"_cp, About}}},
};
// clang-format on

constexpr int kMenuBarRow = 1;
constexpr int kBoxRow = 2;

// The item text as the pull-down shows it: one blank, the text, blanks to the
// box's inner width.
std::string ItemLine(const Menu& m, int item) {
  std::string line = " ";
  line += m.items[item - 1].text;
  if (line.size() < static_cast<std::size_t>(m.innerWidth)) line.append(m.innerWidth - line.size(), ' ');
  return line;
}

void DrawItem(Screen& s, const Menu& m, int item, uint8_t attr) {
  s.PutTextAttr(m.boxColumn + 1, kBoxRow + item, ItemLine(m, item).c_str(), attr);
}

void OpenMenu(Screen& s, const MenuState& menu) {
  const Menu& m = kMenus[menu.current - 1];
  s.PutTextAttr(m.titleColumn, kMenuBarRow, m.title, ColorSelected);
  s.DrawPanel(m.boxColumn, kBoxRow, m.innerWidth, m.itemCount);
  const int sel = menu.selected[menu.current - 1];
  for (int k = 1; k <= m.itemCount; ++k) DrawItem(s, m, k, k == sel ? ColorSelected : ColorPanel);
  s.SetCursor(m.boxColumn + 1, kBoxRow + sel);
}

void CloseMenu(Screen& s, const MenuState& menu) {
  const Menu& m = kMenus[menu.current - 1];
  s.PutTextAttr(m.titleColumn, kMenuBarRow, m.title, ColorPanel);
  s.ErasePanel(m.boxColumn, kBoxRow, m.innerWidth, m.itemCount);
}

void SwitchMenu(Screen& s, MenuState& menu, int to) {
  CloseMenu(s, menu);
  menu.current = to;
  OpenMenu(s, menu);
}

void MoveSelection(Screen& s, MenuState& menu, int to) {
  const Menu& m = kMenus[menu.current - 1];
  int& sel = menu.selected[menu.current - 1];
  DrawItem(s, m, sel, ColorPanel);
  sel = to;
  DrawItem(s, m, sel, ColorSelected);
  s.SetCursor(m.boxColumn + 1, kBoxRow + sel);
}

// The status area on the menu bar.
void DrawStatus(Tool& tool) { DrawStatusArea(tool, ColorPanel); }

void ShowStartupError(Screen& s) {
  const std::string blanks(40, ' ');
  s.PutTextAttr(20, 11, blanks.c_str(), ColorFatal);
  s.PutTextAttr(20, 12, "      Ошибка открытия файла помощи!     "_cp, ColorFatal);
  s.PutTextAttr(20, 13, blanks.c_str(), ColorFatal);
  s.ReadKey();
}

}  // namespace

void DrawMainScreen(Tool& tool, const MenuState& menu) {
  Screen& s = tool.screen;
  s.SetAttribute(ColorNormal);
  s.ClearScreen();
  const std::string bar(80, ' ');
  s.PutTextAttr(1, kMenuBarRow, bar.c_str(), ColorPanel);
  for (int i = 1; i <= 4; ++i)
    if (i != menu.current)
      s.PutTextAttr(kMenus[i - 1].titleColumn, kMenuBarRow, kMenus[i - 1].title, ColorPanel);
  DrawStatus(tool);
  OpenMenu(s, menu);
}

void RunMenuBar(Tool& tool, MenuState& menu) {
  Screen& s = tool.screen;
  for (;;) {
    const int k = s.ReadKey();
    if (k == key::Enter) return;
    if (k == key::Esc) {
      if (menu.current != 1)
        SwitchMenu(s, menu, 1);
      else
        MoveSelection(s, menu, kMenus[0].itemCount);
      continue;
    }
    if (k != key::Prefix) continue;
    const int count = kMenus[menu.current - 1].itemCount;
    const int sel = menu.selected[menu.current - 1];
    switch (s.ReadKey()) {
      case key::Right: SwitchMenu(s, menu, menu.current % 4 + 1); break;
      case key::Left: SwitchMenu(s, menu, (menu.current + 2) % 4 + 1); break;
      case key::Down: MoveSelection(s, menu, sel % count + 1); break;
      case key::Up: MoveSelection(s, menu, (sel + count - 2) % count + 1); break;
      default: break;
    }
  }
}

void RunMenuItem(Tool& tool, MenuState& menu) {
  const Menu& m = kMenus[menu.current - 1];
  m.items[menu.selected[menu.current - 1] - 1].run(tool, menu);
  tool.screen.SetAttribute(ColorNormal);
}

void ShowAboutBox(Tool& tool) {
  struct AboutLine {
    int row;
    int lead;
    const char* text;
  };
  static constexpr AboutLine kLines[] = {
      {11, 4, "***** TARVELIN.EXE *****"},
      {13, 4, "Чтение и  редактирование"_cp},
      {14, 4, "SIM-Карты для  GSM-Шлюза"_cp},
      {15, 11, "Версия "_cp TARVELIN_VERSION},
      {16, 3, "Разработана ООО ВЕЛЬТРА-Связь"_cp},
      {17, 8, "Декабрь 2016 Года"_cp},
      {18, 0, "Справки по телефонам: (495)555-0101"_cp},
      {19, 22, "(495)555-0102"},
      {20, 0, "Электронная почта:  gsm@example.com"_cp},
  };
  Screen& s = tool.screen;
  s.DrawPanel(20, 10, 41, 10);
  for (const AboutLine& l : kLines) {
    char line[64];
    std::snprintf(line, sizeof line, "%*s%-*s", l.lead, "", 35 - l.lead, l.text);
    s.PutTextAttr(24, l.row, line, ColorPanel);
  }
  s.ReadKey();
}

std::string HelpFilePath() {
  if (std::FILE* f = std::fopen("help.txt", "r")) {
    std::fclose(f);
    return "help.txt";
  }
  const std::string installed = InstalledFile("help.txt");
  return installed.empty() ? "help.txt" : installed;
}

int RunTarvelin(Tool& tool, const char* helpPath) {
  Screen& s = tool.screen;
  s.SetAttribute(ColorNormal);
  tool.help.file = std::fopen(helpPath, "r");
  if (!tool.help.file) {
    ShowStartupError(s);
    return 1;
  }
  tool.state = WorkState{};
  // Ctrl+C anywhere asks what the Exit item asks, over whatever is on the
  // screen, which comes back when the operator stays.
  s.SetLeaveQuestion([&tool] { return ConfirmDiscardUnsavedEdits(tool); });
  // The status area follows the lines as they are switched, during the
  // connection too: what stands there is the gateway the lines select.
  tool.session.linesSwitched = [&tool] {
    Screen& screen = tool.screen;
    const int x = screen.CursorX(), y = screen.CursorY();
    const uint8_t attr = screen.Attribute();
    DrawStatus(tool);
    screen.SetCursor(x, y);
    screen.SetAttribute(attr);
    screen.Present();
  };
  MenuState menu;
  try {
    while (!menu.exitRequested) {
      DrawMainScreen(tool, menu);
      RunMenuBar(tool, menu);
      RunMenuItem(tool, menu);
    }
  } catch (const LeaveRequested&) {
    // Left from inside an operation: the port and the terminal are given
    // back by their owners as after the Exit item.
  }
  s.SetLeaveQuestion({});
  tool.session.linesSwitched = nullptr;
  s.SetAttribute(ColorNormal);
  s.ClearScreen();
  s.Present();
  std::fclose(tool.help.file);
  tool.help.file = nullptr;
  return 0;
}

}  // namespace tv
