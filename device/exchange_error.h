// The exchange error box: a numbered failure of the serial exchange shown
// over the screen until a key is pressed.
#pragma once

namespace tv {

class Screen;

// Message of an ExchangeError code and the column it starts at; nullptr for
// a code that has none.
const char* ExchangeErrorMessage(int code, int* column = nullptr);
void ShowExchangeError(Screen& screen, int code);

}  // namespace tv
