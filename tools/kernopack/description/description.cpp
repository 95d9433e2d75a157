#include "description/description.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "io/codepage.h"
#include "config/config_keys.h"
#include "config/config_store.h"
#include "config/launch_settings.h"
#include "config/value_list.h"
#include "files/included_files.h"
#include "config/service_settings.h"
#include "config/stop_method_setting.h"
#include "launch/vm_options.h"
#include "service/watchdog_rules.h"
#include "io/path_name.h"
#include "io/terminal_text.h"

namespace {

using Json = nlohmann::ordered_json;

std::string field(std::string_view name) { return "field \"" + std::string(name) + "\""; }

std::string kindOf(const Json& j) {
  switch (j.type()) {
    case Json::value_t::null: return "null";
    case Json::value_t::boolean: return "a boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: return "an integer";
    case Json::value_t::number_float: return "a number with a fraction or exponent";
    case Json::value_t::string: return "a string";
    case Json::value_t::array: return "an array";
    case Json::value_t::object: return "an object";
    default: break;
  }
  return "an unusable value";
}

// "U+20AC" and, for printable characters, the character itself.
std::string characterText(char32_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", unsigned(c));
  std::string out = code;
  if (c >= 0x20 && !(c >= 0x7F && c <= 0x9F)) {
    out += " '";
    appendUtf8(out, c);
    out += "'";
  }
  return out;
}

// Key numbers in "records" are written the way dump writes them: decimal,
// no leading zeros, no plus sign, within the signed 32-bit range.
bool parseKeyNumber(const std::string& text, int32_t& number) {
  size_t i = text.size() > 0 && text[0] == '-' ? 1 : 0;
  size_t digits = text.size() - i;
  if (digits == 0 || digits > 10) return false;
  if (text[i] == '0' && (digits > 1 || i == 1)) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (text[0] == '-') v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  number = int32_t(v);
  return true;
}

// True for the text a JSON integer turns into, so that dump may show the
// value as a number and build gives back the same bytes.
bool isCanonicalInt(const std::string& text, int64_t& value) {
  int32_t n = 0;
  if (!parseKeyNumber(text, n)) return false;
  value = n;
  return true;
}

std::string unknownFieldError(const std::string& name) {
  std::string out = field(name) + ": unknown key name";
  std::string_view suggestion;
  for (std::string_view special :
       {kLauncherField, kMadeFromField, kRecordsField, kWideRecordsField, kIncludedFilesField, kPackageField}) {
    if (equalsIgnoringCase(name, special)) suggestion = special;
  }
  for (const KeyInfo* k = keyTableBegin(); k != keyTableEnd(); ++k) {
    if (equalsIgnoringCase(name, k->name)) suggestion = k->name;
  }
  if (!suggestion.empty()) out += " (did you mean \"" + std::string(suggestion) + "\"?)";
  return out;
}

// Watches the parse for what the JSON library lets pass: repeated names in
// one object and nesting without bound.
struct ParseWatch {
  std::vector<std::set<std::string>> names;  // one set per open object level
  std::vector<std::string> keys;              // the latest key on each level
  std::string error;

  bool operator()(int depth, Json::parse_event_t event, Json& parsed) {
    bool opens = event == Json::parse_event_t::object_start ||
                 event == Json::parse_event_t::array_start;
    if (opens && depth >= kMaxJsonDepth) {
      if (error.empty()) error = "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
      return false;  // keep nothing below this level
    }
    if (event == Json::parse_event_t::object_start) {
      // Objects on one level follow each other, so a new one starts afresh.
      if (names.size() < size_t(depth) + 2) names.resize(size_t(depth) + 2);
      names[size_t(depth) + 1].clear();
    } else if (event == Json::parse_event_t::key && depth > 0 && size_t(depth) < names.size()) {
      const std::string& name = parsed.get_ref<const std::string&>();
      if (keys.size() < size_t(depth) + 1) keys.resize(size_t(depth) + 1);
      keys[size_t(depth)] = name;
      if (!names[size_t(depth)].insert(name).second && error.empty()) {
        // Named with the enclosing keys: "records"."108".
        std::string path;
        for (int level = 1; level <= depth; ++level) path += (level > 1 ? ".\"" : "\"") + keys[size_t(level)] + "\"";
        error = "field " + path + ": given twice";
      }
    }
    return true;
  }
};

// Builds the records of a description.
struct Builder {
  unsigned codePage;
  std::map<int32_t, std::string> narrow;
  std::map<int32_t, std::u16string> wide;
  std::string error;

  bool fail(const std::string& where, const std::string& what) {
    if (error.empty()) error = where + ": " + what;
    return false;
  }

  bool encode(const std::string& where, const std::string& utf8, std::string& out) {
    Encoded e = encodeNarrow(utf8, codePage);
    if (e.ok) {
      out = std::move(e.bytes);
      return true;
    }
    if (e.position == 0) return fail(where, e.error);
    return fail(where, "character " + std::to_string(e.position) + " (" + characterText(e.character) +
                           ") cannot be represented in code page " + std::to_string(codePage));
  }

  bool encodeWide(const std::string& where, const std::string& utf8, std::u16string& out) {
    size_t bad = 0;
    if (utf8ToUtf16(utf8, out, bad)) return true;
    return fail(where, "malformed UTF-8 at byte " + std::to_string(bad + 1));
  }

