// The TAR walk over arbitrary bytes in memory. The first byte picks how many
// bytes one source read delivers and the size of the work buffer; the rest
// is the archive. Invariants: nothing is written outside the output folder,
// and the files written hold no more bytes than the archive has.
#include <dirent.h>
#include <sys/stat.h>

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

uint64_t BytesBelow(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return 0;
  if (!S_ISDIR(st.st_mode)) return static_cast<uint64_t>(st.st_size);
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
