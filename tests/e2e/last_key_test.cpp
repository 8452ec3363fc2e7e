// What the operator cannot see must not decide what the SIM gets: typing that
// goes on through a slow write edits nothing, a slow SIM's read says how far
// it came and can be left, a Ctrl+C during a write is answered at once, the
// forms name the gateway they work on, and a file name is never cut unsaid.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/four_gateways.h"
#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

class LastKeyE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

SessionOptions Traced() {
  SessionOptions o;
  o.env.push_back({"TARVELIN_TRACE", "trace.txt"});
  return o;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Keys as an operator types them, one every 150 ms (a key is never sent
// before the last one's echo had time to come).
void TypePaced(TerminalSession& t, const std::vector<std::string>& keys) {
  for (const std::string& k : keys) {
    t.SendKeys(k);
    t.Drain(Duration{150});
  }
}

constexpr int kBookX = 10, kBookTopY = 4;  // the phonebook's cell 01

// A SIM that takes 300..500 ms a write, and the operator typing three edits
// in one go: the first reaches cell 06; what was typed while it was written,
// and the rest of that typing, is dropped whole and said so, so no cell
// after it is edited, not even by the tail of the burst.
TEST_F(LastKeyE2E, TypingThroughACellWriteEditsNothingAfterIt) {
  GatewaySession g(Traced());
  ASSERT_TRUE(g.StartGateway({"--write-delay", "300-500"}));
  TerminalSession& t = g.Term();
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(kBookX, kBookTopY); }, kScreenWait));
  const std::string down = "\x1b[B";
  TypePaced(t, {down, down, down, down, down});
  ASSERT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(kBookX, kBookTopY + 5); }, kScreenWait));
  TypePaced(t, {"\r", "1", "1", "1", "\r", down, "\r", "2", "2", "2", "\r", down, "\r", "3", "3", "3", "\r"});
  ASSERT_TRUE(g.WaitForDumpLine("06,\"111\",129,\"06\""));
  EXPECT_TRUE(t.WaitForTextAt(19, 25, Utf8(u8"Клавиши, нажатые во время обмена, пропущены"), kScreenWait))
      << t.ScreenText();
  t.Drain(Duration{1500});
  EXPECT_TRUE(FieldShows(t, kBookX, kBookTopY + 5, "111", 30)) << t.ScreenText();
  EXPECT_EQ(t.CursorPos(), std::make_pair(kBookX, kBookTopY + 5)) << t.ScreenText();
  const std::string dump = g.Dump();
  EXPECT_NE(dump.find("07,\"0\",129,\"07\""), std::string::npos) << dump;
  EXPECT_NE(dump.find("08,\"0\",129,\"08\""), std::string::npos) << dump;
  // Once the keyboard was quiet, keys act again, and the notice goes.
  t.Press(Key::Down);
  ASSERT_TRUE(EditField(t, kBookX, kBookTopY + 6, 30, [&] { t.SendKeys("777"); }, "777"));
  EXPECT_TRUE(g.WaitForDumpLine("07,\"777\",129,\"07\""));
  EXPECT_EQ(t.RowText(25), std::string(80, ' '));
}

