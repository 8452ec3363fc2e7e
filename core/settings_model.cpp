// The settings by name: the table of every setting, reading each from the
// cells, the forms' checks on a new value, and the comparison of two images.
#include "core/settings_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cp866/literal.h"

namespace tv {

namespace {

constexpr const char* kUnknownMode = "Неизвестный режим"_cp;

constexpr ModeValue kOutgoingControl[] = {
    {'0', "none", "Контроля нет"_cp},
    {'1', "forbidden", "Запрещенные номера"_cp},
    {'2', "allowed", "Разрешенные номера"_cp},
    {'4', "routing", "Маршрутизация"_cp},
    {'5', "forbidden+routing", "Запрещенные номера и маршрутизация"_cp},
    {'6', "allowed+routing", "Разрешенные номера и маршрутизация"_cp},
};
constexpr ModeValue kIncomingControl[] = {
    {'0', "none", "Контроля нет"_cp},
    {'1', "black", "Черный список"_cp},
    {'2', "white", "Белый список"_cp},
    {'4', "callback", "Обратный вызов"_cp},
    {'5', "black+callback", "Черный список и обратный вызов"_cp},
    {'6', "white+callback", "Белый список и обратный вызов"_cp},
};
// Anything but '1' reads as allowed.
constexpr ModeValue kBarring[] = {
    {'0', "allowed", "Разрешена"_cp},
    {'1', "barred", "Запрещена"_cp},
};
// Anything but '1' and '2' reads as no message.
constexpr ModeValue kMessage[] = {
    {'0', "none", "Без сообщения"_cp},
    {'1', "before", "Сообщение перед подачей звонка"_cp},
    {'2', "after", "Сообщение после звонка и ответа"_cp},
};

bool HasFallback(int position) { return position != OutgoingControl && position != IncomingControl; }

const ModeValue* FindMode(int position, char c) {
  for (const ModeValue& v : ModeValues(position))
    if (v.c == c) return &v;
  return nullptr;
}

std::string Two(int n) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

// A text cut to at most `most` characters, a '~' where it was cut: in the
// middle (the beginning and the end of a number tell it apart) or at the end.
std::string Cut(const std::string& text, std::size_t most, bool middle) {
  if (text.size() <= most) return text;
  if (most == 0) return {};
  const std::size_t front = middle ? most / 2 : most - 1;
  return text.substr(0, front) + "~" + text.substr(text.size() - (most - 1 - front));
}

// "05" or "5" -> 5 within [low, high]; 0 otherwise.
int SmallNumber(std::string_view text, int low, int high) {
  if (text.empty() || text.size() > 2) return 0;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n >= low && n <= high ? n : 0;
}

std::vector<SettingSpec> BuildSettings() {
  std::vector<SettingSpec> all;
  const auto add = [&all](SettingSpec spec) { all.push_back(std::move(spec)); };
  const std::string book = "Записная книжка"_cp;
  for (int c = ContactFirst; c <= ContactLast; ++c) {
    const std::string key = "contacts." + std::to_string(c);
    const std::string label = "контакт "_cp + Two(c);
    add({key + ".number", book, label + ": номер"_cp, SettingKind::Number, c, 0, ContactNumberWidth, NumberCharacters});
    add({key + ".name", book, label + ": имя"_cp, SettingKind::Name, c, 0, ContactNameLongest, NameCharacters});
  }
  const auto list = [&add](const std::string& group, const std::string& key, const std::string& label, int first,
                           int last, int width) {
    for (int c = first; c <= last; ++c)
      add({key + "." + std::to_string(c - first + 1), group, label + " " + Two(c), SettingKind::Number, c, 0, width,
           NumberCharacters});
  };
  const std::string out = "Исходящая связь"_cp;
  list(out, "outgoing.forbidden", "запрещенный набор"_cp, ForbiddenFirst, ForbiddenLast, OutgoingListWidth);
  list(out, "outgoing.allowed", "разрешенный набор"_cp, AllowedFirst, AllowedLast, OutgoingListWidth);
  add({"outgoing.barring", out, "запрет"_cp, SettingKind::Mode, ModeCell, OutgoingBarring});
  add({"outgoing.control", out, "контроль"_cp, SettingKind::Mode, ModeCell, OutgoingControl});
  for (int r = 1; r <= RouteCount; ++r) {
    const std::string key = "routes." + std::to_string(r);
    const std::string group = "Маршрут "_cp + std::to_string(r);
    const int cell = RoutingFirst + r - 1;
    add({key + ".prefix", group, "набор"_cp, SettingKind::RoutePrefix, cell, 0, RoutePrefixLength, NumberCharacters});
    add({key + ".contact", group, "контакт"_cp, SettingKind::RouteContact, cell});
    add({key + ".platform", group, "номер платформы"_cp, SettingKind::RoutePlatform, cell, 0, 0, "0123456789#"});
    add({key + ".pause1", group, "пауза 1"_cp, SettingKind::RoutePause1, cell, 0, 1, "0123456789"});
    add({key + ".password", group, "пароль"_cp, SettingKind::RoutePassword, cell, 0, 0, "0123456789#", true});
    add({key + ".pause2", group, "пауза 2"_cp, SettingKind::RoutePause2, cell, 0, 1, "0123456789"});
  }
  const std::string in = "Входящая связь"_cp;
  list(in, "incoming.black", "черный список"_cp, BlackListFirst, BlackListLast, IncomingListWidth);
  list(in, "incoming.white", "белый список"_cp, WhiteListFirst, WhiteListLast, IncomingListWidth);
  list(in, "incoming.callback", "обратный вызов"_cp, CallBackFirst, CallBackLast, IncomingListWidth);
  add({"incoming.barring", in, "запрет"_cp, SettingKind::Mode, ModeCell, IncomingBarring});
  add({"incoming.control", in, "контроль"_cp, SettingKind::Mode, ModeCell, IncomingControl});
  add({"incoming.message", in, "сообщение"_cp, SettingKind::Mode, ModeCell, MessageMode});
  const std::string fwd = "Переадресация"_cp;
  add({"forwarding.number", fwd, "номер"_cp, SettingKind::Number, ForwardCell, 0, ForwardNumberWidth, NumberCharacters});
  add({"forwarding.delay", fwd, "задержка"_cp, SettingKind::Delay, ModeCell, ForwardDelay});
  add({"signature", "SIM-Карта"_cp, "подпись"_cp, SettingKind::Signature, ModeCell});
  return all;
}

// The number text of a route's contact split at its '*': number, pause,
// password, pause, each followed by '*'.
bool SplitPlatform(std::string_view text, Route& r) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '*') {
      parts.emplace_back(text.substr(from, i - from));
      from = i + 1;
    }
  if (parts.size() != 4 || from != text.size()) return false;
  r.number = parts[0];
  r.pause1 = parts[1];
  r.password = parts[2];
  r.pause2 = parts[3];
  return true;
}

