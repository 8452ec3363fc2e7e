// Start-up, the main loop with its menu bar, the about box and the external
// help viewer.
#pragma once

#include <string>

namespace tv {

struct Tool;

struct MenuState {
  int current = 1;                 // 1..4: the menu whose pull-down is open
  int selected[4] = {1, 1, 1, 1};  // remembered selection of each menu, 1-based
  bool exitRequested = false;
};

void DrawMainScreen(Tool& tool, const MenuState& menu);
// Runs until Enter; the choice is then (menu.current, its selected item).
void RunMenuBar(Tool& tool, MenuState& menu);
// Runs the operation of the current menu's selected item.
void RunMenuItem(Tool& tool, MenuState& menu);
void ShowAboutBox(Tool& tool);

// The help file: help.txt in the working directory, else the copy installed
// with the program, else "help.txt" (whose absence start-up reports).
std::string HelpFilePath();

// The whole program: opens the help file (or shows the start-up error box and
// returns 1), runs the main loop until Exit, clears the screen and returns 0.
// helpPath is the help file in the working directory.
int RunTarvelin(Tool& tool, const char* helpPath = "help.txt");

}  // namespace tv