// Four gateways on one network port; connected to COM2 ШЛЮЗ 2, the operator
// picks ШЛЮЗ 4, whose SIM has no signature. The offer names the port and
// gateway whose 99 cells it would overwrite, the status area names the
// gateway the lines now select, and the result names them again; only
// gateway 4's SIM is written.
TEST_F(LastKeyE2E, TheInitialisationNamesTheGatewayItWillErase) {
  GatewaySession g(Traced());
  FourGateways four(g.Dir(), {{{}, {}, {}, {"--blank"}}}, "COM2");
  ASSERT_TRUE(four.Ready());
  const std::string gateway2Before = four.Dump(2);
  TerminalSession& t = g.Term();
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Up);
  t.Press(Key::Right);
  t.Press(Key::Up);
  ASSERT_TRUE(Shows(t, 53, 14, Utf8(u8"ШЛЮЗ 2")));
  ASSERT_TRUE(Shows(t, 28, 14, "COM2"));
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitForText(Utf8(u8"COM2 ШЛЮЗ 2: Прочитано 99 ячеек"), kExchangeWait))
      << t.ScreenText() << ReadWhole(g.Dir() + "/trace.txt");
  t.SendKeys(" ");
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Up, 2);  // the focus stayed on the gateway
  ASSERT_TRUE(Shows(t, 53, 14, Utf8(u8"ШЛЮЗ 4")));
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitForText(Utf8(u8"Для начала инициализации нажмите I"), kExchangeWait)) << t.ScreenText();
  EXPECT_NE(t.RowText(13).find(Utf8(u8"Все 99 ячеек будут перезаписаны: COM2 ШЛЮЗ 4")), std::string::npos)
      << t.ScreenText();
  EXPECT_EQ(t.TextAt(59, 1, 20), Utf8(u8"COM2  115200  ШЛЮЗ 4")) << t.ScreenText();
  t.SendKeys("i");
  ASSERT_TRUE(t.WaitForText(Utf8(u8"COM2 ШЛЮЗ 4: SIM инициализирована, прочитано 99 ячеек"), kExchangeWait))
      << t.ScreenText();
  EXPECT_TRUE(four.Holds(4, "98,\"0000100\",129,\"98.GSM.TRV\""));
  EXPECT_EQ(four.Dump(2), gateway2Before);
}

// A SIM taking 150 ms an entry: the connection counts the book's entries as
// they come, under "Идет чтение записной книжки", and Esc stops the read:
// nothing is written, no connection is kept, and the dialog says so.
TEST_F(LastKeyE2E, ASlowSimsReadIsCountedAndEscStopsIt) {
  GatewaySession g(Traced());
  ASSERT_TRUE(g.StartGateway({"--latency", "150"}));
  TerminalSession& t = g.Term();
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitFor([&] { return t.RowText(13).find(Utf8(u8"Прочитано ячеек: 1")) != std::string::npos; },
                        kExchangeWait))
      << t.ScreenText();
  EXPECT_TRUE(Shows(t, 26, 14, Utf8(u8"Идет чтение записной книжки")));
  EXPECT_NE(t.RowText(13).find(Utf8(u8"из 99. ESC - прервать")), std::string::npos) << t.ScreenText();
  t.SendKeys(keys::Esc);
  ASSERT_TRUE(t.WaitFor(
      [&] { return t.RowText(13).find(Utf8(u8"Чтение прервано, связь разорвана")) != std::string::npos; },
      kScreenWait))
      << t.ScreenText();
  t.SendKeys(" ");
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait));
  EXPECT_EQ(t.TextAt(59, 1, 22), std::string(22, ' ')) << "a connection is shown";
  // The forms find no connection.
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  EXPECT_TRUE(t.WaitForText(Utf8(u8"Не выбран порт обмена"), kScreenWait)) << t.ScreenText();
  EXPECT_EQ(ReadWhole(g.Dir() + "/trace.txt").find("AT+CPBW"), std::string::npos);
}

// Every full-screen form names on its first row the gateway it works on,
// where the main screen's status area stands.
TEST_F(LastKeyE2E, EveryFormNamesTheGatewayItWorksOn) {
  GatewaySession g;
  ASSERT_TRUE(g.StartGateway());
  TerminalSession& t = g.Term();
  ASSERT_TRUE(Connect(t));
  struct Form {
    int menu, item;
    const char8_t* itemText;
    const char8_t* shown;  // text of the form, once drawn
  } forms[] = {
      {kProgrammingMenu, 1, u8"Записная книжка", u8"Записная книжка устройства"},
      {kProgrammingMenu, 2, u8"Исходящая связь", u8"Запрещенный набор"},
      {kProgrammingMenu, 3, u8"Входящая связь", u8"Входящая связь"},
      {kCommandsMenu, 1, u8"Переадресация", u8"Номер переадресации"},
      {kCommandsMenu, 2, u8"Баланс", u8"123.45"},
  };
  for (const Form& f : forms) {
    SCOPED_TRACE(Utf8(f.itemText));
    ASSERT_TRUE(Choose(t, f.menu, f.item, Utf8(f.itemText)));
    ASSERT_TRUE(t.WaitForText(Utf8(f.shown), kExchangeWait)) << t.ScreenText();
    EXPECT_TRUE(ShowsConnection(t)) << t.RowText(1);
    ASSERT_TRUE(LeaveForm(t, f.menu));
  }
}

