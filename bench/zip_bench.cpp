// Benchmark of the ZIP engine on one large archive (bench/run_bench.sh makes
// it and runs the other tools on the same file). Modes:
//   zip_bench test ARCHIVE [REPEATS]   open and test every entry (TestFiles,
//                                      as the program does)
//   zip_bench floor ARCHIVE [REPEATS]  bare zlib: read the file, walk the
//                                      directory, inflate + crc32 every entry
//   zip_bench pick ARCHIVE N           names of N entries spread through it
//   zip_bench replace ARCHIVE N OUT    extract, remove and add back those N
//                                      entries (as the program copies), Close;
//                                      into OUT through OpenForUpdate
// Prints "key value" lines; times are the best of REPEATS runs, in seconds.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ZipArchive.h"
#include "ZipFormat.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The program's integrity test: every entry, on as many threads as gain.
int Test(const char* path, int repeats) {
  double best = 1e9;
  uint64_t bytes = 0;
  for (int r = 0; r < repeats; ++r) {
    CZipArchive zip;
    Clock::time_point start = Clock::now();
    zip.Open(path);
    bool passed = true;
    zip.TestFiles([&](uint16_t index, CZipArchive::TestOutcome outcome, const CZipException*) {
      if (outcome != CZipArchive::testPassed) fprintf(stderr, "entry %u fails the test\n", index);
      passed = passed && outcome == CZipArchive::testPassed;
      return true;
    });
    if (!passed) return 1;
    bytes = 0;
    for (uint16_t i = 0; i < zip.GetCount(); ++i) bytes += zip.GetFileInfo(i)->m_uUncomprSize;
    zip.Close();
    best = std::min(best, Seconds(start));
  }
  printf("engine_test_s %.4f\nuncompressed_bytes %llu\n", best,
         static_cast<unsigned long long>(bytes));
  return 0;
}

// The whole file, mapped (the cheapest way to have all of it at hand).
struct WholeFile {
  const char* bytes;
  size_t size;
  char operator[](size_t at) const { return bytes[at]; }
  const char* data() const { return bytes; }
  ~WholeFile() { munmap(const_cast<char*>(bytes), size); }
};

std::unique_ptr<WholeFile> ReadWhole(const char* path) {
  int fd = open(path, O_RDONLY);
  struct stat st;
  void* map = fd < 0 || fstat(fd, &st) != 0 ? MAP_FAILED
                                            : mmap(nullptr, static_cast<size_t>(st.st_size),
                                                   PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
  if (map == MAP_FAILED) {
    fprintf(stderr, "cannot read %s\n", path);
    exit(1);
  }
  close(fd);
  // Filled in place: a temporary WholeFile would unmap the file as it goes.
  auto whole = std::make_unique<WholeFile>();
  whole->bytes = static_cast<const char*>(map);
  whole->size = static_cast<size_t>(st.st_size);
  return whole;
}

uint16_t Le16(const WholeFile& d, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(d[at]) |
                               static_cast<unsigned char>(d[at + 1]) << 8);
}

uint32_t Le32(const WholeFile& d, size_t at) {
  return Le16(d, at) | uint32_t{Le16(d, at + 2)} << 16;
}

