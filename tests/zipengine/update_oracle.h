// The reference for what an update through OpenForUpdate writes, built the
// plainest way there is: the archive's bytes in one string, a removal erasing
// an entry's bytes up to the next entry, an addition appending a local header
// and zlib's deflate output, and closing appending the directory. Slow, and
// independent of the engine's pieces, spool and copies. The answers follow
// the engine's contract (CZipArchive::RemoveFile, OpenNewFile): -1 for done,
// 0 for refused, else the exception's code.
#ifndef TESTS_ZIPENGINE_UPDATE_ORACLE_H
#define TESTS_ZIPENGINE_UPDATE_ORACLE_H

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "ZipArchive.h"
#include "ZipBytes.h"
#include "ZipFormat.h"

namespace ziporacle {

class UpdateOracle {
 public:
  static constexpr int kDone = -1;

  // `bytes` is the archive `zip` was just opened from, before any change.
  UpdateOracle(const std::string& bytes, CZipArchive& zip) : original_(bytes) {
    using namespace ZipFormat;
    const size_t window = std::min<size_t>(bytes.size(), kMaxField + kEndSize);
    const size_t end = bytes.rfind(std::string("PK\5\6", 4));
    if (end == std::string::npos || end < bytes.size() - window) return;
    const auto* r = reinterpret_cast<const unsigned char*>(bytes.data() + end);
    const uint64_t offset = ZipBytes::Get32(r + kEndDirOffset),
                   size = ZipBytes::Get32(r + kEndDirSize);
    stub_ = ZipBytes::Get16(r + kEndThisVolume) == 0 ? end - offset - size : 0;
    data_ = bytes.substr(0, static_cast<size_t>(stub_ + offset));
    comment_ = bytes.substr(end + kEndSize, ZipBytes::Get16(r + kEndCommentSize));
    for (uint16_t i = 0; i < zip.GetCount(); ++i) headers_.push_back(*zip.GetFileInfo(i));
    const CZipFileHeader* first = zip.GetFileInfo(0);
    system_ = first != nullptr && CZipFileHeader::IsSystemSupported(first->GetSystemCompatibility())
                  ? static_cast<uint8_t>(first->GetSystemCompatibility())
                  : ZipFormat::kHostUnix;
  }

  int Remove(uint16_t index) {
    if (index >= headers_.size()) return 0;
    if (headers_.size() == 1) {
      data_.resize(static_cast<size_t>(stub_));
      headers_.clear();
      changed_ = true;
      return kDone;
    }
    if (!LayoutSound()) return CZipException::badZipFile;
    changed_ = true;
    const uint64_t from = headers_[index].m_uOffset, to = Next(index);
    data_.erase(static_cast<size_t>(stub_ + from), static_cast<size_t>(to - from));
    headers_.erase(headers_.begin() + index);
    for (size_t i = index; i < headers_.size(); ++i)
      headers_[i].m_uOffset -= static_cast<uint32_t>(to - from);
    return kDone;
  }

  // The DOS date (high half) and time (low half) of a moment.
  static uint32_t StampOf(time_t clock) {
    CZipFileHeader h;
    h.SetTime(clock);
    return uint32_t{h.m_uModDate} << 16 | h.m_uModTime;
  }

  // The host system new entries are marked with.
  uint8_t System() const { return system_; }