  bool setInteger(const KeyInfo& k, const std::string& where, const Json& v) {
    if (v.is_string()) return encode(where, v.get_ref<const std::string&>(), narrow[k.number]);
    if (!v.is_number_integer())
      return fail(where, "expected an integer, a string or null, got " + kindOf(v));
    bool inRange = v.is_number_unsigned() ? v.get<uint64_t>() <= uint64_t(INT32_MAX)
                                          : v.get<int64_t>() >= INT32_MIN && v.get<int64_t>() <= INT32_MAX;
    if (!inRange)
      return fail(where, v.dump() + " is outside -2147483648..2147483647; give it as a string "
                                    "to store that text anyway");
    narrow[k.number] = std::to_string(v.get<int64_t>());
    return true;
  }

  bool setList(const KeyInfo& k, const std::string& where, const Json& v) {
    if (v.is_string()) return encode(where, v.get_ref<const std::string&>(), narrow[k.number]);
    if (!v.is_array())
      return fail(where, "expected an array of strings, a string or null, got " + kindOf(v));
    std::string joined;
    for (size_t i = 0; i < v.size(); ++i) {
      std::string itemWhere = where + "[" + std::to_string(i) + "]";
      const Json& item = v[i];
      if (!item.is_string()) return fail(itemWhere, "expected a string, got " + kindOf(item));
      std::string bytes;
      if (!encode(itemWhere, item.get_ref<const std::string&>(), bytes)) return false;
      if (bytes.find(k.separator) != std::string::npos)
        return fail(itemWhere, std::string("an item must not contain the separator '") + k.separator +
                                   "'; give the whole list as one string instead");
      if (k.number == int32_t(ConfigKey::classPath) && !isLauncherClassPathItem(bytes)) {
        std::string launcherItem, why;
        if (!classPathItemFromJavaForm(bytes, launcherItem, why)) return fail(itemWhere, why);
        bytes = std::move(launcherItem);
      }
      if (i > 0) joined += k.separator;
      joined += bytes;
    }
    narrow[k.number] = std::move(joined);
    return true;
  }

  // A whole number from `min` to `max`, by the setting's own rule.
  bool settingNumber(const std::string& where, const Json& v, uint64_t min, uint64_t max,
                     uint64_t& out) {
    if (!v.is_number_integer()) return fail(where, "expected an integer, got " + kindOf(v));
    if (!v.is_number_unsigned() && v.get<int64_t>() < 0)
      return fail(where, v.dump() + " is negative; give " + std::to_string(min) + ".." +
                             std::to_string(max));
    std::string why;
    if (!parseBoundedNumber(std::to_string(v.get<uint64_t>()), min, max, out, why))
      return fail(where, why);
    return true;
  }

  // An object whose members are among `names`.
  bool objectOf(const std::string& where, const Json& v, const std::vector<const char*>& names) {
    if (!v.is_object()) return fail(where, "expected an object or null, got " + kindOf(v));
    for (const auto& item : v.items()) {
      bool known = false;
      for (const char* name : names) known = known || item.key() == name;
      if (!known) {
        std::string list;
        for (const char* name : names) list += (list.empty() ? "\"" : ", \"") + std::string(name) + "\"";
        return fail(where + ".\"" + item.key() + "\"", "unknown member; the members are " + list);
      }
    }
    return true;
  }

  // The members of an object setting, each required once, no others.
  bool settingObject(const std::string& where, const Json& v,
                     const std::vector<std::pair<const char*, std::pair<uint64_t, uint64_t>>>& members,
                     std::vector<uint64_t>& values) {
    std::vector<const char*> names;
    for (const auto& m : members) names.push_back(m.first);
    if (!objectOf(where, v, names)) return false;
    for (const auto& m : members) {
      std::string memberWhere = where + ".\"" + m.first + "\"";
      auto it = v.find(m.first);
      if (it == v.end()) return fail(memberWhere, "missing");
      uint64_t n = 0;
      if (!settingNumber(memberWhere, *it, m.second.first, m.second.second, n)) return false;
      values.push_back(n);
    }
    return true;
  }

  // "outputRotation": "keep" with "maxBytes", "every" ("day", "hour") or both.
  bool rotationSetting(const std::string& where, const Json& v, OutputRotationSetting& r) {
    if (!objectOf(where, v, {"maxBytes", "keep", "every"})) return false;
    uint64_t n = 0;
    auto keep = v.find("keep");
    if (keep == v.end()) return fail(where + ".\"keep\"", "missing");
    if (!settingNumber(where + ".\"keep\"", *keep, 1, kMaxRotationKeep, n)) return false;
    r.keep = uint32_t(n);
    if (auto every = v.find("every"); every != v.end()) {
      r.every = *every == "day" ? RotationPeriod::day : *every == "hour" ? RotationPeriod::hour : RotationPeriod::none;
      if (r.every == RotationPeriod::none) return fail(where + ".\"every\"", every->dump() + " is neither \"day\" nor \"hour\"");
    }
    auto bytes = v.find("maxBytes");
    if (bytes == v.end() && r.every == RotationPeriod::none)
      return fail(where + ".\"maxBytes\"", "missing; give \"maxBytes\", \"every\" or both");
    if (bytes != v.end() && !settingNumber(where + ".\"maxBytes\"", *bytes, kMinRotationBytes, kMaxRotationBytes, n))
      return false;
    r.maxBytes = bytes == v.end() ? 0 : n;
    return true;
  }

