// The operating-system calls that the skin file's commit protocol is built
// on. The protocol itself (skinfile.cpp) is portable; each platform file
// (skinplatform_posix.cpp, skinplatform_win.cpp) supplies these few
// primitives, and tests hand in a platform that fails any one of them.
#ifndef VRDSKINCFG_SKINPLATFORM_H
#define VRDSKINCFG_SKINPLATFORM_H

#include <cstdint>
#include <string>
#include <vector>

// What makes a file this file and not another, or this file changed: POSIX
// device, inode, size and modification time in nanoseconds; Windows volume
// serial, file index, size and last-write time.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t size = 0;
  int64_t modified = 0;  // seconds
  int64_t modifiednsec = 0;

  bool operator==(const FileIdentity& o) const {
    return volume == o.volume && index == o.index && size == o.size && modified == o.modified &&
           modifiednsec == o.modifiednsec;
  }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// The result of a primitive. kFailed carries the system's error text.
enum class SysResult {
  kOk,
  kFailed,
  kNotFound,    // the path names nothing (or nothing we may read)
  kNotRegular,  // a folder, FIFO, device or socket
  kBusy,        // a lock held by another process
  kForeign,     // owner or group cannot be kept by this user
  kChanged,     // the archive is no longer the file read at start-up
};

class SkinPlatform {
 public:
  // A POSIX descriptor or a Windows HANDLE; kNoHandle when closed.
  using Handle = intptr_t;
  static const Handle kNoHandle = -1;

  virtual ~SkinPlatform() = default;

  // Opens an existing regular file for reading, following symbolic links,
  // without ever blocking (a FIFO is refused, not waited on). Also gives the
  // file's identity and the path of the real file behind any links.
  virtual SysResult OpenRegular(const std::string& path, Handle* handle, FileIdentity* identity,
                                std::string* realpath, std::string* error) = 0;
  // True when the path can be opened for writing (no truncation, no wait).
  virtual SysResult CheckWritable(const std::string& path, std::string* error) = 0;
  // The identity of what the path names now (following links), and of an
  // open file.
  virtual SysResult IdentifyPath(const std::string& path, FileIdentity* identity,
                                 std::string* error) = 0;
  virtual SysResult IdentifyHandle(Handle handle, FileIdentity* identity, std::string* error) = 0;

  // An exclusive lock between processes on an open file; kBusy while
  // another process holds it. Never blocks.
  virtual SysResult TryLock(Handle handle, std::string* error) = 0;
  virtual void Unlock(Handle handle) = 0;

  // Creates an empty, readable and writable working file in `folder`,
  // locked against other processes. Unnamed where the system allows it
  // (`*path` is then empty); otherwise named `prefix` plus six random
  // characters and removed on interrupting signals until it is published.
  // The file never outlives the process unless published.
  virtual SysResult CreateWorkFile(const std::string& folder, const std::string& prefix,
                                   Handle* handle, std::string* path, std::string* error) = 0;
  // Gives `to` the owner, group, permission bits and extended attributes
  // (with access control lists) of `from`; kForeign when this user may not
  // keep the owner or group. A no-op where Publish keeps them itself.
  virtual SysResult CopyMetadata(Handle from, Handle to, std::string* error) = 0;
  // Forces the file's data to the device.
  virtual SysResult Sync(Handle handle, std::string* error) = 0;
  // Makes the working file the file at `target` in one atomic step, then
  // makes that step durable. On failure `target` is unchanged and the
  // working file is gone. Either way the handle is closed afterwards.
  virtual SysResult Publish(Handle work, const std::string& workpath, const std::string& folder,
                            const std::string& prefix, const std::string& target,
                            std::string* error) = 0;
  // Closes the handle; a named working file that was not published is
  // removed with it.
  virtual void CloseWorkFile(Handle work, const std::string& workpath) = 0;
  virtual void Close(Handle handle) = 0;

  // Names in `folder` that start with `prefix`, followed by six characters.
  virtual std::vector<std::string> ListWorkFiles(const std::string& folder,
                                                 const std::string& prefix) = 0;
  // Removes the working file at `path` unless a live run holds its lock.
  virtual void RemoveIfStale(const std::string& path) = 0;

  // Splits a path into its folder and the name in it, and joins them again.
  virtual void SplitPath(const std::string& path, std::string* folder, std::string* name) = 0;
  virtual std::string JoinPath(const std::string& folder, const std::string& name) = 0;
  virtual void SleepMilliseconds(int milliseconds) = 0;
  // The longest file name the folder's file system takes, in bytes.
  virtual size_t MaxNameLength(const std::string& folder) = 0;
};

// The platform the program runs on. With `unnamedfiles` false every working
// file gets a name, as on file systems without unnamed files (for tests).
SkinPlatform& SystemSkinPlatform(bool unnamedfiles = true);

#endif
