#include "msi/msi.h"

#include <cstdio>
#include <set>

#include "io/codepage.h"
#include "config/config_keys.h"
#include "config/config_store.h"
#include "description/description.h"
#include "description/included.h"
#include "launch/vm_options.h"
#include "msi/msi_source.h"
#include "io/packer_io.h"
#include "io/path_name.h"
#include "io/report.h"
#include "io/terminal_text.h"
#include "config/pe_image.h"
#include "config/service_settings.h"
#include "config/value_list.h"

namespace {


constexpr char kSeparator = kWindowsPaths ? '\\' : '/';

constexpr const char* kInstallTools =
    "install the Debian packages wixl and msitools (apt-get install wixl msitools)";

std::string stemOf(const std::string& name, const char* extension) {
  std::string ext = extension;
  if (name.size() > ext.size()) {
    std::string tail = name.substr(name.size() - ext.size());
    for (char& c : tail) c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    if (tail == ext) return name.substr(0, name.size() - ext.size());
  }
  return name;
}

std::string nativePath(std::string path) {
  for (char& c : path) {
    if (c == '/' || c == '\\') c = kSeparator;
  }
  return path;
}

// Copies one regular file, streamed.
bool copyFile(const std::string& from, const std::string& to, std::string& error) {
  InputFile in;
  if (openInputFile(from, in, error) != ReadStatus::ok) return false;
  OutputFile out;
  FileWrite begun = beginOutputFile(to, out, false);
  // The copy is never more open than its source (a key readable by its
  // owner alone stays so), and never writable by others.
  if (begun.ok) begun = keepSourceMode(out, in);
  if (!begun.ok) {
    error = begun.error;
    return false;
  }
  std::vector<uint8_t> buffer(kIncludedCopyChunk);
  for (;;) {
    size_t got = 0;
    if (!readInputFile(in, buffer.data(), buffer.size(), got, error)) return false;
    if (got == 0) break;
    FileWrite written = writeOutputFile(out, buffer.data(), got);
    if (!written.ok) {
      error = written.error;
      return false;
    }
  }
  FileWrite done = commitOutputFile(out);
  if (!done.ok) error = done.error;
  return done.ok;
}

// The files staged below the package's folder, and where they come from.
struct Stage {
  std::string filesDir;  // native path of the staged tree
  std::set<std::string> paths;  // '/' separated, below the install folder
  std::string error;     // with the path in question
  bool inputBad = true;  // else: writing failed
  std::vector<std::string> signingFiles;  // --sign-with's: never staged
};

// Makes the folders of `relative` below the staged tree.
bool makeParents(Stage& stage, const std::string& relative) {
  for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
    FileWrite made = makeDirectory(pathJoin(stage.filesDir, nativePath(relative.substr(0, slash))));
    if (!made.ok) {
      stage.error = stage.filesDir + ": " + made.error;
      stage.inputBad = false;
      return false;
    }
  }
  return true;
}

// Stages the file or folder tree `source` as `relative`; refuses links and
// anything but regular files and folders, so nothing outside is reached.
bool stageTree(Stage& stage, const std::string& source, const std::string& relative, const std::string& shown) {
  std::string error;
  PathKind kind = pathKind(source, error);
  switch (kind) {
    case PathKind::file: {
      for (const std::string& key : stage.signingFiles) {
        if (sameFileIdentity(source, key)) {
          stage.error = shown + ": is a file given to --sign-with; a package never ships the signing "
                                "certificate or key";
          return false;
        }
      }
      if (!stage.paths.insert(relative).second) return true;
      if (stage.paths.size() > kMaxStagedFiles) {
        stage.error = shown + ": more than " + std::to_string(kMaxStagedFiles) + " files to install";
        return false;
      }
      if (!makeParents(stage, relative)) return false;
      if (!copyFile(source, pathJoin(stage.filesDir, nativePath(relative)), error)) {
        stage.error = shown + ": cannot copy: " + error;
        return false;
      }
      return true;
    }
    case PathKind::directory: {
      std::vector<std::string> names;
      if (!listDirectory(source, names, error)) {
        stage.error = shown + ": cannot list: " + error;
        return false;
      }
      for (const std::string& name : names) {
        std::string why;
        if (!isConfinedRelativePath(name, why)) {
          stage.error = shown + "/" + name + ": " + why;
          return false;
        }
        if (!stageTree(stage, pathJoin(source, name), relative + "/" + name, shown + "/" + name)) return false;
      }
      return true;
    }
    case PathKind::missing: stage.error = shown + ": not found"; return false;
    case PathKind::link:
      stage.error = shown + ": a symbolic link or junction; a package takes only the files themselves";
      return false;
    case PathKind::other: stage.error = shown + ": neither a regular file nor a folder"; return false;
    case PathKind::failed: stage.error = shown + ": " + error; return false;
  }
  return false;
}

