// The platform points of the engine in one place, so that a port supplies
// one file (ZipPlatform_posix.cpp, ZipPlatform_win.cpp) and nothing else in
// the engine needs to know which system it runs on. Free of system headers.
#ifndef ZIPENGINE_ZIPPLATFORM_H
#define ZIPENGINE_ZIPPLATFORM_H

#include <cstdint>
#include <functional>
#include <string>

namespace ZipPlatform {

// Host-system value of the version-made-by field of new entries, used when
// an archive has no entries to copy it from (3, Unix, on POSIX).
uint8_t GetSystemID();

// Whether entry lookups are case-sensitive by default.
bool GetSystemCaseSensitivity();

// Text of the system's current error (errno on POSIX, the last error on
// Windows); "Unspecified error" when there is none or no text for it.
// Reads the error first, before anything could change it.
std::string GetSystemErrorDescription();

#ifdef _WIN32
// Windows' text for error `code` (a GetLastError value) without the line
// break it ends in; "" when Windows has none. The one formatting of Windows
// errors, for the program's messages too. Leaves the last error alone.
std::string WindowsErrorText(uint32_t code);
#endif

// Name comparison for the sorted lookup array: collation of the current
// locale, or its case-insensitive form.
typedef int (*ZipNameCompare)(const char* a, const char* b);
ZipNameCompare GetNameCompare(bool caseSensitive);

// Turns a stored entry name into this platform's form, in place (every
// backslash becomes "/" on POSIX; every "/" becomes a backslash on Windows),
// one character at a time.
char NameCharToPlatform(char c);
void NameToPlatform(std::string& name);

// Whether `compare` finds two names equal exactly when their bytes up to
// the first NUL are equal, so that a hash of those bytes can stand in for
// it: collation in the "C" locale does, a case-insensitive one does not.
bool ComparesAsBytes(ZipNameCompare compare);

// External attributes of a new entry that has no file on disk behind it
// (a regular rw-r--r-- file, or a directory), in the form of host system
// `system` (3: mode in the high 16 bits; otherwise DOS attribute bits).
uint32_t GetDefaultAttributes(uint8_t system, bool directory);

// The processors this process may run on (at least 1).
unsigned GetProcessorCount();

// Runs `work` on up to `extra` new threads and on the calling thread, and
// returns when every one of them has ended. A thread the system refuses is
// left out (the others share its work). `work` must not throw.
void RunOnThreads(unsigned extra, const std::function<void()>& work);

}  // namespace ZipPlatform

#endif
