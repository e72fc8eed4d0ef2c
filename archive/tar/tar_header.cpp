#include "archive/tar/tar_header.h"

#include <cstring>

namespace tar {

uint64_t ParseTarOctal(const uint8_t* field, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    const uint8_t c = field[i];
    if (c == ' ') continue;
    if (c < '0' || c > '7') break;
    value = value * 8 + (c - '0');
  }
  return value;
}

bool ParseTarNumber(const uint8_t* field, size_t width, uint64_t* value) {
  if (width == 0 || (field[0] & 0x80) == 0) {
    *value = ParseTarOctal(field, width);
    return true;
  }
  // Base-256: bit 6 of the first byte is the sign, its low six bits and the
  // bytes after it the number.
  if ((field[0] & 0x40) != 0) return false;
  uint64_t number = field[0] & 0x3F;
  for (size_t i = 1; i < width; ++i) {
    if (number >> 55 != 0) return false;
    number = number << 8 | field[i];
  }
  *value = number;
  return true;
}

bool TarChecksumMatches(const uint8_t* block) {
  int64_t sum = 8 * ' ', signedSum = 8 * ' ';
  for (size_t i = 0; i < kTarBlock; ++i) {
    if (i >= kTarChksumOffset && i < kTarChksumOffset + kTarChksumSize) continue;
    sum += block[i];
    signedSum += static_cast<int8_t>(block[i]);
  }
  const uint64_t stored = ParseTarOctal(block + kTarChksumOffset, kTarChksumSize);
  return static_cast<uint64_t>(sum) == stored || (signedSum >= 0 && static_cast<uint64_t>(signedSum) == stored);
}

bool IsZeroBlock(const uint8_t* block) {
  for (size_t i = 0; i < kTarBlock; ++i)
    if (block[i] != 0) return false;
  return true;
}

TarEntryKind ClassifyTarType(uint8_t typeflag) {
  switch (typeflag) {
    case '5':
    case 'D':
      return TarEntryKind::kFolder;
    case 'L':
    case 'N':
      return TarEntryKind::kLongName;
    case 'x':
      return TarEntryKind::kPax;
    case '1': case '2': case '3': case '4': case '6':
      return TarEntryKind::kNode;
    case 'K':
      return TarEntryKind::kLongLink;
    case 'S':
      return TarEntryKind::kSparse;
    case 'M': case 'V':
    case 'g':  // global records: nothing the walk uses
      return TarEntryKind::kSkip;
    default:
      return TarEntryKind::kFile;
  }
}

namespace {

size_t FieldLength(const uint8_t* field, size_t width) {
  const void* nul = memchr(field, 0, width);
  return nul != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - field) : width;
}

}  // namespace

bool TarHeaderName(const uint8_t* block, char* out, size_t size) {
  const uint8_t* name = block + kTarNameOffset;
  const uint8_t* prefix = block + kTarPrefixOffset;
  const size_t nameLen = FieldLength(name, kTarNameSize);
  const bool posix = memcmp(block + kTarMagicOffset, "ustar\0", 6) == 0;
  const size_t prefixLen = posix ? FieldLength(prefix, kTarPrefixSize) : 0;
  const size_t total = prefixLen + (prefixLen > 0 ? 1 : 0) + nameLen;
  if (total + 1 > size) {
    if (size > 0) out[0] = '\0';
    return false;
  }
  size_t pos = 0;
  if (prefixLen > 0) {
    memcpy(out, prefix, prefixLen);
    pos = prefixLen;
    out[pos++] = '/';
  }
  memcpy(out + pos, name, nameLen);
  out[pos + nameLen] = '\0';
  return true;
}

bool ParseTarDecimal(const uint8_t* text, size_t length, uint64_t* value) {
  uint64_t number = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9' || number > (uint64_t{1} << 62) / 10) return false;
    number = number * 10 + (text[i] - '0');
  }
  if (length == 0 || number >= (uint64_t{1} << 62)) return false;
  *value = number;
  return true;
}

namespace {

// A record's value into a caller's buffer; false when it does not fit or
// names nothing (empty, or holding a NUL).
bool TakeText(const uint8_t* value, size_t length, char* out, size_t size, bool* tooLong) {
  *tooLong = length + 1 > size;
  if (length == 0 || *tooLong || memchr(value, 0, length) != nullptr) return false;
  memcpy(out, value, length);
  out[length] = '\0';
  return true;
}

bool KeyIs(const uint8_t* key, size_t length, const char* name) {
  return length == strlen(name) && memcmp(key, name, length) == 0;
}

}  // namespace