// Stages a path given relative to the description's directory, after
// checking that no folder on the way is a link out of it.
bool stageFromDescription(Stage& stage, const std::string& descriptionDir, const std::string& path,
                          const std::string& shown) {
  std::string relative = path;
  for (char& c : relative) c = c == '\\' ? '/' : c;
  std::string error;
  for (size_t slash = relative.find('/'); slash != std::string::npos; slash = relative.find('/', slash + 1)) {
    std::string parent = pathJoin(descriptionDir, nativePath(relative.substr(0, slash)));
    PathKind kind = pathKind(parent, error);
    if (kind != PathKind::directory) {
      stage.error = shown + ": " +
                    (kind == PathKind::link ? std::string("goes through a symbolic link or junction")
                     : kind == PathKind::missing ? std::string("not found")
                                                 : "\"" + relative.substr(0, slash) + "\" is not a folder");
      return false;
    }
  }
  return stageTree(stage, pathJoin(descriptionDir, nativePath(relative)), relative, shown);
}

// The digest of the staged files (names and contents, in order) and the
// source: what the package code is derived from.
bool contentDigest(const Stage& stage, const std::string& actionPath, const std::string& source, std::string& digest,
                   std::string& error) {
  Sha1 sha;
  sha.update(source);
  std::vector<uint8_t> buffer(kIncludedCopyChunk);
  std::vector<std::string> paths(stage.paths.begin(), stage.paths.end());
  paths.push_back(std::string());  // the custom action, under no name below the install folder
  for (const std::string& path : paths) {
    sha.update(path.c_str(), path.size() + 1);
    InputFile in;
    std::string file = path.empty() ? actionPath : pathJoin(stage.filesDir, nativePath(path));
    if (openInputFile(file, in, error) != ReadStatus::ok) return false;
    for (;;) {
      size_t got = 0;
      if (!readInputFile(in, buffer.data(), buffer.size(), got, error)) return false;
      if (got == 0) break;
      sha.update(buffer.data(), got);
    }
  }
  char hex[3];
  for (uint8_t b : sha.finish()) {
    std::snprintf(hex, sizeof hex, "%02x", b);
    digest += hex;
  }
  return true;
}

// Narrow texts of the block are in the code page; the WiX source is UTF-8.
bool narrowText(const ConfigTables& tables, ConfigKey key, unsigned codePage, std::string& out) {
  Decoded d = decodeNarrow(getConfigString(tables, key), codePage);
  if (!d.ok) return false;
  out = d.utf8;
  return true;
}

// Runs a tool of msitools; false (reported) when it fails or complains.
bool runTool(const std::vector<std::string>& args, const std::string& output, const std::string& outputFile = {}) {
  RunOutput to;
  to.file = outputFile;
  to.captureErrors = true;
  ProgramRun run = runProgram(args, to);
  if (!run.started) {
    if (run.notFound) {
      report("%s: cannot build the package: %s not found on PATH; %s; nothing was written", output.c_str(),
             args[0].c_str(), kInstallTools);
    } else {
      report("%s: cannot run %s: %s; nothing was written", output.c_str(), args[0].c_str(), run.error.c_str());
    }
    return false;
  }
  if (run.exitCode == 0 && run.errors.empty()) return true;
  // wixl ends with 0 after several complaints and then writes wrong tables:
  // whatever it says on standard error is a failure.
  // Line by line, escaped: the tool repeats texts of the description.
  for (size_t start = 0; start < run.errors.size();) {
    size_t end = run.errors.find('\n', start);
    if (end == std::string::npos) end = run.errors.size();
    std::string line = escapeForTerminal(std::string_view(run.errors).substr(start, end - start)) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    start = end + 1;
  }
  report("%s: %s failed (exit code %d%s); nothing was written", output.c_str(), args[0].c_str(), run.exitCode,
         run.errors.empty() ? "" : ", its messages are above");
  return false;
}

