#include <algorithm>
#include <cctype>
#include <map>
#include <tuple>

#include "import/command_lines.h"
#include "import/import_common.h"
#include "import/peer_import.h"

namespace {

struct ProcrunOption {
  std::string name;  // as the source spells it: "--JvmMx", "Java\\Options"
  std::string text;
  std::vector<std::string> items;
  bool isList = false;
};

struct ProcrunService {
  std::string name;
  bool installing = false;  // //IS//: procrun's install defaults apply
  std::map<std::string, ProcrunOption> options;  // by lower-case option name
  bool take(const std::string& lower, ProcrunOption& out) { return takeSetting(options, lower, out); }
};

bool isListOption(const std::string& lower) {
  return lower == "jvmoptions" || lower == "jvmoptions9" || lower == "startparams" || lower == "stopparams" ||
         lower == "environment" || lower == "dependson";
}

// The options procrun also takes from PR_<OPTION> variables.
bool isProcrunOption(const std::string& lower) {
  static const char* const names[] = {
      "description", "displayname", "install", "servicepassword", "serviceuser", "startup", "type", "dependson",
      "environment", "libpath", "librarypath", "javahome", "jvm", "jvmoptions", "jvmoptions9", "classpath",
      "jvmms", "jvmmx", "jvmss", "startmode", "startimage", "startpath", "startclass", "startmethod",
      "startparams", "stopmode", "stopimage", "stoppath", "stopclass", "stopmethod", "stopparams",
      "stoptimeout", "logpath", "logprefix", "loglevel", "logjnimessages", "stdoutput", "stderror", "pidfile"};
  for (const char* n : names) {
    if (lower == n) return true;
  }
  return false;
}

// An item that is only a %VARIABLE% the script never set.
bool isUnsetVariable(const std::string& item) {
  return item.size() > 2 && item.front() == '%' && item.back() == '%' &&
         item.find_first_of("% ", 1) == item.size() - 1;
}

// Splits a procrun list at ';' and '#' outside single quotes (which are
// removed). Items after an empty one are never read by procrun: they go to
// `lost`.
std::vector<std::string> splitProcrunList(const std::string& text, std::vector<std::string>& lost) {
  std::vector<std::string> items(1);
  bool quoted = false;
  for (char c : text) {
    if (c == '\'') {
      quoted = !quoted;
    } else if ((c == ';' || c == '#') && !quoted) {
      items.emplace_back();
    } else {
      items.back() += c;
    }
  }
  if (text.empty()) items.clear();
  if (!items.empty() && items.back().empty()) items.pop_back();  // a trailing separator ends the list
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].empty()) continue;
    lost.assign(items.begin() + long(i) + 1, items.end());
    items.resize(i);
    break;
  }
  return items;
}

void setOption(ProcrunService& s, const std::string& spelled, const std::string& name, const std::string& value,
               bool append, ImportResult& r) {
  std::string lower = asciiLower(name);
  ProcrunOption& o = s.options[lower];
  if (o.name.empty() || !append) o = ProcrunOption{spelled, {}, {}, isListOption(lower)};
  o.name = spelled;
  if (!o.isList) {
    o.text = value;
    return;
  }
  std::vector<std::string> lost;
  for (std::string& item : splitProcrunList(value, lost)) {
    if (!isUnsetVariable(item)) {
      o.items.push_back(item);
      continue;
    }
    r.drop(spelled, item, "a variable the script does not set: cmd leaves an item of nothing when it is unset");
  }
  o.text += (o.text.empty() ? "" : ";") + value;
  for (const std::string& l : lost) {
    r.drop(spelled, l, "procrun never passed this on: an empty item before it (';;' or a trailing ';') ends its list");
  }
}

// The options after //IS//NAME or //US//NAME (or `install NAME`).
bool readOptions(const std::vector<std::string>& w, size_t from, ProcrunService& s, ImportResult& r, int line) {
  for (size_t i = from; i < w.size(); ++i) {
    const std::string& a = w[i];
    bool append = a.rfind("++", 0) == 0;
    if (!append && a.rfind("--", 0) != 0) {
      r.fail("line " + std::to_string(line) + ": " + a + " is not a --Option or ++Option");
      return false;
    }
    size_t eq = a.find('=');
    std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    std::string value;
    if (eq != std::string::npos) {
      value = a.substr(eq + 1);
    } else if (i + 1 < w.size()) {
      value = w[++i];
    } else {
      r.fail("line " + std::to_string(line) + ": " + a + " has no value after it");
      return false;
    }
    setOption(s, a.substr(0, 2) + name, name, value, append, r);
  }
  return true;
}