// A Ctrl+C during File to SIM is answered at once on the bottom row; the
// write stops after the line in flight (never in the middle of one) and the
// tool leaves, its journal telling the next connection. The panel says that
// Esc stops the write.
TEST_F(LastKeyE2E, CtrlCDuringFileToSimIsAnsweredAtOnceAndStopsAfterTheLine) {
  GatewaySession g(Traced());
  ASSERT_TRUE(g.StartGateway({"--write-delay", "600"}));
  {
    std::ofstream(g.Dir() + "/test.set", std::ios::binary) << SignedSettingsFile("5550123");
  }
  TerminalSession& t = g.Term();
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kFileMenu, 3, Utf8(u8"Пересылка данных из файла в SIM-Карту")));
  ASSERT_TRUE(PickTheOnlyFile(t));
  ASSERT_TRUE(Answer(t, Utf8(u8"Загрузить данные из файла в SIM-Карту? [Y/N]"), "y"));
  ASSERT_TRUE(t.WaitForTextAt(20, 5, Utf8(u8"ESC - остановить запись после строки"), kExchangeWait))
      << t.ScreenText();
  ASSERT_TRUE(g.WaitForDumpLine("02,\"5550123\",129,\"02\""));
  t.SendKeys("\x03");
  ASSERT_TRUE(t.WaitFor(
      [&] { return t.RowText(25).find(Utf8(u8"выход после записи ячейки; Ctrl+C ещё раз - прервать сразу")) !=
                   std::string::npos; },
      Duration{2000}))
      << t.ScreenText();
  const std::optional<int> status = t.WaitForExit(kExchangeWait);
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  // Every write sent was answered: the line in flight was finished.
  const std::string trace = ReadWhole(g.Dir() + "/trace.txt");
  std::size_t writes = 0, pos = 0;
  while ((pos = trace.find("AT+CPBW=", pos)) != std::string::npos) ++writes, ++pos;
  const std::string dump = g.Dump();
  std::size_t written = 0;
  pos = 0;
  while ((pos = dump.find("\"5550123\"", pos)) != std::string::npos) ++written, ++pos;
  EXPECT_GT(written, 1u);
  EXPECT_LT(written, 90u);
  EXPECT_EQ(written, writes) << trace;
  bool journal = false;
  for (const auto& e : std::filesystem::directory_iterator(g.Dir()))
    journal = journal || e.path().extension() == ".journal";
  EXPECT_TRUE(journal) << "no journal of the stopped write";
}

// The chooser shows the current file's whole name where it fits, and a
// typed name longer than its field is refused with a hint, not cut.
TEST_F(LastKeyE2E, FileNamesAreShownWholeAndNeverCutUnsaid) {
  GatewaySession g;
  ASSERT_TRUE(g.StartGateway());
  { std::ofstream(g.Dir() + "/gw1_site-2024-12-11.set", std::ios::binary) << SignedSettingsFile("1"); }
  TerminalSession& t = g.Term();
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kFileMenu, 2, Utf8(u8"Пересылка данных из SIM-Карты в файл")));
  ASSERT_TRUE(Shows(t, 20, 4, Utf8(u8"Текущий файл: gw1_site-2024-12-11.set")));
  t.SendKeys("gw1-2024-12-10\r");
  ASSERT_TRUE(Shows(t, 20, 5, Utf8(u8"Имя длиннее 13 знаков: сократите его (Backspace)")));
  t.Drain(Duration{300});
  EXPECT_EQ(t.TextAt(20, 4, 14), Utf8(u8"Текущий файл: ")) << "the name was taken cut";
  EXPECT_EQ(t.ScreenText().find("[Y/N]"), std::string::npos) << t.ScreenText();
  t.SendKeys(std::string(1, '\x7f') + "\r");
  ASSERT_TRUE(Answer(t, Utf8(u8"Сохранить данные из SIM-Карты в файл? [Y/N]"), "y"));
  ASSERT_TRUE(Acknowledge(t, Utf8(u8"Данные сохранены")));
  EXPECT_NE(ReadWhole(g.Dir() + "/gw1-2024-12-.set"), "");
}

}  // namespace
}  // namespace tv::e2e
