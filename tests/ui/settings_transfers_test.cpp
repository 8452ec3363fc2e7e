// The four File menu transfers against the simulated gateway: prompts and
// messages, flags, the bytes on the wire and in the files, and the faults
// that must not cost the operator a file or send garbage to the SIM.
#include "ui/settings_transfers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/settings_file.h"
#include "gateway/journal.h"
#include "screen/form_grid.h"
#include "sim/sim_serial_port.h"
#include "tests/ui/transfer_fixture.h"
#include "ui/cell_fields.h"

namespace tv {
namespace {

using namespace test;

// --- gates ---

TEST_F(TransferTest, OperationsWithoutTheirSourceShowExchangeError5) {
  struct Case {
    const char* name;
    Operation op;
    bool connected, loaded;
  } cases[] = {
      {"SIM to file, nothing", SimToFile, false, false},
      {"SIM to file, file loaded", SimToFile, false, true},
      {"File to SIM, file loaded", FileToSim, false, true},
      {"Save to file, nothing", SaveToFile, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    console.shots.clear();
    tool.state.deviceConnected = c.connected;
    tool.state.fileLoaded = c.loaded;
    screen.ClearScreen();
    Run(c.op, "", {Esc});
    ASSERT_EQ(console.shots.size(), 1u);
    EXPECT_NE(LastShot().TextAt(14, 14).find("Не выбран порт обмена"_cp), std::string::npos);
    EXPECT_NE(LastShot().CharAt(18, 3), line::SingleTopLeft);  // no panel was drawn
    EXPECT_EQ(tool.state.fileLoaded, c.loaded);
  }
  EXPECT_TRUE(port.written.empty());
  EXPECT_TRUE(ScratchDir::Entries().empty());
}

// --- SIM to file ---

TEST_F(TransferTest, SimToFileWritesEachReplyAsALine) {
  Run(SimToFile, "Out", {Enter, Chr('y'), Enter});
  EXPECT_EQ(port.written, ReadCommands());
  EXPECT_EQ(tool.state.currentFileName, "out.set");

  std::string expected;
  for (int i = 1; i <= 99; ++i) {
    const std::string number = gateway.Number(i);
    expected += " " + std::to_string(i) + ",\"" + number + "\"," + (number[0] == '+' ? "145" : "129") +
                ",\"" + gateway.Name(i) + "\"\r\n";
  }
  EXPECT_EQ(ScratchDir::Read("out.set"), PadToBlocks(expected));
  EXPECT_EQ(ScratchDir::Entries(), std::vector<std::string>{"out.set"});

  const Screen& prompt = console.shots[4];
  EXPECT_EQ(prompt.TextAt(20, 4, 43), std::string("Сохранить данные из SIM-Карты в файл? [Y/N]"_cp));
  const Screen& done = LastShot();
  EXPECT_EQ(done.TextAt(20, 4, 55),
            std::string("Данные сохранены. Для продолжения нажмите любую клавишу"_cp));
  EXPECT_EQ(screen.CharAt(18, 3), ' ');  // panel closed
  EXPECT_TRUE(tool.state.deviceConnected);
  ExpectSameCells(tool.image, GatewayImage());
}

TEST_F(TransferTest, SimToFileShowsProgressWhileReading) {
  gateway.Options().faults.silentAfterCommands = 49;  // cell 50 gets no answer
  Run(SimToFile, "p", {Enter, Chr('y'), Esc});
  const Screen& box = LastShot();
  EXPECT_EQ(box.TextAt(20, 4, 10), std::string("Выполнено:"_cp));
  EXPECT_EQ(box.TextAt(31, 4, 4), " 50%");
  EXPECT_EQ(box.CharAt(40 + 49 / 3, 4), line::FullBlock);
  EXPECT_EQ(box.CharAt(40 + 49 / 3 + 1, 4), line::LightShade);
}

TEST_F(TransferTest, SimToFileAnswersAtThePrompt) {
  // For each key awaited: whether the file list was on the screen then.
  struct Case {
    const char* name;
    std::vector<KeyPress> keys;
    std::vector<bool> listShown;
  } cases[] = {
      {"n goes back to the list", {Enter, Chr('n'), Esc}, {true, false, true}},
      {"an extended key goes back to the list", {Enter, Down, Esc}, {true, false, true}},
      {"Esc closes", {Enter, Esc}, {true, false}},
      {"Esc while typing runs the chooser again", {Chr('a'), Esc, Esc}, {true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    console.shots.clear();
    Run(SimToFile, "", c.keys);
    std::vector<bool> listShown;
    for (const Screen& shot : console.shots)
      listShown.push_back(shot.TextAt(20, 4, 13) == std::string("Текущий файл:"_cp));
    EXPECT_EQ(listShown, c.listShown);
    EXPECT_EQ(screen.CharAt(18, 3), ' ');
  }
  EXPECT_TRUE(port.written.empty());
  EXPECT_TRUE(ScratchDir::Entries().empty());
}

TEST_F(TransferTest, SimToFileFallingSilentLeavesTheOldFileIntact) {
  SimImage old;
  old.SetCellNumber(1, "12345");
  old.SetCellName(1, "KEEP");
  const std::string oldBytes = EncodeSettingsFile(old);
  ScratchDir::Write("old.set", oldBytes);
  gateway.Options().faults.silentAfterCommands = 49;

  Run(SimToFile, "", {Enter, Chr('y'), Enter});
  EXPECT_EQ(ScratchDir::Read("old.set"), oldBytes);
  EXPECT_EQ(ScratchDir::Entries(), std::vector<std::string>{"old.set"});  // no temporary file left
  EXPECT_NE(LastShot().TextAt(14, 14).find("Нет ответа от внешнего устройства."_cp), std::string::npos);
  EXPECT_FALSE(tool.state.deviceConnected);
  EXPECT_EQ(tool.image.CellNumber(49), gateway.Number(49));
  EXPECT_EQ(screen.CharAt(18, 3), ' ');
}

TEST_F(TransferTest, SimToFileThatCannotCreateTheFileSaysSo) {
  std::filesystem::create_directory("dir.set");
  Run(SimToFile, "dir.set", {Enter, Chr('y'), Enter});
  const Screen& shot = LastShot();
  EXPECT_EQ(shot.TextAt(34, 4, 22), std::string("Ошибка открытия файла!"_cp));
  EXPECT_EQ(shot.AttrAt(34, 4), ColorPanel);
  EXPECT_TRUE(port.written.empty());
  EXPECT_TRUE(tool.state.deviceConnected);
  EXPECT_EQ(ScratchDir::Entries(), std::vector<std::string>{"dir.set"});
}

TEST_F(TransferTest, SimToFileSavesAnEmptyLocationAsAnEmptyCell) {
  gateway.EraseEntry(5);
  Run(SimToFile, "e", {Enter, Chr('y'), Enter});
  const std::string file = ScratchDir::Read("e.set");
  EXPECT_NE(file.find(" 4,\"" + gateway.Number(4) + "\",129,\"04\"\r\n 05,\"\",129,\"\"\r\n 6,"),
            std::string::npos);
  EXPECT_EQ(Count(file, " 4,"), 1);
}

// --- File to SIM ---

TEST_F(TransferTest, FileToSimSendsTheLinesTheFileHasThenReadsBack) {
  std::string text;
  for (int i = 1; i <= 10; ++i) text += EncodeSaveLine(i, "7" + TwoDigits(i), "N" + TwoDigits(i));
  ScratchDir::Write("ten.set", PadToBlocks(text));

  // No cell 98 in the file: written only after the second question.
  Run(FileToSim, "", {Enter, Chr('y'), Chr('y'), Enter});
  std::string writes;
  for (int i = 1; i <= 10; ++i)
    writes += "AT+CPBW= " + TwoDigits(i) + ",\"7" + TwoDigits(i) + "\",129,\"N" + TwoDigits(i) + "\"\r";
  EXPECT_EQ(port.written, writes + ReadCommands());
  for (int i = 1; i <= 10; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(gateway.Number(i), "7" + TwoDigits(i));
    EXPECT_EQ(gateway.Name(i), "N" + TwoDigits(i));
  }
  ExpectSameCells(tool.image, GatewayImage());
  EXPECT_EQ(LastShot().TextAt(20, 4, 56),
            std::string("Данные загружены.  Для продолжения нажмите любую клавишу"_cp));
  EXPECT_TRUE(tool.state.deviceConnected);
  EXPECT_EQ(screen.CharAt(18, 3), ' ');
}

// A SIM that refuses lines (a name over its 16 characters, a full book, or
// every write) must not end with the success message.
TEST_F(TransferTest, FileToSimCountsTheLinesTheSimRefused) {
  std::string text;
  for (int i = 1; i <= 3; ++i) text += EncodeSaveLine(i, "1", i == 2 ? "NAMEOFSEVENTEENCH" : "OK");
  ScratchDir::Write("three.set", PadToBlocks(text));
  // No cell 98 in the file: written only after the second question.
  Run(FileToSim, "", {Enter, Chr('y'), Chr('y'), Enter});
  EXPECT_EQ(LastShot().TextAt(20, 4, 56),
            std::string("SIM-Карта не приняла строк: 1 из 3. Нажмите клавишу"_cp) + "     ");
  EXPECT_EQ(LastShot().AttrAt(20, 4), ColorAlert);
  EXPECT_EQ(gateway.Name(3), "OK");
  EXPECT_TRUE(tool.state.deviceConnected);

  gateway.Options().faults.errorPrefix = "AT+CPBW";
  console.shots.clear();
  Run(FileToSim, "", {Enter, Chr('y'), Chr('y'), Enter});
  EXPECT_EQ(LastShot().TextAt(20, 4, 35), std::string("SIM-Карта не приняла строк: 3 из 3."_cp));
}

TEST_F(TransferTest, FileToSimRefusesAnOverlongFileAndKeepsTheImage) {
  ScratchDir::Write("big.set", std::string(40000, '1'));
  tool.image.SetCellName(3, "MARK");
  Run(FileToSim, "", {Enter, Chr('y'), Enter});
  EXPECT_EQ(LastShot().TextAt(34, 4, 21), std::string(" Файл слишком велик! "_cp));
  EXPECT_EQ(LastShot().AttrAt(34, 4), ColorAlert);
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(tool.image.CellName(3), "MARK");
  EXPECT_EQ(screen.CharAt(18, 3), ' ');
}

TEST_F(TransferTest, FileToSimOnAnEmptyListCannotOpen) {
  Run(FileToSim, "", {Enter, Chr('Y'), Enter});
  EXPECT_EQ(LastShot().TextAt(34, 4, 24), std::string(" Ошибка открытия файла! "_cp));
  EXPECT_EQ(LastShot().AttrAt(34, 4), ColorAlert);
  EXPECT_TRUE(port.written.empty());
}

TEST_F(TransferTest, DecliningLeavesEverythingAsItWas) {
  SimImage saved;
  saved.SetCellNumber(2, "222");
  ScratchDir::Write("a.set", EncodeSettingsFile(saved));
  struct Case {
    const char* name;
    Operation op;
    std::vector<KeyPress> keys;
  } cases[] = {
      {"File to SIM, n", FileToSim, {Enter, Chr('n')}},
      {"File to SIM, extended key read whole", FileToSim, {Enter, Down}},
      {"File to SIM, Esc in the list", FileToSim, {Esc}},
      {"File to SIM, Esc while typing", FileToSim, {Chr('b'), Esc}},
      {"Load, n", LoadForEditing, {Enter, Chr('n')}},
      {"Load, Esc in the list", LoadForEditing, {Esc}},
      {"Save, n", SaveToFile, {Enter, Chr('n')}},
      {"Save, extended key", SaveToFile, {Enter, F10}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tool.image.SetCellName(3, "MARK");
    Run(c.op, "", c.keys);
    EXPECT_EQ(tool.image.CellName(3), "MARK");
    EXPECT_TRUE(tool.state.deviceConnected);
    EXPECT_FALSE(tool.state.fileLoaded);
    EXPECT_EQ(screen.CharAt(18, 3), ' ');
  }
  EXPECT_TRUE(port.written.empty());
  EXPECT_EQ(ScratchDir::Read("a.set"), EncodeSettingsFile(saved));
  EXPECT_EQ(ScratchDir::Entries(), std::vector<std::string>{"a.set"});
}

TEST_F(TransferTest, FileToSimReadBackFailureDropsTheConnection) {
  ScratchDir::Write("two.set", EncodeSaveLine(1, "1", "A") + EncodeSaveLine(2, "2", "B"));
  gateway.Options().faults.silentAfterCommands = 2 + 30;  // read-back stops at cell 31
  // No cell 98 in the file: written only after the second question.
  Run(FileToSim, "", {Enter, Chr('y'), Chr('y'), Enter});
  EXPECT_NE(LastShot().TextAt(14, 14).find("Нет ответа от внешнего устройства."_cp), std::string::npos);
  EXPECT_FALSE(tool.state.deviceConnected);
  EXPECT_EQ(tool.image.CellNumber(30), gateway.Number(30));
  EXPECT_EQ(tool.image.CellNumber(31), "");
  EXPECT_EQ(screen.CharAt(18, 3), ' ');
}

// --- Load for editing ---

TEST_F(TransferTest, LoadForEditingTakesTheFileOffline) {
  ScratchDir::Write("dev.set", PadToBlocks(" 1,\"0\",129,\"01\"\r\n 3,\"+79031112233\",145,\"AB CD\"\r\n"
                                           " 98,\"0000100\",129,\"98.GSM.TRV\"\r\n"));
  tool.image.SetCellName(50, "OLD");
  Run(LoadForEditing, "", {Enter, Chr('y'), Down});
  EXPECT_EQ(console.shots[1].TextAt(20, 4, 42), std::string("Загрузить данные для редактирования? [Y/N]"_cp));
  EXPECT_EQ(LastShot().TextAt(20, 4, 55),
            std::string("Данные загружены. Для продолжения нажмите любую клавишу"_cp));
  EXPECT_EQ(tool.image.CellNumber(3), "+79031112233");
  EXPECT_EQ(tool.image.CellName(3), "ABCD");
  EXPECT_TRUE(tool.image.HasSignature());
  EXPECT_EQ(tool.image.CellName(50), "");
  EXPECT_FALSE(tool.state.deviceConnected);
  EXPECT_TRUE(tool.state.fileLoaded);
  EXPECT_EQ(tool.state.currentFileName, "dev.set");
  EXPECT_EQ(screen.CharAt(18, 3), line::SingleTopLeft);  // the panel stays
  EXPECT_TRUE(port.written.empty());
}

TEST_F(TransferTest, LoadForEditingRefusesAnOverlongFile) {
  ScratchDir::Write("big.set", std::string(40000, ' '));
  tool.image.SetCellName(3, "MARK");
  Run(LoadForEditing, "", {Enter, Chr('y'), Enter});
  EXPECT_EQ(LastShot().TextAt(34, 4, 21), std::string(" Файл слишком велик! "_cp));
  EXPECT_EQ(tool.image.CellName(3), "MARK");
  EXPECT_TRUE(tool.state.deviceConnected);
  EXPECT_FALSE(tool.state.fileLoaded);
}

// --- Save to file ---

TEST_F(TransferTest, SaveToFileWritesTheImage) {
  tool.state.deviceConnected = false;
  tool.state.fileLoaded = true;
  tool.image.SetCellNumber(7, "0");
  tool.image.SetCellName(7, "07");
  ScratchDir::Write("s.set", "previous");
  Run(SaveToFile, "", {Enter, Chr('Y'), Enter});
  EXPECT_EQ(ScratchDir::Read("s.set"), EncodeSettingsFile(tool.image));
  // The file is there: the question says it is replaced, and which.
  EXPECT_EQ(console.shots[1].TextAt(20, 4, 43), std::string("Заменить файл редактируемыми данными? [Y/N]"_cp));
  EXPECT_EQ(console.shots[1].TextAt(20, 5, 11), std::string("Файл: s.set"_cp));
  EXPECT_EQ(LastShot().TextAt(20, 4, 55),
            std::string("Данные сохранены. Для продолжения нажмите любую клавишу"_cp));
  EXPECT_TRUE(tool.state.fileLoaded);
  EXPECT_EQ(ScratchDir::Entries(), std::vector<std::string>{"s.set"});
}

TEST_F(TransferTest, SaveToFileThatCannotCreateTheFileSaysSo) {
  std::filesystem::create_directory("d.set");
  Run(SaveToFile, "d.set", {Enter, Chr('y'), Enter});
  EXPECT_EQ(LastShot().TextAt(34, 4, 22), std::string("Ошибка открытия файла!"_cp));
  EXPECT_EQ(LastShot().AttrAt(34, 4), ColorPanel);
  EXPECT_EQ(screen.CharAt(18, 3), ' ');
}

// --- the whole road ---

TEST_F(TransferTest, RoundTripThroughAFileReachesTheSim) {
  Run(SimToFile, "copy", {Enter, Chr('y'), Enter});
  Run(LoadForEditing, "", {Enter, Chr('y'), Enter});
  ASSERT_TRUE(tool.state.fileLoaded);
  tool.image.SetCellNumber(5, "89990001122");
  tool.image.SetCellName(5, "EDIT");
  Run(SaveToFile, "edited", {Enter, Chr('y'), Enter});

  // Connecting again, as the connection dialog does.
  tool.state.deviceConnected = true;
  tool.state.fileLoaded = false;
  const SimImage expected = tool.image;
  Run(FileToSim, "edited.set", {Enter, Chr('y'), Enter});
  EXPECT_EQ(gateway.Number(5), "89990001122");
  EXPECT_EQ(gateway.Name(5), "EDIT");
  ExpectSameCells(GatewayImage(), expected);
  ExpectSameCells(tool.image, expected);
  EXPECT_TRUE(tool.state.deviceConnected);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// A modem as real ones are: echo, unsolicited lines at a third of the line
// boundaries and whenever the line is idle, input dropped while a command
// runs, SIM writes of 300 to 500 ms, empty locations answered "not found".
void MakeDifficult(sim::GatewayModel& g) {
  sim::GatewayOptions& o = g.Options();
  o.echo = true;
  o.faults.urcPercent = 33;
  o.faults.dropWhileBusy = true;
  o.faults.writeDelayMin = Millis(300);
  o.faults.writeDelayMax = Millis(500);
  o.faults.cmeNotFound = true;
}

TEST_F(TransferTest, AgainstADifficultModemEveryCellArrivesAndTheReportIsTrue) {
  MakeDifficult(gateway);
  SimImage source;
  for (int i = 1; i <= 99; ++i) {
    source.SetCellNumber(i, "8916" + std::to_string(1000000 + i * 7));
    source.SetCellName(i, "N" + TwoDigits(i));
  }
  source.SetCellName(98, "98.GSM.TRV");
  ScratchDir::Write("full.set", EncodeSettingsFile(source));
  Run(FileToSim, "", {Enter, Chr('y'), Enter});
  ExpectSameCells(GatewayImage(), source);      // the SIM took every line
  ExpectSameCells(tool.image, GatewayImage());  // the read-back shows the SIM
  EXPECT_EQ(LastShot().TextAt(20, 4, 56),
            std::string("Данные загружены.  Для продолжения нажмите любую клавишу"_cp));
  EXPECT_TRUE(tool.state.deviceConnected);

  // And back: the backup holds the SIM, cell for cell.
  gateway.EraseEntry(7);  // answered "not found"
  Run(SimToFile, "backup", {Enter, Chr('y'), Enter});
  SimImage backup;
  ParseSettingsText(ScratchDir::Read("backup.set"), backup);
  ExpectSameCells(backup, GatewayImage());
  EXPECT_EQ(tool.image.CellNumber(7), "");  // the image follows the SIM too
}

TEST_F(TransferTest, FileToSimStoppedByALostGatewaySaysHowFarItCame) {
  gateway.Options().faults.silentAfterCommands = 40;
  ScratchDir::Write("fresh.set", EncodeSettingsFile(GatewayImage()));
  Run(FileToSim, "", {Enter, Chr('y'), Enter});
  const Screen& box = LastShot();
  EXPECT_NE(box.TextAt(14, 14, 53).find("Нет ответа от внешнего устройства."_cp), std::string::npos);
  EXPECT_NE(box.TextAt(14, 15, 53).find("Записано строк: 40 из 99"_cp), std::string::npos);
  EXPECT_FALSE(tool.state.deviceConnected);
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// Offline edits of a loaded file are not dropped unasked: loading another
// file, connecting and leaving the program ask first, until the file is saved.
TEST_F(TransferTest, UnsavedOfflineEditsAreNotDroppedUnasked) {
  tool.state.deviceConnected = false;
  ScratchDir::Write("a.set", EncodeSettingsFile(GatewayImage()));
  Run(LoadForEditing, "", {Enter, Chr('y'), Enter});
  ASSERT_TRUE(tool.state.fileLoaded);
  EXPECT_TRUE(ConfirmDiscardUnsavedEdits(tool));  // nothing changed yet: no question
  FormGrid grid{1, 1, {10}, {4}};
  console.Add({Chr('5'), Enter});
  EditNumberField(tool, grid, 41, 8);
  const std::string edited(tool.image.CellNumber(41));
  ASSERT_NE(edited, gateway.Number(41));

  Run(LoadForEditing, "", {Chr('n')});  // "go on without saving?" no
  EXPECT_EQ(tool.image.CellNumber(41), edited);
  EXPECT_NE(LastShot().TextAt(14, 13, 53).find("Изменения в файле не сохранены"_cp), std::string::npos);
  console.Add({Chr('n')});
  EXPECT_FALSE(ConfirmDiscardUnsavedEdits(tool));

  Run(SaveToFile, "", {Enter, Chr('y'), Enter});
  EXPECT_TRUE(ConfirmDiscardUnsavedEdits(tool));  // saved: no question any more
}

}  // namespace
}  // namespace tv

namespace tv {
namespace {

// A file of the given cells, with cell 98 signed as the gateway's or not.
std::string FileOf(const SimImage& cells, bool signedFor98) {
  SimImage image = cells;
  image.SetCellName(98, signedFor98 ? SimSignature : "98");
  return EncodeSettingsFile(image);
}

// A file without the gateway's signature in cell 98 would turn the SIM into
// one the next connection calls uninitialised: File to SIM asks first, and
// only y or Y writes it.
TEST_F(TransferTest, FileToSimOfAnUnsignedFileAsksBeforeWriting) {
  SimImage cells;
  cells.SetCellNumber(1, "111");
  cells.SetCellName(1, "ONE");
  const std::string withoutCell98 = EncodeSaveLine(1, "111", "ONE");
  const std::string question = "В файле нет настроек шлюза. Записать в SIM-Карту? [Y/N]"_cp;
  struct Case {
    const char* name;
    std::string file;
    std::vector<KeyPress> keys;
    bool asked, written;
  } cases[] = {
      {"no cell 98, n", withoutCell98, {Enter, Chr('y'), Chr('n')}, true, false},
      {"no cell 98, Esc", withoutCell98, {Enter, Chr('y'), Esc}, true, false},
      {"no cell 98, an extended key", withoutCell98, {Enter, Chr('y'), Down}, true, false},
      {"cell 98 of something else, n", FileOf(cells, false), {Enter, Chr('y'), Chr('n')}, true, false},
      {"no cell 98, y", withoutCell98, {Enter, Chr('y'), Chr('y'), Enter}, true, true},
      {"cell 98 of something else, Y", FileOf(cells, false), {Enter, Chr('y'), Chr('Y'), Enter}, true, true},
      {"the gateway's file is not asked about", FileOf(cells, true), {Enter, Chr('y'), Enter}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir::Write("hand.set", c.file);
    gateway.EraseEntry(1);
    port.written.clear();
    console.shots.clear();
    Run(FileToSim, "", c.keys);
    ASSERT_GE(console.shots.size(), 3u);
    const Screen& third = console.shots[2];
    EXPECT_EQ(third.TextAt(20, 4, 55) == question, c.asked);
    EXPECT_EQ(!port.written.empty(), c.written);
    EXPECT_EQ(gateway.Number(1), c.written ? "111" : "");
    EXPECT_TRUE(tool.state.deviceConnected);
    EXPECT_EQ(screen.CharAt(18, 3), ' ');
  }
}

// Only a key pressed after a [Y/N] question answers it: the y typed on
// while the name or the previous answer was given is dropped.
TEST_F(TransferTest, KeysTypedAheadDoNotAnswerAQuestion) {
  struct Case {
    const char* name;
    Operation op;
    bool loaded;
    std::string file;            // a.set, when not empty
    std::vector<KeyPress> keys;  // the n answering the question comes last
    int aheadAfter;              // keys read when the y was typed ahead
  } cases[] = {
      {"SIM to file", SimToFile, false, "", {Enter, Chr('n'), Esc}, 1},
      {"File to SIM", FileToSim, false, EncodeSettingsFile(GatewayImage()), {Enter, Chr('n')}, 1},
      {"File to SIM, an unsigned file",
       FileToSim,
       false,
       EncodeSaveLine(1, "1", "A"),
       {Enter, Chr('y'), Chr('n')},
       2},
      {"Load for editing", LoadForEditing, false, EncodeSettingsFile(GatewayImage()), {Enter, Chr('n')}, 1},
      {"Save to file", SaveToFile, true, "", {Chr('s'), Enter, Chr('n')}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& e : std::filesystem::directory_iterator(".")) std::filesystem::remove(e.path());
    if (!c.file.empty()) ScratchDir::Write("a.set", c.file);
    tool.state.deviceConnected = !c.loaded;
    tool.state.fileLoaded = c.loaded;
    console.aheadAt = console.keysRead + c.aheadAfter;
    console.ahead = {Chr('y')};
    Run(c.op, "", c.keys);
    EXPECT_EQ(console.TypeaheadLeft(), 0u);
    EXPECT_EQ(tool.state.fileLoaded, c.loaded);
    EXPECT_EQ(ScratchDir::Entries(),
              c.file.empty() ? std::vector<std::string>{} : std::vector<std::string>{"a.set"});
    EXPECT_EQ(screen.CharAt(18, 3), ' ');
  }
  console.aheadAt = -1;
  EXPECT_TRUE(port.written.empty());
}

// A settings file saved by a Windows editor begins with a UTF-8 byte-order
// mark; it is not part of the first line, for Load for editing as for File
// to SIM.
TEST_F(TransferTest, AByteOrderMarkIsNotPartOfTheFirstLine) {
  const SimImage source = GatewayImage();
  const std::string plain = EncodeSettingsFile(source);
  ScratchDir::Write("win.set", "\xEF\xBB\xBF" + plain);
  struct Case {
    const char* name;
    Operation op;
  } cases[] = {{"Load for editing", LoadForEditing}, {"File to SIM", FileToSim}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tool.state.deviceConnected = true;
    tool.state.fileLoaded = false;
    tool.image.ClearImage();
    port.written.clear();
    Run(c.op, "", {Enter, Chr('y'), Enter});
    ExpectSameCells(tool.image, source);
    if (c.op == FileToSim) {
      std::string writes;
      for (const std::string& command : SplitLinesForSim(plain)) writes += command;
      EXPECT_EQ(port.written, writes + ReadCommands());
      EXPECT_EQ(LastShot().TextAt(20, 4, 56),
                std::string("Данные загружены.  Для продолжения нажмите любую клавишу"_cp));
    }
  }
}

// File to SIM names the lines the SIM refused, the first eight of them,
// under the count.
TEST_F(TransferTest, FileToSimNamesTheLinesTheSimRefused) {
  struct Case {
    const char* name;
    std::vector<int> refused;  // cells given a name over the SIM's 16 characters
    bool everyWrite;           // or the SIM refuses every write
    std::string message, listed;
  } cases[] = {
      {"one line",
       {2},
       false,
       "SIM-Карта не приняла строк: 1 из 99. Нажмите клавишу"_cp,
       "Не приняты строки: 02"_cp},
      {"three lines",
       {5, 17, 42},
       false,
       "SIM-Карта не приняла строк: 3 из 99. Нажмите клавишу"_cp,
       "Не приняты строки: 05, 17, 42"_cp},
      {"every line",
       {},
       true,
       "SIM-Карта не приняла строк: 99 из 99. Нажмите клавишу"_cp,
       "Не приняты строки: 01, 02, 03, 04, 05, 06, 07, 08, ..."_cp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimImage source = GatewayImage();
    for (int cell : c.refused) source.SetCellName(cell, "NAMEOFSEVENTEENCH");
    ScratchDir::Write("r.set", EncodeSettingsFile(source));
    gateway.Options().faults.errorPrefix = c.everyWrite ? "AT+CPBW" : "";
    console.shots.clear();
    Run(FileToSim, "", {Enter, Chr('y'), Enter});
    const Screen& shot = LastShot();
    EXPECT_EQ(shot.TextAt(19, 4, 59), RowWith(20, c.message));
    EXPECT_EQ(shot.TextAt(19, 5, 59), RowWith(20, c.listed));
    EXPECT_EQ(shot.AttrAt(20, 5), ColorAlert);
    EXPECT_TRUE(tool.state.deviceConnected);
  }
}

// --- stopping File to SIM, and its journal ---

// The writes the gateway has taken so far.
int WritesSent(const std::string& wire) { return Count(wire, "AT+CPBW="); }

// Esc between two lines asks whether to stop there (the SIM then holds a
// mix): No goes on to the end, Yes stops after the line written. Either way
// the journal says how far the SIM got until a whole write is read back.
TEST_F(TransferTest, EscDuringFileToSimAsksAndStopsAfterTheLineWritten) {
  struct Case {
    const char* name;
    KeyPress answer;
    int writes;       // lines the SIM gets
    bool connected;   // after the operation
    bool journalStays;
  } cases[] = {
      {"no: the write goes on", Chr('n'), 99, true, false},
      {"yes: it stops after line 10", Chr('y'), 10, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tool.state.deviceConnected = true;
    port.written.clear();
    console.shots.clear();
    SimImage source = GatewayImage();
    source.SetCellNumber(1, "555");
    ScratchDir::Write("gw1-0612.set", EncodeSettingsFile(source));
    console.escWhen = [this] { return WritesSent(port.written) == 10; };
    Run(FileToSim, "", {Enter, Chr('y'), c.answer, Enter});
    EXPECT_EQ(WritesSent(port.written), c.writes);
    // The question came after line 10, with what stopping leaves.
    const Screen& asked = console.shots[2];
    const std::string question = "Остановить запись после этой строки? [Y/N]"_cp;
    const std::string warning = "В SIM-Карте останется смесь файла и прежних данных"_cp;
    EXPECT_EQ(asked.TextAt(20, 6, static_cast<int>(question.size())), question);
    EXPECT_EQ(asked.TextAt(20, 7, static_cast<int>(warning.size())), warning);
    EXPECT_EQ(asked.AttrAt(20, 6), ColorAlert);
    EXPECT_EQ(tool.state.deviceConnected, c.connected);
    EXPECT_EQ(ScratchDir::Exists(JournalPath(0, 0)), c.journalStays);
    if (c.journalStays) {
      const std::string stopped = "Запись остановлена: записано строк 10 из 99"_cp;
      const std::string mix = "В SIM-Карте смесь файла и прежних данных"_cp;
      EXPECT_EQ(LastShot().TextAt(20, 4, static_cast<int>(stopped.size())), stopped);
      EXPECT_EQ(LastShot().TextAt(20, 5, static_cast<int>(mix.size())), mix);
      TransferJournal journal;
      ASSERT_TRUE(ReadJournal(0, 0, journal));
      EXPECT_EQ(journal.file, "gw1-0612.set");
      EXPECT_EQ(journal.written, 10);
      EXPECT_EQ(journal.total, 99);
      EXPECT_FALSE(journal.initialisation);
      EXPECT_EQ(journal.device, "simulated gateway");
      // The image no longer shows a SIM that holds a mix.
      EXPECT_EQ(tool.image.CellNumber(1), "");
    } else {
      EXPECT_EQ(LastShot().TextAt(20, 4, 56),
                std::string("Данные загружены.  Для продолжения нажмите любую клавишу"_cp));
    }
  }
}

// The journal is on the disk before the first line, and says how far a
// write came that the line ended; a later write that completes removes it.
TEST_F(TransferTest, FileToSimJournalOutlivesALostGatewayUntilAWriteCompletes) {
  ScratchDir::Write("fresh.set", EncodeSettingsFile(GatewayImage()));
  for (int silentAfter : {0, 40}) {
    SCOPED_TRACE(silentAfter);
    tool.state.deviceConnected = true;
    gateway.Options().faults.silentAfterCommands = gateway.CommandsSeen() + silentAfter;
    Run(FileToSim, "", {Enter, Chr('y'), Enter});
    EXPECT_FALSE(tool.state.deviceConnected);
    TransferJournal journal;
    ASSERT_TRUE(ReadJournal(0, 0, journal));
    EXPECT_EQ(journal.written, silentAfter);
    EXPECT_EQ(InterruptionNoticeLine(journal),
              std::string("Прошлая запись файла в SIM-Карту не завершена: остановлена на строке "_cp) +
                  std::to_string(silentAfter + 1) + std::string(" из 99, файл fresh.set"_cp));
    gateway.Options().faults.silentAfterCommands = -1;
  }
  tool.state.deviceConnected = true;
  Run(FileToSim, "", {Enter, Chr('y'), Enter});
  EXPECT_FALSE(ScratchDir::Exists(JournalPath(0, 0)));
}

// SIM to file from a SIM whose last write stopped part way asks first,
// naming the journal and where the write stopped: N keeps the file as it
// was, Y saves the SIM as it is.
TEST_F(TransferTest, SimToFileOfAHalfWrittenSimAsksNamingTheJournal) {
  TransferJournal journal;
  journal.file = "other.set";
  journal.written = 11;
  journal.total = 99;
  ASSERT_TRUE(WriteJournal(journal));
  struct Case {
    const char* name;
    KeyPress answer;
    bool saved;
  } cases[] = {{"N keeps the last file", Chr('n'), false}, {"Y saves", Chr('y'), true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir::Write("nightly.set", "last good backup");
    console.shots.clear();
    std::vector<KeyPress> keys = {Enter, Chr('y'), c.answer};
    if (c.saved) keys.push_back(Enter);
    Run(SimToFile, "", keys);
    ASSERT_GE(console.shots.size(), 3u);
    const Screen& asked = console.shots[2];
    const std::string question = "SIM-Карта записана не полностью. Сохранить? [Y/N]"_cp;
    EXPECT_EQ(asked.TextAt(20, 4, static_cast<int>(question.size())), question);
    const std::string named = std::string("Журнал: "_cp) + JournalPath(0, 0);
    EXPECT_EQ(asked.TextAt(20, 5, static_cast<int>(named.size())), named);
    const std::string where = "остановлена на строке 12 из 99, файл other.set"_cp;
    EXPECT_EQ(asked.TextAt(20, 6, static_cast<int>(where.size())), where);
    EXPECT_EQ(ScratchDir::Read("nightly.set") == "last good backup", !c.saved);
    EXPECT_TRUE(ScratchDir::Exists(JournalPath(0, 0)));
  }
}

// Questions that write name what they act on: the file and the gateway; a
// file that is there is replaced, and the question says so.
TEST_F(TransferTest, QuestionsNameTheFileAndTheGateway) {
  tool.state.portIndex = 2;
  tool.state.gatewayIndex = 1;
  ScratchDir::Write("gw1-0612.set", EncodeSettingsFile(GatewayImage()));
  struct Case {
    const char* name;
    Operation op;
    std::string typed;
    std::string question, target;
  } cases[] = {
      {"file to SIM", FileToSim, "", "Загрузить данные из файла в SIM-Карту? [Y/N]"_cp,
       "gw1-0612.set -> COM3 ШЛЮЗ 2"_cp},
      {"SIM to a new file", SimToFile, "new", "Сохранить данные из SIM-Карты в файл? [Y/N]"_cp,
       "COM3 ШЛЮЗ 2 -> new.set"_cp},
      {"SIM over a file", SimToFile, "", "Заменить файл данными из SIM-Карты? [Y/N]"_cp,
       "COM3 ШЛЮЗ 2 -> gw1-0612.set"_cp},
      {"save over a file", SaveToFile, "", "Заменить файл редактируемыми данными? [Y/N]"_cp,
       "Файл: gw1-0612.set"_cp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tool.state.deviceConnected = true;
    console.shots.clear();
    // The status area, as the menu draws it, stays in view.
    screen.PutTextAttr(59, 1, "COM3   115200  ШЛЮЗ 2"_cp, ColorPanel);
    // No: SIM to file goes back to the list, which Esc closes.
    std::vector<KeyPress> keys = {Enter, Chr('n')};
    if (c.op == SimToFile) keys.push_back(Esc);
    Run(c.op, c.typed, keys);
    const Screen& asked = console.shots[console.shots.size() - (c.op == SimToFile ? 2 : 1)];
    EXPECT_EQ(asked.TextAt(20, 4, static_cast<int>(c.question.size())), c.question);
    EXPECT_EQ(asked.TextAt(20, 5, static_cast<int>(c.target.size())), c.target);
    EXPECT_EQ(console.shots[0].TextAt(59, 1, 21), std::string("COM3   115200  ШЛЮЗ 2"_cp));
    EXPECT_EQ(asked.TextAt(59, 1, 21), std::string("COM3   115200  ШЛЮЗ 2"_cp));
    EXPECT_EQ(port.written.find("AT+CPBW"), std::string::npos);
  }
}

}  // namespace
}  // namespace tv
