#include "archive/zip/zip_segments.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/charset.h"
#include "core/output.h"

namespace zip {
namespace {

// The joined stream's state: the segments in order, and the position.
struct Joined {
  std::vector<FILE*> files;  // null for a missing segment
  std::vector<uint64_t> starts;
  uint64_t size = 0;
  uint64_t position = 0;

  ~Joined() {
    for (FILE* f : files)
      if (f != nullptr) fclose(f);
  }
};

ssize_t ReadJoined(void* cookie, char* buffer, size_t count) {
  Joined& j = *static_cast<Joined*>(cookie);
  size_t done = 0;
  while (done < count && j.position < j.size) {
    size_t i = j.files.size();
    while (i-- > 0 && j.starts[i] > j.position) {
    }
    const uint64_t end = i + 1 < j.files.size() ? j.starts[i + 1] : j.size;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(count - done, end - j.position));
    if (want == 0 || j.files[i] == nullptr ||
        fseeko(j.files[i], static_cast<off_t>(j.position - j.starts[i]), SEEK_SET) != 0)
      break;
    const size_t n = fread(buffer + done, 1, want, j.files[i]);
    done += n;
    j.position += n;
    if (n < want) break;
  }
  return static_cast<ssize_t>(done);
}

int SeekJoined(void* cookie, off64_t* offset, int whence) {
  Joined& j = *static_cast<Joined*>(cookie);
  const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(j.position)
                                                                   : static_cast<int64_t>(j.size);
  const int64_t to = base + *offset;
  if (to < 0) return -1;
  j.position = static_cast<uint64_t>(to);
  *offset = to;
  return 0;
}

int CloseJoined(void* cookie) {
  delete static_cast<Joined*>(cookie);
  return 0;
}

}  // namespace

FILE* OpenZipSegments(const char* path, uint32_t count, std::vector<uint64_t>* starts,
                      std::vector<std::string>* missing) {
  auto* joined = new (std::nothrow) Joined;
  if (joined == nullptr || count == 0) {
    delete joined;
    return nullptr;
  }
  // "a.zip" gives "a.z01" ... ; "A.ZIP" gives "A.Z01"; "a" gives "a.z01".
  const PathSplit split = SplitPath(path);
  const size_t stem = split.lastDot >= 0 ? static_cast<size_t>(split.lastDot) : strlen(path);
  const bool upper = split.lastDot >= 0 && path[stem + 1] == 'Z';
  for (uint32_t disk = 0; disk < count; ++disk) {
    char name[kPathBufferSize];
    if (disk + 1 == count) {
      snprintf(name, sizeof name, "%s", path);
    } else if (stem + 5 < sizeof name) {
      memcpy(name, path, stem);
      snprintf(name + stem, sizeof name - stem, upper ? ".Z%02u" : ".z%02u", disk + 1);
    } else {
      name[0] = '\0';
    }
    FILE* file = name[0] != '\0' ? OpenFileStream(name, "rb") : nullptr;
    uint64_t size = 0;
    if (file != nullptr && fseeko(file, 0, SEEK_END) == 0) size = static_cast<uint64_t>(ftello(file));
    if (file == nullptr) missing->push_back(name[0] != '\0' ? BaseNameOf(name) : path);
    joined->files.push_back(file);
    joined->starts.push_back(joined->size);
    joined->size += size;
  }
  *starts = joined->starts;
  cookie_io_functions_t io{ReadJoined, nullptr, SeekJoined, CloseJoined};
  FILE* stream = fopencookie(joined, "rb", io);
  if (stream == nullptr) delete joined;
  return stream;
}

}  // namespace zip