  // "stopMethod": "class" and "method", "arguments" (strings in the code
  // page) and "timeoutSeconds" optional.
  bool stopMethodSetting(const std::string& where, const Json& v, StopMethodSetting& s) {
    if (!objectOf(where, v, {"class", "method", "arguments", "timeoutSeconds"})) return false;
    std::string why;
    for (const char* name : {"class", "method"}) {
      std::string at = where + ".\"" + name + "\"";
      auto it = v.find(name);
      if (it == v.end()) return fail(at, "missing");
      if (!it->is_string()) return fail(at, "expected a string, got " + kindOf(*it));
      std::string& out = name[0] == 'c' ? s.className : s.method;
      out = it->get<std::string>();
      if (!(name[0] == 'c' ? checkStopMethodClass(out, why) : checkStopMethodName(out, why))) return fail(at, why);
    }
    if (auto args = v.find("arguments"); args != v.end()) {
      std::string at = where + ".\"arguments\"";
      if (!args->is_array()) return fail(at, "expected an array of strings, got " + kindOf(*args));
      if (args->size() > kMaxStopMethodArguments)
        return fail(at, "more than " + std::to_string(kMaxStopMethodArguments) + " arguments");
      for (size_t i = 0; i < args->size(); ++i) {
        std::string itemAt = at + "[" + std::to_string(i) + "]", encoded;
        if (!(*args)[i].is_string()) return fail(itemAt, "expected a string, got " + kindOf((*args)[i]));
        if (!encode(itemAt, (*args)[i].get_ref<const std::string&>(), encoded)) return false;
        if (!checkStopMethodArgument(encoded, why)) return fail(itemAt, why);
        s.arguments.push_back(std::move(encoded));
      }
    }
    uint64_t n = kDefaultStopMethodTimeoutSeconds;
    auto timeout = v.find("timeoutSeconds");
    if (timeout != v.end() && !settingNumber(where + ".\"timeoutSeconds\"", *timeout, 1, kMaxStopMethodTimeoutSeconds, n))
      return false;
    s.timeoutSeconds = uint32_t(n);
    return true;
  }

  // A probe object: its checks and timing fields; no other members.
  bool probeSetting(const std::string& where, const Json& v, bool startup, ProbeSetting& probe) {
    if (!v.is_object()) return fail(where, "expected an object or null, got " + kindOf(v));
    probe = defaultProbeSetting(startup);
    for (const auto& item : v.items()) {
      const std::string& name = item.key();
      const Json& m = item.value();
      std::string at = where + ".\"" + name + "\"";
      const ProbeTimingField* timing = nullptr;
      for (const ProbeTimingField& f : kProbeTimingFields)
        if (f.name == name) timing = &f;
      if (timing) {
        uint64_t n = 0;
        if (!settingNumber(at, m, timing->min, timing->max, n)) return false;
        probe.*(timing->member) = uint32_t(n);
        continue;
      }
      ProbeCheck check;
      if (name == "deadlock" || name == "heartbeat" || (startup && name == "ready")) {
        if (!m.is_boolean()) return fail(at, "expected true or false, got " + kindOf(m));
        if (!m.get<bool>()) continue;
        check.kind = name == "deadlock" ? CheckKind::deadlock
                     : name == "heartbeat" ? CheckKind::heartbeat : CheckKind::ready;
      } else if (name == "method") {
        if (!m.is_string() || !isProbeMethodName(m.get_ref<const std::string&>()))
          return fail(at, "expected \"package.Class.method\" of a static boolean method without "
                          "parameters (Java identifiers, at most 255 characters)");
        check.kind = CheckKind::method;
        check.text = m.get<std::string>();
      } else if (name == "tcpSocket" || name == "httpGet") {
        bool http = name == "httpGet";
        check.kind = http ? CheckKind::httpGet : CheckKind::tcpSocket;
        if (!m.is_object()) return fail(at, "expected an object, got " + kindOf(m));
        for (const auto& member : m.items()) {
          if (member.key() != "port" && !(http && member.key() == "path"))
            return fail(at + ".\"" + member.key() + "\"", std::string("unknown member; the members are ") +
                                                               (http ? "\"port\", \"path\"" : "\"port\""));
        }
        auto port = m.find("port");
        if (port == m.end()) return fail(at + ".\"port\"", "missing");
        uint64_t n = 0;
        if (!settingNumber(at + ".\"port\"", *port, 1, 65535, n)) return false;
        check.port = uint16_t(n);
        if (http) {
          auto path = m.find("path");
          check.text = path == m.end() ? "/" : path->is_string() ? path->get<std::string>() : std::string();
          if (!isProbePath(check.text))
            return fail(at + ".\"path\"", "expected a path that starts with '/' and holds only printable "
                                           "ASCII without blanks (at most 255 characters)");
        }
      } else {
        std::string fields;
        for (const ProbeTimingField& f : kProbeTimingFields)
          fields += std::string(fields.empty() ? "" : ", ") + "\"" + std::string(f.name) + "\"";
        return fail(at, std::string("unknown member; a probe has the checks \"deadlock\", \"method\", "
                                    "\"httpGet\", \"tcpSocket\", \"heartbeat\"") +
                            (startup ? ", \"ready\"" : "") + " and the fields " + fields);
      }
      probe.checks.push_back(std::move(check));
    }
    if (probe.checks.empty()) return fail(where, "no check is given; list at least one");
    return true;
  }

