// show, diff and set: a configuration by name, from a settings file or a
// gateway's SIM, shown, compared and changed setting by setting
// (core/settings_model.h).
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_common.h"
#include "app/command_line.h"
#include "app/command_report.h"
#include "app/command_words.h"
#include "core/cp866_text.h"
#include "core/settings_file.h"
#include "core/settings_model.h"
#include "platform/file_access.h"
#include "platform/host.h"

namespace tv::cli {

namespace {

constexpr const char* kNoSuchSetting = "нет такой настройки (ключи - как в show --json)"_cp;
constexpr const char* kNotAssignment = "' - нужно КЛЮЧ=ЗНАЧЕНИЕ"_cp;
constexpr const char* kSettingsDiffer = "Настроек с отличиями: "_cp;
constexpr const char* kKeptOld = "Прежний файл не изменен"_cp;

// A setting refused: said, and the summary's reason names the setting too.
int Refuse(const std::string& what, const std::string& cp866Why) {
  Say(Harmless(what), cp866Why);
  Run().reason = Utf8FromArgument(Harmless(what)) + ": " + Utf8FromCp866(cp866Why);
  return exitcode::Usage;
}

}  // namespace

int Show(GatewaySession& session, const std::string& source, const CommandOptions& options) {
  Source read;
  if (const int rc = ReadSource(session, source, options.gateway, read); rc != exitcode::Ok) return rc;
  WriteSettings(read, Run().json, options.secrets);
  return exitcode::Ok;
}

int Diff(GatewaySession& session, const std::string& a, const std::string& b, const CommandOptions& options) {
  // Two ports, even the same port with two gateways, are read one after
  // the other.
  Source first, second;
  if (const int rc = ReadSource(session, a, options.gateway, first); rc != exitcode::Ok) return rc;
  if (const int rc = ReadSource(session, b, options.gateway, second); rc != exitcode::Ok) return rc;
  const std::vector<SettingChange> changes = CompareSettings(first.image, second.image);
  const int status = changes.empty() ? exitcode::Ok : exitcode::Differences;
  if (Run().json) {
    WriteDiffDocument(first, second, changes, options.secrets, status);
    return status;
  }
  WriteChanges(changes, options.secrets);
  if (!changes.empty()) {
    const std::string count = kSettingsDiffer + std::to_string(changes.size());
    std::fputs(("tarvelin: " + ToLocaleText(count) + "\n").c_str(), stderr);
    Run().reason = Utf8FromCp866(count);
  }
  return status;
}

int Set(const std::string& path, const std::vector<std::string>& assignments, const CommandOptions& options) {
  Run().file = Utf8FromArgument(path);
  std::string bytes;
  if (!ReadFile(path, bytes)) return exitcode::File;
  SimImage before;
  ParseSettingsText(bytes, before);
  // Every assignment is checked before anything is written: one that does
  // not fit leaves the file as it was.
  SimImage after = before;
  for (const std::string& assignment : assignments) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) return UsageError("'", assignment, kNotAssignment);
    const std::string key = assignment.substr(0, equals);
    const SettingSpec* spec = FindSetting(key);
    if (!spec) return Refuse(key, kNoSuchSetting);
    if (const std::string why = ApplySetting(after, *spec, std::string_view(assignment).substr(equals + 1));
        !why.empty())
      return Refuse(assignment, why);
  }
  const std::vector<SettingChange> changes = CompareSettings(before, after);
  // Only the lines of the cells that changed are written anew; a file that
  // comes out the same is left alone.
  const std::string rewritten = RewriteSettingsFile(bytes, after);
  const bool write = !options.dryRun && rewritten != bytes;
  if (write) {
    AtomicFileWriter file;
    if (!file.Open(path) || !file.Commit(rewritten)) {
      ReportFileFault(path, std::string(kFileWriteError) + " " + kKeptOld, file.Fault());
      return exitcode::File;
    }
  }
  if (Run().json)
    WriteSetDocument(Run().file, before, after, changes, options.dryRun, write, exitcode::Ok);
  else
    WriteChanges(changes, false);
  return exitcode::Ok;
}

}  // namespace tv::cli
