#include "import/import_result.h"

#include <array>
#include <string_view>

namespace {

// The order of the fields in an imported description.
constexpr std::array<std::string_view, 27> kFieldOrder = {
    "serviceName",   "displayName",        "serviceDescription", "mainClass",
    "classPath",     "vmOptions",          "arguments",          "workingDirectory",
    "jreSearchSequence", "preferredVmType", "environment",       "pathPrefix",
    "serviceDependencies", "executableType", "delayedAutoStart", "serviceAccount",
    "interactive",   "recovery",           "stopTimeoutSeconds", "preshutdownTimeoutSeconds",
    "stopMethod",    "stdoutRedirect",     "stdoutFile",         "stderrRedirect",
    "stderrFile",    "outputRotation",     "eventLog"};

std::string_view verdictWord(ImportVerdict v) {
  switch (v) {
    case ImportVerdict::kept: return "kept   ";
    case ImportVerdict::changed: return "changed";
    case ImportVerdict::written: return "written";
    case ImportVerdict::dropped: return "dropped";
  }
  return "?";
}

}  // namespace

std::string fieldText(const std::string& field, const ImportJson& value) {
  return ImportJson(field).dump() + ": " + value.dump(-1, ' ', false, ImportJson::error_handler_t::replace);
}

void ImportResult::keep(const std::string& setting, const std::string& given, const std::string& field,
                        const ImportJson& value) {
  fields[field] = value;
  notes.push_back({ImportVerdict::kept, setting, given, fieldText(field, value), {}});
}

void ImportResult::change(const std::string& setting, const std::string& given, const std::string& field,
                          const ImportJson& value, const std::string& reason) {
  fields[field] = value;
  notes.push_back({ImportVerdict::changed, setting, given, fieldText(field, value), reason});
}

void ImportResult::writeDefault(const std::string& setting, const std::string& field, const ImportJson& value,
                                const std::string& reason) {
  fields[field] = value;
  notes.push_back({ImportVerdict::written, setting, {}, fieldText(field, value), reason});
}

void ImportResult::drop(const std::string& setting, const std::string& given, const std::string& reason) {
  notes.push_back({ImportVerdict::dropped, setting, given, {}, reason});
}

void ImportResult::fail(const std::string& why) {
  if (!ok) return;
  ok = false;
  error = why;
}

ImportJson importedDescription(const ImportResult& result) {
  ImportJson out = ImportJson::object();
  for (std::string_view name : kFieldOrder) {
    auto it = result.fields.find(std::string(name));
    if (it != result.fields.end()) out[it->first] = it->second;
  }
  for (const auto& [name, value] : result.fields) {
    if (!out.contains(name)) out[name] = value;
  }
  return out;
}

std::vector<std::string> importReportLines(const ImportResult& result) {
  std::vector<std::string> lines;
  for (const ImportNote& n : result.notes) {
    std::string line = "  " + std::string(verdictWord(n.verdict)) + "  " + n.setting;
    if (n.verdict == ImportVerdict::written) {
      line += " (not set)";
    } else if (!n.value.empty()) {
      line += " = " + ImportJson(n.value).dump(-1, ' ', false, ImportJson::error_handler_t::replace);
    }
    if (!n.field.empty()) line += " -> " + n.field;
    if (!n.reason.empty()) line += " (" + n.reason + ")";
    lines.push_back(line);
  }
  return lines;
}
