// The Windows console behind the screen: the console API on "CONIN$" and
// "CONOUT$". The tool draws into a screen buffer of its own, 80x25, made
// active for the run; the operator's buffer, with what it showed, its size,
// modes and code pages, is given back on Stop, around a command the tool
// runs, and when the console is closed or Ctrl+C ends the tool.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/host_devices.h"
#include "screen/screen.h"

namespace tv {

class Win32Console final : public HostConsole {
 public:
  Win32Console() = default;
  Win32Console(const Win32Console&) = delete;
  Win32Console& operator=(const Win32Console&) = delete;
  ~Win32Console() override;

  // Takes the console; ends the process with a message when there is none
  // (output redirected away from any console).
  void Start(const Screen& screen) override;
  void Stop() override;

  void Present(const Screen& screen) override;
  KeyPress NextKey(const Screen& screen) override;
  bool PollKey(const Screen& screen, KeyPress& key) override;
  bool WaitKey(const Screen& screen, KeyPress& key, std::chrono::milliseconds within) override;
  void DiscardTypeahead() override;
  void SetBlockCursor(bool block) override;
  void RunCommand(const char* commandLine, const Screen& screen) override;

 private:
  // The tool's buffer, modes and code page in place / the operator's back.
  void Take();
  void GiveBack();
  // The next key among the waiting input events; false when none is waiting
  // (wait: block until one comes).
  bool ReadKey(KeyPress& key, bool wait);

  bool started_ = false;
  bool cp866_ = false;  // the output code page took 866: cells go out as bytes
  // What the console shows: the cells as last presented, valid or not (false
  // forces a full repaint) and the grid version they belong to.
  ScreenCell shown_[ScreenHeight][ScreenWidth] = {};
  bool shownValid_ = false;
  uint64_t shownVersion_ = 0;
  int shownCursorX_ = 0, shownCursorY_ = 0;
  // A key event with a repeat count gives its key that many times.
  KeyPress repeatKey_{};
  int repeatsLeft_ = 0;
};

}  // namespace tv
