// SkinPlatform on POSIX systems. Working files are unnamed (Linux O_TMPFILE)
// where the file system allows it, else named files that the signal handler
// removes (those of the skin and of the settings file alike); locks are
// flock locks; metadata is copied with fchown, fchmod and the
// extended-attribute calls, which carry POSIX access control lists. Files
// are opened through the system, whose rules for links hold.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fullsync.h"
#include "scoped.h"
#include "skinplatform.h"
#include "startup.h"
#include "sysconfig.h"
#include "xattr_calls.h"

namespace {

using removal::Arm;
using removal::Disarm;
using removal::SignalBlock;

// --- helpers ---

SysResult Failed(std::string* error, int code = errno) {
  *error = std::strerror(code);
  return SysResult::kFailed;
}

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.index = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
#ifdef __APPLE__
  id.modified = st.st_mtimespec.tv_sec;
  id.modifiednsec = st.st_mtimespec.tv_nsec;
  id.changed = st.st_ctimespec.tv_sec;
  id.changednsec = st.st_ctimespec.tv_nsec;
#else
  id.modified = st.st_mtim.tv_sec;
  id.modifiednsec = st.st_mtim.tv_nsec;
  id.changed = st.st_ctim.tv_sec;
  id.changednsec = st.st_ctim.tv_nsec;
#endif
  return id;
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// True when `path` names the very file open as `fd`.
bool SameFile(int fd, const std::string& path) {
  struct stat byfd, bypath;
  return fstat(fd, &byfd) == 0 && lstat(path.c_str(), &bypath) == 0 &&
         byfd.st_dev == bypath.st_dev && byfd.st_ino == bypath.st_ino;
}

// Follows the links that end `path` and gives the last name reached: the
// file itself, or the name a dangling link points at. *planted tells
// whether the way crossed a link that another user planted in a shared
// sticky folder (like /tmp): one owned by neither this user nor the
// folder's owner. Linux refuses to follow such links where
// fs.protected_symlinks is set; the program refuses them everywhere, so a
// link planted by another user never redirects a write.
std::string FollowTrailingLinks(std::string path, bool* planted) {
  *planted = false;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat link, folder;
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    if (stat(dir.empty() ? "." : dir.c_str(), &folder) != 0) return path;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    if (shared && link.st_uid != geteuid() && link.st_uid != folder.st_uid) {
      *planted = true;
      return path;
    }
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length <= 0) return path;
    target[length] = '\0';
    path = target[0] == '/' ? std::string(target) : dir + target;
  }
  return path;
}

#if VRD_HAVE_PROC_SELF_FD
// What the kernel appends to the name of an open file that no name leads
// to any more.
const char kDeletedMark[] = " (deleted)";
#endif

// Where the system found the open file: no link is resolved by hand, so the
// system's own rules for following links (fs.protected_symlinks) held.
// kChanged when that place holds another file now (*path: the place).
SysResult PathOf(int fd, const std::string& given, std::string* path, std::string* error) {
  std::string place;
#if VRD_HAVE_F_GETPATH
  char buffer[PATH_MAX];
  if (fcntl(fd, F_GETPATH, buffer) == 0) {
    *path = buffer;
    return SameFile(fd, *path) ? SysResult::kOk : SysResult::kChanged;
  }
#elif VRD_HAVE_PROC_SELF_FD
  char procpath[64];
  char buffer[PATH_MAX];
  std::snprintf(procpath, sizeof procpath, "/proc/self/fd/%d", fd);
  ssize_t length = readlink(procpath, buffer, sizeof buffer);
  if (length > 0 && static_cast<size_t>(length) < sizeof buffer && buffer[0] == '/') {
    *path = std::string(buffer, static_cast<size_t>(length));
    if (SameFile(fd, *path)) return SysResult::kOk;
    const size_t mark = sizeof kDeletedMark - 1;
    if (path->size() > mark && path->compare(path->size() - mark, mark, kDeletedMark) == 0) {
      place = path->substr(0, path->size() - mark);
    }
  }
#endif
  char resolved[PATH_MAX];
  if (::realpath(given.c_str(), resolved) == nullptr) {
    if (errno != ENOENT) return Failed(error);
    *path = place;  // removed since the open
    return SysResult::kChanged;
  }
  *path = resolved;
  if (SameFile(fd, *path)) return SysResult::kOk;
  if (!place.empty()) *path = place;
  return SysResult::kChanged;
}

bool IsUnsupported(int code) { return code == ENOTSUP || code == EOPNOTSUPP || code == ENOSYS; }

// The codes of flock on a file system that offers no locks.
bool IsWithoutLocks(int code) { return code == ENOLCK || IsUnsupported(code); }

