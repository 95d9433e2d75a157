// kernopack: builds a configured service executable from a launcher template
// and a service description, and prints the configuration of one back.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "io/codepage.h"
#include "config/pe_version.h"
#include "description/description.h"
#include "config/config_keys.h"
#include "image/image.h"
#include "jvm/search_sequence.h"
#include "description/included.h"
#include "image/launcher_choice.h"
#include "import/import_run.h"
#include "msi/msi.h"
#include "packer_dirs.h"
#include "io/packer_io.h"
#include "io/report.h"
#include "io/terminal_text.h"

#ifndef KERNOPACK_VERSION
#define KERNOPACK_VERSION "0"
#endif

namespace {


// The first read of a configured executable: headers, and usually the image
// and the whole block.
constexpr size_t kFirstHeadRead = 1u << 20;

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
  PackInput input;
  std::string output;
  // Files and directories outside the description's directory that its
  // included paths may name.
  std::vector<std::string> allowOutside;
  bool outputIsUtf8 = false;  // `output` is UTF-8 already (msi's staging path), not as typed
};

// The signing tool --sign-with calls, looked up on PATH.
constexpr const char* kSigningTool = "osslsigncode";
// Largest certificate or key file --sign-with accepts.
constexpr uint64_t kMaxSigningFileBytes = 1u << 20;

// Checks before anything is written that the certificate and key can be
// read.
bool checkSigning(const BuildArgs& a, int& exitCode) {
  for (const std::string& path : a.input.signWith) {
    FileRead f = readFileBounded(path, kMaxSigningFileBytes);
    if (f.status != ReadStatus::ok) {
      report("--sign-with: %s: cannot read: %s", path.c_str(), f.error.c_str());
      exitCode = f.status == ReadStatus::failed ? kExitFailure : kExitBadInput;
      return false;
    }
  }
  return true;
}

// Signs `unsignedPath` into `signedPath` with Authenticode (SHA-256).
bool signExecutable(const BuildArgs& a, const std::string& unsignedPath, const std::string& signedPath) {
  ProgramRun run = runProgram({kSigningTool, "sign", "-certs", commandLinePath(a.input.signWith[0]), "-key",
                               commandLinePath(a.input.signWith[1]), "-h", "sha256", "-in", unsignedPath, "-out",
                               signedPath});
  if (run.started && run.exitCode == 0) {
    if (readFileBounded(signedPath, 0).status != ReadStatus::notFound) return true;
    report("%s: %s sign ended without an error but wrote no signed executable; nothing was written",
           a.output.c_str(), kSigningTool);
    return false;
  }
  if (!run.started) {
    report("--sign-with: cannot run %s: %s; install it (Debian: apt-get install osslsigncode), or build "
           "without --sign-with and sign the executable afterwards (docs/signing.md); nothing was written",
           kSigningTool,
           run.notFound ? "not found on PATH (its relative and empty entries are not searched)" : run.error.c_str());
  } else {
    report("%s: %s sign failed with exit code %d (its messages are above); nothing was written",
           a.output.c_str(), kSigningTool, run.exitCode);
  }
  return false;
}

// The runtime jar: beside the packer, else in the tree that built it; empty
// when neither has it, `looked` then lists where it was looked for.
std::string findRuntimeJar(std::string& looked) {
  for (std::string dir : {executableDirectory(), std::string(kPackerRuntimeDir)}) {
    if (dir.empty()) continue;
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    std::string candidate = dir + std::string(kRuntimeJarName);
    if (readFileBounded(candidate, 0).status != ReadStatus::notFound) return candidate;
    looked += (looked.empty() ? "" : ", ") + candidate;
  }
  return {};
}

