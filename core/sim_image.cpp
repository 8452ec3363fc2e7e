// The SIM image and the display texts of its mode string.
#include "core/sim_image.h"

#include <cstring>

#include "core/pad_text.h"
#include "cp866/literal.h"

namespace tv {

void SimImage::ClearImage() { *this = SimImage{}; }

bool SimImage::Set(char* field, uint8_t& length, std::string_view text) {
  const bool cut = text.size() > static_cast<std::size_t>(TextMax);
  const std::size_t n = cut ? TextMax : text.size();
  std::memset(field, 0, TextFieldBytes);
  if (n > 0) std::memcpy(field, text.data(), n);  // an empty view may have no data at all
  length = static_cast<uint8_t>(n);
  return cut;
}

void SimImage::SetModeChar(int position, char c) {
  char* field = numbers_[ModeCell];
  uint8_t& length = numberLength_[ModeCell];
  field[position] = c;
  if (c == 0) {
    if (position < length) length = static_cast<uint8_t>(position);
  } else if (position == length) {
    while (length < TextMax && field[length] != 0) ++length;
  }
}

bool SimImage::HasSignature() const {
  return CellName(ModeCell).substr(0, SimSignatureLength) ==
         std::string_view(SimSignature, SimSignatureLength);
}

namespace {
const char* OutgoingControlName(char c) {
  switch (c) {
    case '0': return "Контроля нет"_cp;
    case '1': return "Запрещенные номера"_cp;
    case '2': return "Разрешенные номера"_cp;
    case '4': return "Маршрутизация"_cp;
    case '5': return "Запрещенные номера и маршрутизация"_cp;
    case '6': return "Разрешенные номера и маршрутизация"_cp;
    default: return "Неизвестный режим"_cp;
  }
}

const char* IncomingControlName(char c) {
  switch (c) {
    case '0': return "Контроля нет"_cp;
    case '1': return "Черный список"_cp;
    case '2': return "Белый список"_cp;
    case '4': return "Обратный вызов"_cp;
    case '5': return "Черный список и обратный вызов"_cp;
    case '6': return "Белый список и обратный вызов"_cp;
    default: return "Неизвестный режим"_cp;
  }
}

const char* MessageModeName(char c) {
  switch (c) {
    case '1': return "Сообщение перед подачей звонка"_cp;
    case '2': return "Сообщение после звонка и ответа"_cp;
    default: return "Без сообщения"_cp;
  }
}

}  // namespace

std::string OutgoingControlText(char c) { return PadRight(OutgoingControlName(c), ModeTextWidth); }
std::string IncomingControlText(char c) { return PadRight(IncomingControlName(c), ModeTextWidth); }
std::string MessageModeText(char c) { return PadRight(MessageModeName(c), ModeTextWidth); }
std::string BarringText(char c) { return c == '1' ? "Запрещена"_cp : "Разрешена"_cp; }

}  // namespace tv