std::string JoinPlatform(const Route& r) { return r.number + "*" + r.pause1 + "*" + r.password + "*" + r.pause2 + "*"; }

int RouteIndex(const SettingSpec& spec) { return spec.cell - RoutingFirst + 1; }

// What the typed characters may hold: "" when they fit, else why not.
std::string CheckText(const SettingSpec& spec, std::string_view value) {
  const int longest = spec.width > 0 ? spec.width : TextMax;
  char text[160];
  if (value.size() > static_cast<std::size_t>(longest)) {
    std::snprintf(text, sizeof text, "длиннее %d знаков"_cp, longest);
    return text;
  }
  if (spec.characters)
    for (char c : value)
      if (c == 0 || std::strchr(spec.characters, c) == nullptr) {
        std::snprintf(text, sizeof text, "знак '%c' не допускается (можно: %s)"_cp,
                      static_cast<unsigned char>(c) < 0x20 ? '?' : c, spec.characters);
        return text;
      }
  return {};
}

// The mode string is zero-ended: a position behind its end would stay
// outside the text and never reach the SIM. The positions before it are
// filled as the initialisation writes them.
void ReachModePosition(SimImage& image, int last) {
  for (int p = static_cast<int>(image.CellNumber(ModeCell).size()); p <= last; ++p)
    image.SetModeChar(p, DefaultModeString[p]);
}

}  // namespace