// Reads and parses the description, after checking the code page and the
// signing files; warns about a search sequence that trusts PATH.
int readDescription(const BuildArgs& a, Description& d) {
  if (!checkCodePage(a.input.codePage)) return kExitBadInput;
  int rc = kExitOk;
  if (!a.input.signWith.empty() && !checkSigning(a, rc)) return rc;
  FileRead desc;
  if (!readInput(a.input.description, kMaxDescriptionBytes, desc, rc)) return rc;
  std::string_view text(reinterpret_cast<const char*>(desc.bytes.data()), desc.bytes.size());
  d = parseDescription(text, a.input.codePage);
  if (!d.ok) {
    report("%s: %s", a.input.description.c_str(), d.error.c_str());
    return kExitBadInput;
  }
  for (const auto& [key, value] : d.records.narrow) {
    if (key == int32_t(ConfigKey::jreSearchSequence) && usesSystemSearchPath(value)) {
      report("warning: %s: key 128 (\"jreSearchSequence\") has an S entry: java.exe is then taken from the "
             "PATH, and whoever may write to a directory of it runs code as the service",
             a.input.description.c_str());
    }
  }
  return kExitOk;
}

// The launcher template: the one named, else the first of its
// architecture beside the packer or in the tree that built it.
int readTemplate(const LauncherChoice& choice, std::string& templatePath, FileRead& templ) {
  int rc = kExitOk;
  if (choice.isPath) {
    templatePath = choice.path;
    return readInput(templatePath, kMaxExecutableBytes, templ, rc) ? kExitOk : rc;
  }
  std::vector<std::string> candidates = templateCandidates(choice.arch, executableDirectory(),
                                                           kPackerWin64Dir, kPackerWin32Dir);
  std::string looked;
  for (const std::string& path : candidates) {
    templ = readFileBounded(path, kMaxExecutableBytes);
    if (templ.status == ReadStatus::notFound) {
      looked += (looked.empty() ? "" : ", ") + path;
      continue;
    }
    templatePath = path;
    if (templ.status == ReadStatus::ok) return kExitOk;
    report("%s: cannot read: %s", path.c_str(), templ.error.c_str());
    return kExitFailure;
  }
  report("no %s launcher template found (looked for %s); build it or name one with --launcher PATH",
         launcherArchName(choice.arch), looked.empty() ? "it nowhere" : looked.c_str());
  return kExitFailure;
}

// Reads the template and checks it: a launcher image with nothing appended,
// of the architecture asked for.
int loadTemplate(const BuildArgs& a, const Description& d, FileRead& templ, ImageEnd& image,
                 std::string& templatePath) {
  LauncherChoice choice = chooseLauncher(a.input.launcher, d.launcher);
  int rc = readTemplate(choice, templatePath, templ);
  if (rc != kExitOk) return rc;
  image = checkTemplate(templ.bytes);
  if (!image.ok) {
    report("%s: %s", templatePath.c_str(), image.error.c_str());
    return kExitBadInput;
  }
  if (!choice.isPath && archForMachine(image.machine) != choice.arch) {
    report("%s: machine type 0x%04x is not that of an %s launcher", templatePath.c_str(),
           unsigned(image.machine), launcherArchName(choice.arch));
    return kExitBadInput;
  }
  return kExitOk;
}

// Whether an included file is one given to --sign-with.
bool isSigningFile(const BuildArgs& a, const IncludedSource& source) {
  std::string path = source.path;
  if (source.confined) {
    path = source.directory;
    for (const std::string& c : source.components) path = pathJoin(path, c);
  }
  for (const std::string& key : a.input.signWith) {
    if (sameFileIdentity(path, commandLinePath(key))) return true;
  }
  return false;
}

