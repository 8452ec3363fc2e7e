// The exchange error box at columns 12..68, rows 11..16.
#include "device/exchange_error.h"

#include <cstring>
#include <string>

#include "device/serial_port.h"
#include "screen/pad_text.h"
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

void ShowExchangeError(Screen& screen, int code) {
  screen.DrawPanel(12, 11, 55, 4);
  const std::string blank(kBoxTextWidth, ' ');
  screen.PutTextAttr(kBoxTextColumn, 12, blank.c_str(), ColorAlert);
  screen.PutTextAttr(kBoxTextColumn, 13,
                     BoxLine("Ошибка обмена по последовательному каналу !"_cp, 19).c_str(), ColorAlert);
  int column = 0;
  if (const char* message = ExchangeErrorMessage(code, &column))
    screen.PutTextAttr(kBoxTextColumn, 14, BoxLine(message, column).c_str(),
                       code == xerr::Aborted ? ColorSelected : ColorAlert);
  screen.PutTextAttr(kBoxTextColumn, 15, blank.c_str(), ColorAlert);
  screen.ReadKeyCode();  // an extended key is taken whole, prefix and scan code
  screen.ErasePanel(12, 11, 55, 4);
}

}  // namespace tv
