// File to SIM's question says what the write changes on the gateway, in the
// settings' words, before the operator answers: the first changes and how
// many more, that nothing changes, or that only cells outside the settings
// differ.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/settings_file.h"
#include "core/settings_model.h"
#include "tests/ui/transfer_fixture.h"
#include "ui/settings_transfers.h"

namespace tv {
namespace {

using namespace test;

// The gateway's settings with some changed by key, as `set` would change
// them in a backup of it.
SimImage Changed(SimImage image, const std::vector<std::pair<std::string, std::string>>& settings) {
  for (const auto& [key, value] : settings) {
    const SettingSpec* spec = FindSetting(key);
    if (spec == nullptr) {
      ADD_FAILURE() << "no setting " << key;
      continue;
    }
    EXPECT_EQ(ApplySetting(image, *spec, value), "") << key;
  }
  return image;
}

struct FileToSimQuestion : TransferTest {
  FileToSimQuestion() {
    // Connected: the image is the SIM as the connection read it.
    tool.image = GatewayImage();
  }
  // The question as the operator sees it before answering n.
  Screen Asked(const std::string& file) {
    ScratchDir::Write("gw1.set", file);
    console.shots.clear();
    Run(FileToSim, "", {Enter, Chr('n')});
    EXPECT_EQ(console.shots.size(), 2u);
    return console.shots.back();
  }
};

// Rows 6 to 16 inside the panel, each as a whole row (columns 19 to 77):
// what stands under the question and its file and gateway.
std::vector<std::string> RowsUnder(const Screen& shot) {
  std::vector<std::string> rows;
  for (int y = 6; y <= 16; ++y) rows.push_back(shot.TextAt(19, y, 59));
  return rows;
}

std::vector<std::string> Expected(const std::vector<std::string>& texts) {
  std::vector<std::string> rows = {RowWith(20, "")};
  for (const std::string& text : texts) rows.push_back(RowWith(20, text));
  rows.resize(11, RowWith(20, ""));
  return rows;
}

TEST_F(FileToSimQuestion, SaysInWordsWhatTheFileChanges) {
  const SimImage sim = GatewayImage();
  // Ten forbidden numbers, the barring and the forwarding number: twelve.
  std::vector<std::pair<std::string, std::string>> twelve = {{"incoming.barring", "barred"},
                                                             {"forwarding.number", "84957654321"}};
  for (int n = 1; n <= 10; ++n) twelve.push_back({"outgoing.forbidden." + std::to_string(n), "7" + TwoDigits(n)});
  // A list cell's name and an unset route's cell carry no setting.
  SimImage outside = sim;
  outside.SetCellName(41, "X41");
  outside.SetCellNumber(65, "1");
  SimImage longNumbers = sim;
  longNumbers.SetCellNumber(6, "123456789012345678901234567890");
  const SimImage longNumbersAfter = Changed(longNumbers, {{"contacts.6.number", "987654321098765432109876543210"}});
  // A file of the forwarding cell alone: the other cells stay as the SIM has them.
  const std::string oneLine = EncodeSaveLine(99, "84957654321", "99");
  struct Case {
    const char* name;
    SimImage sim;
    std::string file;
    std::vector<std::string> rows;
  } cases[] = {
      {"a few changes",
       sim,
       EncodeSettingsFile(Changed(sim, {{"forwarding.number", "84957654321"}, {"incoming.barring", "barred"}})),
       {"Изменения в SIM-Карте:"_cp, "Входящая связь: запрет: Разрешена -> Запрещена"_cp,
        "Переадресация: номер 89161234567 -> 84957654321"_cp}},
      {"more than fit",
       sim,
       EncodeSettingsFile(Changed(sim, twelve)),
       {"Изменения в SIM-Карте:"_cp, "Исходящая связь: запрещенный набор 40 8800 -> 701"_cp,
        "Исходящая связь: запрещенный набор 41 0 -> 702"_cp, "Исходящая связь: запрещенный набор 42 0 -> 703"_cp,
        "Исходящая связь: запрещенный набор 43 0 -> 704"_cp, "Исходящая связь: запрещенный набор 44 0 -> 705"_cp,
        "Исходящая связь: запрещенный набор 45 0 -> 706"_cp, "Исходящая связь: запрещенный набор 46 0 -> 707"_cp,
        "и ещё 5"_cp}},
      {"one line of a file", sim, oneLine,
       {"Изменения в SIM-Карте:"_cp, "Переадресация: номер 89161234567 -> 84957654321"_cp}},
      {"numbers longer than the row", longNumbers, EncodeSettingsFile(longNumbersAfter),
       {"Изменения в SIM-Карте:"_cp, "Записная книжка: контакт 06: номер 1234~7890 -> 9876~3210"_cp}},
      {"nothing", sim, EncodeSettingsFile(sim), {"Настройки совпадают с SIM-Картой"_cp}},
      {"cells outside the settings", sim, EncodeSettingsFile(outside),
       {"Настройки не меняются; отличных ячеек: 2"_cp}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tool.image = c.sim;
    const Screen asked = Asked(c.file);
    // The question and what it acts on stay where they were.
    EXPECT_EQ(asked.TextAt(20, 4, 44), std::string("Загрузить данные из файла в SIM-Карту? [Y/N]"_cp));
    EXPECT_EQ(asked.TextAt(20, 5, 28), std::string("gw1.set -> COM1 ШЛЮЗ 1"_cp) + "      ");
    EXPECT_EQ(RowsUnder(asked), Expected(c.rows));
    // None runs into the frame, the file list is gone beneath them.
    for (int y = 6; y <= 22; ++y) EXPECT_EQ(asked.CharAt(77, y), ' ') << y;
    EXPECT_EQ(asked.TextAt(20, 22, 57), std::string(57, ' '));
    EXPECT_EQ(asked.CharAt(78, 8), line::SingleVertical);
  }
  // Asking read nothing from the SIM: the image is what it holds.
  EXPECT_TRUE(port.written.empty());
}

// After y the SIM gets the changes the question named, and the list of them
// goes before the writing shows its progress.
TEST_F(FileToSimQuestion, TheChangesNamedAreTheChangesWritten) {
  const SimImage file = Changed(GatewayImage(), {{"forwarding.number", "84957654321"}, {"incoming.barring", "barred"}});
  ScratchDir::Write("gw1.set", EncodeSettingsFile(file));
  console.escWhen = [this] { return Count(port.written, "AT+CPBW=") == 10; };
  // Esc during the write: the stop question, then no.
  Run(FileToSim, "", {Enter, Chr('y'), Chr('n'), Enter});
  ASSERT_EQ(console.shots.size(), 4u);
  EXPECT_EQ(console.shots[1].TextAt(20, 8, 46), std::string("Входящая связь: запрет: Разрешена -> Запрещена"_cp));
  const Screen& writing = console.shots[2];
  EXPECT_EQ(writing.TextAt(20, 6, 42), std::string("Остановить запись после этой строки? [Y/N]"_cp));
  for (int y = 8; y <= 10; ++y) EXPECT_EQ(writing.TextAt(19, y, 59), std::string(59, ' ')) << y;
  EXPECT_EQ(LastShot().TextAt(20, 4, 56), std::string("Данные загружены.  Для продолжения нажмите любую клавишу"_cp));
  for (int y = 7; y <= 10; ++y) EXPECT_EQ(LastShot().TextAt(19, y, 59), std::string(59, ' ')) << y;
  EXPECT_EQ(gateway.Number(99), "84957654321");
  EXPECT_EQ(gateway.Number(98), "1110200");
  ExpectSameCells(tool.image, file);
}

}  // namespace
}  // namespace tv
