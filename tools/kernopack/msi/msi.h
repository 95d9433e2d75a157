// kernopack msi: builds the configured executable as `build` does, stages it
// with the files the service needs at run time, writes the WiX source and
// runs wixl on it. See docs/msi.md.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "image/launcher_choice.h"
#include "io/codepage.h"

// What build and msi both take from the command line: the description and
// the code page of its narrow texts, the launcher template, and signing.
struct PackInput {
  std::string description;
  std::string launcher;  // empty: the description's "launcher", else x64
  unsigned codePage = kDefaultCodePage;
  std::vector<std::string> signWith;  // empty, or the certificate and the key
};

struct MsiArgs {
  PackInput input;
  std::string output;  // the MSI; empty: none
  std::string wxs;     // the WiX source to keep; empty: none
  std::string productVersion;
  std::string upgradeCode;
};

// What the packer's `build` does, handed in by main.cpp.
struct MsiBuildSteps {
  // Writes the configured executable to `path` (UTF-8), reporting any
  // failure itself; gives the packer's exit code.
  std::function<int(const std::string& path)> buildExecutable;
  // The runtime jar the packer would include for "<runtime>"; empty when
  // none is found, `looked` then says where it looked.
  std::function<std::string(std::string& looked)> findRuntimeJar;
  // The installer custom action DLL of the architecture; empty when none
  // is found, `looked` then says where it looked.
  std::function<std::string(LauncherArch arch, std::string& looked)> findCustomAction;
};

int runMsi(const MsiArgs& args, const MsiBuildSteps& steps);
