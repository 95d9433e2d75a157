#include "launch/vm_options_win.h"

#include <climits>
#include <cstdio>

#include "common/code_page_win.h"
#include "common/environment_win.h"
#include "common/handles_win.h"
#include "config/config_state.h"
#include "config/config_store.h"
#include "config/launch_settings.h"
#include "config/log_win.h"
#include "config/messages_win.h"
#include "config/path_text.h"
#include "config/paths_win.h"
#include "config/service_settings.h"
#include "files/extraction_win.h"
#include "files/files_state.h"
#include "files/temp_files.h"
#include "jvm/jvm_state.h"
#include "jvm/runtime_layout.h"
#include "jvm/variables_win.h"
#include "launch/vm_options.h"

namespace {

[[noreturn]] void endWith(const LaunchProblem& problem) {
  if (!problem.fixedText.empty()) fatalError(problem.fixedText);
  fatalErrorByKey(problem.message, problem.placeholder, problem.value);
}

// An existing variable with an empty value is defined.
EnvironmentValue environmentVariable(const std::string& name) {
  EnvironmentValue out;
  out.defined = readEnvironmentVariable(name, out.value);
  return out;
}

// Key 123 or 124: read, expanded, in UTF-16 through the ANSI code page.
std::u16string expandedParameterText(ConfigKey key) {
  std::string text = getConfigString(key);
  expandVariables(text);
  return toUtf16(text, CP_ACP);
}

std::u16string redirectFile(ConfigKey flag, ConfigKey file) {
  if (getConfigInt(flag) == 0) return std::u16string();
  std::string name = getConfigString(file);
  // No name, nothing to redirect to (resolved, it would be the directory).
  if (name.empty()) return std::u16string();
  return toUtf16(resolvePath(name, true), fileApiCodePage());
}

// Where the application's native libraries may come from: the executable's
// directory, the configured path prefix (key 10004) and the runtime's bin
// directory, the places the process's own library search is limited to.
std::string libraryPathFromConfiguration() {
  std::vector<std::string> directories = {appendExeRelative("")};
  for (std::string_view dir : splitPathList(resolvePathList(getConfigString(ConfigKey::pathPrefix)))) {
    directories.emplace_back(dir);
  }
  const std::string& javaExe = jvmState().javaExe;
  if (!javaExe.empty()) directories.push_back(javaExeDirectory(javaExe));
  return libraryPathOption(directories);
}

// krn_p<pid>.tmp of this process: one name only (`n` is not used).
std::string processCommFileNameFor(std::string_view directory, unsigned) {
  return processCommFileNameIn(directory, GetCurrentProcessId());
}

// Key 30027, each option expanded on its own and never split. A damaged
// value gives none (logged); an option that would grow too long stays as
// configured (logged).
std::vector<std::string> configuredVmOptions() {
  std::vector<std::string> options;
  const std::string* stored = storedSetting(configTables(), ConfigKey::vmOptions);
  std::string why;
  if (stored == nullptr) return options;
  if (!parseVmOptionList(*stored, options, why)) {
    logError("%s", damagedSettingLine(DamagedSetting{"vmOptions", why}).c_str());
    return {};
  }
  for (size_t i = 0; i < options.size(); ++i) {
    if (!expandVariablesAndPercentReferences(options[i], kMaxVmOptionBytes))
      logError("vmOptions: option %u is used unexpanded, expanded it is longer than %u bytes",
               static_cast<unsigned>(i + 1), static_cast<unsigned>(kMaxVmOptionBytes));
  }
  return options;
}

}  // namespace

std::vector<std::string> buildSystemProperties() {
  SystemPropertyInputs in;
  in.flavour = launcherFlavour();
  in.executablePath = getExecutablePath();
  in.useProcessCommFile = getConfigInt(ConfigKey::useProcessCommFile) != 0;
  if (in.useProcessCommFile) {
    // The application gets it only as a new file of this process's making,
    // in the launcher's private directory, that nobody else may open.
    UniqueHandle file(createLauncherFile(processCommFileNameFor, 1, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         in.processCommFile));
    if (!file) {
      logError("cannot create the process communication file; %s is left out", kPropertyProcessCommFile);
      in.useProcessCommFile = false;
    }
  }
  in.extractionDirectory = extractionState().extractionDirectory;
  // A damaged value was logged by the service runtime; it is left out here.
  std::vector<DamagedSetting> damaged;
  ServiceSettings settings = readServiceSettings(configTables(), damaged);
  if (settings.outputRotation) in.outputRotation = outputRotationText(*settings.outputRotation);
  return systemPropertyOptions(in);
}

