// The exchange error box at columns 12..68, rows 11..16.
#include "ui/exchange_error.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/pad_text.h"
#include "device/serial_port.h"
#include "gateway/faults.h"
#include "screen/screen.h"

namespace tv {

namespace {
// The box: columns 12..68, rows 11..16, its text on rows 12..15.
constexpr int kBoxLeft = 12, kBoxTop = 11, kBoxRight = 68, kBoxBottom = 16;
constexpr int kBoxInnerWidth = 55, kBoxInnerHeight = 4;
constexpr int kBoxTextColumn = 14;
constexpr int kBoxTextWidth = 53;

// A 53-character row with the text starting at the given screen column.
std::string BoxLine(const char* text, int column) {
  return PadText(text, kBoxTextWidth, column - kBoxTextColumn);
}

// A 53-character row with the text, at most `longest` characters of it,
// centred. Modem text may hold any byte: none of them may move the cursor.
std::string CentredRow(std::string_view text, int longest) {
  std::string shown(text.substr(0, static_cast<std::size_t>(longest)));
  for (char& c : shown)
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = '?';
  return PadText(shown, kBoxTextWidth, (kBoxTextWidth - static_cast<int>(shown.size())) / 2);
}

// Keeps the screen under the box while it stands, for a box over a form
// that cannot redraw itself.
class UnderTheBox {
 public:
  explicit UnderTheBox(Screen& screen) : screen_(screen) {
    screen_.SaveRect(kBoxLeft, kBoxTop, kBoxRight, kBoxBottom, saved_.data());
  }
  ~UnderTheBox() { screen_.RestoreRect(kBoxLeft, kBoxTop, kBoxRight, kBoxBottom, saved_.data()); }
  UnderTheBox(const UnderTheBox&) = delete;
  UnderTheBox& operator=(const UnderTheBox&) = delete;

 private:
  Screen& screen_;
  // Two bytes a cell: character and attribute.
  static constexpr std::size_t kBytes =
      std::size_t{kBoxRight - kBoxLeft + 1} * (kBoxBottom - kBoxTop + 1) * 2;
  std::vector<uint8_t> saved_ = std::vector<uint8_t>(kBytes);
};
}  // namespace

void ShowExchangeError(Screen& screen, int code, std::string_view detail) {
  screen.DrawPanel(kBoxLeft, kBoxTop, kBoxInnerWidth, kBoxInnerHeight);
  const std::string blank(kBoxTextWidth, ' ');
  screen.PutTextAttr(kBoxTextColumn, 12, blank.c_str(), ColorAlert);
  screen.PutTextAttr(kBoxTextColumn, 13,
                     BoxLine("Ошибка обмена по последовательному каналу !"_cp, 19).c_str(), ColorAlert);
  int column = 0;
  if (const char* message = ExchangeErrorMessage(code, &column))
    screen.PutTextAttr(kBoxTextColumn, 14, BoxLine(message, column).c_str(),
                       code == xerr::Aborted ? ColorSelected : ColorAlert);
  screen.PutTextAttr(kBoxTextColumn, 15, CentredRow(detail, kBoxTextWidth - 2).c_str(), ColorAlert);
  screen.DiscardTypeahead();  // keys typed while the exchange ran do not dismiss it unread
  screen.ReadKeyCode();       // an extended key is taken whole, prefix and scan code
  screen.ErasePanel(kBoxLeft, kBoxTop, kBoxInnerWidth, kBoxInnerHeight);
}

void ShowExchangeErrorOver(Screen& screen, int code, std::string_view detail) {
  UnderTheBox under(screen);
  ShowExchangeError(screen, code, detail);
}

bool AskOver(Screen& screen, std::string_view question, std::string_view detail) {
  bool yes = false;
  {
    UnderTheBox under(screen);
    screen.DrawPanel(kBoxLeft, kBoxTop, kBoxInnerWidth, kBoxInnerHeight);
    const std::string blank(kBoxTextWidth, ' ');
    screen.PutTextAttr(kBoxTextColumn, 12, blank.c_str(), ColorAlert);
    screen.PutTextAttr(kBoxTextColumn, 13, CentredRow(detail, kBoxTextWidth).c_str(), ColorAlert);
    screen.PutTextAttr(kBoxTextColumn, 14, CentredRow(question, kBoxTextWidth).c_str(), ColorAlert);
    screen.PutTextAttr(kBoxTextColumn, 15, blank.c_str(), ColorAlert);
    screen.DiscardTypeahead();
    yes = screen.ReadYes();
  }
  screen.SetAttribute(ColorNormal);
  return yes;
}

}  // namespace tv