  // "environment": an object of variable names and values, applied in order.
  bool environmentSetting(const std::string& where, const Json& v, std::string& out) {
    if (!v.is_object())
      return fail(where, "expected an object of variable names and string values, or null, got " + kindOf(v));
    if (v.size() > kMaxEnvironmentEntries)
      return fail(where, "more than " + std::to_string(kMaxEnvironmentEntries) + " variables");
    std::vector<EnvironmentEntry> entries;
    for (const auto& item : v.items()) {
      std::string at = where + ".\"" + item.key() + "\"";
      if (!item.value().is_string()) return fail(at, "expected a string, got " + kindOf(item.value()));
      EnvironmentEntry e;
      std::string why;
      if (!encode(at, item.key(), e.name) || !encode(at, item.value().get_ref<const std::string&>(), e.value))
        return false;
      if (!checkEnvironmentName(e.name, why)) return fail(at, why);
      if (!checkSettingItem(e.value, kMaxEnvironmentValue, why)) return fail(at, "the value " + why);
      for (const EnvironmentEntry& earlier : entries) {
        if (equalsIgnoringCase(earlier.name, e.name))
          return fail(at, "also given as \"" + earlier.name + "\"; names are compared without case");
      }
      entries.push_back(std::move(e));
    }
    out = environmentSettingText(entries);
    return true;
  }

  // "vmOptions": one VM option per item, as written.
  bool vmOptionsSetting(const std::string& where, const Json& v, std::string& out) {
    if (!v.is_array())
      return fail(where, "expected an array of strings, one VM option each, or null, got " + kindOf(v));
    if (v.size() > kMaxVmOptionCount)
      return fail(where, "more than " + std::to_string(kMaxVmOptionCount) + " options");
    std::vector<std::string> options;
    for (size_t i = 0; i < v.size(); ++i) {
      std::string at = where + "[" + std::to_string(i) + "]";
      if (!v[i].is_string()) return fail(at, "expected a string, got " + kindOf(v[i]));
      std::string bytes, why;
      if (!encode(at, v[i].get_ref<const std::string&>(), bytes)) return false;
      if (bytes.empty()) return fail(at, "an empty option; leave it out");
      if (!checkSettingItem(bytes, kMaxVmOptionBytes, why)) return fail(at, why);
      options.push_back(std::move(bytes));
    }
    out = vmOptionListText(options);
    return true;
  }

  bool setSetting(const KeyInfo& k, const std::string& where, const Json& v) {
    std::string& out = narrow[k.number];
    std::string why;
    switch (ConfigKey(k.number)) {
      case ConfigKey::serviceAccount: {
        if (!v.is_string()) return fail(where, "expected a string or null, got " + kindOf(v));
        ServiceAccount account;
        if (!parseServiceAccount(v.get_ref<const std::string&>(), account, why)) return fail(where, why);
        out = serviceAccountText(account);
        return true;
      }
      case ConfigKey::interactive:
      case ConfigKey::delayedAutoStart:
      case ConfigKey::eventLog:
        if (!v.is_boolean()) return fail(where, "expected true, false or null, got " + kindOf(v));
        out = v.get<bool>() ? "1" : "0";
        return true;
      case ConfigKey::preshutdownTimeoutSeconds:
      case ConfigKey::stopTimeoutSeconds: {
        if (!v.is_number_integer()) return fail(where, "expected an integer or null, got " + kindOf(v));
        if (!v.is_number_unsigned() && v.get<int64_t>() < 0) return fail(where, v.dump() + " is negative");
        uint32_t n = 0;
        if (!parseTimeoutSetting(ConfigKey(k.number), std::to_string(v.get<uint64_t>()), n, why))
          return fail(where, why);
        out = std::to_string(n);
        return true;
      }
      case ConfigKey::recovery: {
        std::vector<uint64_t> n;
        if (!settingObject(where, v,
                           {{"restartDelaySeconds", {0, kMaxRestartDelaySeconds}},
                            {"maxRestarts", {1, kMaxRestarts}},
                            {"resetPeriodHours", {1, kMaxResetPeriodHours}}},
                           n))
          return false;
        out = recoveryText(RecoverySetting{uint32_t(n[0]), uint32_t(n[1]), uint32_t(n[2])});
        return true;
      }
      case ConfigKey::outputRotation: {
        OutputRotationSetting rotation;
        if (!rotationSetting(where, v, rotation)) return false;
        out = outputRotationText(rotation);
        return true;
      }
      case ConfigKey::stopMethod: {
        StopMethodSetting stop;
        if (!stopMethodSetting(where, v, stop)) return false;
        out = stopMethodText(stop);
        return true;
      }
      case ConfigKey::threadDumpControlCode: {
        uint64_t n = 0;
        if (!settingNumber(where, v, kMinThreadDumpControlCode, kMaxThreadDumpControlCode, n)) return false;
        out = std::to_string(n);
        return true;
      }
      case ConfigKey::startupProbe:
      case ConfigKey::livenessProbe: {
        ProbeSetting probe;
        if (!probeSetting(where, v, ConfigKey(k.number) == ConfigKey::startupProbe, probe)) return false;
        out = probeSettingText(probe);
        return true;
      }
      case ConfigKey::onLivenessFailure: {
        std::vector<uint64_t> n;
        if (!settingObject(where, v, {{"threadDumps", {0, kMaxThreadDumpsOnFailure}}}, n)) return false;
        out = livenessFailureText(uint32_t(n[0]));
        return true;
      }
      case ConfigKey::environment: return environmentSetting(where, v, out);
      case ConfigKey::vmOptions: return vmOptionsSetting(where, v, out);
      default: break;
    }
    return fail(where, "not a setting the packer knows how to write");
  }

