#include "service/thread_dump_files_win.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "config/access_rules.h"
#include "config/access_rules_win.h"
#include "config/log_win.h"
#include "service/watchdog_rules.h"

namespace {

// How many entries named like dumps one retention pass looks at: the
// directory is the service's own, but a pass must end whatever it holds.
constexpr size_t kMaxDumpEntries = 4096;
// The record holds one dump name.
constexpr DWORD kMaxRecordBytes = 512;

constexpr DWORD kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL | FILE_READ_ATTRIBUTES;

std::string errorText(DWORD error) { return "error " + std::to_string(error); }

// The directory as the system names it: without the trailing backslash,
// except at a drive's root.
std::string withoutTrailingBackslash(std::string path) {
  if (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

// Opens a file directly inside `directory` relative to its handle, never a
// directory and never what a link or junction points to (the link itself is
// opened, and refused). INVALID_HANDLE_VALUE with the system's error for
// GetLastError.
HANDLE openBeneath(HANDLE directory, const std::wstring& name, ACCESS_MASK access) {
  if (name.empty() || name.size() > 255 || name.find_first_of(L"\\/") != std::wstring::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, directory, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE raw = nullptr;
  NTSTATUS status = NtOpenFile(&raw, access | SYNCHRONIZE, &attributes, &io, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT);
  if (status < 0) {
    SetLastError(RtlNtStatusToDosError(status));
    return INVALID_HANDLE_VALUE;
  }
  UniqueHandle file(raw);
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return INVALID_HANDLE_VALUE;
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  return file.release();
}

std::wstring wideAscii(const std::string& name) { return std::wstring(name.begin(), name.end()); }

// The owners the service's own files get: its token's default owner and
// its account.
std::vector<std::string> ownSids() {
  std::vector<std::string> out;
  std::string sid;
  if (processDefaultOwnerSid(sid)) out.push_back(sid);
  if (processAccountSid(sid)) out.push_back(sid);
  return out;
}

// Whether the open directory is the service's own: nobody but the trusted
// accounts and `account` or `alsoTrusted` can add or remove entries.
bool isOwnDirectory(HANDLE directory, const std::string& path, const std::string& account,
                    const std::string& alsoTrusted, std::string& why) {
  DirectoryAccess access;
  if (!readAccess(directory, access)) {
    why = "cannot read the access list of " + path + " (" + errorText(GetLastError()) + ")";
    return false;
  }
  std::vector<std::string> writers = untrustedWriters(access, account, PlaceKind::directory);
  writers.erase(std::remove(writers.begin(), writers.end(), alsoTrusted), writers.end());
  if (writers.empty()) return true;
  std::string who;
  for (const std::string& sid : writers) who += (who.empty() ? "" : ", ") + sid;
  why = path + " is not the service's own: others can add or remove files there (" + who + ")";
  return false;
}

// The entries of the directory named like the service's dumps, each opened
// to learn whether it is a plain file and who owns it.
std::vector<DumpDirectoryEntry> dumpEntries(HANDLE directory, const std::string& service) {
  std::vector<DumpDirectoryEntry> out;
  std::vector<LONGLONG> buffer(8192);  // 64 KiB, aligned for the records
  FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;
  while (out.size() < kMaxDumpEntries &&
         GetFileInformationByHandleEx(directory, query, buffer.data(), DWORD(buffer.size() * sizeof(LONGLONG)))) {
    query = FileIdBothDirectoryInfo;
    const unsigned char* base = reinterpret_cast<const unsigned char*>(buffer.data());
    const size_t size = buffer.size() * sizeof(LONGLONG);
    for (size_t at = 0; at + sizeof(FILE_ID_BOTH_DIR_INFO) <= size && out.size() < kMaxDumpEntries;) {
      const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(base + at);
      size_t nameBytes = std::min<size_t>(info->FileNameLength, size - at - offsetof(FILE_ID_BOTH_DIR_INFO, FileName));
      std::wstring wide(info->FileName, nameBytes / sizeof(wchar_t));
      std::string name;
      bool ascii = std::all_of(wide.begin(), wide.end(), [](wchar_t c) { return c > 0 && c < 0x80; });
      if (ascii) name.assign(wide.begin(), wide.end());
      if (ascii && isThreadDumpFileName(service, name)) {
        DumpDirectoryEntry entry{name, false, {}};
        UniqueHandle file(openBeneath(directory, wide, READ_CONTROL | FILE_READ_ATTRIBUTES));
        DirectoryAccess access;
        entry.plainFile = file.valid();
        if (file && readAccess(file.get(), access)) entry.ownerSid = access.ownerSid;
        out.push_back(std::move(entry));
      }
      if (info->NextEntryOffset == 0) break;
      at += info->NextEntryOffset;
    }
  }
  return out;
}

// Deletes the file `name` directly inside the directory, opened relative to
// it without following a link.
bool deleteBeneath(HANDLE directory, const std::string& name) {
  UniqueHandle file(openBeneath(directory, wideAscii(name), DELETE | FILE_READ_ATTRIBUTES));
  return file && deleteOpenObject(file.get());
}

}  // namespace

bool ThreadDumpDirectory::open(const std::string& path, std::string& why) {
  path_ = path;
  handle_.reset();
  const std::string bare = withoutTrailingBackslash(path);
  if (GetFileAttributesA(bare.c_str()) == INVALID_FILE_ATTRIBUTES) {
    // Made here when nothing made it yet: private, like the dumps in it.
    PrivateSecurity security(true);
    if (!security.valid()) {
      why = "cannot make the private access list for " + bare;
      return false;
    }
    if (!CreateDirectoryA(bare.c_str(), security.attributes()) && GetLastError() != ERROR_ALREADY_EXISTS) {
      why = "cannot create the directory " + bare + " (" + errorText(GetLastError()) + ")";
      return false;
    }
  }
  handle_.reset(openWithoutFollowing(bare, kDirectoryAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, true));
  if (!handle_) {
    why = "cannot open the directory " + bare + ", or it is a link or junction (" + errorText(GetLastError()) + ")";
    return false;
  }
  std::string account;
  if (!processAccountSid(account)) {
    why = "cannot tell this process's account";
    handle_.reset();
    return false;
  }
  if (!isOwnDirectory(handle_.get(), bare, account, std::string(), why)) {
    handle_.reset();
    return false;
  }
  return true;
}

HANDLE ThreadDumpDirectory::createDump(const std::string& name) const {
  return createNewPrivateFile(path_ + name, GENERIC_WRITE, 0);
}

void ThreadDumpDirectory::removeOldDumps(const std::string& service) const {
  for (const std::string& name : threadDumpsToDelete(service, dumpEntries(handle_.get(), service), ownSids())) {
    if (!deleteBeneath(handle_.get(), name)) {
      logError("cannot delete the old thread dump %s%s (error %lu)", path_.c_str(), name.c_str(),
               static_cast<unsigned long>(GetLastError()));
    }
  }
}

void ThreadDumpDirectory::recordLastDump(const std::string& service, const std::string& name) const {
  const std::string record = threadDumpRecordName(service);
  // The old record is removed first (never followed), the new one made new.
  if (!deleteBeneath(handle_.get(), record) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    logError("cannot replace the record %s%s (error %lu)", path_.c_str(), record.c_str(),
             static_cast<unsigned long>(GetLastError()));
    return;
  }
  UniqueHandle file(createDump(record));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), name.data(), DWORD(name.size()), &written, nullptr) || written != name.size()) {
    logError("cannot record the thread dump %s in %s%s (error %lu)", name.c_str(), path_.c_str(), record.c_str(),
             static_cast<unsigned long>(GetLastError()));
  }
}

