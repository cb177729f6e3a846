// Reading entries: opening one for extraction, reading its data, and the
// two whole-entry operations built on that, ExtractFile and TestFile.
#include "ZipArchive.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "ZipCompressor.h"
#include "ZipPlatform.h"

namespace {

// More does not read faster; a caller's huge size must not allocate it.
const uint32_t kMaxReadBuffer = 16u * 1024 * 1024;
const uint32_t kEncryptionHeaderSize = 12;

}  // namespace

bool CZipArchive::OpenFile(uint16_t index) {
  CZipFileHeader* header = GetFileInfo(index);
  if (header == nullptr || m_iFileOpened != openedNothing) return false;
  if (!CZipCompressor::IsCompressionSupported(header->m_uMethod)) return false;
  if (!header->CheckLocal(m_storage, m_centralDir.m_uIgnoredChecks)) {
    ThrowError(CZipException::badZipFile);
  }
  // No password can be set, so an encrypted entry cannot be read.
  if (header->IsEncrypted()) ThrowError(CZipException::badPassword);
  Compressor().InitDecompression(header);
  m_centralDir.m_pOpenedFile = header;
  m_iFileOpened = openedExtract;
  return true;
}

uint32_t CZipArchive::ReadFile(void* buffer, uint32_t count) {
  if (m_iFileOpened != openedExtract || buffer == nullptr || count == 0) return 0;
  return m_pCompressor->Decompress(buffer, count);
}

void CZipArchive::ReleaseReading() {
  if (m_pCompressor) m_pCompressor->FinishDecompression(true);
  m_centralDir.m_pOpenedFile = nullptr;
  m_iFileOpened = openedNothing;
}

int CZipArchive::CloseFile(bool afterException) {
  if (m_iFileOpened != openedExtract) return 0;
  if (afterException) {
    ReleaseReading();
    return 1;
  }
  const CZipFileHeader& header = *m_centralDir.m_pOpenedFile;
  int result = 1;
  bool crcMismatch = false;
  if (m_pCompressor->m_uUncomprLeft > 0) {
    result = -1;
  } else if (!(m_centralDir.m_uIgnoredChecks & CZipFileHeader::checkCRC)) {
    crcMismatch = m_pCompressor->m_uCrc32 != header.m_uCrc32;
  }
  ReleaseReading();
  if (crcMismatch) ThrowError(CZipException::badCrc);
  return result;
}

bool CZipArchive::ExtractFile(uint16_t index, CZipAbstractFile& target, bool rewind,
                              uint32_t bufferSize) {
  if (bufferSize == 0) return false;
  const CZipFileHeader* header = GetFileInfo(index);
  if (header == nullptr || header->IsDirectory()) return false;
  if (!OpenFile(index)) return false;
  bool ok;
  uint64_t start = 0;
  try {
    CZipAutoBuffer buffer(std::min(bufferSize, kMaxReadBuffer));
    if (rewind) start = target.GetPosition();
    uint32_t n;
    while ((n = ReadFile(buffer.GetBuffer(), buffer.GetSize())) > 0)
      target.Write(buffer.GetBuffer(), n);
    ok = CloseFile() == 1;
  } catch (...) {
    CloseFile(true);
    throw;
  }
  if (rewind) target.Seek(static_cast<int64_t>(start), CZipAbstractFile::begin);
  return ok;
}

const uint32_t CZipArchive::kMaxPresize;

bool CZipArchive::ExtractToMemory(uint16_t index, CZipMemFile& target) {
  const CZipFileHeader* header = GetFileInfo(index);
  if (header == nullptr) return false;
  if (header->m_uUncomprSize <= kMaxPresize) target.SetLength(header->m_uUncomprSize);
  target.SeekToBegin();
  return ExtractFile(index, target);
}

