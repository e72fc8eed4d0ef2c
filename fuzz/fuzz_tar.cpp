// The TAR walk over arbitrary bytes in memory. The first byte picks how many
// bytes one source read delivers and the size of the work buffer; the rest
// is the archive. Invariants: nothing is written outside the output folder,
// and the files written hold no more bytes than the archive has (zeros
// aside: a sparse file's holes are no bytes of the archive).
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "stream/byte_source.h"
#include "archive/tar/tar_reader.h"
#include "harness.h"

using namespace tar;

namespace {

// The bytes the archive's data became: those in the files' data regions
// that are not zero (a sparse file's holes, and the zeros a file system
// keeps around them, count nothing).
uint64_t DataBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return 0;
  uint64_t count = 0;
  uint8_t buffer[4096];
  for (off_t at = 0;;) {
    const off_t start = lseek(fd, at, SEEK_DATA);
    if (start < 0) break;
    const off_t end = lseek(fd, start, SEEK_HOLE);
    if (end <= start) break;
    for (off_t p = start; p < end;) {
      const ssize_t n = pread(fd, buffer, static_cast<size_t>(std::min<off_t>(end - p, sizeof buffer)), p);
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) count += buffer[i] != 0;
      p += n;
    }
    at = end;
  }
  close(fd);
  return count;
}

uint64_t BytesBelow(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return 0;
  if (S_ISREG(st.st_mode)) return DataBytes(path);
  if (!S_ISDIR(st.st_mode)) return 0;
  uint64_t total = 0;
  if (DIR* d = opendir(path.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
      total += BytesBelow(path + "/" + e->d_name);
    }
    closedir(d);
  }
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitProgram();
  if (size == 0) return 0;
  const int32_t pieces[] = {0, 1, 100, 512, 513, 4096};
  const int32_t piece = pieces[data[0] % 6];
  const size_t workSize = 512 * (1 + (data[0] >> 4));
  std::vector<uint8_t> work(workSize);
  const std::string out = fuzz::ScratchFolder() + "/out";
  mkdir(out.c_str(), 0700);

  MemoryByteSource source(data + 1, size - 1, piece);
  TarProbe(source, "");
  if (source.isOpen()) abort();
  if (!TarExtract(source, "", fuzz::ProgramForm(out).c_str(), work.data(), work.size())) abort();
  if (source.isOpen()) abort();
  if (BytesBelow(out) > size - 1) abort();
  fuzz::CheckAndClean();
  return 0;
}
