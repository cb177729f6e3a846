// The ZIP records as they stand on disk: signatures, fixed sizes, field
// offsets, and the values of the fields this engine writes or tests.
// Everything that reads or writes a record (the engine, the platform files,
// the tests) takes them from here.
#ifndef ZIPENGINE_ZIPFORMAT_H
#define ZIPENGINE_ZIPFORMAT_H

#include <cstdint>

namespace ZipFormat {

// Record signatures ("PK" and two record bytes, little-endian).
const uint32_t kLocalSignature = 0x04034b50;
const uint32_t kCentralSignature = 0x02014b50;
const uint32_t kEndSignature = 0x06054b50;
const uint32_t kZip64LocatorSignature = 0x07064b50;

// Fixed sizes of the records, before their variable fields.
const uint32_t kLocalSize = 30;
const uint32_t kCentralSize = 46;
const uint32_t kEndSize = 22;
const uint32_t kZip64LocatorSize = 20;

// The longest name, extra field or comment a 16-bit length can state.
const uint32_t kMaxField = 0xFFFF;

// Field offsets in the local header.
enum : uint32_t {
  kLocalVersionNeeded = 4,
  kLocalFlag = 6,
  kLocalMethod = 8,
  kLocalTime = 10,
  kLocalDate = 12,
  kLocalCrc = 14,
  kLocalCompr = 18,
  kLocalUncompr = 22,
  kLocalNameSize = 26,
  kLocalExtraSize = 28
};

// Field offsets in the central directory record.
enum : uint32_t {
  kCentralVersionMadeBy = 4,
  kCentralVersionNeeded = 6,
  kCentralFlag = 8,
  kCentralMethod = 10,
  kCentralTime = 12,
  kCentralDate = 14,
  kCentralCrc = 16,
  kCentralCompr = 20,
  kCentralUncompr = 24,
  kCentralNameSize = 28,
  kCentralExtraSize = 30,
  kCentralCommentSize = 32,
  kCentralVolumeStart = 34,
  kCentralInternalAttr = 36,
  kCentralExternalAttr = 38,
  kCentralOffset = 42
};

// Field offsets in the end of central directory record.
enum : uint32_t {
  kEndThisVolume = 4,
  kEndDirVolume = 6,
  kEndEntriesHere = 8,
  kEndEntriesTotal = 10,
  kEndDirSize = 12,
  kEndDirOffset = 16,
  kEndCommentSize = 20
};

// General-purpose flag bits.
const uint16_t kFlagEncrypted = 1;
const uint16_t kFlagDataDescriptor = 8;

// Compression methods.
const uint16_t kMethodStore = 0;
const uint16_t kMethodDeflate = 8;
const uint16_t kMethodAes = 99;

// Host systems (the high byte of "version made by").
const uint8_t kHostDos = 0;
const uint8_t kHostUnix = 3;

// External attributes: a Unix host keeps the mode in the high 16 bits, the
// DOS attribute bits stay in the low ones.
const uint32_t kUnixModeShift = 16;
const uint32_t kUnixTypeMask = 0170000;
const uint32_t kUnixDirectoryType = 0040000;
const uint32_t kUnixRegularFileMode = 0100644;
const uint32_t kUnixDirectoryMode = 040755;
const uint32_t kDosDirectory = 0x10;
const uint32_t kDosArchive = 0x20;

}  // namespace ZipFormat

#endif
