// The console of a real terminal, through ncursesw: shows the 80x25 grid of
// cp866 cells in true PC colours, turns terminal key sequences into the
// tool's key codes, and hands the terminal to another program on request.
// This folder is the only place that includes curses.
#pragma once

#include <cstdint>

#include "platform/host_devices.h"
#include "screen/screen.h"

namespace tv {

class TerminalConsole final : public HostConsole {
 public:
  TerminalConsole() = default;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;
  ~TerminalConsole() override;

  // Takes the terminal: locale, curses modes, colours, signal handlers that
  // restore the terminal. Asks an xterm-like terminal that is smaller than
  // 80x25 to grow. Ends the process with a message if the terminal type is
  // unusable.
  void Start(const Screen& screen) override;
  // Clears the terminal and gives it back as it was (modes, cursor).
  void Stop() override;

  void Present(const Screen& screen) override;
  KeyPress NextKey(const Screen& screen) override;
  bool PollKey(const Screen& screen, KeyPress& key) override;
  bool WaitKey(const Screen& screen, KeyPress& key, std::chrono::milliseconds within) override;
  void DiscardTypeahead() override;
  void SetBlockCursor(bool block) override;
  void RunCommand(const char* commandLine, const Screen& screen) override;

 private:
  // A resize signal that lands between the last look at the flag and the read
  // would leave the old frame up until the next key; reads therefore wake up
  // now and then to look again.
  static constexpr int kKeyWaitSliceMs = 200;

  // Whether the terminal is smaller than the grid (the size notice stands).
  static bool TooSmall();
  void ApplyPendingResize();
  void DrawNotice();
  void DrawCell(int x, int y, const ScreenCell& cell);
  short PairFor(uint8_t attr);

  bool started_ = false;
  bool utf8_ = false;
  bool color_ = false;
  bool colors16_ = false;
  // What the terminal shows: the cells as last presented, whether they are
  // valid (false forces a full repaint) and the grid version they belong to.
  ScreenCell shown_[ScreenHeight][ScreenWidth] = {};
  bool shownValid_ = false;
  uint64_t shownVersion_ = 0;
  int shownCursorX_ = 0, shownCursorY_ = 0;
  bool noticeShown_ = false;
  bool blockCursor_ = false;
  bool cursorStyles_ = false;  // the terminal takes cursor-style sequences
  short pairOf_[256] = {};
  short nextPair_ = 1;
};

}  // namespace tv