// Fixes what wixl leaves to chance in the summary information: the times
// (now) and the package code (set again from the source, which it may not
// have copied). The rest of the summary stays as wixl wrote it.
bool fixSummary(const std::string& msi, const std::string& workDir, const std::string& packageCode,
                const std::string& output) {
  std::string exported = pathJoin(workDir, "_SummaryInformation.idt");
  if (!runTool({"msiinfo", "export", msi, "_SummaryInformation"}, output, exported)) return false;
  FileRead text = readFileBounded(exported, 1u << 20);
  if (text.status != ReadStatus::ok) {
    report("%s: cannot read the summary information msiinfo exported: %s; nothing was written", output.c_str(),
           text.error.c_str());
    return false;
  }
  std::string in(text.bytes.begin(), text.bytes.end());
  std::string out;
  size_t start = 0;
  bool times = false;
  while (start < in.size()) {
    size_t end = in.find('\n', start);
    end = end == std::string::npos ? in.size() : end + 1;
    std::string line = in.substr(start, end - start);
    start = end;
    if (line.rfind("9\t", 0) == 0) {
      line = "9\t{" + packageCode + "}\r\n";
    } else if (line.rfind("12\t", 0) == 0 || line.rfind("13\t", 0) == 0) {
      line = line.substr(0, line.find('\t')) + "\t2000/01/01 00:00:00\r\n";
      times = true;
    }
    out += line;
  }
  if (!times) {
    report("%s: the summary information has no times to fix; nothing was written", output.c_str());
    return false;
  }
  FileWrite written = writeFileReplacing(exported, std::vector<uint8_t>(out.begin(), out.end()));
  if (!written.ok) {
    report("%s: %s", exported.c_str(), written.error.c_str());
    return false;
  }
  return runTool({"msibuild", msi, "-i", exported}, output);
}

// What the description gives the package: the block's records as the
// launcher reads them, and the "package" section.
struct MsiInputs {
  Description description;
  ConfigTables tables;
  PackageSection section;
};

// Reads and parses the description; an exit code other than kExitOk when
// that fails (reported).
int readInputs(const MsiArgs& a, MsiInputs& in) {
  if (a.output.empty() && a.wxs.empty()) {
    report("msi: give -o OUT.msi, --wxs OUT.wxs or both");
    return kExitBadInput;
  }
  if (kWindowsPaths && !a.output.empty()) {
    report("%s: kernopack.exe cannot build an MSI: it needs wixl (msitools), which runs on Linux; write the "
           "WiX source with --wxs OUT.wxs and build it with the WiX Toolset, or use the Linux kernopack "
           "(docs/msi.md)",
           a.output.c_str());
    return kExitFailure;
  }
  FileRead desc = readFileBounded(a.input.description, kMaxDescriptionBytes);
  if (desc.status != ReadStatus::ok) {
    report("%s: cannot read: %s", a.input.description.c_str(), desc.error.c_str());
    return desc.status == ReadStatus::failed ? kExitFailure : kExitBadInput;
  }
  std::string_view json(reinterpret_cast<const char*>(desc.bytes.data()), desc.bytes.size());
  in.description = parseDescription(json, a.input.codePage);
  if (!in.description.ok) {
    report("%s: %s", a.input.description.c_str(), in.description.error.c_str());
    return kExitBadInput;
  }
  std::string error;
  if (!parsePackageSection(json, in.section, error)) {
    report("%s: %s", a.input.description.c_str(), error.c_str());
    return kExitBadInput;
  }
  for (const auto& [key, value] : in.description.records.narrow) in.tables.narrow[key] = value;
  for (const auto& [key, value] : in.description.records.wide) in.tables.wide[key] = value;
  return kExitOk;
}

