// File glue for the native build.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "packer_io.h"

extern char** environ;

namespace {

// How many temporary names to try before giving up.
constexpr int kTempNameAttempts = 100;

std::string errorText(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

const char* notRegularText(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory, not a regular file";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  return "not a regular file";
}

}  // namespace

std::string commandLinePath(const std::string& arg) { return arg; }

ReadStatus openInputFile(const std::string& path, InputFile& file, std::string& error) {
  closeInputFile(file);
  // Looked at before it is opened: opening a FIFO waits for a writer, and a
  // device may do something on open. The open itself does not wait either,
  // should the name be swapped in between; the type is checked again after.
  struct stat before;
  if (stat(path.c_str(), &before) != 0) {
    int err = errno;
    error = std::strerror(err);
    return err == ENOENT ? ReadStatus::notFound : ReadStatus::failed;
  }
  if (!S_ISREG(before.st_mode)) {
    error = notRegularText(before.st_mode);
    return ReadStatus::failed;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    int err = errno;
    error = std::strerror(err);
    return err == ENOENT ? ReadStatus::notFound : ReadStatus::failed;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    error = std::strerror(errno);
    close(fd);
    return ReadStatus::failed;
  }
  if (!S_ISREG(st.st_mode)) {
    error = notRegularText(st.st_mode);
    close(fd);
    return ReadStatus::failed;
  }
  // Reads of a regular file block as usual again.
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    error = std::strerror(errno);
    close(fd);
    return ReadStatus::failed;
  }
  file.handle = fd;
  file.size = uint64_t(st.st_size);
  return ReadStatus::ok;
}

bool readInputFile(InputFile& file, uint8_t* data, size_t want, size_t& got, std::string& error) {
  got = 0;
  if (want > size_t(SSIZE_MAX)) want = size_t(SSIZE_MAX);
  for (;;) {
    ssize_t n = read(int(file.handle), data, want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::strerror(errno);
      return false;
    }
    got = size_t(n);
    return true;
  }
}

bool seekInputFile(InputFile& file, uint64_t offset, std::string& error) {
  if (offset > uint64_t(LLONG_MAX)) {
    error = std::strerror(EINVAL);
    return false;
  }
  if (lseek(int(file.handle), off_t(offset), SEEK_SET) < 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

void closeInputFile(InputFile& file) {
  if (file.handle >= 0) close(int(file.handle));
  file.handle = -1;
}

FileWrite beginOutputFile(const std::string& path, OutputFile& file, bool executable) {
  FileWrite r;
  abandonOutputFile(file);
  // The finished file is renamed over the output: over a FIFO or a device
  // (say -o /dev/null) that would replace the special file with a regular
  // one. A symbolic link is replaced as a linker would replace it.
  struct stat existing {};
  if (lstat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) &&
      !S_ISLNK(existing.st_mode)) {
    r.error = "is not a regular file; the output must be a regular file or a new name";
    return r;
  }
  int fd = -1;
  std::string temp;
  for (int i = 0; i < kTempNameAttempts && fd < 0; ++i) {
    temp = path + ".kernopack-" + std::to_string(getpid()) + "-" + std::to_string(i) + ".tmp";
    // Less the umask, as a linker or an archiver would create it.
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, executable ? 0777 : 0666);
    if (fd < 0 && errno != EEXIST) {
      r.error = errorText("cannot create a temporary file beside it", errno);
      return r;
    }
  }
  if (fd < 0) {
    r.error = "cannot create a temporary file beside it: every name is taken";
    return r;
  }
  file.handle = fd;
  file.path = path;
  file.temp = temp;
  r.ok = true;
  return r;
}

FileWrite writeOutputFile(OutputFile& file, const uint8_t* data, size_t size) {
  FileWrite r;
  size_t done = 0;
  while (done < size) {
    size_t chunk = size - done;
    if (chunk > size_t(SSIZE_MAX)) chunk = size_t(SSIZE_MAX);
    ssize_t n = write(int(file.handle), data + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : EIO;
      abandonOutputFile(file);
      r.error = errorText("write failed", err);
      return r;
    }
    done += size_t(n);
  }
  r.ok = true;
  return r;
}

FileWrite commitOutputFile(OutputFile& file) {
  FileWrite r;
  auto fail = [&](const char* what, int err) {
    abandonOutputFile(file);
    r.error = errorText(what, err);
    return r;
  };
  if (fsync(int(file.handle)) != 0) return fail("write failed", errno);
  int closed = close(int(file.handle));
  file.handle = -1;
  if (closed != 0) return fail("write failed", errno);
  if (rename(file.temp.c_str(), file.path.c_str()) != 0) return fail("cannot replace it", errno);
  file.temp.clear();
  r.ok = true;
  return r;
}

void abandonOutputFile(OutputFile& file) {
  if (file.handle >= 0) close(int(file.handle));
  file.handle = -1;
  if (!file.temp.empty()) unlink(file.temp.c_str());
  file.temp.clear();
}

FileWrite makeDirectory(const std::string& path) {
  FileWrite r;
  if (mkdir(path.c_str(), 0777) != 0) {
    int err = errno;
    struct stat st;
    if (!(err == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
      r.error = errorText("cannot create the directory", err);
      return r;
    }
  }
  r.ok = true;
  return r;
}

FileWrite replaceFile(const std::string& from, const std::string& to) {
  FileWrite r;
  if (rename(from.c_str(), to.c_str()) != 0) {
    r.error = errorText("cannot replace it", errno);
    return r;
  }
  r.ok = true;
  return r;
}

void removeFile(const std::string& path) { unlink(path.c_str()); }

ProgramRun runProgram(const std::vector<std::string>& args) {
  ProgramRun r;
  if (args.empty()) {
    r.error = "no program given";
    return r;
  }
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    r.error = "cannot prepare the process";
    return r;
  }
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  pid_t pid = 0;
  int err = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) {
    r.notFound = err == ENOENT;
    r.error = std::strerror(err);
    return r;
  }
  r.started = true;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      r.error = errorText("cannot wait for it", errno);
      return r;
    }
  }
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
