// The configuration in words for show, diff and set: the settings grouped as
// the menus group them, the changes setting by setting, and their JSON
// documents, whose keys nest by the settings' dotted keys
// ("forwarding.number" -> {"forwarding": {"number": ...}}).
#pragma once

#include <string>
#include <vector>

#include "app/command_common.h"
#include "core/settings_model.h"

namespace tv::cli {

// What a secret (a route's password) shows unless --secrets.
inline constexpr const char* kMasked = "***";

// show: the settings in the forms' words on standard output, a group's name
// and then a line for each setting that applies; with json one document.
void WriteSettings(const Source& source, bool json, bool secrets);

// diff and set: a change a line, in words, on standard output.
void WriteChanges(const std::vector<SettingChange>& changes, bool secrets);

// The documents of diff --json and set --json.
void WriteDiffDocument(const Source& a, const Source& b, const std::vector<SettingChange>& changes, bool secrets,
                       int status);
void WriteSetDocument(const std::string& file, const SimImage& before, const SimImage& after,
                      const std::vector<SettingChange>& changes, bool dryRun, bool written, int status);

}  // namespace tv::cli