std::string pick(ProcrunService& s, const char* lower, ProcrunOption& o) { return s.take(lower, o) ? o.text : std::string(); }

void mapRuntime(ProcrunService& s, ImportResult& r) {
  ProcrunOption jvm, home, mode;
  std::string jvmPath = pick(s, "jvm", jvm), javaHome = pick(s, "javahome", home);
  std::string startMode = asciiLower(pick(s, "startmode", mode));
  if (startMode == "exe") {
    return r.fail(mode.name + " exe: the service runs a program, not a Java class: only a Java application can be imported");
  }
  if (!mode.name.empty()) {
    r.drop(mode.name, mode.text, "the VM always runs inside the service process here");
  }
  if (!jvmPath.empty() && asciiLower(jvmPath) != "auto") {
    std::string h = homeOfJvmLibrary(jvmPath);
    if (h.empty()) return r.drop(jvm.name, jvmPath, "not a path ending in bin\\server\\jvm.dll: the runtime is searched for as by default");
    return r.keep(jvm.name, jvmPath, "jreSearchSequence", ImportJson::array({runtimeEntryForHome(h)}));
  }
  if (!javaHome.empty()) return r.keep(home.name, javaHome, "jreSearchSequence", ImportJson::array({runtimeEntryForHome(javaHome)}));
  r.drop(jvm.name.empty() ? "--Jvm" : jvm.name, jvmPath.empty() ? "auto" : jvmPath,
         "the runtime is searched for as by default: a jre folder beside the executable, the registry, JAVA_HOME, JDK_HOME");
}

void mapVmOptions(ProcrunService& s, ImportResult& r) {
  ImportJson vm = ImportJson::array();
  std::string given;
  ProcrunOption o;
  for (const char* name : {"jvmoptions", "jvmoptions9"}) {
    if (!s.take(name, o)) continue;
    for (const std::string& item : o.items) vm.push_back(launcherText(item, false, true));
    given += (given.empty() ? "" : ", ") + o.name;
    if (std::string(name) == "jvmoptions9") {
      r.drop(o.name, "", "given to every Java version below: procrun gives these to Java 9 and later only");
    }
  }
  for (const auto& [name, flag, unit] : {std::tuple<const char*, const char*, const char*>{"jvmms", "-Xms", "m"},
                                         {"jvmmx", "-Xmx", "m"}, {"jvmss", "-Xss", "k"}}) {
    if (!s.take(name, o)) continue;
    vm.push_back(flag + o.text + unit);
    given += (given.empty() ? "" : ", ") + o.name;
  }
  if (!vm.empty()) r.keep(given, "", "vmOptions", vm);
}

void mapStart(ProcrunService& s, ImportResult& r) {
  ProcrunOption o;
  if (s.take("classpath", o)) {
    ImportJson cp = ImportJson::array();
    std::vector<std::string> lost;
    for (const std::string& item : splitProcrunList(o.text, lost)) {
      if (!item.empty()) cp.push_back(classPathEntry(item));
    }
    r.keep(o.name, o.text, "classPath", cp);
  }
  if (s.take("startclass", o)) {
    r.keep(o.name, o.text, "mainClass", o.text);
  } else {
    r.writeDefault("--StartClass", "mainClass", "Main", "procrun's default start class");
  }
  if (s.take("startmethod", o) && o.text != "main") {
    r.drop(o.name, o.text, "the launcher calls the main class's main(String[]): give the class a main method that starts it");
  }
  if (s.take("startparams", o)) {
    std::vector<std::string> args;
    for (const std::string& a : o.items) args.push_back(launcherText(a, false, true));
    std::string text, why;
    if (!parameterText(args, text, why)) return r.fail(o.name + ": " + why);
    r.keep(o.name, o.text, "arguments", text);
  }
  if (s.take("startpath", o)) r.keep(o.name, o.text, "workingDirectory", o.text);
}