std::span<const ModeValue> ModeValues(int position) {
  switch (position) {
    case OutgoingControl: return kOutgoingControl;
    case IncomingControl: return kIncomingControl;
    case MessageMode: return kMessage;
    default: return kBarring;
  }
}

const char* ModeValueName(int position, char c) {
  if (const ModeValue* v = FindMode(position, c)) return v->text;
  return HasFallback(position) ? ModeValues(position)[0].text : kUnknownMode;
}

const std::vector<SettingSpec>& AllSettings() {
  static const std::vector<SettingSpec> all = BuildSettings();
  return all;
}

const SettingSpec* FindSetting(std::string_view key) {
  for (const SettingSpec& s : AllSettings())
    if (s.key == key) return &s;
  return nullptr;
}

Route ReadRoute(const SimImage& image, int route) {
  Route r;
  const std::string_view text = image.CellNumber(RoutingFirst + route - 1);
  if (text.size() != RoutePrefixLength + 3 || text[RoutePrefixLength] != '*') return r;
  const int contact = SmallNumber(text.substr(RoutePrefixLength + 1), ContactFirst, ContactLast);
  if (text[RoutePrefixLength + 1] < '0' || contact == 0) return r;
  r.set = true;
  r.contact = contact;
  r.prefix = std::string(text.substr(0, RoutePrefixLength));
  while (!r.prefix.empty() && r.prefix.back() == '*') r.prefix.pop_back();
  r.platform = SplitPlatform(image.CellNumber(contact), r);
  return r;
}

int RouteOfContact(const SimImage& image, int contact) {
  for (int r = 1; r <= RouteCount; ++r) {
    const Route route = ReadRoute(image, r);
    if (route.set && route.platform && route.contact == contact) return r;
  }
  return 0;
}

bool SettingShown(const SimImage& image, const SettingSpec& spec) {
  switch (spec.kind) {
    case SettingKind::Number: return spec.cell > ContactLast || RouteOfContact(image, spec.cell) == 0;
    case SettingKind::RoutePlatform:
    case SettingKind::RoutePause1:
    case SettingKind::RoutePassword:
    case SettingKind::RoutePause2: return ReadRoute(image, RouteIndex(spec)).platform;
    default: return true;
  }
}

std::string SettingValue(const SimImage& image, const SettingSpec& spec) {
  if (!SettingShown(image, spec)) return {};
  switch (spec.kind) {
    case SettingKind::Number: return std::string(image.CellNumber(spec.cell));
    case SettingKind::Name:
    case SettingKind::Signature: return std::string(image.CellName(spec.cell));
    case SettingKind::Mode: {
      const char c = image.ModeChar(spec.position);
      if (const ModeValue* v = FindMode(spec.position, c)) return v->token;
      if (HasFallback(spec.position)) return ModeValues(spec.position)[0].token;
      return c == 0 ? std::string("unknown") : "unknown(" + std::string(1, c) + ")";
    }
    case SettingKind::Delay: {
      const std::string_view mode = image.CellNumber(ModeCell);
      return mode.size() > ForwardDelay ? std::string(mode.substr(ForwardDelay, 2)) : std::string();
    }
    default: break;
  }
  const Route r = ReadRoute(image, RouteIndex(spec));
  switch (spec.kind) {
    case SettingKind::RoutePrefix: return r.prefix;
    case SettingKind::RouteContact: return r.set ? Two(r.contact) : std::string();
    case SettingKind::RoutePlatform: return r.number;
    case SettingKind::RoutePause1: return r.pause1;
    case SettingKind::RoutePassword: return r.password;
    case SettingKind::RoutePause2: return r.pause2;
    default: return {};
  }
}

