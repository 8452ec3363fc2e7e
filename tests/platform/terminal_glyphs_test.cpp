// The narrow glyphs of a terminal whose locale cannot show Cyrillic: one
// Latin letter per Cyrillic letter, so that the forms keep their columns.
#include <gtest/gtest.h>

#include <string>

#include "cp866/literal.h"
#include "platform/posix/terminal_glyphs.h"

namespace tv {
namespace {

TEST(TerminalGlyphs, CyrillicTransliteratedLetterForLetter) {
  struct Case {
    const char* cp866;
    const char* shown;
  };
  const Case cases[] = {
      {"Файл"_cp, "Fajl"},
      {"Ошибка 5: SIM"_cp, "Osibka 5: SIM"},
      {"АБВГДЕЖЗИЙКЛМНОП"_cp, "ABVGDEZZIJKLMNOP"},
      {"РСТУФХЦЧШЩЪЫЬЭЮЯ"_cp, "RSTUFHCCSS'Y'EUA"},
      {"абвгдежзийклмноп"_cp, "abvgdezzijklmnop"},
      {"рстуфхцчшщъыьэюя"_cp, "rstufhccss'y'eua"},
      {"Ёж ёж"_cp, "Ez ez"},
      {"1\u00A0000"_cp, "1 000"},  // a no-break space
      {"√ № Є"_cp, "? ? ?"},       // no stand-in
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    std::string shown;
    for (const char ch : std::string(c.cp866))
      shown += static_cast<char>(NarrowGlyph(static_cast<uint8_t>(ch)) & A_CHARTEXT);
    EXPECT_EQ(shown, c.shown);
  }
}

}  // namespace
}  // namespace tv