// The least work any reader must do: read the file, walk the central
// directory, inflate and checksum every entry with one reused stream. For
// archives without bytes in front of them.
int Floor(const char* path, int repeats) {
  using namespace ZipFormat;
  std::vector<unsigned char> out(65536);
  z_stream zs;
  memset(&zs, 0, sizeof zs);
  inflateInit2(&zs, -MAX_WBITS);
  double best = 1e9;
  for (int r = 0; r < repeats; ++r) {
    Clock::time_point start = Clock::now();
    std::unique_ptr<WholeFile> whole = ReadWhole(path);
    const WholeFile& file = *whole;
    size_t end = file.size - kEndSize;
    while (end > 0 && Le32(file, end) != kEndSignature) --end;
    size_t record = Le32(file, end + kEndDirOffset);
    for (unsigned n = Le16(file, end + kEndEntriesTotal); n > 0; --n) {
      uint32_t offset = Le32(file, record + kCentralOffset);
      uint32_t comprSize = Le32(file, record + kCentralCompr);
      size_t data = offset + kLocalSize + Le16(file, offset + kLocalNameSize) +
                    Le16(file, offset + kLocalExtraSize);
      const Bytef* in = reinterpret_cast<const Bytef*>(file.data() + data);
      uLong crc = crc32(0, Z_NULL, 0);
      if (Le16(file, record + kCentralMethod) == 0) {
        crc = crc32(crc, in, comprSize);
      } else {
        inflateReset(&zs);
        zs.next_in = const_cast<Bytef*>(in);
        zs.avail_in = comprSize;
        int rc;
        do {
          zs.next_out = out.data();
          zs.avail_out = static_cast<uInt>(out.size());
          rc = inflate(&zs, Z_SYNC_FLUSH);
          crc = crc32(crc, out.data(), static_cast<uInt>(out.size() - zs.avail_out));
        } while (rc == Z_OK);
      }
      if (crc != Le32(file, record + kCentralCrc)) {
        fprintf(stderr, "crc mismatch at offset %u\n", offset);
        return 1;
      }
      record += kCentralSize + Le16(file, record + kCentralNameSize) +
                Le16(file, record + kCentralExtraSize) + Le16(file, record + kCentralCommentSize);
    }
    best = std::min(best, Seconds(start));
  }
  inflateEnd(&zs);
  printf("zlib_floor_s %.4f\n", best);
  return 0;
}

std::vector<std::string> Pick(const char* path, unsigned n) {
  CZipArchive zip;
  zip.Open(path);
  std::vector<std::string> names;
  unsigned count = zip.GetCount();
  for (unsigned k = 0; k < n && count > 0; ++k) {
    unsigned index = (2 * k + 1) * count / (2 * n);  // middles of n equal slices
    names.push_back(zip.GetFileInfo(static_cast<uint16_t>(index))->GetFileName());
  }
  zip.Close();
  return names;
}

// Replaces the entries as the program copies one over another: extract,
// remove, add. Into OUT through OpenForUpdate, as the program does.
int Replace(const char* path, unsigned n, const char* out) {
  std::vector<std::string> names = Pick(path, n);
  Clock::time_point start = Clock::now();
  CZipArchive zip;
  CZipFile source, output;
  source.Open(path, CZipFile::modeRead, true);
  output.Open(out, CZipFile::modeReadWrite | CZipFile::modeCreate, true);
  zip.OpenForUpdate(source, output);
  for (const std::string& name : names) {
    uint16_t index = zip.FindFile(name.c_str());
    CZipMemFile mem(1024);
    if (!zip.ExtractToMemory(index, mem) || !zip.RemoveFile(index, true) ||
        !zip.AddNewFile(mem, name.c_str(), -1, CZipArchive::zipsmSafeSmart, 65536)) {
      fprintf(stderr, "cannot replace %s\n", name.c_str());
      return 1;
    }
  }
  Clock::time_point closing = Clock::now();
  zip.Close();
  printf("engine_replace_s %.4f\nengine_close_s %.4f\n", Seconds(start), Seconds(closing));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: zip_bench test|floor|pick ARCHIVE [N] | replace ARCHIVE N OUT\n");
    return 2;
  }
  std::string mode = argv[1];
  const char* path = argv[2];
  int number = argc > 3 ? atoi(argv[3]) : 0;
  try {
    if (mode == "test") return Test(path, number > 0 ? number : 1);
    if (mode == "floor") return Floor(path, number > 0 ? number : 1);
    if (mode == "replace" && argc > 4) return Replace(path, number > 0 ? number : 28, argv[4]);
    if (mode == "pick") {
      for (const std::string& name : Pick(path, number > 0 ? number : 28))
        printf("%s\n", name.c_str());
      return 0;
    }
  } catch (const CZipException& e) {
    fprintf(stderr, "engine error %d: %s\n", e.m_iCause, e.GetErrorDescription().c_str());
    return 1;
  }
  fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
