// The connection dialog (columns 10..70, rows 10..17) and the SIM
// initialisation panel (columns 16..76, rows 18..24).
#include "device/connect_dialog.h"

#include <string>
#include <vector>

#include "device/at_exchange.h"
#include "device/cell_transfer.h"
#include "device/exchange_error.h"
#include "device/tool.h"
#include "screen/pad_text.h"
#include "screen/progress.h"

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

// Which device the highlighted COM name opens: row 15, columns 12..68.
constexpr int kDeviceX = 12, kDeviceY = 15, kDeviceWidth = 57;

void ShowMessage(Screen& screen, const Message& m, uint8_t attr) {
  screen.PutTextAttr(kMessageX, m.y, PadText(m.text, kMessageWidth, m.textX - kMessageX).c_str(), attr);
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

// Enter: open, address, test the signature, read the book. The dialog
// closes after it in every case.
void Connect(Tool& tool) {
  WorkState& st = tool.state;
  if (!st.deviceConnected) {
    const int rc = OpenPort(tool, st.portIndex);
    if (rc != 0) {
      ShowExchangeError(tool.screen, rc);
      return;
    }
    st.deviceConnected = true;
    st.fileLoaded = false;
  }
  if (SelectGateway(tool, st.gatewayIndex) != 0) {
    ShowExchangeError(tool.screen, xerr::SystemError);
    return;
  }
  tool.image.ClearImage();
  if (ReadCell(tool, ModeCell) != ReadOk) {
    ShowExchangeError(tool.screen, xerr::NoAnswer);
    st.deviceConnected = false;
    return;
  }
  if (!tool.image.HasSignature()) {
    tool.screen.PutTextAttr(kDeviceX, kDeviceY, std::string(kDeviceWidth, ' ').c_str(), ColorPanel);
    ShowMessage(tool.screen, kNotInitialised, ColorAlert);
    ShowMessage(tool.screen, kPressI, ColorAlert);
    // Only the letter itself starts the overwrite, never an extended key.
    const int k = tool.screen.ReadCharacterKey();
    if (k != 'I' && k != 'i') {
      st.deviceConnected = false;
      return;
    }
    BlankMessageRow(tool.screen, kNotInitialised.y);
    BlankMessageRow(tool.screen, kPressI.y);
    InitialiseSim(tool);
  }
  ShowMessage(tool.screen, kReading, ColorSelected);
  for (int cell = 1; cell < CellSlots; ++cell) {
    if (ReadCell(tool, cell) != ReadOk) {
      ShowExchangeError(tool.screen, xerr::NoAnswer);
      st.deviceConnected = false;
      return;
    }
  }
  tool.port.DiscardInput();
  ShowMessage(tool.screen, kPressAnyKey, ColorSelected);
  tool.screen.ReadKeyCode();  // an extended key is taken whole
}

// --- the SIM initialisation panel --------------------------------------------

constexpr int kInitRow = 22;  // the progress line
constexpr int kInitTextX = 18, kInitWidth = 57;
constexpr const char* kInitTitle = "И Н И Ц И А Л И З А Ц И Я   S I M  -  К А Р Т Ы"_cp;
constexpr const char* kInitLabel = "Записано:"_cp;

// AT+CPBW=05,"0",129,"05" CR, built byte by byte; returns its length. A zero
// follows it in the buffer and is not sent.
int BuildDefaultCellCommand(Tool& tool, int cell) {
  const bool mode = cell == ModeCell;
  int n = PutCommand(tool, "AT+CPBW=", 0);
  tool.at.command[n++] = static_cast<uint8_t>('0' + cell / 10);
  tool.at.command[n++] = static_cast<uint8_t>('0' + cell % 10);
  n = PutCommand(tool, ",\"", n);
  n = PutCommand(tool, mode ? DefaultModeString : "0", n);
  n = PutCommand(tool, "\",129,\"", n);
  if (mode) {
    n = PutCommand(tool, SimSignature, n);
  } else {
    tool.at.command[n++] = static_cast<uint8_t>('0' + cell / 10);
    tool.at.command[n++] = static_cast<uint8_t>('0' + cell % 10);
  }
  n = PutCommand(tool, "\"\r", n);
  tool.at.command[n] = 0;
  return n;
}

}  // namespace

int OpenPort(Tool& tool, int portIndex) { return tool.port.Open(portIndex); }

int SelectGateway(Tool& tool, int gatewayIndex) {
  const GatewayLines lines = GatewayLevels[gatewayIndex];
  if (!tool.port.SetDtr(lines.dtr)) return xerr::SystemError;
  if (!tool.port.SetRts(lines.rts)) return xerr::SystemError;
  return 0;
}

void InitialiseSim(Tool& tool) {
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
  StartProgress(screen, kInitRow);
  for (int cell = 1; cell < CellSlots; ++cell) {
    SendCommand(tool, BuildDefaultCellCommand(tool, cell));
    ReadWriteAcknowledgement(tool);  // the outcome is not examined
    AdvanceProgress(screen, kInitRow, cell);
  }
  screen.Present();
  screen.RestoreRect(1, 1, ScreenWidth, ScreenHeight, saved.data());
}

void ConnectToDevice(Tool& tool) {
  Screen& screen = tool.screen;
  WorkState& st = tool.state;
  std::vector<uint8_t> saved(static_cast<std::size_t>((kRight - kLeft + 1) * (kBottom - kTop + 1) * 2));
  screen.SaveRect(kLeft, kTop, kRight, kBottom, saved.data());
  DrawDialog(tool);
  for (;;) {
    const int k = screen.ReadKey();
    if (k == key::Esc) break;
    if (k == key::Enter) {
      Connect(tool);
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
      if (!st.focusOnGateway) {
        st.deviceConnected = false;
        DrawDeviceLine(tool);
      }
    } else {
      continue;
    }
    DrawNames(tool);
  }
  screen.RestoreRect(kLeft, kTop, kRight, kBottom, saved.data());
  screen.SetAttribute(ColorNormal);
}

}  // namespace tv
