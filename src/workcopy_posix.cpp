// WorkingCopy on POSIX systems: mkstemp beside the real archive, fsync and
// rename to commit, and signal handlers that remove an abandoned copy.
#include "workcopy.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// The signal handler may only touch plain static data, so the active copy's
// path lives here and not in the WorkingCopy object.
char g_path[PATH_MAX + 32];
volatile sig_atomic_t g_armed = 0;

const int kSignals[] = {SIGINT, SIGTERM};
struct sigaction g_oldactions[2];
bool g_installed[2];
bool g_atexitregistered = false;

extern "C" void RemoveOnSignal(int sig) {
  if (g_armed) unlink(g_path);
  // Die the way the signal would have killed us, so the parent sees it.
  signal(sig, SIG_DFL);
  raise(sig);
}

extern "C" void RemoveAtExit() {
  if (g_armed) unlink(g_path);
}

// Keeps SIGINT and SIGTERM pending while the path and the handlers change, so
// the handler never sees half of an update.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t old_;
};

void InstallHandlers() {
  for (int i = 0; i < 2; ++i) {
    struct sigaction current;
    g_installed[i] = false;
    if (sigaction(kSignals[i], nullptr, &current) != 0) continue;
    // A signal ignored by whoever started us (nohup, background jobs) must
    // stay ignored; then it cannot end the run either.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = RemoveOnSignal;
    sigfillset(&action.sa_mask);
    if (sigaction(kSignals[i], &action, &g_oldactions[i]) == 0) g_installed[i] = true;
  }
  if (!g_atexitregistered) g_atexitregistered = atexit(RemoveAtExit) == 0;
}

void RestoreHandlers() {
  for (int i = 0; i < 2; ++i) {
    if (g_installed[i]) sigaction(kSignals[i], &g_oldactions[i], nullptr);
    g_installed[i] = false;
  }
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies the bytes, owner and permission bits of the open file `from` into
// the empty file `to`. False with errno set on failure.
bool CopyContents(int from, int to) {
  struct stat st;
  if (fstat(from, &st) != 0) return false;
  std::vector<char> buffer(65536);
  for (;;) {
    ssize_t n = read(from, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (!WriteAll(to, buffer.data(), static_cast<size_t>(n))) return false;
  }
  // Only root may hand the file to another owner; anyone else keeps the
  // archive's owner anyway, being its owner or failing the writable check.
  if (fchown(to, st.st_uid, st.st_gid) != 0) {
  }
  return fchmod(to, st.st_mode & 07777) == 0;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

WorkingCopy::~WorkingCopy() { Discard(); }

bool WorkingCopy::Create(const char* archive, std::string* error) {
  path_ = archive;
  if (active_) {
    *error = std::strerror(EBUSY);
    return false;
  }
  char resolved[PATH_MAX];
  if (realpath(archive, resolved) == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  target_ = resolved;
  std::string dir = DirectoryOf(target_);
  std::string base = target_.substr(target_.rfind('/') + 1);
  path_ = (dir == "/" ? "" : dir) + "/." + base + ".XXXXXX";
  if (path_.size() >= sizeof(g_path)) {
    *error = std::strerror(ENAMETOOLONG);
    return false;
  }

  int fd;
  {
    SignalBlock block;
    std::memcpy(g_path, path_.c_str(), path_.size() + 1);
    fd = mkstemp(g_path);
    if (fd < 0) {
      *error = std::strerror(errno);
      return false;
    }
    path_ = g_path;
    g_armed = 1;
    InstallHandlers();
  }
  active_ = true;

  int source = open(target_.c_str(), O_RDONLY | O_CLOEXEC);
  bool copied = source >= 0 && CopyContents(source, fd);
  int saved = errno;
  if (source >= 0) close(source);
  if (close(fd) != 0 && copied) {
    copied = false;
    saved = errno;
  }
  if (!copied) {
    *error = std::strerror(saved);
    Discard();
    return false;
  }
  return true;
}

bool WorkingCopy::Commit(std::string* error) {
  if (!active_) {
    *error = std::strerror(ENOENT);
    return false;
  }
  // The data must be on disk before the rename makes it the archive.
  int fd = open(path_.c_str(), O_RDWR | O_CLOEXEC);
  bool synced = fd >= 0 && fsync(fd) == 0;
  int saved = errno;
  if (fd >= 0 && close(fd) != 0 && synced) {
    synced = false;
    saved = errno;
  }
  if (!synced) {
    *error = std::strerror(saved);
    Discard();
    return false;
  }
  bool renamed;
  {
    SignalBlock block;
    renamed = rename(path_.c_str(), target_.c_str()) == 0;
    if (!renamed) {
      *error = std::strerror(errno);
      unlink(path_.c_str());
    }
    g_armed = 0;
    RestoreHandlers();
  }
  active_ = false;
  if (!renamed) return false;
  // Makes the rename itself durable. A failure here is not reported: after a
  // crash the folder then shows the old archive or the new one, both whole.
  int dirfd = open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd >= 0) {
    fsync(dirfd);
    close(dirfd);
  }
  return true;
}

void WorkingCopy::Discard() {
  if (!active_) return;
  SignalBlock block;
  unlink(path_.c_str());
  g_armed = 0;
  RestoreHandlers();
  active_ = false;
}
