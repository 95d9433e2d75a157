// File glue for the native build.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "packer_io.h"

namespace {

// How many temporary names to try before giving up.
constexpr int kTempNameAttempts = 100;

std::string errorText(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

}  // namespace

FileWrite writeFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes) {
  FileWrite r;
  std::string temp;
  int fd = -1;
  for (int i = 0; i < kTempNameAttempts && fd < 0; ++i) {
    temp = path + ".kernopack-" + std::to_string(getpid()) + "-" + std::to_string(i) + ".tmp";
    // An executable: 0777 less the umask, as a linker would create it.
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0777);
    if (fd < 0 && errno != EEXIST) {
      r.error = errorText("cannot create a temporary file beside it", errno);
      return r;
    }
  }
  if (fd < 0) {
    r.error = "cannot create a temporary file beside it: every name is taken";
    return r;
  }
  auto fail = [&](const char* what, int err) {
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    r.error = errorText(what, err);
    return r;
  };
  size_t done = 0;
  while (done < bytes.size()) {
    size_t chunk = bytes.size() - done;
    if (chunk > size_t(SSIZE_MAX)) chunk = size_t(SSIZE_MAX);
    ssize_t n = write(fd, bytes.data() + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail("write failed", n < 0 ? errno : EIO);
    done += size_t(n);
  }
  if (fsync(fd) != 0) return fail("write failed", errno);
  int closed = close(fd);
  fd = -1;
  if (closed != 0) return fail("write failed", errno);
  if (rename(temp.c_str(), path.c_str()) != 0) return fail("cannot replace it", errno);
  r.ok = true;
  return r;
}

std::string executableDirectory() {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return std::string();
  std::string path(buf, size_t(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash == 0 ? 1 : slash);
}

void setBinaryStdout() {}
