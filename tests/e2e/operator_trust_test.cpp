// What the operator sees is what the gateway gets: keys typed while the tool
// waits answer nothing that follows, the status area names the gateway the
// tool drives, and Ctrl+C asks before unsaved edits are lost.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

class TrustE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

SessionOptions Traced(const std::string& traceName = "trace.txt") {
  SessionOptions o;
  o.env.push_back({"TARVELIN_TRACE", traceName});
  return o;
}

// What ends a wait appears, and stays: the keys typed during the wait did
// not dismiss it unread.
::testing::AssertionResult StaysUntilAKey(TerminalSession& t, const std::string& text) {
  if (!t.WaitForText(text, kExchangeWait)) return Failure(t, "not shown: " + text);
  t.Drain(Duration{600});
  if (!t.WaitForText(text, Duration{100})) return Failure(t, "dismissed unread: " + text);
  return ::testing::AssertionSuccess();
}

// Outgoing calls form: the first forbidden-list field, cell 40.
constexpr int kFieldX = 12, kFieldY = 8, kFieldWidth = 8;

// Each row starts a wait of a screen against a gateway made slow in that
// place, types keys during it that would act on what follows, then checks
// that nothing acted: no question answered, no message dismissed, nothing
// sent that the operator did not ask for after seeing the screen.
TEST_F(TrustE2E, KeysTypedDuringAnyWaitAnswerNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> gwsim;
    std::function<::testing::AssertionResult(GatewaySession&)> startWait;
    std::string typedBlind;
    std::function<::testing::AssertionResult(GatewaySession&)> check;
  };
  const auto connected = [](GatewaySession& g) { return Connect(g.Term()); };
  const std::vector<Case> cases = {
      {"forwarding query: Enter and Y would switch unconditional forwarding on",
       {"--forwarding-delay", "1500"},
       [&](GatewaySession& g) {
         if (auto r = connected(g); !r) return r;
         return Choose(g.Term(), kCommandsMenu, 1, Utf8(u8"Переадресация"));
       },
       "\ry",
       [](GatewaySession& g) {
         TerminalSession& t = g.Term();
         // Both services reported, nothing asked.
         if (!t.WaitFor([&] { return t.TextAt(40, 10, 9) == Utf8(u8"Выключена"); }, kExchangeWait))
           return Failure(t, "the no-reply state was not shown");
         t.Drain(Duration{600});
         if (t.ScreenText().find("[Y/N]") != std::string::npos) return Failure(t, "a question stands");
         const std::string trace = ReadFile(g.Dir() + "/trace.txt");
         if (trace.find("AT+CCFC=0,3") != std::string::npos)
           return ::testing::AssertionFailure() << "forwarding was switched on:\n" << trace;
         return ::testing::AssertionSuccess();
       }},
      {"balance: the answer is not dismissed by keys typed before it",
       {"--ussd-delay", "1500"},
       [&](GatewaySession& g) {
         if (auto r = connected(g); !r) return r;
         return Choose(g.Term(), kCommandsMenu, 2, Utf8(u8"Баланс"));
       },
       " \r",
       [](GatewaySession& g) { return StaysUntilAKey(g.Term(), "123.45"); }},
      {"connect: the closing message waits for a key pressed after it",
       {"--latency", "25"},
       [](GatewaySession& g) {
         if (auto r = OpenConnectionDialog(g.Term()); !r) return r;
         g.Term().Press(Key::Enter);
         return ::testing::AssertionSuccess();
       },
       " ",
       [](GatewaySession& g) { return StaysUntilAKey(g.Term(), Utf8(u8"нажмите любую клавишу")); }},
      {"form write: keys typed during a slow write edit nothing",
       {"--write-delay", "1500"},
       [](GatewaySession& g) {
         TerminalSession& t = g.Term();
         if (auto r = Connect(t); !r) return r;
         if (auto r = Choose(t, kProgrammingMenu, 2, Utf8(u8"Исходящая связь")); !r) return r;
         if (!t.WaitFor([&] { return t.CursorPos() == std::make_pair(kFieldX, kFieldY); }, kScreenWait))
           return Failure(t, "no outgoing calls form");
         // Cell 41, which holds the unused marker.
         if (auto r = MoveTo(t, Key::Down, kFieldX, kFieldY + 1); !r) return r;
         t.Press(Key::Enter);
         t.SendKeys("123\r");
         return ::testing::AssertionSuccess();
       },
       "\x1b[B\r9\r",
       [](GatewaySession& g) {
         TerminalSession& t = g.Term();
         if (auto r = g.WaitForDumpLine("41,\"123\",129,\"41\""); !r) return r;
         // The write's OK comes after the SIM's delay; then the form is back.
         const auto onTheField = [&] {
           return FieldShows(t, kFieldX, kFieldY + 1, "123", kFieldWidth) &&
                  t.CursorPos() == std::make_pair(kFieldX, kFieldY + 1);
         };
         if (!t.WaitFor(onTheField, kExchangeWait)) return Failure(t, "the write did not end");
         t.Drain(Duration{600});
         if (!onTheField()) return Failure(t, "the form moved on");
         if (g.Dump().find("42,\"9") != std::string::npos)
           return ::testing::AssertionFailure() << "cell 42 was written\n" << g.Dump();
         return ::testing::AssertionSuccess();
       }},
      {"initialisation: the offer's answer is not typed ahead, nor the closing key",
       {"--blank", "--write-delay", "10"},
       [](GatewaySession& g) {
         TerminalSession& t = g.Term();
         if (auto r = OpenConnectionDialog(t); !r) return r;
         t.Press(Key::Enter);
         if (!t.WaitForText(Utf8(u8"нажмите I"), kExchangeWait)) return Failure(t, "no offer");
         t.SendKeys("i");
         return ::testing::AssertionSuccess();
       },
       " ",
       [](GatewaySession& g) { return StaysUntilAKey(g.Term(), Utf8(u8"нажмите любую клавишу")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GatewaySession g(Traced());
    ASSERT_TRUE(g.StartGateway(c.gwsim));
    ASSERT_TRUE(c.startWait(g));
    g.Term().SendKeys(c.typedBlind);
    EXPECT_TRUE(c.check(g));
  }
}

// Browsing another gateway in the dialog and leaving it with Esc keeps the
// gateway the tool drives in the status area; Enter takes the new one.
TEST_F(TrustE2E, StatusAreaNamesTheGatewayTheLinesSelect) {
  GatewaySession g;
  ASSERT_TRUE(g.StartGateway());
  TerminalSession& t = g.Term();
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Right);
  t.Press(Key::Up);
  ASSERT_TRUE(Shows(t, 53, 14, Utf8(u8"ШЛЮЗ 2")));
  t.Press(Key::Esc);
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait));
  EXPECT_TRUE(ShowsConnection(t)) << t.ScreenText();
  EXPECT_TRUE(Shows(t, 73, 1, Utf8(u8"ШЛЮЗ 1")));
  // Enter on the browsed gateway connects to it and says so.
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Right);
  t.Press(Key::Up);
  ASSERT_TRUE(Shows(t, 53, 14, Utf8(u8"ШЛЮЗ 2")));
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitForText(Utf8(u8"нажмите любую клавишу"), kExchangeWait)) << t.ScreenText();
  t.SendKeys(" ");
  EXPECT_TRUE(Shows(t, 73, 1, Utf8(u8"ШЛЮЗ 2")));
}