// Where the included files are read from. Included paths are opened
// beneath the description's directory, unless the command line allows them
// as they are; the runtime jar item is taken from beside the packer, else
// from the tree that built it. `shownPaths` are as the description gives
// them, for messages.
int chooseIncluded(const BuildArgs& a, const Description& d, std::vector<IncludedSource>& included,
                   std::vector<std::string>& shownPaths) {
  std::string descriptionPath = commandLinePath(a.input.description);
  std::vector<std::string> allowed;
  for (const std::string& path : a.allowOutside) {
    std::string full = absolutePath(commandLinePath(path));
    if (full.empty()) {
      report("--allow-outside: %s: cannot make the path absolute", path.c_str());
      return kExitFailure;
    }
    allowed.push_back(full);
  }
  for (size_t i = 0; i < d.includedFiles.size(); ++i) {
    const IncludedFile& f = d.includedFiles[i];
    if (f.path != kRuntimeJarItem) {
      shownPaths.push_back(f.path);
      IncludedChoice source = chooseIncludedSource(descriptionPath, f.path, allowed, kWindowsPaths);
      if (!source.ok) {
        report("%s: field \"%s\"[%s]: %s: %s", a.input.description.c_str(),
               std::string(kIncludedFilesField).c_str(), std::to_string(i).c_str(), f.path.c_str(),
               source.error.c_str());
        return kExitBadInput;
      }
      if (isSigningFile(a, source.source)) {
        report("%s: field \"%s\"[%s]: %s: is a file given to --sign-with; the signing certificate and key are "
               "never included",
               a.input.description.c_str(), std::string(kIncludedFilesField).c_str(), std::to_string(i).c_str(),
               f.path.c_str());
        return kExitBadInput;
      }
      included.push_back(std::move(source.source));
      continue;
    }
    std::string looked;
    std::string found = findRuntimeJar(looked);
    if (found.empty()) {
      report("%s: field \"%s\": no %s found (looked for %s); build the runtime jar or list its path",
             a.input.description.c_str(), std::string(kIncludedFilesField).c_str(),
             std::string(kRuntimeJarName).c_str(), looked.c_str());
      return kExitFailure;
    }
    shownPaths.push_back(found);
    IncludedSource source;
    source.path = found;
    included.push_back(std::move(source));
  }
  return kExitOk;
}

// Writes the configured executable. A signed build writes the unsigned
// executable into a private temporary directory, has it signed there, and
// copies the signed one to the output: nobody else can swap what gets
// signed. The directory goes with everything in it on every way out.
int writeExecutable(const BuildArgs& a, const Description& d, const FileRead& templ, const ImageEnd& image,
                    const std::vector<IncludedSource>& included, const std::vector<std::string>& shownPaths) {
  std::string outputPath = a.outputIsUtf8 ? a.output : commandLinePath(a.output);
  bool signing = !a.input.signWith.empty();
  PrivateDirectory work;
  if (signing) {
    FileWrite made = makePrivateDirectory(work);
    if (!made.ok) {
      report("--sign-with: %s; nothing was written", made.error.c_str());
      return kExitFailure;
    }
  }
  std::string packedPath = signing ? work.file("unsigned.exe") : outputPath;
  PackResult packed = writeConfiguredExecutable(packedPath, templ.bytes, image.imageEnd, d.records, included);
  switch (packed.failure) {
    case PackFailure::none: {
      if (!signing) return kExitOk;
      std::string signedPath = work.file("signed.exe");
      if (!signExecutable(a, packedPath, signedPath)) return kExitFailure;
      FileWrite copied = copyFileReplacing(signedPath, outputPath);
      if (copied.ok) return kExitOk;
      report("%s: %s", a.output.c_str(), copied.error.c_str());
      return kExitFailure;
    }
    case PackFailure::input:
      report("%s: field \"%s\"[%s]: %s: %s", a.input.description.c_str(), std::string(kIncludedFilesField).c_str(),
             std::to_string(packed.inputIndex).c_str(), shownPaths[packed.inputIndex].c_str(), packed.error.c_str());
      return kExitBadInput;
    case PackFailure::output: break;
  }
  report("%s: %s", signing ? work.path.c_str() : a.output.c_str(), packed.error.c_str());
  return kExitFailure;
}

