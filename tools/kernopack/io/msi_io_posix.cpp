// The msi subcommand's file and process glue for the native build.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "io/msi_io.h"
#include "io/packer_io.h"

extern char** environ;

namespace {
constexpr size_t kMaxCapturedErrors = 64 * 1024;
// 2000-01-01 00:00:00 UTC.
constexpr time_t kFixedFileTime = 946684800;
}  // namespace

PathKind pathKind(const std::string& path, std::string& error) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return PathKind::missing;
    error = std::strerror(errno);
    return PathKind::failed;
  }
  if (S_ISLNK(st.st_mode)) return PathKind::link;
  if (S_ISREG(st.st_mode)) return PathKind::file;
  if (S_ISDIR(st.st_mode)) return PathKind::directory;
  return PathKind::other;
}

bool listDirectory(const std::string& path, std::vector<std::string>& names, std::string& error) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  names.clear();
  errno = 0;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  int err = errno;
  closedir(dir);
  if (err != 0) {
    error = std::strerror(err);
    return false;
  }
  std::sort(names.begin(), names.end());
  return true;
}

void removeTree(const std::string& path) {
  std::string ignored;
  if (pathKind(path, ignored) == PathKind::directory) {
    std::vector<std::string> names;
    if (listDirectory(path, names, ignored)) {
      for (const std::string& n : names) removeTree(path + "/" + n);
    }
    rmdir(path.c_str());
    return;
  }
  unlink(path.c_str());
}

bool setFixedFileTime(const std::string& path, std::string& error) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = kFixedFileTime;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0) return true;
  error = std::strerror(errno);
  return false;
}

CapturedRun runCapturingErrors(const std::vector<std::string>& args, const std::string& outputFile) {
  CapturedRun r;
  if (args.empty()) {
    r.error = "no program given";
    return r;
  }
  // Found as runProgram finds its programs: never through the current
  // directory or a relative entry of PATH.
  std::string program = programOnPath(args[0]);
  if (program.empty()) {
    r.notFound = true;
    r.error = "not found on PATH";
    return r;
  }
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    r.error = std::strerror(errno);
    return r;
  }
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) {
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    r.error = "cannot prepare the process";
    return r;
  }
  if (outputFile.empty()) {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  }
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
  pid_t pid = 0;
  int err = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (err != 0) {
    close(pipeEnds[0]);
    r.error = program + ": " + std::strerror(err);
    return r;
  }
  r.started = true;
  char buf[4096];
  for (;;) {
    ssize_t n = read(pipeEnds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size_t room = kMaxCapturedErrors - r.errors.size();
    r.errors.append(buf, std::min(size_t(n), room));
  }
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      r.error = std::strerror(errno);
      return r;
    }
  }
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}
