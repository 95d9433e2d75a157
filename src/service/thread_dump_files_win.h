// The thread-dump directory and its files over the system (names and
// retention rules in service/watchdog_rules.h). The directory is the one of
// the standard output file, a place the operator names and others may have
// made first: it is used only when it is the service's own, and held open
// (without delete sharing, so that it cannot be renamed, removed or swapped
// for a junction) while a dump is written and old ones are removed. Entries
// are listed and opened through that handle, never by a path that could
// lead elsewhere.
#pragma once

#include <windows.h>

#include <string>

#include "common/handles_win.h"

class ThreadDumpDirectory {
 public:
  // Opens `path` (with its trailing backslash), first creating it with the
  // private access list when it does not exist, and checks that it is the
  // service's own: not a link or junction, and neither its owner nor an
  // allowing entry of its access list lets anybody but this process's
  // account, SYSTEM, the administrators or TrustedInstaller add or remove
  // entries (the rule of the install warning). False with `why` otherwise.
  [[nodiscard]] bool open(const std::string& path, std::string& why);

  // A new dump file `name` in the directory (createNewPrivateFile: private,
  // always new, no link followed); INVALID_HANDLE_VALUE with the system's
  // error for GetLastError.
  HANDLE createDump(const std::string& name) const;

  // Deletes the service's oldest dumps beyond kThreadDumpFilesKept: only
  // plain files it owns count (threadDumpsToDelete). Each is opened relative
  // to the held directory without following a link and deleted through that
  // handle. Failures are logged.
  void removeOldDumps(const std::string& service) const;

  // Replaces the record of the last dump (threadDumpRecordName) with `name`,
  // for /threaddump. Failures are logged.
  void recordLastDump(const std::string& service, const std::string& name) const;

 private:
  UniqueHandle handle_;
  std::string path_;
};

// The service's record of its last dump, as /threaddump reads it.
struct LastThreadDump {
  std::string name;            // a dump file name of the service
  ULONGLONG writtenAt = 0;     // FILETIME units (UTC)
};

// Reads the record in `directory` (with its trailing backslash) when the
// directory is the service's own by the rule of ThreadDumpDirectory::open,
// trusting besides this process's account `serviceAccountSid` (the account
// the service runs as; empty: none). False with `why` when the directory is
// not to be trusted or cannot be read; true with an empty name when there is
// no record (yet) or it names no dump of the service.
[[nodiscard]] bool readLastThreadDump(const std::string& directory, const std::string& service,
                                      const std::string& serviceAccountSid, LastThreadDump& out, std::string& why);
