// The VM options and the parameters of the Java-side launcher class, decided
// from values: parameter splitting, VM options file lines, the system
// properties, the class path from its configured items, the order of the
// option list and the parameter layout of WinLauncher.main. The system calls
// that gather the values are in launch/vm_options_win.cpp.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_keys.h"

// Why a launch cannot go on before the VM exists: a message key with its
// placeholder and value, or a fixed text when the message keys have nothing
// that fits (fixedText not empty).
struct LaunchProblem {
  ConfigKey message = ConfigKey::MSG_INTERNAL_ERROR;
  std::string_view placeholder;
  std::string value;
  std::string fixedText;
};

// --- Parameter texts --------------------------------------------------------

// Splits a parameter text at spaces. A parameter that starts with a double or
// single quote runs to the next quote of the same kind (the quotes are
// dropped, the other kind is an ordinary character, the result may be empty).
// A quote inside a parameter (-Dp="c:\a b") opens a quoted part that joins
// the text before it: -Dp=c:\a b. Text right after a closing quote starts the
// next parameter. Tabs belong to a parameter; there is no escape character.
// False when a quote is not closed; `out` then holds the parameters before it.
[[nodiscard]] bool splitParameters(std::u16string_view text, std::vector<std::u16string>& out);

// Each byte becomes the character of the same value (the main class name).
std::u16string widenBytes(std::string_view text);

// --- VM options file ----------------------------------------------------------

// The options file is read in pieces of at most this many bytes (a line that
// is longer arrives in several pieces, each taken as a line of its own).
inline constexpr std::size_t kVmOptionsFilePiece = 8191;

// The names tried for the VM options file, in order: the executable's long
// path with its last four characters (".exe") replaced by ".vmoptions", then
// the long path followed by ".vmoptions".
std::vector<std::string> vmOptionsFileNames(std::string_view longExecutablePath);

// The option one piece of the options file gives: carriage returns and line
// feeds at the end removed, then leading and trailing spaces (not tabs).
// Nothing for an empty piece or one whose text starts with '#'. The piece is
// a C text: it ends at its first NUL byte.
std::optional<std::string> vmOptionFromFileLine(std::string_view line);

// --- System properties --------------------------------------------------------

inline constexpr const char* kPropertyIsBrindle = "kerno.isBrindle";
inline constexpr const char* kPropertyModuleName = "kerno.moduleName";
inline constexpr const char* kPropertyProcessCommFile = "kerno.processCommFile";
inline constexpr const char* kPropertyTempDir = "kerno.tempDir";
// "maxBytes,keep": the Java side rotates the output files (key 30007).
inline constexpr const char* kPropertyOutputRotation = "kerno.outputRotation";

struct SystemPropertyInputs {
  LauncherFlavour flavour = LauncherFlavour::none;  // brindle adds kerno.isBrindle
  std::string executablePath;       // short, lower case
  bool useProcessCommFile = false;  // key 10005 not 0
  std::string processCommFile;      // used only with useProcessCommFile
  std::string extractionDirectory;  // empty when nothing is included
  std::string outputRotation;       // key 30007 when usable, else empty
};

// -Dkerno.isBrindle=true (brindle flavour only), -Dkerno.moduleName=...,
// -Dkerno.processCommFile=... (when asked for), -Dkerno.tempDir=... (always,
// also when empty), -Dkerno.outputRotation=... (when set), in this order;
// values as they are, without quotes.
std::vector<std::string> systemPropertyOptions(const SystemPropertyInputs& in);

// --- Native library path --------------------------------------------------------

inline constexpr std::string_view kLibraryPathOptionPrefix = "-Djava.library.path=";

// Whether an option sets java.library.path ("-Djava.library.path=..." or
// "-Djava.library.path" alone; names compared exactly, as the VM does).
bool setsLibraryPath(std::string_view option);

// "-Djava.library.path=" followed by the directories joined by ';', so that
// System.loadLibrary looks where the launcher trusts instead of in PATH and
// the current directory, which the VM would take otherwise. A trailing
// backslash is dropped (not from a root such as "c:\"). Left out: empty
// directories, repeats (letters compared without case), and a directory
// with a ';' in its name, which the VM would split into pieces, a relative
// one among them.
std::string libraryPathOption(const std::vector<std::string>& directories);

// --- Class path ---------------------------------------------------------------

inline constexpr std::string_view kClassPathOptionPrefix = "-Djava.class.path=";

// The longest class-path option (prefix included) handed to the VM. An
// element that would make it longer is refused with a message naming it,
// never cut. 64 KiB: room for hundreds of archives, while a runaway scan or
// environment value is stopped.
inline constexpr std::size_t kMaxClassPathOption = 65535;

// The runtime jar of the brindle flavour, below the installation directory.
inline constexpr std::string_view kBrindleRuntimeJar = ".brindle\\brdruntime.jar";

// One item of key 121: type letter, flag ('1': must be found) and path.
struct ClassPathItem {
  char type = 0;
  bool mustExist = false;
  std::string path;  // as configured, not yet expanded
};

// Whether a class-path item of a service description is in the launcher's
// own form: an upper-case letter, then '0' or '1' ("A1lib\\x.jar", "S0lib",
// "EAPP_CP" is not: "E0APP_CP" is). Any other item is a path as `java -cp`
// takes it; one that would look like a launcher item starts with "./".
bool isLauncherClassPathItem(std::string_view item);

