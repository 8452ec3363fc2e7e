// Modems that end their lines otherwise than with CR LF: CR alone (S4 set
// to 13), LF alone, CR CR LF. The tool connects to each and reads its book
// as it does from one that ends them with CR LF.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/gateway_session.h"

namespace tv::e2e {
namespace {

TEST(LineEndE2E, EveryLineEndConnectsAndReadsTheBook) {
  if (GwsimBinary().empty()) GTEST_SKIP() << "this build has no gwsim";
  const std::vector<std::vector<std::string>> gateways = {
      {"--line-end", "cr"},
      {"--line-end", "cr", "--echo"},
      {"--line-end", "lf"},
      {"--line-end", "crcrlf", "--urc", "20"},
  };
  for (const auto& args : gateways) {
    std::string name;
    for (const std::string& a : args) name += a + " ";
    SCOPED_TRACE(name);
    GatewaySession g;
    TerminalSession& t = g.Term();
    ASSERT_TRUE(g.StartGateway(args));
    ASSERT_TRUE(Connect(t));
    // Contacts 1 and 3 of the simulated gateway's sample settings.
    ASSERT_TRUE(Choose(t, kProgrammingMenu, 1, Utf8(u8"Записная книжка")));
    ASSERT_TRUE(ShowsField(t, 10, 4, "89161234501", 30));
    ASSERT_TRUE(ShowsField(t, 10, 6, "+79031112233", 30));
    ASSERT_TRUE(LeaveForm(t, kProgrammingMenu));
  }
}

}  // namespace
}  // namespace tv::e2e