void mapStop(ProcrunService& s, ImportResult& r) {
  ProcrunOption cls, method, params, timeout, mode;
  uint64_t seconds = 0;
  bool hasTimeout = s.take("stoptimeout", timeout) && readNumber(timeout.text, seconds) && seconds != 0;
  if (!hasTimeout) seconds = 60;
  std::string stopMode = asciiLower(pick(s, "stopmode", mode));
  if (stopMode == "exe") r.drop(mode.name, mode.text, "a stop program has no counterpart: the VM is stopped with System.exit(0)");
  std::string c = pick(s, "stopclass", cls), m = pick(s, "stopmethod", method);
  s.take("stopparams", params);
  if (hasTimeout) r.keep(timeout.name, timeout.text, "stopTimeoutSeconds", seconds);
  else r.writeDefault("--StopTimeout", "stopTimeoutSeconds", seconds, "procrun waits 60 s for the stop when StopTimeout is 0 or not set");
  if (c.empty()) return;
  if (c == "java.lang.System" && (m == "exit" || m.empty())) {
    return r.drop(cls.name, c + "." + m, "the launcher ends the VM with System.exit(0) anyway");
  }
  ImportJson v = {{"class", c}, {"method", m.empty() ? "main" : m}, {"arguments", params.items}, {"timeoutSeconds", seconds}};
  std::string why = params.items.empty() ? "called as a method without parameters (()V); procrun passes an empty String[]" : "";
  if (why.empty()) return r.keep(cls.name, c + "." + v["method"].get<std::string>(), "stopMethod", v);
  r.change(cls.name, c + "." + v["method"].get<std::string>(), "stopMethod", v, why);
}

void mapAccountAndStart(ProcrunService& s, ImportResult& r) {
  ProcrunOption o;
  if (s.take("startup", o)) {
    std::string v = asciiLower(o.text);
    importStartType(o.name, o.text, v == "auto" || v == "delayed" ? 2 : v == "manual" ? 3 : v == "disabled" ? 4 : 0, v == "delayed", r);
  }
  if (s.take("serviceuser", o)) {
    importAccount(o.name, o.text, s.name, r);
  } else if (s.installing) {
    r.writeDefault("--ServiceUser", "serviceAccount", "LocalService", "procrun installs services to run as LocalService");
  }
  if (s.take("servicepassword", o)) dropPassword(o.name, r);
  ImportJson deps = ImportJson::array();
  std::string given;
  if (s.take("dependson", o)) {
    for (const std::string& d : o.items) deps.push_back(d);
    given = o.text;
  }
  if (s.installing) {
    for (const char* d : {"Tcpip", "Afd"}) {
      if (std::find(deps.begin(), deps.end(), ImportJson(d)) == deps.end()) deps.push_back(d);
    }
    r.writeDefault("++DependsOn", "serviceDependencies", deps, "procrun adds Tcpip and Afd when it installs a service");
  } else if (!deps.empty()) {
    r.keep(o.name, given, "serviceDependencies", deps);
  }
}

void mapService(ProcrunService& s, ImportResult& r) {
  ProcrunOption o;
  if (s.take("displayname", o)) r.keep(o.name, o.text, "displayName", o.text);
  if (s.take("description", o)) r.keep(o.name, o.text, "serviceDescription", o.text);
  if (s.take("type", o) && asciiLower(o.text) == "interactive") r.keep(o.name, o.text, "interactive", true);
  if (s.take("librarypath", o)) r.keep(o.name, o.text, "pathPrefix", ImportJson::array({o.text}));
  if (s.take("environment", o)) {
    ImportJson env = ImportJson::object();
    for (const std::string& item : o.items) {
      size_t eq = item.find('=', 1);
      if (eq == std::string::npos) {
        r.drop(o.name, item, "not NAME=value");
      } else {
        env[item.substr(0, eq)] = item.substr(eq + 1);
      }
    }
    if (!env.empty()) r.keep(o.name, o.text, "environment", env);
  }
  mapAccountAndStart(s, r);
}

