#include <cctype>
#include <cstdio>
#include <map>

#include "import/command_lines.h"
#include "import/import_common.h"
#include "import/peer_import.h"
#include "import/xml_tree.h"

namespace {

// What the elements say, gathered before the fields are made.
struct WinswService {
  std::string id, executable, arguments, startArguments, workingDirectory, logPath, logMode;
  bool hasArguments = false, hasStartArguments = false, hasStopTimeout = false, hasLog = false;
  std::vector<std::string> argumentList, startArgumentList;
  const XmlElement* log = nullptr;
  const XmlElement* serviceAccount = nullptr;
  std::vector<std::pair<std::string, uint64_t>> failures;  // action, delay in ms
  std::string failuresGiven;
  uint64_t resetMs = 24ull * 3600 * 1000;
  ImportJson environment = ImportJson::object();
  ImportJson dependencies = ImportJson::array();
};

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  size_t e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Multi-line <arguments> of v3 are one command line.
std::string oneLine(std::string s) {
  for (char& c : s) c = c == '\r' || c == '\n' || c == '\t' ? ' ' : c;
  return s;
}

std::string tag(const char* name) { return "<" + std::string(name) + ">"; }

bool readBool(const std::string& text) { return text.empty() || text == "true" || text == "1"; }

// Elements without a counterpart, and why.
const std::map<std::string, std::string>& unsupportedElements() {
  static const std::map<std::string, std::string> table = {
      {"priority", "the process priority is not a setting here"},
      {"beeponshutdown", "no counterpart"},
      {"download", "files are not downloaded at start: include them with \"includedFiles\" or install them beside the executable"},
      {"extensions", "WinSW's extensions have no counterpart in a launcher that hosts the VM"},
      {"waithint", "the launcher reports its own progress to the service manager"},
      {"sleeptime", "the launcher reports its own progress to the service manager"},
      {"stopparentprocessfirst", "the VM runs inside the service process: there is no child process tree"},
      {"hidewindow", "the VM runs inside the service process and has no window"},
      {"autoRefresh", "the settings are in the executable: rebuild it and run /configure"},
      {"securityDescriptor", "no counterpart"},
      {"sharedDirectoryMapping", "no counterpart"},
      {"prestart", "no programs are run around a start or stop"},
      {"poststart", "no programs are run around a start or stop"},
      {"prestop", "no programs are run around a start or stop"},
      {"poststop", "no programs are run around a start or stop"},
      {"stopexecutable", "a stop program has no counterpart: the VM is stopped with System.exit(0), or a \"stopMethod\""},
      {"stoparguments", "a stop program has no counterpart: the VM is stopped with System.exit(0), or a \"stopMethod\""},
      {"stopargument", "a stop program has no counterpart: the VM is stopped with System.exit(0), or a \"stopMethod\""},
  };
  return table;
}

void readFailure(const XmlElement& n, WinswService& s, ImportResult& r) {
  std::string action = n.attribute("action");
  std::string delay = n.attribute("delay");
  uint64_t ms = 0;
  if (!delay.empty() && !parseWinswDuration(delay, ms)) {
    return r.drop("<onfailure>", delay, "a delay WinSW would not read");
  }
  s.failures.emplace_back(action, ms);
  s.failuresGiven += (s.failuresGiven.empty() ? "" : ", ") + action + (delay.empty() ? "" : " after " + delay);
}

// The elements that become fields as they are read.
bool readSimpleElement(const std::string& name, const std::string& text, WinswService& s, ImportResult& r) {
  if (name == "id") {
    s.id = text;
    r.keep(tag("id"), text, "serviceName", text);
  } else if (name == "name") {
    r.keep(tag("name"), text, "displayName", text);
  } else if (name == "description") {
    r.keep(tag("description"), text, "serviceDescription", text);
  } else if (name == "depend") {
    s.dependencies.push_back(text);
  } else if (name == "startmode") {
    std::string mode = asciiLower(text);
    uint32_t type = mode == "automatic" ? 2 : mode == "manual" ? 3 : mode == "disabled" ? 4 : 0;
    importStartType(tag("startmode"), text, type, false, r);
  } else if (name == "delayedAutoStart") {
    r.keep(tag("delayedAutoStart"), text, "delayedAutoStart", readBool(text));
  } else if (name == "interactive") {
    r.keep(tag("interactive"), text, "interactive", readBool(text));
  } else if (name == "resetfailure") {
    if (!parseWinswDuration(text, s.resetMs)) r.drop(tag("resetfailure"), text, "a duration WinSW would not read");
  } else if (name == "preshutdown") {
    if (readBool(text) && !r.fields.count("preshutdownTimeoutSeconds")) {
      r.change(tag("preshutdown"), text, "preshutdownTimeoutSeconds", 180, "WinSW's default pre-shutdown time-out, 3 minutes");
    }
  } else {
    return false;
  }
  return true;
}

void readTimeout(const std::string& name, const std::string& text, ImportResult& r) {
  uint64_t ms = 0;
  if (!parseWinswDuration(text, ms)) return r.drop(tag(name.c_str()), text, "a duration WinSW would not read");
  uint64_t s = secondsFromMilliseconds(ms);
  if (name == "stoptimeout") {
    if (s > 86400) return r.drop(tag("stoptimeout"), text, "over a day, the longest stop time-out here");
    return r.keep(tag("stoptimeout"), text, "stopTimeoutSeconds", s);
  }
  if (s < 1 || s > 3600) return r.drop(tag(name.c_str()), text, "the pre-shutdown time-out is 1 to 3600 seconds here");
  r.keep(tag(name.c_str()), text, "preshutdownTimeoutSeconds", s);
}

void readElement(const XmlElement& n, WinswService& s, ImportResult& r) {
  const std::string& name = n.name;
  std::string text = trimmed(n.text);
  if (readSimpleElement(name, text, s, r)) return;
  if (name == "executable") {
    s.executable = text;
  } else if (name == "arguments" || name == "startarguments") {
    (name == "arguments" ? s.arguments : s.startArguments) = oneLine(n.text);
    (name == "arguments" ? s.hasArguments : s.hasStartArguments) = true;
  } else if (name == "argument" || name == "startargument") {
    (name == "argument" ? s.argumentList : s.startArgumentList).push_back(n.text);
  } else if (name == "workingdirectory") {
    s.workingDirectory = text;
  } else if (name == "env") {
    s.environment[n.attribute("name")] = n.attribute("value");
  } else if (name == "serviceaccount") {
    s.serviceAccount = &n;
  } else if (name == "onfailure") {
    readFailure(n, s, r);
  } else if (name == "stoptimeout" || name == "preshutdownTimeout") {
    readTimeout(name, text, r);
  } else if (name == "logpath") {
    s.logPath = text;
  } else if (name == "log" || name == "logmode") {
    s.hasLog = true;
    s.log = &n;
    s.logMode = name == "logmode" ? text : n.attribute("mode", "append");
  } else if (unsupportedElements().count(name)) {
    r.drop(tag(name.c_str()), text, unsupportedElements().at(name));
  } else {
    r.drop(tag(name.c_str()), text, "not a WinSW setting");
  }
}

void finishAccount(const WinswService& s, ImportResult& r) {
  const XmlElement* a = s.serviceAccount;
  if (!a) return;
  std::string user = trimmed(a->childText("username"));
  if (user.empty()) {
    std::string domain = trimmed(a->childText("domain"));
    user = trimmed(a->childText("user"));
    if (!domain.empty() && !user.empty()) user = domain + "\\" + user;
  }
  if (user.empty()) return r.drop("<serviceaccount>", "", "names no user");
  importAccount("<serviceaccount>", user, s.id, r);
  if (a->child("password")) dropPassword("<serviceaccount>/<password>", r);
  if (a->child("allowservicelogon")) {
    r.drop("<serviceaccount>/<allowservicelogon>", a->childText("allowservicelogon"),
           "/install grants \"Log on as a service\" to a user account that lacks it");
  }
  if (a->child("prompt")) r.drop("<serviceaccount>/<prompt>", a->childText("prompt"), "/install asks for a user account's password");
}

void finishFailures(const WinswService& s, ImportResult& r) {
  if (s.failures.empty()) return;
  size_t restarts = 0;
  while (restarts < s.failures.size() && s.failures[restarts].first == "restart") ++restarts;
  std::string why;
  for (size_t i = restarts; i < s.failures.size(); ++i) {
    why += (why.empty() ? "" : "; ") + std::string("\"") + s.failures[i].first + "\" after " +
           std::to_string(restarts) + " restarts is not among the failure actions here";
  }
  if (restarts == 0) return r.drop("<onfailure>", s.failuresGiven, why);
  for (size_t i = 1; i < restarts; ++i) {
    if (s.failures[i].second != s.failures[0].second) why += (why.empty() ? "" : "; ") + std::string("every restart waits as long as the first");
  }
  uint32_t most = restarts == s.failures.size() ? 0 : uint32_t(restarts);  // the last action repeats
  uint64_t hours = (s.resetMs + 3599999) / 3600000;
  importRestarts("<onfailure>", s.failuresGiven, secondsFromMilliseconds(s.failures[0].second), most, hours, why, r);
}

// Rotation settings of <log>: sizes in KB, a time pattern.
void finishRotation(const WinswService& s, ImportResult& r) {
  std::string mode = s.logMode;
  std::string setting = "<log mode=\"" + mode + "\">";
  uint64_t kb = 10 * 1024, keep = 8;
  if (mode == "rotate") return r.change(setting, mode, "outputRotation", ImportJson{{"maxBytes", kb * 1024}, {"keep", keep}}, "10 MB, 8 files, as WinSW rotates");
  const XmlElement* l = s.log;
  if (l && l->child("sizeThreshold")) readNumber(trimmed(l->childText("sizeThreshold")), kb);
  if (l && l->child("keepFiles")) readNumber(trimmed(l->childText("keepFiles")), keep);
  kb = std::max<uint64_t>(kb, 1);
  keep = std::min<uint64_t>(std::max<uint64_t>(keep, 1), 999);
  std::string pattern = l ? trimmed(l->childText("pattern")) : std::string();
  ImportJson v = ImportJson::object();
  if (mode == "roll-by-time" || mode == "roll-by-size-time") {
    v["every"] = pattern.find('H') != std::string::npos ? "hour" : "day";
    v["keep"] = 999;
  }
  if (mode == "roll-by-size" || mode == "roll-by-size-time") {
    v["maxBytes"] = kb * 1024;
    v["keep"] = mode == "roll-by-size" ? keep : 999;
  }
  if (v.empty()) return;
  if (!v.contains("every")) return r.keep(setting, mode, "outputRotation", v);
  r.change(setting, pattern, "outputRotation", v,
           "a file per " + v["every"].get<std::string>() + " (pattern " + pattern + "); WinSW keeps every file, here at most 999");
}

void finishLog(const WinswService& s, ImportResult& r) {
  std::string mode = s.hasLog ? s.logMode : "append";
  std::string setting = s.hasLog ? "<log mode=\"" + mode + "\">" : "<log>";
  if (mode == "none" || mode == "ignore") {
    r.keep(setting, mode, "stdoutRedirect", 0);
    return r.keep(setting, mode, "stderrRedirect", 0);
  }
  std::string dir = launcherPath(s.logPath.empty() ? "%BASE%" : s.logPath, true);
  std::string prefix = dir == "." ? std::string() : dir + "\\";
  std::string why = s.hasLog ? "" : "WinSW appends the output to <id>.out.log and <id>.err.log in the log folder";
  if (mode == "reset") why = "WinSW empties the files at each start; here output is appended";
  if (mode == "roll") why = "WinSW keeps one .old file per start; here the files are appended to: add outputRotation to rotate them";
  if (!s.logPath.empty()) r.keep("<logpath>", s.logPath, "stdoutFile", prefix + s.id + ".out.log");
  if (why.empty()) {
    r.keep(setting, mode, "stdoutFile", prefix + s.id + ".out.log");
    r.keep(setting, mode, "stderrFile", prefix + s.id + ".err.log");
  } else if (!s.hasLog) {
    r.writeDefault(setting, "stdoutFile", prefix + s.id + ".out.log", why);
    r.writeDefault(setting, "stderrFile", prefix + s.id + ".err.log", why);
  } else {
    r.change(setting, mode, "stdoutFile", prefix + s.id + ".out.log", why);
    r.change(setting, mode, "stderrFile", prefix + s.id + ".err.log", why);
  }
  finishRotation(s, r);
}

bool finishJava(const WinswService& s, const JarReader& readJar, ImportResult& r) {
  if (s.executable.empty()) {
    r.fail("<executable> is missing: the configuration names no program to run");
    return false;
  }
  JavaCommand c;
  c.programSetting = "<executable>";
  c.program = s.executable;
  c.winswBase = true;
  c.workingDirectory = s.workingDirectory.empty() ? std::string() : launcherPath(s.workingDirectory, true);
  if (!s.startArgumentList.empty() || !s.argumentList.empty()) {
    c.argumentsSetting = s.startArgumentList.empty() ? "<argument>" : "<startargument>";
    c.arguments = s.startArgumentList.empty() ? s.argumentList : s.startArgumentList;
  } else {
    c.argumentsSetting = s.hasStartArguments ? "<startarguments>" : "<arguments>";
    SplitCommandLine split = splitWindowsCommandLine(s.hasStartArguments ? s.startArguments : s.arguments);
    if (!split.ok) {
      r.fail(c.argumentsSetting + ": " + split.error);
      return false;
    }
    c.arguments = split.arguments;
  }
  importJavaCommand(c, readJar, r);
  if (!s.workingDirectory.empty()) r.keep("<workingdirectory>", s.workingDirectory, "workingDirectory", c.workingDirectory);
  return r.ok;
}

void finishDefaults(const WinswService& s, ImportResult& r) {
  ImportJson env = ImportJson::object();
  bool base = false;
  for (const auto& [name, value] : s.environment.items()) {
    env[name] = environmentValue(value.get<std::string>());
    base = base || env[name] != value;
  }
  std::string where = s.workingDirectory.empty() || launcherPath(s.workingDirectory, true) == "."
                          ? std::string()
                          : "; <workingdirectory> is another folder, so write these paths out in full";
  if (base) {
    r.change("<env>", "", "environment", env, "%BASE% written relative to the working directory" + where);
  } else if (!env.empty()) {
    r.keep("<env>", "", "environment", env);
  }
  if (!s.dependencies.empty()) r.keep("<depend>", "", "serviceDependencies", s.dependencies);
  if (!r.fields.count("executableType")) {
    r.writeDefault("<startmode>", "executableType", 4, "WinSW installs for automatic start by default");
  }
  if (!r.fields.count("stopTimeoutSeconds")) {
    r.writeDefault("<stoptimeout>", "stopTimeoutSeconds", 15,
                   "WinSW ends the program 15 s after asking it to stop; without this the service would wait for ever");
  }
}

}  // namespace

