// The extended-attribute calls. Where the system's <sys/xattr.h> is missing
// (the macOS headers of some cross toolchains lack it; libSystem has the
// calls), the documented macOS prototypes stand in.
#ifndef VRDSKINCFG_XATTR_CALLS_H
#define VRDSKINCFG_XATTR_CALLS_H

#if __has_include(<sys/xattr.h>)
#include <sys/xattr.h>
#elif defined(__APPLE__)
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

extern "C" {
ssize_t flistxattr(int fd, char* namebuff, size_t size, int options);
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size, uint32_t position,
                  int options);
int fsetxattr(int fd, const char* name, const void* value, size_t size, uint32_t position,
              int options);
int fremovexattr(int fd, const char* name, int options);
}
#else
#error "no <sys/xattr.h>"
#endif

#endif
