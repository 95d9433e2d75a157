#include "image/launcher_choice.h"

#include "config/pe_image.h"

bool parseLauncherArch(std::string_view text, LauncherArch& arch) {
  if (text == "x86") {
    arch = LauncherArch::x86;
    return true;
  }
  if (text == "x64") {
    arch = LauncherArch::x64;
    return true;
  }
  return false;
}

const char* launcherArchName(LauncherArch arch) {
  switch (arch) {
    case LauncherArch::x86: return "x86";
    case LauncherArch::x64: return "x64";
    case LauncherArch::unspecified: break;
  }
  return "";
}

LauncherArch archForMachine(uint16_t machine) {
  if (machine == kMachineI386) return LauncherArch::x86;
  if (machine == kMachineAmd64) return LauncherArch::x64;
  return LauncherArch::unspecified;
}

std::string templateFileName(LauncherArch arch) {
  return arch == LauncherArch::x86 ? "kernosvc-x86.exe" : "kernosvc-x64.exe";
}

std::string customActionFileName(LauncherArch arch) {
  return arch == LauncherArch::x86 ? "kernoaction-x86.dll" : "kernoaction-x64.dll";
}

LauncherChoice chooseLauncher(const std::string& option, LauncherArch fromDescription) {
  LauncherChoice c;
  if (!option.empty()) {
    if (!parseLauncherArch(option, c.arch)) {
      c.isPath = true;
      c.path = option;
    }
    return c;
  }
  if (fromDescription != LauncherArch::unspecified) c.arch = fromDescription;
  return c;
}

std::vector<std::string> templateCandidates(LauncherArch arch, const std::string& selfDir,
                                            const std::string& win64Dir, const std::string& win32Dir,
                                            const std::string& fileName) {
  std::string name = fileName.empty() ? templateFileName(arch) : fileName;
  std::vector<std::string> out;
  // '/' separates on both systems; a directory that already ends in a
  // separator gets none added.
  auto add = [&](const std::string& dir) {
    if (dir.empty()) return;
    char last = dir.back();
    out.push_back(last == '/' || last == '\\' ? dir + name : dir + "/" + name);
  };
  add(selfDir);
  add(arch == LauncherArch::x86 ? win32Dir : win64Dir);
  return out;
}
