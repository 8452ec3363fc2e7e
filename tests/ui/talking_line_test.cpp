// A port on which something never stops talking: another device on the
// chosen COM port (a GPS sending NMEA sentences, a terminal server's banner
// loop) or a device at another baud rate whose bytes arrive as noise. The
// reads must end on their own bounds, as they do on silence, and the
// connection must fail with its message instead of holding the screen.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "device/cell_transfer.h"
#include "tests/support/scripted_console.h"
#include "tests/support/scripted_modem.h"
#include "ui/connect_dialog.h"
#include "ui/tool.h"

namespace tv {
namespace {

using test::Enter;
using test::ScriptedConsole;
using test::ScriptedModem;

// Notes the message row of the exchange error box at every key wait.
struct MessageConsole : ScriptedConsole {
  KeyPress NextKey(const Screen& s) override {
    messages.push_back(s.TextAt(23, 14, 34));
    return ScriptedConsole::NextKey(s);
  }
  std::vector<std::string> messages;
};

struct Talker {
  const char* name;
  std::string text;
};
const Talker kTalkers[] = {
    {"NMEA sentences", "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"},
    {"noise without line feeds", std::string("\xFF\x00\x1B~#\xB0\x7F!\xFE\r", 10)},
    {"a modem's unsolicited lines", "\r\nRING\r\n\r\n+CMTI: \"SM\",3\r\n"},
};

// No single step may take longer than this, in simulated time.
constexpr Millis kStepBound{30000};

TEST(TalkingLine, CellReadAndWriteEndOnTheirOwn) {
  for (const Talker& talker : kTalkers) {
    SCOPED_TRACE(talker.name);
    ScriptedConsole console;
    Screen screen(&console);
    ManualClock clock;
    ScriptedModem port(clock);
    port.Talk(talker.text);
    Tool tool(screen, clock, port);
    {
      SCOPED_TRACE("ReadCell");
      const auto start = clock.Now();
      ASSERT_NO_THROW(EXPECT_FALSE(ReadCell(tool.at, tool.image, 98).Ok()));
      EXPECT_LE(clock.Now() - start, kStepBound);
    }
    {
      SCOPED_TRACE("WriteCell");
      const auto start = clock.Now();
      ASSERT_NO_THROW(EXPECT_FALSE(WriteCell(tool.at, tool.image, 7).Ok()));
      EXPECT_LE(clock.Now() - start, kStepBound);
    }
  }
}

TEST(TalkingLine, ConnectFailsWithNoAnswerAndDropsTheConnection) {
  for (const Talker& talker : kTalkers) {
    SCOPED_TRACE(talker.name);
    MessageConsole console;
    console.Add({Enter, Enter});  // connect, then dismiss the error box
    Screen screen(&console);
    ManualClock clock;
    ScriptedModem port(clock);
    port.Talk(talker.text);
    Tool tool(screen, clock, port);
    const auto start = clock.Now();
    ASSERT_NO_THROW(ConnectToDevice(tool));
    EXPECT_LE(clock.Now() - start, 2 * kStepBound);
    EXPECT_FALSE(tool.state.deviceConnected);
    EXPECT_EQ(console.KeysLeft(), 0u);
    ASSERT_EQ(console.messages.size(), 2u);
    EXPECT_EQ(console.messages[1], std::string("Нет ответа от внешнего устройства."_cp));
  }
}

}  // namespace
}  // namespace tv