bool parseWinswDuration(std::string_view text, uint64_t& ms) {
  std::string t = trimmed(std::string(text));
  size_t digits = 0;
  while (digits < t.size() && std::isdigit(static_cast<unsigned char>(t[digits]))) ++digits;
  uint64_t n = 0;
  if (digits == 0 || digits > 12 || !readNumber(t.substr(0, digits), n)) return false;
  if (digits < t.size() && t[digits] == ':') {  // hh:mm:ss
    unsigned h = 0, m = 0, s = 0;
    char extra = 0;
    if (std::sscanf(t.c_str(), "%u:%u:%u%c", &h, &m, &s, &extra) != 3 || m > 59 || s > 59 || h > 1000000) return false;
    ms = (uint64_t(h) * 3600 + m * 60 + s) * 1000;
    return true;
  }
  std::string unit = asciiLower(trimmed(t.substr(digits)));
  static const std::map<std::string, uint64_t> units = {
      {"", 1}, {"ms", 1}, {"sec", 1000}, {"secs", 1000}, {"s", 1000}, {"min", 60000}, {"mins", 60000},
      {"hour", 3600000}, {"hours", 3600000}, {"day", 86400000}, {"days", 86400000}};
  auto u = units.find(unit);
  if (u == units.end()) return false;
  ms = n * u->second;
  return true;
}

ImportResult importWinsw(std::string_view xml, const JarReader& readJar) {
  ImportResult r;
  r.sourceKind = "a WinSW configuration";
  XmlRead doc = readXml(xml);
  if (!doc.ok) {
    r.fail(doc.error);
    return r;
  }
  if (doc.root.name != "service" && doc.root.name != "configuration") {
    r.fail("the root element is <" + doc.root.name + ">, not <service>: not a WinSW configuration");
    return r;
  }
  WinswService s;
  for (const XmlElement& n : doc.root.children) readElement(n, s, r);
  if (s.id.empty()) r.fail("<id> is missing: the configuration names no service");
  if (!r.ok || !finishJava(s, readJar, r)) return r;
  finishAccount(s, r);
  finishFailures(s, r);
  finishLog(s, r);
  finishDefaults(s, r);
  return r;
}
