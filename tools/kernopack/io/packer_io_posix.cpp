// File glue for the native build.
#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef SYS_openat2
#include <linux/openat2.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/packer_io.h"
#include "io/path_name.h"

extern char** environ;

namespace {

// How many temporary names to try before giving up.
constexpr int kTempNameAttempts = 100;
// The most of a program's standard error runProgram keeps.
constexpr size_t kMaxCapturedErrors = 64 * 1024;
// 2000-01-01 00:00:00 UTC.
constexpr time_t kFixedFileTime = 946684800;
// Most entries isOwnTreeWithoutLinks looks through.
constexpr size_t kMaxOwnTreeEntries = 100000;

std::string errorText(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

const char* notRegularText(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory, not a regular file";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  return "not a regular file";
}

// Takes an open file that was looked at before it was opened (`seen`):
// it must still be that regular file. Reads block as usual again.
ReadStatus finishOpen(int fd, const struct stat& seen, InputFile& file, std::string& error) {
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
  if (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
    error = "changed while it was opened";
    close(fd);
    return ReadStatus::failed;
  }
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

ReadStatus openFailure(int err, std::string& error) {
  error = std::strerror(err);
  return err == ENOENT || err == ENOTDIR ? ReadStatus::notFound : ReadStatus::failed;
}

// Flags of the final open: never waits (a FIFO swapped in), never becomes
// the controlling terminal, never follows a link.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW;

constexpr const char* kLinkRefused =
    "is a symbolic link; links are not followed beneath the description's directory "
    "(--allow-outside lets a path in as it is)";

struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

// One component at a time: each directory looked at without following it
// and opened with O_NOFOLLOW, then the file the same way.
ReadStatus openPerComponent(int dirFd, const std::vector<std::string>& components, InputFile& file,
                            std::string& error) {
  std::string walked;
  Fd current(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
  if (current.fd < 0) return openFailure(errno, error);
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string& name = components[i];
    bool last = i + 1 == components.size();
    walked += (walked.empty() ? "" : "/") + name;
    struct stat seen;
    if (fstatat(current.fd, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
      ReadStatus status = openFailure(errno, error);
      if (!last) error = "\"" + walked + "\": " + error;
      return status;
    }
    if (S_ISLNK(seen.st_mode)) {
      error = (last ? std::string("it ") : "\"" + walked + "\" ") + kLinkRefused;
      return ReadStatus::failed;
    }
    if (last) {
      if (!S_ISREG(seen.st_mode)) {
        error = notRegularText(seen.st_mode);
        return ReadStatus::failed;
      }
      int fd = openat(current.fd, name.c_str(), kReadFlags);
      if (fd < 0) return openFailure(errno, error);
      return finishOpen(fd, seen, file, error);
    }
    if (!S_ISDIR(seen.st_mode)) {
      error = "\"" + walked + "\" is not a directory";
      return ReadStatus::notFound;
    }
    Fd next(openat(current.fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (next.fd < 0 || fstat(next.fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_ino != seen.st_ino ||
        st.st_dev != seen.st_dev) {
      error = "\"" + walked + "\" changed while it was opened";
      return ReadStatus::failed;
    }
    std::swap(current.fd, next.fd);
  }
  error = "names no file";
  return ReadStatus::failed;
}

#ifdef SYS_openat2
// openat2 beneath `dirFd` without any link; -1 with errno on failure.
int openBeneath2(int dirFd, const std::string& path, int flags) {
  struct open_how how {};
  how.flags = uint64_t(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  for (;;) {
    long fd = syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
    if (fd < 0 && errno == EAGAIN) continue;  // a rename raced the walk
    return int(fd);
  }
}
#endif

}  // namespace

std::string commandLinePath(const std::string& arg) { return arg; }

ReadStatus openFileBeneath(const std::string& directory, const std::vector<std::string>& components,
                           InputFile& file, std::string& error, BeneathWalk walk) {
  closeInputFile(file);
  if (components.empty()) {
    error = "names no file";
    return ReadStatus::failed;
  }
  // The description's directory itself is the command line's choice.
  Fd dir(open(directory.empty() ? "." : directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (dir.fd < 0) {
    ReadStatus status = openFailure(errno, error);
    error = "the description's directory: " + error;
    return status;
  }
#ifdef SYS_openat2
  if (walk == BeneathWalk::best) {
    std::string path;
    for (const std::string& c : components) path += (path.empty() ? "" : "/") + c;
    // Looked at through a path descriptor first: opening a FIFO or a
    // device is not done even to look.
    Fd seenFd(openBeneath2(dir.fd, path, O_PATH | O_CLOEXEC | O_NOFOLLOW));
    int err = seenFd.fd < 0 ? errno : 0;
    // ENOSYS: a kernel before 5.6; EPERM: a sandbox that filters the call.
    if (err != ENOSYS && err != EPERM) {
      // A link on the way (ELOOP, EXDEV) or a file on the way (ENOTDIR) is
      // found and named by the walk per component, which refuses it as well.
      if (err == ELOOP || err == EXDEV || err == ENOTDIR) return openPerComponent(dir.fd, components, file, error);
      if (err != 0) return openFailure(err, error);
      struct stat seen;
      if (fstat(seenFd.fd, &seen) != 0) return openFailure(errno, error);
      if (S_ISLNK(seen.st_mode)) {
        error = std::string("it ") + kLinkRefused;
        return ReadStatus::failed;
      }
      if (!S_ISREG(seen.st_mode)) {
        error = notRegularText(seen.st_mode);
        return ReadStatus::failed;
      }
      int fd = openBeneath2(dir.fd, path, kReadFlags);
      if (fd < 0) {
        err = errno;
        if (err == ELOOP || err == EXDEV) return openPerComponent(dir.fd, components, file, error);
        return openFailure(err, error);
      }
      return finishOpen(fd, seen, file, error);
    }
  }
#else
  (void)walk;
#endif
  return openPerComponent(dir.fd, components, file, error);
}

std::string absolutePath(const std::string& path) {
  std::string full = path;
  if (full.empty() || full[0] != '/') {
    std::vector<char> buf(4096);
    while (getcwd(buf.data(), buf.size()) == nullptr) {
      if (errno != ERANGE || buf.size() > (1u << 20)) return std::string();
      buf.resize(buf.size() * 2);
    }
    full = std::string(buf.data()) + "/" + path;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    std::string part = full.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

ReadStatus openInputFile(const std::string& path, InputFile& file, std::string& error) {
  closeInputFile(file);
  // Looked at before it is opened: opening a FIFO waits for a writer, and a
  // device may do something on open. The open itself does not wait either,
  // should the name be swapped in between; the type is checked again after.
  struct stat before;
  if (stat(path.c_str(), &before) != 0) return openFailure(errno, error);
  if (!S_ISREG(before.st_mode)) {
    error = notRegularText(before.st_mode);
    return ReadStatus::failed;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return openFailure(errno, error);
  return finishOpen(fd, before, file, error);
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

std::string PrivateDirectory::file(const std::string& name) const { return path + "/" + name; }

namespace {

// Deepest folder nesting a removal enters; deeper folders stay.
constexpr int kMaxRemoveDepth = 64;
// Passes over one folder's entries (a pass may miss entries that others
// add while it runs; the removal is then left to the next pass).
constexpr int kMaxRemovePasses = 4;

void removeAt(int directory, const char* name, int depth);

// Removes what the open folder holds, each entry relative to it: system
// calls only (the signal handler uses it).
void removeEntriesAt(int directory, int depth) {
  for (int pass = 0; pass < kMaxRemovePasses; ++pass) {
    if (lseek(directory, 0, SEEK_SET) != 0) return;
    bool any = false;
    alignas(8) char buf[4096];
    for (;;) {
      long n = syscall(SYS_getdents64, directory, buf, sizeof buf);
      if (n <= 0) break;
      for (long at = 0; at < n;) {
        // struct linux_dirent64: inode, offset, record length, type, name.
        unsigned short length;
        std::memcpy(&length, buf + at + 16, sizeof length);
        const char* name = buf + at + 19;
        if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
          any = true;
          removeAt(directory, name, depth);
        }
        at += length;
      }
    }
    if (!any) return;
  }
}

// Removes `name` in the open folder: a file or a link is unlinked (a link
// never followed), a folder is opened relative to its parent with
// O_NOFOLLOW, emptied the same way and removed.
void removeAt(int directory, const char* name, int depth) {
  if (unlinkat(directory, name, 0) == 0 || errno == ENOENT || depth >= kMaxRemoveDepth) return;
  int child = openat(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (child >= 0) {
    removeEntriesAt(child, depth + 1);
    close(child);
  }
  unlinkat(directory, name, AT_REMOVEDIR);
}

// The private directories of this run, for the signal handler: an
// interrupt or a termination while building removes them too. Set and
// cleared with the signals blocked; the handler uses only system calls.
constexpr int kMaxPrivateDirectories = 4;
char gPrivateDirectories[kMaxPrivateDirectories][PATH_MAX];
struct sigaction gPreviousActions[3];
constexpr int kCleanupSignals[3] = {SIGINT, SIGTERM, SIGHUP};

// removeTree for the signal handler: the folder of an absolute path.
void emptyAndRemove(const char* path) {
  int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    removeEntriesAt(fd, 0);
    close(fd);
  }
  rmdir(path);
}

void removeOnSignal(int sig) {
  for (char* path : gPrivateDirectories) {
    if (path[0] != '\0') emptyAndRemove(path);
  }
  // Then end as the signal would have ended us.
  signal(sig, SIG_DFL);
  raise(sig);
}

// Adds (on) or drops a directory the signal handler removes; the handler
// is installed while there is one.
void setSignalCleanup(const std::string& path, bool on) {
  sigset_t all, old;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &old);
  int before = 0, after = 0;
  for (char* slot : gPrivateDirectories) before += slot[0] != '\0';
  for (char* slot : gPrivateDirectories) {
    if (on && slot[0] == '\0' && path.size() < PATH_MAX) {
      std::memcpy(slot, path.c_str(), path.size() + 1);
      break;
    }
    if (!on && path == slot) {
      slot[0] = '\0';
      break;
    }
  }
  for (char* slot : gPrivateDirectories) after += slot[0] != '\0';
  if (before == 0 && after > 0) {
    struct sigaction action {};
    action.sa_handler = removeOnSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) sigaction(kCleanupSignals[i], &action, &gPreviousActions[i]);
  } else if (before > 0 && after == 0) {
    for (int i = 0; i < 3; ++i) sigaction(kCleanupSignals[i], &gPreviousActions[i], nullptr);
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace

FileWrite makePrivateDirectory(PrivateDirectory& dir) {
  FileWrite r;
  removePrivateDirectory(dir);
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string pattern = base + "/kernopack-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  // mkdtemp makes it new, under a random name, with mode 0700.
  if (mkdtemp(name.data()) == nullptr) {
    r.error = errorText(("cannot create a private temporary directory in " + base).c_str(), errno);
    return r;
  }
  dir.path = name.data();
  setSignalCleanup(dir.path, true);
  r.ok = true;
  return r;
}

void removePrivateDirectory(PrivateDirectory& dir) {
  if (dir.path.empty()) return;
  setSignalCleanup(dir.path, false);
  removeTree(dir.path);
  dir.path.clear();
}

namespace {

bool isProgramFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string programOnPath(const std::string& program) {
  const char* searchPath = std::getenv("PATH");
  return findProgramOnPath(searchPath ? searchPath : "", program, false, isProgramFile);
}

namespace {

// Reads what the child writes into `from` until it closes it, keeping at
// most kMaxCapturedErrors bytes.
void readCaptured(int from, std::string& into) {
  char buf[4096];
  for (;;) {
    ssize_t n = read(from, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size_t room = kMaxCapturedErrors - into.size();
    into.append(buf, std::min(size_t(n), room));
  }
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& args, const RunOutput& output) {
  ProgramRun r;
  if (args.empty()) {
    r.error = "no program given";
    return r;
  }
  std::string program = programOnPath(args[0]);
  if (program.empty()) {
    r.notFound = true;
    r.error = "not found on PATH";
    return r;
  }
  int pipeEnds[2] = {-1, -1};
  if (output.captureErrors && pipe2(pipeEnds, O_CLOEXEC) != 0) {
    r.error = errorText("cannot make a pipe", errno);
    return r;
  }
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  int err = posix_spawn_file_actions_init(&actions);
  pid_t pid = 0;
  if (err == 0) {
    if (output.file.empty()) {
      posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0600);
    }
    if (output.captureErrors) posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    err = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
  }
  if (output.captureErrors) close(pipeEnds[1]);
  if (err != 0) {
    if (output.captureErrors) close(pipeEnds[0]);
    r.error = program + ": " + std::strerror(err);
    return r;
  }
  r.started = true;
  if (output.captureErrors) {
    readCaptured(pipeEnds[0], r.errors);
    close(pipeEnds[0]);
  }
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
  std::string parent = pathDirectory(path);
  std::string name(pathFileName(path));
  if (name.empty() || name == "." || name == "..") return;
  int directory = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory < 0) return;
  removeAt(directory, name.c_str(), 0);
  close(directory);
}

namespace {

// Whether the tree below the open folder holds only what the caller may
// remove safely: no link, every folder the caller's and writable by nobody
// else. `where` names the first thing that is not.
bool ownTreeAt(int directory, const std::string& shown, int depth, size_t& entries, std::string& where) {
  DIR* dir = fdopendir(dup(directory));
  if (dir == nullptr) {
    where = shown + ": " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    std::string here = shown + "/" + name;
    if (++entries > kMaxOwnTreeEntries || depth >= kMaxRemoveDepth) {
      where = shown + ": holds more than the packer looks through";
    } else if (fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      where = here + ": " + std::strerror(errno);
    } else if (S_ISLNK(st.st_mode)) {
      where = here + ": is a symbolic link";
    } else if (!S_ISDIR(st.st_mode)) {
      continue;
    } else if (st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
      where = here + ": belongs to another user or others may write to it";
    } else {
      int child = openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child >= 0 && ownTreeAt(child, here, depth + 1, entries, where)) {
        close(child);
        continue;
      }
      if (child >= 0) close(child);
      if (where.empty()) where = here + ": " + std::strerror(errno);
    }
    ok = false;
    break;
  }
  closedir(dir);
  return ok;
}

}  // namespace

bool isOwnTreeWithoutLinks(const std::string& path, std::string& why) {
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    why = errno == ELOOP || errno == ENOTDIR ? "is a symbolic link or not a folder" : std::strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  size_t entries = 0;
  std::string where;
  bool own = st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
  if (!own) why = "belongs to another user or others may write to it";
  if (own && !ownTreeAt(fd, path, 0, entries, where)) {
    own = false;
    why = where;
  }
  close(fd);
  return own;
}

bool sameFileIdentity(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

FileWrite keepSourceMode(OutputFile& out, const InputFile& in) {
  FileWrite r;
  struct stat st;
  if (fstat(int(in.handle), &st) != 0 || fchmod(int(out.handle), st.st_mode & 0755) != 0) {
    r.error = errorText("cannot set the copy's mode", errno);
    return r;
  }
  r.ok = true;
  return r;
}

bool setFixedFileTime(const std::string& path, std::string& error) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = kFixedFileTime;
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0) return true;
  error = std::strerror(errno);
  return false;
}

std::string executableDirectory() {
  char buf[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return std::string();
  return pathDirectory(std::string_view(buf, size_t(n)));
}

void setBinaryStdout() {}
