#include "launch/vm_options.h"

#include <algorithm>

#include "config/value_list.h"
#include "jvm/variables.h"

namespace {

constexpr char16_t kSpace = u' ';
constexpr std::size_t kNone = std::u16string_view::npos;

// What a refused class-path element shows of itself: enough to recognise it.
constexpr std::size_t kShownElementLength = 260;

std::size_t earliest(std::size_t a, std::size_t b) { return a < b ? a : b; }

bool hasPrefix(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

LaunchProblem wrongParameters() {
  LaunchProblem problem;
  problem.message = ConfigKey::MSG_WRONG_PARAMETERS;
  return problem;
}

// The class path under construction: whole elements or nothing.
struct ClassPathText {
  std::string& option;
  LaunchProblem& problem;

  // Appends `element` (with its closing ';' already in place); false with
  // the problem set when the option would grow past its limit.
  bool append(std::string_view element) {
    if (option.size() + element.size() <= kMaxClassPathOption) {
      option.append(element);
      return true;
    }
    std::string shown(element.substr(0, kShownElementLength));
    if (element.size() > kShownElementLength) shown += "...";
    problem = LaunchProblem{};
    problem.fixedText = "The class path is too long (more than " +
                        std::to_string(kMaxClassPathOption - kClassPathOptionPrefix.size()) +
                        " characters) at: " + shown;
    return false;
  }

  bool appendPath(std::string_view path) { return append(std::string(path) + ";"); }
};

// Appends every dir\*.ext; false for the result when the directory does not
// exist. `ok` turns false when the class path overflowed.
bool appendArchives(ClassPathText& cp, const ClassPathSystem& sys, const std::string& dir,
                    const char* ext, bool& ok) {
  if (!sys.pathExists(dir)) return false;
  for (const std::string& name : sys.listDirectory(dir, ext)) {
    if (ok && !cp.appendPath(sys.appendExeRelative(dir + "\\" + name))) ok = false;
  }
  return true;
}

// Whether the file name ends in `ext` (".jar"), letters compared without case.
bool hasExtension(std::string_view path, std::string_view ext) {
  if (path.size() <= ext.size()) return false;
  std::string_view tail = path.substr(path.size() - ext.size());
  for (std::size_t i = 0; i < ext.size(); ++i) {
    char c = tail[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != ext[i]) return false;
  }
  return true;
}

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return out;
}

LaunchProblem missing(ConfigKey message, std::string_view placeholder, const std::string& value) {
  LaunchProblem problem;
  problem.message = message;
  problem.placeholder = placeholder;
  problem.value = value;
  return problem;
}

}  // namespace

bool splitParameters(std::u16string_view text, std::vector<std::u16string>& out) {
  std::size_t s = 0;
  while (s < text.size()) {
    if (text[s] == kSpace) {
      ++s;
      continue;
    }
    std::size_t space = text.find(kSpace, s);
    std::size_t quote = earliest(text.find(u'"', s), text.find(u'\'', s));
    if (space != kNone && space < quote) {
      out.emplace_back(text.substr(s, space - s));
      s = space + 1;
      continue;
    }
    if (quote == kNone) {
      out.emplace_back(text.substr(s));
      break;
    }
    std::size_t close = text.find(text[quote], quote + 1);
    if (close == kNone) return false;
    std::u16string parameter(text.substr(s, quote - s));
    parameter.append(text.substr(quote + 1, close - quote - 1));
    out.push_back(std::move(parameter));
    s = close + 1;
  }
  return true;
}

