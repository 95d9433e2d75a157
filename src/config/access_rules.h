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

// The accounts trusted to write where the launcher's executable lies: SYSTEM,
// the administrators, TrustedInstaller, CREATOR OWNER (which by itself lets
// nobody create anything) and the account that installs (`installerSid`, an
// administrator). Everybody else who may write is listed, each SID once, in
// the order first met: the owner first (an owner may always rewrite the
// access list), then the allowing entries that apply to the directory itself.
// A null access list gives "S-1-1-0" (everyone).
std::vector<std::string> untrustedWriters(const DirectoryAccess& access, std::string_view installerSid);

// The one warning line /install prints when others may write to `directory`.
std::string unsafeDirectoryWarning(std::string_view directory, const std::vector<std::string>& writers);