void mapOutput(ProcrunService& s, ImportResult& r) {
  ProcrunOption path, o;
  std::string dir = pick(s, "logpath", path);
  bool daily = false;
  for (const auto& [name, field, redirect, stream] : {std::tuple<const char*, const char*, const char*, const char*>{
                                                          "stdoutput", "stdoutFile", "stdoutRedirect", "stdout"},
                                                      {"stderror", "stderrFile", "stderrRedirect", "stderr"}}) {
    if (!s.take(name, o) || o.text.empty()) {
      r.writeDefault(std::string("--") + (stream == std::string("stdout") ? "StdOutput" : "StdError"), redirect, 0,
                     "procrun does not keep this output unless told where");
      continue;
    }
    if (asciiLower(o.text) != "auto") {
      r.keep(o.name, o.text, field, o.text);
      continue;
    }
    std::string folder = dir.empty() ? std::string("%SystemRoot%\\System32\\LogFiles\\Apache") : dir;
    std::string file = folder + "\\" + asciiLower(s.name) + "-" + stream + ".log";
    r.change(o.name, o.text, field, file, "procrun's auto: a file per day in the log folder (see outputRotation)");
    daily = true;
  }
  if (!dir.empty()) r.drop(path.name, dir, "procrun's own log has no counterpart; the log folder is kept in the output files' paths");
  if (daily) {
    r.change("--StdOutput auto", "", "outputRotation", ImportJson{{"every", "day"}, {"keep", 999}},
             "procrun keeps every day's file; here at most 999");
  }
}

ImportResult mapProcrun(ProcrunService& s, const std::string& kind) {
  ImportResult r;
  r.sourceKind = kind;
  r.keep("service", s.name, "serviceName", s.name);
  mapRuntime(s, r);
  if (!r.ok) return r;
  mapVmOptions(s, r);
  mapStart(s, r);
  mapStop(s, r);
  mapService(s, r);
  mapOutput(s, r);
  for (const auto& [lower, o] : s.options) {
    bool ownLog = lower == "logprefix" || lower == "loglevel" || lower == "pidfile" || lower == "logjnimessages";
    r.drop(o.name, o.text, lower == "install" ? "the service's program is the built executable"
                           : ownLog           ? "procrun's own log has no counterpart"
                                              : "no counterpart");
  }
  return r;
}

// Where a procrun command starts its options: after //IS//NAME, //US//NAME,
// or a verb and the name; 0 when the command is not procrun's.
size_t procrunCommand(const std::vector<std::string>& w, std::string& name, bool& installing) {
  for (size_t i = 1; i < w.size() && i < 3; ++i) {
    std::string lower = asciiLower(w[i]);
    if (lower.rfind("//is//", 0) == 0 || lower.rfind("//us//", 0) == 0) {
      name = w[i].substr(6);
      installing = lower[2] == 'i';
      return i + 1;
    }
  }
  std::string verb = w.size() > 2 ? asciiLower(w[1]) : std::string();
  if (programStem(w[0]) == "prunsrv" && (verb == "install" || verb == "update")) {
    name = w[2];
    installing = verb == "install";
    return 3;
  }
  return 0;
}

// Registry values of procrun's keys, by subkey and value, as option names.
const std::map<std::string, std::string>& registryNames() {
  static const std::map<std::string, std::string> table = {
      {"java\\jvm", "Jvm"}, {"java\\classpath", "Classpath"}, {"java\\options", "JvmOptions"},
      {"java\\options9", "JvmOptions9"}, {"java\\jvmms", "JvmMs"}, {"java\\jvmmx", "JvmMx"},
      {"java\\jvmss", "JvmSs"}, {"java\\javahome", "JavaHome"}, {"start\\class", "StartClass"},
      {"start\\method", "StartMethod"}, {"start\\params", "StartParams"}, {"start\\mode", "StartMode"},
      {"start\\workingpath", "StartPath"}, {"start\\image", "StartImage"}, {"stop\\class", "StopClass"},
      {"stop\\method", "StopMethod"}, {"stop\\params", "StopParams"}, {"stop\\mode", "StopMode"},
      {"stop\\timeout", "StopTimeout"}, {"stop\\workingpath", "StopPath"}, {"stop\\image", "StopImage"},
      {"log\\path", "LogPath"}, {"log\\prefix", "LogPrefix"}, {"log\\level", "LogLevel"},
      {"log\\stdoutput", "StdOutput"}, {"log\\stderror", "StdError"}, {"log\\pidfile", "PidFile"},
      {"\\environment", "Environment"}, {"\\librarypath", "LibraryPath"}, {"\\type", "Type"},
      {"\\description", "Description"}, {"\\displayname", "DisplayName"}, {"\\serviceuser", "ServiceUser"},
      {"service\\displayname", "DisplayName"}, {"service\\description", "Description"},
      {"service\\objectname", "ServiceUser"}, {"service\\dependonservice", "DependsOn"},
  };
  return table;
}

