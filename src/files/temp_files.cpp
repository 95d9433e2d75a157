#include "files/temp_files.h"

bool needsTempFallback(std::string_view longTempPath) {
  return longTempPath.find('?') != std::string_view::npos;
}

std::vector<std::string> tempFallbackCandidates(std::string_view windowsDirectory) {
  std::string windows(windowsDirectory);
  return {windows + "\\temp", "c:\\temp", "c:\\tmp", windows};
}

std::string writeTestPath(std::string_view directory) {
  return std::string(directory) + "\\" + kWriteTestDirName;
}

std::string processCommFileNameIn(std::string_view tempPath, unsigned long processId) {
  return std::string(tempPath) + kTempFilePrefix + "_p" + std::to_string(processId) + ".tmp";
}
