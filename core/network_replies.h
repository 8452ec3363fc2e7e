// The network services the gateway's modem relays: call forwarding (AT+CCFC)
// and USSD (AT+CUSD). Command building and reply-line parsing, free of any
// I/O, so that every reply form seen on real modems can be tested as a table.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tv {

// Forwarding reasons of AT+CCFC.
inline constexpr int ForwardUnconditional = 0;
inline constexpr int ForwardNoReply = 2;

// Forwarding modes of AT+CCFC.
enum class ForwardingMode { Query = 2, SwitchOn = 3, SwitchOff = 4 };

// AT+CCFC=<reason>,<mode>[,"<number>"[,,,,,<time>]] with one carriage return:
//   AT+CCFC=0,2\r                    query unconditional
//   AT+CCFC=2,4\r                    switch off on no reply
//   AT+CCFC=0,3,"89161234567"\r      switch on unconditional
//   AT+CCFC=2,3,"123",,,,,20\r       switch on on no reply, 20 s
// The number and the delay are used only by SwitchOn; the time field is sent
// only for the no-reply reason and only when the delay is two digits (without
// it the network keeps its own default time).
std::string BuildForwardingCommand(int reason, ForwardingMode mode, std::string_view number = {},
                                   std::string_view delay = {});

// One "+CCFC:" line of a forwarding query:
//   +CCFC: 1,1,"+79161234567",145          (most modems)
//   +CCFC: 1, 1,"+79161234567",145         (the gateway's own modem)
//   +CCFC: 1,7,"+420800123456",129,"",128,0  (all classes, voice among them)
//   +CCFC: 0,7   /   +CCFC:0,7             (not active)
// Blanks around the numbers are allowed anywhere. A service counts as active
// for voice when the status is 1 and the class set holds voice (bit 1): class
// 1, 3, 5, 7, 255 ... Only then is the number taken; it must be a closed
// quoted text that still holds a number after ForwardingNumberFromNetwork
// (not "" nor a lone "+"), otherwise hasNumber stays false.
struct CcfcReply {
  bool isCcfc = false;  // the line begins "+CCFC:"
  int status = -1;      // 0 not active, 1 active; -1 unreadable
  int classes = -1;     // the class bit set; -1 when absent
  bool activeForVoice = false;
  bool hasNumber = false;
  std::string number;  // after ForwardingNumberFromNetwork
};
CcfcReply ParseCcfcLine(std::string_view line);

// The network reports numbers in international form; the gateway dials
// Russian numbers nationally: "+79161234567" -> "89161234567",
// "+420800123456" -> "420800123456", "89161234567" unchanged.
std::string ForwardingNumberFromNetwork(std::string_view quoted);

// One "+CUSD:" line: +CUSD: <m>[,"<text>"[,<dcs>]]
//   +CUSD: 0,"Balance: 123.45 RUB",15
//   +CUSD: 0,"04110430043B0430043D0441",72     (UCS2 hex)
//   +CUSD: 4                                   (request not supported)
//   +CUSD: 2                                   (ended by the network, no text)
//   +CUSD: 0,""                                (a phone's first, empty answer)
enum class CusdKind {
  NotCusd,         // the line does not begin "+CUSD:"
  Text,            // a non-empty text
  EmptyText,       // a quoted text with nothing in it
  NoText,          // m 0..3 without a quoted text
  NotSupported,    // m 4
  NetworkTimeout,  // m 5
};
struct CusdReply {
  CusdKind kind = CusdKind::NotCusd;
  int status = -1;     // <m>; -1 unreadable
  std::string text;    // between the first quote and the next one
  bool closed = true;  // false when the text's closing quote is missing
  int dcs = -1;        // -1 when absent
};
CusdReply ParseCusdLine(std::string_view line);

// Whether a USSD data coding scheme (CBS coding groups) marks UCS2: group
// 01xx (general data coding) with alphabet bits 3..2 = 10, e.g. 72 = 0x48,
// and 0x11, UCS2 preceded by a two-octet language indication. Group 1001
// (UCS2 behind a user data header) and group 1111 (7 or 8 bit only) are not.
bool IsUcs2Scheme(int dcs);

// The text of a USSD answer in cp866. A UCS2 answer that is valid hex (a
// multiple of four hex digits) is decoded: Cyrillic to cp866, characters that
// cp866 lacks as '?', control characters as blanks. Every other answer is
// returned as received.
//   DecodeUssdText("04110430043B0430043D0441", 72) -> "Баланс" in cp866
std::string DecodeUssdText(std::string_view text, int dcs);

// A network text made safe for the screen: control bytes (below 0x20) become
// blanks, so that a text cannot move the cursor.
std::string ScreenSafeText(std::string_view text);

// Splits a text into rows of at most width characters, breaking after the
// last blank of a row where there is one, and keeps at most maxRows rows
// (the rest is cut).
std::vector<std::string> WrapText(std::string_view text, int width, int maxRows);

// A final result that ends a command with a failure: "ERROR", "+CME ERROR: 132".
bool IsErrorAnswer(std::string_view line);

}  // namespace tv
