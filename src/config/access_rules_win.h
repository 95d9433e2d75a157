// The system side of the access rules (config/access_rules.h): the process's
// account, security attributes that keep others out, cryptographic random
// bytes, the access list of a directory, and deleting a file or directory
// without following a link or junction.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "config/access_rules.h"

// The SID (as text) of the account this process runs as; false when the
// system does not say.
[[nodiscard]] bool processAccountSid(std::string& out);

// The SID (as text) that owns the objects this process creates (its token's
// default owner); false when the system does not say.
[[nodiscard]] bool processDefaultOwnerSid(std::string& out);

// The SID (as text) of an account named as a service's account is
// ("LocalSystem" or nothing: SYSTEM; ".\name": a local account); false
// when the system does not know the name.
[[nodiscard]] bool accountNameSid(const std::string& name, std::string& out);

// Security attributes with the private descriptor of access_rules.h, for
// CreateFile, CreateDirectory and CreateMutex. valid() is false when the
// account or the descriptor could not be had; the caller then reports the
// step as failed instead of creating the object open to others.
class PrivateSecurity {
 public:
  explicit PrivateSecurity(bool directory);
  ~PrivateSecurity();
  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;
  bool valid() const { return descriptor_ != nullptr; }
  SECURITY_ATTRIBUTES* attributes() { return valid() ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

// Fills `data` from the system's cryptographic random source; false when it
// fails.
[[nodiscard]] bool cryptoRandom(uint8_t* data, std::size_t size);

// The owner and the access list of a file or directory; false when they
// cannot be read.
[[nodiscard]] bool readAccess(const std::string& path, DirectoryAccess& out);
// The same of an open file or directory (opened with READ_CONTROL).
[[nodiscard]] bool readAccess(HANDLE object, DirectoryAccess& out);

// Creates a new, empty file that only the private descriptor lets in and
// gives its handle (INVALID_HANDLE_VALUE when it cannot be made; the
// system's error code stays for GetLastError). Always new (CREATE_NEW), and
// a link or junction under the name is not followed
// (FILE_FLAG_OPEN_REPARSE_POINT): whatever is there makes the creation fail
// with ERROR_FILE_EXISTS instead of being written into.
HANDLE createNewPrivateFile(const std::string& path, DWORD access, DWORD share);

// Opens a file or directory itself, never what a link or junction points to:
// nullptr-like (invalid) when it cannot be opened, is a link or junction, or
// is not of the kind asked for. `share` as for CreateFile.
HANDLE openWithoutFollowing(const std::string& path, DWORD access, DWORD share, bool directory);

// Deletes the object behind an open handle (opened with DELETE access): the
// very object that was opened and checked, whatever its name now names.
[[nodiscard]] bool deleteOpenObject(HANDLE handle);
