// 64-bit offsets on every POSIX system; must precede every system header.
#define _FILE_OFFSET_BITS 64

#include <errno.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>

#include "ZipException.h"
#include "ZipFile.h"
#include "fullsync.h"
#include "linuxcalls.h"

static_assert(sizeof(off_t) == 8, "archives need 64-bit file offsets");

namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

int OpenFlags(uint32_t openFlags) {
  int flags;
  switch (openFlags & 3) {
    case CZipFile::modeWrite:
      flags = O_WRONLY;
      break;
    case CZipFile::modeReadWrite:
      flags = O_RDWR;
      break;
    default:
      flags = O_RDONLY;
      break;
  }
  if (openFlags & CZipFile::modeCreate) flags |= O_CREAT;
  if (CZipFile::Truncates(openFlags)) flags |= O_TRUNC;
  return flags | O_CLOEXEC;
}

// Repeats `call` (read up to n bytes into out, `at` bytes into the request)
// until `count` bytes came or the file ended; -1, errno set, when it fails.
template <typename Call>
int64_t ReadFully(char* out, uint32_t count, const Call& call) {
  uint32_t done = 0;
  errno = 0;
  while (done < count) {
    ssize_t n = call(out + done, count - done, done);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    done += static_cast<uint32_t>(n);
  }
  return done;
}

}  // namespace

CZipFile::CZipFile() : m_hFile(-1), m_bOwned(true) {}

CZipFile::~CZipFile() { CloseQuietly(); }

void CZipFile::ThrowError() const {
  // A call that failed without saying why still must not look like success.
  int error = errno != 0 ? errno : EIO;
  errno = error;
  CZipException::Throw(error, m_szFileName.c_str());
}

bool CZipFile::Open(const char* path, uint32_t openFlags, bool throwOnError) {
  CloseQuietly();
  int fd = open(path, OpenFlags(openFlags), 0644);
  if (fd == -1) {
    if (!throwOnError) return false;
    int error = errno;
    m_szFileName = path;
    errno = error;
    ThrowError();
  }
  m_hFile = fd;
  m_szFileName = path;
  m_bOwned = true;
  return true;
}

void CZipFile::CloseSystemHandle(intptr_t handle, const std::string* path) {
  if (close(Fd(handle)) != 0 && path != nullptr) {
    CZipException::Throw(errno != 0 ? errno : EIO, path->c_str());
  }
}

void CZipFile::Flush() {
  if (FullSync(Fd(m_hFile)) != 0) ThrowError();
}

uint64_t CZipFile::GetPosition() const {
  off_t pos = lseek(Fd(m_hFile), 0, SEEK_CUR);
  if (pos == -1) ThrowError();
  return static_cast<uint64_t>(pos);
}

uint64_t CZipFile::Seek(int64_t offset, int origin) {
  int whence = origin == current ? SEEK_CUR : origin == end ? SEEK_END : SEEK_SET;
  off_t pos = lseek(Fd(m_hFile), static_cast<off_t>(offset), whence);
  if (pos == -1) ThrowError();
  return static_cast<uint64_t>(pos);
}

uint64_t CZipFile::GetLength() const {
  off_t old = lseek(Fd(m_hFile), 0, SEEK_CUR);
  if (old == -1) ThrowError();
  off_t length = lseek(Fd(m_hFile), 0, SEEK_END);
  if (length == -1 || lseek(Fd(m_hFile), old, SEEK_SET) == -1) ThrowError();
  return static_cast<uint64_t>(length);
}

void CZipFile::SetLength(uint64_t length) {
  if (length > static_cast<uint64_t>(INT64_MAX)) {
    errno = EFBIG;
    ThrowError();
  }
  if (ftruncate(Fd(m_hFile), static_cast<off_t>(length)) != 0) ThrowError();
}

uint32_t CZipFile::Read(void* buffer, uint32_t count) {
  int64_t done =
      ReadFully(static_cast<char*>(buffer), count,
                [this](char* out, uint32_t n, uint32_t) { return read(Fd(m_hFile), out, n); });
  if (done < 0) ThrowError();
  return static_cast<uint32_t>(done);
}

uint32_t CZipFile::ReadAt(void* buffer, uint32_t count, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  int64_t done =
      ReadFully(static_cast<char*>(buffer), count, [&](char* out, uint32_t n, uint32_t at) {
        return pread(Fd(m_hFile), out, n, static_cast<off_t>(offset + at));
      });
  if (done < 0) ThrowError();
  return static_cast<uint32_t>(done);
}

void CZipFile::Write(const void* buffer, uint32_t count) {
  const char* in = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = write(Fd(m_hFile), in + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      ThrowError();
    }
    done += static_cast<uint32_t>(n);
  }
}

uint64_t CZipFile::CopyFrom(const CZipFile& source, uint64_t from, uint64_t to, uint64_t count) {
  uint64_t done = 0;
#if VRD_LINUX_CALLS
  while (done < count) {
    off_t in = static_cast<off_t>(from + done), out = static_cast<off_t>(to + done);
    size_t chunk = static_cast<size_t>(std::min(count - done, s_copyCalls.maxBytes));
    ++s_copyCalls.made;
    ssize_t n = copy_file_range(Fd(source.m_hFile), &in, Fd(m_hFile), &out, chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
#else
  (void)source, (void)from, (void)to, (void)count;
#endif
  return done;
}

void CZipFile::StartFlush(uint64_t from, uint64_t count) {
#if VRD_LINUX_CALLS
  sync_file_range(Fd(m_hFile), static_cast<off_t>(from), static_cast<off_t>(count),
                  SYNC_FILE_RANGE_WRITE);
#else
  (void)from, (void)count;
#endif
}