// The product version and upgrade code: from the command line, else from
// the "package" section.
int planProduct(const MsiArgs& a, const PackageSection& section, PackagePlan& plan) {
  std::string versionText = a.productVersion.empty() ? section.productVersion : a.productVersion;
  std::string upgradeText = a.upgradeCode.empty() ? section.upgradeCode : a.upgradeCode;
  const char* versionFrom = a.productVersion.empty() ? "field \"package\".\"productVersion\"" : "--product-version";
  const char* upgradeFrom = a.upgradeCode.empty() ? "field \"package\".\"upgradeCode\"" : "--upgrade-code";
  if (versionText.empty() || upgradeText.empty()) {
    report("%s: no %s; give --product-version X.Y.Z and --upgrade-code GUID, or \"productVersion\" and "
           "\"upgradeCode\" in the description's \"package\" section",
           a.input.description.c_str(), versionText.empty() ? "product version" : "upgrade code");
    return kExitBadInput;
  }
  std::string error;
  if (!parseProductVersion(versionText, plan.version, error)) {
    report("%s: %s", versionFrom, error.c_str());
    return kExitBadInput;
  }
  if (!parseGuid(upgradeText, plan.upgradeCode, error)) {
    report("%s: %s", upgradeFrom, error.c_str());
    return kExitBadInput;
  }
  return kExitOk;
}

// The service as the block registers it, and the names the package gives
// the product, its folder and the executable.
int planService(const MsiArgs& a, const MsiInputs& in, PackagePlan& plan) {
  std::string dependencies;
  size_t bad = 0;
  if (!narrowText(in.tables, ConfigKey::serviceName, a.input.codePage, plan.serviceName) ||
      !narrowText(in.tables, ConfigKey::serviceDependencies, a.input.codePage, dependencies) ||
      !utf16ToUtf8(getConfigWString(in.tables, WideKey::serviceDescription), plan.serviceDescription, bad) ||
      !utf16ToUtf8(getConfigWString(in.tables, WideKey::displayName), plan.displayName, bad)) {
    report("%s: the service name, display name, dependencies or description cannot be read back as text",
           a.input.description.c_str());
    return kExitBadInput;
  }
  std::vector<DamagedSetting> damaged;
  ServiceSettings settings = readServiceSettings(in.tables, damaged);
  if (!damaged.empty()) {
    report("%s: %s", a.input.description.c_str(), damagedSettingLine(damaged.front()).c_str());
    return kExitBadInput;
  }
  plan.automaticStart = getConfigInt(in.tables, ConfigKey::executableType) == kExecutableTypeAutoStart;
  InstallPlan install = planServiceInstall(settings, plan.serviceName, plan.automaticStart);
  plan.account = install.accountName.empty() ? "LocalSystem" : install.accountName;
  plan.accountPassword = install.needsPassword;
  for (std::string_view name : splitList(dependencies, ',', EmptyItems::drop)) plan.dependencies.emplace_back(name);
  plan.eventLog = settings.eventLog.value_or(false);
  const PackageSection& section = in.section;
  plan.productName = section.productName.empty() ? plan.serviceName : section.productName;
  plan.manufacturer = section.manufacturer.empty() ? plan.serviceName : section.manufacturer;
  plan.installFolder = section.installFolder.empty() ? plan.serviceName : section.installFolder;
  plan.executableName = plan.serviceName + ".exe";
  std::string error;
  if (!isConfinedRelativePath(plan.installFolder, error) || !isConfinedRelativePath(plan.executableName, error) ||
      plan.serviceName.find_first_of("/\\") != std::string::npos) {
    report("%s: the service name \"%s\" cannot name the install folder and the executable (%s); set "
           "\"package\".\"installFolder\" or choose another name",
           a.input.description.c_str(), plan.serviceName.c_str(), error.c_str());
    return kExitBadInput;
  }
  return kExitOk;
}

// Where the source and the staged files go: beside the kept WiX source, or
// in a new private work folder (mode 0700, or the private access list, under
// a random name in the temporary area), removed at the end; the work folder
// also takes what wixl and msibuild make. On any failure nothing is left:
// neither the work folder, nor the kept source and its files.
struct MsiFolders {
  std::string outputPath;  // the package; empty: none
  PrivateDirectory work;   // when there is a package
  std::string wxsPath;
  std::string stem;
  std::string shownOutput;  // as the command line gave it
  std::string filesDir;     // the kept source's files, once they are ours to remove
  std::string actionPath;   // the custom action DLL beside the source
  bool keepSource = false;
  bool succeeded = false;
  MsiFolders() = default;
  MsiFolders(const MsiFolders&) = delete;
  MsiFolders& operator=(const MsiFolders&) = delete;
  ~MsiFolders() {
    removePrivateDirectory(work);
    if (succeeded || !keepSource) return;
    if (!filesDir.empty()) removeTree(filesDir);
    if (!actionPath.empty()) removeTree(actionPath);
    removeTree(wxsPath);
  }
};