int runBuild(const BuildArgs& a) {
  Description d;
  FileRead templ;
  ImageEnd image;
  std::string templatePath;
  std::vector<IncludedSource> included;
  std::vector<std::string> shownPaths;
  int rc = readDescription(a, d);
  if (rc == kExitOk) rc = loadTemplate(a, d, templ, image, templatePath);
  if (rc == kExitOk) rc = chooseIncluded(a, d, included, shownPaths);
  if (rc == kExitOk) rc = writeExecutable(a, d, templ, image, included, shownPaths);
  return rc;
}

struct DumpArgs {
  std::string executable;
  unsigned codePage = kDefaultCodePage;
  std::string extract;
};

// Reads the image and the configuration block, and no more of the file
// than they need.
bool readHead(const DumpArgs& a, InputFile& exe, std::vector<uint8_t>& head, ConfiguredImage& image,
              int& exitCode) {
  size_t want = size_t(exe.size < kFirstHeadRead ? exe.size : kFirstHeadRead);
  for (;;) {
    std::string error;
    head.resize(want);
    size_t total = 0;
    bool ok = seekInputFile(exe, 0, error);
    while (ok && total < want) {
      size_t got = 0;
      ok = readInputFile(exe, head.data() + total, want - total, got, error);
      if (ok && got == 0) break;
      total += got;
    }
    if (!ok) {
      report("%s: cannot read: %s", a.executable.c_str(), error.c_str());
      exitCode = kExitFailure;
      return false;
    }
    head.resize(total);
    image = readConfiguredHead(head, total < want ? total : exe.size);
    if (!image.needMore || total < want || want == exe.size) break;
    if (want >= kMaxExecutableBytes) {
      report("%s: the image and configuration block take more than %llu bytes", a.executable.c_str(),
             static_cast<unsigned long long>(kMaxExecutableBytes));
      exitCode = kExitBadInput;
      return false;
    }
    uint64_t next = uint64_t(want) * 4;
    if (next < image.blockOffset + kFirstHeadRead) next = image.blockOffset + kFirstHeadRead;
    if (next > exe.size) next = exe.size;
    want = size_t(next);
  }
  if (!image.ok) {
    report("%s: %s", a.executable.c_str(),
           image.needMore ? "the file ends inside the configuration block" : image.error.c_str());
    exitCode = kExitBadInput;
    return false;
  }
  return true;
}

// Which launcher template, of which release, the image was made from, from
// its version resource; empty when it has none.
std::string madeFrom(const std::vector<uint8_t>& image) {
  std::string text;
  size_t bad = 0;
  if (!utf16ToUtf8(madeFrom(readVersionInfo(image.data(), image.size())), text, bad)) text.clear();
  return text;
}

int runDump(const DumpArgs& a) {
  if (!checkCodePage(a.codePage)) return kExitBadInput;
  int rc = kExitOk;
  InputFile exe;
  std::string error;
  ReadStatus opened = openInputFile(commandLinePath(a.executable), exe, error);
  if (opened != ReadStatus::ok) {
    report("%s: cannot read: %s", a.executable.c_str(), error.c_str());
    return opened == ReadStatus::notFound ? kExitBadInput : kExitFailure;
  }
  ConfiguredImage image;
  std::vector<uint8_t> head;
  if (!readHead(a, exe, head, image, rc)) return rc;

  IncludedLayout layout = includedLayout(image.tables);
  if (!layout.ok) {
    report("%s: %s", a.executable.c_str(), layout.error.c_str());
    return kExitBadInput;
  }
  DescriptionText text = describeConfiguration(image.tables, archForMachine(image.machine), a.codePage,
                                               !layout.names.empty(), madeFrom(head));
  if (!text.ok) {
    report("%s: %s", a.executable.c_str(), text.error.c_str());
    return kExitBadInput;
  }
  std::vector<std::string> fileNames;
  for (const std::string& name : layout.names) {
    Decoded decoded = decodeNarrow(name, a.codePage);
    if (!decoded.ok) {
      report("%s: key 2003 (\"includedFileNames\"): %s", a.executable.c_str(), decoded.error.c_str());
      return kExitBadInput;
    }
    fileNames.push_back(std::move(decoded.utf8));
  }
  std::string extractDir;
  if (!a.extract.empty()) {
    extractDir = commandLinePath(a.extract);
    FileWrite made = makeDirectory(extractDir);
    if (!made.ok) {
      report("%s: %s", a.extract.c_str(), made.error.c_str());
      return kExitFailure;
    }
  }
  SectionResult section = walkIncludedSection(exe, image.tables.includedFilesOffset, image.dataEnd, fileNames,
                                              extractDir);
  if (!section.ok) {
    report("%s: %s", section.outputFailed ? a.extract.c_str() : a.executable.c_str(), section.error.c_str());
    return section.outputFailed ? kExitFailure : kExitBadInput;
  }
  setBinaryStdout();
  bool written = std::fwrite(text.json.data(), 1, text.json.size(), stdout) == text.json.size();
  if (std::fflush(stdout) != 0 || !written) {
    report("cannot write to standard output");
    return kExitFailure;
  }
  return kExitOk;
}

