#include "files/deferred_deletion_win.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "common/handles_win.h"
#include "config/access_rules.h"
#include "config/access_rules_win.h"
#include "config/log_win.h"
#include "config/paths_win.h"
#include "files/deletion_list.h"
#include "files/temp_files_win.h"

namespace {

// Each update is a read, an append and a write of a whole value; two
// processes doing that at once would lose one's entries, and their files
// would never be deleted. A named mutex orders them. It is only a courtesy:
// should it be unavailable or held too long, the update goes ahead.
//
// The lists belong to one account (HKEY_CURRENT_USER), so the mutex is named
// after the account's SID and made with the private access list. Any user
// can still create a mutex of that name first (names are not reserved), but
// none can make it owned by another account: a mutex whose owner is not this
// account, SYSTEM, the administrators or this process's default owner was
// planted, and is not waited for, so holding it cannot stall a stopping
// service.
constexpr const char* kListMutexPrefix = "kerno_deletion_lists_";
constexpr DWORD kListMutexWaitMs = 10000;

// The owner of a kernel object as text; empty when the system does not say.
std::string ownerOf(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::string();
  }
  std::string out;
  char* text = nullptr;
  if (owner != nullptr && ConvertSidToStringSidA(owner, &text)) {
    out = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return out;
}

// Trusted owners: those the install check trusts, and the owner this
// process gives its own objects (its token's default owner, which another
// account's process cannot set).
bool trustedOwner(const std::string& owner, const std::string& account) {
  if (owner.empty()) return false;
  std::string ownDefault;
  if (processDefaultOwnerSid(ownDefault) && owner == ownDefault) return true;
  DirectoryAccess access;
  access.ownerSid = owner;
  return untrustedWriters(access, account).empty();
}

struct ListLock {
  HANDLE mutex = nullptr;
  bool owned = false;
  ListLock() {
    std::string account;
    if (!processAccountSid(account)) return;
    PrivateSecurity security(false);
    std::string name = kListMutexPrefix + account;
    mutex = CreateMutexA(security.attributes(), FALSE, name.c_str());
    if (mutex == nullptr) return;
    std::string owner = ownerOf(mutex);
    if (!trustedOwner(owner, account)) {
      logError("the lock %s belongs to %s, not to this account; the lists are updated without it",
               name.c_str(), owner.empty() ? "an unknown account" : owner.c_str());
      return;
    }
    DWORD wait = WaitForSingleObject(mutex, kListMutexWaitMs);
    owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
  }
  ~ListLock() {
    if (owned) ReleaseMutex(mutex);
    if (mutex != nullptr) CloseHandle(mutex);
  }
  ListLock(const ListLock&) = delete;
  ListLock& operator=(const ListLock&) = delete;
};

enum class ListRead { ok, tooLong, failed };

// Reads a list value at any length up to kMaxDeletionListBytes; a missing
// value is the empty list. The value may change between the size query and
// the read, hence the loop.
ListRead readList(HKEY key, const char* valueName, std::string& list) {
  list.clear();
  DWORD size = 0;
  LONG rc = RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return ListRead::ok;
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return ListRead::failed;
  std::vector<char> data;
  for (;;) {
    if (size > kMaxDeletionListBytes) return ListRead::tooLong;
    // One byte more than asked for, so that a value growing by a byte in
    // between still fits; never less than one byte to hand over a buffer.
    data.assign(size_t(size) + 1, '\0');
    DWORD got = static_cast<DWORD>(data.size());
    rc = RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_MORE_DATA) {
      size = got > size ? got : size * 2 + 1;
      continue;
    }
    if (rc == ERROR_FILE_NOT_FOUND) return ListRead::ok;
    if (rc != ERROR_SUCCESS) return ListRead::failed;
    if (got > data.size()) got = static_cast<DWORD>(data.size());
    list = deletionListFromValue(data.data(), got);
    return ListRead::ok;
  }
}

