// The simulated gateway's replies, byte for byte, and their timing.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/gateway_model.h"

namespace tv::sim {
namespace {

using namespace std::chrono_literals;

GatewayOptions With(const std::function<void(GatewayOptions&)>& change) {
  GatewayOptions options;
  change(options);
  return options;
}

void Put(GatewayModel& model, const std::string& bytes, Millis at) {
  model.Receive(at, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string Take(GatewayModel& model, Millis until) {
  const auto bytes = model.TakeOutput(until);
  return std::string(bytes.begin(), bytes.end());
}

std::string Send(GatewayModel& model, const std::string& command, Millis at = 0ms) {
  Put(model, command, at);
  return Take(model, at + 1h);
}

struct ReplyCase {
  const char* name;
  std::string command;
  std::string reply;
};

void RunTable(GatewayModel& model, const std::vector<ReplyCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Send(model, c.command), c.reply);
  }
}

TEST(GatewayModel, PhonebookReplies) {
  GatewayModel model;
  RunTable(
      model,
      {
          {"initialised cell", "AT+CPBR=05\r", "\r\n+CPBR: 5,\"89265550505\",129,\"05\"\r\n\r\nOK\r\n"},
          {"mode cell", "AT+CPBR=98\r", "\r\n+CPBR: 98,\"1100200\",129,\"98.GSM.TRV\"\r\n\r\nOK\r\n"},
          {"international number", "AT+CPBR=03\r", "\r\n+CPBR: 3,\"+79031112233\",145,\"03\"\r\n\r\nOK\r\n"},
          {"lower case", "at+cpbr=6\r", "\r\n+CPBR: 6,\"0\",129,\"06\"\r\n\r\nOK\r\n"},
          {"empty location", "AT+CPBR=100\r", "\r\nOK\r\n"},
          {"index 0", "AT+CPBR=00\r", "\r\n+CME ERROR: 21\r\n"},
          {"index 251", "AT+CPBR=251\r", "\r\n+CME ERROR: 21\r\n"},
          {"write", "AT+CPBW=07,\"123\",129,\"ab\"\r", "\r\nOK\r\n"},
          {"read back", "AT+CPBR=07\r", "\r\n+CPBR: 7,\"123\",129,\"ab\"\r\n\r\nOK\r\n"},
          {"empty texts", "AT+CPBW=08,\"\",129,\"\"\r", "\r\nOK\r\n"},
          {"read empty texts", "AT+CPBR=08\r", "\r\n+CPBR: 8,\"\",129,\"\"\r\n\r\nOK\r\n"},
          {"name of 16", "AT+CPBW=09,\"1\",129,\"ABCDEFGHIJKLMNOP\"\r", "\r\nOK\r\n"},
          {"name of 17", "AT+CPBW=09,\"1\",129,\"ABCDEFGHIJKLMNOPQ\"\r", "\r\nERROR\r\n"},
          {"number of 41", "AT+CPBW=09,\"" + std::string(41, '1') + "\",129,\"X\"\r", "\r\nERROR\r\n"},
          {"comma in name", "AT+CPBW=10,\"5\",129,\"1,2.\"\r", "\r\nOK\r\n"},
          {"read comma in name", "AT+CPBR=10\r", "\r\n+CPBR: 10,\"5\",129,\"1,2.\"\r\n\r\nOK\r\n"},
          {"erase", "AT+CPBW=10\r", "\r\nOK\r\n"},
          {"erased", "AT+CPBR=10\r", "\r\nOK\r\n"},
          {"plain AT", "AT\r", "\r\nOK\r\n"},
          {"line feed ignored", "AT\r\n", "\r\nOK\r\n"},
          {"unknown", "AT+XYZ\r", "\r\nERROR\r\n"},
      });
  EXPECT_EQ(model.Name(9), "ABCDEFGHIJKLMNOP");
}

TEST(GatewayModel, InitialisedLayoutKeepsSignatureAndNames) {
  GatewayModel model;
  EXPECT_EQ(model.Name(98), "98.GSM.TRV");
  for (int i = 1; i <= 99; ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(model.HasEntry(i));
    EXPECT_LE(model.Name(i).size(), 16u);
    if (i != 98) {
      EXPECT_EQ(model.Name(i), (i < 10 ? "0" : "") + std::to_string(i));
    }
  }
  EXPECT_EQ(model.Number(99), "89161234567");
  EXPECT_FALSE(model.HasEntry(100));

  GatewayModel blank(With([](GatewayOptions& o) { o.initialised = false; }));
  EXPECT_EQ(Send(blank, "AT+CPBR=98\r"), "\r\nOK\r\n");
}

TEST(GatewayModel, ForwardingReplies) {
  GatewayModel model;
  RunTable(model, {
                      {"inactive", "AT+CCFC=0,2\r", "\r\n+CCFC: 0,7\r\n\r\nOK\r\n"},
                      {"register no reply", "AT+CCFC=2,3,\"89161234567\",,,,,25\r", "\r\nOK\r\n"},
                      {"active as the network reports it, with its time", "AT+CCFC=2,2\r",
                       "\r\n+CCFC: 1,1,\"+79161234567\",145,,,25\r\n\r\nOK\r\n"},
                      {"erase", "AT+CCFC=2,4\r", "\r\nOK\r\n"},
                      {"erased", "AT+CCFC=2,2\r", "\r\n+CCFC: 0,7\r\n\r\nOK\r\n"},
                      {"register without number", "AT+CCFC=0,3\r", "\r\nERROR\r\n"},
                  });
  model.Forwarding(0) = {true, "+79161234567", 20};
  model.Options().blankAfterComma = true;
  RunTable(model, {
                      {"gateway modem active", "AT+CCFC=0,2\r",
                       "\r\n+CCFC: 1, 1,\"+79161234567\",145\r\n\r\nOK\r\n"},
                      {"gateway modem inactive", "AT+CCFC=2,2\r", "\r\n+CCFC: 0, 7\r\n\r\nOK\r\n"},
                  });
  GatewayModel registered;
  Send(registered, "AT+CCFC=2,3,\"123\",,,,,25\r");
  EXPECT_EQ(registered.Forwarding(2).delaySeconds, 25);

  model.Options().forwardingError = true;
  EXPECT_EQ(Send(model, "AT+CCFC=0,2\r"), "\r\nERROR\r\n");
  model.Options().forwardingError = false;
  model.Options().forwardingSilent = true;
  EXPECT_EQ(Send(model, "AT+CCFC=0,2\r"), "");
}

// Reason 4 is every forwarding (0-3), 5 every conditional one (1-3): a
// client that erases "all" with AT+CCFC=4,4 must find nothing left active.
TEST(GatewayModel, ForwardingGroupReasonsActOnTheirMembers) {
  struct Case {
    const char* name;
    std::string command;
    std::array<bool, 4> activeAfter;  // reasons 0..3
  };
  const Case cases[] = {
      {"erase all", "AT+CCFC=4,4\r", {false, false, false, false}},
      {"erase all conditional", "AT+CCFC=5,4\r", {true, false, false, false}},
      {"disable all", "AT+CCFC=4,0\r", {false, false, false, false}},
      {"erase one", "AT+CCFC=1,4\r", {true, false, true, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayModel model;
    for (int r = 0; r < 4; ++r) model.Forwarding(r) = {true, "+79161234567", 20};
    EXPECT_EQ(Send(model, c.command), "\r\nOK\r\n");
    for (int r = 0; r < 4; ++r) EXPECT_EQ(model.Forwarding(r).active, c.activeAfter[r]) << "reason " << r;
  }

  // As a PC suite registers: number, type, then subaddress fields and class.
  GatewayModel model;
  RunTable(model,
           {
               {"register all", "AT+CCFC=4,3,\"89161234567\",129,\"\",128,7\r", "\r\nOK\r\n"},
               {"busy registered", "AT+CCFC=1,2\r", "\r\n+CCFC: 1,1,\"+79161234567\",145\r\n\r\nOK\r\n"},
               {"no reply keeps its time", "AT+CCFC=2,2\r",
                "\r\n+CCFC: 1,1,\"+79161234567\",145,,,20\r\n\r\nOK\r\n"},
           });
}

TEST(GatewayModel, UssdAnswerFollowsOkAfterItsDelay) {
  struct Case {
    const char* name;
    bool ucs2;
    std::string answer;
    std::string line;
  };
  const Case cases[] = {
      {"ucs2", true, "Для справки",  // UTF-8: the network's text, as the model takes it
       "\r\n+CUSD: 0,\"0414043B044F00200441043F044004300432043A0438\",72\r\n"},
      {"plain", false, "Balance: 123.45 RUB", "\r\n+CUSD: 0,\"Balance: 123.45 RUB\",15\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayModel model(With([&c](GatewayOptions& o) {
      o.ussdDelay = 1500ms;
      o.ussdAnswer = c.answer;
      o.ussdUcs2 = c.ucs2;
    }));
    const std::string command = "AT+CUSD=1,\"#100#\",15\r";
    model.Receive(0ms, reinterpret_cast<const uint8_t*>(command.data()), command.size());
    const auto ok = model.TakeOutput(1499ms);
    EXPECT_EQ(std::string(ok.begin(), ok.end()), "\r\nOK\r\n");
    EXPECT_EQ(model.NextOutputTime(), 1500ms);
    const auto rest = model.TakeOutput(1500ms);
    EXPECT_EQ(std::string(rest.begin(), rest.end()), c.line);
  }
  GatewayModel silent(With([](GatewayOptions& o) { o.ussdSilent = true; }));
  EXPECT_EQ(Send(silent, "AT+CUSD=1,\"#100#\",15\r"), "\r\nOK\r\n");
}

TEST(GatewayModel, EchoPrecedesTheReplyAndAte0EndsIt) {
  GatewayModel model(With([](GatewayOptions& o) { o.echo = true; }));
  RunTable(model, {
                      {"echo", "AT+CPBR=06\r", "AT+CPBR=06\r\r\n+CPBR: 6,\"0\",129,\"06\"\r\n\r\nOK\r\n"},
                      {"ATE0 is still echoed", "ATE0\r", "ATE0\r\r\nOK\r\n"},
                      {"no echo after it", "AT\r", "\r\nOK\r\n"},
                  });
}

TEST(GatewayModel, FaultsTable) {
  struct Case {
    const char* name;
    std::function<void(Faults&)> fault;
    std::string reply;
  };
  const Case cases[] = {
      {"error to all", [](Faults& f) { f.errorToAll = true; }, "\r\nERROR\r\n"},
      {"error to prefix", [](Faults& f) { f.errorPrefix = "AT+CPBR"; }, "\r\nERROR\r\n"},
      {"cme error", [](Faults& f) { f.errorToAll = f.cmeError = true; }, "\r\n+CME ERROR: 100\r\n"},
      {"garbage", [](Faults& f) { f.garbage = true; },
       std::string("\xFF\x00\x1B~#\xB0\x7F!\xFE\r\n", 11) + "\r\n+CPBR: 6,\"0\",129,\"06\"\r\n\r\nOK\r\n"},
      {"overlong", [](Faults& f) { f.overlongLines = true; },
       "\r\n+CPBR: 6,\"0\",129,\"06\",0,\"" + std::string(200, 'P') + "\"\r\n\r\nOK\r\n"},
      {"silent from the start", [](Faults& f) { f.silentAfterCommands = 0; }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayModel model(With([&c](GatewayOptions& o) { c.fault(o.faults); }));
    EXPECT_EQ(Send(model, "AT+CPBR=06\r"), c.reply);
  }

  GatewayModel hangs(With([](GatewayOptions& o) { o.faults.hangUpAfterCommands = 1; }));
  EXPECT_FALSE(hangs.HungUp());
  EXPECT_EQ(Send(hangs, "AT\r"), "\r\nOK\r\n");
  EXPECT_TRUE(hangs.HungUp());
  EXPECT_EQ(Send(hangs, "AT\r"), "");

  GatewayModel quiet(With([](GatewayOptions& o) { o.faults.silentAfterCommands = 1; }));
  EXPECT_EQ(Send(quiet, "AT\r"), "\r\nOK\r\n");
  EXPECT_EQ(Send(quiet, "AT\r"), "");
  EXPECT_EQ(quiet.CommandsSeen(), 2);
}

TEST(GatewayModel, LatencyAndPacingGiveEachByteItsTime) {
  GatewayModel model(With([](GatewayOptions& o) {
    o.commandLatency = 30ms;
    o.pace115200 = true;
  }));
  const std::string command = "AT+CPBR=06\r";  // 11 bytes in, 31 bytes out
  model.Receive(0ms, reinterpret_cast<const uint8_t*>(command.data()), command.size());
  // The CR is complete after 11 character times, the first reply byte one
  // character time after the latency.
  const Nanos first = 11 * ByteTime115200 + 30ms + ByteTime115200;
  EXPECT_EQ(model.NextOutputTimeExact(), first);
  EXPECT_TRUE(model.TakeOutput(first - 1ns).empty());
  EXPECT_EQ(model.TakeOutput(first).size(), 1u);
  EXPECT_EQ(model.TakeOutput(first + 29 * ByteTime115200).size(), 29u);
  EXPECT_EQ(model.TakeOutput(first + 30 * ByteTime115200).size(), 1u);
  EXPECT_FALSE(model.NextOutputTime().has_value());
}

TEST(GatewayModel, DumpListsEveryEntry) {
  GatewayModel model(With([](GatewayOptions& o) { o.initialised = false; }));
  model.SetEntry(5, "0", "05");
  model.SetEntry(99, "+7916", "99");
  EXPECT_EQ(model.Dump(), "05,\"0\",129,\"05\"\n99,\"+7916\",145,\"99\"\n");
}

TEST(GatewayModel, IdentityAndSettingsAnswerAsA27007Modem) {
  GatewayModel model;
  RunTable(
      model,
      {
          {"ATI", "ATI\r", "\r\nGWSIM\r\n\r\nGW-900 GSM gateway\r\n\r\nRevision: GW900_1.4.2\r\n\r\nOK\r\n"},
          {"ATI4", "ATI4\r", "\r\nGW-900 GSM gateway\r\n\r\nOK\r\n"},
          {"maker", "AT+CGMI\r", "\r\nGWSIM\r\n\r\nOK\r\n"},
          {"model", "AT+CGMM\r", "\r\nGW-900 GSM gateway\r\n\r\nOK\r\n"},
          {"revision", "AT+CGMR\r", "\r\nGW900_1.4.2\r\n\r\nOK\r\n"},
          {"IMEI", "AT+CGSN\r", "\r\n358240051111110\r\n\r\nOK\r\n"},
          {"IMSI", "AT+CIMI\r", "\r\n250991234567890\r\n\r\nOK\r\n"},
          {"functionality", "AT+CFUN?\r", "\r\n+CFUN: 1\r\n\r\nOK\r\n"},
          {"flight mode", "AT+CFUN=4\r", "\r\nOK\r\n"},
          {"flight mode kept", "AT+CFUN?\r", "\r\n+CFUN: 4\r\n\r\nOK\r\n"},
          {"no such functionality", "AT+CFUN=7\r", "\r\nERROR\r\n"},
          {"full functionality", "AT+CFUN=1\r", "\r\nOK\r\n"},
          {"character set", "AT+CSCS?\r", "\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n"},
          {"character sets", "AT+CSCS=?\r", "\r\n+CSCS: (\"GSM\",\"UCS2\",\"IRA\")\r\n\r\nOK\r\n"},
          {"set IRA", "AT+CSCS=\"IRA\"\r", "\r\nOK\r\n"},
          {"IRA kept", "AT+CSCS?\r", "\r\n+CSCS: \"IRA\"\r\n\r\nOK\r\n"},
          {"unknown character set", "AT+CSCS=\"8859-1\"\r", "\r\nERROR\r\n"},
          {"phonebooks", "AT+CPBS=?\r", "\r\n+CPBS: (\"SM\")\r\n\r\nOK\r\n"},
          {"select SIM", "AT+CPBS=\"SM\"\r", "\r\nOK\r\n"},
          {"phone memory refused", "AT+CPBS=\"ME\"\r", "\r\nERROR\r\n"},
          {"used and total", "AT+CPBS?\r", "\r\n+CPBS: \"SM\",99,250\r\n\r\nOK\r\n"},
          {"erase one", "AT+CPBW=5\r", "\r\nOK\r\n"},
          {"one fewer used", "AT+CPBS?\r", "\r\n+CPBS: \"SM\",98,250\r\n\r\nOK\r\n"},
          {"hang-up supported", "AT+CHUP=?\r", "\r\nOK\r\n"},
      });
}

// In UCS2 mode the names travel as hex, four digits a character; numbers
// stay digits. The name limit is 16 characters, not bytes.
TEST(GatewayModel, Ucs2CharacterSetCarriesNamesInHex) {
  GatewayModel model;
  const std::string cyrillic16 = "041F044004380432043504420020043204410435043C0020043F044004380432";
  RunTable(model,
           {
               {"switch", "AT+CSCS=\"UCS2\"\r", "\r\nOK\r\n"},
               {"read", "AT+CPBR=98\r",
                "\r\n+CPBR: 98,\"1100200\",129,\"00390038002E00470053004D002E005400520056\"\r\n\r\nOK\r\n"},
               {"write", "AT+CPBW=7,\"123\",129,\"041F0440\"\r", "\r\nOK\r\n"},
               {"16 characters of 2 bytes", "AT+CPBW=8,\"1\",129,\"" + cyrillic16 + "\"\r", "\r\nOK\r\n"},
               {"17 characters", "AT+CPBW=8,\"1\",129,\"" + cyrillic16 + "0021\"\r", "\r\nERROR\r\n"},
               {"not hex", "AT+CPBW=8,\"1\",129,\"Abc\"\r", "\r\nERROR\r\n"},
           });
  EXPECT_EQ(model.Name(7), "Пр");                // UTF-8: the model keeps names as text
  EXPECT_EQ(model.Name(8), "Привет всем прив");  // UTF-8
}

TEST(GatewayModel, ExtendedErrorsFollowCmee) {
  struct Case {
    const char* name;
    std::string setting;  // sent first
    bool cmeFault;
    std::array<std::string, 3> replies;  // index 0, name of 17, forwarding without number
    std::string query;
  };
  const Case cases[] = {
      {"after power-on", "", false, {"+CME ERROR: 21", "ERROR", "ERROR"}, "+CMEE: 0"},
      {"CMEE=0", "AT+CMEE=0\r", false, {"ERROR", "ERROR", "ERROR"}, "+CMEE: 0"},
      {"CMEE=1", "AT+CMEE=1\r", false, {"+CME ERROR: 21", "+CME ERROR: 24", "+CME ERROR: 3"}, "+CMEE: 1"},
      {"CMEE=2",
       "AT+CMEE=2\r",
       false,
       {"+CME ERROR: invalid index", "+CME ERROR: text string too long", "+CME ERROR: operation not allowed"},
       "+CMEE: 2"},
      {"fault forces numbers",
       "AT+CMEE=0\r",
       true,
       {"+CME ERROR: 21", "+CME ERROR: 24", "+CME ERROR: 3"},
       "+CMEE: 0"},
  };
  const std::string commands[] = {"AT+CPBR=0\r", "AT+CPBW=9,\"1\",129,\"ABCDEFGHIJKLMNOPQ\"\r",
                                  "AT+CCFC=0,3\r"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayModel model(With([&c](GatewayOptions& o) { o.faults.cmeError = c.cmeFault; }));
    if (!c.setting.empty()) {
      EXPECT_EQ(Send(model, c.setting), "\r\nOK\r\n");
    }
    for (std::size_t i = 0; i < c.replies.size(); ++i)
      EXPECT_EQ(Send(model, commands[i]), "\r\n" + c.replies[i] + "\r\n") << commands[i];
    EXPECT_EQ(Send(model, "AT+CMEE?\r"), "\r\n" + c.query + "\r\n\r\nOK\r\n");
    EXPECT_EQ(Send(model, "AT+NOSUCH\r"), "\r\nERROR\r\n") << "a syntax error is never a +CME ERROR";
  }
}

// The output of a modem as the pieces a reader meets: framed lines
// ("\r\n...\r\n") and the unframed bytes between them (the echo).
struct Piece {
  std::string text;
  bool framed;
};

std::vector<Piece> Pieces(const std::string& out) {
  std::vector<Piece> pieces;
  std::size_t p = 0;
  while (p < out.size()) {
    const std::size_t end = out.rfind("\r\n", p) == p ? out.find("\r\n", p + 2) : std::string::npos;
    if (out.compare(p, 2, "\r\n") == 0 && end != std::string::npos) {
      pieces.push_back({out.substr(p, end + 2 - p), true});
      p = end + 2;
      continue;
    }
    const std::size_t next = out.find("\r\n", p + 1);
    const std::size_t stop = next == std::string::npos ? out.size() : next;
    pieces.push_back({out.substr(p, stop - p), false});
    p = stop;
  }
  return pieces;
}

bool IsUnsolicited(const std::string& framed) {
  const auto& lines = UnsolicitedLines();
  return framed.size() > 4 &&
         std::find(lines.begin(), lines.end(), framed.substr(2, framed.size() - 4)) != lines.end();
}

// Unsolicited lines come between whole lines only: taking them out leaves
// exactly what a modem without them sends. Each command goes one second
// after the last, so every reply is complete before the next command.
TEST(GatewayModel, UnsolicitedLinesFallOnLineBoundariesOnly) {
  struct Case {
    const char* name;
    std::function<void(GatewayOptions&)> setup;
    int percent;
  };
  const Case cases[] = {
      {"some boundaries", [](GatewayOptions& o) { o.echo = true; }, 40},
      {"every boundary", [](GatewayOptions& o) { o.echo = true; }, 100},
      {"paced, no echo", [](GatewayOptions& o) { o.pace115200 = true; }, 50},
      {"with busy drop, write delay and late USSD",
       [](GatewayOptions& o) {
         o.echo = true;
         o.ussdUcs2 = false;
         o.faults.dropWhileBusy = true;
         o.faults.writeDelayMin = 100ms;
         o.faults.writeDelayMax = 500ms;
         o.faults.lateUssd = true;
       },
       50},
  };
  const std::vector<std::string> commands = {
      "AT\r",          "AT+CPBR=1,5\r",   "AT+CPBW=7,\"123\",129,\"ab\"\r", "AT+CPBR=7\r",
      "AT+CCFC=0,2\r", "AT+CPBR=95,99\r", "AT+CUSD=1,\"#100#\",15\r",       "AT+CPBR=300\r",
      "AT+XYZ\r",      "ATI\r",
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayModel plain(With(c.setup));
    GatewayModel noisy(With([&c](GatewayOptions& o) {
      c.setup(o);
      o.faults.urcPercent = c.percent;
    }));
    int unsolicited = 0;
    for (std::size_t k = 0; k < commands.size(); ++k) {
      SCOPED_TRACE(commands[k]);
      const Millis at = k * 1000ms;
      Put(plain, commands[k], at);
      Put(noisy, commands[k], at);
      const std::string expected = Take(plain, at + 999ms);
      std::string kept;
      std::vector<std::string> replyLines;  // after the echo, unsolicited ones included
      const auto pieces = Pieces(Take(noisy, at + 999ms));
      for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (!pieces[i].framed || !IsUnsolicited(pieces[i].text)) {
          kept += pieces[i].text;
          if (pieces[i].framed) replyLines.push_back(pieces[i].text);
          continue;
        }
        ++unsolicited;
        replyLines.push_back(pieces[i].text);
        // Never inside the echo: an unframed piece before it is the whole command.
        if (i > 0 && !pieces[i - 1].framed) {
          EXPECT_EQ(pieces[i - 1].text, commands[k]);
        }
      }
      EXPECT_EQ(kept, expected);
      if (c.percent == 100) {
        // Every line of the reply has one just before it (the network's
        // USSD answer is not part of a reply).
        for (std::size_t i = 0; i + 1 < replyLines.size(); ++i) {
          if (!IsUnsolicited(replyLines[i + 1]) && replyLines[i + 1].rfind("\r\n+CUSD:", 0) != 0) {
            EXPECT_TRUE(IsUnsolicited(replyLines[i])) << i;
          }
        }
      }
    }
    EXPECT_GT(unsolicited, 10);
  }
}

// Spontaneous lines come from the model's time alone: the in-process port,
// which asks for output at odd moments, sees the same bytes as gwsim, and
// each byte comes exactly when NextOutputTimeExact says.
TEST(GatewayModel, IdleUnsolicitedLinesFollowModelTime) {
  const auto noisy = [](uint64_t seed) {
    return With([seed](GatewayOptions& o) {
      o.faults.urcPercent = 5;
      o.faults.seed = seed;
    });
  };
  GatewayModel once(noisy(7)), stepped(noisy(7)), other(noisy(8));
  const std::string all = Take(once, 10000ms);
  std::string collected;
  for (Millis t = 0ms; t <= 10000ms; t += 7ms) collected += Take(stepped, t);
  EXPECT_EQ(collected, all);
  EXPECT_NE(Take(other, 10000ms), all);

  int lines = 0;
  for (const auto& piece : Pieces(all)) {
    EXPECT_TRUE(piece.framed && IsUnsolicited(piece.text)) << piece.text;
    ++lines;
  }
  EXPECT_GE(lines, 15);  // about one every 300 ms
  EXPECT_LE(lines, 60);

  // The in-process port moves its clock to that time and reads a byte there.
  for (const bool paced : {false, true}) {
    SCOPED_TRACE(paced ? "paced" : "unpaced");
    GatewayModel timed(With([paced](GatewayOptions& o) {
      o.pace115200 = paced;
      o.faults.urcPercent = 5;
    }));
    for (int i = 0; i < 20; ++i) {
      const auto next = timed.NextOutputTimeExact();
      ASSERT_TRUE(next.has_value());
      EXPECT_TRUE(timed.TakeOutput(*next - Nanos(1)).empty());
      EXPECT_FALSE(timed.TakeOutput(*next).empty());
    }
  }

  GatewayModel dead(With([](GatewayOptions& o) {
    o.faults.urcPercent = 50;
    o.faults.silentAfterCommands = 0;
  }));
  EXPECT_EQ(Take(dead, 10000ms), "");
  EXPECT_FALSE(dead.NextOutputTime().has_value());
}

TEST(GatewayModel, IdleUnsolicitedLinesWaitForTheEchoOfATypedCommand) {
  GatewayModel model(With([](GatewayOptions& o) {
    o.echo = true;
    o.faults.urcPercent = 5;
  }));
  std::string out;
  const std::string typed = "AT+CPBR=6\r";
  for (std::size_t i = 0; i < typed.size(); ++i) {  // one key every 400 ms
    Put(model, typed.substr(i, 1), i * 400ms);
    out += Take(model, i * 400ms + 399ms);
  }
  EXPECT_NE(out.find(typed), std::string::npos) << out;
}

TEST(GatewayModel, BytesSentWhileBusyAreLost) {
  struct Case {
    const char* name;
    std::function<void(GatewayOptions&)> setup;
    std::vector<std::pair<Millis, std::string>> writes;
    std::string output;
  };
  const auto busy = [](bool echo) {
    return [echo](GatewayOptions& o) {
      o.commandLatency = 100ms;
      o.echo = echo;
      o.faults.dropWhileBusy = true;
    };
  };
  const std::string cell6 = "\r\n+CPBR: 6,\"0\",129,\"06\"\r\n\r\nOK\r\n";
  const Case cases[] = {
      {"a modem that listens",
       [](GatewayOptions& o) { o.commandLatency = 100ms; },
       {{0ms, "AT\r"}, {50ms, "AT+CPBR=6\r"}},
       "\r\nOK\r\n" + cell6},
      {"during the latency", busy(false), {{0ms, "AT\r"}, {50ms, "AT+CPBR=6\r"}}, "\r\nOK\r\n"},
      {"in the same write", busy(false), {{0ms, "AT\rAT+CPBR=6\r"}}, "\r\nOK\r\n"},
      {"no echo of lost bytes", busy(true), {{0ms, "AT\r"}, {50ms, "AT+CPBR=6\r"}}, "AT\r\r\nOK\r\n"},
      {"once the final result is out",
       busy(false),
       {{0ms, "AT\r"}, {100ms, "AT+CPBR=6\r"}},
       "\r\nOK\r\n" + cell6},
      {"the USSD answer does not hold the line",
       [](GatewayOptions& o) {
         o.faults.dropWhileBusy = true;
         o.ussdUcs2 = false;
         o.ussdAnswer = "Balance: 1 RUB";
       },
       {{0ms, "AT+CUSD=1,\"#100#\",15\r"}, {100ms, "AT\r"}},
       "\r\nOK\r\n\r\nOK\r\n\r\n+CUSD: 0,\"Balance: 1 RUB\",15\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayModel model(With(c.setup));
    for (const auto& [at, bytes] : c.writes) Put(model, bytes, at);
    EXPECT_EQ(Take(model, 1h), c.output);
  }
}

TEST(GatewayModel, WriteDelayHoldsEachPhonebookWrite) {
  GatewayModel fixed(
      With([](GatewayOptions& o) { o.faults.writeDelayMin = o.faults.writeDelayMax = 300ms; }));
  Put(fixed, "AT+CPBW=7,\"1\",129,\"07\"\r", 0ms);
  EXPECT_EQ(fixed.NextOutputTime(), 300ms);
  EXPECT_EQ(Take(fixed, 300ms), "\r\nOK\r\n");
  Put(fixed, "AT+CPBR=7\r", 1000ms);
  EXPECT_EQ(fixed.NextOutputTime(), 1000ms) << "reads are not held";

  GatewayModel ranged(With([](GatewayOptions& o) {
    o.faults.writeDelayMin = 100ms;
    o.faults.writeDelayMax = 500ms;
  }));
  std::set<Millis::rep> delays;
  for (int k = 0; k < 30; ++k) {
    const Millis at = k * 1000ms;
    Put(ranged, "AT+CPBW=7,\"1\",129,\"07\"\r", at);
    const auto next = ranged.NextOutputTime();
    ASSERT_TRUE(next.has_value());
    EXPECT_GE(*next - at, 100ms);
    EXPECT_LE(*next - at, 500ms);
    delays.insert((*next - at).count());
    Take(ranged, at + 999ms);
  }
  EXPECT_LT(*delays.begin(), 200);
  EXPECT_GT(*delays.rbegin(), 400);
}

TEST(GatewayModel, CmeNotFoundForEmptyLocations) {
  GatewayModel model(With([](GatewayOptions& o) { o.faults.cmeNotFound = true; }));
  RunTable(model, {
                      {"empty location", "AT+CPBR=100\r", "\r\n+CME ERROR: 22\r\n"},
                      {"empty range", "AT+CPBR=100,120\r", "\r\n+CME ERROR: 22\r\n"},
                      {"range reaching entries", "AT+CPBR=99,101\r",
                       "\r\n+CPBR: 99,\"89161234567\",129,\"99\"\r\n\r\nOK\r\n"},
                      {"filled location", "AT+CPBR=6\r", "\r\n+CPBR: 6,\"0\",129,\"06\"\r\n\r\nOK\r\n"},
                  });
}

// Asleep at start and after 5 s without traffic: a client that gives up
// after 200 ms and tries again loses the retry and meets the late reply.
TEST(GatewayModel, WakeDelayAnswersTheFirstCommandLate) {
  GatewayModel model(With([](GatewayOptions& o) { o.faults.wakeDelay = 1000ms; }));
  Put(model, "AT\r", 0ms);
  Put(model, "AT+CPBR=6\r", 200ms);  // the retry, lost
  EXPECT_EQ(model.NextOutputTime(), 1000ms);
  EXPECT_EQ(Take(model, 999ms), "");
  EXPECT_EQ(Take(model, 1h), "\r\nOK\r\n");

  model.Options().faults.wakeDelay = 1000ms;
  struct Step {
    const char* name;
    Millis at;
    Millis replyAt;
  };
  GatewayModel woken(With([](GatewayOptions& o) { o.faults.wakeDelay = 1000ms; }));
  const Step steps[] = {
      {"asleep at start", 0ms, 1000ms},
      {"awake", 1500ms, 1500ms},
      {"4.999 s after the last reply", 6499ms, 6499ms},
      {"5 s after the last reply", 11499ms, 12499ms},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.name);
    Put(woken, "AT\r", s.at);
    EXPECT_EQ(woken.NextOutputTime(), s.replyAt);
    EXPECT_EQ(Take(woken, s.replyAt), "\r\nOK\r\n");
  }
}

TEST(GatewayModel, WrongIndexAnswersForTheNextCell) {
  GatewayModel model(With([](GatewayOptions& o) { o.faults.wrongIndex = {13}; }));
  RunTable(model, {
                      {"slipped cell", "AT+CPBR=13\r", "\r\n+CPBR: 14,\"0\",129,\"14\"\r\n\r\nOK\r\n"},
                      {"cell before", "AT+CPBR=12\r", "\r\n+CPBR: 12,\"0\",129,\"12\"\r\n\r\nOK\r\n"},
                      {"in a range", "AT+CPBR=12,14\r",
                       "\r\n+CPBR: 12,\"0\",129,\"12\"\r\n\r\n+CPBR: 14,\"0\",129,\"14\"\r\n"
                       "\r\n+CPBR: 14,\"0\",129,\"14\"\r\n\r\nOK\r\n"},
                  });
}

TEST(GatewayModel, GsmNulCarriesTheAtSignAsByteZero) {
  const std::string nul(1, '\0');
  GatewayModel model(With([](GatewayOptions& o) { o.faults.gsmNul = true; }));
  model.SetEntry(7, "1", "a@b");
  RunTable(model, {
                      {"read", "AT+CPBR=7\r", "\r\n+CPBR: 7,\"1\",129,\"a" + nul + "b\"\r\n\r\nOK\r\n"},
                      {"write", "AT+CPBW=8,\"2\",129,\"x" + nul + "y\"\r", "\r\nOK\r\n"},
                      {"read back", "AT+CPBR=8\r", "\r\n+CPBR: 8,\"2\",129,\"x" + nul + "y\"\r\n\r\nOK\r\n"},
                  });
  EXPECT_EQ(model.Name(8), "x@y");
  GatewayModel plain;
  plain.SetEntry(7, "1", "a@b");
  EXPECT_EQ(Send(plain, "AT+CPBR=7\r"), "\r\n+CPBR: 7,\"1\",129,\"a@b\"\r\n\r\nOK\r\n");
}

TEST(GatewayModel, UssdAnswerArrivesLateOrIsCancelled) {
  const std::string request = "AT+CUSD=1,\"#100#\",15\r";
  const std::string answer = "\r\n+CUSD: 0,\"Balance: 1 RUB\",15\r\n";
  struct Case {
    const char* name;
    bool late;
    std::vector<std::string> commands;  // one a minute
    std::vector<std::string> replies;
  };
  const Case cases[] = {
      {"after the next final result",
       true,
       {request, "AT\r", "AT\r"},
       {"\r\nOK\r\n", "\r\nOK\r\n" + answer, "\r\nOK\r\n"}},
      {"after the next request's OK",
       true,
       {request, request, "AT+CUSD=2\r", "AT\r"},
       {"\r\nOK\r\n", "\r\nOK\r\n" + answer, "\r\nOK\r\n", "\r\nOK\r\n"}},
      {"cancelled while late",
       true,
       {request, "AT+CUSD=2\r", "AT\r"},
       {"\r\nOK\r\n", "\r\nOK\r\n", "\r\nOK\r\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayModel model(With([&c](GatewayOptions& o) {
      o.ussdUcs2 = false;
      o.ussdAnswer = "Balance: 1 RUB";
      o.faults.lateUssd = c.late;
    }));
    for (std::size_t k = 0; k < c.commands.size(); ++k) {
      Put(model, c.commands[k], k * 60000ms);
      EXPECT_EQ(Take(model, k * 60000ms + 59999ms), c.replies[k]) << k;
    }
  }
  GatewayModel cancelled(With([](GatewayOptions& o) { o.ussdDelay = 1500ms; }));
  Put(cancelled, request, 0ms);
  Put(cancelled, "AT+CUSD=2\r", 100ms);
  EXPECT_EQ(Take(cancelled, 1h), "\r\nOK\r\n\r\nOK\r\n") << "the session ended before the network answered";
}

// Range reads: one +CPBR line per filled location of the range, ascending,
// empty locations left out; the modems that refuse or cap the range form.
TEST(GatewayModel, RangeReadsAnswerAsASimDoes) {
  auto entry = [](int i, const std::string& number, const std::string& name) {
    return "\r\n+CPBR: " + std::to_string(i) + ",\"" + number + "\",129,\"" + name + "\"\r\n";
  };
  struct Case {
    const char* name;
    std::function<void(GatewayOptions&)> setup;
    std::string command;
    std::string reply;
  };
  const Case cases[] = {
      {"whole range", [](GatewayOptions&) {}, "AT+CPBR=5,8\r",
       entry(5, "89265550505", "05") + entry(6, "0", "06") + entry(8, "0", "08") + "\r\nOK\r\n"},
      {"empty locations left out", [](GatewayOptions&) {}, "AT+CPBR=97,101\r",
       entry(97, "0", "97") + entry(99, "89161234567", "99") + "\r\nOK\r\n"},
      {"no entry in the range", [](GatewayOptions&) {}, "AT+CPBR=100,120\r", "\r\nOK\r\n"},
      {"blanks and lower case", [](GatewayOptions&) {}, "at+cpbr= 7 , 8\r",
       entry(8, "0", "08") + "\r\nOK\r\n"},
      {"last before first", [](GatewayOptions&) {}, "AT+CPBR=8,5\r", "\r\n+CME ERROR: 21\r\n"},
      {"refused", [](GatewayOptions& o) { o.faults.noRange = true; }, "AT+CPBR=1,99\r", "\r\nERROR\r\n"},
      {"refused, extended errors", [](GatewayOptions& o) { o.faults.noRange = o.faults.cmeError = true; },
       "AT+CPBR=1,99\r", "\r\n+CME ERROR: 4\r\n"},
      {"refused range, one location still read", [](GatewayOptions& o) { o.faults.noRange = true; },
       "AT+CPBR=08\r", entry(8, "0", "08") + "\r\nOK\r\n"},
      {"capped at three", [](GatewayOptions& o) { o.faults.rangeCap = 3; }, "AT+CPBR=5,99\r",
       entry(5, "89265550505", "05") + entry(6, "0", "06") + entry(8, "0", "08") + "\r\nOK\r\n"},
      {"capped, fewer left", [](GatewayOptions& o) { o.faults.rangeCap = 3; }, "AT+CPBR=99,120\r",
       entry(99, "89161234567", "99") + "\r\nOK\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GatewayModel model(With(c.setup));
    model.EraseEntry(7);
    model.EraseEntry(98);
    EXPECT_EQ(Send(model, c.command), c.reply);
  }
}

// A SIM reads one location after the other: each takes the latency, the
// empty ones too, and each entry goes out as soon as it is read.
TEST(GatewayModel, RangeReadTakesTheLatencyForEveryLocation) {
  GatewayModel model(With([](GatewayOptions& o) { o.commandLatency = 100ms; }));
  model.EraseEntry(7);
  Put(model, "AT+CPBR=5,8\r", 0ms);
  const std::vector<std::pair<Millis, std::string>> expected = {
      {100ms, "\r\n+CPBR: 5,\"89265550505\",129,\"05\"\r\n"},
      {200ms, "\r\n+CPBR: 6,\"0\",129,\"06\"\r\n"},
      {400ms, "\r\n+CPBR: 8,\"0\",129,\"08\"\r\n\r\nOK\r\n"},
  };
  Millis from = 0ms;
  for (const auto& [at, bytes] : expected) {
    SCOPED_TRACE(bytes);
    EXPECT_EQ(Take(model, at - 1ms), "") << "since " << from.count();
    EXPECT_EQ(Take(model, at), bytes);
    from = at;
  }
  EXPECT_FALSE(model.NextOutputTime().has_value());
  // One location: the latency once, as before.
  Put(model, "AT+CPBR=6\r", 1000ms);
  EXPECT_EQ(Take(model, 1099ms), "");
  EXPECT_EQ(Take(model, 1100ms), "\r\n+CPBR: 6,\"0\",129,\"06\"\r\n\r\nOK\r\n");
}

// Unsolicited lines stand between the entries of a range reply too.
TEST(GatewayModel, UnsolicitedLinesBetweenTheEntriesOfARange) {
  GatewayModel model(With([](GatewayOptions& o) {
    o.faults.urcPercent = 100;
    o.commandLatency = 50ms;
  }));
  const std::string reply = Send(model, "AT+CPBR=1,99\r");
  const auto pieces = Pieces(reply);
  int entries = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].text.rfind("\r\n+CPBR:", 0) != 0) continue;
    ++entries;
    ASSERT_GT(i, 0u);
    EXPECT_TRUE(IsUnsolicited(pieces[i - 1].text)) << pieces[i - 1].text;
  }
  EXPECT_EQ(entries, 99);
}

