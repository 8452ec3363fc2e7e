// Settings files with the simulated gateway: the SIM copied to a new file,
// the file loaded and edited offline, saved, and written back to the SIM.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/e2e/gateway_session.h"

namespace tv::e2e {
namespace {

namespace fs = std::filesystem;

class FilesE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The text of a settings file: everything before the first NUL.
std::string FileText(const std::string& path) {
  const std::string all = ReadWhole(path);
  return all.substr(0, all.find('\0'));
}

TEST_F(FilesE2E, SimToFileLoadEditSaveAndBackToSim) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(Connect(t));
  const std::string before = g.Dump();
  const std::string file = g.Dir() + "/test.set";

  // SIM to a new file, named on the spot.
  ASSERT_TRUE(Choose(t, kFileMenu, 2, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
  ASSERT_TRUE(t.WaitFor([&] { return t.TextAt(20, 23, 21) == Utf8(u8"Колличество файлов: 0"); }, kScreenWait))
      << t.ScreenText();
  t.Type("test");
  ASSERT_TRUE(t.WaitForTextAt(34, 4, "test", kScreenWait)) << t.ScreenText();
  t.Press(Key::Enter);
  ASSERT_TRUE(Answer(t, Utf8(u8"Сохранить данные из SIM-Карты в файл? [Y/N]"), "y"));
  ASSERT_TRUE(Acknowledge(t, Utf8(u8"Данные сохранены. Для продолжения нажмите любую клавишу")));
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(fs::file_size(file) % 256, 0u) << fs::file_size(file);
  std::string text = FileText(file);
  EXPECT_GT(fs::file_size(file), text.size());  // at least one NUL after the text
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 99);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 99);
  // The device's own reply lines: one-digit index, the type as reported.
  EXPECT_EQ(text.rfind(" 1,\"89161234501\",129,\"01\"\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("\r\n 3,\"+79031112233\",145,\"03\"\r\n"), std::string::npos) << text;

  // Loaded for editing: the status area names the file.
  ASSERT_TRUE(Choose(t, kFileMenu, 4, Utf8(u8"Загрузка файла для редактирования")));
  ASSERT_TRUE(PickTheOnlyFile(t));
  ASSERT_TRUE(Answer(t, Utf8(u8"Загрузить данные для редактирования? [Y/N]"), "y"));
  ASSERT_TRUE(Acknowledge(t, Utf8(u8"Данные загружены. Для продолжения нажмите любую клавишу")));
  EXPECT_TRUE(Shows(t, 59, 1, Utf8(u8"Файл: test.set        ")));

  // A new number for contact 1, offline: nothing reaches the gateway.
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(ShowsField(t, 10, 4, "89161234501", 30));
  ASSERT_TRUE(EditField(
      t, 10, 4, 30,
      [&] {
        t.Press(Key::Delete, 11);
        t.Type("84951112233");
      },
      "84951112233"));
  ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));
  EXPECT_TRUE(Shows(t, 65, 1, "test.set"));

  ASSERT_TRUE(Choose(t, kFileMenu, 5, Utf8(u8"Сохранение данных в файле")));
  ASSERT_TRUE(PickTheOnlyFile(t));
  // test.set is there: the question says it is replaced, and which file.
  ASSERT_TRUE(Answer(t, Utf8(u8"Заменить файл редактируемыми данными? [Y/N]"), "y"));
  ASSERT_TRUE(Acknowledge(t, Utf8(u8"Данные сохранены. Для продолжения нажмите любую клавишу")));
  text = FileText(file);
  EXPECT_EQ(fs::file_size(file), (text.size() / 256 + 1) * 256);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 99);
  EXPECT_EQ(text.rfind(" 01,\"84951112233\",129,\"01\"\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("\r\n 03,\"+79031112233\",129,\"03\"\r\n"), std::string::npos) << text;
  EXPECT_EQ(g.Dump(), before);

  // Connected again, the file goes to the SIM and is read back.
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kFileMenu, 3, Utf8(u8"Пересылка данных из файла в SIM-Карту")));
  ASSERT_TRUE(PickTheOnlyFile(t));
  ASSERT_TRUE(Answer(t, Utf8(u8"Загрузить данные из файла в SIM-Карту? [Y/N]"), "y"));
  ASSERT_TRUE(Acknowledge(t, Utf8(u8"Данные загружены.  Для продолжения нажмите любую клавишу")));
  EXPECT_TRUE(t.WaitFor([&] { return ShowsConnection(t); })) << t.ScreenText();
  ASSERT_TRUE(g.WaitForDumpLine("01,\"84951112233\",129,\"01\""));
  // Every other cell came back as it was.
  std::string expected = before;
  expected.replace(0, expected.find('\n'), "01,\"84951112233\",129,\"01\"");
  EXPECT_EQ(g.Dump(), expected);

  // The read-back is what the form shows now.
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(ShowsField(t, 10, 4, "84951112233", 30));
}