PaxRecords ReadPaxRecords(const uint8_t* data, size_t size, char* path, size_t pathSize, char* link,
                          size_t linkSize, std::vector<SparseEntry>* map) {
  PaxRecords records;
  if (pathSize > 0) path[0] = '\0';
  if (linkSize > 0) link[0] = '\0';
  map->clear();
  bool sparseName = false;  // GNU.sparse.name came: it, not "path", names the file
  bool offsetPending = false;
  size_t pos = 0;
  while (pos < size && data[pos] != 0) {
    // "<length> ": the length counts the whole record, newline included.
    size_t length = 0, i = pos;
    while (i < size && data[i] >= '0' && data[i] <= '9' && length < size) {
      length = length * 10 + (data[i] - '0');
      ++i;
    }
    if (i == pos || i >= size || data[i] != ' ' || length > size - pos || pos + length <= i + 1)
      break;
    const uint8_t* key = data + i + 1;
    const uint8_t* end = data + pos + length;  // one past the newline
    if (end[-1] != '\n') break;
    const uint8_t* eq = static_cast<const uint8_t*>(memchr(key, '=', static_cast<size_t>(end - key)));
    if (eq == nullptr) break;
    const size_t keyLength = static_cast<size_t>(eq - key);
    const uint8_t* value = eq + 1;
    const size_t valueLength = static_cast<size_t>(end - 1 - value);
    uint64_t number = 0;
    if ((KeyIs(key, keyLength, "path") && !sparseName) || KeyIs(key, keyLength, "GNU.sparse.name")) {
      records.havePath = TakeText(value, valueLength, path, pathSize, &records.pathTooLong);
      sparseName = sparseName || KeyIs(key, keyLength, "GNU.sparse.name");
    } else if (KeyIs(key, keyLength, "linkpath")) {
      records.haveLink = TakeText(value, valueLength, link, linkSize, &records.linkTooLong);
    } else if (KeyIs(key, keyLength, "size")) {
      // Anything but decimal digits leaves the header's size.
      records.haveSize = ParseTarDecimal(value, valueLength, &number);
      records.size = records.haveSize ? number : 0;
    } else if (KeyIs(key, keyLength, "mtime")) {
      // "seconds[.fraction]"; a time before 1970 leaves the header's.
      const uint8_t* dot = static_cast<const uint8_t*>(memchr(value, '.', valueLength));
      const size_t whole = dot != nullptr ? static_cast<size_t>(dot - value) : valueLength;
      records.haveMtime = ParseTarDecimal(value, whole, &records.mtimeSeconds);
      records.mtimeNanoseconds = 0;
      uint32_t scale = 100000000;
      for (size_t k = whole + 1; records.haveMtime && k < valueLength; ++k, scale /= 10) {
        if (value[k] < '0' || value[k] > '9') {
          records.haveMtime = false;
        } else {
          records.mtimeNanoseconds += static_cast<uint32_t>(value[k] - '0') * scale;
        }
      }
    } else if (KeyIs(key, keyLength, "hdrcharset")) {
      records.binary = valueLength == 6 && memcmp(value, "BINARY", 6) == 0;
    } else if (KeyIs(key, keyLength, "GNU.sparse.size") || KeyIs(key, keyLength, "GNU.sparse.realsize")) {
      records.sparse = true;
      if (!ParseTarDecimal(value, valueLength, &records.realSize)) records.sparseBad = true;
    } else if (KeyIs(key, keyLength, "GNU.sparse.major")) {
      records.sparse = true;
      records.sparseMapInData = valueLength == 1 && value[0] == '1';
    } else if (KeyIs(key, keyLength, "GNU.sparse.offset")) {
      records.sparse = true;
      if (offsetPending || map->size() >= kMaxSparseEntries || !ParseTarDecimal(value, valueLength, &number)) {
        records.sparseBad = true;
      } else {
        map->push_back({number, 0});
        offsetPending = true;
      }
    } else if (KeyIs(key, keyLength, "GNU.sparse.numbytes")) {
      if (!offsetPending || !ParseTarDecimal(value, valueLength, &number)) {
        records.sparseBad = true;
      } else {
        map->back().size = number;
        offsetPending = false;
      }
    } else if (KeyIs(key, keyLength, "GNU.sparse.map")) {
      // "offset,size,offset,size..."
      records.sparse = true;
      map->clear();
      size_t start = 0, count = 0;
      for (size_t k = 0; k <= valueLength && !records.sparseBad; ++k) {
        if (k < valueLength && value[k] != ',') continue;
        if (!ParseTarDecimal(value + start, k - start, &number) || map->size() >= kMaxSparseEntries) {
          records.sparseBad = true;
        } else if (count++ % 2 == 0) {
          map->push_back({number, 0});
        } else {
          map->back().size = number;
        }
        start = k + 1;
      }
      if (count % 2 != 0) records.sparseBad = true;
    }
    pos += length;
  }
  if (offsetPending) records.sparseBad = true;
  return records;
}

}  // namespace tar
