// A SkinPlatform that hands every primitive on to another one: a test's
// platform derives from it and overrides only the primitives it disturbs.
#ifndef VRDSKINCFG_FORWARDINGPLATFORM_H
#define VRDSKINCFG_FORWARDINGPLATFORM_H

#include <string>
#include <vector>

#include "skinplatform.h"

class ForwardingSkinPlatform : public SkinPlatform {
 public:
  explicit ForwardingSkinPlatform(SkinPlatform& target) : target_(target) {}

  SysResult OpenRegular(const std::string& path, Handle* handle, FileIdentity* identity,
                        std::string* realpath, std::string* error) override {
    return target_.OpenRegular(path, handle, identity, realpath, error);
  }
  SysResult LocateOpen(Handle handle, const std::string& given, std::string* realpath,
                       std::string* error) override {
    return target_.LocateOpen(handle, given, realpath, error);
  }
  SysResult ReadAt(Handle handle, uint64_t offset, void* data, size_t size, size_t* got,
                   std::string* error) override {
    return target_.ReadAt(handle, offset, data, size, got, error);
  }
  SysResult CheckWritable(const std::string& path, std::string* error) override {
    return target_.CheckWritable(path, error);
  }
  SysResult IdentifyPath(const std::string& path, FileIdentity* identity,
                         std::string* error) override {
    return target_.IdentifyPath(path, identity, error);
  }
  SysResult IdentifyHandle(Handle handle, FileIdentity* identity, std::string* error) override {
    return target_.IdentifyHandle(handle, identity, error);
  }
  SysResult TryLock(Handle handle, std::string* error) override {
    return target_.TryLock(handle, error);
  }
  void Unlock(Handle handle) override { target_.Unlock(handle); }
  SysResult CreateUnnamedFile(const std::string& folder, unsigned mode, Handle* handle,
                              std::string* error) override {
    return target_.CreateUnnamedFile(folder, mode, handle, error);
  }
  SysResult CreateNamedFile(const std::string& path, unsigned mode, Handle* handle,
                            std::string* error) override {
    return target_.CreateNamedFile(path, mode, handle, error);
  }
  SysResult CopyMetadata(Handle from, Handle to, std::string* error) override {
    return target_.CopyMetadata(from, to, error);
  }
  SysResult Write(Handle handle, const void* data, size_t size, std::string* error) override {
    return target_.Write(handle, data, size, error);
  }
  SysResult Sync(Handle handle, std::string* error) override { return target_.Sync(handle, error); }
  SysResult Release(Handle* work, const std::string& path, bool unnamed,
                    std::string* error) override {
    return target_.Release(work, path, unnamed, error);
  }
  SysResult Replace(const std::string& workpath, const std::string& target,
                    std::string* error) override {
    return target_.Replace(workpath, target, error);
  }
  SysResult MoveInto(const std::string& workpath, const std::string& target,
                     std::string* error) override {
    return target_.MoveInto(workpath, target, error);
  }
  void SyncFolder(const std::string& folder) override { target_.SyncFolder(folder); }
  void CloseWorkFile(Handle work, const std::string& workpath) override {
    target_.CloseWorkFile(work, workpath);
  }
  void KeepWorkFile(Handle work, const std::string& workpath) override {
    target_.KeepWorkFile(work, workpath);
  }
  void Close(Handle handle) override { target_.Close(handle); }
  std::vector<std::string> ListNames(const std::string& folder,
                                     const std::string& prefix) override {
    return target_.ListNames(folder, prefix);
  }
  void RemoveIfStale(const std::string& path) override { target_.RemoveIfStale(path); }
  void SplitPath(const std::string& path, std::string* folder, std::string* name) override {
    target_.SplitPath(path, folder, name);
  }
  std::string JoinPath(const std::string& folder, const std::string& name) override {
    return target_.JoinPath(folder, name);
  }
  void SleepMilliseconds(int milliseconds) override { target_.SleepMilliseconds(milliseconds); }
  size_t NameRoom(const std::string& folder) override { return target_.NameRoom(folder); }

 protected:
  SkinPlatform& target_;
};

#endif
