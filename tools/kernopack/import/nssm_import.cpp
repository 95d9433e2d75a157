#include <map>

#include "import/command_lines.h"
#include "import/import_common.h"
#include "import/peer_import.h"

namespace {

struct NssmSetting {
  std::string name;  // as written
  std::string text;
  std::vector<std::string> items;
};

// One service's NSSM settings, from the registry or from `nssm` lines.
struct NssmService {
  std::string name;
  std::map<std::string, NssmSetting> values;        // by lower-case name
  std::map<std::string, std::string> exitActions;   // exit code or "default" -> action
  const NssmSetting* get(const std::string& lower) const {
    auto it = values.find(lower);
    return it == values.end() ? nullptr : &it->second;
  }
  // Takes a setting out, so that what is left at the end can be reported.
  bool take(const std::string& lower, NssmSetting& out) { return takeSetting(values, lower, out); }
};

// Settings without a counterpart, and why.
const std::map<std::string, std::string>& droppedSettings() {
  static const std::map<std::string, std::string> table = {
      {"appthrottle", "the service manager's failure actions restart the service here"},
      {"apppriority", "the process priority is not a setting here"},
      {"appaffinity", "the processor affinity is not a setting here"},
      {"appnoconsole", "the VM runs inside the service process"},
      {"appkillprocesstree", "the VM runs inside the service process: there is no child process tree"},
      {"appstdoutcreationdisposition", "output files are always appended to"},
      {"appstderrcreationdisposition", "output files are always appended to"},
      {"appstdin", "a service's standard input is not redirected here"},
      {"apptimestamplog", "no counterpart"},
      {"appredirecthook", "no counterpart"},
      {"imagepath", "the service's program is the built executable"},
      {"errorcontrol", "/install registers the service with normal error control"},
      {"type", "the service runs in its own process"},
      {"dependongroup", "dependencies on load order groups are not carried over"},
      {"failureactions", "NSSM restarts the program itself; see AppExit"},
      {"objectname", ""},
  };
  return table;
}

std::string itemsText(const NssmSetting& s) {
  if (s.items.empty()) return s.text;
  std::string out;
  for (const std::string& i : s.items) out += (out.empty() ? "" : " ") + i;
  return out;
}

uint64_t numberOr(const NssmService& s, const std::string& lower, uint64_t fallback) {
  const NssmSetting* v = s.get(lower);
  uint64_t n = 0;
  return v && readNumber(v->text, n) ? n : fallback;
}

bool mapJava(NssmService& s, const JarReader& readJar, ImportResult& r) {
  NssmSetting app, params, dir;
  if (!s.take("application", app) || app.text.empty()) {
    r.fail("Application is missing: NSSM's settings name no program to run");
    return false;
  }
  s.take("appparameters", params);
  JavaCommand c;
  c.programSetting = "Application";
  c.program = app.text;
  c.argumentsSetting = "AppParameters";
  if (s.take("appdirectory", dir)) c.workingDirectory = dir.text;
  SplitCommandLine split = splitWindowsCommandLine(params.text);
  if (!split.ok) {
    r.fail("AppParameters: " + split.error);
    return false;
  }
  c.arguments = split.arguments;
  importJavaCommand(c, readJar, r);
  if (!dir.text.empty()) r.keep("AppDirectory", dir.text, "workingDirectory", dir.text);
  return r.ok;
}

void mapEnvironment(NssmService& s, ImportResult& r) {
  for (const char* name : {"appenvironment", "appenvironmentextra"}) {
    NssmSetting v;
    if (!s.take(name, v)) continue;
    ImportJson env = r.fields.count("environment") ? r.fields["environment"] : ImportJson::object();
    for (const std::string& item : v.items) {
      size_t eq = item.find('=', 1);
      if (eq == std::string::npos) {
        r.drop(v.name, item, "not NAME=value");
        continue;
      }
      env[item.substr(0, eq)] = item.substr(eq + 1);
    }
    if (std::string(name) == "appenvironment") {
      r.change(v.name, itemsText(v), "environment", env,
               "NSSM replaces the whole environment with these; here they are added to it");
    } else {
      r.keep(v.name, itemsText(v), "environment", env);
    }
  }
}

void mapOutput(NssmService& s, ImportResult& r) {
  NssmSetting out, err, rotate;
  bool hasOut = s.take("appstdout", out), hasErr = s.take("appstderr", err);
  if (hasOut) r.keep(out.name, out.text, "stdoutFile", out.text);
  else r.writeDefault("AppStdout", "stdoutRedirect", 0, "NSSM does not keep the output without AppStdout");
  if (hasErr) r.keep(err.name, err.text, "stderrFile", err.text);
  else r.writeDefault("AppStderr", "stderrRedirect", 0, "NSSM does not keep the error output without AppStderr");
  uint64_t bytes = numberOr(s, "approtatebytes", 0), seconds = numberOr(s, "approtateseconds", 0);
  bool online = numberOr(s, "approtateonline", 0) != 0;
  NssmSetting ignored;
  for (const char* n : {"approtatebytes", "approtateseconds", "approtateonline", "approtatebyteshigh", "approtatedelay"}) s.take(n, ignored);
  if (!s.take("approtatefiles", rotate) || rotate.text == "0" || (!hasOut && !hasErr)) return;
  ImportJson v = {{"keep", 999}};
  std::string why = "NSSM keeps every rotated file; here at most 999";
  if (!online) why += "; NSSM rotates only when the service starts (AppRotateOnline 0), here also while it runs";
  if (seconds != 0) {
    v["every"] = seconds <= 3600 ? "hour" : "day";
    if (seconds != 3600 && seconds != 86400) why += "; every " + std::to_string(seconds) + " s becomes every " + v["every"].get<std::string>();
  }
  if (bytes != 0) v["maxBytes"] = std::max<uint64_t>(bytes, 1024);
  if (bytes == 0 && seconds == 0) return r.drop(rotate.name, rotate.text, "rotation at each start only has no counterpart");
  r.change("AppRotateFiles", "bytes " + std::to_string(bytes) + ", seconds " + std::to_string(seconds), "outputRotation", v, why);
}

void mapExit(NssmService& s, ImportResult& r) {
  std::string action = s.exitActions.count("default") ? s.exitActions["default"] : std::string();
  uint64_t delayMs = numberOr(s, "apprestartdelay", 0);
  NssmSetting ignored;
  s.take("apprestartdelay", ignored);
  for (const auto& [code, what] : s.exitActions) {
    if (code != "default") r.drop("AppExit " + code, what, "actions for single exit codes have no counterpart: the failure actions apply to every failure");
  }
  std::string lower = asciiLower(action);
  if (action.empty() || lower == "restart") {
    std::string why = "NSSM restarts the program after every exit; here the service manager restarts the service after a failure";
    if (action.empty()) {
      importRestarts("AppExit (not set: Restart)", "", secondsFromMilliseconds(delayMs), 0, 24, why, r);
    } else {
      importRestarts("AppExit Default", action, secondsFromMilliseconds(delayMs), 0, 24, why, r);
    }
    return;
  }
  if (lower == "exit" || lower == "ignore") {
    return r.drop("AppExit Default", action, lower == "exit" ? "the service stops when the program ends, as here" : "a program that ended is not waited for here: the service stops");
  }
  r.drop("AppExit Default", action, "no counterpart");
}

void mapStop(NssmService& s, ImportResult& r) {
  uint64_t skip = numberOr(s, "appstopmethodskip", 0);
  uint64_t ms = 0;
  std::string given;
  for (const auto& [name, bit] : {std::pair<const char*, uint64_t>{"appstopmethodconsole", 1}, {"appstopmethodwindow", 2},
                                  {"appstopmethodthreads", 4}}) {
    uint64_t wait = numberOr(s, name, 1500);
    if ((skip & bit) == 0) ms += wait;
    NssmSetting v;
    if (s.take(name, v)) given += (given.empty() ? "" : ", ") + v.name + " " + v.text;
  }
  NssmSetting v;
  if (s.take("appstopmethodskip", v)) given += (given.empty() ? "" : ", ") + v.name + " " + v.text;
  std::string why = "NSSM kills the program after its stop methods' waits (1.5 s each by default); here the VM is "
                    "asked to exit and given that long";
  uint64_t seconds = std::max<uint64_t>(secondsFromMilliseconds(ms), 1);
  if (given.empty()) return r.writeDefault("AppStopMethod*", "stopTimeoutSeconds", seconds, why);
  r.change("AppStopMethod*", given, "stopTimeoutSeconds", seconds, why);
}

void mapService(NssmService& s, ImportResult& r) {
  NssmSetting v;
  if (s.take("displayname", v)) r.keep(v.name, v.text, "displayName", v.text);
  if (s.take("description", v)) r.keep(v.name, v.text, "serviceDescription", v.text);
  if (s.take("dependonservice", v)) {
    ImportJson deps = ImportJson::array();
    for (const std::string& d : v.items) deps.push_back(d);
    r.keep(v.name, itemsText(v), "serviceDependencies", deps);
  }
  bool delayed = numberOr(s, "delayedautostart", 0) != 0;
  NssmSetting d;
  s.take("delayedautostart", d);
  if (s.take("start", v)) {
    uint64_t type = 0;
    readNumber(v.text, type);
    importStartType(v.name, v.text, uint32_t(type), delayed, r);
  } else {
    r.writeDefault("Start", "executableType", 4, "NSSM installs for automatic start by default");
  }
  if (s.take("objectname", v)) {
    importAccount(v.name, v.text, s.name, r);
    if (!v.items.empty()) dropPassword("ObjectName (password)", r);
  }
  if (s.take("type", v)) {
    if (v.text == "272" || asciiLower(v.text).find("interactive") != std::string::npos) {
      r.keep(v.name, v.text, "interactive", true);
    } else {
      r.drop(v.name, v.text, "the service runs in its own process, as here");
    }
  }
}

ImportResult mapNssm(NssmService& s, const JarReader& readJar, const std::string& kind) {
  ImportResult r;
  r.sourceKind = kind;
  r.keep("service", s.name, "serviceName", s.name);
  if (!mapJava(s, readJar, r)) return r;
  mapService(s, r);
  mapEnvironment(s, r);
  mapOutput(s, r);
  mapExit(s, r);
  mapStop(s, r);
  for (const auto& [lower, v] : s.values) {
    auto known = droppedSettings().find(lower);
    std::string why = known != droppedSettings().end() ? known->second : std::string("no counterpart");
    if (!why.empty()) r.drop(v.name, itemsText(v), why);
  }
  return r;
}

void addRegistryValue(const RegValue& v, NssmService& s) {
  NssmSetting set{v.name, v.text, v.items};
  if (v.type == RegType::dword || v.type == RegType::qword) set.text = std::to_string(v.number);
  if (v.type == RegType::binary) set.text = "(binary)";
  s.values[asciiLower(v.name)] = set;
}

// Start type names of `nssm set NAME Start`.
std::string startNumber(const std::string& name) {
  std::string n = asciiLower(name);
  if (n == "service_auto_start" || n == "service_delayed_auto_start") return "2";
  if (n == "service_demand_start") return "3";
  if (n == "service_disabled") return "4";
  return name;
}

// One `nssm install` or `nssm set` line.
void addScriptLine(const std::vector<std::string>& w, NssmService& s) {
  if (asciiLower(w[1]) == "install") {
    if (w.size() > 3) s.values["application"] = {"Application", w[3], {}};
    std::string params;
    for (size_t i = 4; i < w.size(); ++i) params += (params.empty() ? "" : " ") + w[i];
    if (w.size() > 4) s.values["appparameters"] = {"AppParameters", params, {}};
    return;
  }
  if (w.size() < 4) return;
  std::string lower = asciiLower(w[3]);
  std::vector<std::string> rest(w.begin() + 4, w.end());
  if (asciiLower(w[1]) == "reset") {
    s.values.erase(lower);
    return;
  }
  if (lower == "appexit" && rest.size() >= 2) {
    s.exitActions[asciiLower(rest[0])] = rest[1];
    return;
  }
  NssmSetting set{w[3], {}, {}};
  for (const std::string& a : rest) set.text += (set.text.empty() ? "" : " ") + a;
  if (lower == "appenvironment" || lower == "appenvironmentextra" || lower == "dependonservice") set.items = rest;
  if (lower == "objectname" && rest.size() >= 2) {
    set.text = rest[0];
    set.items = {"(password)"};
  }
  if (lower == "start" || lower == "delayedautostart") set.text = lower == "start" ? startNumber(set.text) : set.text;
  if (lower == "start" && asciiLower(rest.empty() ? "" : rest[0]) == "service_delayed_auto_start") {
    s.values["delayedautostart"] = {"Start", "1", {}};
  }
  s.values[lower] = set;
}

}  // namespace

