// The file chooser with names only POSIX file systems hold: symbolic links
// made by any user, control characters and bytes that are not UTF-8.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cp866/literal.h"
#include "tests/ui/chooser_fixture.h"

namespace tv {
namespace {

using namespace test;

TEST_F(ChooserTest, ListsOrdinarySetFilesOfAnyCaseSortedByName) {
  for (const char* name : {"b.set", "A.SET", "c.Set", "x.txt", "set", "noext", ".hidden.set", "z.set.bak"})
    ScratchDir::Write(name, "");
  std::filesystem::create_directory("dir.set");
  std::filesystem::create_symlink("b.set", "link.set");
  std::filesystem::create_symlink("nowhere", "dangling.set");
  EXPECT_EQ(ListMatchingFiles("*.set"), (std::vector<std::string>{"A.SET", "b.set", "c.Set", "link.set"}));
}

TEST_F(ChooserTest, OddBytesInNamesShowAsHarmlessCharacters) {
  const std::string control = "a\b\r\n\x1b.set";
  const std::string utf8 = "\xd1\x82\xd0\xb5\xd1\x81\xd1\x82.set";  // UTF-8 of тест.set
  ScratchDir::Write(control, "");
  ScratchDir::Write(utf8, "");
  EXPECT_EQ(Choose({Down, Enter}), ChooseAccepted);
  EXPECT_EQ(tool.state.currentFileName, utf8);
  EXPECT_EQ(screen.TextAt(20, 6, 12), "a????.set   ");
  EXPECT_EQ(screen.TextAt(20, 7, 12), std::string("тест.set    "_cp));
  // Nothing moved: the rest of the list area and the count are where they belong.
  EXPECT_EQ(screen.TextAt(20, 8, 12), std::string(12, ' '));
  EXPECT_EQ(screen.TextAt(20, 23, 21), std::string("Колличество файлов: 2"_cp));
}

}  // namespace
}  // namespace tv