std::vector<std::string> readVmOptionsFile() {
  std::vector<std::string> lines;
  std::string longPath;
  // Without a long form, the names come from the short path.
  if (!getLongPathName(getExecutablePath(), longPath)) longPath = getExecutablePath();
  for (const std::string& name : vmOptionsFileNames(longPath)) {
    std::FILE* file = std::fopen(name.c_str(), "rt");
    if (file == nullptr) continue;
    char piece[kVmOptionsFilePiece + 1];
    while (std::fgets(piece, sizeof(piece), file) != nullptr) lines.emplace_back(piece);
    std::fclose(file);
    break;
  }
  return lines;
}

std::vector<std::string> buildVmOptions(const std::vector<std::string>& properties,
                                        const std::vector<std::u16string>& launchArguments) {
  VmOptionSources sources;
  sources.systemProperties = properties;
  sources.optionsFileLines = readVmOptionsFile();

  ClassPathSystem sys;
  sys.flavour = launcherFlavour();
  sys.extractedFiles = extractionState().extractedFiles;
  if (sys.flavour == LauncherFlavour::brindle) {
    sys.installationDirectory =
        resolvePath(getConfigString(ConfigKey::installationDirectory), false);
  }
  sys.expandVariables = [](std::string& text) { expandVariables(text); };
  sys.appendExeRelative = [](std::string_view path) { return appendExeRelative(path); };
  sys.pathExists = [](const std::string& path) { return pathExists(path); };
  sys.listDirectory = [](const std::string& dir, const std::string& ext) {
    return listDirectory(dir, ext);
  };
  sys.environmentVariable = environmentVariable;
  LaunchProblem problem;
  if (!buildClassPathOption(getConfigString(ConfigKey::classPath), sys, sources.classPathOption,
                            problem)) {
    endWith(problem);
  }

  sources.vmParameters = expandedParameterText(ConfigKey::vmParameters);
  sources.vmOptions = configuredVmOptions();
  sources.commandLineVmOptions = getConfigInt(ConfigKey::commandLineVmOptions) != 0;
  sources.launchArguments = launchArguments;
  sources.libraryPathOption = libraryPathFromConfiguration();
  // Back through the code page the texts came from, so that what reaches the
  // VM is what was configured or passed.
  NarrowConversion narrow = [](std::u16string_view text) { return fromUtf16(text, CP_ACP); };
  std::vector<std::string> options;
  if (!assembleVmOptions(sources, narrow, options, problem)) endWith(problem);
  return options;
}

std::vector<std::u16string> buildMainParameterList(
    const std::vector<std::u16string>& launchArguments) {
  MainParameterInputs in;
  in.executableType = getConfigInt(ConfigKey::executableType);
  in.mainClass = getConfigString(ConfigKey::mainClass);
  in.stdoutRedirect = getConfigInt(ConfigKey::stdoutRedirect);
  in.stdoutFile = redirectFile(ConfigKey::stdoutRedirect, ConfigKey::stdoutFile);
  in.stderrRedirect = getConfigInt(ConfigKey::stderrRedirect);
  in.stderrFile = redirectFile(ConfigKey::stderrRedirect, ConfigKey::stderrFile);
  in.extraLauncherFlag = getConfigInt(ConfigKey::extraLauncherFlag);
  in.arguments = expandedParameterText(ConfigKey::arguments);
  in.commandLineVmOptions = getConfigInt(ConfigKey::commandLineVmOptions);
  std::vector<std::u16string> parameters;
  LaunchProblem problem;
  if (!buildMainParameters(in, launchArguments, parameters, problem)) endWith(problem);
  return parameters;
}

bool firstRunMarkerExists() {
  std::string marker = resolvePath(getConfigString(ConfigKey::installationDirectory), false);
  if (marker.empty() || marker.back() != '\\') marker += '\\';
  marker += ".brindle\\firstrun";
  return pathExists(marker);
}

std::string textForLog(const std::u16string& text) { return fromUtf16(text, fileApiCodePage()); }