// Each line end a modem may use, on every line it sends: replies,
// unsolicited lines, the network's USSD answer, the noise line.
TEST(GatewayModel, LineEndOptionFramesEveryLine) {
  for (const std::string end : {"\r", "\n", "\r\r\n", "\r\n"}) {
    SCOPED_TRACE(end == "\r" ? "CR" : end == "\n" ? "LF" : end == "\r\n" ? "CR LF" : "CR CR LF");
    GatewayModel model(With([&end](GatewayOptions& o) {
      o.lineEnd = end;
      o.ussdUcs2 = false;
      o.ussdAnswer = "Balance 5";
    }));
    EXPECT_EQ(Send(model, "AT+CPBR=6,7\r"), end + "+CPBR: 6,\"0\",129,\"06\"" + end + end + "+CPBR: 7,\"0\",129,\"07\"" +
                                                end + end + "OK" + end);
    EXPECT_EQ(Send(model, "AT+CPBR=100\r"), end + "OK" + end);
    EXPECT_EQ(Send(model, "AT+CUSD=1,\"#100#\",15\r", 10s), end + "OK" + end + end + "+CUSD: 0,\"Balance 5\",15" + end);
    model.Options().echo = true;
    EXPECT_EQ(Send(model, "AT\r", 20s), "AT\r" + end + "OK" + end);  // the echo is what came in
    model.Options().echo = false;
    model.Options().faults.garbage = true;
    const std::string garbage = Send(model, "AT\r", 30s);
    EXPECT_EQ(garbage.substr(garbage.size() - 2 * end.size() - 2), end + "OK" + end);
    EXPECT_EQ(garbage.substr(9, end.size()), end);
  }
}