std::u16string widenBytes(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::string> vmOptionsFileNames(std::string_view longExecutablePath) {
  std::vector<std::string> names;
  if (longExecutablePath.size() >= 4) {
    names.push_back(std::string(longExecutablePath.substr(0, longExecutablePath.size() - 4)) +
                    ".vmoptions");
  }
  names.push_back(std::string(longExecutablePath) + ".vmoptions");
  return names;
}

std::optional<std::string> vmOptionFromFileLine(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
  while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return std::nullopt;
  return std::string(line);
}

std::vector<std::string> systemPropertyOptions(const SystemPropertyInputs& in) {
  auto property = [](const char* name, const std::string& value) {
    return std::string("-D") + name + "=" + value;
  };
  std::vector<std::string> options;
  if (in.flavour == LauncherFlavour::brindle) options.push_back(property(kPropertyIsBrindle, "true"));
  options.push_back(property(kPropertyModuleName, in.executablePath));
  if (in.useProcessCommFile)
    options.push_back(property(kPropertyProcessCommFile, in.processCommFile));
  options.push_back(property(kPropertyTempDir, in.extractionDirectory));
  if (!in.outputRotation.empty())
    options.push_back(property(kPropertyOutputRotation, in.outputRotation));
  return options;
}

bool setsLibraryPath(std::string_view option) {
  std::string_view name = kLibraryPathOptionPrefix.substr(0, kLibraryPathOptionPrefix.size() - 1);
  return option.substr(0, kLibraryPathOptionPrefix.size()) == kLibraryPathOptionPrefix ||
         option == name;
}

std::string libraryPathOption(const std::vector<std::string>& directories) {
  std::vector<std::string> kept;
  for (std::string directory : directories) {
    if (directory.size() > 1 && directory.back() == '\\' && directory[directory.size() - 2] != ':') {
      directory.pop_back();
    }
    if (directory.empty() || directory.find(';') != std::string::npos) continue;
    bool repeated = std::any_of(kept.begin(), kept.end(), [&directory](const std::string& k) {
      return lowerAscii(k) == lowerAscii(directory);
    });
    if (!repeated) kept.push_back(std::move(directory));
  }
  std::string option(kLibraryPathOptionPrefix);
  for (std::size_t i = 0; i < kept.size(); ++i) option += (i == 0 ? "" : ";") + kept[i];
  return option;
}

bool isLauncherClassPathItem(std::string_view item) {
  return item.size() >= 2 && item[0] >= 'A' && item[0] <= 'Z' && (item[1] == '0' || item[1] == '1');
}

bool classPathItemFromJavaForm(std::string_view given, std::string& item, std::string& why) {
  std::string path(given);
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.empty()) {
    why = "an empty class-path item";
    return false;
  }
  std::size_t star = path.find('*');
  if (star != std::string::npos) {
    bool lastPart = star == path.size() - 1 && (star == 0 || path[star - 1] == '\\');
    if (!lastPart) {
      why = "'*' stands only for every archive of a directory, as the whole last part (\"lib/*\")";
      return false;
    }
    item = "S0" + (star == 0 ? std::string(".") : path.substr(0, star - 1));
    return true;
  }
  // A variable alone holds a class path; elsewhere %NAME% (not a built-in)
  // becomes ${NAME}, which the launcher expands.
  if (path.size() > 2 && path.front() == '%' && path.find('%', 1) == path.size() - 1 && !isBuiltinReference(path)) {
    item = "E0" + path.substr(1, path.size() - 2);
    return true;
  }
  VariableLookup dollarForm = [](const std::string& name) -> std::optional<std::string> {
    if (isBuiltinReference("%" + name + "%")) return std::nullopt;
    return "${" + name + "}";
  };
  if (!expandPercentReferences(path, dollarForm, kMaxClassPathOption)) {
    why = "longer than " + std::to_string(kMaxClassPathOption) + " bytes";
    return false;
  }
  item = "A0" + path;
  return true;
}

std::vector<ClassPathItem> parseClassPathItems(std::string_view list) {
  std::vector<ClassPathItem> items;
  for (std::string_view item : splitList(list, kListSeparator, EmptyItems::drop)) {
    if (item.size() >= 2) items.push_back({item[0], item[1] == '1', std::string(item.substr(2))});
  }
  return items;
}

std::string classPathFromEnvironment(std::string_view value) {
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  if (value.empty()) return std::string();
  std::string out(value);
  if (out.back() != ';') out += ';';
  return out;
}

