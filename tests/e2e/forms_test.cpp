// The book forms against the simulated gateway: each confirmed field goes to
// the SIM at once, and a new connection reads the new texts back.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/gateway_session.h"

namespace tv::e2e {
namespace {

class FormsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  }
};

TEST_F(FormsE2E, EditedNumberAndNameReachTheSimAndComeBack) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(Connect(t));

  // Contact 1: two digits appended (the editor starts at the first column).
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(ShowsField(t, 10, 4, "89161234501", 30));
  ASSERT_TRUE(EditField(
      t, 10, 4, 30,
      [&] {
        t.Press(Key::Right, 11);
        t.Type("99");
      },
      "8916123450199"));
  ASSERT_TRUE(g.WaitForDumpLine("01,\"8916123450199\",129,\"01\""));
  ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));

  // Cell 5's name in the whole book: the old name deleted, capitals typed.
  ASSERT_TRUE(Choose(t, kCommandsMenu, 3, Utf8(u8"Вся книжка")));
  ASSERT_TRUE(t.WaitFor(
      [&] { return FieldShows(t, 48, 5, "05", 32) && t.CursorPos() == std::make_pair(12, 1); }, kScreenWait))
      << t.ScreenText();
  EXPECT_TRUE(Shows(t, 1, 5, Utf8(u8"Контакт 05")));
  EXPECT_TRUE(ShowsField(t, 12, 1, "8916123450199", 30));
  for (int row = 2; row <= 5; ++row) ASSERT_TRUE(MoveTo(t, Key::Down, 12, row));
  ASSERT_TRUE(MoveTo(t, Key::Right, 48, 5));
  ASSERT_TRUE(EditField(
      t, 48, 5, 32,
      [&] {
        t.Press(Key::Delete, 2);
        t.Type("OFFICE.2");
      },
      "OFFICE.2"));
  ASSERT_TRUE(g.WaitForDumpLine("05,\"89265550505\",129,\"OFFICE.2\""));
  ASSERT_TRUE(LeaveForm(t, kCommandsMenu));
  // Nothing else changed on the SIM.
  EXPECT_NE(g.Dump().find("02,\"84957654321\",129,\"02\"\n"), std::string::npos) << g.Dump();

  // A fresh read of the whole book shows the new texts in both forms.
  ASSERT_TRUE(Connect(t));
  ASSERT_TRUE(Choose(t, kCommandsMenu, 3, Utf8(u8"Вся книжка")));
  ASSERT_TRUE(t.WaitFor(
      [&] { return FieldShows(t, 48, 5, "OFFICE.2", 32) && FieldShows(t, 12, 1, "8916123450199", 30); },
      kScreenWait))
      << t.ScreenText();
  EXPECT_TRUE(ShowsField(t, 12, 5, "89265550505", 30));
  ASSERT_TRUE(LeaveForm(t, kCommandsMenu));
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(ShowsField(t, 10, 4, "8916123450199", 30));
}

// Esc in an editor drops the change: the field shows the old text and the
// SIM is not written.
TEST_F(FormsE2E, EscInTheEditorLeavesTheSimAlone) {
  GatewaySession g;
  TerminalSession& t = g.Term();
  ASSERT_TRUE(g.StartGateway());
  ASSERT_TRUE(Connect(t));
  const std::string before = g.Dump();
  ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
  ASSERT_TRUE(ShowsField(t, 10, 4, "89161234501", 30));
  t.Press(Key::Enter);
  ASSERT_TRUE(t.WaitFor([&] { return t.CellBg(10, 4) == Indexed(ansi::LightGrey); }, kScreenWait));
  t.Type("77");
  ASSERT_TRUE(t.WaitForTextAt(10, 4, "7789161234501", kScreenWait)) << t.ScreenText();
  t.Press(Key::Esc);
  ASSERT_TRUE(ShowsField(t, 10, 4, "89161234501", 30));
  // Still in the form: Esc of the editor does not end it.
  EXPECT_TRUE(Shows(t, 27, 2, Utf8(u8"Записная книжка устройства")));
  ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));
  EXPECT_EQ(g.Dump(), before);
}

}  // namespace
}  // namespace tv::e2e