  bool setNamed(const KeyInfo& k, const Json& v) {
    std::string where = field(k.name);
    if (v.is_null()) return true;  // mentioned as null: no record at all
    switch (k.type) {
      case ValueType::setting:
        return setSetting(k, where, v);
      case ValueType::text:
        if (!v.is_string()) return fail(where, "expected a string or null, got " + kindOf(v));
        return encode(where, v.get_ref<const std::string&>(), narrow[k.number]);
      case ValueType::integer:
        return setInteger(k, where, v);
      case ValueType::list:
        return setList(k, where, v);
      case ValueType::wideText: {
        if (!v.is_string()) return fail(where, "expected a string or null, got " + kindOf(v));
        std::string why;
        if (!encodeWide(where, v.get_ref<const std::string&>(), wide[k.number])) return false;
        if (k.number == int32_t(WideKey::displayName) && !checkDisplayName(wide[k.number], why))
          return fail(where, why);
        return true;
      }
    }
    return false;
  }

  bool setIncludedFiles(const Json& v, std::vector<IncludedFile>& files) {
    std::string where = field(kIncludedFilesField);
    if (v.is_null()) return true;
    if (!v.is_array()) return fail(where, "expected an array of file paths or null, got " + kindOf(v));
    for (size_t i = 0; i < v.size(); ++i) {
      std::string itemWhere = where + "[" + std::to_string(i) + "]";
      const Json& item = v[i];
      if (!item.is_string()) return fail(itemWhere, "expected a file path, got " + kindOf(item));
      const std::string& path = item.get_ref<const std::string&>();
      std::string_view nameUtf8 = path == kRuntimeJarItem ? kRuntimeJarName : portableFileName(path);
      if (nameUtf8.empty()) return fail(itemWhere, "names no file (empty, or ends with a separator)");
      IncludedFile file{path, {}};
      if (!encode(itemWhere, std::string(nameUtf8), file.name)) return false;
      FileNameProblem problem = checkIncludedFileName(file.name);
      if (problem != FileNameProblem::none)
        return fail(itemWhere, "the file name \"" + std::string(nameUtf8) + "\" " + fileNameProblemText(problem));
      for (size_t j = 0; j < files.size(); ++j) {
        if (sameIncludedFileName(files[j].name, file.name))
          return fail(itemWhere, "the file name \"" + std::string(nameUtf8) + "\" is also that of item " +
                                     std::to_string(j) + "; the launcher extracts all files into one directory");
      }
      files.push_back(std::move(file));
    }
    return true;
  }

  bool setRecords(std::string_view name, const Json& v, bool isWide) {
    std::string where = field(name);
    if (!v.is_object())
      return fail(where, "expected an object of key numbers and strings, got " + kindOf(v));
    for (const auto& item : v.items()) {
      const std::string& keyText = item.key();
      std::string itemWhere = where + ".\"" + keyText + "\"";
      int32_t number = 0;
      if (!parseKeyNumber(keyText, number))
        return fail(itemWhere, "not a key number (a decimal 32-bit integer such as \"108\")");
      if (const KeyInfo* k = findKeyByNumber(number, isWide))
        return fail(itemWhere, "key " + keyText + " has a name; set it as \"" + std::string(k->name) + "\"");
      const Json& value = item.value();
      if (value.is_null()) continue;
      if (!value.is_string()) return fail(itemWhere, "expected a string or null, got " + kindOf(value));
      bool ok = isWide ? encodeWide(itemWhere, value.get_ref<const std::string&>(), wide[number])
                       : encode(itemWhere, value.get_ref<const std::string&>(), narrow[number]);
      if (!ok) return false;
    }
    return true;
  }
};

// A field named like a password, at any depth; its path, or empty. No
// password is ever stored in an executable: the service accounts need none.
std::string passwordField(const Json& j, const std::string& path) {
  if (j.is_object()) {
    for (const auto& item : j.items()) {
      std::string lower = item.key();
      for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
      std::string here = path + (path.empty() ? "\"" : ".\"") + item.key() + "\"";
      if (lower.find("password") != std::string::npos) return here;
      std::string inner = passwordField(item.value(), here);
      if (!inner.empty()) return inner;
    }
  } else if (j.is_array()) {
    for (size_t i = 0; i < j.size(); ++i) {
      std::string inner = passwordField(j[i], path + "[" + std::to_string(i) + "]");
      if (!inner.empty()) return inner;
    }
  }
  return std::string();
}

// Strips the library's "[json.exception.parse_error.101] " tag.
std::string parseErrorText(const char* what) {
  std::string text = what;
  size_t tagEnd = text.find("] ");
  if (text.rfind("[json.exception.", 0) == 0 && tagEnd != std::string::npos) text.erase(0, tagEnd + 2);
  return text;
}

// The VM options come as a text or as a list, not both. The default text of
// "vmParameters" (" -Xrs") is written beside a list all the same, and so is
// taken beside one, as dump shows it.
bool oneFormOfVmOptions(const Builder& b, const std::set<const KeyInfo*>& mentioned, std::string& error) {
  const KeyInfo* parameters = findKeyByName("vmParameters");
  auto text = b.narrow.find(parameters->number);
  if (b.narrow.count(int32_t(ConfigKey::vmOptions)) && text != b.narrow.end() && mentioned.count(parameters) &&
      text->second != parameters->packDefault) {
    error = field("vmOptions") + ": give it or a \"vmParameters\" text, not both; move the options of "
            "\"vmParameters\" into \"vmOptions\", one each";
    return false;
  }
  return true;
}

// Keys 2002 and 2003 follow "includedFiles"; without it the count must read
// as 0, since a count without the files would stop the launcher at start-up.
bool applyIncludedFiles(Builder& b, const std::set<const KeyInfo*>& mentioned,
                        const std::vector<IncludedFile>& files, std::string& error) {
  const int32_t countKey = int32_t(ConfigKey::includedFileCount);
  const int32_t namesKey = int32_t(ConfigKey::includedFileNames);
  if (!files.empty()) {
    for (const KeyInfo* k : mentioned) {
      if (k->number == countKey || k->number == namesKey) {
        error = field(k->name) + ": set from " + field(kIncludedFilesField) + "; leave it out";
        return false;
      }
    }
    std::string names;
    for (const IncludedFile& f : files) {
      if (!names.empty()) names += kIncludedFileNameSeparator;
      names += f.name;
    }
    b.narrow[countKey] = std::to_string(files.size());
    b.narrow[namesKey] = std::move(names);
    return true;
  }
  auto count = b.narrow.find(countKey);
  if (count != b.narrow.end() && parseConfigInt(count->second) != 0) {
    error = field("includedFileCount") + ": must read as 0 without " + field(kIncludedFilesField) +
            "; list the files to include there";
    return false;
  }
  auto names = b.narrow.find(namesKey);
  if (names != b.narrow.end()) {
    for (std::string_view name : splitIncludedFileNames(names->second)) {
      FileNameProblem problem = checkIncludedFileName(name);
      if (problem != FileNameProblem::none) {
        error = field("includedFileNames") + ": the name \"" + std::string(name) + "\" " +
                fileNameProblemText(problem);
        return false;
      }
    }
  }
  return true;
}

}  // namespace

