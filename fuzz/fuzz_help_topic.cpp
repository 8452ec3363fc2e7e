// A help file and a topic number -> ShowHelpTopic over a filled screen.
// Input: two bytes of topic (a signed 16-bit number; 0x7FFF takes the number
// of the first header line of the file instead), one byte of keys to press
// before Esc, then the file. Checked while the window waits for its first
// key: nothing outside the panel changed and its frame is whole; after the
// call: the screen, cursor and attribute exactly as before. A second call,
// for the file's first topic, starts where the first one left the file and
// shows the same window when both ask for the same topic.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "screen/help_window.h"
#include "screen/screen.h"

namespace {

using namespace tv;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The target's own checks and set-up steer nothing: left out of the coverage
// the fuzzer follows (and off its comparison tracing, which for a whole
// screen cell by cell costs more than drawing the window).
#if defined(__clang__)
#define NOT_STEERING __attribute__((no_sanitize("coverage")))
#else
#define NOT_STEERING
#endif

// The panel over columns 6..76, rows 2..24.
constexpr int PanelLeft = 6, PanelRight = 76, PanelTop = 2, PanelBottom = 24;

// Presses the given keys (ordinary ones and extended ones), then Esc for
// ever; checks the window on the first key wait and keeps its picture.
class WindowConsole : public Console {
 public:
  WindowConsole(const uint8_t* before, uint8_t keys) : before_(before), keys_(keys) {}
  void Present(const Screen&) override {}
  void RunCommand(const char*, const Screen&) override {}
  KeyPress NextKey(const Screen& s) override {
    ++calls_;
    if (!seen_) {
      seen_ = true;
      s.SaveRect(1, 1, ScreenWidth, ScreenHeight, window);
      CheckWindow(s);
    }
    if (pressed_ < (keys_ & 7)) {
      ++pressed_;
      const bool extended = (keys_ >> (3 + pressed_ % 5)) & 1;
      // An extended key's scan code may equal Esc's code (0x1B): it is not Esc.
      return KeyPress{extended, static_cast<uint8_t>(extended ? 0x1A + pressed_ : 'a' + pressed_)};
    }
    return KeyPress{false, 0x1B};
  }
  bool seen() const { return seen_; }
  // Every key was waited for: the given ones and the closing Esc.
  bool allPressed() const { return calls_ == (keys_ & 7) + 1; }
  uint8_t window[ScreenSaveBytes] = {};

 private:
  NOT_STEERING void CheckWindow(const Screen& s) const {
    for (int y = 1; y <= ScreenHeight; ++y)
      for (int x = 1; x <= ScreenWidth; ++x) {
        const bool inPanel = x >= PanelLeft && x <= PanelRight && y >= PanelTop && y <= PanelBottom;
        const std::size_t i = 2 * ((y - 1) * ScreenWidth + (x - 1));
        if (!inPanel) Check(s.CharAt(x, y) == before_[i] && s.AttrAt(x, y) == before_[i + 1]);
        const bool frame =
            inPanel && (x == PanelLeft || x == PanelRight || y == PanelTop || y == PanelBottom);
        if (frame) {
          const uint8_t c = s.CharAt(x, y);
          Check(c == line::SingleHorizontal || c == line::SingleVertical || c == line::SingleTopLeft ||
                c == line::SingleTopRight || c == line::SingleBottomLeft || c == line::SingleBottomRight);
          Check(s.AttrAt(x, y) == ColorPanel);
        }
      }
  }

  const uint8_t* before_;
  uint8_t keys_;
  int pressed_ = 0;
  int calls_ = 0;
  bool seen_ = false;
};

NOT_STEERING int FirstHeaderNumber(const uint8_t* file, std::size_t size) {
  // As the window reads it: a '#' at the start of a line, up to four digits.
  for (std::size_t i = 0; i < size; ++i) {
    if (file[i] != '#' || (i > 0 && file[i - 1] != '\n')) continue;
    int n = 0;
    for (std::size_t k = i + 1; k < size && k <= i + 4 && file[k] >= '0' && file[k] <= '9'; ++k)
      n = n * 10 + (file[k] - '0');
    return n;
  }
  return -1;
}

void Show(const uint8_t* before, uint8_t keys, std::FILE* file, int topic, uint8_t* window) {
  WindowConsole console(before, keys);
  Screen screen(&console);
  screen.RestoreRect(1, 1, ScreenWidth, ScreenHeight, before);
  const int x = 1 + before[0] % ScreenWidth, y = 1 + before[1] % ScreenHeight;
  screen.SetCursor(x, y);
  screen.SetAttribute(before[2]);

  HelpFile help{file};
  ShowHelpTopic(screen, help, topic);

  Check(console.seen() && console.allPressed());
  uint8_t after[ScreenSaveBytes];
  screen.SaveRect(1, 1, ScreenWidth, ScreenHeight, after);
  Check(std::memcmp(after, before, ScreenSaveBytes) == 0);
  Check(screen.CursorX() == x && screen.CursorY() == y && screen.Attribute() == before[2]);
  std::memcpy(window, console.window, ScreenSaveBytes);
}

NOT_STEERING void FillBefore(uint8_t* before, const uint8_t* text, std::size_t textSize) {
  for (std::size_t i = 0; i < ScreenSaveBytes; ++i)
    before[i] = static_cast<uint8_t>(i * 7 + (textSize ? text[i % textSize] : 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  int topic = static_cast<int16_t>(data[0] << 8 | data[1]);
  const uint8_t keys = data[2];
  const uint8_t* text = data + 3;
  const std::size_t textSize = size - 3;
  const int first = FirstHeaderNumber(text, textSize);
  if (topic == 0x7FFF) topic = first;

  // The screen before: every cell a different character and attribute.
  uint8_t before[ScreenSaveBytes];
  FillBefore(before, text, textSize);

  // The file in memory; an empty input gives no file at all.
  std::vector<uint8_t> copy(text, text + textSize);
  std::FILE* file = textSize ? fmemopen(copy.data(), copy.size(), "r") : nullptr;
  uint8_t window[ScreenSaveBytes];
  Show(before, keys, file, topic, window);
  if (first >= 0) {
    // Again, from wherever the first call left the file.
    uint8_t again[ScreenSaveBytes];
    Show(before, 0, file, first, again);
    Check(topic != first || std::memcmp(window, again, ScreenSaveBytes) == 0);
  }
  if (file) std::fclose(file);
  return 0;
}
