// The help item on POSIX: the viewer "hiew" when it is on the PATH, else
// the help document in the user's pager, else a message that says why not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cp866/literal.h"
#include "tests/app/menu_fixture.h"
#include "tests/support/scratch_dir.h"

namespace tv {
namespace {

using namespace test;

// The help item in a scratch directory with the given files, PATH leading
// to a directory of fake programs and PAGER as given (unset when null).
struct HelpItemCase {
  const char* name;
  std::vector<std::string> files;     // in the working directory
  std::vector<std::string> programs;  // on the PATH
  const char* pager;
  std::string command;  // the start of the command run; "" when none is
  std::string message;  // the panel's message; "" when none
};

TEST_F(MenuFixture, HelpItemRunsTheViewerOrThePagerOrSaysWhyNot) {
  const std::vector<HelpItemCase> cases = {
      {"hiew on the PATH", {"help.txt"}, {"hiew", "less"}, "fakepager", "hiew help.hlp", ""},
      {"PAGER first", {"help.txt"}, {"less", "more"}, "fakepager -R", "fakepager -R < '", ""},
      {"less without PAGER", {"help.hlp"}, {"less", "more"}, nullptr, "less < '", ""},
      {"more without less", {"help.txt"}, {"more"}, "", "more < '", ""},
      {"no pager", {"help.txt"}, {}, nullptr, "", "Нет программы просмотра"_cp},
      {"no help file", {}, {"less"}, nullptr, "", "Нет файла справки (help.hlp, help.txt)"_cp},
  };
  const char* oldPath = std::getenv("PATH");
  const std::string savedPath = oldPath ? oldPath : "";
  const char* oldPager = std::getenv("PAGER");
  const std::string savedPager = oldPager ? oldPager : "";
  for (const HelpItemCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    for (const std::string& f : c.files) ScratchDir::Write(f, "#1\nhelp\n");
    std::filesystem::create_directory("bin");
    for (const std::string& p : c.programs) {
      ScratchDir::Write("bin/" + p, "#!/bin/sh\n");
      std::filesystem::permissions("bin/" + p, std::filesystem::perms::owner_all);
    }
    setenv("PATH", (dir.Path() + "/bin").c_str(), 1);
    if (c.pager)
      setenv("PAGER", c.pager, 1);
    else
      unsetenv("PAGER");
    ScriptedConsole round;
    screen.AttachConsole(&round);
    round.Add({Left, Enter, Enter});  // the item, then a key for the message
    DrawMainScreen(tool, menu);
    RunMenuBar(tool, menu);
    RunMenuItem(tool, menu);
    if (c.command.empty()) {
      EXPECT_TRUE(round.commands.empty());
    } else {
      ASSERT_EQ(round.commands.size(), 1u);
      EXPECT_EQ(round.commands[0].substr(0, c.command.size()), c.command);
    }
    if (!c.message.empty()) {
      EXPECT_NE(screen.Dump().find(c.message), std::string::npos) << screen.Dump();
      EXPECT_EQ(round.KeysLeft(), 0u);  // the message waited for its key
    }
    menu = MenuState{};
  }
  setenv("PATH", savedPath.c_str(), 1);
  if (oldPager)
    setenv("PAGER", savedPager.c_str(), 1);
  else
    unsetenv("PAGER");
}

}  // namespace
}  // namespace tv
