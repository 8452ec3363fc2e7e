// The simulated gateway's replies, byte for byte, and their timing.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sim/gateway_model.h"

namespace tv::sim {
namespace {

using namespace std::chrono_literals;

GatewayOptions With(const std::function<void(GatewayOptions&)>& change) {
  GatewayOptions options;
  change(options);
  return options;
}

std::string Send(GatewayModel& model, const std::string& command, Millis at = 0ms) {
  model.Receive(at, reinterpret_cast<const uint8_t*>(command.data()), command.size());
  const auto bytes = model.TakeOutput(at + 1h);
  return std::string(bytes.begin(), bytes.end());
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
                      {"active as the network reports it", "AT+CCFC=2,2\r",
                       "\r\n+CCFC: 1,1,\"+79161234567\",145\r\n\r\nOK\r\n"},
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

}  // namespace
}  // namespace tv::sim