// The options build and msi share, with the same meaning.
void addPackInputOptions(CLI::App* cmd, PackInput& in) {
  cmd->add_option("SERVICE.json", in.description, "The service description (UTF-8 JSON).")->required();
  cmd->add_option("--launcher", in.launcher,
                  "x86, x64, or the path of a launcher template. Default: the description's "
                  "\"launcher\" field, else x64.");
  cmd->add_option("--codepage", in.codePage, "ANSI code page of the narrow texts (default 1252, Windows-1252).")
      ->check(CLI::Range(1u, 65535u));
  cmd->add_option("--sign-with", in.signWith,
                  "Sign the executable with Authenticode (SHA-256) through osslsigncode, which must "
                  "be on PATH: CERT is the certificate (PEM or DER, with its chain), KEY its private "
                  "key (PEM or DER, not encrypted). See docs/signing.md.")
      ->expected(2)
      ->option_text("CERT KEY");
}

CLI::App* addBuildCommand(CLI::App& app, BuildArgs& build) {
  CLI::App* cmd = app.add_subcommand(
      "build", "Write a configured executable: the launcher template followed by the configuration "
               "block made from SERVICE.json and the files it includes.");
  addPackInputOptions(cmd, build.input);
  cmd->add_option("-o,--output", build.output, "The executable to write.")->required();
  cmd->add_option("--allow-outside", build.allowOutside,
                  "Let the description include this file, or the files beneath this directory, "
                  "although it lies outside the description's directory (an absolute path, '..' "
                  "that climbs out, a network path), and open them as they are, links followed. "
                  "Without it every included path must lie beneath the description's directory "
                  "and is opened there without following links. Repeat it for more; relative "
                  "to the current directory.")
      ->allow_extra_args(false)
      ->option_text("FILE-OR-DIR");
  return cmd;
}

void addDumpCommand(CLI::App& app, DumpArgs& dump) {
  CLI::App* cmd = app.add_subcommand(
      "dump", "Print the configuration of a configured executable as a service description that "
              "build accepts.");
  cmd->add_option("EXE", dump.executable, "The configured executable.")->required();
  cmd->add_option("--codepage", dump.codePage, "ANSI code page of the narrow texts (default 1252, Windows-1252).")
      ->check(CLI::Range(1u, 65535u));
  cmd->add_option("--extract", dump.extract,
                  "Also write the included files into DIR (created if missing). The printed "
                  "description names them relative to DIR: save it there to build again.")
      ->option_text("DIR");
}