// Stores a list as REG_SZ; the size is the text's length without a NUL. (The
// system keeps a terminator anyway when the byte after the text is NUL, as
// it is in a std::string; readers cut at the first NUL either way.)
void writeList(HKEY key, const char* valueName, const std::string& list) {
  RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(list.data()),
                 static_cast<DWORD>(list.size()));
}

bool readListForUse(HKEY key, const char* valueName, std::string& list) {
  switch (readList(key, valueName, list)) {
    case ListRead::ok: return true;
    case ListRead::tooLong:
      logError("%s is longer than %u bytes; left as it is", valueName,
               static_cast<unsigned>(kMaxDeletionListBytes));
      return false;
    case ListRead::failed: break;
  }
  logError("cannot read %s", valueName);
  return false;
}

}  // namespace

void scheduleForDeletion(const std::string& path, const char* valueName) {
  if (!canScheduleForDeletion(path)) {
    logError("cannot schedule for deletion in %s: %s", valueName, path.c_str());
    return;
  }
  ListLock lock;
  HKEY raw = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kDeletionListKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &raw, nullptr) != ERROR_SUCCESS) {
    return;
  }
  UniqueRegKey key(raw);
  std::string list;
  // Never overwrite a list that could not be read: its entries would be lost.
  if (!readListForUse(key.get(), valueName, list)) return;
  appendDeletionEntry(list, path);
  writeList(key.get(), valueName, list);
  key.reset();
  logInfo("schedule for deletion in %s: %s", valueName, path.c_str());
}

void scheduleFileDeletion(const std::string& path) { scheduleForDeletion(path, kDeleteFileValue); }

void scheduleDirDeletion(const std::string& path) { scheduleForDeletion(path, kDeleteDirValue); }

bool canOpenExclusively(const std::string& path) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid();
}

namespace {

// One list: `remove` is tried for every entry the sweep may act on (with the
// extraction directory it is or lies in); what still exists afterwards stays
// listed.
template <typename Remove>
void sweepList(HKEY key, const char* valueName, bool directoryList,
               const std::vector<std::string>& temporaryAreas, Remove remove) {
  std::string list;
  if (!readListForUse(key, valueName, list)) return;
  std::string remaining;
  for (std::string_view entry : deletionEntries(list)) {
    std::string path(entry);
    std::string directory;
    bool ours = isSweepablePath(path, temporaryAreas, directoryList, directory);
    if (ours) remove(path, directory);
    if (pathExists(path)) {
      if (!ours) logInfo("not deleting %s: not a name the launcher makes in the temporary area", path.c_str());
      logInfo("didn't delete %s", path.c_str());
      appendDeletionEntry(remaining, path);
    }
  }
  writeList(key, valueName, remaining);
}

}  // namespace

void sweepScheduledDeletions() {
  ListLock lock;
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDeletionListKey, 0, KEY_READ | KEY_WRITE, &raw) != ERROR_SUCCESS)
    return;
  UniqueRegKey key(raw);
  const std::vector<std::string> areas = temporaryAreas();
  // Files first, so that their directories are empty when their turn comes.
  // Neither the file nor its directory may be a link or junction, and the
  // directory is held (no delete sharing) so it cannot be swapped for one
  // while its file is deleted; what is deleted is the object opened.
  sweepList(key.get(), kDeleteFileValue, false, areas, [](const std::string& path, const std::string& directory) {
    UniqueHandle parent(openWithoutFollowing(directory, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                             true));
    if (!parent) return;
    // Opened for reading and writing with no sharing: nobody else holds it.
    UniqueHandle file(openWithoutFollowing(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, false));
    if (!file) return;
    logInfo("delete file %s", path.c_str());
    (void)deleteOpenObject(file.get());
  });
  sweepList(key.get(), kDeleteDirValue, true, areas, [](const std::string& path, const std::string&) {
    // Removed only when empty; the deletion of a directory that is not
    // fails.
    UniqueHandle dir(openWithoutFollowing(path, DELETE | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true));
    if (dir) (void)deleteOpenObject(dir.get());
    logInfo("delete dir %s", path.c_str());
  });
}
