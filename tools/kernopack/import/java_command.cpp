#include "import/java_command.h"

#include <array>
#include <cctype>

#include "config/value_list.h"
#include "import/command_lines.h"
#include "import/reg_export.h"

namespace {

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

bool startsWithNoCase(std::string_view s, std::string_view p) {
  return s.size() >= p.size() && asciiLower(s.substr(0, p.size())) == asciiLower(p);
}

bool endsWithNoCase(std::string_view s, std::string_view p) {
  return s.size() >= p.size() && asciiLower(s.substr(s.size() - p.size())) == asciiLower(p);
}

bool isVariableName(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.' && c != '-' && c != '(' && c != ')') {
      return false;
    }
  }
  return true;
}

bool isAbsoluteWindowsPath(std::string_view p) {
  return (p.size() >= 2 && p[1] == ':') || startsWith(p, "\\") || startsWith(p, "/") || startsWith(p, "%");
}

// Options of the java launcher whose value is the next argument; a VM
// created through JNI takes them only in the "--name=value" form.
constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kSplitOptions = {{
    {"-p", "--module-path"},
    {"--module-path", "--module-path"},
    {"--upgrade-module-path", "--upgrade-module-path"},
    {"--add-modules", "--add-modules"},
    {"--limit-modules", "--limit-modules"},
    {"--add-reads", "--add-reads"},
    {"--add-exports", "--add-exports"},
    {"--add-opens", "--add-opens"},
    {"--patch-module", "--patch-module"},
    {"--enable-native-access", "--enable-native-access"},
    {"--illegal-access", "--illegal-access"},
}};

// Options only the java launcher knows: they ask it to print something or
// pick a launcher mode, and mean nothing to a VM created in the service.
constexpr std::array<std::string_view, 14> kLauncherOnly = {
    "-version", "--version", "-showversion", "--show-version", "-help", "--help", "-h", "-?",
    "-X", "--help-extra", "--dry-run", "-d32", "-d64", "--disable-@files"};

struct ParsedJava {
  std::vector<std::string> vmOptions;
  std::vector<std::string> changedOptions;  // two-word options joined, for the report
  bool hasClassPath = false;
  std::string classPath;
  std::string jar;
  std::string mainClass;
  std::vector<std::string> appArguments;
  std::string vmType;
};

// Reads one option at `i`; returns the index after it, or 0 with `why`.
size_t readJavaOption(const std::vector<std::string>& args, size_t i, ParsedJava& p, ImportResult& r,
                      const std::string& setting, std::string& why) {
  const std::string& a = args[i];
  auto next = [&](const char* what) -> const std::string* {
    if (i + 1 < args.size()) return &args[i + 1];
    why = a + " without " + what + " after it";
    return nullptr;
  };
  if (a == "-cp" || a == "-classpath" || a == "--class-path") {
    const std::string* v = next("a class path");
    if (!v) return 0;
    p.hasClassPath = true;
    p.classPath = *v;
    return i + 2;
  }
  if (startsWith(a, "--class-path=")) {
    p.hasClassPath = true;
    p.classPath = a.substr(13);
    return i + 1;
  }
  if (a == "-jar") {
    const std::string* v = next("a jar");
    if (!v) return 0;
    p.jar = *v;
    return i + 2;
  }
  if (a == "-m" || a == "--module" || startsWith(a, "--module=") || startsWith(a, "--source")) {
    why = a + ": the service runs a module or a source file; the launcher starts a main class from the class "
              "path (give the class with -cp and its name instead)";
    return 0;
  }
  for (const auto& [shortName, longName] : kSplitOptions) {
    if (a != shortName) continue;
    const std::string* v = next("a value");
    if (!v) return 0;
    p.vmOptions.push_back(std::string(longName) + "=" + *v);
    p.changedOptions.push_back(a + " " + *v);
    return i + 2;
  }
  if (a == "-server" || a == "-client") {
    p.vmType = a.substr(1);
    return i + 1;
  }
  for (std::string_view only : kLauncherOnly) {
    if (a == only) {
      r.drop(setting, a, "an option of the java launcher that a service's VM has no use for");
      return i + 1;
    }
  }
  if (startsWith(a, "-splash:") || startsWith(a, "@")) {
    r.drop(setting, a, startsWith(a, "@") ? "an argument file, which only the java launcher reads: copy its options into \"vmOptions\""
                                          : "a splash screen, which a service cannot show");
    return i + 1;
  }
  p.vmOptions.push_back(a);
  return i + 1;
}

bool parseJavaArguments(const std::vector<std::string>& args, ParsedJava& p, ImportResult& r,
                        const std::string& setting) {
  for (size_t i = 0; i < args.size();) {
    if (!p.jar.empty() || !p.mainClass.empty()) {
      p.appArguments.push_back(args[i++]);
      continue;
    }
    if (args[i].empty() || args[i][0] != '-' || args[i] == "-") {
      p.mainClass = args[i++];
      continue;
    }
    std::string why;
    size_t after = readJavaOption(args, i, p, r, setting, why);
    if (after == 0) {
      r.fail(setting + ": " + why);
      return false;
    }
    i = after;
  }
  if (p.jar.empty() && p.mainClass.empty()) {
    r.fail(setting + ": the java command line names no main class and no -jar");
    return false;
  }
  return true;
}

