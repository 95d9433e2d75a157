#include "config/access_rules_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "common/handles_win.h"

// RtlGenRandom: the cryptographic random source of advapi32, there on every
// Windows since XP (and in Wine) without loading another library.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace {

// Stands for the account of an entry whose SID cannot be read.
constexpr const char* kUnknownSid = "an unknown account";

std::string sidText(PSID sid) {
  char* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidA(sid, &text)) return std::string();
  std::string out = text;
  LocalFree(text);
  return out;
}

// One piece of the process token: TokenUser or TokenOwner, which both start
// with the SID pointer.
bool tokenSid(TOKEN_INFORMATION_CLASS what, std::string& out) {
  out.clear();
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), what, nullptr, 0, &size);
  if (size < sizeof(PSID)) return false;
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token.get(), what, buffer.data(), size, &size)) return false;
  PSID sid = *reinterpret_cast<PSID*>(buffer.data());
  out = sidText(sid);
  return !out.empty();
}

}  // namespace

bool processAccountSid(std::string& out) { return tokenSid(TokenUser, out); }

bool processDefaultOwnerSid(std::string& out) { return tokenSid(TokenOwner, out); }

bool accountNameSid(const std::string& name, std::string& out) {
  out.clear();
  if (name.empty() || lstrcmpiA(name.c_str(), "LocalSystem") == 0) {
    out = std::string(kSidLocalSystem);
    return true;
  }
  std::string account = name.rfind(".\\", 0) == 0 ? name.substr(2) : name;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof sid;
  char domain[256];
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use;
  if (!LookupAccountNameA(nullptr, account.c_str(), sid, &sidSize, domain, &domainSize, &use)) return false;
  out = sidText(sid);
  return !out.empty();
}

PrivateSecurity::PrivateSecurity(bool directory) {
  std::string account;
  if (!processAccountSid(account)) return;
  std::string text = privateSecurityDescriptorText(account, directory);
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(text.c_str(), SDDL_REVISION_1, &descriptor_,
                                                            nullptr)) {
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof attributes_;
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

PrivateSecurity::~PrivateSecurity() {
  if (descriptor_ != nullptr) LocalFree(descriptor_);
}

bool cryptoRandom(uint8_t* data, std::size_t size) {
  while (size > 0) {
    ULONG piece = size > 0x10000 ? 0x10000 : ULONG(size);
    if (!SystemFunction036(data, piece)) return false;
    data += piece;
    size -= piece;
  }
  return true;
}

namespace {

// The owner and the allowing and denying entries of a descriptor the system
// gave; frees it.
void takeAccess(PSID owner, PACL dacl, PSECURITY_DESCRIPTOR descriptor, DirectoryAccess& out) {
  out.ownerSid = sidText(owner);
  out.hasDacl = dacl != nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!GetAce(dacl, i, &raw)) continue;
    const uint8_t* bytes = static_cast<const uint8_t*>(raw);
    AceFields fields = aceFields(bytes, static_cast<const ACE_HEADER*>(raw)->AceSize);
    if (!fields.counted) continue;
    AccessEntry entry;
    entry.allow = fields.allow;
    entry.inheritOnly = fields.inheritOnly;
    entry.mask = fields.mask;
    PSID sid = fields.sidOffset != 0 ? const_cast<uint8_t*>(bytes + fields.sidOffset) : nullptr;
    // An entry whose SID cannot be read still grants: to an unknown account.
    entry.sid = sid != nullptr && IsValidSid(sid) ? sidText(sid) : std::string();
    if (entry.sid.empty()) entry.sid = kUnknownSid;
    out.entries.push_back(entry);
  }
  LocalFree(descriptor);
}

constexpr SECURITY_INFORMATION kOwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

}  // namespace

bool readAccess(const std::string& path, DirectoryAccess& out) {
  out = DirectoryAccess{};
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, kOwnerAndDacl, &owner, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  takeAccess(owner, dacl, descriptor, out);
  return true;
}

bool readAccess(HANDLE object, DirectoryAccess& out) {
  out = DirectoryAccess{};
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_FILE_OBJECT, kOwnerAndDacl, &owner, nullptr, &dacl, nullptr, &descriptor) !=
      ERROR_SUCCESS) {
    return false;
  }
  takeAccess(owner, dacl, descriptor, out);
  return true;
}

HANDLE openWithoutFollowing(const std::string& path, DWORD access, DWORD share, bool directory) {
  DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | (directory ? FILE_FLAG_BACKUP_SEMANTICS : 0);
  UniqueHandle handle(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
  if (!handle) return INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle.get(), &info)) return INVALID_HANDLE_VALUE;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return INVALID_HANDLE_VALUE;
  bool isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isDirectory != directory) return INVALID_HANDLE_VALUE;
  return handle.release();
}

bool deleteOpenObject(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

HANDLE createNewPrivateFile(const std::string& path, DWORD access, DWORD share) {
  PrivateSecurity security(false);
  if (!security.valid()) {
    SetLastError(ERROR_INVALID_SECURITY_DESCR);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileA(path.c_str(), access, share, security.attributes(), CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}
