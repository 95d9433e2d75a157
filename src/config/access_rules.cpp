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

std::vector<std::string> untrustedWriters(const DirectoryAccess& access, std::string_view installerSid) {
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
    if (entry.allow && !entry.inheritOnly && (entry.mask & kDirectoryWriteRights) != 0) add(entry.sid);
  }
  return out;
}

std::string unsafeDirectoryWarning(std::string_view directory, const std::vector<std::string>& writers) {
  std::string who;
  for (const std::string& sid : writers) who += (who.empty() ? "" : ", ") + sid;
  return "Warning: users other than administrators and SYSTEM can write to " + std::string(directory) +
         " (" + who + "); whatever they put there runs with the service's rights.\n";
}
