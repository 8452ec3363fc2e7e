// The context help window: a topic of the help file, found by its "#" header,
// shown in a panel over the form until Esc, then the screen restored cell for
// cell.
#pragma once

#include <cstdio>

namespace tv {

class Screen;

// The help text file, opened at start-up and kept open for the whole run.
struct HelpFile {
  std::FILE* file = nullptr;
};

void ShowHelpTopic(Screen& screen, HelpFile& help, int topic);

}  // namespace tv