namespace {

// Parses the text into a JSON object, within the depth and size bounds, and
// refuses a password anywhere in it.
bool readJsonObject(std::string_view json, Json& root, std::string& error) {
  ParseWatch watch;
  try {
    root = Json::parse(json.begin(), json.end(),
                       [&watch](int depth, Json::parse_event_t event, Json& parsed) {
                         return watch(depth, event, parsed);
                       });
  } catch (const Json::exception& e) {
    // parse_error for the syntax; out_of_range for a number that overflows
    // a double (1e999), which is no syntax error and must not end the packer.
    error = parseErrorText(e.what());
    return false;
  }
  if (!watch.error.empty()) {
    error = watch.error;
    return false;
  }
  if (!root.is_object()) {
    error = "the description must be a JSON object, not " + kindOf(root);
    return false;
  }
  std::string password = passwordField(root, "");
  if (!password.empty()) {
    error = "field " + password +
            ": a password is never stored in an executable; a user account's password is asked for by "
            "/install and /configure, or given to a package as SERVICEPASSWORD";
    return false;
  }
  return true;
}

// The keys a description names, and its service name (for the defaults).
struct NamedKeys {
  std::set<const KeyInfo*> mentioned;
  const Json* serviceName = nullptr;
};

// Reads every top-level field into the builder and the description; false
// with b.error at the first that is wrong.
bool readFields(const Json& root, Builder& b, Description& d, NamedKeys& named) {
  for (const auto& item : root.items()) {
    const std::string& name = item.key();
    const Json& value = item.value();
    if (name == kLauncherField) {
      if (!value.is_null() && !(value.is_string() &&
                                parseLauncherArch(value.get_ref<const std::string&>(), d.launcher)))
        return b.fail(field(name), "expected \"x86\", \"x64\" or null");
    } else if (name == kMadeFromField) {
      if (!value.is_null() && !value.is_string())
        return b.fail(field(name), "expected a string or null (it is only information, written by dump)");
    } else if (name == kIncludedFilesField) {
      if (!b.setIncludedFiles(value, d.includedFiles)) return false;
    } else if (name == kPackageField) {
      // What `msi` needs besides the executable; checked there.
    } else if (name == kRecordsField || name == kWideRecordsField) {
      if (!b.setRecords(name, value, name == kWideRecordsField)) return false;
    } else if (const KeyInfo* k = findKeyByName(name)) {
      named.mentioned.insert(k);
      if (k->number == int32_t(ConfigKey::serviceName) && value.is_string()) named.serviceName = &value;
      if (!b.setNamed(*k, value)) return false;
    } else {
      b.error = unknownFieldError(name);
      return false;
    }
  }
  return true;
}

// The packer's defaults for the keys the description leaves out.
bool applyPackDefaults(Builder& b, const NamedKeys& named, std::string& error) {
  for (const KeyInfo* k = keyTableBegin(); k != keyTableEnd(); ++k) {
    if (!k->packDefault || named.mentioned.count(k)) continue;
    std::string text = k->packDefault;
    // The dialog heading names the service.
    if (k->number == int32_t(ConfigKey::MSG_ERROR_DIALOG_TEXT)) {
      if (named.serviceName) text += named.serviceName->get_ref<const std::string&>();
      text += ":";
    }
    bool ok = k->type == ValueType::wideText ? b.encodeWide(field(k->name), text, b.wide[k->number])
                                             : b.encode(field(k->name), text, b.narrow[k->number]);
    if (!ok) {
      error = b.error + " (in the default value)";
      return false;
    }
  }
  return true;
}

// The system refuses interactive services under any account but
// LocalSystem; saying so now beats an install that ignores it.
bool checkInteractiveAccount(const Builder& b, std::string& error) {
  auto account = b.narrow.find(int32_t(ConfigKey::serviceAccount));
  auto interactive = b.narrow.find(int32_t(ConfigKey::interactive));
  if (account != b.narrow.end() && account->second != serviceAccountText(ServiceAccount{}) &&
      interactive != b.narrow.end() && interactive->second == "1") {
    error = field("interactive") + ": true works only with the account \"LocalSystem\", not \"" +
            account->second + "\"; leave it out or set it to false";
    return false;
  }
  return true;
}

}  // namespace