// Locks a working file against cleaning runs. Where the file system has no
// locks, no cleaning run can lock it either, which it must to remove it.
bool LockWorkFile(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0 || IsWithoutLocks(errno); }

SysResult Exists(std::string* error) {
  Failed(error, EEXIST);
  return SysResult::kExists;
}

// Creates and locks a new named working file, armed from its first moment.
SysResult CreateNamed(const std::string& path, mode_t mode, int* created, std::string* error) {
  SignalBlock block;
  ScopedFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (fd.get() < 0) return errno == EEXIST ? Exists(error) : Failed(error);
  if (!Arm(path)) {
    const int code = errno;
    unlink(path.c_str());
    return Failed(error, code);
  }
  // A cleaning run could have taken the file for stale before the lock:
  // then it is gone (or going), and another name is to be tried.
  const bool locked = LockWorkFile(fd.get());
  const int code = errno;
  if (locked && SameFile(fd.get(), path)) {
    *created = fd.release();
    return SysResult::kOk;
  }
  Disarm(path);
  if (locked || code == EWOULDBLOCK) return Exists(error);
  unlink(path.c_str());
  return Failed(error, code);
}

// Gives an unnamed working file the name `path`.
SysResult LinkUnnamed(int fd, const std::string& path, std::string* error) {
#if VRD_HAVE_O_TMPFILE && VRD_HAVE_AT_EMPTY_PATH && VRD_HAVE_PROC_SELF_FD
  if (linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return SysResult::kOk;
  if (errno == EEXIST) return Exists(error);
  // Without the privilege AT_EMPTY_PATH asks for, /proc names the file too.
  char procpath[64];
  std::snprintf(procpath, sizeof procpath, "/proc/self/fd/%d", fd);
  if (linkat(AT_FDCWD, procpath, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    return SysResult::kOk;
  }
  return errno == EEXIST ? Exists(error) : Failed(error);
#else
  (void)fd;
  (void)path;
  return Failed(error, ENOTSUP);
#endif
}

// Security labels belong to the system, which gives a new file its own.
bool IsSecurityLabel(const char* name) { return std::strncmp(name, "security.", 9) == 0; }

// The names of a file's extended attributes, NUL-separated; false with
// errno set when they cannot be listed.
bool ListAttributes(int fd, std::string* names) {
  names->clear();
  for (int attempt = 0; attempt < 4; ++attempt) {
#if VRD_HAVE_XATTR_OPTIONS
    ssize_t size = flistxattr(fd, nullptr, 0, 0);
#else
    ssize_t size = flistxattr(fd, nullptr, 0);
#endif
    if (size <= 0) return size == 0;
    names->resize(static_cast<size_t>(size));
#if VRD_HAVE_XATTR_OPTIONS
    size = flistxattr(fd, &(*names)[0], names->size(), 0);
#else
    size = flistxattr(fd, &(*names)[0], names->size());
#endif
    if (size >= 0) {
      names->resize(static_cast<size_t>(size));
      return true;
    }
    if (errno != ERANGE) return false;  // else the list grew meanwhile
  }
  return false;
}

bool HasName(const std::string& names, const char* name) {
  for (size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    if (std::strcmp(names.c_str() + at, name) == 0) return true;
  }
  return false;
}

// Makes `to`'s extended attributes (POSIX access control lists included)
// those of `from`: what the folder's default ACL gave `to` goes.
SysResult CopyAttributes(int from, int to, std::string* error) {
  std::string names, extra;
  if (!ListAttributes(from, &names)) return IsUnsupported(errno) ? SysResult::kOk : Failed(error);
  if (!ListAttributes(to, &extra)) return IsUnsupported(errno) ? SysResult::kOk : Failed(error);
  for (size_t at = 0; at < extra.size(); at += std::strlen(extra.c_str() + at) + 1) {
    const char* name = extra.c_str() + at;
    if (*name == '\0' || IsSecurityLabel(name) || HasName(names, name)) continue;
#if VRD_HAVE_XATTR_OPTIONS
    if (fremovexattr(to, name, 0) != 0) return Failed(error);
#else
    if (fremovexattr(to, name) != 0) return Failed(error);
#endif
  }
  for (size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    const char* name = names.c_str() + at;
    if (*name == '\0') continue;
#if VRD_HAVE_XATTR_OPTIONS
    ssize_t length = fgetxattr(from, name, nullptr, 0, 0, 0);
#else
    ssize_t length = fgetxattr(from, name, nullptr, 0);
#endif
    if (length < 0) return Failed(error);
    std::string value(static_cast<size_t>(length), '\0');
#if VRD_HAVE_XATTR_OPTIONS
    length = fgetxattr(from, name, &value[0], value.size(), 0, 0);
    int set =
        length < 0 ? -1 : fsetxattr(to, name, value.data(), static_cast<size_t>(length), 0, 0);
#else
    length = fgetxattr(from, name, &value[0], value.size());
    int set = length < 0 ? -1 : fsetxattr(to, name, value.data(), static_cast<size_t>(length), 0);
#endif
    if (set != 0) {
      if (IsSecurityLabel(name) && (errno == EPERM || IsUnsupported(errno))) continue;
      return Failed(error);
    }
  }
  return SysResult::kOk;
}

// rename() with the signals held back, so the handler never removes the
// file under its new name.
SysResult RenameArmed(const std::string& workpath, const std::string& target, std::string* error) {
  SignalBlock block;
  if (rename(workpath.c_str(), target.c_str()) != 0) return Failed(error);
  Disarm(workpath);
  return SysResult::kOk;
}

class PosixSkinPlatform : public SkinPlatform {
 public:
  explicit PosixSkinPlatform(bool unnamedfiles) : unnamedfiles_(unnamedfiles) {}

  SysResult OpenRegular(const std::string& path, Handle* handle, FileIdentity* identity,
                        std::string* realpath, std::string* error) override {
    bool planted = false;
    const std::string end = FollowTrailingLinks(path, &planted);
    if (planted) {
      *error = std::strerror(EACCES);
      return SysResult::kFailed;
    }
    ScopedFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
      *error = std::strerror(errno);
      if (errno != ENOENT) return SysResult::kFailed;
      // A file still to be made is made where the links lead.
      *realpath = end;
      return SysResult::kNotFound;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return Failed(error);
    if (!S_ISREG(st.st_mode)) return SysResult::kNotRegular;
    int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return Failed(error);
    *handle = fd.release();
    *identity = IdentityOf(st);
    return SysResult::kOk;
  }

  SysResult LocateOpen(Handle handle, const std::string& given, std::string* realpath,
                       std::string* error) override {
    return PathOf(static_cast<int>(handle), given, realpath, error);
  }

  SysResult ReadAt(Handle handle, uint64_t offset, void* data, size_t size, size_t* got,
                   std::string* error) override {
    char* at = static_cast<char*>(data);
    *got = 0;
    while (*got < size) {
      ssize_t n = pread(static_cast<int>(handle), at + *got, size - *got,
                        static_cast<off_t>(offset + *got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Failed(error);
      if (n == 0) break;
      *got += static_cast<size_t>(n);
    }
    return SysResult::kOk;
  }

  SysResult CheckWritable(const std::string& path, std::string* error) override {
    ScopedFd fd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() >= 0) return SysResult::kOk;
    const int code = errno;
    Failed(error, code);
    return code == EACCES || code == EPERM ? SysResult::kNoAccess : SysResult::kFailed;
  }

  SysResult IdentifyPath(const std::string& path, FileIdentity* identity,
                         std::string* error) override {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      *error = std::strerror(errno);
      return errno == ENOENT ? SysResult::kNotFound : SysResult::kFailed;
    }
    *identity = IdentityOf(st);
    return SysResult::kOk;
  }

  SysResult IdentifyHandle(Handle handle, FileIdentity* identity, std::string* error) override {
    struct stat st;
    if (fstat(static_cast<int>(handle), &st) != 0) return Failed(error);
    *identity = IdentityOf(st);
    return SysResult::kOk;
  }

  SysResult TryLock(Handle handle, std::string* error) override {
    while (flock(static_cast<int>(handle), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) return SysResult::kBusy;
      if (IsWithoutLocks(errno)) {
        Failed(error);
        return SysResult::kNoLocks;
      }
      return Failed(error);
    }
    return SysResult::kOk;
  }

  void Unlock(Handle handle) override { flock(static_cast<int>(handle), LOCK_UN); }

  SysResult CreateUnnamedFile(const std::string& folder, unsigned mode, Handle* handle,
                              std::string* error) override {
    if (!unnamedfiles_) return SysResult::kUnsupported;
#if VRD_HAVE_O_TMPFILE
    ScopedFd fd(open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    if (fd.get() >= 0) {
      if (!LockWorkFile(fd.get())) return Failed(error);
      *handle = fd.release();
      return SysResult::kOk;
    }
    // File systems without unnamed files say so in one of these ways.
    if (!IsUnsupported(errno) && errno != EISDIR && errno != EINVAL) return Failed(error);
#else
    (void)folder, (void)mode, (void)handle, (void)error;
#endif
    return SysResult::kUnsupported;
  }

  SysResult CreateNamedFile(const std::string& path, unsigned mode, Handle* handle,
                            std::string* error) override {
    int fd = -1;
    SysResult result = CreateNamed(path, static_cast<mode_t>(mode), &fd, error);
    if (result == SysResult::kOk) *handle = fd;
    return result;
  }

  SysResult CopyMetadata(Handle from, Handle to, std::string* error) override {
    struct stat source, work;
    int in = static_cast<int>(from), out = static_cast<int>(to);
    if (fstat(in, &source) != 0 || fstat(out, &work) != 0) return Failed(error);
    if (source.st_uid != work.st_uid || source.st_gid != work.st_gid) {
      if (fchown(out, source.st_uid, source.st_gid) != 0) {
        if (errno == EPERM) return SysResult::kForeign;
        return Failed(error);
      }
    }
    // The attributes first: removing an inherited ACL leaves its mask in
    // the permission bits, which fchmod then sets right (the source's group
    // bits are its own ACL's mask).
    SysResult result = CopyAttributes(in, out, error);
    if (result != SysResult::kOk) return result;
    return fchmod(out, source.st_mode & 07777) == 0 ? SysResult::kOk : Failed(error);
  }

  SysResult Write(Handle handle, const void* data, size_t size, std::string* error) override {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t written = write(static_cast<int>(handle), at, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return Failed(error, written < 0 ? errno : EIO);
      at += written;
      size -= static_cast<size_t>(written);
    }
    return SysResult::kOk;
  }

  SysResult Sync(Handle handle, std::string* error) override {
    if (FullSync(static_cast<int>(handle)) != 0) return Failed(error);
    return SysResult::kOk;
  }

  SysResult Release(Handle* work, const std::string& path, bool unnamed,
                    std::string* error) override {
    if (!unnamed) return SysResult::kOk;
    SignalBlock block;
    SysResult result = LinkUnnamed(static_cast<int>(*work), path, error);
    if (result == SysResult::kOk && !Arm(path)) {
      const int code = errno;
      unlink(path.c_str());
      return Failed(error, code);
    }
    return result;
  }

  SysResult Replace(const std::string& workpath, const std::string& target,
                    std::string* error) override {
    return RenameArmed(workpath, target, error);
  }

  // A new file never replaces one that another program made meanwhile: a
  // hard link, or else a rename that refuses a taken name, fails where the
  // name is taken. File systems with neither get the name checked free
  // just before a plain rename.
  SysResult MoveInto(const std::string& workpath, const std::string& target,
                     std::string* error) override {
    SignalBlock block;
    if (link(workpath.c_str(), target.c_str()) == 0) {
      unlink(workpath.c_str());
      Disarm(workpath);
      return SysResult::kOk;
    }
    if (errno == EEXIST) return Exists(error);
#if VRD_HAVE_RENAMEAT2
    if (renameat2(AT_FDCWD, workpath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      Disarm(workpath);
      return SysResult::kOk;
    }
    if (errno == EEXIST) return Exists(error);
    if (!IsUnsupported(errno) && errno != EINVAL) return Failed(error);
#endif
    struct stat st;
    if (lstat(target.c_str(), &st) == 0) return Exists(error);
    return RenameArmed(workpath, target, error);
  }

  void SyncFolder(const std::string& folder) override {
    ScopedFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) FullSync(fd.get());
  }

  void CloseWorkFile(Handle work, const std::string& workpath) override {
    SignalBlock block;
    if (!workpath.empty()) {
      unlink(workpath.c_str());
      Disarm(workpath);
    }
    if (work != kNoHandle) close(static_cast<int>(work));
  }

  void KeepWorkFile(Handle work, const std::string& workpath) override {
    SignalBlock block;
    if (!workpath.empty()) Disarm(workpath);
    if (work != kNoHandle) close(static_cast<int>(work));
  }

  void Close(Handle handle) override { close(static_cast<int>(handle)); }

  std::vector<std::string> ListNames(const std::string& folder,
                                     const std::string& prefix) override {
    std::vector<std::string> found;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return found;
    while (struct dirent* entry = readdir(dir)) {
      if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
        found.push_back(entry->d_name);
      }
    }
    closedir(dir);
    return found;
  }

  void RemoveIfStale(const std::string& path) override {
    ScopedFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return;
    struct stat st;
    // A live run holds the lock on its working file until it ends.
    if (fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
        flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && SameFile(fd.get(), path)) {
      unlink(path.c_str());
    }
  }

  void SplitPath(const std::string& path, std::string* folder, std::string* name) override {
    size_t slash = path.rfind('/');
    *folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
  }

  std::string JoinPath(const std::string& folder, const std::string& name) override {
    return Join(folder, name);
  }

  void SleepMilliseconds(int milliseconds) override {
    struct timespec pause = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
  }

  size_t NameRoom(const std::string& folder) override {
    long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<size_t>(limit) : 255;
  }

 private:
  bool unnamedfiles_;
};

}  // namespace

SkinPlatform& SystemSkinPlatform(bool unnamedfiles) {
  static PosixSkinPlatform unnamed(true), named(false);
  return unnamedfiles ? unnamed : named;
}
