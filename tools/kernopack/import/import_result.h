// What an import makes of a WinSW, NSSM or procrun service: the fields of a
// service description, and a note for every setting of the source saying
// what it became, or why it changed or was dropped.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

using ImportJson = nlohmann::ordered_json;

enum class ImportVerdict {
  kept,     // carried over with the same meaning
  changed,  // carried over, but it means something else here (the reason says what)
  written,  // a default of the source that differs from ours, written out
  dropped,  // no counterpart, or a value the description cannot express
};

struct ImportNote {
  ImportVerdict verdict = ImportVerdict::kept;
  std::string setting;  // as the source names it: "<stoptimeout>", "AppParameters", "--JvmMx"
  std::string value;    // as the source gives it; empty when it was not given
  std::string field;    // the field it became and its value, as JSON ("\"stopTimeoutSeconds\": 15")
  std::string reason;   // why it changed or was dropped; empty for kept
};

struct ImportResult {
  bool ok = true;
  // When !ok: what makes the source unusable, and where ("line 4: ...").
  std::string error;
  // "a WinSW configuration", "NSSM's registry settings", ...
  std::string sourceKind;
  std::map<std::string, ImportJson> fields;
  std::vector<ImportNote> notes;

  // Sets `field` to `value` and notes the setting it came from.
  void keep(const std::string& setting, const std::string& given, const std::string& field,
            const ImportJson& value);
  void change(const std::string& setting, const std::string& given, const std::string& field,
              const ImportJson& value, const std::string& reason);
  // A default of the source written out: `setting` is what the source left out.
  void writeDefault(const std::string& setting, const std::string& field, const ImportJson& value,
                    const std::string& reason);
  void drop(const std::string& setting, const std::string& given, const std::string& reason);
  // Marks the import as failed; the first failure is the one reported.
  void fail(const std::string& why);
};

// The description: the fields in the order docs/import.md lists them, then
// any other field by name.
ImportJson importedDescription(const ImportResult& result);

// The report, one line per note (UTF-8, not yet escaped for the terminal):
//   kept     <id> = "jenkins" -> "serviceName": "jenkins"
//   changed  <stoptimeout> = "10 sec" -> "stopTimeoutSeconds": 10 (reason)
//   written  <stoptimeout> (not set) -> "stopTimeoutSeconds": 15 (reason)
//   dropped  <priority> = "high" (reason)
std::vector<std::string> importReportLines(const ImportResult& result);

// "\"field\": value" as the report shows a field.
std::string fieldText(const std::string& field, const ImportJson& value);