Description parseDescription(std::string_view json, unsigned codePage) {
  Description d;
  Json root;
  if (!readJsonObject(json, root, d.error)) return d;
  Builder b{codePage, {}, {}, {}};
  NamedKeys named;
  if (!readFields(root, b, d, named)) {
    d.error = b.error;
    return d;
  }
  if (!applyPackDefaults(b, named, d.error) || !applyIncludedFiles(b, named.mentioned, d.includedFiles, d.error) ||
      !oneFormOfVmOptions(b, named.mentioned, d.error) || !checkInteractiveAccount(b, d.error))
    return d;
  d.records.narrow.assign(b.narrow.begin(), b.narrow.end());
  d.records.wide.assign(b.wide.begin(), b.wide.end());
  d.ok = true;
  return d;
}

namespace {

// A setting in the form the description gives it; a damaged value as its
// text, which build then refuses with the reason.
// A probe as the description writes it: its checks, then its timing fields.
Json probeJson(const ProbeSetting& p) {
  Json j = Json::object();
  for (const ProbeCheck& c : p.checks) {
    switch (c.kind) {
      case CheckKind::method: j["method"] = c.text; break;
      case CheckKind::tcpSocket: j["tcpSocket"] = Json{{"port", c.port}}; break;
      case CheckKind::httpGet: j["httpGet"] = Json{{"port", c.port}, {"path", c.text}}; break;
      default: j[std::string(checkKindName(c.kind))] = true; break;
    }
  }
  for (const ProbeTimingField& f : kProbeTimingFields) j[std::string(f.name)] = p.*(f.member);
  return j;
}

Json settingJson(ConfigKey key, const std::string& bytes, const std::string& utf8) {
  std::string why;
  switch (key) {
    case ConfigKey::interactive:
    case ConfigKey::delayedAutoStart:
    case ConfigKey::eventLog: {
      bool flag = false;
      if (parseFlagSetting(bytes, flag, why)) return flag;
      break;
    }
    case ConfigKey::preshutdownTimeoutSeconds:
    case ConfigKey::stopTimeoutSeconds: {
      uint32_t n = 0;
      if (parseTimeoutSetting(key, bytes, n, why)) return n;
      break;
    }
    case ConfigKey::recovery: {
      RecoverySetting rs;
      if (parseRecovery(bytes, rs, why))
        return Json{{"restartDelaySeconds", rs.restartDelaySeconds},
                    {"maxRestarts", rs.maxRestarts},
                    {"resetPeriodHours", rs.resetPeriodHours}};
      break;
    }
    case ConfigKey::outputRotation: {
      OutputRotationSetting rot;
      if (!parseOutputRotation(bytes, rot, why)) break;
      Json j = Json{{"keep", rot.keep}};
      if (rot.maxBytes != 0) j["maxBytes"] = rot.maxBytes;
      if (const char* every = rotationPeriodName(rot.every)) j["every"] = every;
      return j;
    }
    case ConfigKey::stopMethod: {
      StopMethodSetting stop;
      if (!parseStopMethod(bytes, stop, why)) break;
      // The arguments as text: the lines of the decoded value after the method.
      std::vector<std::string_view> lines = splitList(utf8, '\n', EmptyItems::keep);
      Json arguments = Json::array();
      for (size_t i = 3; i < lines.size(); ++i) arguments.push_back(std::string(lines[i]));
      return Json{{"class", stop.className}, {"method", stop.method}, {"arguments", arguments},
                  {"timeoutSeconds", stop.timeoutSeconds}};
    }
    case ConfigKey::threadDumpControlCode: {
      uint32_t n = 0;
      if (parseThreadDumpControlCode(bytes, n, why)) return n;
      break;
    }
    case ConfigKey::startupProbe:
    case ConfigKey::livenessProbe: {
      ProbeSetting p;
      if (parseProbeSetting(bytes, key == ConfigKey::startupProbe, p, why)) return probeJson(p);
      break;
    }
    case ConfigKey::onLivenessFailure: {
      uint32_t n = 0;
      if (parseLivenessFailure(bytes, n, why)) return Json{{"threadDumps", n}};
      break;
    }
    case ConfigKey::environment: {
      std::vector<EnvironmentEntry> entries;
      if (!parseEnvironmentSetting(bytes, entries, why) || !parseEnvironmentSetting(utf8, entries, why)) break;
      Json j = Json::object();
      for (const EnvironmentEntry& e : entries) j[e.name] = e.value;
      return j;
    }
    case ConfigKey::vmOptions: {
      std::vector<std::string> options;
      if (!parseVmOptionList(bytes, options, why) || !parseVmOptionList(utf8, options, why)) break;
      return Json(options);
    }
    default: break;
  }
  return utf8;
}

std::string keyLabel(int32_t number, const KeyInfo* k, bool isWide) {
  std::string out = std::string(isWide ? "wide key " : "key ") + std::to_string(number);
  if (k) out += " (\"" + std::string(k->name) + "\")";
  return out;
}

}  // namespace

namespace {

// Decodes the block's texts for describeConfiguration; `error` names the
// key of the first that fails.
struct TextDecoder {
  unsigned codePage;
  std::string error;

