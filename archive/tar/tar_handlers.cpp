#include "archive/tar/tar_handlers.h"

#include <cstring>

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

bool TarArchiveHandler::Probe(const char* path, int32_t fileSize) { return tar::TarProbe(source_, path); }

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