ImportResult importNssmRegistry(const RegExport& reg, const JarReader& readJar) {
  NssmService s;
  const RegKey* params = nullptr;
  for (const RegKey& k : reg.keys) {
    std::string lower = asciiLower(k.path);
    if (lower.size() > 11 && lower.compare(lower.size() - 11, 11, "\\parameters") == 0 && k.find("Application")) {
      params = &k;
      break;
    }
  }
  if (!params) {
    ImportResult r;
    r.fail("no key ending in \\Parameters holds an Application value: not NSSM's settings of a service");
    return r;
  }
  std::string servicePath = params->path.substr(0, params->path.size() - 11);
  s.name = servicePath.substr(servicePath.find_last_of('\\') + 1);
  for (const RegKey& k : reg.keys) {
    if (asciiLower(k.path) == asciiLower(servicePath) || &k == params) {
      for (const RegValue& v : k.values) addRegistryValue(v, s);
    }
    if (asciiLower(k.path) == asciiLower(params->path + "\\AppExit")) {
      for (const RegValue& v : k.values) s.exitActions[v.name.empty() ? "default" : asciiLower(v.name)] = v.text;
    }
  }
  return mapNssm(s, readJar, "NSSM's registry settings of " + s.name);
}

ImportResult importNssmScript(std::string_view text, const JarReader& readJar) {
  ImportResult r;
  ScriptRead script = readCommandScript(text);
  if (!script.ok) {
    r.fail(script.error);
    return r;
  }
  NssmService s;
  for (const ScriptCommand& c : script.commands) {
    if (c.words.size() < 3) continue;
    std::string verb = asciiLower(c.words[1]);
    if (programStem(c.words[0]) != "nssm" || (verb != "install" && verb != "set" && verb != "reset")) continue;
    if (s.name.empty()) s.name = c.words[2];
    if (asciiLower(c.words[2]) != asciiLower(s.name)) {
      r.drop("line " + std::to_string(c.line), c.words[2], "a second service; import it on its own");
      continue;
    }
    addScriptLine(c.words, s);
  }
  if (s.name.empty()) {
    r.fail("no `nssm install` or `nssm set` line: not an NSSM set-up");
    return r;
  }
  ImportResult mapped = mapNssm(s, readJar, "NSSM command lines for " + s.name);
  mapped.notes.insert(mapped.notes.begin(), r.notes.begin(), r.notes.end());
  return mapped;
}
