#include "common/environment_win.h"

#include <windows.h>

bool readEnvironmentVariable(const std::string& name, std::string& value) {
  value.clear();
  std::string buffer(256, '\0');
  // The value may change between the calls that size and read it.
  for (int attempt = 0; attempt < 4; ++attempt) {
    SetLastError(ERROR_SUCCESS);
    DWORD length =
        GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    if (length < buffer.size()) {
      buffer.resize(length);
      value = std::move(buffer);
      return true;
    }
    buffer.assign(length, '\0');  // the size needed, terminator included
  }
  return false;
}