// Connected to COM1, the dialog browsed to COM2 and Enter: COM2 is opened
// and read (its SIM is blank: the initialisation is offered), not COM1's
// connection kept under COM2's name.
TEST_F(TrustE2E, AnotherPortChosenIsOpenedAnew) {
  GatewaySession g;
  ASSERT_TRUE(g.StartGateway());
  GatewayProcess second(GwsimBinary(), {"--link", g.Dir() + "/COM2", "--blank"}, g.Dir() + "/COM2", kScreenWait);
  ASSERT_TRUE(second.Ready());
  TerminalSession& t = g.Term();
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(OpenConnectionDialog(t));
  t.Press(Key::Up);
  ASSERT_TRUE(Shows(t, 28, 14, "COM2"));
  t.Press(Key::Enter);
  EXPECT_TRUE(t.WaitForText(Utf8(u8"SIM-Карта не инициализирована"), kExchangeWait)) << t.ScreenText();
}

// A settings file as the tool saves it.
void WriteSettingsFile(const std::string& path) {
  std::string text;
  for (int i = 1; i <= 99; ++i) {
    char line[64];
    const std::string number = i == 98 ? "0000100" : "0";
    const std::string name = i == 98 ? "98.GSM.TRV" : (i < 10 ? "0" : "") + std::to_string(i);
    std::snprintf(line, sizeof line, " %02d,\"%s\",129,\"%s\"\r\n", i, number.c_str(), name.c_str());
    text += line;
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// book.set loaded for editing and one field of the outgoing calls form
// changed: an edit that only a save keeps.
::testing::AssertionResult EditLoadedBook(TerminalSession& t) {
  WriteSettingsFile(t.Directory() + "/book.set");
  if (auto r = Choose(t, kFileMenu, 4, Utf8(u8"Загрузка файла для редактирования")); !r) return r;
  if (!t.WaitFor([&] { return t.TextAt(20, 6, 8) == "book.set"; }, kScreenWait))
    return Failure(t, "no file list with book.set");
  t.Press(Key::Enter);
  if (!t.WaitForText("[Y/N]", kScreenWait)) return Failure(t, "no question");
  t.SendKeys("y");
  if (!t.WaitForText(Utf8(u8"нажмите любую клавишу"), kScreenWait)) return Failure(t, "not loaded");
  t.SendKeys(" ");
  if (auto r = Choose(t, kProgrammingMenu, 2, Utf8(u8"Исходящая связь")); !r) return r;
  if (!t.WaitFor([&] { return t.CursorPos() == std::make_pair(kFieldX, kFieldY); }, kScreenWait))
    return Failure(t, "no outgoing calls form");
  return EditField(
      t, kFieldX, kFieldY, kFieldWidth, [&] { t.SendKeys("777"); }, "777");
}

// Ctrl+C in the screen asks what the Exit item asks; N goes back to the very
// place, Y leaves with status 0 and the terminal given back. A second Ctrl+C
// leaves at once. With nothing unsaved it leaves without a question.
TEST(TrustTerminalE2E, CtrlCAsksBeforeUnsavedEditsAreLost) {
  const std::string question = Utf8(u8"Продолжить без сохранения? [Y/N]");
  {
    SCOPED_TRACE("N goes back to the form, Y leaves");
    TerminalSession t(TarvelinBinary());
    ASSERT_TRUE(EditLoadedBook(t));
    t.SendKeys("\x03");
    ASSERT_TRUE(t.WaitForText(question, kScreenWait)) << t.ScreenText();
    t.SendKeys("n");
    ASSERT_TRUE(Gone(t, question));
    EXPECT_TRUE(ShowsField(t, kFieldX, kFieldY, "777", kFieldWidth));
    EXPECT_TRUE(t.WaitFor([&] { return t.CursorPos() == std::make_pair(kFieldX, kFieldY); }, kScreenWait));
    // The form still takes its keys.
    ASSERT_TRUE(MoveTo(t, Key::Down, kFieldX, kFieldY + 1));
    t.SendKeys("\x03");
    ASSERT_TRUE(t.WaitForText(question, kScreenWait)) << t.ScreenText();
    t.SendKeys("y");
    const std::optional<int> status = t.WaitForExit(kScreenWait);
    ASSERT_TRUE(status.has_value()) << t.ScreenText();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    EXPECT_FALSE(t.AltScreen());
  }
  {
    SCOPED_TRACE("a second Ctrl+C leaves at once");
    TerminalSession t(TarvelinBinary());
    ASSERT_TRUE(EditLoadedBook(t));
    t.SendKeys("\x03");
    ASSERT_TRUE(t.WaitForText(question, kScreenWait)) << t.ScreenText();
    t.SendKeys("\x03");
    const std::optional<int> status = t.WaitForExit(kScreenWait);
    ASSERT_TRUE(status.has_value()) << t.ScreenText();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  }
  {
    SCOPED_TRACE("nothing unsaved: leaves at once");
    TerminalSession t(TarvelinBinary());
    ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait));
    t.SendKeys("\x03");
    const std::optional<int> status = t.WaitForExit(kScreenWait);
    ASSERT_TRUE(status.has_value()) << t.ScreenText();
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
  }
}

}  // namespace
}  // namespace tv::e2e
