// The File menu transfers against the simulated gateway: a tool with a
// console that keeps the screen of every key it was asked for, in a scratch
// working directory.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/scripted_console.h"
#include "tests/support/simulated_tool.h"
#include "ui/tool.h"

namespace tv::test {

// Keeps the screen as it was each time a key was awaited. An operator who
// types on can be played too: once keysRead reaches aheadAt, the keys in
// ahead are pending, typed before the screen asked for them.
struct ShotConsole : ScriptedConsole {
  std::vector<Screen> shots;
  int aheadAt = -1;
  std::vector<KeyPress> ahead;
  KeyPress NextKey(const Screen& s) override {
    shots.push_back(s);
    const KeyPress k = ScriptedConsole::NextKey(s);
    if (keysRead == aheadAt) TypeAhead(ahead);
    return k;
  }
};

using Operation = void (*)(Tool&);

inline std::string TwoDigits(int i) {
  return {static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10)};
}

inline int Count(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
    ++n;
  return n;
}

struct TransferTest : ::testing::Test, SimulatedTool<ShotConsole> {
  ScratchDir dir;

  TransferTest() {
    port.Open(0);
    tool.state.deviceConnected = true;
  }

  // Runs the operation with the typed characters and then the keys; every
  // key must be used.
  void Run(Operation op, const std::string& typed, std::vector<KeyPress> keys) {
    console.Type(typed);
    console.Add(std::move(keys));
    op(tool);
    EXPECT_EQ(console.KeysLeft(), 0u);
  }
  const Screen& LastShot() const { return console.shots.back(); }

  // The phonebook as the gateway holds it.
  SimImage GatewayImage() const {
    SimImage image;
    for (int i = 1; i <= 99; ++i)
      if (gateway.HasEntry(i)) {
        image.SetCellNumber(i, gateway.Number(i));
        image.SetCellName(i, gateway.Name(i));
      }
    return image;
  }
  static std::string ReadCommands() {
    std::string wire;
    for (int i = 1; i <= 99; ++i) wire += "AT+CPBR=" + TwoDigits(i) + "\r";
    return wire;
  }
};

inline void ExpectSameCells(const SimImage& a, const SimImage& b) {
  for (int i = 1; i <= 99; ++i) {
    SCOPED_TRACE("cell " + std::to_string(i));
    EXPECT_EQ(a.CellNumber(i), b.CellNumber(i));
    EXPECT_EQ(a.CellName(i), b.CellName(i));
  }
}

// Row y inside the panel (columns 19 to 77) holding text at column x.
inline std::string RowWith(int x, const std::string& text) {
  std::string row(59, ' ');
  row.replace(x - 19, text.size(), text);
  return row;
}

}  // namespace tv::test
