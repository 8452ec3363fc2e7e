// File chooser: directory listing, name display and the two key modes
// (selection in the list, typing a new name).
#include "ui/file_chooser.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "cp866/code_page.h"
#include "platform/file_access.h"
#include "screen/screen.h"

namespace tv {

namespace {

// Screen places inside the caller's panel (column, row).
constexpr int kLabelX = 20, kNameRow = 4;
constexpr const char* kLabel = "Текущий файл: "_cp;  // padded to 14
constexpr int kNameX = 34;
// The name under the list's highlight: whole up to the panel's right edge.
constexpr int kNameWidth = 43;
constexpr int kTypedWidth = 12;  // blanked when typing starts and ends
constexpr int kListX = 20, kListTop = 6, kListRows = 16, kListColumnStep = 15;
constexpr int kCountX = 20, kHintRow = 23;
constexpr const char* kCountFormat = "Колличество файлов: %d\n"_cp;
// Where the list would begin, when there is no file to list: how to go on.
constexpr int kEmptyHintX = 20, kEmptyHintRow = kListTop;
constexpr const char* kEmptyHint = "Наберите имя нового файла латинскими буквами и ENTER"_cp;

struct Hint {
  int x;
  const char* text;
  uint8_t attr;
};
constexpr Hint kHints[] = {
    {45, "ENTER", ColorSelected},
    {50, " - Выполнить "_cp, ColorPanel},
    {63, " ESC ", ColorSelected},
    {68, " - Выход "_cp, ColorPanel},
};

constexpr int kTypedMax = 13;  // characters typed before the extension
// A typed name that would not fit is not cut: the character is refused and
// Enter waits until the name is made shorter. Said on the row under the name.
constexpr int kTypedHintRow = kNameRow + 1;
constexpr const char* kTypedTooLong = "Имя длиннее 13 знаков: сократите его (Backspace)"_cp;

// The order of the list, switched with F2; the row under the list says
// which key gives the other one.
constexpr int kSortRow = kListTop + kListRows;
constexpr int kF2 = 0x3C;  // its scan code
constexpr const char* kSortByDate = "F2 - новые файлы первыми"_cp;
constexpr const char* kSortByName = "F2 - по имени           "_cp;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool LatinLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool NameChar(int c) { return LatinLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-'; }

bool EndsWithNoCase(std::string_view name, std::string_view suffix) {
  if (name.size() < suffix.size()) return false;
  const std::string_view tail = name.substr(name.size() - suffix.size());
  for (std::size_t i = 0; i < suffix.size(); ++i)
    if (LowerAscii(tail[i]) != LowerAscii(suffix[i])) return false;
  return true;
}

class Chooser {
 public:
  Chooser(Screen& screen, std::string& fileName, const char* pattern)
      : fileName_(fileName), s_(screen), extension_(std::string(pattern).substr(1, 4)) {
    names_ = ListMatchingFiles(pattern);
  }

  int Run() {
    Draw();
    for (;;) {
      const int k = s_.ReadKey();
      if (k == key::Prefix) {
        const int scan = s_.ReadKey();
        if (scan == kF2)
          Sort();
        else
          Move(scan);
      } else if (k == key::Enter) {
        fileName_ = Count() > 0 ? names_[selected_] : std::string();
        return ChooseAccepted;
      } else if (LatinLetter(k)) {
        return Type(static_cast<char>(k));
      } else if (k == key::Esc) {
        return ChooseListEsc;
      }
    }
  }

 private:
  int Count() const { return static_cast<int>(names_.size()); }

  static constexpr int kColumns = ChooserEntries / kListRows;

  // Only the entries of the columns in view are drawn.
  void DrawEntry(int k, uint8_t attr) {
    const int column = k / kListRows - firstColumn_;
    if (k >= Count() || column < 0 || column >= kColumns) return;
    const std::string shown = DisplayFileName(names_[k], ChooserEntryWidth);
    s_.PutTextAttr(kListX + kListColumnStep * column, kListTop + k % kListRows,
                   (shown + std::string(ChooserEntryWidth - CharCount(shown), ' ')).c_str(), attr);
  }
  static int CharCount(const std::string& cp866) { return static_cast<int>(cp866.size()); }

  void DrawList() {
    for (int c = 0; c < kColumns; ++c)
      for (int r = 0; r < kListRows; ++r)
        s_.PutTextAttr(kListX + kListColumnStep * c, kListTop + r, std::string(ChooserEntryWidth, ' ').c_str(),
                       ColorPanel);
    for (int k = firstColumn_ * kListRows; k < Count(); ++k) DrawEntry(k, k == selected_ ? ColorSelected : ColorPanel);
  }

  // Keeps the highlighted entry's column in view.
  void Scroll() {
    const int column = selected_ / kListRows;
    const int first = std::clamp(firstColumn_, column - kColumns + 1, column);
    if (first == firstColumn_) return;
    firstColumn_ = first;
    DrawList();
  }

  void DrawSortHint() {
    if (Count() > 1) s_.PutTextAttr(kListX, kSortRow, byDate_ ? kSortByName : kSortByDate, ColorPanel);
  }

  // F2: newest first, or by name again; the same file stays highlighted.
  void Sort() {
    if (Count() < 2) return;
    const std::string current = names_[selected_];
    byDate_ = !byDate_;
    if (byDate_) {
      std::vector<std::pair<long long, std::string>> dated;
      for (std::string& n : names_) dated.emplace_back(-FileModifiedTime(n), std::move(n));
      std::sort(dated.begin(), dated.end());
      for (std::size_t i = 0; i < dated.size(); ++i) names_[i] = std::move(dated[i].second);
    } else {
      std::sort(names_.begin(), names_.end());
    }
    selected_ = static_cast<int>(std::find(names_.begin(), names_.end(), current) - names_.begin());
    firstColumn_ = std::max(0, selected_ / kListRows - kColumns + 1);
    DrawList();
    DrawSortHint();
    ShowName();
  }

  void ShowName() {
    s_.PutTextAttr(kNameX, kNameRow, std::string(kNameWidth, ' ').c_str(), ColorPanel);
    if (selected_ < Count())
      s_.PutTextAttr(kNameX, kNameRow, DisplayFileName(names_[selected_], kNameWidth).c_str(), ColorPanel);
  }

  void Draw() {
    s_.PutTextAttr(kLabelX, kNameRow, kLabel, ColorPanel);
    for (int k = 0; k < Count(); ++k) DrawEntry(k, ColorPanel);
    DrawSortHint();
    s_.SetCursor(kCountX, kHintRow);
    s_.WriteFormatted(kCountFormat, Count());
    for (const Hint& h : kHints) s_.PutTextAttr(h.x, kHintRow, h.text, h.attr);
    if (Count() == 0) s_.PutTextAttr(kEmptyHintX, kEmptyHintRow, kEmptyHint, ColorPanel);
    selected_ = 0;
    DrawEntry(selected_, ColorSelected);
    ShowName();
  }

  void Move(int scan) {
    const int last = Count() - 1;
    int to = selected_;
    switch (scan) {
      case key::Left:
        if (selected_ > 0) to = std::max(0, selected_ - kListRows);
        break;
      case key::Right:
        if (selected_ < last) to = std::min(last, selected_ + kListRows);
        break;
      case key::Down:
        if (selected_ < last) to = selected_ + 1;
        break;
      case key::Up:
        if (selected_ > 0) to = selected_ - 1;
        break;
      default: return;
    }
    if (to == selected_) return;
    DrawEntry(selected_, ColorPanel);
    selected_ = to;
    Scroll();
    DrawEntry(selected_, ColorSelected);
    ShowName();
  }

  void BlankTyped(uint8_t attr) {
    s_.PutTextAttr(kNameX, kNameRow, std::string(kTypedWidth, ' ').c_str(), attr);
    s_.SetCursor(kNameX, kNameRow);
  }

  int Accept(std::string name, int dots) {
    if (dots == 0) name += extension_;
    fileName_ = std::move(name);
    BlankTyped(ColorPanel);
    return ChooseAccepted;
  }

  // Typing mode, started by a Latin letter. The typed name is the one that
  // will be used, so no listed file stays highlighted as if it were. A name
  // at its length limit takes no more characters and waits for Enter: the
  // operator may still be typing, and a key meant for the name must not go
  // on to the question that follows.
  int Type(char first) {
    DrawEntry(selected_, ColorPanel);
    // The name field may still show a 13th and 14th character of a listed name.
    s_.PutTextAttr(kNameX, kNameRow, std::string(kNameWidth, ' ').c_str(), ColorPanel);
    BlankTyped(ColorNormal);
    std::string name(1, LowerAscii(first));
    int dots = 0;
    bool tooLong = false;  // a character was refused for the length
    s_.WriteChar(static_cast<uint8_t>(name[0]));
    for (;;) {
      const int k = s_.ReadKey();
      if (k == key::Prefix) {
        s_.ReadKey();  // an extended key is ignored
      } else if (NameChar(k)) {
        if (static_cast<int>(name.size()) >= kTypedMax) {
          tooLong = true;
          ShowTypedHint(true);
          continue;
        }
        name += static_cast<char>(k);
        if (k == '.') ++dots;
        s_.WriteChar(static_cast<uint8_t>(k));
      } else if (k == key::Backspace && !name.empty()) {
        if (name.back() == '.') --dots;
        name.pop_back();
        if (tooLong) {
          tooLong = false;
          ShowTypedHint(false);
        }
        s_.WriteChar(key::Backspace);
        s_.WriteChar(' ');
        s_.WriteChar(key::Backspace);
      } else if (k == key::Enter) {
        // The name the operator meant is longer than the one typed: not
        // taken cut short.
        if (tooLong) continue;
        return Accept(std::move(name), dots);
      } else if (k == key::Esc) {
        ShowTypedHint(false);
        BlankTyped(ColorPanel);
        return ChooseTypingEsc;
      }
    }
  }

  // The row under the name: why a character was not taken, or blank. The
  // cursor goes back behind the typed name.
  void ShowTypedHint(bool shown) {
    const int x = s_.CursorX(), y = s_.CursorY();
    s_.PutTextAttr(kLabelX, kTypedHintRow, std::string(kNameWidth + kNameX - kLabelX, ' ').c_str(), ColorPanel);
    if (shown) s_.PutTextAttr(kLabelX, kTypedHintRow, kTypedTooLong, ColorAlert);
    s_.SetCursor(x, y);
    s_.SetAttribute(ColorNormal);
  }

  std::string& fileName_;
  Screen& s_;
  const std::string extension_;
  std::vector<std::string> names_;
  int selected_ = 0;
  int firstColumn_ = 0;  // the first column in view
  bool byDate_ = false;
};

}  // namespace

std::vector<std::string> ListMatchingFiles(const char* pattern, const std::string& dir) {
  const std::string_view pat(pattern);
  const std::string_view suffix = pat.empty() ? pat : pat.substr(1);
  std::vector<std::string> names;
  for (std::string& name : ListOrdinaryFiles(dir)) {
    if (name.empty() || name[0] == '.' || !EndsWithNoCase(name, suffix)) continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

int ChooseFile(Screen& screen, std::string& fileName, const char* pattern) {
  return Chooser(screen, fileName, pattern).Run();
}

}  // namespace tv