std::string SettingWords(const SimImage& image, const SettingSpec& spec) {
  if (!SettingShown(image, spec)) {
    // A contact that carries a route's platform is that route's.
    if (spec.kind == SettingKind::Number && spec.cell <= ContactLast)
      return "(маршрут "_cp + std::to_string(RouteOfContact(image, spec.cell)) + ")";
    return "-";
  }
  const std::string value = SettingValue(image, spec);
  switch (spec.kind) {
    case SettingKind::Mode: return ModeValueName(spec.position, image.ModeChar(spec.position));
    case SettingKind::Delay:
      return SmallNumber(value, ForwardDelayMin, ForwardDelayMax) ? value + " с"_cp : value + " (неверно)"_cp;
    case SettingKind::RoutePrefix:
    case SettingKind::RouteContact:
      if (!ReadRoute(image, RouteIndex(spec)).set) return "не задан"_cp;
      break;
    default: break;
  }
  return value.empty() ? "(пусто)"_cp : value;
}

std::string ApplySetting(SimImage& image, const SettingSpec& spec, std::string_view value) {
  switch (spec.kind) {
    case SettingKind::Signature: return "подпись пишет только инициализация SIM-Карты"_cp;
    case SettingKind::Number:
    case SettingKind::Name: {
      if (std::string why = CheckText(spec, value); !why.empty()) return why;
      if (spec.kind == SettingKind::Number)
        image.SetCellNumber(spec.cell, value);
      else
        image.SetCellName(spec.cell, value);
      return {};
    }
    case SettingKind::Mode: {
      const ModeValue* chosen = nullptr;
      for (const ModeValue& v : ModeValues(spec.position))
        if (value == v.token || (value.size() == 1 && value[0] == v.c)) chosen = &v;
      if (!chosen) {
        std::string allowed;
        for (const ModeValue& v : ModeValues(spec.position)) allowed += (allowed.empty() ? "" : ", ") + std::string(v.token);
        return "нет такого значения (можно: "_cp + allowed + ")";
      }
      ReachModePosition(image, spec.position - 1);
      image.SetModeChar(spec.position, chosen->c);
      return {};
    }
    case SettingKind::Delay: {
      const int seconds = SmallNumber(value, ForwardDelayMin, ForwardDelayMax);
      if (seconds == 0) return ForwardDelayRange;
      const std::string two = Two(seconds);
      ReachModePosition(image, ForwardDelay - 1);
      image.SetModeChar(ForwardDelay, two[0]);
      image.SetModeChar(ForwardDelay + 1, two[1]);
      return {};
    }
    default: break;
  }
  const int route = RouteIndex(spec);
  Route r = ReadRoute(image, route);
  const int cell = spec.cell;
  if (spec.kind == SettingKind::RouteContact) {
    const int contact = SmallNumber(value, ContactFirst, ContactLast);
    if (contact == 0) return "нужен номер контакта 01..39"_cp;
    std::string prefix = r.set ? r.prefix : std::string();
    prefix.resize(RoutePrefixLength, '*');
    image.SetCellNumber(cell, prefix + "*" + Two(contact));
    return {};
  }
  char text[128];
  if (!r.set) {
    std::snprintf(text, sizeof text, "маршрут %d не задан: сначала routes.%d.contact"_cp, route, route);
    return text;
  }
  if (std::string why = CheckText(spec, value); !why.empty()) return why;
  if (spec.kind == SettingKind::RoutePrefix) {
    std::string prefix(value);
    prefix.resize(RoutePrefixLength, '*');
    image.SetCellNumber(cell, prefix + "*" + Two(r.contact));
    return {};
  }
  if (!r.platform) r.number = r.pause1 = r.password = r.pause2 = "";
  switch (spec.kind) {
    case SettingKind::RoutePlatform: r.number = value; break;
    case SettingKind::RoutePause1: r.pause1 = value; break;
    case SettingKind::RoutePassword: r.password = value; break;
    default: r.pause2 = value; break;
  }
  const std::string joined = JoinPlatform(r);
  if (joined.size() > static_cast<std::size_t>(TextMax)) {
    std::snprintf(text, sizeof text, "данные платформы длиннее %d знаков"_cp, TextMax);
    return text;
  }
  image.SetCellNumber(r.contact, joined);
  return {};
}

