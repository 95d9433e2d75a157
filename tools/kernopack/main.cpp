// kernopack: builds a configured service executable from a launcher template
// and a service description, and prints the configuration of one back.
#include <CLI/CLI.hpp>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "codepage.h"
#include "description.h"
#include "image.h"
#include "launcher_choice.h"
#include "packer_io.h"

#ifndef KERNOPACK_VERSION
#define KERNOPACK_VERSION "0"
#endif
#ifndef KERNOPACK_WIN64_DIR
#define KERNOPACK_WIN64_DIR ""
#endif
#ifndef KERNOPACK_WIN32_DIR
#define KERNOPACK_WIN32_DIR ""
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;   // the system failed us: reading, writing
constexpr int kExitBadInput = 2;  // the input or the command line is wrong

__attribute__((format(printf, 1, 2))) void report(const char* format, ...) {
  std::fputs("kernopack: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// Reads an input file; on failure says why and gives the exit code.
bool readInput(const std::string& path, uint64_t maxBytes, FileRead& file, int& exitCode) {
  file = readFileBounded(path, maxBytes);
  if (file.status == ReadStatus::ok) return true;
  report("%s: cannot read: %s", path.c_str(), file.error.c_str());
  exitCode = file.status == ReadStatus::failed ? kExitFailure : kExitBadInput;
  return false;
}

bool checkCodePage(unsigned codePage) {
  std::string why;
  if (codePageSupported(codePage, why)) return true;
  report("--codepage: %s", why.c_str());
  return false;
}

struct BuildArgs {
  std::string description;
  std::string launcher;
  unsigned codePage = kDefaultCodePage;
  std::string output;
};

int runBuild(const BuildArgs& a) {
  if (!checkCodePage(a.codePage)) return kExitBadInput;
  int rc = kExitOk;
  FileRead desc;
  if (!readInput(a.description, kMaxDescriptionBytes, desc, rc)) return rc;
  std::string_view text(reinterpret_cast<const char*>(desc.bytes.data()), desc.bytes.size());
  Description d = parseDescription(text, a.codePage);
  if (!d.ok) {
    report("%s: %s", a.description.c_str(), d.error.c_str());
    return kExitBadInput;
  }

  LauncherChoice choice = chooseLauncher(a.launcher, d.launcher);
  std::string templatePath;
  FileRead templ;
  if (choice.isPath) {
    templatePath = choice.path;
    if (!readInput(templatePath, kMaxExecutableBytes, templ, rc)) return rc;
  } else {
    std::vector<std::string> candidates = templateCandidates(choice.arch, executableDirectory(),
                                                             KERNOPACK_WIN64_DIR, KERNOPACK_WIN32_DIR);
    std::string looked;
    for (const std::string& path : candidates) {
      templ = readFileBounded(path, kMaxExecutableBytes);
      if (templ.status == ReadStatus::notFound) {
        looked += (looked.empty() ? "" : ", ") + path;
        continue;
      }
      templatePath = path;
      if (templ.status != ReadStatus::ok) {
        report("%s: cannot read: %s", path.c_str(), templ.error.c_str());
        return kExitFailure;
      }
      break;
    }
    if (templatePath.empty()) {
      report("no %s launcher template found (looked for %s); build it or name one with --launcher PATH",
             launcherArchName(choice.arch), looked.empty() ? "it nowhere" : looked.c_str());
      return kExitFailure;
    }
  }

  ImageEnd image = checkTemplate(templ.bytes);
  if (!image.ok) {
    report("%s: %s", templatePath.c_str(), image.error.c_str());
    return kExitBadInput;
  }
  if (!choice.isPath && archForMachine(image.machine) != choice.arch) {
    report("%s: machine type 0x%04x is not that of an %s launcher", templatePath.c_str(),
           unsigned(image.machine), launcherArchName(choice.arch));
    return kExitBadInput;
  }

  std::vector<uint8_t> out = assembleExecutable(templ.bytes, image.imageEnd, d.records);
  FileWrite written = writeFileReplacing(a.output, out);
  if (!written.ok) {
    report("%s: %s", a.output.c_str(), written.error.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

struct DumpArgs {
  std::string executable;
  unsigned codePage = kDefaultCodePage;
};

int runDump(const DumpArgs& a) {
  if (!checkCodePage(a.codePage)) return kExitBadInput;
  int rc = kExitOk;
  FileRead exe;
  if (!readInput(a.executable, kMaxExecutableBytes, exe, rc)) return rc;
  ConfiguredImage image = readConfiguredExecutable(exe.bytes);
  if (!image.ok) {
    report("%s: %s", a.executable.c_str(), image.error.c_str());
    return kExitBadInput;
  }
  DescriptionText text = describeConfiguration(image.tables, archForMachine(image.machine), a.codePage);
  if (!text.ok) {
    report("%s: %s", a.executable.c_str(), text.error.c_str());
    return kExitBadInput;
  }
  setBinaryStdout();
  bool written = std::fwrite(text.json.data(), 1, text.json.size(), stdout) == text.json.size();
  if (std::fflush(stdout) != 0 || !written) {
    report("cannot write to standard output");
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Builds a configured service executable from a launcher template and a service "
               "description (JSON), and prints the configuration of one back.",
               "kernopack"};
  app.set_version_flag("--version", "kernopack " KERNOPACK_VERSION);
  app.require_subcommand(1);
  app.footer("Exit codes: 0 done, 2 bad input or usage, 1 other failure (reading or writing files).");

  BuildArgs build;
  CLI::App* buildCmd = app.add_subcommand(
      "build", "Write a configured executable: the launcher template followed by the configuration "
               "block made from SERVICE.json.");
  buildCmd->add_option("SERVICE.json", build.description, "The service description (UTF-8 JSON).")
      ->required();
  buildCmd->add_option("--launcher", build.launcher,
                       "x86, x64, or the path of a launcher template. Default: the description's "
                       "\"launcher\" field, else x64.");
  buildCmd->add_option("--codepage", build.codePage,
                       "ANSI code page of the narrow texts (default 1252, Windows-1252).")
      ->check(CLI::Range(1u, 65535u));
  buildCmd->add_option("-o,--output", build.output, "The executable to write.")->required();

  DumpArgs dump;
  CLI::App* dumpCmd = app.add_subcommand(
      "dump", "Print the configuration of a configured executable as a service description that "
              "build accepts.");
  dumpCmd->add_option("EXE", dump.executable, "The configured executable.")->required();
  dumpCmd->add_option("--codepage", dump.codePage,
                      "ANSI code page of the narrow texts (default 1252, Windows-1252).")
      ->check(CLI::Range(1u, 65535u));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end with 0, every other parse error is a usage error.
    return app.exit(e) == 0 ? kExitOk : kExitBadInput;
  }
  if (buildCmd->parsed()) return runBuild(build);
  return runDump(dump);
}
