// Texts for the command line and the pager: cp866 into the encoding of the
// user's locale, whatever locale the process itself runs in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "cp866/literal.h"
#include "platform/host.h"

namespace tv {
namespace {

TEST(ToLocaleText, FollowsTheLocaleOfTheEnvironment) {
  struct Case {
    const char* lcAll;
    std::string expected;
  } cases[] = {
      {"C.UTF-8", "\xD0\x9E\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0 5: \xE2\x95\x91"},  // UTF-8
      // ASCII: transliterated where iconv can, else marked; the rest stays.
      {"C", "Oshibka 5: ?"},
      {"no_SUCH.locale", "Oshibka 5: ?"},
  };
  const char* old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lcAll);
    setenv("LC_ALL", c.lcAll, 1);
    EXPECT_EQ(ToLocaleText(std::string("Ошибка"_cp) + " 5: \xBA"), c.expected);  // 0xBA: the double bar
  }
  if (old)
    setenv("LC_ALL", saved.c_str(), 1);
  else
    unsetenv("LC_ALL");
}

}  // namespace
}  // namespace tv