void addRegistryValue(const std::string& section, const RegValue& v, ProcrunService& s, ImportResult& r) {
  auto it = registryNames().find(section + "\\" + asciiLower(v.name));
  std::string shown = section;
  if (!shown.empty()) shown[0] = char(std::toupper(static_cast<unsigned char>(shown[0])));
  std::string spelled = section == "service" ? v.name : "Parameters\\" + shown + (shown.empty() ? "" : "\\") + v.name;
  if (it == registryNames().end()) {
    if (section != "service") r.drop(spelled, v.text, "no counterpart");
    return;
  }
  ProcrunOption o{spelled, v.text, {}, v.type == RegType::multiString};
  if (v.type == RegType::dword || v.type == RegType::qword) o.text = std::to_string(v.number);
  if (o.isList) {
    o.items = v.items;
    for (size_t i = 0; i < o.items.size(); ++i) {
      if (!o.items[i].empty()) continue;
      for (size_t j = i + 1; j < o.items.size(); ++j) r.drop(o.name, o.items[j], "procrun never passed this on: an empty item before it ends its list");
      o.items.resize(i);
      break;
    }
    for (const std::string& item : o.items) o.text += (o.text.empty() ? "" : ";") + item;
  }
  s.options[asciiLower(it->second)] = o;
}

}  // namespace

ImportResult importProcrunScript(std::string_view text) {
  ImportResult r;
  ScriptRead script = readCommandScript(text);
  if (!script.ok) return r.fail(script.error), r;
  ProcrunService s;
  bool found = false;
  for (const ScriptCommand& c : script.commands) {
    std::string name;
    bool installing = false;
    size_t from = procrunCommand(c.words, name, installing);
    if (from == 0) continue;
    if (found && asciiLower(name) != asciiLower(s.name)) {
      r.drop("line " + std::to_string(c.line), name, "a second service; import it on its own");
      continue;
    }
    s.name = name;
    s.installing = s.installing || installing;
    found = true;
    if (!readOptions(c.words, from, s, r, c.line)) return r;
  }
  if (!found || s.name.empty()) return r.fail("no //IS//NAME or //US//NAME command line: not a procrun set-up"), r;
  for (const auto& [var, value] : script.variables) {
    if (var.rfind("PR_", 0) == 0 && isProcrunOption(asciiLower(var.substr(3)))) {
      setOption(s, var, var.substr(3), value, false, r);
    }
  }
  ImportResult mapped = mapProcrun(s, "procrun's command line for " + s.name);
  mapped.notes.insert(mapped.notes.begin(), r.notes.begin(), r.notes.end());
  return mapped;
}

ImportResult importProcrunRegistry(const RegExport& reg) {
  ImportResult r;
  ProcrunService s;
  std::string base;
  for (const RegKey& k : reg.keys) {
    std::string lower = asciiLower(k.path);
    size_t at = lower.find("\\procrun 2.0\\");
    if (at == std::string::npos) continue;
    std::string rest = k.path.substr(at + 13);
    size_t slash = rest.find('\\');
    if (s.name.empty()) s.name = rest.substr(0, slash);
    std::string sub = slash == std::string::npos ? std::string() : asciiLower(rest.substr(slash + 1));
    if (sub.rfind("parameters", 0) != 0) continue;
    std::string section = sub.size() > 11 ? sub.substr(11) : std::string();
    for (const RegValue& v : k.values) addRegistryValue(section, v, s, r);
  }
  if (s.name.empty()) return r.fail("no key below ...\\Procrun 2.0\\: not procrun's settings of a service"), r;
  if (const RegKey* svc = reg.keyEndingWith("\\Services\\" + s.name)) {
    for (const RegValue& v : svc->values) addRegistryValue("service", v, s, r);
    if (const RegValue* start = svc->find("Start")) {
      s.options["startup"] = {"Start", start->number == 2 ? "auto" : start->number == 3 ? "manual" : "disabled", {}, false};
    }
  }
  ImportResult mapped = mapProcrun(s, "procrun's registry settings of " + s.name);
  mapped.notes.insert(mapped.notes.begin(), r.notes.begin(), r.notes.end());
  return mapped;
}
