#include "ZipErrorTexts.h"

#include <cstddef>

namespace ZipErrorTexts {

const char* const kUnspecified = "Unspecified error";

namespace {

struct Row {
  int code;
  const char* text;
};

// Codes 1 to 30 are the errno values of the same number.
const Row kRows[] = {
    {1, "Not super-user."},
    {2, "No such file or directory."},
    {4, "Interrupted system call."},
    {5, "I/O error."},
    {6, "No such device or address."},
    {9, "Bad file number."},
    {12, "Not enough space."},
    {13, "Permission denied."},
    {14, "Bad address."},
    {17, "File exists."},
    {18, "Cross-device link."},
    {19, "No such device."},
    {20, "Not a directory."},
    {21, "Is a directory."},
    {22, "Invalid argument."},
    {23, "File table overflow."},
    {24, "Too many open files."},
    {27, "File too large."},
    {28, "No space left on device."},
    {29, "Illegal seek."},
    {30, "Read-only file system."},
    {201, "Damaged or not a zip file."},
    {202, "Crc is mismatched."},
    {203, "There is no spanned archive callback object set."},
    {204, "The volume size was not defined for a split archive."},
    {205, "Volume change aborted in a segmented archive."},
    {206, "Action aborted."},
    {207, "Action aborted safely."},
    {208, "The device selected for the spanned archive is not removable."},
    {209, "The limit of the maximum number of volumes has been reached."},
    {210, "The limit of the maximum number of files in an archive has been reached."},
    {211,
     "The filename, the comment or local or central extra field of the file added to the "
     "archive is too long."},
    {212, "The file size is too large to be supported."},
    {213, "An incorrect password set for the file being decrypted."},
    {214, "The directory with a non-zero size found while testing."},
    {215, "An internal error."},
    {219, "Cannot create a file for the specified platform."},
    {220,
     "The central directory was not found in the archive (or you were trying to open not "
     "the last volume of a segmented archive)."},
    {221,
     "The Zip64 format has not been enabled for the library, but is required to use the "
     "archive."},
    {222,
     "WinZip AES encryption has not been enabled for the library, but is required to "
     "decompress the archive."},
    {223, "The collection is empty and the bounds do not exist."},
    {500, "Zlib library error (end of stream)."},
    {503, "Zlib library error (stream error)."},
    {504, "Zlib library error (data error)."},
    {505, "Not enough memory."},
    {506, "Zlib library error (buffer error)."},
    {507, "Zlib library error (version error)."},
};

}  // namespace

const char* Find(int code) {
  for (const Row& row : kRows) {
    if (row.code == code) return row.text;
  }
  return nullptr;
}

}  // namespace ZipErrorTexts
