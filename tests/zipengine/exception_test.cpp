// Description texts of the engine's exception: the "%s (%s)." file-error
// form and the fallbacks, which read errno when describing, not when thrown.
#include <zlib.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "ZipException.h"

namespace {

TEST(ZipException, DescriptionFollowsCodeAndCurrentErrno) {
  const struct { int cause, errnoNow; const char* expected; } cases[] = {
      {216, 2, "A file error occurred (No such file or directory.)."},
      {216, 11, "A file error occurred (Unspecified error)."},
      {200, 0, "Unspecified error"}, {200, 13, "Permission denied."},
      {502, 28, "No space left on device."}, {502, 0, "Unspecified error"},
      {201, 2, "Damaged or not a zip file."},
  };
  for (const auto& c : cases) {
    errno = 5;  // captured here, while descriptions read errno anew
    CZipException e(c.cause, "archive.zip");
    errno = c.errnoNow;
    EXPECT_EQ(e.GetErrorDescription(), c.expected) << c.cause << ", errno " << c.errnoNow;
    EXPECT_EQ(e.m_iSystemError, 5);
  }
}

TEST(ZipException, ZlibResultsMapToEngineCodes) {
  const int pairs[][2] = {{Z_VERSION_ERROR, 507}, {Z_BUF_ERROR, 506}, {Z_MEM_ERROR, 505},
                          {Z_DATA_ERROR, 504},    {Z_STREAM_ERROR, 503}, {Z_ERRNO, 502},
                          {Z_STREAM_END, 500},    {Z_NEED_DICT, 501},   {Z_OK, 200}, {-7, 200}};
  for (const auto& p : pairs) EXPECT_EQ(CZipException::ZlibErrToZip(p[0]), p[1]) << p[0];
}

}  // namespace
