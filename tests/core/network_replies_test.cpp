// Forwarding commands and the "+CCFC:" / "+CUSD:" reply parsers, row by row
// with the reply lines real modems send.
#include "core/network_replies.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cp866/literal.h"

namespace tv {
namespace {

TEST(ForwardingCommand, BytesOfEveryUse) {
  struct Case {
    const char* name;
    int reason;
    ForwardingMode mode;
    const char* number;
    std::string delay;
    std::string bytes;
  };
  const Case cases[] = {
      {"query unconditional", 0, ForwardingMode::Query, "", "", "AT+CCFC=0,2\r"},
      {"query no reply", 2, ForwardingMode::Query, "", "", "AT+CCFC=2,2\r"},
      {"switch off unconditional", 0, ForwardingMode::SwitchOff, "", "", "AT+CCFC=0,4\r"},
      {"switch off no reply", 2, ForwardingMode::SwitchOff, "", "", "AT+CCFC=2,4\r"},
      {"switch on unconditional", 0, ForwardingMode::SwitchOn, "89161234567", "20",
       "AT+CCFC=0,3,\"89161234567\"\r"},
      {"switch on no reply", 2, ForwardingMode::SwitchOn, "123", "20", "AT+CCFC=2,3,\"123\",,,,,20\r"},
      {"no reply, delay not two digits: network default", 2, ForwardingMode::SwitchOn, "123",
       std::string("\0\0", 2), "AT+CCFC=2,3,\"123\"\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BuildForwardingCommand(c.reason, c.mode, c.number, c.delay), c.bytes);
  }
  EXPECT_EQ(BuildForwardingCommand(0, ForwardingMode::Query).size(), 12u);
}

TEST(CcfcLine, ActiveForVoiceInEveryBlankForm) {
  struct Case {
    const char* line;
    bool active;
    bool hasNumber;
    const char* number;
  };
  const Case cases[] = {
      {"+CCFC: 1,1,\"+79161234567\",145", true, true, "89161234567"},
      {"+CCFC: 1, 1,\"+79161234567\",145", true, true, "89161234567"},
      {"+CCFC:1,1,\"+79161234567\",145", true, true, "89161234567"},
      {"+CCFC: 1 , 1 , \"+79161234567\" , 145", true, true, "89161234567"},
      {"+CCFC: 1,1,\"123\",129,,,20", true, true, "123"},
      {"+CCFC: 1,7,\"+420800123456\",129,\"\",128,0", true, true, "420800123456"},
      {"+CCFC: 1,255,\"89161234567\",129", true, true, "89161234567"},
      {"+CCFC: 1,2,\"+79161234567\",145", false, false, ""},  // data only
      {"+CCFC: 0,7", false, false, ""},
      {"+CCFC:0,7", false, false, ""},
      {"+CCFC: 0,1,,129", false, false, ""},
      {"+CCFC: 0,1,\"+79161234567\",145", false, false, ""},
      {"+CCFC: 1", false, false, ""},              // no class
      {"+CCFC: 1,1,\"+7916123", true, false, ""},  // closing quote missing
      {"+CCFC: 1,1,\"\",129", true, false, ""},    // empty number
      // A lone plus is no number: taken, it would blank the stored forwarding
      // number (found by fuzz_network_replies).
      {"+CCFC: 1 ,7,\"+\",129,\"\",128,0", true, false, ""},
      {"+CCFC: 1,1", true, false, ""},  // no number at all
      {"+CCFC: x,1,\"123\"", false, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const CcfcReply r = ParseCcfcLine(c.line);
    EXPECT_TRUE(r.isCcfc);
    EXPECT_EQ(r.activeForVoice, c.active);
    EXPECT_EQ(r.hasNumber, c.hasNumber);
    EXPECT_EQ(r.number, c.number);
  }
  EXPECT_FALSE(ParseCcfcLine("OK").isCcfc);
  EXPECT_FALSE(ParseCcfcLine("AT+CCFC=0,2").isCcfc);
}

TEST(CcfcLine, NetworkNumberRule) {
  struct Case {
    const char* network;
    const char* stored;
  };
  const Case cases[] = {
      {"+79161234567", "89161234567"},    // +7: national 8
      {"+420800123456", "420800123456"},  // another country: only the plus goes
      {"89161234567", "89161234567"},     // no plus: unchanged
      {"79161234567", "79161234567"},     // a 7 without the plus stays
      {"+7", "8"},
      {"+", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.network);
    EXPECT_EQ(ForwardingNumberFromNetwork(c.network), c.stored);
  }
}

TEST(CusdLine, EveryAnswerForm) {
  struct Case {
    const char* line;
    CusdKind kind;
    const char* text;
    int dcs;
    bool closed;
  };
  const Case cases[] = {
      {"+CUSD: 0,\"Balance: 123.45 RUB\",15", CusdKind::Text, "Balance: 123.45 RUB", 15, true},
      {"+CUSD: 0,\"04110430043B0430043D0441\",72", CusdKind::Text, "04110430043B0430043D0441", 72, true},
      {"+CUSD:0,\"A\",72", CusdKind::Text, "A", 72, true},
      {"+CUSD: 1, \"A\" , 15", CusdKind::Text, "A", 15, true},
      {"+CUSD: 1,\"Kontostand: 3.00 EUR\"", CusdKind::Text, "Kontostand: 3.00 EUR", -1, true},
      {"+CUSD: 2,\"00480061\",15", CusdKind::Text, "00480061", 15, true},
      {"+CUSD: 0,\"Balance", CusdKind::Text, "Balance", -1, false},
      {"+CUSD: 0,\"\"", CusdKind::EmptyText, "", -1, true},
      {"+CUSD: 4", CusdKind::NotSupported, "", -1, true},
      {"+CUSD: 2", CusdKind::NoText, "", -1, true},
      {"+CUSD: 0", CusdKind::NoText, "", -1, true},
      {"+CUSD: 2,", CusdKind::NoText, "", -1, true},
      {"+CUSD: 5", CusdKind::NetworkTimeout, "", -1, true},
      {"+CUSD:", CusdKind::NoText, "", -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const CusdReply r = ParseCusdLine(c.line);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(r.dcs, c.dcs);
    EXPECT_EQ(r.closed, c.closed);
  }
  EXPECT_EQ(ParseCusdLine("OK").kind, CusdKind::NotCusd);
  EXPECT_EQ(ParseCusdLine("AT+CUSD=1,\"#100#\",15").kind, CusdKind::NotCusd);
}

TEST(UssdText, Ucs2SchemesOfTheCodingGroups) {
  struct Case {
    int dcs;
    bool ucs2;
  };
  const Case cases[] = {
      {72, true},     // 0x48: general, uncompressed, UCS2
      {0x58, true},   // general with message class, UCS2
      {0x11, true},   // UCS2 preceded by language
      {15, false},    // language unspecified, 7 bit
      {0x10, false},  // 7 bit preceded by language
      {0x44, false},  // 8 bit data
      {0x4C, false},  // reserved alphabet
      {0x98, false},  // behind a user data header
      {0xF4, false},  // 8 bit data / message handling
      {-1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dcs);
    EXPECT_EQ(IsUcs2Scheme(c.dcs), c.ucs2);
  }
}

TEST(UssdText, DecodesValidUcs2AndShowsEverythingElseAsReceived) {
  struct Case {
    const char* name;
    const char* text;
    int dcs;
    std::string shown;
  };
  const Case cases[] = {
      {"Russian balance", "04110430043B0430043D0441", 72, "Баланс"_cp},
      {"Russian, lower-case hex", "0414043b044f00200441043f044004300432043a0438", 72, "Для справки"_cp},
      {"capital yo and digits", "0401003100320033", 72, "Ё123"_cp},
      {"language indication first", "F23A04110430", 0x11, "Ба"_cp},
      {"control characters become blanks", "0041000A0042", 72, "A B"},
      {"character cp866 lacks", "20AC0031", 72, "?1"},
      {"not a multiple of four", "041104", 72, "041104"},
      {"not hex", "Balance: 12", 72, "Balance: 12"},
      {"hex although dcs 15", "00480061", 15, "00480061"},
      {"7 bit text", "Balance: 123.45 RUB", 15, "Balance: 123.45 RUB"},
      {"no dcs", "Kontostand", -1, "Kontostand"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DecodeUssdText(c.text, c.dcs), c.shown);
  }
}

TEST(UssdText, ScreenSafeAndWrapped) {
  EXPECT_EQ(ScreenSafeText("a\rb\nc\bd\x1b"
                           "e"),
            "a b c d e");
  EXPECT_EQ(ScreenSafeText("\x80\xFF"), "\x80\xFF");

  struct Case {
    const char* name;
    const char* text;
    int maxRows;
    std::vector<std::string> rows;
  };
  const Case cases[] = {
      {"fits", "ab de", 3, {"ab de"}},
      {"breaks after the last blank", "abc defg hij", 3, {"abc ", "defg ", "hij"}},
      {"no blank: hard break", "abcdefghijk", 3, {"abcde", "fghij", "k"}},
      {"cut after the last row", "abcdefghijklmnopq", 2, {"abcde", "fghij"}},
      {"exactly the width", "abcde", 3, {"abcde"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(WrapText(c.text, 5, c.maxRows), c.rows);
  }
}

TEST(FinalAnswers, ErrorForms) {
  EXPECT_TRUE(IsErrorAnswer("ERROR"));
  EXPECT_TRUE(IsErrorAnswer("+CME ERROR: 132"));
  EXPECT_TRUE(IsErrorAnswer("+CME ERROR: 21"));
  EXPECT_FALSE(IsErrorAnswer("OK"));
  EXPECT_FALSE(IsErrorAnswer(" ERROR"));
  EXPECT_FALSE(IsErrorAnswer("+CUSD: 4"));
}

}  // namespace
}  // namespace tv
