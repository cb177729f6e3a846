// Puts the process into a known state before the run opens or writes anything,
// and, on POSIX systems, removes the named working files a fatal signal or an
// exit would leave behind.
#ifndef VRDSKINCFG_STARTUP_H
#define VRDSKINCFG_STARTUP_H

// False when the process cannot be made safe to run; it should end at once.
bool PrepareProcess();

#ifndef _WIN32
#include <limits.h>
#include <signal.h>

#include <cstddef>
#include <string>

namespace removal {

// Keeps the handled signals (SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT)
// pending while it lives, so that the handler never sees half of a change to
// the armed paths or to the files they name.
class SignalBlock {
 public:
  SignalBlock();
  ~SignalBlock();
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t old_;
};

// The longest path Arm takes, in bytes.
constexpr size_t kMaxPath = PATH_MAX;

// Call with the signals blocked. From now on one of the handled signals, or
// exit(), unlinks path (the handler dies of the signal afterwards). False,
// with errno set and nothing armed, when path is too long or holds a NUL
// byte (ENAMETOOLONG) or all four slots are taken (EMFILE): the caller must
// not keep a file it cannot remove.
bool Arm(const std::string& path);

// Call with the signals blocked. Path is no longer removed; the handlers go
// once nothing is armed.
void Disarm(const std::string& path);

}  // namespace removal
#endif

#endif
