// The menu bar on a scripted console with a tool that has no device.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/main_loop.h"
#include "device/clock.h"
#include "tests/support/scripted_console.h"
#include "ui/tool.h"

namespace tv::test {

// A port with nothing behind it: the menu never talks to the device.
class NoPort : public SerialPort {
 public:
  int Open(int) override { return xerr::PortBusy; }
  bool IsOpen() const override { return false; }
  bool SetDtr(bool) override { return false; }
  bool SetRts(bool) override { return false; }
  ReadStatus ReadByte(uint8_t&) override { return ReadTimeout; }
  void WriteBytes(const uint8_t*, std::size_t) override {}
  void DiscardInput() override {}
  std::string Describe(int) const override { return {}; }
};

struct MenuFixture : ::testing::Test {
  ScriptedConsole console;
  Screen screen{&console};
  ManualClock clock;
  NoPort port;
  Tool tool{screen, clock, port};
  MenuState menu;

  // Highlighted item's text as the pull-down shows it.
  std::string Item(int boxColumn, int item, int width) {
    return screen.TextAt(boxColumn + 1, 2 + item, width);
  }
  static std::string Padded(const char* text, int width) {
    std::string s = std::string(" ") + text;
    s.resize(width, ' ');
    return s;
  }
  void Run(std::vector<KeyPress> keys) {
    console.Add(std::move(keys));
    DrawMainScreen(tool, menu);
    RunMenuBar(tool, menu);
  }
};

}  // namespace tv::test