// An existing folder for the kept source's files is replaced only when it
// is the caller's own and holds no link: in a shared directory another user
// could have made it first, or made it a link, to swap what is staged.
int claimFilesFolder(const MsiArgs& a, const std::string& filesDir, bool fresh) {
  std::string why;
  if (!fresh && pathKind(filesDir, why) == PathKind::missing) return kExitOk;
  if (isOwnTreeWithoutLinks(filesDir, why)) return kExitOk;
  report("%s: %s %s: %s; it is not a folder of your own without links: remove it or choose another name; "
         "nothing was built",
         a.wxs.c_str(), filesDir.c_str(), fresh ? "was taken while it was made" : "exists", why.c_str());
  return kExitFailure;
}

// Names the folders and makes them, the staged tree empty.
int prepareFolders(const MsiArgs& a, PackagePlan& plan, MsiFolders& f, Stage& stage) {
  f.keepSource = !a.wxs.empty();
  f.outputPath = a.output.empty() ? std::string() : commandLinePath(a.output);
  if (!f.outputPath.empty()) {
    FileWrite made = makePrivateDirectory(f.work);
    if (!made.ok) {
      report("%s: %s; nothing was written", a.output.c_str(), made.error.c_str());
      return kExitFailure;
    }
  }
  f.wxsPath = f.keepSource ? commandLinePath(a.wxs) : std::string();
  std::string stageDir = f.keepSource ? pathDirectory(f.wxsPath) : f.work.path;
  f.stem = f.keepSource ? stemOf(std::string(pathFileName(f.wxsPath)), ".wxs")
                        : stemOf(std::string(pathFileName(f.outputPath)), ".msi");
  if (!f.keepSource) f.wxsPath = pathJoin(stageDir, f.stem + ".wxs");
  plan.sourceDirectory = f.stem + ".files";
  plan.actionSource = f.stem + ".action.dll";
  stage.filesDir = pathJoin(stageDir, plan.sourceDirectory);
  f.shownOutput = f.keepSource ? a.wxs : a.output;
  for (const std::string& key : a.input.signWith) stage.signingFiles.push_back(commandLinePath(key));
  if (f.keepSource) {
    int rc = claimFilesFolder(a, stage.filesDir, false);
    if (rc != kExitOk) return rc;
    removeTree(stage.filesDir);
    f.filesDir = stage.filesDir;
  }
  f.actionPath = pathJoin(stageDir, plan.actionSource);
  FileWrite made = makeDirectory(stage.filesDir);
  if (!made.ok) {
    report("%s: %s", stage.filesDir.c_str(), made.error.c_str());
    return kExitFailure;
  }
  return f.keepSource ? claimFilesFolder(a, stage.filesDir, true) : kExitOk;
}