bool readLastThreadDump(const std::string& directory, const std::string& service,
                        const std::string& serviceAccountSid, LastThreadDump& out, std::string& why) {
  out = LastThreadDump{};
  const std::string bare = withoutTrailingBackslash(directory);
  UniqueHandle dir(openWithoutFollowing(bare, kDirectoryAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, true));
  if (!dir) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    why = "cannot open the directory " + bare + ", or it is a link or junction (" + errorText(error) + ")";
    return false;
  }
  std::string account;
  (void)processAccountSid(account);
  if (!isOwnDirectory(dir.get(), bare, account, serviceAccountSid, why)) return false;
  UniqueHandle file(openBeneath(dir.get(), wideAscii(threadDumpRecordName(service)), GENERIC_READ));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info)) return true;
  char text[kMaxRecordBytes];
  DWORD got = 0;
  if (!ReadFile(file.get(), text, sizeof text, &got, nullptr)) return true;
  std::string name(text, got);
  if (!isThreadDumpFileName(service, name)) return true;
  out.name = name;
  ULARGE_INTEGER t;
  t.LowPart = info.ftLastWriteTime.dwLowDateTime;
  t.HighPart = info.ftLastWriteTime.dwHighDateTime;
  out.writtenAt = t.QuadPart;
  return true;
}
