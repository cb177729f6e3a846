#include "ZipException.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>

#include "ZipErrorTexts.h"
#include "ZipPlatform.h"

namespace {

const char* LeadText(int code) {
  switch (code) {
    case CZipException::fileError:
      return "A file error occurred";
    case CZipException::notRemoved:
      return "Error while removing a file";
    case CZipException::notRenamed:
      return "Error while renaming a file";
    default:
      return nullptr;
  }
}

std::string Describe(int code, bool noFallback) {
  if (const char* text = ZipErrorTexts::Find(code)) return text;
  if (const char* lead = LeadText(code)) {
    return std::string(lead) + " (" + ZipPlatform::GetSystemErrorDescription() + ").";
  }
  if (code == CZipException::errNo || !noFallback) {
    return ZipPlatform::GetSystemErrorDescription();
  }
  return ZipErrorTexts::kUnspecified;
}

}  // namespace

CZipException::CZipException(int cause, const char* fileName)
    : m_szFileName(fileName != nullptr ? fileName : ""), m_iCause(cause), m_iSystemError(errno) {}

void CZipException::Throw(int cause, const char* fileName) { throw CZipException(cause, fileName); }

int CZipException::ZlibErrToZip(int zlibResult) {
  switch (zlibResult) {
    case Z_VERSION_ERROR:
      return versionError;
    case Z_BUF_ERROR:
      return bufError;
    case Z_MEM_ERROR:
      return memError;
    case Z_DATA_ERROR:
      return dataError;
    case Z_STREAM_ERROR:
      return streamError;
    case Z_ERRNO:
      return errNo;
    case Z_STREAM_END:
      return streamEnd;
    case Z_NEED_DICT:
      return needDict;
    default:
      return genericError;
  }
}

std::string CZipException::GetErrorDescription() const { return Describe(m_iCause, false); }

bool CZipException::GetErrorMessage(char* buffer, size_t capacity) const {
  if (buffer == nullptr || capacity == 0) return false;
  std::string text = GetErrorDescription();
  if (text.empty()) return false;
  size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return true;
}

const char* CZipException::what() const noexcept {
  try {
    m_what = GetErrorDescription();
    return m_what.c_str();
  } catch (...) {
    return "CZipException";
  }
}
