#include "jvm/library_machine.h"

#include <algorithm>
#include <cstdio>

#include "config/pe_image.h"
#include "jvm/runtime_layout.h"

LibraryMachine judgeLibraryHeader(const uint8_t* data, std::size_t size, uint16_t ownMachine) {
  LibraryMachine result;
  PeLayout pe = parsePeLayout(data, size);
  if (!pe.ok) return result;
  result.machine = pe.machine;
  result.fit = pe.machine == ownMachine ? LibraryFit::loadable : LibraryFit::otherMachine;
  return result;
}

std::string machineTypeName(uint16_t machine) {
  if (machine == kMachineI386) return "32-bit";
  if (machine == kMachineAmd64) return "64-bit";
  char text[32];
  std::snprintf(text, sizeof text, "machine type 0x%04x", static_cast<unsigned>(machine));
  return text;
}

std::vector<std::string> jvmLibraryCandidates(std::string_view exe, std::string_view preferredType) {
  std::vector<std::string> paths;
  const std::vector<std::string> types = vmTypeOrder(preferredType);
  for (const std::string& beside : {std::string(exe), developmentKitJreExe(exe)}) {
    std::string directory = javaExeDirectory(beside);
    for (const std::string& type : types) {
      std::string path = jvmLibraryPath(directory, type);
      // A preferred type from the fixed list comes twice in the load order;
      // one look at its file is enough.
      if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
    }
  }
  return paths;
}

bool isOtherMachineRuntime(const std::vector<LibraryMachine>& existing) {
  if (existing.empty()) return false;
  return std::all_of(existing.begin(), existing.end(), [](const LibraryMachine& library) {
    return library.fit == LibraryFit::otherMachine;
  });
}

std::string otherMachineNote(int count, uint16_t foundMachine, uint16_t ownMachine) {
  std::string found = count > 1 ? "The Java runtimes found are " : "The Java runtime found is ";
  return found + machineTypeName(foundMachine) + "; this program needs a " +
         machineTypeName(ownMachine) + " Java runtime.";
}
