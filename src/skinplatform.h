// The operating-system calls that the program's files (the skin archive,
// the settings file) are opened, read and replaced through. The protocol
// and every rule about names (skinfile.cpp) are portable; each platform
// file (skinplatform_posix.cpp, skinplatform_win.cpp) supplies only these
// primitives, and tests hand in a platform (ForwardingSkinPlatform) that
// fails any one of them.
#ifndef VRDSKINCFG_SKINPLATFORM_H
#define VRDSKINCFG_SKINPLATFORM_H

#include <cstdint>
#include <string>
#include <vector>

// What makes a file this file and not another, or this file changed: POSIX
// device, inode, size, modification and status-change time in nanoseconds;
// Windows volume serial, file index, size, last-write and change time.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // seconds
  int64_t modifiednsec = 0;
  int64_t changed = 0;  // seconds; any change of data or metadata moves it
  int64_t changednsec = 0;

  bool operator==(const FileIdentity& o) const {
    return volume == o.volume && index == o.index && size == o.size && modified == o.modified &&
           modifiednsec == o.modifiednsec && changed == o.changed && changednsec == o.changednsec;
  }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// The result of a primitive or of a step of the protocol. kFailed carries
// the system's error text.
enum class SysResult {
  kOk,
  kFailed,
  kNotFound,      // the path names nothing
  kNotRegular,    // a folder, FIFO, device or socket
  kBusy,          // a lock or an open handle of another process is in the way
  kDenied,        // access denied, maybe only for now (a file about to vanish)
  kForeign,       // owner or group cannot be kept by this user
  kChanged,       // the file is no longer the one read at the start
  kLocked,        // another process kept its lock longer than a run waits
  kInUse,         // another program's open handle keeps blocking a replace
  kHalfReplaced,  // the original is gone; the working file kept its name
  kNoAccess,      // this user lacks the permission (the system's text says which)
  kNoLocks,       // the file system offers no file locks
  kExists,        // the name is taken
  kUnsupported,   // the system or the file system offers no such thing
};

class SkinPlatform {
 public:
  // A POSIX descriptor or a Windows HANDLE; kNoHandle when closed.
  using Handle = intptr_t;
  static const Handle kNoHandle = -1;

  virtual ~SkinPlatform() = default;

  // Opens an existing regular file for reading through the system, which
  // follows symbolic links by its own rules, without ever blocking (a FIFO
  // is refused, not waited on), and gives its identity. kNotFound only when
  // the path names nothing; where it is a link to nothing, *realpath may
  // name the file the link points at (else it is left alone). Any other
  // failure is kFailed with the system's text.
  virtual SysResult OpenRegular(const std::string& path, Handle* handle, FileIdentity* identity,
                                std::string* realpath, std::string* error) = 0;
  // The real path of a file just opened from `given`, as the system names
  // the open file. kChanged when that place no longer holds this file (it
  // was replaced or removed since the open); *realpath then names the place
  // where it was found, if known. kFailed when the place cannot be told
  // (too long a path, for one).
  virtual SysResult LocateOpen(Handle handle, const std::string& given, std::string* realpath,
                               std::string* error) = 0;
  // Reads up to `size` bytes at `offset` of an open file (fewer only at its
  // end) without moving its position.
  virtual SysResult ReadAt(Handle handle, uint64_t offset, void* data, size_t size, size_t* got,
                           std::string* error) = 0;
  // kOk when this user may replace the file; kBusy when another program's
  // open handle is in the way (Windows sharing modes), kDenied when access
  // is denied in a way that may pass, kNoAccess when this user lacks the
  // permission (POSIX); kFailed with the system's text otherwise (a
  // read-only file system, for one).
  virtual SysResult CheckWritable(const std::string& path, std::string* error) = 0;
  // The identity of what the path names now (following links), and of an
  // open file.
  virtual SysResult IdentifyPath(const std::string& path, FileIdentity* identity,
                                 std::string* error) = 0;
  virtual SysResult IdentifyHandle(Handle handle, FileIdentity* identity, std::string* error) = 0;

  // An exclusive lock between processes on an open file; kBusy while
  // another process holds it, kNoLocks where the file system has no locks.
  // Never blocks.
  virtual SysResult TryLock(Handle handle, std::string* error) = 0;
  virtual void Unlock(Handle handle) = 0;

