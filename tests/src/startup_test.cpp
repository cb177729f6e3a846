// Named working files on a fatal signal: every armed one goes, and a path
// the list cannot hold whole is refused rather than cut to another name.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "startup.h"
#include "test_support.h"

namespace {

TEST(StartupTest, ASignalRemovesEveryArmedFileAndNothingElse) {
  ziptest::ScopedTempDir tmp;
  const std::string a = tmp.Sub("a"), b = tmp.Sub("b"), c = tmp.Sub("c"), d = tmp.Sub("d");
  for (const std::string& f : {a, b, c, d}) ziptest::WriteFileBytes(f, "x");
  // Cut at its NUL, the first would name c; the second is one byte too long.
  const std::string withnul = c + std::string(1, '\0') + "x";
  const std::string toolong = c + "/" + std::string(removal::kMaxPath - c.size(), 'x');
  const struct {
    const std::string* path;
    bool armed;
    int error;
  } arms[] = {{&a, true, 0},
              {&withnul, false, ENAMETOOLONG},
              {&toolong, false, ENAMETOOLONG},
              {&b, true, 0},
              {&d, true, 0}};
  const pid_t child = fork();
  if (child == 0) {
    {
      removal::SignalBlock block;
      for (const auto& arm : arms) {
        errno = 0;
        if (removal::Arm(*arm.path) != arm.armed || errno != arm.error) {
          std::fprintf(stderr, "Arm(%s) gave errno %d\n", arm.path->c_str(), errno);
          _exit(1);
        }
      }
      removal::Disarm(d);
    }
    raise(SIGTERM);
    _exit(2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  const std::pair<std::string, bool> kept[] = {{a, false}, {b, false}, {c, true}, {d, true}};
  for (const auto& [file, there] : kept) EXPECT_EQ(ziptest::fs::exists(file), there) << file;
}

}  // namespace
