// A java command line (the program and its arguments, as a WinSW or NSSM
// service runs it) turned into description fields: the runtime search, the
// class path, the VM options, the main class and the arguments.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "import/import_result.h"

// What a jar's manifest says, read by the caller from the jar's file.
struct JarManifest {
  bool ok = false;
  std::string mainClass;
  std::vector<std::string> classPath;  // Class-Path entries, relative to the jar's directory
  std::string error;                   // why the jar or its manifest could not be read
};

// Reads the manifest of the jar that `-jar` names: `jar` as the source wrote
// it (with %BASE% made relative), `candidates` the paths relative to the
// application's directory where it may be found (jarCandidates).
using JarReader = std::function<JarManifest(const std::string& jar, const std::vector<std::string>& candidates)>;

struct JavaCommand {
  std::string programSetting;  // "<executable>", "Application"
  std::string program;         // the java path as given
  std::string argumentsSetting;
  std::vector<std::string> arguments;
  // The service's working directory as the source gives it (already made
  // relative where it was %BASE%); relative class path items and the jar are
  // relative to it. Empty: the executable's directory.
  std::string workingDirectory;
  bool winswBase = false;  // %BASE% means the executable's directory
};

void importJavaCommand(const JavaCommand& command, const JarReader& readJar, ImportResult& result);

// Where to look for `jar` beneath the application's directory: the jar's
// path when relative, its path below `workingDirectory` when it lies there,
// then its file name alone. '/' separates the returned paths.
std::vector<std::string> jarCandidates(const std::string& jar, const std::string& workingDirectory);

// Texts of the source in the launcher's forms. With winswBase, %BASE%
// (and a '\' after it) becomes %KERNO_EXEDIR%, which ends in a backslash;
// with envRefs, %NAME% becomes ${NAME}, the form the launcher expands.
std::string launcherText(std::string_view text, bool winswBase, bool envRefs);
// A path: with winswBase, "%BASE%\x" becomes "x" and "%BASE%" ".",
// relative to the executable's directory as the description's paths are.
std::string launcherPath(std::string_view path, bool winswBase);

// A class path item as the description takes it: a path as `java -cp`
// takes it, written with "./" in front where it would read as one of the
// launcher's own items (an upper-case letter, then 0 or 1: "A1.jar").
std::string classPathEntry(std::string item);

// An environment value: WinSW's %BASE% written as the path relative to the
// working directory ("." for the folder itself), which a service started
// in the executable's folder resolves to the same place; other %NAME%
// references stay, for the launcher to expand from the environment.
std::string environmentValue(std::string_view value);

// Arguments as the text of key 124 ("arguments"), which the launcher splits
// at blanks, honouring double or single quotes; false with `why` for an
// argument that holds both kinds of quote.
bool parameterText(const std::vector<std::string>& args, std::string& text, std::string& why);

// The runtime search for a java program path: "A<home>", "E<VARIABLE>", or
// empty for a bare "java" found on PATH. `note` says what changed, if anything.
std::string runtimeEntryForJava(const std::string& program, bool winswBase, std::string& note);

// A runtime home from a jvm.dll path (procrun's --Jvm): "C:\\jdk\\bin\\server\\jvm.dll" -> "C:\\jdk".
std::string homeOfJvmLibrary(const std::string& jvmDll);
// "A<home>", or "E<VARIABLE>" when the home is a variable reference alone.
std::string runtimeEntryForHome(const std::string& home);
