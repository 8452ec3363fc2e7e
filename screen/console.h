// What the screen needs of a terminal: show the grid, hand over keys, and
// give the terminal to another program for a while.
#pragma once

#include <chrono>
#include <cstdint>

namespace tv {

class Screen;

// One key press: a character code, or an extended key given by its scan code.
struct KeyPress {
  bool extended = false;
  uint8_t code = 0;
};

class Console {
 public:
  virtual ~Console() = default;
  // Makes the terminal show the screen as it is now.
  virtual void Present(const Screen& screen) = 0;
  // Waits for the next key press (the screen has been presented).
  virtual KeyPress NextKey(const Screen& screen) = 0;
  // A key the operator has already pressed, without waiting; false when
  // there is none.
  virtual bool PollKey(const Screen& screen, KeyPress& key) {
    (void)screen;
    (void)key;
    return false;
  }
  // A key pressed within the given time (the screen has been presented);
  // false when none came. Without a clock of its own, a console answers as
  // PollKey does.
  virtual bool WaitKey(const Screen& screen, KeyPress& key, std::chrono::milliseconds within) {
    (void)within;
    return PollKey(screen, key);
  }
  // Drops the keys pressed but not yet read: keys typed while the tool was
  // busy with the device must not answer the question that follows.
  virtual void DiscardTypeahead() {}
  // The cursor as a block instead of the usual underline: a field editor
  // shows with it that typed characters replace the ones under the cursor.
  virtual void SetBlockCursor(bool block) { (void)block; }
  // Runs a command line through the system shell with the terminal handed
  // over to it, waits for it, and takes the terminal back. The result is not
  // examined.
  virtual void RunCommand(const char* commandLine, const Screen& screen) = 0;
};

}  // namespace tv
