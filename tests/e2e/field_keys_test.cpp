// The keys of the field editors and of the network waits, as the operator
// meets them against the simulated gateway: Insert types over a number and
// the SIM gets what the field shows, a refused '+' says why, and Esc leaves
// the forwarding screen while the network is asked.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"

namespace tv::e2e {
namespace {

class FieldKeysE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

// Outgoing calls form: the first forbidden-list field, cell 40, which holds
// "8800" on the sample SIM.
constexpr int kFieldX = 12, kFieldY = 8, kFieldWidth = 8;

::testing::AssertionResult OpenOutgoingForm(GatewaySession& g) {
  TerminalSession& t = g.Term();
  if (auto r = Connect(t); !r) return r;
  if (auto r = Choose(t, kProgrammingMenu, 2, Utf8(u8"Исходящая связь")); !r) return r;
  if (!t.WaitFor([&] { return t.CursorPos() == std::make_pair(kFieldX, kFieldY); }, kScreenWait))
    return Failure(t, "no outgoing calls form");
  return ShowsField(t, kFieldX, kFieldY, "8800", kFieldWidth);
}

TEST_F(FieldKeysE2E, InsertTypesOverANumberAndTheSimGetsWhatTheFieldShows) {
  GatewaySession g;
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(g.WaitForDumpLine("40,\"8800\",129,\"40\""));
  ASSERT_TRUE(OpenOutgoingForm(g));
  TerminalSession& t = g.Term();
  ASSERT_TRUE(EditField(
      t, kFieldX, kFieldY, kFieldWidth,
      [&] {
        t.Press(Key::Insert);
        t.Type("8495");
      },
      "8495"));
  EXPECT_TRUE(g.WaitForDumpLine("40,\"8495\",129,\"40\""));
  // The cursor was a block while typing over (DECSCUSR 2, the terminal type
  // has the cursor styles) and the underline again after Enter.
  const std::string& raw = t.RawOutput();
  const std::size_t block = raw.rfind("\x1b[2 q"), underline = raw.rfind("\x1b[4 q");
  EXPECT_NE(block, std::string::npos);
  EXPECT_NE(underline, std::string::npos);
  EXPECT_GT(underline, block);
  // Without Insert the digits go in front, as they always did, and the
  // field shows it before Enter.
  ASSERT_TRUE(EditField(
      t, kFieldX, kFieldY, kFieldWidth, [&] { t.Type("12"); }, "128495"));
  EXPECT_TRUE(g.WaitForDumpLine("40,\"128495\",129,\"40\""));
}

TEST_F(FieldKeysE2E, ARefusedPlusSaysWhyAndChangesNothing) {
  GatewaySession g;
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(OpenOutgoingForm(g));
  TerminalSession& t = g.Term();
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitFor([&] { return t.CellBg(kFieldX, kFieldY) == Indexed(ansi::LightGrey); }, kScreenWait));
  t.Type("+");
  ASSERT_TRUE(Shows(t, 5, 24, Utf8(u8"номер набирается без +")));
  EXPECT_EQ(t.TextAt(kFieldX, kFieldY, kFieldWidth), "8800    ");
  // The next key the field takes puts the key hints back.
  t.Press(Key::End);
  ASSERT_TRUE(Gone(t, Utf8(u8"номер набирается без +")));
  EXPECT_TRUE(Shows(t, 4, 24, Utf8(u8"Стрелки")));
  t.Press(Key::Esc);
  EXPECT_TRUE(ShowsField(t, kFieldX, kFieldY, "8800", kFieldWidth));
  EXPECT_NE(("\n" + g.Dump()).find("\n40,\"8800\",129,\"40\"\n"), std::string::npos) << g.Dump();
}

// A network that never answers the forwarding query: Esc leaves the screen
// at once (not after the 40 s bound), and nothing is switched.
TEST_F(FieldKeysE2E, EscLeavesTheForwardingQuery) {
  SessionOptions options;
  options.env.push_back({"TARVELIN_TRACE", "trace.txt"});
  GatewaySession g(options);
  ASSERT_TRUE(g.StartGateway({"--forwarding-silent"}));
  TerminalSession& t = g.Term();
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kCommandsMenu, 1, Utf8(u8"Переадресация")));
  ASSERT_TRUE(Shows(t, 40, 8, Utf8(u8"Запрос безусловной переадресации")));
  EXPECT_TRUE(Shows(t, 4, 24, Utf8(u8"ESC-Прервать ожидание ответа сети")));
  t.Press(Key::Esc);
  ASSERT_TRUE(t.WaitFor([&] { return OpenMenu(t) == kCommandsMenu; }, kScreenWait)) << t.ScreenText();
  std::ifstream in(g.Dir() + "/trace.txt", std::ios::binary);
  const std::string trace(std::istreambuf_iterator<char>(in), {});
  EXPECT_NE(trace.find("AT+CCFC=0,2"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("AT+CCFC=0,3"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("AT+CCFC=2,2"), std::string::npos) << trace;
}

}  // namespace
}  // namespace tv::e2e
