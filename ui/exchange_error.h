// The exchange error box: a numbered failure of the serial exchange shown
// over the screen until a key is pressed (its texts: gateway/faults.h).
#pragma once

#include <string_view>

namespace tv {

class Screen;

// The box, a key, the box erased (the caller redraws what was under it).
// detail, when given, stands centred on the row under the message: what the
// modem answered, or how far a transfer came ("Записано ячеек: 40 из 99").
void ShowExchangeError(Screen& screen, int code, std::string_view detail = {});
// The same over a form that cannot redraw itself: the screen under the box
// comes back afterwards.
void ShowExchangeErrorOver(Screen& screen, int code, std::string_view detail = {});
// A "[Y/N]" question in a box at the same place, over a form: true for y or
// Y. The screen under the box comes back afterwards.
bool AskOver(Screen& screen, std::string_view question, std::string_view detail);

}  // namespace tv