// The clock a third-party client sets at a restore, and reads back running.
TEST(GatewayModel, ClockIsSetAndRuns) {
  GatewayModel model(With([](GatewayOptions& o) { o.clockAtStart = "26/12/10,23:59:58+12"; }));
  RunTable(model, {
                      {"at start", "AT+CCLK?\r", "\r\n+CCLK: \"26/12/10,23:59:58+12\"\r\n\r\nOK\r\n"},
                      {"test form", "AT+CCLK=?\r", "\r\nOK\r\n"},
                      {"not a time", "AT+CCLK=\"26/13/10,00:00:00+00\"\r", "\r\nERROR\r\n"},
                      {"unquoted", "AT+CCLK=26/12/10,00:00:00+00\r", "\r\nERROR\r\n"},
                  });
  EXPECT_EQ(Send(model, "AT+CCLK?\r", 3s), "\r\n+CCLK: \"26/12/11,00:00:01+12\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Send(model, "AT+CCLK=\"24/02/28,23:59:30-04\"\r", 10s), "\r\nOK\r\n");
  EXPECT_EQ(Send(model, "AT+CCLK?\r", 100s), "\r\n+CCLK: \"24/02/29,00:01:00-04\"\r\n\r\nOK\r\n");
}

}  // namespace
}  // namespace tv::sim