  // A new entry as AddNewFile makes it of `name`, `bytes` and `level`, with
  // the DOS date and time `stamp` and the external `attributes`.
  int Add(std::string name, const std::string& bytes, int level, uint32_t stamp,
          uint32_t attributes) {
    using namespace ZipFormat;
    if (headers_.size() >= CZipCentralDir::kMaxEntries) return 0;
    if (!changed_ && !LayoutSound()) return CZipException::badZipFile;
    changed_ = true;
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty()) name = "file" + std::to_string(headers_.size());
    if (level < -1 || level > 9) level = -1;
    if (bytes.size() < 5) level = 0;
    CZipFileHeader h;
    h.SetFileName(name.c_str());
    h.m_uModDate = static_cast<uint16_t>(stamp >> 16);
    h.m_uModTime = static_cast<uint16_t>(stamp);
    h.m_uExternalAttr = attributes;
    h.m_uVersionMadeBy = static_cast<uint16_t>(system_ << 8 | 20);
    h.m_uVersionNeeded = 20;
    h.m_uMethod = level == 0 ? kMethodStore : kMethodDeflate;
    h.m_uFlag = level == 1 ? 6 : level == 2 ? 4 : level >= 8 ? 2 : 0;
    h.m_uCrc32 = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    const std::string packed = level == 0 ? bytes : Deflate(bytes, level);
    h.m_uComprSize = static_cast<uint32_t>(packed.size());
    h.m_uUncomprSize = static_cast<uint32_t>(bytes.size());
    h.m_uOffset = static_cast<uint32_t>(data_.size() - stub_);
    unsigned char local[kLocalSize];
    ZipBytes::Put32(local, kLocalSignature);
    ZipBytes::Put16(local + kLocalVersionNeeded, h.m_uVersionNeeded);
    ZipBytes::Put16(local + kLocalFlag, h.m_uFlag);
    ZipBytes::Put16(local + kLocalMethod, h.m_uMethod);
    ZipBytes::Put16(local + kLocalTime, h.m_uModTime);
    ZipBytes::Put16(local + kLocalDate, h.m_uModDate);
    ZipBytes::Put32(local + kLocalCrc, h.m_uCrc32);
    ZipBytes::Put32(local + kLocalCompr, h.m_uComprSize);
    ZipBytes::Put32(local + kLocalUncompr, h.m_uUncomprSize);
    ZipBytes::Put16(local + kLocalNameSize, static_cast<uint16_t>(name.size()));
    ZipBytes::Put16(local + kLocalExtraSize, 0);
    data_.append(reinterpret_cast<const char*>(local), kLocalSize);
    data_ += name + packed;
    headers_.push_back(h);
    return kDone;
  }

  // What Close(closeWrite) writes.
  std::string Result() {
    if (!changed_) return original_;
    CZipMemFile mem(1024);
    CZipStorage storage;
    storage.Open(mem, false);
    uint64_t size = 0;
    for (const CZipFileHeader& h : headers_) size += h.WriteCentral(storage);
    storage.Close(false);
    std::string result = data_ + ReadAll(mem);
    unsigned char r[ZipFormat::kEndSize] = {};
    ZipBytes::Put32(r, ZipFormat::kEndSignature);
    ZipBytes::Put16(r + ZipFormat::kEndEntriesHere, static_cast<uint16_t>(headers_.size()));
    ZipBytes::Put16(r + ZipFormat::kEndEntriesTotal, static_cast<uint16_t>(headers_.size()));
    ZipBytes::Put32(r + ZipFormat::kEndDirSize, static_cast<uint32_t>(size));
    ZipBytes::Put32(r + ZipFormat::kEndDirOffset, static_cast<uint32_t>(data_.size() - stub_));
    ZipBytes::Put16(r + ZipFormat::kEndCommentSize, static_cast<uint16_t>(comment_.size()));
    return result + std::string(reinterpret_cast<const char*>(r), sizeof r) + comment_;
  }

 private:
  uint64_t Next(size_t index) const {
    return index + 1 < headers_.size() ? headers_[index + 1].m_uOffset : data_.size() - stub_;
  }

  // Every entry ends before the next one starts, the last before the data's end.
  bool LayoutSound() const {
    for (size_t i = 0; i < headers_.size(); ++i) {
      const CZipFileHeader& h = headers_[i];
      if (uint64_t{h.m_uOffset} + ZipFormat::kLocalSize + h.GetRawFileName().GetSize() +
              h.m_uComprSize >
          Next(i)) {
        return false;
      }
    }
    return true;
  }

  static std::string Deflate(const std::string& bytes, int level) {
    z_stream zs = {};
    deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(bytes.size())) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    zs.avail_in = static_cast<uInt>(bytes.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
  }

  static std::string ReadAll(CZipAbstractFile& file) {
    std::string bytes(static_cast<size_t>(file.GetLength()), '\0');
    file.SeekToBegin();
    bytes.resize(file.Read(bytes.data(), static_cast<uint32_t>(bytes.size())));
    return bytes;
  }

  std::string original_, data_, comment_;
  uint64_t stub_ = 0;
  std::vector<CZipFileHeader> headers_;
  uint8_t system_ = ZipFormat::kHostUnix;
  bool changed_ = false;
};

}  // namespace ziporacle

#endif