// Class path items relative to the working directory, made relative to the
// executable's directory (or absolute) as the description's are.
std::string classPathItem(const std::string& item, const JavaCommand& c) {
  std::string path = launcherPath(item, c.winswBase);
  if (isAbsoluteWindowsPath(path) || c.workingDirectory.empty() || c.workingDirectory == ".") return path;
  return c.workingDirectory + "\\" + path;
}

std::string jarDirectory(const std::string& jar) {
  size_t slash = jar.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : jar.substr(0, slash + 1);
}

void importJar(const ParsedJava& p, const JavaCommand& c, const JarReader& readJar, ImportResult& r) {
  std::string jar = classPathItem(p.jar, c);
  JarManifest m = readJar(launcherPath(p.jar, c.winswBase), jarCandidates(launcherPath(p.jar, c.winswBase), c.workingDirectory));
  if (!m.ok) return r.fail(c.argumentsSetting + ": -jar " + p.jar + ": " + m.error);
  if (m.mainClass.empty()) {
    return r.fail(c.argumentsSetting + ": -jar " + p.jar + ": its manifest has no Main-Class");
  }
  ImportJson cp = ImportJson::array({classPathEntry(jar)});
  std::string dir = jarDirectory(jar);
  for (const std::string& entry : m.classPath) {
    std::string item = dir + entry;
    for (char& ch : item) ch = ch == '/' ? '\\' : ch;
    cp.push_back(classPathEntry(item));
  }
  r.change(c.argumentsSetting, "-jar " + p.jar, "classPath", cp, "the jar and its manifest's Class-Path");
  r.change(c.argumentsSetting, "-jar " + p.jar, "mainClass", m.mainClass, "the jar's manifest's Main-Class");
}

void importClassPath(const ParsedJava& p, const JavaCommand& c, ImportResult& r) {
  ImportJson cp = ImportJson::array();
  if (!p.hasClassPath) {
    cp.push_back(c.workingDirectory.empty() ? std::string(".") : c.workingDirectory);
    r.writeDefault("-cp", "classPath", cp, "java's class path without -cp is the working directory");
    return;
  }
  for (std::string_view item : splitList(p.classPath, ';', EmptyItems::drop)) {
    cp.push_back(classPathEntry(classPathItem(std::string(item), c)));
  }
  r.keep(c.argumentsSetting, "-cp " + p.classPath, "classPath", cp);
}

}  // namespace

std::string launcherText(std::string_view text, bool winswBase, bool envRefs) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string_view::npos;
    std::string_view name = end == std::string_view::npos ? std::string_view() : text.substr(i + 1, end - i - 1);
    if (winswBase && asciiLower(name) == "base") {
      out += "%KERNO_EXEDIR%";
      i = end + 1;
      if (i < text.size() && (text[i] == '\\' || text[i] == '/')) ++i;
    } else if (envRefs && isVariableName(name) && !startsWithNoCase(name, "KERNO_") &&
               !startsWithNoCase(name, "BRINDLE_")) {
      out += "${" + std::string(name) + "}";
      i = end + 1;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string classPathEntry(std::string item) {
  if (item.size() >= 2 && std::isupper(static_cast<unsigned char>(item[0])) && (item[1] == '0' || item[1] == '1')) {
    item.insert(0, "./");
  }
  return item;
}

std::string environmentValue(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size();) {
    if (startsWithNoCase(value.substr(i), "%BASE%")) {
      out += '.';
      i += 6;
    } else {
      out += value[i++];
    }
  }
  return out;
}

std::string launcherPath(std::string_view path, bool winswBase) {
  if (winswBase && startsWithNoCase(path, "%BASE%")) {
    std::string_view rest = path.substr(6);
    while (!rest.empty() && (rest.front() == '\\' || rest.front() == '/')) rest.remove_prefix(1);
    return rest.empty() ? std::string(".") : std::string(rest);
  }
  return std::string(path);
}

std::vector<std::string> jarCandidates(const std::string& jar, const std::string& workingDirectory) {
  std::vector<std::string> out;
  auto add = [&out](std::string p) {
    for (char& c : p) c = c == '\\' ? '/' : c;
    while (!p.empty() && p.front() == '/') p.erase(0, 1);
    if (!p.empty() && p.find("..") == std::string::npos && p.find(':') == std::string::npos) {
      for (const std::string& o : out) {
        if (o == p) return;
      }
      out.push_back(p);
    }
  };
  if (!isAbsoluteWindowsPath(jar)) add(jar);
  std::string wd = workingDirectory;
  while (!wd.empty() && (wd.back() == '\\' || wd.back() == '/')) wd.pop_back();
  if (!wd.empty() && jar.size() > wd.size() + 1 && startsWithNoCase(jar, wd) &&
      (jar[wd.size()] == '\\' || jar[wd.size()] == '/')) {
    add(jar.substr(wd.size() + 1));
  }
  size_t slash = jar.find_last_of("\\/");
  add(slash == std::string::npos ? jar : jar.substr(slash + 1));
  return out;
}