bool buildClassPathOption(std::string_view classPathKey, const ClassPathSystem& sys,
                          std::string& option, LaunchProblem& problem) {
  option.assign(kClassPathOptionPrefix);
  ClassPathText cp{option, problem};
  bool ok = true;

  for (const char* ext : {".jar", ".zip"}) {
    for (const std::string& file : sys.extractedFiles) {
      if (hasExtension(file, ext) && !cp.appendPath(sys.appendExeRelative(file))) return false;
    }
  }

  if (sys.flavour == LauncherFlavour::brindle) {
    std::string jar = sys.installationDirectory;
    if (jar.empty() || jar.back() != '\\') jar += '\\';
    jar.append(kBrindleRuntimeJar);
    if (!cp.appendPath(jar)) return false;
  }

  for (const ClassPathItem& item : parseClassPathItems(classPathKey)) {
    std::string path = item.path;
    sys.expandVariables(path);
    bool found = false;
    switch (item.type) {
      case 'A':
      case 'D': {
        std::string full = sys.appendExeRelative(path);
        found = sys.pathExists(full);
        if (!cp.appendPath(full)) return false;
        break;
      }
      case 'S': {
        std::string full = sys.appendExeRelative(path);
        bool jars = appendArchives(cp, sys, full, "jar", ok);
        bool zips = appendArchives(cp, sys, full, "zip", ok);
        if (!ok) return false;
        found = jars || zips;
        break;
      }
      case 'E': {
        EnvironmentValue env = sys.environmentVariable(path);
        std::string contribution =
            env.defined ? classPathFromEnvironment(env.value) : std::string();
        if (contribution.empty()) {
          // An empty value gives the class path nothing, as an undefined one.
          if (item.mustExist) {
            problem = missing(ConfigKey::MSG_ENV_VAR_UNDEFINED, kPlaceholderEnvVarName, path);
            return false;
          }
          continue;
        }
        if (!cp.append(contribution)) return false;
        found = true;
        break;
      }
      default:
        break;
    }
    if (item.mustExist && !found) {
      problem = missing(ConfigKey::MSG_FILE_NOT_FOUND, kPlaceholderFileName, path);
      return false;
    }
  }
  return true;
}

std::vector<std::u16string> commandLineVmOptions(
    const std::vector<std::u16string>& launchArguments) {
  std::vector<std::u16string> options;
  for (const std::u16string& argument : launchArguments) {
    if (hasPrefix(argument, u"-J")) options.push_back(argument.substr(2));
  }
  return options;
}

bool assembleVmOptions(const VmOptionSources& sources, const NarrowConversion& narrow,
                       std::vector<std::string>& out, LaunchProblem& problem) {
  out = sources.systemProperties;
  const std::size_t libraryPathAt = out.size();
  for (const std::string& line : sources.optionsFileLines) {
    if (std::optional<std::string> option = vmOptionFromFileLine(line)) out.push_back(*option);
  }
  out.push_back(sources.classPathOption);
  std::vector<std::u16string> parameters;
  if (!splitParameters(sources.vmParameters, parameters)) {
    problem = wrongParameters();
    return false;
  }
  for (const std::u16string& parameter : parameters) out.push_back(narrow(parameter));
  out.insert(out.end(), sources.vmOptions.begin(), sources.vmOptions.end());
  if (sources.commandLineVmOptions) {
    for (const std::u16string& option : commandLineVmOptions(sources.launchArguments)) {
      out.push_back(narrow(option));
    }
  }
  if (!sources.libraryPathOption.empty() && std::none_of(out.begin(), out.end(), setsLibraryPath)) {
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(libraryPathAt), sources.libraryPathOption);
  }
  return true;
}

bool buildMainParameters(const MainParameterInputs& in,
                         const std::vector<std::u16string>& launchArguments,
                         std::vector<std::u16string>& out, LaunchProblem& problem) {
  auto flag = [](bool value) { return std::u16string(value ? u"true" : u"false"); };
  out.clear();
  out.push_back(flag(in.executableType == kExecutableTypeGui));
  out.push_back(widenBytes(in.mainClass));
  out.push_back(in.stdoutRedirect != 0 ? in.stdoutFile : std::u16string());
  out.push_back(in.stderrRedirect != 0 ? in.stderrFile : std::u16string());
  out.push_back(flag(in.extraLauncherFlag != 0));
  if (!launchArguments.empty()) out.push_back(launchArguments.front());
  if (!splitParameters(in.arguments, out)) {
    problem = wrongParameters();
    return false;
  }
  for (std::size_t i = 1; i < launchArguments.size(); ++i) {
    if (in.commandLineVmOptions != 0 && hasPrefix(launchArguments[i], u"-J")) continue;
    out.push_back(launchArguments[i]);
  }
  return true;
}
