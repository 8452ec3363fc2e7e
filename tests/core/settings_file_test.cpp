// Settings file bytes: the saved form, padding, both line forms read alike,
// the readers' bounds, the write commands of a file, and whole-or-nothing
// writing.
#include "core/settings_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tv {
namespace {

using namespace std::string_literals;

std::string TwoDigits(int i) { return {static_cast<char>('0' + i / 10), static_cast<char>('0' + i % 10)}; }

// The SIM as the initialisation leaves it.
SimImage InitialisedImage() {
  SimImage image;
  for (int i = 1; i <= 99; ++i) {
    image.SetCellNumber(i, i == ModeCell ? DefaultModeString : "0");
    image.SetCellName(i, i == ModeCell ? SimSignature : TwoDigits(i));
  }
  return image;
}

void ExpectSameCells(const SimImage& a, const SimImage& b) {
  for (int i = 0; i < CellSlots; ++i) {
    SCOPED_TRACE("cell " + std::to_string(i));
    EXPECT_EQ(a.CellNumber(i), b.CellNumber(i));
    EXPECT_EQ(a.CellName(i), b.CellName(i));
  }
}

TEST(SettingsFileEncode, InitialisedSimGives1796BytesOfTextIn2048ByteFile) {
  const SimImage image = InitialisedImage();
  const std::string text = EncodeSettingsText(image);
  ASSERT_EQ(text.size(), 1796u);
  EXPECT_EQ(text.substr(0, 18), std::string(" 01,\"0\",129,\"01\"\r\n"));
  EXPECT_EQ(text.substr(6 * 18, 18),
            std::string("\x20\x30\x37\x2C\x22\x30\x22\x2C\x31\x32\x39\x2C\x22\x30\x37\x22\x0D\x0A"));
  EXPECT_NE(
      text.find(" 97,\"0\",129,\"97\"\r\n 98,\"0000100\",129,\"98.GSM.TRV\"\r\n 99,\"0\",129,\"99\"\r\n"),
      std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 18), std::string(" 99,\"0\",129,\"99\"\r\n"));

  const std::string file = EncodeSettingsFile(image);
  ASSERT_EQ(file.size(), 2048u);
  EXPECT_EQ(file.substr(0, 1796), text);
  EXPECT_EQ(file.substr(1796), std::string(252, '\0'));
}

TEST(SettingsFileEncode, EmptyCellIsA15ByteLine) {
  EXPECT_EQ(EncodeSaveLine(1, "", ""),
            std::string("\x20\x30\x31\x2C\x22\x22\x2C\x31\x32\x39\x2C\x22\x22\x0D\x0A"));
  SimImage empty;
  EXPECT_EQ(EncodeSettingsText(empty).size(), 99u * 15u);
}

TEST(SettingsFileEncode, PaddingAlwaysAddsAtLeastOneNul) {
  struct Case {
    std::size_t text, file;
  } cases[] = {{0, 256}, {1, 256}, {255, 256}, {256, 512}, {512, 768}, {1796, 2048}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string padded = PadToBlocks(std::string(c.text, 'x'));
    EXPECT_EQ(padded.size(), c.file);
    EXPECT_EQ(padded.find('\0'), c.text);
    EXPECT_EQ(padded.find_last_not_of('\0') + 1, c.text);
  }
}

TEST(SettingsFileParse, DeviceFormAndSaveFormFillTheSameCells) {
  // As written from "+CPBR:" replies: index without leading zero, the type
  // the device reported (145 for an international number).
  const std::string fromDevice =
      " 1,\"0\",129,\"01\"\r\n"
      " 5,\"+79161234567\",145,\"05\"\r\n"
      " 42,\"*100#\",129,\"42\"\r\n"
      " 98,\"0000100\",129,\"98.GSM.TRV\"\r\n";
  SimImage image;
  image.SetCellNumber(1, "0");
  image.SetCellName(1, "01");
  image.SetCellNumber(5, "+79161234567");
  image.SetCellName(5, "05");
  image.SetCellNumber(42, "*100#");
  image.SetCellName(42, "42");
  image.SetCellNumber(98, "0000100");
  image.SetCellName(98, "98.GSM.TRV");

  SimImage a, b;
  a.SetCellName(7, "stale");  // the reader replaces the whole image
  ParseSettingsText(PadToBlocks(fromDevice), a);
  ParseSettingsText(EncodeSettingsFile(image), b);
  ExpectSameCells(a, image);
  ExpectSameCells(b, image);
}