  bool narrow(int32_t number, const KeyInfo* k, const std::string& bytes, std::string& utf8) {
    Decoded d = decodeNarrow(bytes, codePage);
    if (d.ok) {
      utf8 = std::move(d.utf8);
      return true;
    }
    error = keyLabel(number, k, false) + ": " + d.error;
    return false;
  }
  bool wide(int32_t number, const KeyInfo* k, const std::u16string& units, std::string& utf8) {
    size_t bad = 0;
    if (utf16ToUtf8(units, utf8, bad)) return true;
    error = keyLabel(number, k, true) + ": unpaired surrogate at code unit " + std::to_string(bad + 1) +
            "; the text cannot be written as JSON";
    return false;
  }
};

// A narrow value of a named key in its most readable exact form: a setting
// as its object, a canonical integer as a number, a list as an array when
// splitting and joining give the same text, else the text.
Json namedValueJson(const KeyInfo& k, const std::string& bytes, const std::string& utf8) {
  if (k.type == ValueType::setting) return settingJson(ConfigKey(k.number), bytes, utf8);
  int64_t n = 0;
  if (k.type == ValueType::integer && isCanonicalInt(bytes, n)) return n;
  if (k.type != ValueType::list) return utf8;
  Json items = Json::array();
  for (std::string_view item : splitList(utf8, k.separator, EmptyItems::keep)) {
    // A class path as an array holds launcher items only: any other item
    // would be read back as a java -cp path.
    if (item.empty() || (k.number == int32_t(ConfigKey::classPath) && !isLauncherClassPathItem(item))) return utf8;
    items.push_back(std::string(item));
  }
  return items;
}

// The included files' names, split as the packer joined them
// (includedLayout checked that they are exactly the count's worth, none
// empty).
bool describeIncludedFiles(const ConfigTables& tables, TextDecoder& decode, Json& out) {
  auto it = tables.narrow.find(int32_t(ConfigKey::includedFileNames));
  std::string utf8;
  if (it != tables.narrow.end() &&
      !decode.narrow(int32_t(ConfigKey::includedFileNames), findKeyByName("includedFileNames"), it->second, utf8))
    return false;
  Json files = Json::array();
  for (std::string_view fileName : splitList(utf8, kIncludedFileNameSeparator, EmptyItems::keep))
    files.push_back(std::string(fileName));
  out[std::string(kIncludedFilesField)] = std::move(files);
  return true;
}

// One named key: its value, null for a key the packer would set by default
// but the block leaves out, nothing for any other key left out.
bool describeNamedKey(const KeyInfo& k, const ConfigTables& tables, TextDecoder& decode, Json& out) {
  std::string name(k.name);
  std::string utf8;
  if (k.type == ValueType::wideText) {
    auto it = tables.wide.find(k.number);
    if (it == tables.wide.end()) {
      if (k.packDefault) out[name] = nullptr;
      return true;
    }
    if (!decode.wide(k.number, &k, it->second, utf8)) return false;
    out[name] = utf8;
    return true;
  }
  auto it = tables.narrow.find(k.number);
  if (it == tables.narrow.end()) {
    if (k.packDefault) out[name] = nullptr;
    return true;
  }
  if (!decode.narrow(k.number, &k, it->second, utf8)) return false;
  out[name] = namedValueJson(k, it->second, utf8);
  return true;
}

// The records of keys that have no name, narrow and wide.
bool describeUnnamedRecords(const ConfigTables& tables, TextDecoder& decode, Json& out) {
  Json records = Json::object();
  for (const auto& [number, bytes] : tables.narrow) {
    if (findKeyByNumber(number, false)) continue;
    std::string utf8;
    if (!decode.narrow(number, nullptr, bytes, utf8)) return false;
    records[std::to_string(number)] = utf8;
  }
  if (!records.empty()) out[std::string(kRecordsField)] = std::move(records);
  Json wideRecords = Json::object();
  for (const auto& [number, units] : tables.wide) {
    if (findKeyByNumber(number, true)) continue;
    std::string utf8;
    if (!decode.wide(number, nullptr, units, utf8)) return false;
    wideRecords[std::to_string(number)] = utf8;
  }
  if (!wideRecords.empty()) out[std::string(kWideRecordsField)] = std::move(wideRecords);
  return true;
}

}  // namespace

DescriptionText describeConfiguration(const ConfigTables& tables, LauncherArch launcher,
                                      unsigned codePage, bool includedFiles, const std::string& madeFrom) {
  DescriptionText r;
  Json out = Json::object();
  if (launcher != LauncherArch::unspecified) out[std::string(kLauncherField)] = launcherArchName(launcher);
  if (!madeFrom.empty()) out[std::string(kMadeFromField)] = madeFrom;
  TextDecoder decode{codePage, {}};
  bool ok = true;
  for (const KeyInfo* k = keyTableBegin(); ok && k != keyTableEnd(); ++k) {
    if (includedFiles && k->number == int32_t(ConfigKey::includedFileNames)) continue;
    ok = includedFiles && k->number == int32_t(ConfigKey::includedFileCount)
             ? describeIncludedFiles(tables, decode, out)
             : describeNamedKey(*k, tables, decode, out);
  }
  if (!ok || !describeUnnamedRecords(tables, decode, out)) {
    r.error = decode.error;
    return r;
  }
  try {
    // Shown on a terminal as often as saved: nothing in it may drive one.
    r.json = jsonForTerminal(out.dump(2, ' ', false, Json::error_handler_t::strict)) + "\n";
  } catch (const Json::exception& e) {
    r.error = std::string("cannot write the description: ") + e.what();
    return r;
  }
  r.ok = true;
  return r;
}
