#include "archive/tar/tar_handlers.h"

#include <cstring>
#include <string>

#include "archive/tar/tar_reader.h"
#include "core/charset.h"
#include "core/output.h"

bool TarArchiveHandler::MagicChecked::Open(const char* path) {
  Close();
  FILE* file = OpenFileStream(path, "rb");
  if (file == nullptr) return false;
  uint8_t head[10];
  const bool whole = fread(head, 1, sizeof head, file) == sizeof head;
  fclose(file);
  if (!whole || head[0] != first_ || memchr(seconds_, head[1], secondCount_) == nullptr) return false;
  return inner_.Open(path);
}

namespace {

// The file's name says TAR: ".tar", ".tar.<anything>" or a short form
// (tgz, tbz, tbz2, taZ, txz, tzst, tlz, tlz4), letter case aside.
bool NamedTar(const char* path) {
  static const char* const kShort[] = {"tar", "tgz", "tbz", "tbz2", "taz", "txz", "tzst", "tlz", "tlz4"};
  const char* extension = ExtensionOf(path);
  for (const char* name : kShort) {
    if (EqualsNoCase(extension, name) == 0) return true;
  }
  const size_t stem = static_cast<size_t>(extension - path);
  return stem >= 5 && *extension != '\0' && EqualsNoCase(std::string(path + stem - 5, 4).c_str(), ".tar") == 0;
}

}  // namespace

bool TarArchiveHandler::Probe(const char* path, int32_t fileSize) {
  return tar::TarProbe(source_, path, NamedTar(path));
}

bool TarArchiveHandler::Extract(const char* path, const char* outputFolder) {
  return tar::TarExtract(source_, path, outputFolder, g_ReadAheadBuffer, kReadAheadSize);
}

bool TarHandler::MatchesExtension(const char* extension) { return EqualsNoCase(extension, "tar") == 0; }

bool TarGzipHandler::MatchesExtension(const char* extension) {
  return EqualsNoCase(extension, "gz") == 0 || EqualsNoCase(extension, "tgz") == 0;
}

bool TarBzip2Handler::MatchesExtension(const char* extension) {
  return EqualsNoCase(extension, "bz2") == 0 || EqualsNoCase(extension, "tbz") == 0;
}

bool TarCompressHandler::MatchesExtension(const char* extension) {
  return strcmp(extension, "Z") == 0 || strcmp(extension, "taZ") == 0;
}

bool TarLibraryHandler::MatchesExtension(const char* extension) {
  const LibraryFormatInfo& format = InfoOf(format_);
  return EqualsNoCase(extension, format.extension) == 0 || EqualsNoCase(extension, format.tarExtension) == 0;
}