std::vector<SettingChange> CompareSettings(const SimImage& before, const SimImage& after) {
  std::vector<SettingChange> changes;
  for (const SettingSpec& spec : AllSettings()) {
    const bool shownBefore = SettingShown(before, spec), shownAfter = SettingShown(after, spec);
    if (!shownBefore && !shownAfter) continue;
    std::string a = SettingValue(before, spec), b = SettingValue(after, spec);
    if (shownBefore == shownAfter && a == b) continue;
    changes.push_back({&spec, std::move(a), std::move(b), SettingWords(before, spec), SettingWords(after, spec)});
  }
  return changes;
}

std::string DescribeChange(const SettingChange& change, int width) {
  const SettingSpec& spec = *change.spec;
  const std::string head = spec.group + ": " + spec.label;
  const std::size_t most = width > 0 ? static_cast<std::size_t>(width) : std::string::npos;
  if (spec.secret) return Cut(head + " изменён"_cp, most, false);
  const bool words = spec.kind == SettingKind::Mode || spec.kind == SettingKind::Delay;
  const std::string named = head + (spec.kind == SettingKind::Mode ? ": " : " ");
  const std::string arrow = " -> ";
  const std::string& before = change.wordsBefore;
  const std::string& after = change.wordsAfter;
  if (named.size() + before.size() + arrow.size() + after.size() <= most) return named + before + arrow + after;
  if (named.size() + arrow.size() + 4 > most) return Cut(named + before + arrow + after, most, false);
  // Each value has half the room; one that needs less leaves the rest to the other.
  const std::size_t room = most - named.size() - arrow.size();
  std::size_t roomBefore = std::min(before.size(), room / 2);
  const std::size_t roomAfter = std::min(after.size(), room - roomBefore);
  roomBefore = std::min(before.size(), room - roomAfter);
  return named + Cut(before, roomBefore, !words) + arrow + Cut(after, roomAfter, !words);
}

std::vector<std::string> SummariseChanges(const std::vector<SettingChange>& changes, int lines, int width) {
  std::vector<std::string> out;
  const std::size_t room = lines < 1 ? 0 : static_cast<std::size_t>(lines);
  const std::size_t shown = changes.size() <= room ? changes.size() : room - 1;
  for (std::size_t i = 0; i < shown; ++i) out.push_back(DescribeChange(changes[i], width));
  if (shown < changes.size()) out.push_back("и ещё "_cp + std::to_string(changes.size() - shown));
  return out;
}

std::string SettingsOfCell(const SimImage& image, int cell) {
  if (cell == ModeCell) return "режимы, задержка переадресации, подпись"_cp;
  if (cell >= ContactFirst && cell <= ContactLast)
    if (const int route = RouteOfContact(image, cell); route != 0)
      return "Маршрут "_cp + std::to_string(route) + ": данные платформы"_cp;
  for (const SettingSpec& spec : AllSettings())
    if (spec.cell == cell && spec.kind != SettingKind::Name && spec.kind != SettingKind::Mode &&
        spec.kind != SettingKind::Delay && spec.kind != SettingKind::Signature) {
      if (spec.kind == SettingKind::RoutePrefix) return spec.group;
      if (cell <= ContactLast) return spec.group + ": " + "контакт "_cp + Two(cell);
      return spec.group + ": " + spec.label;
    }
  return {};
}

}  // namespace tv