// The launcher item for a path as `java -cp` takes it, never required (a
// missing one is passed over, as java does): "lib/*" (every archive of the
// directory) gives "S0lib"; "%NAME%" alone (a variable holding a class path)
// gives "E0NAME"; anything else "A0" and the path, '/' turned into '\', and
// %NAME% references other than the built-in ones written ${NAME}, the form
// the launcher expands. False with `why` for an empty path or a '*' that is
// not the whole last part.
bool classPathItemFromJavaForm(std::string_view path, std::string& item, std::string& why);

// The items of key 121, separated by ';' (empty items vanish). Items shorter
// than two characters carry no path and are left out.
std::vector<ClassPathItem> parseClassPathItems(std::string_view list);

// An environment variable as the system gave it.
struct EnvironmentValue {
  bool defined = false;
  std::string value;
};

// What an "E" item contributes: the value without a pair of enclosing double
// quotes, followed by ';' unless it already ends with one. Empty for an
// empty value.
std::string classPathFromEnvironment(std::string_view value);

// What the class-path rules ask of the system.
struct ClassPathSystem {
  LauncherFlavour flavour = LauncherFlavour::none;
  // The files the launcher itself extracted, in extraction order: their
  // archives come first. The extraction directory is never scanned, so
  // nothing put there by anybody else joins the class path.
  std::vector<std::string> extractedFiles;
  std::string installationDirectory;  // resolved; used in the brindle flavour only
  std::function<void(std::string&)> expandVariables;
  std::function<std::string(std::string_view)> appendExeRelative;
  std::function<bool(const std::string&)> pathExists;
  // Names (without directory) of dir\*.ext, in the order the system gives.
  std::function<std::vector<std::string>(const std::string& dir, const std::string& ext)>
      listDirectory;
  std::function<EnvironmentValue(const std::string& name)> environmentVariable;
};

// Builds "-Djava.class.path=" followed by the class path: the extracted
// archives (those named *.jar in extraction order, then those named *.zip;
// letters compared without case), the runtime jar (brindle flavour),
// then the items of key 121 in order, every element closed by ';'.
// False with `problem` set when a required item is missing (message 1006
// with the expanded path; 1008 with the name for an "E" item whose variable
// is undefined or empty), or when the class path would grow past
// kMaxClassPathOption. A required item with an unknown type letter counts as
// missing.
[[nodiscard]] bool buildClassPathOption(std::string_view classPathKey, const ClassPathSystem& sys,
                                        std::string& option, LaunchProblem& problem);

// --- The option list ----------------------------------------------------------

// Wide text back to the narrow text the VM reads (the glue uses the ANSI code
// page, the same one the text was read in).
using NarrowConversion = std::function<std::string(std::u16string_view)>;

// Every launch argument that begins with "-J" (case-sensitive), without it.
std::vector<std::u16string> commandLineVmOptions(
    const std::vector<std::u16string>& launchArguments);

struct VmOptionSources {
  std::vector<std::string> systemProperties;    // systemPropertyOptions
  std::vector<std::string> optionsFileLines;    // the pieces of the options file
  std::string classPathOption;                  // buildClassPathOption
  std::u16string vmParameters;                  // key 123, expanded
  std::vector<std::string> vmOptions;           // key 30027, expanded, one option each
  bool commandLineVmOptions = false;            // key 125 not 0
  std::vector<std::u16string> launchArguments;  // the service name first
  std::string libraryPathOption;                // libraryPathOption; empty: none
};

// The whole option list, in this order: the system properties, the library
// path option, the options file lines, the class-path option, the parameters
// of key 123, the options of key 30027 as they are, and the "-J" launch arguments (all of them, the first
// included) when key 125 allows. The library path option is left out when
// any other option sets java.library.path: the configuration's own value
// stands. False (message 1007) when key 123 has a quote that is not closed.
[[nodiscard]] bool assembleVmOptions(const VmOptionSources& sources, const NarrowConversion& narrow,
                                     std::vector<std::string>& out, LaunchProblem& problem);

// --- Parameters of WinLauncher.main -------------------------------------------

struct MainParameterInputs {
  int executableType = 0;        // key 107
  std::string mainClass;         // key 122, dotted
  int stdoutRedirect = 0;        // key 102
  std::u16string stdoutFile;     // key 103 resolved; used when key 102 is not 0
  int stderrRedirect = 0;        // key 104
  std::u16string stderrFile;     // key 105 resolved
  int extraLauncherFlag = 0;     // key 106
  std::u16string arguments;      // key 124, expanded
  int commandLineVmOptions = 0;  // key 125
};

// The parameter list: "true"/"false" for key 107 being exactly 1, the main
// class, the output file, the error file, "true"/"false" for key 106, then the
// service name (when there is a launch argument), the parameters of key 124,
// and the other launch arguments ("-J" ones left out when key 125 is not 0).
// False (message 1007) when key 124 has a quote that is not closed.
[[nodiscard]] bool buildMainParameters(const MainParameterInputs& in,
                                       const std::vector<std::u16string>& launchArguments,
                                       std::vector<std::u16string>& out, LaunchProblem& problem);