  // Creates an empty, readable and writable working file in `folder` that
  // has no name, locked against other processes where the file system has
  // locks, with permissions `mode` as the folder gives them to a new file.
  // kUnsupported where the system or the file system has no unnamed files.
  virtual SysResult CreateUnnamedFile(const std::string& folder, unsigned mode, Handle* handle,
                                      std::string* error) = 0;
  // The same, named `path`, which the file keeps until it is published or
  // closed: removed on interrupting signals (POSIX) or when its handle is
  // closed (Windows). kExists when the name is taken, or was taken from
  // under the new file by a cleaning run: another name is to be tried.
  virtual SysResult CreateNamedFile(const std::string& path, unsigned mode, Handle* handle,
                                    std::string* error) = 0;
  // Gives `to` exactly the owner, group, permission bits and extended
  // attributes (with access control lists) of `from`, removing those `to`
  // got from its folder; kForeign when this user may not keep the owner or
  // group. A no-op where Replace keeps them itself.
  virtual SysResult CopyMetadata(Handle from, Handle to, std::string* error) = 0;
  // Writes all `size` bytes at the file's position.
  virtual SysResult Write(Handle handle, const void* data, size_t size, std::string* error) = 0;
  // Forces the file's data to the device.
  virtual SysResult Sync(Handle handle, std::string* error) = 0;
  // Makes the working file at `path` a file that outlives its handle; an
  // unnamed one (`unnamed`) is linked to that name first (kExists when it
  // is taken). May close the handle (*work is then kNoHandle).
  virtual SysResult Release(Handle* work, const std::string& path, bool unnamed,
                            std::string* error) = 0;
  // Puts the working file at `workpath` in the place of the existing file
  // `target` in one atomic step. kBusy or kDenied when another program's
  // open handle is in the way for now; kHalfReplaced when the target is gone and the
  // working file still has its own name; otherwise on failure `target` is
  // unchanged.
  virtual SysResult Replace(const std::string& workpath, const std::string& target,
                            std::string* error) = 0;
  // Gives the working file the name `target`, which must be free: kExists
  // when another file has it, which stays as it is. (POSIX file systems
  // without hard links and without a rename that refuses a taken name only
  // get the name checked free just before a plain rename.)
  virtual SysResult MoveInto(const std::string& workpath, const std::string& target,
                             std::string* error) = 0;
  // Makes the folder's names durable; errors are not reported (after a
  // crash the folder shows the old file or the new one, both whole).
  virtual void SyncFolder(const std::string& folder) = 0;
  // Closes the handle (unless kNoHandle) and removes a named working file
  // that was not published (unless `workpath` is empty).
  virtual void CloseWorkFile(Handle work, const std::string& workpath) = 0;
  // Closes the handle (unless kNoHandle) of a working file that was
  // published or is kept at `workpath` for good: nothing removes it now.
  virtual void KeepWorkFile(Handle work, const std::string& workpath) = 0;
  virtual void Close(Handle handle) = 0;

  // The names in `folder` that begin with `prefix` (folders may be left
  // out); which of them are working files is ReplacedFile's rule.
  virtual std::vector<std::string> ListNames(const std::string& folder,
                                             const std::string& prefix) = 0;
  // Removes the working file at `path` unless a live run holds it.
  virtual void RemoveIfStale(const std::string& path) = 0;

  // Splits a path into its folder and the name in it, and joins them again.
  virtual void SplitPath(const std::string& path, std::string* folder, std::string* name) = 0;
  virtual std::string JoinPath(const std::string& folder, const std::string& name) = 0;
  virtual void SleepMilliseconds(int milliseconds) = 0;
  // How long, in bytes, a new file's name in `folder` may be: the name
  // limit its file system reports (POSIX), or what the ANSI calls' path
  // budget of MAX_PATH leaves after the folder (Windows).
  virtual size_t NameRoom(const std::string& folder) = 0;
};

// The platform the program runs on. With `unnamedfiles` false every working
// file gets a name, as on file systems without unnamed files (for tests).
SkinPlatform& SystemSkinPlatform(bool unnamedfiles = true);

#endif
