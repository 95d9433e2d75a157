#include "jvm/runtime_layout.h"

#include <algorithm>

#include "jvm/version_rules.h"

namespace {
constexpr std::string_view kJavawName = "javaw.exe";
constexpr std::size_t kJavaNameLength = 8;  // java.exe
constexpr std::string_view kVersionCacheRoot = "SOFTWARE\\quarrow\\kerno\\jvms\\";
constexpr const char* kFixedVmTypes[] = {"hotspot", "client", "server", "classic"};

std::string replaced(std::string_view text, char from, char to) {
  std::string out(text);
  std::replace(out.begin(), out.end(), from, to);
  return out;
}
}  // namespace

std::string javaExeDirectory(std::string_view exe) {
  std::size_t cut = kJavaNameLength;
  if (exe.size() >= kJavawName.size() && exe.substr(exe.size() - kJavawName.size()) == kJavawName) {
    cut = kJavawName.size();
  }
  if (exe.size() < cut) return std::string();
  return std::string(exe.substr(0, exe.size() - cut));
}

std::vector<std::string> vmTypeOrder(std::string_view preferredType) {
  std::vector<std::string> types;
  if (!preferredType.empty()) types.emplace_back(preferredType);
  for (const char* type : kFixedVmTypes) types.emplace_back(type);
  return types;
}

std::string jvmLibraryPath(std::string_view exeDirectoryPart, std::string_view vmType) {
  std::string path(exeDirectoryPart);
  path += vmType;
  path += "\\jvm.dll";
  return path;
}

std::string developmentKitJreExe(std::string_view exe) {
  return javaExeDirectory(exe) + "..\\jre\\bin\\java.exe";
}

std::string javawFromJavaExe(std::string_view exe) {
  std::string out(exe.substr(0, exe.size() - std::min<std::size_t>(exe.size(), 4)));
  out += "w.exe";
  return out;
}

std::string versionCacheKeyName(std::string_view exe) {
  return std::string(kVersionCacheRoot) + replaced(exe, '\\', '/');
}

std::string locatedJvmPath(std::string_view subkeyName) { return replaced(subkeyName, '/', '\\'); }

std::string currentVersionKeyName(std::string_view jdkVersion, std::string_view jreVersion) {
  if (compareVersionText(jdkVersion, jreVersion) > 0) {
    return std::string(kJavaSoftJdkKey) + "\\" + std::string(jdkVersion);
  }
  return std::string(kJavaSoftJreKey) + "\\" + std::string(jreVersion);
}

std::string commandLinePath(std::string_view path) {
  // A tab separates arguments as a space does.
  if (path.find_first_of(" \t") == std::string_view::npos) return std::string(path);
  return "\"" + std::string(path) + "\"";
}

std::string versionCommandLine(std::string_view exe) {
  return commandLinePath(exe) + " -version";
}

std::string packedRuntimeMarker(std::string_view home) {
  return std::string(home) + "\\lib\\rt.jar.pack";
}

std::string preparedRuntimeMarker(std::string_view home) {
  return std::string(home) + "\\lib\\jsse.jar";
}

const std::vector<std::string>& packedJars() {
  static const std::vector<std::string> jars = {
      "lib\\rt.jar",     "lib\\charsets.jar",          "lib\\plugin.jar",
      "lib\\deploy.jar", "lib\\ext\\localedata.jar", "lib\\jsse.jar",
  };
  return jars;
}

std::string unpackCommandLine(std::string_view home, std::string_view packed,
                              std::string_view target) {
  std::string unpacker = std::string(home) + "\\bin\\unpack200.exe";
  return commandLinePath(unpacker) + " -r " + commandLinePath(packed) + " " +
         commandLinePath(target);
}
