// The settings by name: every setting read from its cells and written back,
// the forms' refusals, routes taken apart, and the comparison in words.
// check_texts: UTF-8 expectations (the messages as Utf8FromCp866 and the JSON give them).
#include "core/settings_model.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/cp866_text.h"

namespace tv {
namespace {

// The SIM as the initialisation leaves it.
SimImage Initialised() {
  SimImage image;
  for (int c = 1; c <= 99; ++c) {
    const std::string two{static_cast<char>('0' + c / 10), static_cast<char>('0' + c % 10)};
    image.SetCellNumber(c, "0");
    image.SetCellName(c, two);
  }
  image.SetCellNumber(ModeCell, DefaultModeString);
  image.SetCellName(ModeCell, SimSignature);
  return image;
}

// Route 3 (cell 62) dialled by 8495, its platform in contact 05.
SimImage WithRoute() {
  SimImage image = Initialised();
  image.SetCellNumber(62, "8495**05");
  image.SetCellNumber(5, "84951234567*1*1234*2*");
  return image;
}

// A value each kind of setting takes, other than what WithRoute holds.
std::string SampleValue(const SettingSpec& spec) {
  switch (spec.kind) {
    case SettingKind::Number: return std::string(static_cast<std::size_t>(spec.width), '7');
    case SettingKind::Name: return "IVAN,PETROV.JR";
    case SettingKind::Mode: return ModeValues(spec.position).back().token;
    case SettingKind::Delay: return "25";
    case SettingKind::RoutePrefix: return "*#1";
    case SettingKind::RouteContact: return "07";
    case SettingKind::RoutePlatform: return "4951112233";
    case SettingKind::RoutePause1:
    case SettingKind::RoutePause2: return "9";
    case SettingKind::RoutePassword: return "0000";
    case SettingKind::Signature: return "";
  }
  return {};
}

TEST(SettingsModel, EverySettingIsReadFromItsCellsAndWrittenBack) {
  std::set<std::string> keys;
  for (const SettingSpec& spec : AllSettings()) {
    SCOPED_TRACE(spec.key);
    EXPECT_TRUE(keys.insert(spec.key).second) << "a key named twice";
    EXPECT_EQ(FindSetting(spec.key), &spec);
    if (spec.kind == SettingKind::Signature) continue;
    // The route parts apply to route 3; the others as they stand.
    const bool routePart = spec.kind >= SettingKind::RoutePrefix && spec.kind <= SettingKind::RoutePause2;
    if (routePart && spec.cell != 62) continue;
    const SimImage before = WithRoute();
    // Contact 05 carries route 3: its number is the route's parts.
    if (!SettingShown(before, spec)) continue;
    SimImage after = before;
    const std::string value = SampleValue(spec);
    ASSERT_EQ(ApplySetting(after, spec, value), "");
    EXPECT_EQ(SettingValue(after, spec), value);
    // Exactly this setting changed (a route moved to another contact also
    // changes what that contact shows).
    const std::vector<SettingChange> changes = CompareSettings(before, after);
    if (spec.kind == SettingKind::RouteContact) {
      // Contact 05 is a contact again, 07 now carries nothing of the route.
      ASSERT_EQ(changes.size(), 6u);
      EXPECT_EQ(changes[0].spec->key, "contacts.5.number");
      EXPECT_EQ(changes[1].spec, &spec);
    } else {
      ASSERT_EQ(changes.size(), 1u);
      EXPECT_EQ(changes.front().spec, &spec);
    }
    // And back again: nothing differs.
    ASSERT_EQ(ApplySetting(after, spec, SettingValue(before, spec)), "");
    if (spec.kind != SettingKind::RouteContact) {
      EXPECT_TRUE(CompareSettings(before, after).empty());
    }
  }
  EXPECT_EQ(keys.size(), 39u * 2 + 20 + 2 + 10 * 6 + 28 + 3 + 2 + 1);
}

TEST(SettingsModel, ValuesThatDoNotFitAreRefusedAndChangeNothing) {
  struct Case {
    const char* key;
    const char* value;
    const char* why;  // the start of the reason
  };
  const Case cases[] = {
      {"contacts.1.number", "1234567890123456789012345678901", "длиннее 30 знаков"},
      {"contacts.1.number", "+7916", "знак '+' не допускается"},
      {"contacts.1.name", "ivan", "знак 'i' не допускается"},
      {"contacts.1.name", "ABCDEFGHIJKLMNOPQ", "длиннее 16 знаков"},
      {"outgoing.forbidden.1", "123456789", "длиннее 8 знаков"},
      {"incoming.black.10", "12345678901234567", "длиннее 16 знаков"},
      {"forwarding.number", "123456789012345678901234567890123", "длиннее 32 знаков"},
      {"forwarding.delay", "0", "допустимо от 01 до 30"},
      {"forwarding.delay", "31", "допустимо от 01 до 30"},
      {"forwarding.delay", "1a", "допустимо от 01 до 30"},
      {"outgoing.control", "black", "нет такого значения"},
      {"outgoing.control", "3", "нет такого значения"},
      {"incoming.message", "after-call", "нет такого значения"},
      {"routes.1.prefix", "8495", "маршрут 1 не задан"},
      {"routes.1.password", "1", "маршрут 1 не задан"},
      {"routes.3.contact", "40", "нужен номер контакта 01..39"},
      {"routes.3.contact", "00", "нужен номер контакта 01..39"},
      {"routes.3.prefix", "849512", "длиннее 5 знаков"},
      {"routes.3.pause1", "12", "длиннее 1 знаков"},
      {"routes.3.password", "12*4", "знак '*' не допускается"},
      {"routes.3.platform", "1111111111111111111111111111111111111111", "данные платформы длиннее 47 знаков"},
      {"signature", "98.GSM.TRV", "подпись пишет только инициализация"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    const SettingSpec* spec = FindSetting(c.key);
    ASSERT_NE(spec, nullptr);
    SimImage image = WithRoute();
    const std::string why = ApplySetting(image, *spec, c.value);
    EXPECT_EQ(Utf8FromCp866(why).rfind(c.why, 0), 0u) << Utf8FromCp866(why);
    EXPECT_TRUE(CompareSettings(WithRoute(), image).empty());
  }
}

// The words of a change, as the diff and the File to SIM question say them;
// a password never shows, and a cell is named by what it carries.
TEST(SettingsModel, ChangesInWords) {
  SimImage before = WithRoute();
  ASSERT_EQ(ApplySetting(before, *FindSetting("forwarding.number"), "89161234567"), "");
  SimImage after = before;
  for (const auto& [key, value] : {std::pair{"forwarding.number", "84957654321"}, {"incoming.barring", "barred"},
                                   {"routes.3.password", "9999"}})
    ASSERT_EQ(ApplySetting(after, *FindSetting(key), value), "") << key;
  std::vector<std::string> said;
  for (const SettingChange& c : CompareSettings(before, after)) said.push_back(Utf8FromCp866(DescribeChange(c)));
  EXPECT_EQ(said, (std::vector<std::string>{"Маршрут 3: пароль изменён", "Входящая связь: запрет: Разрешена -> Запрещена",
                                            "Переадресация: номер 89161234567 -> 84957654321"}));
  const std::vector<std::string> two = SummariseChanges(CompareSettings(before, after), 2);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(Utf8FromCp866(two[1]), "и ещё 2");
  EXPECT_EQ(SummariseChanges(CompareSettings(before, after), 3).size(), 3u);
  EXPECT_EQ(Utf8FromCp866(SummariseChanges(CompareSettings(before, after), 3)[2]), said[2]);
  EXPECT_EQ(Utf8FromCp866(SettingsOfCell(after, 5)), "Маршрут 3: данные платформы");
  EXPECT_EQ(Utf8FromCp866(SettingsOfCell(after, 41)), "Исходящая связь: запрещенный набор 41");
  EXPECT_EQ(Utf8FromCp866(SettingsOfCell(after, 6)), "Записная книжка: контакт 06");
  EXPECT_EQ(SettingValue(after, *FindSetting("routes.3.prefix")), "8495");
  EXPECT_EQ(SettingValue(after, *FindSetting("contacts.5.number")), "");
}

// A mode string shorter than the position (a file without cell 98, a SIM
// cut short) is filled as the initialisation writes it, so that the value
// set is part of the text that reaches the SIM.
TEST(SettingsModel, AShortModeStringIsFilledUpToTheSetting) {
  SimImage image;
  ASSERT_EQ(ApplySetting(image, *FindSetting("incoming.barring"), "1"), "");
  EXPECT_EQ(image.CellNumber(ModeCell), "001");
  ASSERT_EQ(ApplySetting(image, *FindSetting("forwarding.delay"), "7"), "");
  EXPECT_EQ(image.CellNumber(ModeCell), "001007");
  EXPECT_EQ(SettingValue(image, *FindSetting("outgoing.control")), "none");
  EXPECT_EQ(SettingValue(image, *FindSetting("incoming.message")), "none");
  image.SetModeChar(OutgoingControl, '3');
  EXPECT_EQ(SettingValue(image, *FindSetting("outgoing.control")), "unknown(3)");
}


// A change said within a row of the screen: the setting's name whole, the
// values sharing the rest, a number cut in its middle, words at their end.
TEST(SettingsModel, AChangeFitsTheWidthItIsGiven) {
  const SimImage before = WithRoute();
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, const char*>> settings;
    int width;
    const char* said;
  } cases[] = {
      {"fits whole", {{"forwarding.number", "84957654321"}}, 47, "Переадресация: номер 0 -> 84957654321"},
      {"a long number keeps its ends",
       {{"contacts.6.number", "123456789012345678901234567890"}},
       57,
       "Записная книжка: контакт 06: номер 0 -> 12345678~34567890"},
      {"mode words keep their beginning",
       {{"outgoing.control", "forbidden+routing"}},
       57,
       "Исходящая связь: контроль: Контроля нет -> Запрещенные н~"},
      {"the password stays unsaid", {{"routes.3.password", "9"}}, 57, "Маршрут 3: пароль изменён"},
      {"too narrow for the values", {{"forwarding.number", "84957654321"}}, 20, "Переадресация: номе~"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimImage after = before;
    for (const auto& [key, value] : c.settings) ASSERT_EQ(ApplySetting(after, *FindSetting(key), value), "");
    const std::vector<SettingChange> changes = CompareSettings(before, after);
    ASSERT_EQ(changes.size(), 1u);
    const std::string said = DescribeChange(changes[0], c.width);
    EXPECT_EQ(Utf8FromCp866(said), c.said);
    EXPECT_LE(said.size(), static_cast<std::size_t>(c.width));
    EXPECT_EQ(Utf8FromCp866(SummariseChanges(changes, 1, c.width)[0]), c.said);
  }
}

}  // namespace
}  // namespace tv
