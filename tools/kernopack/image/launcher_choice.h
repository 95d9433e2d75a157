// Which launcher template a build uses and where the packer looks for it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class LauncherArch { unspecified, x86, x64 };

// "x86" or "x64"; false for anything else.
bool parseLauncherArch(std::string_view text, LauncherArch& arch);
// "x86", "x64", or "" for unspecified.
const char* launcherArchName(LauncherArch arch);
// The architecture of a PE machine type; unspecified for other machines.
LauncherArch archForMachine(uint16_t machine);
// "kernosvc-x64.exe" or "kernosvc-x86.exe".
std::string templateFileName(LauncherArch arch);
// "kernoaction-x64.dll" or "kernoaction-x86.dll": the installer custom
// action a package of that architecture carries, found where its template is.
std::string customActionFileName(LauncherArch arch);

struct LauncherChoice {
  bool isPath = false;
  std::string path;                       // when isPath
  LauncherArch arch = LauncherArch::x64;  // when !isPath
};

// The command-line value (empty: not given) wins over the description's
// "launcher" field; x64 when neither names one. A value other than "x86" or
// "x64" is the path of a template file.
LauncherChoice chooseLauncher(const std::string& option, LauncherArch fromDescription);

// Where to look for a named template (or `fileName`, another file that
// lies beside the templates), in order: beside the packer, then in the
// build tree of that architecture. Empty directories are skipped.
std::vector<std::string> templateCandidates(LauncherArch arch, const std::string& selfDir,
                                            const std::string& win64Dir, const std::string& win32Dir,
                                            const std::string& fileName = {});