TEST(SettingsFileParse, CasesAtTheEdges) {
  const std::string sixty(60, '7');
  struct Case {
    const char* name;
    std::string file;
    int cell;
    std::string number, nameText;
  } cases[] = {
      {"blanks dropped from texts", " 03,\"1 2 3\",129,\"AB CD\"\r\n", 3, "123", "ABCD"},
      {"text cut at 47", " 04,\"" + sixty + "\",129,\"" + sixty + "\"\r\n", 4, sixty.substr(0, 47),
       sixty.substr(0, 47)},
      {"last line without CR LF", " 06,\"1\",129,\"X\"", 6, "1", "X"},
      {"lines ended by LF alone", " 07,\"7\",129,\"A\"\n 08,\"8\",129,\"B\"\n", 8, "8", "B"},
      {"second line for a cell replaces it whole", " 09,\"123456\",129,\"LONG\"\r\n 09,\"1\",129,\"S\"\r\n",
       9, "1", "S"},
      {"nothing after the first NUL", " 10,\"1\",129,\"A\"\r\n\0 11,\"2\",129,\"B\"\r\n"s, 11, "", ""},
      {"type and anything after the name ignored", " 12,\"5\",145,\"N\",junk\"x\"\r\n", 12, "5", "N"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimImage image;
    ParseSettingsText(c.file, image);
    EXPECT_EQ(image.CellNumber(c.cell), c.number);
    EXPECT_EQ(image.CellName(c.cell), c.nameText);
  }
}

TEST(SettingsFileParse, LinesOutsideCells1To99AreIgnored) {
  for (const char* line : {" 100,\"1\",129,\"X\"\r\n", " 150,\"1\",129,\"X\"\r\n", " 00,\"1\",129,\"X\"\r\n",
                           " 0,\"1\",129,\"X\"\r\n", " 99999999999999999999,\"1\",129,\"X\"\r\n", " ,\"1\",129,\"X\"\r\n"}) {
    SCOPED_TRACE(line);
    SimImage image;
    ParseSettingsText(line, image);
    ExpectSameCells(image, SimImage{});
  }
}

TEST(SettingsFileParse, CellWithoutLineStaysEmptySoModeFallsBack) {
  SimImage image;
  ParseSettingsText(" 01,\"0\",129,\"01\"\r\n", image);
  EXPECT_EQ(image.CellNumber(ModeCell), "");
  EXPECT_FALSE(image.HasSignature());
}

TEST(SettingsFileSplit, OneCommandPerLineEndingInOneCr) {
  const std::vector<std::string> commands = SplitLinesForSim(EncodeSettingsFile(InitialisedImage()));
  ASSERT_EQ(commands.size(), 99u);
  EXPECT_EQ(commands[0], "AT+CPBW= 01,\"0\",129,\"01\"\r");
  EXPECT_EQ(commands[97], "AT+CPBW= 98,\"0000100\",129,\"98.GSM.TRV\"\r");
}

TEST(SettingsFileSplit, CasesAtTheEdges) {
  auto lines = [](int n) {
    std::string text;
    for (int i = 1; i <= n; ++i) text += EncodeSaveLine(i % 100, "1", "A");
    return text;
  };
  // "AT+CPBW=" (8) + line + CR must fit the 128-byte command buffer.
  const std::string fits = " 05,\"" + std::string(119 - 13, '1') + "\",129,\"\"";
  const std::string tooLong = " 06,\"" + std::string(120 - 13, '1') + "\",129,\"\"";
  ASSERT_EQ(fits.size(), 119u);
  ASSERT_EQ(tooLong.size(), 120u);
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::string> expected;  // empty: only the count is checked
    std::size_t count;
  } cases[] = {
      {"a 10-line file sends 10 commands", PadToBlocks(lines(10)), {}, 10},
      {"no more than 99 lines", lines(120), {}, 99},
      {"empty file", std::string(256, '\0'), {}, 0},
      {"LF alone, and a last line without end",
       " 01,\"1\",129,\"A\"\n 02,\"2\",129,\"B\"",
       {"AT+CPBW= 01,\"1\",129,\"A\"\r", "AT+CPBW= 02,\"2\",129,\"B\"\r"},
       2},
      {"CR alone ends a line too",
       " 01,\"1\",129,\"A\"\r 02,\"2\",129,\"B\"\r",
       {"AT+CPBW= 01,\"1\",129,\"A\"\r", "AT+CPBW= 02,\"2\",129,\"B\"\r"},
       2},
      // The padding begins after the last line's end, a CR alone too: its
      // NUL bytes are no line of their own.
      {"padding after a lone CR",
       PadToBlocks(" 01,\"1\",129,\"A\"\r 02,\"2\",129,\"B\"\r"),
       {"AT+CPBW= 01,\"1\",129,\"A\"\r", "AT+CPBW= 02,\"2\",129,\"B\"\r"},
       2},
      {"empty lines passed over", "\r\n 01,\"1\",129,\"A\"\r\n\r\n\n", {"AT+CPBW= 01,\"1\",129,\"A\"\r"}, 1},
      {"a long line is sent whole: the SIM refuses it, nothing is lost unseen",
       " 04,\"4\",129,\"D\"\r\n" + fits + "\r\n" + tooLong + "\r\n 07,\"7\",129,\"G\"\r\n",
       {"AT+CPBW= 04,\"4\",129,\"D\"\r", "AT+CPBW=" + fits + "\r", "AT+CPBW=" + tooLong + "\r",
        "AT+CPBW= 07,\"7\",129,\"G\"\r"},
       4},
      {"a zero byte inside a text is kept (GSM '@'); the padding is not",
       PadToBlocks(std::string(" 05,\"1\",129,\"A\0B\"\r\n", 19)),
       {std::string("AT+CPBW= 05,\"1\",129,\"A\0B\"\r", 26)},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> commands = SplitLinesForSim(c.file);
    EXPECT_EQ(commands.size(), c.count);
    if (!c.expected.empty()) {
      EXPECT_EQ(commands, c.expected);
    }
  }
}

// A Windows editor puts a UTF-8 byte-order mark before the first line: both
// readers take the file as if it were not there.
TEST(SettingsFileContent, AByteOrderMarkIsNotPartOfTheFirstLine) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string file = EncodeSettingsFile(InitialisedImage());
  struct Case {
    const char* name;
    std::string withMark, without;
  } cases[] = {
      {"a whole file", bom + file, file},
      {"LF alone", bom + " 01,\"1\",129,\"A\"\n", " 01,\"1\",129,\"A\"\n"},
      {"nothing but the mark and padding", bom + std::string(253, '\0'), std::string(256, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SettingsContent(c.withMark), SettingsContent(c.without));
    EXPECT_EQ(SplitLinesForSim(c.withMark), SplitLinesForSim(c.without));
    SimImage a, b;
    ParseSettingsText(c.withMark, a);
    ParseSettingsText(c.without, b);
    ExpectSameCells(a, b);
  }
}


// What File to SIM leaves on the SIM: the cells its lines write are
// replaced whole, as the SIM replaces an entry; the others stay.
TEST(SettingsFileOverlay, TheLinesWrittenReplaceTheirCellsOnly) {
  struct Case {
    const char* name;
    std::string file;
    int cell;            // the cell that changes; 0: none
    const char* number;  // what it then holds
    const char* name_;
  } cases[] = {
      {"a line of the saved form", " 05,\"123\",129,\"AB\"\r\n", 5, "123", "AB"},
      {"the device's form", " 5,\"+7903\",145,\"AB\"\r\n", 5, "+7903", "AB"},
      {"without a name the name goes", " 07,\"9\"\r\n", 7, "9", ""},
      {"the index alone empties the cell", " 07\r\n", 7, "", ""},
      {"the last of two lines for a cell", " 7,\"1\",129,\"A\"\r\n 7,\"2\"\r\n", 7, "2", ""},
      {"no cell 0", " 0,\"1\",129,\"A\"\r\n", 0, "", ""},
      {"no cell 100", " 100,\"1\",129,\"A\"\r\n", 0, "", ""},
      {"no index the SIM takes", " x7,\"1\",129,\"A\"\r\n", 0, "", ""},
      {"padding and no line", PadToBlocks(""), 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimImage image = InitialisedImage();
    OverlaySettingsText(c.file, image);
    SimImage expected = InitialisedImage();
    if (c.cell != 0) {
      expected.SetCellNumber(c.cell, c.number);
      expected.SetCellName(c.cell, c.name_);
    }
    ExpectSameCells(image, expected);
  }
}

}  // namespace
}  // namespace tv