CLI::App* addMsiCommand(CLI::App& app, MsiArgs& msi) {
  CLI::App* cmd = app.add_subcommand(
      "msi", "Write a Windows Installer package (MSI) that installs, upgrades and removes the service: the "
             "executable `build` writes, the files the service needs beside it, the service registration. "
             "Needs wixl and msibuild (Debian: wixl, msitools). See docs/msi.md.");
  addPackInputOptions(cmd, msi.input);
  cmd->add_option("--product-version", msi.productVersion,
                  "major.minor.build (major, minor up to 255, build up to 65535). Default: the "
                  "\"package\" section's \"productVersion\".")
      ->option_text("X.Y.Z");
  cmd->add_option("--upgrade-code", msi.upgradeCode,
                  "The GUID all versions of the product share. Default: the \"package\" section's "
                  "\"upgradeCode\".")
      ->option_text("GUID");
  cmd->add_option("-o,--output", msi.output, "The package to write.")->option_text("OUT.msi");
  cmd->add_option("--wxs", msi.wxs,
                  "Also (or only) write the WiX source, and the files it installs into OUT.files beside "
                  "it, for the WiX Toolset on Windows.")
      ->option_text("OUT.wxs");
  return cmd;
}

// msi builds its executable as build does, from the same inputs.
int runMsiCommand(const MsiArgs& msi) {
  MsiBuildSteps steps;
  steps.buildExecutable = [&msi](const std::string& path) {
    BuildArgs b;
    b.input = msi.input;
    b.output = path;
    b.outputIsUtf8 = true;
    return runBuild(b);
  };
  steps.findRuntimeJar = findRuntimeJar;
  steps.findCustomAction = [](LauncherArch arch, std::string& looked) {
    for (const std::string& path : templateCandidates(arch, executableDirectory(), kPackerWin64Dir, kPackerWin32Dir,
                                                      customActionFileName(arch))) {
      if (readFileBounded(path, 0).status != ReadStatus::notFound) return path;
      looked += (looked.empty() ? "" : ", ") + path;
    }
    return std::string();
  };
  return runMsi(msi, steps);
}

CLI::App* addImportCommand(CLI::App& app, ImportArgs& import) {
  CLI::App* cmd = app.add_subcommand(
      "import", "Write a service description from a WinSW, NSSM or procrun service, and report on standard "
                "error every setting and what it became. Exit codes: 0 written, 2 the source cannot be read or "
                "runs no Java application, 1 the description cannot be written. See docs/import.md.");
  CLI::Option* source = cmd->add_option(
      "SOURCE", import.source,
      "A WinSW XML, a registry file (reg export) of NSSM's or procrun's settings, or a script with "
      "`nssm install`/`nssm set` lines or a procrun //IS// or //US// command line.");
  cmd->add_option("--service", import.service,
                  "Read the installed service NAME of this machine instead (kernopack.exe on Windows).")
      ->excludes(source)
      ->option_text("NAME");
  cmd->add_option("-o,--output", import.output, "The description to write (default: standard output).");
  cmd->add_option("--format", import.format, "winsw, nssm or procrun (default: told from the content).")
      ->check(CLI::IsMember({"winsw", "nssm", "procrun"}, CLI::ignore_case));
  cmd->add_option("--app-dir", import.appDir,
                  "The application's directory, where the jar that -jar names is read (default: the "
                  "source's directory).")
      ->option_text("DIR");
  return cmd;
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
  DumpArgs dump;
  MsiArgs msi;
  CLI::App* buildCmd = addBuildCommand(app, build);
  addDumpCommand(app, dump);
  CLI::App* msiCmd = addMsiCommand(app, msi);
  ImportArgs import;
  CLI::App* importCmd = addImportCommand(app, import);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end with 0, every other parse error is a usage error.
    return app.exit(e) == 0 ? kExitOk : kExitBadInput;
  }
  if (buildCmd->parsed()) return runBuild(build);
  if (msiCmd->parsed()) return runMsiCommand(msi);
  if (importCmd->parsed()) {
    if (import.source.empty() == import.service.empty()) {
      report("import: give a SOURCE file or --service NAME");
      return kExitBadInput;
    }
    return runImport(import);
  }
  return runDump(dump);
}
