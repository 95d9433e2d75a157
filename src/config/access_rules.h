// Rules about who may touch what the launcher creates or trusts: the private
// access list of its own files and directories in shared places, the name of
// the extraction directory, and which users an access list lets write to a
// directory. The system calls are in access_rules_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Well-known SIDs, as text.
inline constexpr std::string_view kSidLocalSystem = "S-1-5-18";
inline constexpr std::string_view kSidAdministrators = "S-1-5-32-544";
inline constexpr std::string_view kSidTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr std::string_view kSidCreatorOwner = "S-1-3-0";

// The security descriptor (in the system's descriptor text form) of a file or
// directory only the launcher's own account, SYSTEM and the administrators may
// use: full access for those three, nothing for anybody else, and protected,
// so that nothing of the parent's access list is inherited. A directory hands
// the same entries down to what is created in it. `accountSid` is the SID of
// the process's user; SYSTEM and the administrators are named once only.
std::string privateSecurityDescriptorText(std::string_view accountSid, bool directory);

// How many random bytes name a private directory of the launcher (the
// extraction directory, or the per-run directory when nothing is included):
// 128 bits cannot be guessed, nor planted in advance.
inline constexpr std::size_t kExtractionNameRandomBytes = 16;

// Prefix of the launcher's private directories in the temporary area.
inline constexpr std::string_view kPrivateDirectoryPrefix = "krn_";

// A private directory in `temporaryDirectory` (which may or may not end in a
// backslash): "krn_" and the random bytes in lower-case hex
// ("C:\T" gives "C:\T\krn_9f0c..."). Nothing else is in the name, so
// nobody can take every name it may have.
std::string extractionDirectoryName(std::string_view temporaryDirectory, const uint8_t* random,
                                    std::size_t size);

// Whether a bare name (no directory) has the shape of an extraction
// directory: "krn_" and 32 hex digits, or the shape of earlier launchers
// ("krn", one to eight hex digits, ".tmp_dir", one or more hex digits), so
// that what they left behind is still swept. Letters are compared without
// case, as Windows names are.
bool isExtractionDirectoryName(std::string_view name);

// One entry of an access list, as the system gave it.
struct AccessEntry {
  bool allow = true;         // an allowing entry (denying ones are not counted)
  bool inheritOnly = false;  // applies to children only, not to the object itself
  uint32_t mask = 0;
  std::string sid;
};

// What counts of one entry of an access list in the system's binary form
// (ACE_HEADER, the mask, then the SID): plain, object, callback and
// callback-object entries, allowing and denying (a conditional entry is a
// callback entry). `sidOffset` is where the SID starts: after the mask, and
// in an object entry after its flags and the GUIDs they announce. An
// allowing entry whose SID lies past its end keeps its mask with sidOffset
// 0, so that the grant is counted for an unknown account. Other types
// (audit, alarm, label, attribute entries) grant nothing: `counted` false.
struct AceFields {
  bool counted = false;
  bool allow = false;
  bool inheritOnly = false;
  uint32_t mask = 0;
  std::size_t sidOffset = 0;  // 0: no readable SID
};
AceFields aceFields(const uint8_t* ace, std::size_t size);

// What a directory's security descriptor says.
struct DirectoryAccess {
  std::string ownerSid;  // empty when unknown
  bool hasDacl = true;   // false: a null access list, which lets everyone in
  std::vector<AccessEntry> entries;
};

// Rights that let a user put, replace or remove entries in a directory, or
// give themselves those rights: add file, add subdirectory, delete child,
// delete, change the access list or the owner, and the generic write and all.
inline constexpr uint32_t kDirectoryWriteRights = 0x00000002u | 0x00000004u | 0x00000040u |
                                                  0x00010000u | 0x00040000u | 0x00080000u |
                                                  0x40000000u | 0x10000000u;

// Rights that let a user change a file's content, remove it, or give
// themselves those rights: write data, append data, delete, change the access
// list or the owner, generic write and all. (On a file 0x40 is the right to
// execute, which users usually have.)
inline constexpr uint32_t kFileWriteRights = 0x00000002u | 0x00000004u | 0x00010000u | 0x00040000u |
                                             0x00080000u | 0x40000000u | 0x10000000u;

// Rights on a directory above the installation directory that let a user
// move or remove what it holds, and so put another directory in the place
// of the installation directory: delete child, delete (rename the directory
// itself away), change the access list or the owner, and generic all.
// Adding entries beside it is harmless (users may create directories in
// the root of C: by default).
inline constexpr uint32_t kParentDirectoryWriteRights =
    0x00000040u | 0x00010000u | 0x00040000u | 0x00080000u | 0x10000000u;

// What an access list guards, for the rights that count.
enum class PlaceKind { directory, parentDirectory, file };

// The accounts trusted to write where the launcher's executable lies: SYSTEM,
// the administrators, TrustedInstaller, CREATOR OWNER (which by itself lets
// nobody create anything) and the account that installs (`installerSid`, an
// administrator). Everybody else who may write is listed, each SID once, in
// the order first met: the owner first (an owner may always rewrite the
// access list), then the allowing entries that apply to the object itself
// and grant a right of its kind (kDirectoryWriteRights, kFileWriteRights,
// kParentDirectoryWriteRights). A null access list gives "S-1-1-0" (everyone).
std::vector<std::string> untrustedWriters(const DirectoryAccess& access, std::string_view installerSid,
                                          PlaceKind kind = PlaceKind::directory);

// The one warning line /install prints when others may write to `place`
// (for a parent directory: replace what it holds).
std::string unsafeDirectoryWarning(std::string_view place, const std::vector<std::string>& writers,
                                   PlaceKind kind = PlaceKind::directory);

// One place /install looks at, and whether it is a directory above the
// executable's.
struct CheckedPlace {
  std::string path;
  bool parent = false;
};

// The places /install looks at, in order: the executable's directory, the
// directories above it up to its root (nearest first: "c:\a\b" gives
// "c:\a" and "c:\"; "\\srv\share\a" gives "\\srv\share\"), then the
// named places (the files and directories the configuration names beside
// it). Each path once, letters compared without case and a trailing
// backslash ignored; empty names left out.
std::vector<CheckedPlace> installCheckedPlaces(std::string_view exeDirectory,
                                               const std::vector<std::string>& named);
