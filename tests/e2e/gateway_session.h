// The tool and the simulated gateway together, as an operator meets them: a
// terminal session whose working directory holds ./COM1 linked to gwsim's
// pseudo-terminal, and the steps an operator takes through the menus. Every
// step waits for what the screen shows before the next key, with deadlines.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/harness.h"

namespace tv::e2e {

// Screen waits that involve a device exchange (99 cells, the network's
// answers) get a generous deadline: other builds may share the cores.
inline constexpr Duration kExchangeWait{15000};
inline constexpr Duration kScreenWait{10000};

// The pull-downs: File, Programming, Commands, Help. The cursor stands on the
// highlighted item, one column right of the box's left edge.
enum MenuIndex { kFileMenu = 0, kProgrammingMenu = 1, kCommandsMenu = 2, kHelpMenu = 3 };
inline constexpr int kItemColumn[4] = {2, 9, 27, 37};
inline constexpr int kTitleColumn[4] = {1, 8, 26, 36};
inline constexpr int kItemCount[4] = {6, 3, 3, 2};

inline ::testing::AssertionResult Failure(const TerminalSession& t, const std::string& what) {
  return ::testing::AssertionFailure() << what << "\n" << t.ScreenText();
}

class GatewaySession {
 public:
  explicit GatewaySession(SessionOptions options = {})
      : term_(std::make_unique<TerminalSession>(TarvelinBinary(), std::move(options))) {}

  TerminalSession& Term() { return *term_; }
  std::string Dir() const { return term_->Directory(); }
  std::string DumpPath() const { return term_->Directory() + "/gateway.dump"; }

  // Starts gwsim on ./COM1 (or another link) of the tool's directory with
  // its phonebook dump.
  ::testing::AssertionResult StartGateway(std::vector<std::string> args = {},
                                          const std::string& link = "COM1") {
    args.insert(args.begin(), {"--link", Dir() + "/" + link, "--dump", DumpPath()});
    gateway_ = std::make_unique<GatewayProcess>(GwsimBinary(), args, Dir() + "/" + link, kScreenWait);
    if (!gateway_->Ready()) return ::testing::AssertionFailure() << "gwsim did not link ./" << link;
    return ::testing::AssertionSuccess();
  }

  // Ends gwsim (by its PID), as an adapter unplugged.
  void StopGateway() { gateway_.reset(); }

