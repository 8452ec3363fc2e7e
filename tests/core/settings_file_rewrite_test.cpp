// A settings file changed by setting: only the lines of the cells that
// changed are written anew, every other byte stays; every settings file of
// the tests' data comes back byte for byte when nothing changes, and loads
// as the edited image when something does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/settings_file.h"
#include "core/settings_model.h"

namespace tv {
namespace {

using namespace std::string_literals;

SimImage Parsed(std::string_view bytes) {
  SimImage image;
  ParseSettingsText(bytes, image);
  return image;
}

void ExpectSameCells(const SimImage& a, const SimImage& b) {
  for (int cell = 1; cell <= SettingsLines; ++cell) {
    SCOPED_TRACE("cell " + std::to_string(cell));
    EXPECT_EQ(a.CellNumber(cell), b.CellNumber(cell));
    EXPECT_EQ(a.CellName(cell), b.CellName(cell));
  }
}

std::string Padded(std::string text, std::size_t size) {
  text.resize(size, '\0');
  return text;
}

TEST(SettingsFileRewrite, OnlyTheChangedCellsLinesAreWrittenAnew) {
  struct Case {
    const char* name;
    std::string file;
    int cell;  // the cell given new texts: "555" and "NEW"
    std::string expected;
  };
  const std::string three = " 01,\"0\",129,\"01\"\r\n 02,\"0\",129,\"02\"\r\n 03,\"0\",129,\"03\"\r\n";
  const std::vector<Case> cases = {
      {"the saved form, padded: the file keeps its size",
       Padded(three, 256), 2,
       Padded(" 01,\"0\",129,\"01\"\r\n 02,\"555\",129,\"NEW\"\r\n 03,\"0\",129,\"03\"\r\n", 256)},
      {"lines from the device and a byte order mark stay as they are",
       "\xEF\xBB\xBF 1,\"+79161234567\",145,\"A\"\r\n 2,\"x\",129,\"B\",0\r\n 3,\"y\",129,\"C\"\r\n"s, 3,
       "\xEF\xBB\xBF 1,\"+79161234567\",145,\"A\"\r\n 2,\"x\",129,\"B\",0\r\n 03,\"555\",129,\"NEW\"\r\n"s},
      {"LF line ends, no padding",
       " 01,\"8 916\",129,\"Ab\"\n 02,\"0\",129,\"02\"\n", 1,
       " 01,\"555\",129,\"NEW\"\n 02,\"0\",129,\"02\"\n"},
      {"the last of two lines for the cell is the one that wins",
       " 02,\"1\",129,\"A\"\r\njunk\r\n 2,\"2\",129,\"B\"\r\n 03,\"0\",129,\"03\"\r\n", 2,
       " 02,\"1\",129,\"A\"\r\njunk\r\n 02,\"555\",129,\"NEW\"\r\n 03,\"0\",129,\"03\"\r\n"},
      {"a cell no line names: a new line before the padding",
       Padded(three, 256), 45,
       Padded(three + " 45,\"555\",129,\"NEW\"\r\n", 256)},
      {"a new line in the file's own line ends, after a last line without one",
       " 01,\"0\",129,\"01\"\n 02,\"0\",129,\"02\"", 99,
       " 01,\"0\",129,\"01\"\n 02,\"0\",129,\"02\"\n 99,\"555\",129,\"NEW\"\n"},
      {"a shorter line: the padding grows by as much",
       Padded(" 01,\"89161234567\",129,\"LONGER NAME\"\r\n", 256), 1,
       Padded(" 01,\"555\",129,\"NEW\"\r\n", 256)},
      {"a text that outgrows its padding is padded anew to whole blocks",
       Padded(std::string(250, ' ') + "\r\n", 256), 7,
       Padded(std::string(250, ' ') + "\r\n 07,\"555\",129,\"NEW\"\r\n", 512)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimImage edited = Parsed(c.file);
    edited.SetCellNumber(c.cell, "555");
    edited.SetCellName(c.cell, "NEW");
    const std::string rewritten = RewriteSettingsFile(c.file, edited);
    EXPECT_EQ(rewritten, c.expected);
    ExpectSameCells(Parsed(rewritten), edited);
  }
}

// A name changed beside an international number: the line as the device
// reads it back, type 145, so that restore finds it on the SIM as written.
TEST(SettingsFileRewrite, AnInternationalNumberKeepsItsType) {
  const std::string file = " 3,\"+79031112233\",145,\"03\"\r\n 4,\"89031112233\",129,\"04\"\r\n";
  SimImage edited = Parsed(file);
  edited.SetCellName(3, "PETROV");
  edited.SetCellName(4, "IVANOV");
  EXPECT_EQ(RewriteSettingsFile(file, edited),
            " 03,\"+79031112233\",145,\"PETROV\"\r\n 04,\"89031112233\",129,\"IVANOV\"\r\n");
}

// The settings files of the tests' data, those the fuzzing found included.
std::vector<std::filesystem::path> DataFiles() {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const char* dir : {TV_SETTINGS_CORPUS, TV_SETTINGS_CRASHES})
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
      if (entry.is_regular_file()) files.push_back(entry.path());
  return files;
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Every setting of every file set to the value it holds, and to another:
// byte for byte the same file when the cells did not change; otherwise a
// file that loads as the edited image, the same size while it fits.
TEST(SettingsFileRewrite, EveryDataFileThroughEverySetting) {
  const std::vector<std::filesystem::path> files = DataFiles();
  ASSERT_FALSE(files.empty()) << TV_SETTINGS_CORPUS;
  for (const std::filesystem::path& path : files) {
    SCOPED_TRACE(path.filename().string());
    const std::string bytes = ReadBytes(path);
    const SimImage image = Parsed(bytes);
    const std::size_t text = SettingsContent(bytes).size() + (bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0);
    const bool padded = text < bytes.size() && bytes.find_first_not_of('\0', text) == std::string::npos;
    EXPECT_EQ(RewriteSettingsFile(bytes, image), bytes);
    for (const SettingSpec& spec : AllSettings()) {
      for (const std::string& value : {SettingValue(image, spec), std::string("12"), std::string("barred")}) {
        SimImage edited = image;
        if (!ApplySetting(edited, spec, value).empty()) continue;
        SCOPED_TRACE(spec.key + "=" + value);
        const std::string rewritten = RewriteSettingsFile(bytes, edited);
        bool changed = false;
        for (int cell = 1; cell <= SettingsLines; ++cell)
          changed = changed || image.CellNumber(cell) != edited.CellNumber(cell) ||
                    image.CellName(cell) != edited.CellName(cell);
        if (!changed) {
          EXPECT_EQ(rewritten, bytes);
          continue;
        }
        ExpectSameCells(Parsed(rewritten), edited);
        // A padded file stays padded: the same size, or whole blocks when
        // the text outgrew it.
        if (padded) {
          EXPECT_TRUE(rewritten.size() == bytes.size() || rewritten.size() % FileBlockBytes == 0);
        }
      }
    }
  }
}

}  // namespace
}  // namespace tv
