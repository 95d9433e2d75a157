#include "import/import_run.h"

#include <cstdio>

#include "import/import_source.h"
#include "import/installed_service.h"
#include "import/jar_manifest.h"
#include "io/packer_io.h"
#include "io/report.h"
#include "io/terminal_text.h"

namespace {

std::string directoryOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool readExactly(InputFile& f, uint64_t offset, size_t size, std::string& out) {
  std::string error;
  if (offset > f.size || size > f.size - offset || !seekInputFile(f, offset, error)) return false;
  out.assign(size, '\0');
  for (size_t done = 0; done < size;) {
    size_t got = 0;
    if (!readInputFile(f, reinterpret_cast<uint8_t*>(out.data()) + done, size - done, got, error) || got == 0) return false;
    done += got;
  }
  return true;
}

// Reads the manifest of the first candidate that exists beneath `dir`.
JarReader jarReaderIn(const std::string& dir) {
  return [dir](const std::string& jar, const std::vector<std::string>& candidates) {
    JarManifest m;
    std::string looked;
    for (const std::string& candidate : candidates) {
      std::string path = dir + "/" + candidate;
      InputFile f;
      std::string error;
      ReadStatus status = openInputFile(path, f, error);
      if (status == ReadStatus::notFound) {
        looked += (looked.empty() ? "" : ", ") + path;
        continue;
      }
      if (status != ReadStatus::ok) {
        m.error = path + ": cannot read: " + error;
        return m;
      }
      m = readJarManifest(f.size, [&f](uint64_t at, size_t n, std::string& out) { return readExactly(f, at, n, out); });
      if (!m.ok) m.error = path + ": " + m.error;
      return m;
    }
    m.error = "the jar " + jar + " is not there (looked for " + (looked.empty() ? std::string("nothing") : looked) +
              "); give the application's directory with --app-dir, so that its manifest's Main-Class and "
              "Class-Path can be read";
    return m;
  };
}

void printReport(const std::string& source, const ImportResult& r) {
  report("import: %s: %s; each setting and what it became:", source.c_str(), r.sourceKind.c_str());
  unsigned counts[4] = {0, 0, 0, 0};
  for (const ImportNote& n : r.notes) ++counts[size_t(n.verdict)];
  for (const std::string& line : importReportLines(r)) std::fprintf(stderr, "%s\n", escapeForTerminal(line).c_str());
  report("import: %u kept, %u changed, %u defaults written out, %u dropped", counts[0], counts[1], counts[2],
         counts[3]);
}

ImportResult importFromArgs(const ImportArgs& a, std::string& shown, int& exitCode) {
  ImportResult r;
  JarReader readJar;
  if (!a.service.empty()) {
    shown = "service " + a.service;
    InstalledService s = readInstalledService(commandLinePath(a.service));
    readJar = jarReaderIn(a.appDir.empty() ? directoryOf(s.winswXmlPath.empty() ? "." : s.winswXmlPath) : commandLinePath(a.appDir));
    if (!s.ok) return r.fail(s.error), r;
    return importInstalledService(s, readJar);
  }
  shown = a.source;
  FileRead f = readFileBounded(a.source, kMaxImportSourceBytes);
  if (f.status != ReadStatus::ok) {
    exitCode = f.status == ReadStatus::failed ? kExitFailure : kExitBadInput;
    return r.fail("cannot read: " + f.error), r;
  }
  ImportFormat format = ImportFormat::automatic;
  if (!a.format.empty() && !parseImportFormat(a.format, format)) {
    return r.fail("--format " + a.format + ": give winsw, nssm or procrun"), r;
  }
  readJar = jarReaderIn(commandLinePath(a.appDir.empty() ? directoryOf(a.source) : a.appDir));
  std::string_view bytes(reinterpret_cast<const char*>(f.bytes.data()), f.bytes.size());
  return importSource(bytes, format, readJar);
}

}  // namespace

int runImport(const ImportArgs& a) {
  std::string shown;
  int exitCode = kExitBadInput;
  ImportResult r = importFromArgs(a, shown, exitCode);
  if (!r.ok) {
    report("import: %s: %s; nothing was written", shown.c_str(), r.error.c_str());
    return exitCode;
  }
  std::string json =
      jsonForTerminal(importedDescription(r).dump(2, ' ', false, ImportJson::error_handler_t::replace)) + "\n";
  printReport(shown, r);
  if (a.output.empty()) {
    setBinaryStdout();
    std::fwrite(json.data(), 1, json.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
  }
  FileWrite w = writeFileReplacing(commandLinePath(a.output), std::vector<uint8_t>(json.begin(), json.end()));
  if (!w.ok) {
    report("import: %s: cannot write: %s; nothing was written", a.output.c_str(), w.error.c_str());
    return kExitFailure;
  }
  report("import: wrote %s", a.output.c_str());
  return kExitOk;
}
