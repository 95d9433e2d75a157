#include "files/deferred_deletion_win.h"

#include <windows.h>

#include <vector>

#include "common/handles_win.h"
#include "config/log_win.h"
#include "files/deletion_list.h"
#include "files/paths_win.h"

namespace {

// Each update is a read, an append and a write of a whole value; two
// processes doing that at once would lose one's entries, and their files
// would never be deleted. A named mutex orders them. It is only a courtesy:
// should it be unavailable or held too long, the update goes ahead.
constexpr const char* kListMutexName = "kerno_deletion_lists";
constexpr DWORD kListMutexWaitMs = 10000;

struct ListLock {
  HANDLE mutex = nullptr;
  bool owned = false;
  ListLock() {
    mutex = CreateMutexA(nullptr, FALSE, kListMutexName);
    if (mutex == nullptr) return;
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

// One list: `remove` is tried for every entry the sweep may act on; what
// still exists afterwards stays listed.
template <typename Remove>
void sweepList(HKEY key, const char* valueName, Remove remove) {
  std::string list;
  if (!readListForUse(key, valueName, list)) return;
  std::string remaining;
  for (std::string_view entry : deletionEntries(list)) {
    std::string path(entry);
    if (isSweepablePath(path)) remove(path);
    if (pathExists(path)) {
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
  // Files first, so that their directories are empty when their turn comes.
  sweepList(key.get(), kDeleteFileValue, [](const std::string& path) {
    if (canOpenExclusively(path)) {
      logInfo("delete file %s", path.c_str());
      DeleteFileA(path.c_str());
    }
  });
  sweepList(key.get(), kDeleteDirValue, [](const std::string& path) {
    RemoveDirectoryA(path.c_str());
    logInfo("delete dir %s", path.c_str());
  });
}
