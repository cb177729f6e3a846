// Description texts of the engine's exception: table texts, the "%s (%s)."
// file-error form, and the fallbacks that read errno when describing.
#include <zlib.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "ZipException.h"

namespace {

struct DescriptionCase {
  int cause;
  int errnoAtDescription;
  const char* expected;
};

TEST(ZipException, DescriptionFollowsCodeAndCurrentErrno) {
  const DescriptionCase cases[] = {
      {216, 2, "A file error occurred (No such file or directory.)."},
      {216, 11, "A file error occurred (Unspecified error)."},
      {217, 13, "Error while removing a file (Permission denied.)."},
      {218, 0, "Error while renaming a file (Unspecified error)."},
      {200, 0, "Unspecified error"},
      {200, 13, "Permission denied."},
      {501, 28, "No space left on device."},
      {999, 0, "Unspecified error"},
      {502, 28, "No space left on device."},
      {502, 0, "Unspecified error"},
      {201, 0, "Damaged or not a zip file."},
      {201, 2, "Damaged or not a zip file."},
      {2, 0, "No such file or directory."},
      {27, 0, "File too large."},
      {505, 12, "Not enough memory."},
      {211, 0, "The filename, the comment or local or central extra field of the file added to "
               "the archive is too long."},
  };
  for (const DescriptionCase& c : cases) {
    errno = 5;  // captured at construction, but the description reads errno anew
    CZipException e(c.cause, "archive.zip");
    errno = c.errnoAtDescription;
    EXPECT_EQ(e.GetErrorDescription(), c.expected) << "cause " << c.cause;
    EXPECT_EQ(e.m_iSystemError, 5);
  }
}

TEST(ZipException, ZlibResultsMapToEngineCodes) {
  const int pairs[][2] = {{Z_VERSION_ERROR, 507}, {Z_BUF_ERROR, 506}, {Z_MEM_ERROR, 505},
                          {Z_DATA_ERROR, 504},    {Z_STREAM_ERROR, 503}, {Z_ERRNO, 502},
                          {Z_STREAM_END, 500},    {Z_NEED_DICT, 501},   {Z_OK, 200},
                          {-7, 200}};
  for (const auto& p : pairs) EXPECT_EQ(CZipException::ZlibErrToZip(p[0]), p[1]) << p[0];
}

TEST(ZipException, GetErrorMessageTruncatesAndRefusesEmptyBuffers) {
  CZipException e(202);
  char buffer[8];
  ASSERT_TRUE(e.GetErrorMessage(buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "Crc is ");
  EXPECT_FALSE(e.GetErrorMessage(nullptr, 10));
  EXPECT_FALSE(e.GetErrorMessage(buffer, 0));
}

}  // namespace
