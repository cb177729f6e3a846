// Process start on POSIX systems: standard descriptors and file-size limits,
// and the removal of named working files on the signals that end a run.
#include "startup.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool PrepareProcess() {
  // A closed standard descriptor would be handed to the next file opened:
  // the skin archive would be read as the user's answers, or messages
  // written into it. The null device takes its place; open returns the
  // lowest free descriptor, so going up from 0 fills each gap in turn.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null != fd) return false;
  }
  // Beyond a file-size limit (ulimit -f) a write then fails with EFBIG and is
  // reported like any write error, instead of the signal killing the run
  // with the working files still in place.
  signal(SIGXFSZ, SIG_IGN);
  return true;
}

namespace {

// A signal handler may only touch plain static data, so the armed paths live
// here: one slot for each named working file in use at the same time (the
// skin's and the settings file's).
const int kSlots = 4;
char g_armedpath[kSlots][removal::kMaxPath + 1];
volatile sig_atomic_t g_armed[kSlots];

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};
const int kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction g_oldactions[kSignalCount];
bool g_installed[kSignalCount];
bool g_atexitregistered = false;

void RemoveArmed() {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (g_armed[slot]) unlink(g_armedpath[slot]);
  }
}

extern "C" void RemoveArmedOnSignal(int sig) {
  RemoveArmed();
  // Die the way the signal would have killed us, so the parent sees it.
  signal(sig, SIG_DFL);
  raise(sig);
}

extern "C" void RemoveArmedAtExit() { RemoveArmed(); }

void InstallHandlers() {
  for (int i = 0; i < kSignalCount; ++i) {
    if (g_installed[i]) continue;
    struct sigaction current;
    if (sigaction(kSignals[i], nullptr, &current) != 0) continue;
    // A signal ignored by whoever started us (nohup, background jobs) must
    // stay ignored; then it cannot end the run either.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = RemoveArmedOnSignal;
    sigfillset(&action.sa_mask);
    if (sigaction(kSignals[i], &action, &g_oldactions[i]) == 0) g_installed[i] = true;
  }
  if (!g_atexitregistered) g_atexitregistered = atexit(RemoveArmedAtExit) == 0;
}

}  // namespace

removal::SignalBlock::SignalBlock() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kSignals) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, &old_);
}

removal::SignalBlock::~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

bool removal::Arm(const std::string& path) {
  // A slot holds the whole path or none of it: a cut path would name
  // another file, and a path cut at a NUL byte too.
  if (path.size() > kMaxPath || path.find('\0') != std::string::npos) {
    errno = ENAMETOOLONG;
    return false;
  }
  for (int slot = 0; slot < kSlots; ++slot) {
    if (g_armed[slot]) continue;
    std::memcpy(g_armedpath[slot], path.c_str(), path.size() + 1);
    g_armed[slot] = 1;
    InstallHandlers();
    return true;
  }
  errno = EMFILE;
  return false;
}

void removal::Disarm(const std::string& path) {
  bool armed = false;
  for (int slot = 0; slot < kSlots; ++slot) {
    if (g_armed[slot] && path == g_armedpath[slot]) g_armed[slot] = 0;
    armed = armed || g_armed[slot];
  }
  if (armed) return;
  for (int i = 0; i < kSignalCount; ++i) {
    if (g_installed[i]) sigaction(kSignals[i], &g_oldactions[i], nullptr);
    g_installed[i] = false;
  }
}