  std::string Dump() const {
    std::ifstream in(DumpPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  // Waits until the gateway's phonebook holds the line (e.g. 01,"123",129,"01").
  ::testing::AssertionResult WaitForDumpLine(const std::string& line, Duration wait = kExchangeWait) {
    if (term_->WaitFor([&] { return ("\n" + Dump()).find("\n" + line + "\n") != std::string::npos; }, wait))
      return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the gateway never held " << line << "\n" << Dump();
  }

 private:
  std::unique_ptr<TerminalSession> term_;
  std::unique_ptr<GatewayProcess> gateway_;  // declared last: stopped before the directory goes
};

// The text appears at (col, row) within the deadline. Checks that follow
// another wait use it too: the terminal may have got only part of a frame.
inline ::testing::AssertionResult Shows(TerminalSession& t, int col, int row, const std::string& utf8,
                                        Duration wait = kScreenWait) {
  if (t.WaitForTextAt(col, row, utf8, wait)) return ::testing::AssertionSuccess();
  return Failure(t, "not shown at (" + std::to_string(col) + "," + std::to_string(row) + "): " + utf8);
}

// The text is nowhere on the screen (any longer).
inline ::testing::AssertionResult Gone(TerminalSession& t, const std::string& utf8,
                                       Duration wait = kScreenWait) {
  if (t.WaitFor([&] { return t.ScreenText().find(utf8) == std::string::npos; }, wait))
    return ::testing::AssertionSuccess();
  return Failure(t, "still on the screen: " + utf8);
}

// The menu whose pull-down holds the cursor on its highlighted item, or -1.
inline int OpenMenu(const TerminalSession& t) {
  const auto [col, row] = t.CursorPos();
  for (int m = 0; m < 4; ++m) {
    if (col != kItemColumn[m] || row < 3 || row >= 3 + kItemCount[m]) continue;
    if (t.CellBg(col, row) == Indexed(ansi::Green) && t.CellBg(kTitleColumn[m], 1) == Indexed(ansi::Green) &&
        t.TextAt(1, 1, 4) == Utf8(u8"Файл"))
      return m;
  }
  return -1;
}

// Moves through the menu bar to the item and presses Enter on it; the item's
// text is checked before Enter. Items count from 1.
inline ::testing::AssertionResult Choose(TerminalSession& t, int menu, int item, const std::string& text) {
  if (!t.WaitFor([&] { return OpenMenu(t) >= 0; }, kScreenWait)) return Failure(t, "no menu open");
  for (int m = OpenMenu(t); m != menu;) {
    m = (m + 1) % 4;
    t.Press(Key::Right);
    if (!t.WaitFor([&] { return OpenMenu(t) == m; }, kScreenWait)) return Failure(t, "menu did not open");
  }
  for (int row = t.CursorPos().second; row != 2 + item;) {
    row = row - 2 == kItemCount[menu] ? 3 : row + 1;
    t.Press(Key::Down);
    if (!t.WaitFor([&] { return OpenMenu(t) == menu && t.CursorPos().second == row; }, kScreenWait))
      return Failure(t, "item not highlighted");
  }
  const int col = kItemColumn[menu];
  if (t.TextAt(col, 2 + item, 1 + static_cast<int>(text.size())).rfind(" " + text, 0) != 0)
    return Failure(t, "wrong item under the highlight, expected " + text);
  t.Press(Key::Enter);
  return ::testing::AssertionSuccess();
}

// The status area of row 1 while connected: port, speed, gateway.
inline bool ShowsConnection(const TerminalSession& t) {
  return t.TextAt(59, 1, 5) == "COM1 " && t.TextAt(65, 1, 6) == "115200" &&
         t.TextAt(73, 1, 6) == Utf8(u8"ШЛЮЗ 1");
}

// After the closing message of the dialog: any key, and the menu with the
// connection in the status area.
inline ::testing::AssertionResult FinishConnect(TerminalSession& t) {
  if (!t.WaitForTextAt(20, 14, Utf8(u8"Для продолжения нажмите любую клавишу."), kExchangeWait))
    return Failure(t, "the book was not read");
  t.SendKeys(" ");
  if (!t.WaitFor([&] { return OpenMenu(t) == kFileMenu && ShowsConnection(t); }, kScreenWait))
    return Failure(t, "no connection in the status area");
  return ::testing::AssertionSuccess();
}

// File -> connection dialog -> Enter: opens ./COM1, reads the whole book.
inline ::testing::AssertionResult OpenConnectionDialog(TerminalSession& t) {
  if (auto r = Choose(t, kFileMenu, 1, Utf8(u8"Подключение к устройству")); !r) return r;
  if (!t.WaitForTextAt(20, 12, Utf8(u8"**** Установка связи с устройством ****"), kScreenWait))
    return Failure(t, "no connection dialog");
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult Connect(TerminalSession& t) {
  if (auto r = OpenConnectionDialog(t); !r) return r;
  t.Press(Key::Enter);
  return FinishConnect(t);
}

// A form's field at (col, row) shows the text (blank-padded to width) in the
// normal colours or as the settings forms' focus (green), i.e. it is not
// being edited.
inline bool FieldShows(const TerminalSession& t, int col, int row, const std::string& text, int width) {
  return t.TextAt(col, row, width) == text + std::string(width - text.size(), ' ') &&
         (t.CellBg(col, row) == Indexed(ansi::Blue) || t.CellBg(col, row) == Indexed(ansi::Green));
}

inline ::testing::AssertionResult ShowsField(TerminalSession& t, int col, int row, const std::string& text,
                                             int width, Duration wait = kScreenWait) {
  if (t.WaitFor([&] { return FieldShows(t, col, row, text, width); }, wait))
    return ::testing::AssertionSuccess();
  return Failure(t,
                 "field at (" + std::to_string(col) + "," + std::to_string(row) + ") does not show " + text);
}

// Enter on the form's current field at (col, row), the keys, Enter again;
// returns once the field shows the expected text in the normal colours.
inline ::testing::AssertionResult EditField(TerminalSession& t, int col, int row, int width,
                                            const std::function<void()>& keys, const std::string& expected) {
  if (!t.WaitFor([&] { return t.CursorPos() == std::make_pair(col, row); }, kScreenWait))
    return Failure(t, "cursor not on the field");
  t.Press(Key::Enter);
  if (!t.WaitFor([&] { return t.CellBg(col, row) == Indexed(ansi::LightGrey); }, kScreenWait))
    return Failure(t, "the field did not open for editing");
  keys();
  if (!t.WaitFor([&] { return t.TextAt(col, row, static_cast<int>(expected.size())) == expected; },
                 kScreenWait))
    return Failure(t, "typed text not shown: " + expected);
  t.Press(Key::Enter);
  if (!t.WaitFor([&] { return FieldShows(t, col, row, expected, width); }, kExchangeWait))
    return Failure(t, "the field was not committed: " + expected);
  return ::testing::AssertionSuccess();
}

// Moves the form's cursor with one arrow key and waits for it to arrive.
inline ::testing::AssertionResult MoveTo(TerminalSession& t, Key key, int col, int row) {
  t.Press(key);
  if (!t.WaitFor([&] { return t.CursorPos() == std::make_pair(col, row); }, kScreenWait))
    return Failure(t, "cursor did not reach (" + std::to_string(col) + "," + std::to_string(row) + ")");
  return ::testing::AssertionSuccess();
}

// Esc out of a form back to the menu.
inline ::testing::AssertionResult LeaveForm(TerminalSession& t, int menu) {
  t.Press(Key::Esc);
  if (!t.WaitFor([&] { return OpenMenu(t) == menu; }, kScreenWait))
    return Failure(t, "the menu did not return");
  return ::testing::AssertionSuccess();
}

// The chooser inside the operation's panel, with test.set as the only file
// and highlighted; Enter takes it.
inline ::testing::AssertionResult PickTheOnlyFile(TerminalSession& t) {
  if (!t.WaitFor(
          [&] {
            return t.TextAt(20, 6, 8) == "test.set" && t.CellBg(20, 6) == Indexed(ansi::Green) &&
                   t.TextAt(20, 23, 21) == Utf8(u8"Колличество файлов: 1");
          },
          kScreenWait))
    return Failure(t, "no file list with test.set");
  t.Press(Key::Enter);
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult Answer(TerminalSession& t, const std::string& question,
                                         const std::string& key) {
  if (!t.WaitForTextAt(20, 4, question, kScreenWait)) return Failure(t, "no question " + question);
  t.SendKeys(key);
  return ::testing::AssertionSuccess();
}

// The closing message of a transfer, any key, and the File menu again.
inline ::testing::AssertionResult Acknowledge(TerminalSession& t, const std::string& message) {
  if (!t.WaitForTextAt(20, 4, message, kExchangeWait)) return Failure(t, "no message " + message);
  t.SendKeys(" ");
  if (!t.WaitFor([&] { return OpenMenu(t) == kFileMenu; }, kScreenWait))
    return Failure(t, "no menu after " + message);
  return ::testing::AssertionSuccess();
}

}  // namespace tv::e2e