// Copies the installer custom action DLL of the package's architecture
// beside the source.
int stageCustomAction(const MsiBuildSteps& steps, const MsiFolders& f, const PackagePlan& plan) {
  std::string looked;
  std::string found = steps.findCustomAction(plan.arch, looked);
  if (found.empty()) {
    report("%s: no %s found (looked for %s); build it, or use the packer of a release bundle, which has it",
           f.shownOutput.c_str(), customActionFileName(plan.arch).c_str(), looked.c_str());
    return kExitFailure;
  }
  std::string error;
  if (!copyFile(found, f.actionPath, error)) {
    report("%s: %s", found.c_str(), error.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

// Builds the executable into the staged tree and takes the architecture
// from its headers.
int stageExecutable(const MsiArgs& a, const MsiBuildSteps& steps, PackagePlan& plan, Stage& stage) {
  report("building the executable %s", plan.executableName.c_str());
  std::string exePath = pathJoin(stage.filesDir, plan.executableName);
  int built = steps.buildExecutable(exePath);
  if (built != kExitOk) return built;
  stage.paths.insert(plan.executableName);
  std::vector<uint8_t> head(kPeHeaderReadSize);
  size_t headSize = 0;
  std::string error;
  {
    InputFile exe;
    if (openInputFile(exePath, exe, error) != ReadStatus::ok ||
        !readInputFile(exe, head.data(), head.size(), headSize, error) || headSize < 0x40) {
      report("%s: cannot read back the executable just built: %s", stage.filesDir.c_str(), error.c_str());
      return kExitFailure;
    }
  }
  uint16_t machine = parsePeLayout(head.data(), headSize).machine;
  plan.arch = archForMachine(machine);
  if (plan.arch == LauncherArch::unspecified) {
    report("%s: the launcher is neither an x64 nor an x86 one (machine type 0x%04x)", a.input.description.c_str(),
           unsigned(machine));
    return kExitBadInput;
  }
  return kExitOk;
}

// Stages one class path item beside the executable; absolute items, items
// with variables and environment items name places outside the install
// folder and are left alone. The runtime jar comes from the packer when the
// description's directory does not have it.
int stageClassPathItem(const MsiArgs& a, const MsiBuildSteps& steps, const ClassPathItem& item, size_t index,
                       Stage& stage, const std::string& descriptionDir) {
  std::string why;
  if ((item.type != 'A' && item.type != 'D' && item.type != 'S') || item.path.find('%') != std::string::npos ||
      !isConfinedRelativePath(item.path, why))
    return kExitOk;
  Decoded path = decodeNarrow(item.path, a.input.codePage);
  if (!path.ok) return kExitOk;
  std::string shown = "field \"classPath\"[" + std::to_string(index) + "]: " + path.utf8;
  std::string relative = path.utf8;
  for (char& c : relative) c = c == '\\' ? '/' : c;
  bool staged = true;
  if (item.type == 'A' && std::string(portableFileName(relative)) == kRuntimeJarName &&
      pathKind(pathJoin(descriptionDir, nativePath(relative)), why) == PathKind::missing) {
    std::string looked;
    std::string jar = steps.findRuntimeJar(looked);
    if (jar.empty()) {
      report("%s: %s: not beside the description, and no %s found (looked for %s)", a.input.description.c_str(),
             shown.c_str(), std::string(kRuntimeJarName).c_str(), looked.c_str());
      return kExitFailure;
    }
    staged = makeParents(stage, relative) && stageTree(stage, jar, relative, jar);
  } else {
    staged = stageFromDescription(stage, descriptionDir, path.utf8, shown);
  }
  if (staged) return kExitOk;
  report("%s: %s", a.input.description.c_str(), stage.error.c_str());
  return stage.inputBad ? kExitBadInput : kExitFailure;
}

// The class path's archives and folders beside the executable, then the
// package's own files, all with a fixed time.
int stageFiles(const MsiArgs& a, const MsiBuildSteps& steps, const MsiInputs& in, PackagePlan& plan,
               Stage& stage) {
  report("staging the files to install");
  std::string descriptionDir = pathDirectory(commandLinePath(a.input.description));
  std::vector<ClassPathItem> items = parseClassPathItems(getConfigString(in.tables, ConfigKey::classPath));
  for (size_t i = 0; i < items.size(); ++i) {
    int rc = stageClassPathItem(a, steps, items[i], i, stage, descriptionDir);
    if (rc != kExitOk) return rc;
  }
  for (size_t i = 0; i < in.section.files.size(); ++i) {
    std::string shown = "field \"package\".\"files\"[" + std::to_string(i) + "]: " + in.section.files[i];
    if (!stageFromDescription(stage, descriptionDir, in.section.files[i], shown)) {
      report("%s: %s", a.input.description.c_str(), stage.error.c_str());
      return stage.inputBad ? kExitBadInput : kExitFailure;
    }
  }
  std::string error;
  for (const std::string& path : stage.paths) {
    if (path != plan.executableName) plan.files.push_back(StagedFile{path});
    if (!setFixedFileTime(pathJoin(stage.filesDir, nativePath(path)), error)) {
      report("%s: %s: cannot set its time: %s", stage.filesDir.c_str(), path.c_str(), error.c_str());
      return kExitFailure;
    }
  }
  return kExitOk;
}

// Writes the WiX source. The package code is derived from everything the
// package holds, not from where the files were staged: the same inputs give
// the same package whatever the output is called.
int writeSource(const MsiArgs& a, const MsiFolders& f, const Stage& stage, PackagePlan& plan) {
  std::string source;
  std::string digest;
  std::string error;
  // The staged names follow the output's name: left out of what the code is
  // derived from (the custom action's content is in the digest all the same).
  std::string sourceDirectory = std::move(plan.sourceDirectory);
  std::string actionSource = std::move(plan.actionSource);
  plan.sourceDirectory.clear();
  plan.actionSource = actionSource.empty() ? std::string() : "action.dll";
  bool described = wixSource(plan, source, error);
  plan.sourceDirectory = std::move(sourceDirectory);
  plan.actionSource = std::move(actionSource);
  if (!described) {
    report("%s: %s", a.input.description.c_str(), error.c_str());
    return kExitBadInput;
  }
  if (!contentDigest(stage, f.actionPath, source, digest, error)) {
    report("%s: cannot read a staged file back: %s", stage.filesDir.c_str(), error.c_str());
    return kExitFailure;
  }
  plan.packageCode = nameBasedUuid(plan.upgradeCode, "package " + digest);
  if (!wixSource(plan, source, error)) {
    report("%s: %s", a.input.description.c_str(), error.c_str());
    return kExitBadInput;
  }
  // A text file: not given the execute permission an executable gets.
  OutputFile sourceFile;
  FileWrite written = beginOutputFile(f.wxsPath, sourceFile, false);
  if (written.ok) written = writeOutputFile(sourceFile, reinterpret_cast<const uint8_t*>(source.data()), source.size());
  if (written.ok) written = commitOutputFile(sourceFile);
  if (!written.ok) {
    report("%s: %s", f.shownOutput.c_str(), written.error.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

// Runs wixl on the source, fixes the summary, and puts the package in place
// through a temporary file beside it: whole or untouched, and not
// executable.
int buildPackage(const MsiArgs& a, const MsiFolders& f, const PackagePlan& plan) {
  report("building %s with wixl", a.output.c_str());
  std::string temp = pathJoin(f.work.path, f.stem + ".msi");
  // The install folder's access list: wixl has no element for it.
  std::string table = pathJoin(f.work.path, "MsiLockPermissionsEx.idt");
  std::string text = lockPermissionsTable();
  FileWrite written = writeFileReplacing(table, std::vector<uint8_t>(text.begin(), text.end()));
  if (!written.ok) {
    report("%s: %s", table.c_str(), written.error.c_str());
    return kExitFailure;
  }
  std::string define = std::string(kWixlVariable) + "=1";
  if (!runTool({"wixl", "-D", define, "-a", launcherArchName(plan.arch), "-o", temp, f.wxsPath}, a.output) ||
      !runTool({"msibuild", temp, "-i", table}, a.output) ||
      !fixSummary(temp, f.work.path, plan.packageCode, a.output))
    return kExitFailure;
  std::string error;
  if (!copyFile(temp, f.outputPath, error)) {
    report("%s: %s", a.output.c_str(), error.c_str());
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int runMsi(const MsiArgs& a, const MsiBuildSteps& steps) {
  MsiInputs in;
  PackagePlan plan;
  int rc = readInputs(a, in);
  if (rc == kExitOk) rc = planProduct(a, in.section, plan);
  if (rc == kExitOk) rc = planService(a, in, plan);
  if (rc != kExitOk) return rc;
  MsiFolders folders;
  Stage stage;
  rc = prepareFolders(a, plan, folders, stage);
  if (rc == kExitOk) rc = stageExecutable(a, steps, plan, stage);
  if (rc == kExitOk) rc = stageCustomAction(steps, folders, plan);
  if (rc == kExitOk) rc = stageFiles(a, steps, in, plan, stage);
  if (rc == kExitOk) rc = writeSource(a, folders, stage, plan);
  if (rc == kExitOk && !folders.outputPath.empty()) rc = buildPackage(a, folders, plan);
  folders.succeeded = rc == kExitOk;
  return rc;
}
