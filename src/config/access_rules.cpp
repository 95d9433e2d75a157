#include "config/access_rules.h"

#include <algorithm>

#include "common/hex_text.h"

namespace {

bool sameSid(std::string_view a, std::string_view b) {
  // SID texts differ only in the case of their "S" prefix.
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Counts hex digits from `at`.
std::size_t hexRun(std::string_view text, std::size_t at) {
  std::size_t n = 0;
  while (at + n < text.size() && isHexDigit(text[at + n])) ++n;
  return n;
}

}  // namespace

std::string privateSecurityDescriptorText(std::string_view accountSid, bool directory) {
  // FA: all file rights. OICI: handed down to files and directories inside.
  const std::string ace = directory ? "(A;OICI;FA;;;" : "(A;;FA;;;";
  std::string out = "D:P" + ace + std::string(kSidLocalSystem) + ")" + ace +
                    std::string(kSidAdministrators) + ")";
  if (!accountSid.empty() && !sameSid(accountSid, kSidLocalSystem) &&
      !sameSid(accountSid, kSidAdministrators)) {
    out += ace + std::string(accountSid) + ")";
  }
  return out;
}

std::string extractionDirectoryName(std::string_view temporaryDirectory, const uint8_t* random,
                                    std::size_t size) {
  std::string out(temporaryDirectory);
  if (!out.empty() && out.back() != '\\') out += '\\';
  out += kPrivateDirectoryPrefix;
  out += lowerHex(random, size);
  return out;
}

bool isExtractionDirectoryName(std::string_view name) {
  if (!startsWithNoCase(name, "krn")) return false;
  if (startsWithNoCase(name, kPrivateDirectoryPrefix)) {
    std::string_view rest = name.substr(kPrivateDirectoryPrefix.size());
    return rest.size() == 2 * kExtractionNameRandomBytes && hexRun(rest, 0) == rest.size();
  }
  std::size_t digits = hexRun(name, 3);
  if (digits == 0 || digits > 8) return false;
  std::string_view rest = name.substr(3 + digits);
  if (!startsWithNoCase(rest, ".tmp_dir")) return false;
  rest.remove_prefix(8);
  return !rest.empty() && hexRun(rest, 0) == rest.size();
}

AceFields aceFields(const uint8_t* ace, std::size_t size) {
  AceFields out;
  constexpr std::size_t kHeader = 4;  // type, flags, size
  constexpr std::size_t kMinSid = 8;  // revision, count, authority
  if (ace == nullptr || size < kHeader + 4) return out;
  const uint8_t type = ace[0];
  bool object = false;
  switch (type) {
    case 0x00: case 0x09: out.allow = true; break;                 // allowed, allowed callback
    case 0x01: case 0x0A: break;                                   // denied, denied callback
    case 0x05: case 0x0B: out.allow = true; object = true; break;  // allowed object (callback)
    case 0x06: case 0x0C: object = true; break;                    // denied object (callback)
    case 0x04: out.allow = true; break;                            // allowed compound: SID unread
    default: return out;
  }
  out.counted = true;
  out.inheritOnly = (ace[1] & 0x08) != 0;  // INHERIT_ONLY_ACE
  out.mask = uint32_t(ace[4]) | uint32_t(ace[5]) << 8 | uint32_t(ace[6]) << 16 | uint32_t(ace[7]) << 24;
  std::size_t sid = kHeader + 4;
  if (object) {
    if (size < sid + 4) return out;
    const uint8_t flags = ace[sid];
    sid += 4 + ((flags & 0x01) ? 16 : 0) + ((flags & 0x02) ? 16 : 0);
  }
  if (type == 0x04 || size < sid + kMinSid || size - sid - kMinSid < std::size_t(ace[sid + 1]) * 4) return out;
  out.sidOffset = sid;
  return out;
}

std::vector<std::string> untrustedWriters(const DirectoryAccess& access, std::string_view installerSid,
                                          PlaceKind kind) {
  const uint32_t rights = kind == PlaceKind::file              ? kFileWriteRights
                          : kind == PlaceKind::parentDirectory ? kParentDirectoryWriteRights
                                                               : kDirectoryWriteRights;
  const std::string_view trusted[] = {kSidLocalSystem, kSidAdministrators, kSidTrustedInstaller,
                                      kSidCreatorOwner, installerSid};
  std::vector<std::string> out;
  auto add = [&](const std::string& sid) {
    if (sid.empty()) return;
    for (std::string_view t : trusted)
      if (!t.empty() && sameSid(sid, t)) return;
    for (const std::string& seen : out)
      if (sameSid(seen, sid)) return;
    out.push_back(sid);
  };
  add(access.ownerSid);
  if (!access.hasDacl) {
    add("S-1-1-0");
    return out;
  }
  for (const AccessEntry& entry : access.entries) {
    if (entry.allow && !entry.inheritOnly && (entry.mask & rights) != 0) add(entry.sid);
  }
  return out;
}

std::string unsafeDirectoryWarning(std::string_view place, const std::vector<std::string>& writers,
                                   PlaceKind kind) {
  std::string who;
  for (const std::string& sid : writers) who += (who.empty() ? "" : ", ") + sid;
  std::string what = kind == PlaceKind::parentDirectory
                         ? "replace what " + std::string(place) + " holds"
                         : "write to " + std::string(place);
  return "Warning: users other than administrators and SYSTEM can " + what + " (" + who +
         "); whatever they put there runs with the service's rights.\n";
}

std::vector<CheckedPlace> installCheckedPlaces(std::string_view exeDirectory,
                                               const std::vector<std::string>& named) {
  std::vector<CheckedPlace> out;
  auto key = [](std::string_view path) {
    std::string k(path);
    if (k.size() > 1 && k.back() == '\\') k.pop_back();
    for (char& c : k) {
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return k;
  };
  auto add = [&](std::string_view path, bool parent) {
    if (path.empty()) return;
    for (const CheckedPlace& seen : out) {
      if (key(seen.path) == key(path)) return;
    }
    out.push_back({std::string(path), parent});
  };
  add(exeDirectory, false);
  // The root: "x:\" or "\\server\share\"; nothing above it is looked at.
  std::size_t root = 0;
  if (exeDirectory.substr(0, 2) == "\\\\") {
    std::size_t server = exeDirectory.find('\\', 2);
    std::size_t share = server == std::string_view::npos ? server : exeDirectory.find('\\', server + 1);
    root = share == std::string_view::npos ? exeDirectory.size() : share + 1;
  } else if (exeDirectory.size() >= 3 && exeDirectory[1] == ':' && exeDirectory[2] == '\\') {
    root = 3;
  }
  std::string_view rest = exeDirectory;
  while (rest.size() > root && rest.back() == '\\') rest.remove_suffix(1);
  while (root > 0 && rest.size() > root) {
    std::size_t cut = rest.find_last_of('\\');
    if (cut == std::string_view::npos) break;
    std::string_view parent = cut < root ? exeDirectory.substr(0, root) : rest.substr(0, cut);
    add(parent, true);
    rest = parent;
  }
  for (const std::string& path : named) add(path, false);
  return out;
}
