// The gateway's configuration by name: every setting the forms show, where
// it lives in the 99 cells, how wide it is, which characters and values it
// takes, and its words on the screen. The forms draw their limits and texts
// from here; the scripted commands show, compare and change a configuration
// through it.
//
//   forwarding.number      cell 99's number text         "89161234567"
//   forwarding.delay       mode string positions 4-5     "10"  (01..30 s)
//   incoming.barring       mode string position 2        "allowed" | "barred"
//   routes.3.prefix        cell 62, positions 0-4        "8495"  (filled with '*')
//   routes.3.contact       cell 62, positions 6-7        "05"
//   routes.3.password      the third part of cell 05     "1234"  ("***" unless asked)
//
// A route's cell reads "8495**05": five dialled characters (the ones the
// prefix does not fill are '*'), '*', the contact cell 01..39; that contact's
// number text then carries the platform: "84951234567*1*1234*2*" (number,
// pause, password, pause, each followed by '*'). Such a contact is shown as
// its route's data, never as a raw number, so that the password is masked
// wherever it stands.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/sim_image.h"
#include "cp866/literal.h"

namespace tv {

// What the forms let the operator type into the texts.
inline constexpr const char* NumberCharacters = "0123456789*#";
inline constexpr const char* NameCharacters = "0123456789*#QWERTYUIOPASDFGHJKLZXCVBNM,.";
// Field widths: contacts (phonebook), the outgoing lists, the incoming
// lists, the forwarding number; the longest contact name.
inline constexpr int ContactNumberWidth = 30;
inline constexpr int OutgoingListWidth = 8;
inline constexpr int IncomingListWidth = 16;
inline constexpr int ForwardNumberWidth = 32;
inline constexpr int ContactNameLongest = 16;
// The no-reply forwarding delay, in seconds, and what is said of a value off it.
inline constexpr int ForwardDelayMin = 1, ForwardDelayMax = 30;
inline constexpr const char* ForwardDelayRange = "допустимо от 01 до 30"_cp;
// A route's parts.
inline constexpr int RoutePrefixLength = 5;
inline constexpr int RouteCount = RoutingLast - RoutingFirst + 1;

// One value of a mode position: its character, its stable name and its
// display text (cp866, unpadded).
struct ModeValue {
  char c;
  const char* token;
  const char* text;
};
// The values a mode position takes (OutgoingControl, IncomingControl, the
// barrings, MessageMode); the first is the one a character off the list
// reads as where the position has such a fallback (barrings, message).
std::span<const ModeValue> ModeValues(int position);
// The display text of a character at a position: "Неизвестный режим" for a
// control character off the list; the fallback's for the others.
const char* ModeValueName(int position, char c);

enum class SettingKind {
  Number,         // a cell's number text (contacts, lists, forwarding number)
  Name,           // a contact's name text
  Mode,           // one position of the mode string
  Delay,          // mode positions 4-5
  RoutePrefix,    // a routing cell's dialled characters
  RouteContact,   // a routing cell's contact index
  RoutePlatform,  // the parts of the route's contact's number text
  RoutePause1,
  RoutePassword,
  RoutePause2,
  Signature,      // cell 98's name: set by the initialisation only
};

struct SettingSpec {
  std::string key;    // "contacts.7.number"
  std::string group;  // cp866, as the menus name it: Исходящая связь
  std::string label;  // cp866, within the group: запрещенный набор 41
  SettingKind kind;
  int cell = 0;      // the cell (a route's: its routing cell)
  int position = 0;  // Mode: the position
  int width = 0;     // longest text; 0: any up to a cell's 47 characters
  const char* characters = nullptr;  // what may be typed; nullptr: any
  bool secret = false;
};

// Every setting, grouped and ordered as the menus show them: contacts,
// outgoing, routes, incoming, forwarding, the signature.
const std::vector<SettingSpec>& AllSettings();
const SettingSpec* FindSetting(std::string_view key);

// A route as its cells hold it.
struct Route {
  bool set = false;       // the routing cell has the form "PPPPP*CC"
  std::string prefix;     // without the '*' fill
  int contact = 0;        // 1..39
  bool platform = false;  // the contact's number text has the platform form
  std::string number, pause1, password, pause2;
};
Route ReadRoute(const SimImage& image, int route);  // route 1..10
// The route whose platform data a contact cell carries; 0 when none.
int RouteOfContact(const SimImage& image, int contact);

// A setting's value as the scripted commands show it (cp866 bytes as the
// cell holds them; a mode by its token, "unknown(3)" for a character off the
// list; "" for a route part that is not there).
std::string SettingValue(const SimImage& image, const SettingSpec& spec);
// Whether a setting applies to the image: a contact that carries a route's
// data is that route's; a route that is not set has no platform parts.
bool SettingShown(const SimImage& image, const SettingSpec& spec);
// The value in the forms' words (cp866): a mode's display text, a delay with
// its unit, "(пусто)" for an empty text.
std::string SettingWords(const SimImage& image, const SettingSpec& spec);

// Changes one setting in the image with the forms' checks; "" when done,
// else why not (cp866). A mode takes its token or its character.
std::string ApplySetting(SimImage& image, const SettingSpec& spec, std::string_view value);

// Settings that differ between two images, in AllSettings order. A secret
// value stays in the change; DescribeChange leaves it out.
struct SettingChange {
  const SettingSpec* spec;
  std::string before, after;           // SettingValue
  std::string wordsBefore, wordsAfter;  // SettingWords
};
std::vector<SettingChange> CompareSettings(const SimImage& before, const SimImage& after);
// "Переадресация: номер 89161234567 -> 84957654321"; a secret: "Маршрут 3:
// пароль изменён" (cp866). Given a width, a longer line keeps the setting's
// name whole and shares the rest between the two values, each cut where a
// '~' stands: a number or a name keeps its beginning and its end
// ("8916~4567"), a mode's words their beginning ("Запрещенные ном~").
std::string DescribeChange(const SettingChange& change, int width = 0);
// The first changes in words, at most `lines` lines (each at most width
// characters, when given): when there are more, the last line says how many
// are left ("и ещё 12").
std::vector<std::string> SummariseChanges(const std::vector<SettingChange>& changes, int lines, int width = 0);
// The settings a cell's texts carry, by label with their group ("Исходящая
// связь: запрещенный набор 41"), for naming a differing cell (cp866).
std::string SettingsOfCell(const SimImage& image, int cell);

}  // namespace tv
