// Reply lines of the network services -> "+CCFC:" and "+CUSD:" parsing, the
// USSD text decoding and its way to the screen (made safe, wrapped), as the
// forwarding form and the balance query use them. The first three bytes
// choose the wrap width and rows and a data coding scheme; the rest is the
// line. Each line is parsed as given and behind both prefixes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/network_replies.h"

namespace {

using namespace tv;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool NoControlBytes(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

void CheckCcfc(std::string_view line) {
  const CcfcReply r = ParseCcfcLine(line);
  Check(r.isCcfc == StartsWith(line, "+CCFC:"));
  Check(r.status >= -1 && r.status <= 999999 && r.classes >= -1 && r.classes <= 999999);
  Check(!r.activeForVoice || (r.status == 1 && r.classes > 0 && (r.classes & 1) != 0));
  Check(!r.hasNumber || (r.activeForVoice && !r.number.empty()));
  Check(r.hasNumber || r.number.empty());
  Check(r.number.size() <= line.size() && r.number.find('"') == std::string::npos);
  if (r.hasNumber) {
    const std::string command =
        BuildForwardingCommand(ForwardNoReply, ForwardingMode::SwitchOn, r.number, "20");
    Check(StartsWith(command, "AT+CCFC=2,3,\"") && command.back() == '\r');
  }
}

void CheckCusd(std::string_view line, int dcsChoice, int width, int rows) {
  const CusdReply r = ParseCusdLine(line);
  Check((r.kind == CusdKind::NotCusd) == !StartsWith(line, "+CUSD:"));
  if (r.kind == CusdKind::NotCusd) return;
  Check(r.status >= -1 && r.status <= 999999 && r.dcs >= -1 && r.dcs <= 999999);
  Check(r.text.size() <= line.size() && r.text.find('"') == std::string::npos);
  Check(r.kind != CusdKind::EmptyText || (r.text.empty() && r.closed));
  Check(r.kind != CusdKind::NotSupported || r.status == 4);
  Check(r.kind != CusdKind::NetworkTimeout || r.status == 5);
  Check(r.closed || line.substr(line.size() - r.text.size()) == r.text);

  for (const int dcs : {r.dcs, dcsChoice}) {
    const std::string decoded = DecodeUssdText(r.text, dcs);
    if (decoded != r.text) {
      // Decoded from UCS2: one character per four hex digits, no control bytes.
      Check(IsUcs2Scheme(dcs));
      const std::size_t hex = r.text.size() - (dcs == 0x11 ? 4 : 0);
      Check(hex % 4 == 0 && decoded.size() == hex / 4 && NoControlBytes(decoded));
    }
    const std::string safe = ScreenSafeText(decoded);
    Check(safe.size() == decoded.size() && NoControlBytes(safe));

    const std::vector<std::string> wrapped = WrapText(safe, width, rows);
    Check(static_cast<int>(wrapped.size()) <= rows);
    std::string joined;
    for (const std::string& row : wrapped) {
      Check(!row.empty() && static_cast<int>(row.size()) <= width);
      joined += row;
    }
    Check(StartsWith(safe, joined));
    Check(static_cast<int>(wrapped.size()) == rows || joined == safe);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int width = 1 + data[0] % 80;
  const int rows = data[1] % 25;
  const int dcs = data[2] == 0xFF ? -1 : data[2];
  const std::string_view line(reinterpret_cast<const char*>(data) + 3, size - 3);

  (void)IsErrorAnswer(line);
  for (const std::string& l :
       {std::string(line), "+CCFC:" + std::string(line), "+CUSD:" + std::string(line)}) {
    CheckCcfc(l);
    CheckCusd(l, dcs, width, rows);
  }
  return 0;
}