bool parameterText(const std::vector<std::string>& args, std::string& text, std::string& why) {
  text.clear();
  for (const std::string& a : args) {
    if (!text.empty()) text += ' ';
    bool needs = a.empty() || a.find_first_of(" \"'") != std::string::npos;
    if (!needs) {
      text += a;
    } else if (a.find('"') == std::string::npos) {
      text += '"' + a + '"';
    } else if (a.find('\'') == std::string::npos) {
      text += '\'' + a + '\'';
    } else {
      why = "the argument " + a + " holds both kinds of quote, which the launcher's arguments cannot carry";
      return false;
    }
  }
  return true;
}

std::string runtimeEntryForHome(const std::string& home) {
  if (home.size() > 2 && home.front() == '%' && home.back() == '%' && isVariableName(home.substr(1, home.size() - 2))) {
    return "E" + home.substr(1, home.size() - 2);
  }
  return "A" + home;
}

std::string runtimeEntryForJava(const std::string& program, bool winswBase, std::string& note) {
  std::string path = launcherPath(program, winswBase);
  size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) {
    note = "java from PATH: the runtime is searched for as by default (a jre folder beside the executable, the "
           "registry, JAVA_HOME, JDK_HOME); an S entry would take java.exe from PATH, which whoever can write "
           "one of its folders decides";
    return {};
  }
  std::string dir = path.substr(0, slash);
  if (endsWithNoCase(dir, "\\bin") || endsWithNoCase(dir, "/bin")) return runtimeEntryForHome(dir.substr(0, dir.size() - 4));
  if (asciiLower(dir) == "bin") return "A.";
  note = "the runtime's home is taken to be the java program's own folder, which is not named bin";
  return runtimeEntryForHome(dir);
}

std::string homeOfJvmLibrary(const std::string& jvmDll) {
  std::string lower = asciiLower(jvmDll);
  for (const char* tail : {"\\bin\\server\\jvm.dll", "\\bin\\client\\jvm.dll", "\\bin\\jvm.dll", "/bin/server/jvm.dll"}) {
    if (endsWithNoCase(lower, tail)) return jvmDll.substr(0, jvmDll.size() - std::string_view(tail).size());
  }
  return {};
}

void importJavaCommand(const JavaCommand& c, const JarReader& readJar, ImportResult& r) {
  std::string stem = programStem(c.program);
  if (stem != "java" && stem != "javaw") {
    return r.fail(c.programSetting + ": the service runs " + c.program +
                  ", not java or javaw: only a Java application can be imported");
  }
  std::string note;
  std::string entry = runtimeEntryForJava(c.program, c.winswBase, note);
  if (entry.empty()) {
    r.drop(c.programSetting, c.program, note);
  } else if (note.empty()) {
    r.keep(c.programSetting, c.program, "jreSearchSequence", ImportJson::array({entry}));
  } else {
    r.change(c.programSetting, c.program, "jreSearchSequence", ImportJson::array({entry}), note);
  }
  ParsedJava p;
  if (!parseJavaArguments(c.arguments, p, r, c.argumentsSetting)) return;
  if (!p.vmType.empty()) {
    r.keep(c.argumentsSetting, "-" + p.vmType, "preferredVmType", p.vmType);
  }
  ImportJson vm = ImportJson::array();
  for (const std::string& o : p.vmOptions) vm.push_back(launcherText(o, c.winswBase, true));
  if (!p.changedOptions.empty()) {
    std::string given;
    for (const std::string& o : p.changedOptions) given += (given.empty() ? "" : ", ") + o;
    r.change(c.argumentsSetting, given, "vmOptions", vm,
             "each given to the VM as one option, in the --name=value form a VM created in a process takes");
  } else if (!vm.empty()) {
    r.keep(c.argumentsSetting, "", "vmOptions", vm);
  }
  if (!p.jar.empty()) {
    importJar(p, c, readJar, r);
  } else {
    importClassPath(p, c, r);
    r.keep(c.argumentsSetting, p.mainClass, "mainClass", p.mainClass);
  }
  if (!r.ok || p.appArguments.empty()) return;
  std::vector<std::string> converted;
  for (const std::string& a : p.appArguments) converted.push_back(launcherText(a, c.winswBase, true));
  std::string text, why;
  if (!parameterText(converted, text, why)) return r.fail(c.argumentsSetting + ": " + why);
  r.keep(c.argumentsSetting, "", "arguments", text);
}