namespace {

bool IsDirectoryWithoutData(const CZipFileHeader& header) {
  if (header.m_uComprSize == 0 && header.m_uUncomprSize == 0) return true;
  return header.IsEncrypted() && header.m_uComprSize == kEncryptionHeaderSize &&
         header.m_uUncomprSize == 0;
}

void PrepareBuffer(CZipAutoBuffer& buffer, uint32_t bufferSize) {
  uint32_t size = std::min(bufferSize, kMaxReadBuffer);
  if (buffer.GetSize() != size) buffer.Allocate(size);
}

// TestFile's work on one entry once the archive's state allows it, through
// the given storage and compressor, so that threads with their own can share
// it: a directory is answered from its header, any other entry is read whole
// after the local header check and its CRC compared.
bool TestEntry(CZipFileHeader& header, CZipStorage& storage, CZipCompressor& compressor,
               CZipAutoBuffer& buffer, uint32_t ignoredChecks) {
  if (header.IsDirectory()) {
    if (IsDirectoryWithoutData(header)) return true;
    storage.ThrowError(CZipException::dirWithSize);
  }
  if (!CZipCompressor::IsCompressionSupported(header.m_uMethod)) return false;
  if (!header.CheckLocal(storage, ignoredChecks)) storage.ThrowError(CZipException::badZipFile);
  // No password can be set, so an encrypted entry cannot be read.
  if (header.IsEncrypted()) storage.ThrowError(CZipException::badPassword);
  compressor.InitDecompression(&header);
  try {
    while (compressor.Decompress(buffer.GetBuffer(), buffer.GetSize()) > 0) {
    }
  } catch (...) {
    compressor.FinishDecompression(true);
    throw;
  }
  compressor.FinishDecompression(true);
  // The data ended before the size the header promised.
  if (compressor.m_uUncomprLeft > 0) CZipException::Throw(CZipException::badZipFile);
  if (!(ignoredChecks & CZipFileHeader::checkCRC) && compressor.m_uCrc32 != header.m_uCrc32) {
    storage.ThrowError(CZipException::badCrc);
  }
  return true;
}

}  // namespace

bool CZipArchive::TestFile(uint16_t index, uint32_t bufferSize) {
  if (IsClosed() || bufferSize == 0) return false;
  CZipFileHeader* header = GetFileInfo(index);
  if (header == nullptr) return false;
  // With an entry open, only a directory (which reads nothing) is answered.
  if (m_iFileOpened != openedNothing && !header->IsDirectory()) return false;
  PrepareBuffer(m_testBuffer, bufferSize);
  return TestEntry(*header, m_storage, Compressor(), m_testBuffer, m_centralDir.m_uIgnoredChecks);
}

// ---- testing every entry -------------------------------------------------

namespace {

const unsigned kMaxTestThreads = 4;
// A thread takes neighbouring entries of about this much data at a time and
// reads no further ahead than their end.
const uint64_t kTestChunkBytes = uint64_t{256} * 1024;
const uint8_t kUntested = 0xFF;

struct TestFailure {
  uint16_t index;
  int systemError;  // errno as the test left it
  CZipException error;
};

}  // namespace

const uint64_t CZipArchive::kMinBytesPerTestThread;

unsigned CZipArchive::TestThreads(unsigned threads, uint64_t minBytesPerThread) {
  if (threads == 0) threads = std::min(ZipPlatform::GetProcessorCount(), kMaxTestThreads);
  if (threads <= 1 || IsClosed() || m_iFileOpened != openedNothing || !m_storage.ReadsAtOffsets()) {
    return 1;
  }
  uint64_t total = 0;
  for (uint16_t index = 0; index < GetCount(); ++index) total += GetFileInfo(index)->m_uComprSize;
  if (minBytesPerThread > 0)
    threads = static_cast<unsigned>(std::min<uint64_t>(threads, total / minBytesPerThread));
  return std::max(1u, std::min<unsigned>(threads, GetCount()));
}

bool CZipArchive::ReportTest(const TestReport& report, uint16_t index, uint32_t bufferSize) {
  TestOutcome outcome;
  try {
    outcome = TestFile(index, bufferSize) ? testPassed : testFailed;
  } catch (const CZipException& e) {
    return report(index, testThrew, &e);
  } catch (...) {
    return report(index, testThrewOther, nullptr);
  }
  return report(index, outcome, nullptr);
}

// What the threads of a parallel test share: the chunks of neighbouring
// entries they take in turn, each entry's outcome, and the exceptions.
struct CZipArchive::ParallelTest {
  std::vector<uint16_t> chunkStarts;               // and the count behind the last chunk
  std::vector<uint8_t> outcomes;                   // by index; kUntested where no thread got
  std::vector<std::vector<TestFailure>> failures;  // by worker
};