// The gateway's own settings with the forwarding number and the incoming
// barring changed, as a backup edited for it: File to SIM says those two in
// words before the operator answers, and the SIM holds them after y.
TEST_F(FilesE2E, FileToSimSaysWhatChangesBeforeWriting) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(Connect(t));
  const std::string before = g.Dump();
  ASSERT_NE(before.find("98,\"1100200\",129,\"98.GSM.TRV\"\n"), std::string::npos) << before;
  ASSERT_NE(before.find("99,\"89161234567\",129,\"99\"\n"), std::string::npos) << before;
  // The dump's lines are the device's own reply lines: a settings file's.
  std::string text;
  for (std::size_t at = 0, end; (end = before.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = before.substr(at, end - at);
    if (line.rfind("98,", 0) == 0) line = "98,\"1110200\",129,\"98.GSM.TRV\"";
    if (line.rfind("99,", 0) == 0) line = "99,\"84957654321\",129,\"99\"";
    text += " " + line + "\r\n";
  }
  text.resize((text.size() / 256 + 1) * 256, '\0');
  std::ofstream(g.Dir() + "/test.set", std::ios::binary) << text;

  ASSERT_TRUE(Choose(t, kFileMenu, 3, Utf8(u8"Пересылка данных из файла в SIM-Карту")));
  ASSERT_TRUE(PickTheOnlyFile(t));
  ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Загрузить данные из файла в SIM-Карту? [Y/N]")));
  EXPECT_TRUE(Shows(t, 20, 5, Utf8(u8"test.set -> COM1 ШЛЮЗ 1")));
  EXPECT_TRUE(Shows(t, 20, 7, Utf8(u8"Изменения в SIM-Карте:")));
  EXPECT_TRUE(Shows(t, 20, 8, Utf8(u8"Входящая связь: запрет: Разрешена -> Запрещена ")));
  EXPECT_TRUE(Shows(t, 20, 9, Utf8(u8"Переадресация: номер 89161234567 -> 84957654321 ")));
  EXPECT_EQ(t.TextAt(20, 10, 57), std::string(57, ' ')) << t.ScreenText();
  EXPECT_EQ(g.Dump(), before);  // nothing written while the question waits

  t.SendKeys("y");
  ASSERT_TRUE(Acknowledge(t, Utf8(u8"Данные загружены.  Для продолжения нажмите любую клавишу")));
  ASSERT_TRUE(g.WaitForDumpLine("98,\"1110200\",129,\"98.GSM.TRV\""));
  ASSERT_TRUE(g.WaitForDumpLine("99,\"84957654321\",129,\"99\""));
  std::string expected = before;
  expected.replace(expected.find("98,\"1100200\""), 12, "98,\"1110200\"");
  expected.replace(expected.find("99,\"89161234567\""), 16, "99,\"84957654321\"");
  EXPECT_EQ(g.Dump(), expected);
}

}  // namespace
}  // namespace tv::e2e
