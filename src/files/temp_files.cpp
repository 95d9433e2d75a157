#include "files/temp_files.h"

namespace {

std::string inDirectory(std::string_view directory, std::string_view name) {
  std::string out(directory);
  if (!out.empty() && out.back() != '\\') out += '\\';
  out += name;
  return out;
}

}  // namespace

bool needsTempFallback(std::string_view longTempPath) {
  return longTempPath.find('?') != std::string_view::npos;
}

std::vector<std::string> tempFallbackCandidates(std::string_view windowsDirectory) {
  std::string windows(windowsDirectory);
  return {windows + "\\temp", windows};
}

std::string writeTestPath(std::string_view directory, std::string_view randomHex) {
  return std::string(directory) + "\\" + kWriteTestDirPrefix + std::string(randomHex);
}

std::string processCommFileNameIn(std::string_view directory, unsigned long processId) {
  return inDirectory(directory, std::string(kTempFilePrefix) + "_p" + std::to_string(processId) + ".tmp");
}

std::string probeOutputFileNameIn(std::string_view directory, unsigned n) {
  return inDirectory(directory, std::string(kTempFilePrefix) + "_v" + std::to_string(n) + ".tmp");
}
