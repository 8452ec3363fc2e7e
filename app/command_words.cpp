// show's text and document, and the changes of diff and set in words and as
// JSON (nlohmann-json).
#include "app/command_words.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "app/command_report.h"
#include "core/cp866_text.h"
#include "platform/host.h"

namespace tv::cli {

namespace {

using Json = nlohmann::ordered_json;

void PutDocument(const Json& document) {
  std::fputs((document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n").c_str(), stdout);
  Run().documented = true;
}

// The place of a dotted key in a document: "routes.3.password" is
// document["routes"]["3"]["password"], the objects made as needed.
Json& Place(Json& document, const std::string& key) {
  Json* at = &document;
  std::size_t from = 0;
  for (std::size_t dot = key.find('.'); dot != std::string::npos; dot = key.find('.', from)) {
    at = &(*at)[key.substr(from, dot - from)];
    from = dot + 1;
  }
  return (*at)[key.substr(from)];
}

// A setting's value in a document: null where it does not apply (the
// platform of a route that is not set), a secret masked.
Json ValueOf(const SimImage& image, const SettingSpec& spec, bool secrets) {
  if (!SettingShown(image, spec)) return nullptr;
  if (spec.secret && !secrets) return kMasked;
  return Utf8FromCp866(SettingValue(image, spec));
}

// A change in words; with --secrets a password's values too.
std::string Words(const SettingChange& change, bool secrets) {
  if (!change.spec->secret || !secrets) return DescribeChange(change);
  SettingSpec shown = *change.spec;
  shown.secret = false;
  SettingChange open = change;
  open.spec = &shown;
  return DescribeChange(open);
}

Json ChangesOf(const SimImage& before, const SimImage& after, const std::vector<SettingChange>& changes,
               bool secrets) {
  Json list = Json::array();
  for (const SettingChange& c : changes)
    list.push_back({{"key", c.spec->key},
                    {"setting", Utf8FromCp866(c.spec->group + ": " + c.spec->label)},
                    {"old", ValueOf(before, *c.spec, secrets)},
                    {"new", ValueOf(after, *c.spec, secrets)},
                    {"text", Utf8FromCp866(Words(c, secrets))}});
  return list;
}

// Where a configuration came from: the argument, the gateway read (null
// for a file) and what its connection said.
Json SourceOf(const Source& source) {
  return {{"source", source.given},
          {"gateway", source.gateway.empty() ? Json(nullptr) : Json(source.gateway)},
          {"notices", source.notices}};
}

}  // namespace

void WriteSettings(const Source& source, bool json, bool secrets) {
  if (json) {
    Json document = SourceOf(source);
    for (const SettingSpec& spec : AllSettings())
      if (SettingShown(source.image, spec)) Place(document, spec.key) = ValueOf(source.image, spec, secrets);
    PutDocument(document);
    return;
  }
  // The values in one column after the longest label.
  std::size_t width = 0;
  for (const SettingSpec& spec : AllSettings()) width = std::max(width, spec.label.size());
  std::string text;
  const std::string* group = nullptr;
  for (const SettingSpec& spec : AllSettings()) {
    if (!SettingShown(source.image, spec)) continue;
    if (!group || *group != spec.group) {
      group = &spec.group;
      text += spec.group + "\n";
    }
    const std::string words = spec.secret && !secrets ? kMasked : Harmless(SettingWords(source.image, spec));
    text += "  " + spec.label + std::string(width + 2 - spec.label.size(), ' ') + words + "\n";
  }
  std::fputs(ToLocaleText(text).c_str(), stdout);
}

void WriteChanges(const std::vector<SettingChange>& changes, bool secrets) {
  std::string text;
  for (const SettingChange& c : changes) text += Harmless(Words(c, secrets)) + "\n";
  std::fputs(ToLocaleText(text).c_str(), stdout);
}

void WriteDiffDocument(const Source& a, const Source& b, const std::vector<SettingChange>& changes, bool secrets,
                       int status) {
  PutDocument({{"a", SourceOf(a)},
               {"b", SourceOf(b)},
               {"changes", ChangesOf(a.image, b.image, changes, secrets)},
               {"summary", {{"status", status}, {"changed", changes.size()}}}});
}

void WriteSetDocument(const std::string& file, const SimImage& before, const SimImage& after,
                      const std::vector<SettingChange>& changes, bool dryRun, bool written, int status) {
  PutDocument({{"file", file},
               {"dry_run", dryRun},
               {"written", written},
               {"changes", ChangesOf(before, after, changes, false)},
               {"summary", {{"status", status}, {"changed", changes.size()}}}});
}

}  // namespace tv::cli
