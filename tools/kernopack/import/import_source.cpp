#include "import/import_source.h"

#include "import/command_lines.h"
#include "import/peer_import.h"

namespace {

bool containsNoCase(std::string_view text, std::string_view what) {
  return asciiLower(text).find(asciiLower(what)) != std::string::npos;
}

bool isProcrunRegistry(const RegExport& reg) {
  for (const RegKey& k : reg.keys) {
    if (containsNoCase(k.path, "\\procrun 2.0\\")) return true;
  }
  return false;
}

ImportResult importRegistry(std::string_view bytes, ImportFormat format, const JarReader& readJar) {
  RegExport reg = parseRegExport(bytes);
  if (!reg.ok) {
    ImportResult r;
    r.fail(reg.error);
    return r;
  }
  bool procrun = format == ImportFormat::procrun || (format == ImportFormat::automatic && isProcrunRegistry(reg));
  return procrun ? importProcrunRegistry(reg) : importNssmRegistry(reg, readJar);
}

}  // namespace

bool parseImportFormat(std::string_view text, ImportFormat& format) {
  std::string lower = asciiLower(text);
  if (lower == "winsw") format = ImportFormat::winsw;
  else if (lower == "nssm") format = ImportFormat::nssm;
  else if (lower == "procrun") format = ImportFormat::procrun;
  else return false;
  return true;
}

ImportResult importSource(std::string_view bytes, ImportFormat format, const JarReader& readJar) {
  std::string text, error;
  bool decoded = decodeSourceText(bytes, text, error);
  size_t first = decoded ? text.find_first_not_of(" \t\r\n") : std::string::npos;
  bool xml = first != std::string::npos && text[first] == '<';
  if (format == ImportFormat::winsw || (format == ImportFormat::automatic && xml)) return importWinsw(bytes, readJar);
  if (!decoded) {
    ImportResult r;
    r.fail(error);
    return r;
  }
  if (looksLikeRegExport(bytes)) return importRegistry(bytes, format, readJar);
  bool procrun = format == ImportFormat::procrun ||
                 (format == ImportFormat::automatic && (containsNoCase(text, "//IS//") || containsNoCase(text, "//US//") ||
                                                         containsNoCase(text, "prunsrv")));
  if (procrun) return importProcrunScript(text);
  if (format == ImportFormat::nssm || containsNoCase(text, "nssm")) return importNssmScript(text, readJar);
  ImportResult r;
  r.fail("neither a WinSW XML, a registry file, nor nssm or procrun command lines; name the tool with --format");
  return r;
}

std::string imageProgram(const std::string& imagePath) {
  if (!imagePath.empty() && imagePath.front() == '"') {
    size_t close = imagePath.find('"', 1);
    return imagePath.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  // Unquoted, as the service manager reads it: up to the first ".exe".
  size_t exe = asciiLower(imagePath).find(".exe");
  if (exe != std::string::npos) return imagePath.substr(0, exe + 4);
  return imagePath.substr(0, imagePath.find(' '));
}

ImportResult importInstalledService(const InstalledService& s, const JarReader& readJar) {
  std::string program = imageProgram(s.imagePath);
  if (programStem(program) == "nssm") return importNssmRegistry(s.registry, readJar);
  if (isProcrunRegistry(s.registry)) return importProcrunRegistry(s.registry);
  if (!s.winswXml.empty()) return importWinsw(s.winswXml, readJar);
  ImportResult r;
  r.fail("the service runs " + program + ", which is neither nssm.exe nor procrun's, and no WinSW configuration (" +
         s.winswXmlPath + ") lies beside it");
  return r;
}
