// The Windows Installer package of a service, as pure rules: the "package"
// section of a service description, the checks of a product version and of
// a GUID, the name-based UUIDs that make a package reproducible, and the WiX
// source that wixl (or the WiX Toolset) turns into the package. No file or
// process access here; tools/kernopack/msi/msi.cpp stages the files and runs
// wixl. See docs/msi.md.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "description/description.h"
#include "image/launcher_choice.h"


// Longest product name, manufacturer or install folder name accepted.
inline constexpr size_t kMaxPackageText = 255;
// Most entries of "files" and most files staged in all.
inline constexpr size_t kMaxPackageEntries = 1000;
inline constexpr size_t kMaxStagedFiles = 20000;

// A product version as Windows Installer compares it: major.minor.build.
struct ProductVersion {
  unsigned major = 0, minor = 0, build = 0;
};

// "X.Y.Z", decimal without sign or leading zeros, major and minor at most
// 255 and build at most 65535 (what the installer compares). On failure
// `error` says what is wrong.
bool parseProductVersion(std::string_view text, ProductVersion& out, std::string& error);
std::string productVersionText(const ProductVersion& v);

// A GUID in registry form, with or without braces, any letter case. The
// result is upper case without braces ("12345678-9ABC-...").
bool parseGuid(std::string_view text, std::string& canonical, std::string& error);

// SHA-1 of a byte sequence, fed in pieces.
class Sha1 {
 public:
  Sha1();
  void update(const void* data, size_t size);
  void update(std::string_view text) { update(text.data(), text.size()); }
  std::array<uint8_t, 20> finish();

 private:
  void block(const uint8_t* p);
  uint32_t h_[5];
  uint8_t buffer_[64];
  size_t used_ = 0;
  uint64_t bytes_ = 0;
};

// The name-based UUID (version 5, SHA-1) of `name` in the namespace of the
// GUID `nameSpace` (canonical form), in canonical form.
std::string nameBasedUuid(const std::string& nameSpace, std::string_view name);

// The product code: derived from the upgrade code, the version and the
// architecture, so that a rebuild of one version is the same product and
// the two architectures are two products.
std::string productCode(const std::string& upgradeCode, const ProductVersion& v, LauncherArch arch);

// The "package" section as the description gives it; empty texts are not
// given.
struct PackageSection {
  std::string manufacturer;
  std::string productName;
  std::string installFolder;
  std::string upgradeCode;     // as given, checked later
  std::string productVersion;  // as given, checked later
  std::vector<std::string> files;  // paths relative to the description's directory
};

// Reads the "package" member of a description (UTF-8 JSON); a description
// without one gives an empty section. Refuses unknown members, values of the
// wrong kind and paths that leave the description's directory (absolute,
// UNC, drive, "..", empty pieces, device names), with `error` naming the member.
bool parsePackageSection(std::string_view json, PackageSection& out, std::string& error);

// A relative path that stays below its base directory: pieces separated by
// '/' or '\', none empty, "." or "..", none with a character a Windows file
// name cannot hold or a trailing dot or space, no device name. `error` says
// what is wrong.
bool isConfinedRelativePath(std::string_view path, std::string& error);

// One file staged for the package: its path below the install folder,
// pieces separated by '/'.
struct StagedFile {
  std::string path;
};

// Everything the WiX source says.
struct PackagePlan {
  LauncherArch arch = LauncherArch::x64;
  std::string productName;
  std::string manufacturer;
  std::string installFolder;
  ProductVersion version;
  std::string upgradeCode;  // canonical
  std::string packageCode;  // canonical; empty: left to the tool (random)
  // The service as the configuration block registers it (UTF-8).
  std::string serviceName;
  std::string serviceDescription;
  bool automaticStart = false;
  std::string account;  // the account's object name; "LocalSystem" for LocalSystem
  // A user account: its password comes from the hidden property
  // SERVICEPASSWORD, which the package requires.
  bool accountPassword = false;
  std::string displayName;  // empty: the service name
  std::vector<std::string> dependencies;
  bool eventLog = false;
  // The executable's file name, and the other staged files (below the
  // install folder, '/' separated, sorted, without the executable).
  std::string executableName;
  std::vector<StagedFile> files;
  // Where the files are, relative to the WiX source's directory.
  std::string sourceDirectory;
  // The installer custom action DLL (kernoaction-*.dll), relative to the
  // WiX source's directory; it goes into the package, not the install folder.
  std::string actionSource;
};

// Escapes a text for an XML attribute value (and element content).
std::string xmlEscape(std::string_view text);

// The WiX source of the package. Checks what the source cannot carry
// (texts with control characters, a name the registry or the installer's
// formatted text would misread) and fails with `error` naming it.
bool wixSource(const PackagePlan& plan, std::string& source, std::string& error);

// Property names a package reads on the msiexec command line.
inline constexpr std::string_view kInstallDirProperty = "INSTALLDIR";
inline constexpr std::string_view kAccountProperty = "SERVICEACCOUNT";
inline constexpr std::string_view kPasswordProperty = "SERVICEPASSWORD";

// The preprocessor variable the packer defines for wixl, which has no
// element for an access list: the source then leaves out the install
// folder's PermissionEx, and the packer adds the table below with msibuild.
inline constexpr std::string_view kWixlVariable = "KernoWixl";

// The install folder's access list, as Program Files has it: SYSTEM and the
// administrators full control, users read and execute, nothing inherited
// from the folder above.
inline constexpr std::string_view kInstallFolderSddl =
    "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The MsiLockPermissionsEx table (msibuild's .idt form) that gives the
// install folder kInstallFolderSddl.
std::string lockPermissionsTable();
