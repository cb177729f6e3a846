// The one exception type of the ZIP engine: a numeric cause, the file the
// failing operation worked on, and the errno captured at construction.
#ifndef ZIPENGINE_ZIPEXCEPTION_H
#define ZIPENGINE_ZIPEXCEPTION_H

#include <cstddef>
#include <exception>
#include <string>

class CZipException : public std::exception {
 public:
  enum {
    genericError = 200,
    badZipFile = 201,
    badCrc = 202,
    noCallback = 203,
    noVolumeSize = 204,
    aborted = 205,
    abortedAction = 206,
    abortedSafely = 207,
    nonRemovable = 208,
    tooManyVolumes = 209,
    tooManyFiles = 210,
    tooLongData = 211,
    tooBigSize = 212,
    badPassword = 213,
    dirWithSize = 214,
    internalError = 215,
    fileError = 216,
    notRemoved = 217,
    notRenamed = 218,
    platfNotSupp = 219,
    cdirNotFound = 220,
    noZip64 = 221,
    noAES = 222,
    outOfBounds = 223,
    streamEnd = 500,
    needDict = 501,
    errNo = 502,
    streamError = 503,
    dataError = 504,
    memError = 505,
    bufError = 506,
    versionError = 507
  };

  // Captures errno (the last error on Windows) as m_iSystemError; no file
  // name leaves m_szFileName empty.
  explicit CZipException(int cause = genericError, const char* fileName = nullptr);
  // Every throw of the engine goes through here.
  [[noreturn]] static void Throw(int cause = genericError, const char* fileName = nullptr);
  // Maps a zlib result code to an engine code (Z_DATA_ERROR -> dataError, ...;
  // a code zlib does not define -> genericError).
  static int ZlibErrToZip(int zlibResult);

  // The text of the cause, never the file name. Codes without a text of
  // their own (genericError, needDict, unknown ones) and errNo describe the
  // system error current at the call; fileError, notRemoved and notRenamed
  // add it in brackets.
  std::string GetErrorDescription() const;
  // The description, cut to capacity - 1 characters and terminated; false,
  // leaving the buffer alone, for no buffer, a capacity of 0 or an empty
  // description.
  bool GetErrorMessage(char* buffer, size_t capacity) const;
  const char* what() const noexcept override;

  std::string m_szFileName;
  int m_iCause;
  int m_iSystemError;

 private:
  mutable std::string m_what;
};

#endif