void CZipArchive::PlanTestChunks(ParallelTest& test, unsigned threads) {
  const uint16_t count = GetCount();
  uint64_t total = 0;
  for (uint16_t index = 0; index < count; ++index) total += GetFileInfo(index)->m_uComprSize;
  // Several chunks per thread, so that one large entry does not leave the
  // other threads idle at the end.
  const uint64_t chunkBytes =
      std::max<uint64_t>(1, std::min(kTestChunkBytes, total / (uint64_t{4} * threads)));
  uint64_t inChunk = chunkBytes;
  for (uint16_t index = 0; index < count; ++index) {
    if (inChunk >= chunkBytes) {
      test.chunkStarts.push_back(index);
      inChunk = 0;
    }
    inChunk += GetFileInfo(index)->m_uComprSize + 1;
  }
  test.chunkStarts.push_back(count);
  test.outcomes.assign(count, kUntested);
  test.failures.resize(threads);
}

void CZipArchive::RunTestWorkers(ParallelTest& test, uint32_t bufferSize, unsigned threads) {
  const uint16_t count = GetCount();
  const size_t chunks = test.chunkStarts.size() - 1;
  std::atomic<size_t> nextChunk(0);
  std::atomic<unsigned> nextWorker(0);
  CZipAbstractFile& file = m_storage.File();
  const uint64_t before = m_storage.m_uBytesBeforeZip;
  const uint64_t directory = before + m_centralDir.m_info.m_uOffset;
  const uint32_t ignored = m_centralDir.m_uIgnoredChecks;
  ZipPlatform::RunOnThreads(threads - 1, [&] {
    const unsigned worker = nextWorker++;
    // Whatever goes wrong here leaves entries untested, never wrongly
    // answered: the calling thread tests those afterwards.
    try {
      CZipStorage storage;
      storage.Open(file, true);
      storage.m_uBytesBeforeZip = before;
      std::unique_ptr<CZipCompressor> compressor =
          CZipCompressor::CreateCompressor(ZipFormat::kMethodDeflate, &storage);
      CZipAutoBuffer buffer;
      PrepareBuffer(buffer, bufferSize);
      for (size_t chunk; (chunk = nextChunk++) < chunks;) {
        const uint16_t end = test.chunkStarts[chunk + 1];
        storage.SetReadAheadEnd(end < count ? before + GetFileInfo(end)->m_uOffset : directory);
        for (uint16_t index = test.chunkStarts[chunk]; index < end; ++index) {
          try {
            bool passed = TestEntry(*GetFileInfo(index), storage, *compressor, buffer, ignored);
            test.outcomes[index] = passed ? testPassed : testFailed;
          } catch (const CZipException& e) {
            const int systemError = errno;
            test.failures[worker].push_back({index, systemError, e});
            test.outcomes[index] = testThrew;
          } catch (...) {
            // This thread's own trouble (memory, say): the caller tests it.
          }
        }
      }
      storage.Close(true);
    } catch (...) {
    }
  });
}

void CZipArchive::MergeTestReports(const ParallelTest& test, const TestReport& report,
                                   uint32_t bufferSize) {
  std::vector<TestFailure> thrown;
  for (const std::vector<TestFailure>& list : test.failures) {
    thrown.insert(thrown.end(), list.begin(), list.end());
  }
  std::sort(thrown.begin(), thrown.end(),
            [](const TestFailure& a, const TestFailure& b) { return a.index < b.index; });
  size_t next = 0;
  for (uint16_t index = 0; index < GetCount(); ++index) {
    bool go;
    switch (test.outcomes[index]) {
      case testThrew:
        while (thrown[next].index != index) next++;
        errno = thrown[next].systemError;
        go = report(index, testThrew, &thrown[next].error);
        break;
      case kUntested:
        go = ReportTest(report, index, bufferSize);
        break;
      default:
        go = report(index, static_cast<TestOutcome>(test.outcomes[index]), nullptr);
        break;
    }
    if (!go) return;
  }
}

void CZipArchive::TestFiles(const TestReport& report, uint32_t bufferSize, unsigned threads,
                            uint64_t minBytesPerThread) {
  threads = bufferSize == 0 ? 1 : TestThreads(threads, minBytesPerThread);
  if (threads <= 1) {
    for (uint16_t index = 0; index < GetCount(); ++index) {
      if (!ReportTest(report, index, bufferSize)) return;
    }
    return;
  }
  ParallelTest test;
  PlanTestChunks(test, threads);
  RunTestWorkers(test, bufferSize, threads);
  MergeTestReports(test, report, bufferSize);
}
