// Description texts of the engine's exception: the "%s (%s)." file-error
// form and the fallbacks, which read errno when describing, not when thrown.
#include <cerrno>

#include <gtest/gtest.h>

#include "ZipException.h"

namespace {

using E = CZipException;

TEST(ZipException, DescriptionFollowsCodeAndCurrentErrno) {
  const struct {
    int cause, errnoNow;
    const char* expected;
  } cases[] = {
      {E::fileError, 2, "A file error occurred (No such file or directory.)."},
      {E::fileError, 11, "A file error occurred (Unspecified error)."},
      {E::genericError, 0, "Unspecified error"},
      {E::genericError, 13, "Permission denied."},
      {E::errNo, 28, "No space left on device."},
      {E::errNo, 0, "Unspecified error"},
      {E::badZipFile, 2, "Damaged or not a zip file."},
  };
  for (const auto& c : cases) {
    errno = 5;  // captured here, while descriptions read errno anew
    CZipException e(c.cause, "archive.zip");
    errno = c.errnoNow;
    EXPECT_EQ(e.GetErrorDescription(), c.expected) << c.cause << ", errno " << c.errnoNow;
    EXPECT_EQ(e.m_iSystemError, 5);
  }
}

}  // namespace
