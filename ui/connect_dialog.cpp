// The connection dialog (columns 10..70, rows 10..17) and the SIM
// initialisation panel (columns 16..76, rows 18..24).
#include "ui/connect_dialog.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/pad_text.h"
#include "core/settings_file.h"
#include "device/at_engine.h"
#include "gateway/journal.h"
#include "gateway/transfers.h"
#include "screen/progress.h"
#include "ui/exchange_error.h"
#include "ui/settings_transfers.h"
#include "ui/tool.h"

namespace tv {

namespace {

// --- the dialog's screen ---------------------------------------------------

constexpr int kLeft = 10, kTop = 10, kRight = 70, kBottom = 17;

struct FixedText {
  int x, y;
  const char* text;
};
constexpr FixedText kDialogTexts[] = {
    {20, 12, "**** Установка связи с устройством ****"_cp},
    {20, 14, "Порт:"_cp},
    {40, 14, "Устройство:"_cp},
    {12, 16, "Стрелки - Выбор устройства"_cp},
    {42, 16, "ENTER - Инициализация связи "_cp},
};
constexpr int kPortX = 28, kGatewayX = 53, kNamesY = 14;

// The message fields: 39 columns from column 20 of rows 14 and 15.
constexpr int kMessageX = 20, kMessageWidth = 39;
struct Message {
  int y;
  int textX;
  const char* text;
};
constexpr Message kNotInitialised{14, 25, "SIM-Карта не инициализирована"_cp};
constexpr Message kPressI{15, 22, "Для начала инициализации нажмите I"_cp};
constexpr Message kReading{14, 26, "Идет чтение записной книжки"_cp};
constexpr Message kPressAnyKey{14, 20, "Для продолжения нажмите любую клавишу."_cp};

// The dialog's free row, columns 12..68: what a connection is doing, then
// what it did.
constexpr int kWideX = 12, kWideWidth = 57, kDoingY = 13;
constexpr const char* kWaking = "Ожидание ответа шлюза (до 4 с). ESC - прервать"_cp;
// The book's entries as they come (a slow SIM takes 150 ms an entry).
constexpr const char* kReadingCells = "Прочитано ячеек: %d из %d. ESC - прервать"_cp;
constexpr const char* kReadStopped = "Чтение прервано, связь разорвана. Нажмите клавишу"_cp;
// What was done, with the port and gateway it was done to ("COM2 ШЛЮЗ 4: ").
constexpr const char* kCellsRead = "%s: Прочитано 99 ячеек"_cp;
constexpr const char* kInitialisedAndRead = "%s: SIM инициализирована, прочитано 99 ячеек"_cp;
// Over the offer to initialise: all of what the SIM holds goes, on this gateway.
constexpr const char* kInitialiseWhat = "Все 99 ячеек будут перезаписаны: %s"_cp;

// Which device the highlighted COM name opens: row 15, columns 12..68.
constexpr int kDeviceX = 12, kDeviceY = 15, kDeviceWidth = 57;

void ShowMessage(Screen& screen, const Message& m, uint8_t attr) {
  screen.PutTextAttr(kMessageX, m.y, PadText(m.text, kMessageWidth, m.textX - kMessageX).c_str(), attr);
}

void ShowWide(Screen& screen, int y, const char* text, uint8_t attr) {
  screen.PutTextAttr(kWideX, y, PadText(text, kWideWidth, (kWideWidth - static_cast<int>(std::strlen(text))) / 2).c_str(), attr);
}

void BlankMessageRow(Screen& screen, int y) {
  screen.PutTextAttr(kMessageX, y, std::string(kMessageWidth, ' ').c_str(), ColorPanel);
}

void DrawNames(Tool& tool) {
  const WorkState& st = tool.state;
  tool.screen.PutTextAttr(kPortX, kNamesY, PortNames[st.portIndex],
                          st.focusOnGateway ? ColorPanel : ColorSelected);
  tool.screen.PutTextAttr(kGatewayX, kNamesY, GatewayNames[st.gatewayIndex],
                          st.focusOnGateway ? ColorSelected : ColorPanel);
}

void DrawDeviceLine(Tool& tool) {
  const int i = tool.state.portIndex;
  std::string text = PortDeviceName(i) + ": " + tool.port.Describe(i);
  // A link target may hold any bytes; none of them may move the cursor.
  for (char& c : text)
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = '?';
  tool.screen.PutTextAttr(kDeviceX, kDeviceY, PadText(text, kDeviceWidth).c_str(), ColorPanel);
}

void DrawDialog(Tool& tool) {
  tool.screen.DrawPanelRect(kLeft, kTop, kRight, kBottom);
  for (const FixedText& t : kDialogTexts) tool.screen.PutTextAttr(t.x, t.y, t.text, ColorPanel);
  DrawNames(tool);
  DrawDeviceLine(tool);
}

// A failed exchange: the box says what; the dialog closes after it.
void ShowFault(Tool& tool, const ExchangeFault& fault) {
  ShowExchangeError(tool.screen, fault.code, fault.detail);
}

// The panel under the dialog (where the initialisation shows), rows 18..24.
constexpr int kNoticeX = 16, kNoticeY = 18, kNoticeW = 59, kNoticeH = 5;
constexpr const char* kDismissHint = "D - забыть об этом, другая клавиша - продолжить"_cp;

// A write to this gateway stopped part way at some earlier time: said at
// every connection until a write completes or the operator dismisses it.
void TellUnfinishedTransfer(Tool& tool) {
  TransferJournal journal;
  if (!ReadJournal(tool.state.portIndex, tool.state.gatewayIndex, journal)) return;
  Screen& screen = tool.screen;
  std::vector<uint8_t> saved(ScreenSaveBytes);
  screen.SaveRect(1, 1, ScreenWidth, ScreenHeight, saved.data());
  screen.DrawPanel(kNoticeX, kNoticeY, kNoticeW, kNoticeH);
  // The file's name fits the row after "остановлена на строке NN из NN, файл ".
  const std::vector<std::string> lines = InterruptionNotice(journal, 19);
  const std::string rows[] = {"", lines[0], lines[1], "", kDismissHint};
  for (int r = 0; r < 5; ++r)
    screen.PutTextAttr(kNoticeX + 2, kNoticeY + 1 + r, PadText(rows[r], kNoticeW - 2, 1).c_str(),
                       r == 4 ? ColorPanel : ColorAlert);
  screen.DiscardTypeahead();
  const int k = screen.ReadCharacterKey();
  // D, or the same key on a Russian layout (В).
  if (k == 'D' || k == 'd' || k == 0x82 || k == 0xA2) RemoveJournal(tool.state.portIndex, tool.state.gatewayIndex);
  screen.RestoreRect(1, 1, ScreenWidth, ScreenHeight, saved.data());
}

// "COM2 ШЛЮЗ 4": the port and the gateway the lines select.
std::string Addressed(const Tool& tool) {
  return PortDeviceName(tool.state.portIndex) + " " + GatewayNames[tool.state.gatewayIndex];
}

void ShowFormatted(Screen& screen, int y, const char* format, const std::string& what, uint8_t attr) {
  char text[128];
  std::snprintf(text, sizeof text, format, what.c_str());
  ShowWide(screen, y, text, attr);
}

// Esc (or a Ctrl+C, which leaves the tool once the wait is over) ends a
// wait of the connection.
StopRequest LeaveWait(Screen& screen) {
  return [&screen] { return screen.EscPressed() || screen.LeavePending(); };
}

// The book read by cells: how far it came, on the row of what is being done.
TransferProgress ShowReading(Screen& screen, bool& started) {
  return [&screen, &started](int done) {
    if (!started) {
      started = true;
      ShowMessage(screen, kReading, ColorSelected);
    }
    char text[96];
    std::snprintf(text, sizeof text, kReadingCells, done, SettingsLines);
    ShowWide(screen, kDoingY, text, ColorPanel);
    screen.Present();
  };
}

// The read was left: nothing was written, and a book read in part is no
// connection. Said until a key.
void TellReadStopped(Screen& screen) {
  BlankMessageRow(screen, kReading.y);
  ShowWide(screen, kDoingY, kReadStopped, ColorAlert);
  screen.DiscardTypeahead();
  screen.ReadKeyCode();
}

// Enter: open, address, test the signature, read the book. The dialog
// closes after it in every case.
void Connect(Tool& tool) {
  WorkState& st = tool.state;
  // A modem waking up may take seconds to answer; a slow SIM's book then
  // takes seconds more, counted as it comes.
  ShowWide(tool.screen, kDoingY, kWaking, ColorPanel);
  bool reading = false;
  const ExchangeFault fault = AttachGateway(tool.session, LeaveWait(tool.screen), ShowReading(tool.screen, reading));
  ShowWide(tool.screen, kDoingY, "", ColorPanel);
  if (fault.left) {
    if (reading) TellReadStopped(tool.screen);
    return;
  }
  if (fault.Failed()) {
    ShowFault(tool, fault);
    return;
  }
  DrawDeviceLine(tool);  // what the connection found: lines nobody confirmed
  TellUnfinishedTransfer(tool);
  bool initialised = false;
  if (!tool.image.HasSignature()) {
    tool.screen.PutTextAttr(kDeviceX, kDeviceY, std::string(kDeviceWidth, ' ').c_str(), ColorPanel);
    // The two rows of the offer cover the port and gateway names: the row
    // above names what the initialisation would overwrite.
    ShowFormatted(tool.screen, kDoingY, kInitialiseWhat, Addressed(tool), ColorAlert);
    ShowMessage(tool.screen, kNotInitialised, ColorAlert);
    ShowMessage(tool.screen, kPressI, ColorAlert);
    // Only the letter itself (Ш on a Russian layout, read as I) starts the
    // overwrite, never an extended key.
    tool.screen.DiscardTypeahead();
    const int k = tool.screen.ReadCharacterKey();
    if (k != 'I' && k != 'i') {
      st.deviceConnected = false;
      return;
    }
    ShowWide(tool.screen, kDoingY, "", ColorPanel);
    BlankMessageRow(tool.screen, kNotInitialised.y);
    BlankMessageRow(tool.screen, kPressI.y);
    if (!InitialiseSim(tool)) {
      st.deviceConnected = false;
      return;
    }
    initialised = true;
  }
  ShowMessage(tool.screen, kReading, ColorSelected);
  reading = true;
  const ExchangeFault read = ReadSimCells(tool.session, nullptr, ShowReading(tool.screen, reading), nullptr, LeaveWait(tool.screen));
  if (read.left) {
    TellReadStopped(tool.screen);
    return;
  }
  if (read.Failed()) {
    ShowFault(tool, read);
    return;
  }
  tool.port.DiscardInput();
  // The SIM was read back whole: a write recorded for it is complete.
  if (initialised) RemoveJournal(st.portIndex, st.gatewayIndex);
  // What was done, and to which gateway, above the key.
  ShowFormatted(tool.screen, kDoingY, initialised ? kInitialisedAndRead : kCellsRead, Addressed(tool),
                ColorSelected);
  ShowMessage(tool.screen, kPressAnyKey, ColorSelected);
  tool.screen.DiscardTypeahead();
  tool.screen.ReadKeyCode();  // an extended key is taken whole
}

// --- the SIM initialisation panel --------------------------------------------

constexpr int kInitRow = 22;  // the progress line
constexpr int kInitTextX = 18, kInitWidth = 57;
constexpr const char* kInitTitle = "И Н И Ц И А Л И З А Ц И Я   S I M  -  К А Р Т Ы"_cp;
constexpr const char* kInitLabel = "Записано:"_cp;

// Shown on the panel's last row when cells were not taken, until a key.
constexpr const char* kInitFailed = "SIM-Карта не приняла ячеек: %d из %d. Нажмите клавишу"_cp;
// Esc during the initialisation: the cell in flight is finished first.
constexpr const char* kInitAskStop = "Остановить после этой ячейки? Останется смесь [Y/N]"_cp;
constexpr const char* kInitStopped = "Остановлено: записано ячеек %d из %d. Нажмите клавишу"_cp;
constexpr const char* kJournalFailed = "Ошибка записи файла %s. Нажмите клавишу"_cp;

}  // namespace

bool InitialiseSim(Tool& tool) {
  Screen& screen = tool.screen;
  std::vector<uint8_t> saved(ScreenSaveBytes);
  screen.SaveRect(1, 1, ScreenWidth, ScreenHeight, saved.data());
  screen.DrawPanel(16, 18, 59, 5);
  screen.SetAttribute(ColorNormal);
  const std::string blank(kInitWidth, ' ');
  const std::string rows[] = {
      blank, PadText(kInitTitle, kInitWidth, 5), blank, PadText(kInitLabel, kInitWidth, 2), blank,
  };
  for (int r = 0; r < 5; ++r) screen.PutText(kInitTextX, 19 + r, rows[r].c_str());
  const auto lastRow = [&](const std::string& text) {
    screen.PutTextAttr(kInitTextX, 23, PadText(text, kInitWidth, 2).c_str(), ColorAlert);
    screen.DiscardTypeahead();
  };
  const auto closePanel = [&] { screen.RestoreRect(1, 1, ScreenWidth, ScreenHeight, saved.data()); };
  bool started = false, left = false;
  int done = 0;
  const InitOutcome init = WriteDefaultCells(
      tool.session,
      [&](int cell) {
        done = cell;
        AdvanceProgress(screen, kInitRow, cell);
      },
      [&] {
        if (!started) {
          started = true;
          StartProgress(screen, kInitRow);
          return screen.LeavePending() && (left = true);
        }
        // A Ctrl+C stops after the cell written, without a question: the
        // tool then leaves, and the journal tells the next connection.
        const bool esc = screen.EscPressed();
        if (screen.LeavePending()) return left = true;
        if (!esc) return false;
        lastRow(kInitAskStop);
        if (screen.ReadYes()) return true;
        screen.PutText(kInitTextX, 23, blank.c_str());
        return false;
      });
  const int total = init.total;
  if (init.journalFailed) {
    char text[128];
    std::snprintf(text, sizeof text, kJournalFailed,
                  JournalPath(tool.state.portIndex, tool.state.gatewayIndex).c_str());
    lastRow(text);
    screen.ReadKeyCode();
    closePanel();
    return false;
  }
  if (init.stopped) {
    if (!left) {
      char text[96];
      std::snprintf(text, sizeof text, kInitStopped, done, total);
      lastRow(text);
      screen.ReadKeyCode();
    }
    closePanel();
    return false;
  }
  if (init.gone) {
    // The device is gone: the SIM is part new, part old. Say how far it came.
    closePanel();
    char detail[64];
    std::snprintf(detail, sizeof detail, "Записано ячеек: %d из %d"_cp, init.tally.taken, total);
    ShowExchangeError(screen, xerr::NoAnswer, detail);
    return false;
  }
  if (init.tally.Failed() > 0) {
    char text[96];
    std::snprintf(text, sizeof text, kInitFailed, init.tally.Failed(), total);
    screen.PutTextAttr(kInitTextX, 23, PadText(text, kInitWidth, 2).c_str(), ColorAlert);
    screen.DiscardTypeahead();
    screen.ReadKeyCode();
  }
  screen.Present();
  closePanel();
  return true;
}

void ConnectToDevice(Tool& tool) {
  Screen& screen = tool.screen;
  WorkState& st = tool.state;
  std::vector<uint8_t> saved(static_cast<std::size_t>((kRight - kLeft + 1) * (kBottom - kTop + 1) * 2));
  screen.SaveRect(kLeft, kTop, kRight, kBottom, saved.data());
  DrawDialog(tool);
  // The port and gateway browsed here become the tool's only with Enter: the
  // status area names the gateway whose lines are driven and whose image is
  // shown, so a dialog left with Esc leaves both as they were.
  const int openPort = st.portIndex, openGateway = st.gatewayIndex;
  const auto keepChoice = [&] {
    st.portIndex = openPort;
    st.gatewayIndex = openGateway;
  };
  for (;;) {
    const int k = screen.ReadKey();
    if (k == key::Esc) {
      keepChoice();
      break;
    }
    if (k == key::Enter) {
      // A connection replaces the image: a changed file is not dropped unasked.
      if (ConfirmDiscardUnsavedEdits(tool)) {
        // Another port is opened anew: the one held stays open while it is
        // only browsed, and must not be taken for the port now named.
        if (st.portIndex != openPort) st.deviceConnected = false;
        Connect(tool);
      } else {
        keepChoice();
      }
      break;
    }
    if (k != key::Prefix) continue;
    const int scan = screen.ReadKey();
    const int last = st.focusOnGateway ? GatewayCount - 1 : PortCount - 1;
    int& index = st.focusOnGateway ? st.gatewayIndex : st.portIndex;
    if (scan == key::Left && st.focusOnGateway) {
      st.focusOnGateway = false;
    } else if (scan == key::Right && !st.focusOnGateway) {
      st.focusOnGateway = true;
    } else if ((scan == key::Up && index < last) || (scan == key::Down && index > 0)) {
      index += scan == key::Up ? 1 : -1;
      if (!st.focusOnGateway) DrawDeviceLine(tool);
    } else {
      continue;
    }
    DrawNames(tool);
  }
  screen.RestoreRect(kLeft, kTop, kRight, kBottom, saved.data());
  screen.SetAttribute(ColorNormal);
}

}  // namespace tv
