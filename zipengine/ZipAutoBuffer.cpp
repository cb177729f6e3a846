#include "ZipAutoBuffer.h"

#include <cstring>
#include <new>

#include "ZipException.h"

CZipAutoBuffer::CZipAutoBuffer(const CZipAutoBuffer& other) { Assign(other.m_data, other.m_size); }

CZipAutoBuffer& CZipAutoBuffer::operator=(const CZipAutoBuffer& other) {
  if (this != &other) Assign(other.m_data, other.m_size);
  return *this;
}

char* CZipAutoBuffer::Allocate(uint32_t size, bool keep) {
  if (size == 0) {
    Release();
    return nullptr;
  }
  if (size == m_size && keep) return m_data;
  char* fresh = new (std::nothrow) char[size];
  if (fresh == nullptr) CZipException::Throw(CZipException::memError);
  uint32_t kept = 0;
  if (keep && m_data != nullptr) {
    kept = size < m_size ? size : m_size;
    memcpy(fresh, m_data, kept);
  }
  Release();
  m_data = fresh;
  m_size = size;
  return m_data;
}

void CZipAutoBuffer::Release() {
  delete[] m_data;
  m_data = nullptr;
  m_size = 0;
}

void CZipAutoBuffer::Assign(const void* data, uint32_t count) {
  if (count == 0 || data == nullptr) {
    Release();
    return;
  }
  CZipAutoBuffer copy;
  copy.Allocate(count);
  memcpy(copy.m_data, data, count);
  Release();
  m_data = copy.m_data;
  m_size = copy.m_size;
  copy.m_data = nullptr;
  copy.m_size = 0;
}
