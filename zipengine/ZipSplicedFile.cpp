#include "ZipSplicedFile.h"

#include <algorithm>
#include <cerrno>

#include "ZipException.h"
#include "ZipFile.h"

namespace {

// Used only where the system cannot copy between the files itself.
const uint32_t kCopyBufferSize = 1024 * 1024;
// The device writes what was copied while the copying goes on, in steps
// large enough not to get in its way; the final flush then waits less.
const uint64_t kFlushStep = uint64_t{8} * 1024 * 1024;

// How much of the copy the system did in the kernel (sharing blocks where the
// file system can); 0 when the files are not both disk files.
uint64_t SystemCopy(CZipAbstractFile& from, uint64_t fromPos, CZipAbstractFile& to, uint64_t toPos,
                    uint64_t count) {
  CZipFile* in = dynamic_cast<CZipFile*>(&from);
  CZipFile* out = dynamic_cast<CZipFile*>(&to);
  if (in == nullptr || out == nullptr) return 0;
  // The kernel refuses overlapping ranges of one file.
  if (in == out && fromPos < toPos + count && toPos < fromPos + count) return 0;
  return out->CopyFrom(*in, fromPos, toPos, count);
}

}  // namespace

void CZipSplicedFile::Begin(CZipAbstractFile& source, CZipAbstractFile& output) {
  m_pSource = &source;
  m_pOutput = &output;
  m_name = source.GetFilePath();
  m_length = source.GetLength();
  m_pieces.clear();
  if (m_length > 0) m_pieces.push_back({0, m_length, false});
  m_position = 0;
  m_spoolEnd = 0;
}

void CZipSplicedFile::End() {
  m_pSource = m_pOutput = nullptr;
  m_name.clear();
  m_pieces.clear();
  m_length = m_position = 0;
}

void CZipSplicedFile::ThrowError(int code) const { CZipException::Throw(code, m_name.c_str()); }

size_t CZipSplicedFile::Locate(uint64_t position, uint64_t& into) const {
  uint64_t start = 0;
  for (size_t i = 0; i < m_pieces.size(); i++) {
    if (position < start + m_pieces[i].length) {
      into = position - start;
      return i;
    }
    start += m_pieces[i].length;
  }
  ThrowError(CZipException::internalError);
}

uint64_t CZipSplicedFile::Seek(int64_t offset, int origin) {
  int64_t base = origin == current ? static_cast<int64_t>(m_position)
                 : origin == end   ? static_cast<int64_t>(m_length)
                                   : 0;
  if (offset < 0 && base + offset < 0) ThrowError(EINVAL);
  m_position = static_cast<uint64_t>(base + offset);
  return m_position;
}

void CZipSplicedFile::SetLength(uint64_t length) {
  if (length > m_length) ThrowError(CZipException::internalError);
  Cut(length, m_length);
}

void CZipSplicedFile::Cut(uint64_t from, uint64_t to) {
  if (to > m_length) to = m_length;
  if (from >= to) return;
  std::vector<Piece> kept;
  uint64_t start = 0;
  for (const Piece& p : m_pieces) {
    uint64_t end = start + p.length;
    if (start < from) kept.push_back({p.at, std::min(end, from) - start, p.spooled});
    if (end > to) {
      uint64_t skip = to > start ? to - start : 0;
      kept.push_back({p.at + skip, end - start - skip, p.spooled});
    }
    start = end;
  }
  m_pieces.swap(kept);
  m_length -= to - from;
  // Space behind the last spooled piece is free again.
  m_spoolEnd = 0;
  for (const Piece& p : m_pieces) {
    if (p.spooled && p.at + p.length > m_spoolEnd) m_spoolEnd = p.at + p.length;
  }
}

uint32_t CZipSplicedFile::Read(void* buffer, uint32_t count) {
  char* out = static_cast<char*>(buffer);
  uint32_t done = 0;
  while (done < count && m_position < m_length) {
    uint64_t into;
    const Piece& p = m_pieces[Locate(m_position, into)];
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count - done, p.length - into));
    CZipAbstractFile& file = Backing(p);
    file.Seek(static_cast<int64_t>(p.at + into), begin);
    uint32_t got = file.Read(out + done, n);
    done += got;
    m_position += got;
    if (got < n) break;  // the backing file is shorter than when we looked
  }
  return done;
}

