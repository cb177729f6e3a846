// An owned byte buffer: every buffer of the engine (I/O, move, write, names,
// extra fields, comments) is one, so none can leak on an exception path.
// Allocation failure throws memError instead of ending the program.
#ifndef ZIPENGINE_ZIPAUTOBUFFER_H
#define ZIPENGINE_ZIPAUTOBUFFER_H

#include <cstdint>

class CZipAutoBuffer {
 public:
  CZipAutoBuffer() = default;
  explicit CZipAutoBuffer(uint32_t size) { Allocate(size); }
  CZipAutoBuffer(const CZipAutoBuffer& other);
  CZipAutoBuffer& operator=(const CZipAutoBuffer& other);
  ~CZipAutoBuffer() { Release(); }

  // Makes the buffer exactly `size` bytes; contents are kept up to the
  // smaller size when `keep` is set and are undefined otherwise (every user
  // fills what it reads). Size 0 releases.
  char* Allocate(uint32_t size, bool keep = false);
  void Release();
  // Replaces the contents with a copy of `count` bytes.
  void Assign(const void* data, uint32_t count);

  uint32_t GetSize() const { return m_size; }
  bool IsAllocated() const { return m_data != nullptr; }
  char* GetBuffer() const { return m_data; }
  operator char*() const { return m_data; }

 private:
  char* m_data = nullptr;
  uint32_t m_size = 0;
};

#endif
