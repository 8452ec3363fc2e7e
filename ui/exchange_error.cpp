// The exchange error box at columns 12..68, rows 11..16.
#include "ui/exchange_error.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/pad_text.h"
#include "device/serial_port.h"
#include "screen/screen.h"

namespace tv {

namespace {
struct ErrorText {
  int code;
  const char* message;
  int column;
};
constexpr ErrorText kErrors[] = {
    {xerr::NoAnswer, "Нет ответа от внешнего устройства."_cp, 23},
    {xerr::NoSync, "Не установлена синхронизация."_cp, 25},
    {xerr::BadAck, "Неверное подтверждение."_cp, 28},
    {xerr::BadChecksum, "Не совпала контрольная сумма."_cp, 26},
    {xerr::NoPort, "Не выбран порт обмена"_cp, 30},
    {xerr::PortBusy, "COM-порта нет или он занят другим приложением"_cp, 18},
    {xerr::SystemError, "Ошибка системы"_cp, 34},
    {xerr::BadReply, "Неверный ответ устройства"_cp, 30},
    {xerr::Aborted, "Прерывание цикла обмена"_cp, 29},
};

constexpr int kBoxTextColumn = 14;
constexpr int kBoxTextWidth = 53;

// A 53-character row with the text starting at the given screen column.
std::string BoxLine(const char* text, int column) {
  return PadText(text, kBoxTextWidth, column - kBoxTextColumn);
}
}  // namespace

const char* ExchangeErrorMessage(int code, int* column) {
  for (const ErrorText& e : kErrors)
    if (e.code == code) {
      if (column) *column = e.column;
      return e.message;
    }
  return nullptr;
}

void ShowExchangeError(Screen& screen, int code, std::string_view detail) {
  screen.DrawPanel(12, 11, 55, 4);
  const std::string blank(kBoxTextWidth, ' ');
  screen.PutTextAttr(kBoxTextColumn, 12, blank.c_str(), ColorAlert);
  screen.PutTextAttr(kBoxTextColumn, 13,
                     BoxLine("Ошибка обмена по последовательному каналу !"_cp, 19).c_str(), ColorAlert);
  int column = 0;
  if (const char* message = ExchangeErrorMessage(code, &column))
    screen.PutTextAttr(kBoxTextColumn, 14, BoxLine(message, column).c_str(),
                       code == xerr::Aborted ? ColorSelected : ColorAlert);
  std::string detailRow = blank;
  if (!detail.empty()) {
    // Modem text may hold any byte: none of them may move the cursor.
    std::string text(detail.substr(0, kBoxTextWidth - 2));
    for (char& c : text)
      if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = '?';
    detailRow = PadText(text, kBoxTextWidth, (kBoxTextWidth - static_cast<int>(text.size())) / 2);
  }
  screen.PutTextAttr(kBoxTextColumn, 15, detailRow.c_str(), ColorAlert);
  screen.DiscardTypeahead();  // keys typed while the exchange ran do not dismiss it unread
  screen.ReadKeyCode();       // an extended key is taken whole, prefix and scan code
  screen.ErasePanel(12, 11, 55, 4);
}

void ShowExchangeErrorOver(Screen& screen, int code, std::string_view detail) {
  std::vector<uint8_t> saved(static_cast<std::size_t>(57 * 6 * 2));
  screen.SaveRect(12, 11, 68, 16, saved.data());
  ShowExchangeError(screen, code, detail);
  screen.RestoreRect(12, 11, 68, 16, saved.data());
}

bool AskOver(Screen& screen, std::string_view question, std::string_view detail) {
  std::vector<uint8_t> saved(static_cast<std::size_t>(57 * 6 * 2));
  screen.SaveRect(12, 11, 68, 16, saved.data());
  screen.DrawPanel(12, 11, 55, 4);
  const std::string blank(kBoxTextWidth, ' ');
  auto centred = [](std::string_view text) {
    text = text.substr(0, kBoxTextWidth);
    return PadText(text, kBoxTextWidth, (kBoxTextWidth - static_cast<int>(text.size())) / 2);
  };
  screen.PutTextAttr(kBoxTextColumn, 12, blank.c_str(), ColorAlert);
  screen.PutTextAttr(kBoxTextColumn, 13, centred(detail).c_str(), ColorAlert);
  screen.PutTextAttr(kBoxTextColumn, 14, centred(question).c_str(), ColorAlert);
  screen.PutTextAttr(kBoxTextColumn, 15, blank.c_str(), ColorAlert);
  screen.DiscardTypeahead();
  const bool yes = screen.ReadYes();
  screen.RestoreRect(12, 11, 68, 16, saved.data());
  screen.SetAttribute(ColorNormal);
  return yes;
}

}  // namespace tv
