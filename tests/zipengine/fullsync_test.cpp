// FullSync: F_FULLFSYNC where the system has it, fsync where a file system
// refuses it, and a failure of the file itself reported. Where the system
// has no F_FULLFSYNC, a command it does not know stands in: fcntl refuses
// that with EINVAL, as a file system without the full sync does.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>

#include <cerrno>

#ifndef F_FULLFSYNC
#define F_FULLFSYNC 0x7fff
#endif
#include "fullsync.h"

namespace {

TEST(FullSync, FallsBackToFsyncWhereRefusedAndReportsFailures) {
  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(FullSync(fileno(file)), 0);
  fclose(file);
  errno = 0;
  EXPECT_EQ(FullSync(-1), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
