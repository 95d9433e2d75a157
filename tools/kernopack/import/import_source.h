// Which peer a source comes from, and the import of it.
#pragma once

#include <string>
#include <string_view>

#include "import/import_result.h"
#include "import/java_command.h"
#include "import/reg_export.h"

enum class ImportFormat { automatic, winsw, nssm, procrun };

// "winsw", "nssm", "procrun" (any case); false for anything else.
bool parseImportFormat(std::string_view text, ImportFormat& format);

// Imports a source file: a WinSW XML, a registry file NSSM's or procrun's
// settings were exported to, or a script with `nssm` or procrun command
// lines. `automatic` tells them apart by their content.
ImportResult importSource(std::string_view bytes, ImportFormat format, const JarReader& readJar);

// What the service manager knows of an installed service, and the files
// and keys of the tool that runs it.
struct InstalledService {
  bool ok = false;
  std::string error;
  std::string name;
  std::string imagePath;    // the service's command line
  RegExport registry;       // the service key, NSSM's Parameters, procrun's key
  std::string winswXml;     // the WinSW configuration beside its executable, when there is one
  std::string winswXmlPath;
};

// Imports an installed service: NSSM when its program is nssm.exe,
// procrun when procrun's key names it, WinSW when a configuration lies
// beside its program.
ImportResult importInstalledService(const InstalledService& service, const JarReader& readJar);

// The program of a service's command line: quoted, or unquoted up to the
// first ".exe" (as the service manager tries it: C:\Program Files\x.exe).
std::string imageProgram(const std::string& imagePath);