void CZipSplicedFile::Write(const void* buffer, uint32_t count) {
  const char* in = static_cast<const char*>(buffer);
  if (m_position > m_length) ThrowError(CZipException::internalError);
  while (count > 0 && m_position < m_length) {
    uint64_t into;
    const Piece& p = m_pieces[Locate(m_position, into)];
    // Only a new entry's own header is ever patched.
    if (!p.spooled) ThrowError(CZipException::internalError);
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, p.length - into));
    m_pOutput->Seek(static_cast<int64_t>(p.at + into), begin);
    m_pOutput->Write(in, n);
    in += n;
    count -= n;
    m_position += n;
  }
  if (count > 0) Append(in, count);
}

void CZipSplicedFile::Append(const char* data, uint32_t count) {
  m_pOutput->Seek(static_cast<int64_t>(m_spoolEnd), begin);
  m_pOutput->Write(data, count);
  Piece* last = m_pieces.empty() ? nullptr : &m_pieces.back();
  if (last != nullptr && last->spooled && last->at + last->length == m_spoolEnd) {
    last->length += count;
  } else {
    m_pieces.push_back({m_spoolEnd, count, true});
  }
  m_spoolEnd += count;
  m_length += count;
  m_position += count;
}

void CZipSplicedFile::WriteOut() {
  CZipAutoBuffer buffer;
  std::vector<uint64_t> place;  // of each piece in the result
  uint64_t length = 0;
  for (const Piece& p : m_pieces) {
    place.push_back(length);
    length += p.length;
  }
  // The spool lies where source bytes will go, so it moves first. Pieces
  // keep their order: moving those that go down from the first and those
  // that go up from the last never overwrites a piece still to be moved.
  for (size_t i = 0; i < m_pieces.size(); i++) {
    const Piece& p = m_pieces[i];
    if (p.spooled && place[i] < p.at) CopyToOutput(*m_pOutput, p.at, place[i], p.length, buffer);
  }
  for (size_t i = m_pieces.size(); i-- > 0;) {
    const Piece& p = m_pieces[i];
    if (p.spooled && place[i] > p.at) CopyToOutput(*m_pOutput, p.at, place[i], p.length, buffer);
  }
  CZipFile* disk = dynamic_cast<CZipFile*>(m_pOutput);
  uint64_t flushed = 0;
  for (size_t i = 0; i < m_pieces.size(); i++) {
    const Piece& p = m_pieces[i];
    if (p.spooled) continue;
    CopyToOutput(*m_pSource, p.at, place[i], p.length, buffer);
    uint64_t end = place[i] + p.length;
    if (disk != nullptr && end - flushed >= kFlushStep) {
      disk->StartFlush(flushed, end - flushed);
      flushed = end;
    }
  }
  m_pOutput->SetLength(length);
  m_pieces.clear();
  if (length > 0) m_pieces.push_back({0, length, true});
  m_spoolEnd = length;
}

void CZipSplicedFile::CopyToOutput(CZipAbstractFile& from, uint64_t fromPos, uint64_t toPos,
                                   uint64_t count, CZipAutoBuffer& buffer) {
  uint64_t low = SystemCopy(from, fromPos, *m_pOutput, toPos, count), high = count;
  if (low < high && buffer.GetSize() == 0) buffer.Allocate(kCopyBufferSize);
  // Moving up inside the output starts from the end, so that nothing is
  // read after it was overwritten.
  bool backwards = &from == m_pOutput && toPos > fromPos;
  while (low < high) {
    uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(high - low, buffer.GetSize()));
    uint64_t offset = backwards ? high - n : low;
    from.Seek(static_cast<int64_t>(fromPos + offset), begin);
    // A shorter file lost bytes since it was opened.
    if (from.Read(buffer.GetBuffer(), n) != n) ThrowError(CZipException::internalError);
    m_pOutput->Seek(static_cast<int64_t>(toPos + offset), begin);
    m_pOutput->Write(buffer.GetBuffer(), n);
    if (backwards) {
      high -= n;
    } else {
      low += n;
    }
  }
}
