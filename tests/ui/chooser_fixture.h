// The file chooser in a scratch working directory, on a cleared screen with
// the panel it is drawn in.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "tests/support/scripted_console.h"
#include "tests/support/simulated_tool.h"
#include "ui/file_chooser.h"
#include "ui/tool.h"

namespace tv::test {

// Files f00.set, f01.set, ... in the scratch directory.
inline std::string Numbered(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "f%02d.set", i);
  return name;
}
inline void MakeFiles(int count) {
  for (int i = 0; i < count; ++i) ScratchDir::Write(Numbered(i), "");
}

struct ChooserTest : ::testing::Test, SimulatedTool<> {
  ScratchDir dir;

  ChooserTest() {
    screen.ClearScreen();
    screen.DrawPanel(18, 3, 59, 20);
  }
  int Choose(std::vector<KeyPress> keys) {
    console.Add(std::move(keys));
    return ChooseFile(tool.screen, tool.state.currentFileName, "*.set");
  }
};

}  // namespace tv::test
