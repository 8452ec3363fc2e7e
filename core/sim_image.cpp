// The SIM image and the display texts of its mode string.
#include "core/sim_image.h"

#include <cstring>

#include "core/pad_text.h"
#include "core/settings_model.h"
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

// The names are the settings model's (core/settings_model.h).
std::string OutgoingControlText(char c) { return PadRight(ModeValueName(OutgoingControl, c), ModeTextWidth); }
std::string IncomingControlText(char c) { return PadRight(ModeValueName(IncomingControl, c), ModeTextWidth); }
std::string MessageModeText(char c) { return PadRight(ModeValueName(MessageMode, c), ModeTextWidth); }
std::string BarringText(char c) { return ModeValueName(IncomingBarring, c); }

}  // namespace tv
