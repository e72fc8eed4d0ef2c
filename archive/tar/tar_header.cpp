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
    case '1': case '2': case '3': case '4': case '6': case '7':
    case 'M': case 'S': case 'V':
    case 'g':  // global records: nothing the walk uses
    case 'K':  // GNU long link name: only links use it
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

PaxRecords ReadPaxRecords(const uint8_t* data, size_t size, char* path, size_t pathSize) {
  PaxRecords records;
  if (pathSize > 0) path[0] = '\0';
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
    const uint8_t* value = eq + 1;
    const size_t valueLength = static_cast<size_t>(end - 1 - value);
    if (eq - key == 4 && memcmp(key, "path", 4) == 0) {
      // An empty path, or one holding a NUL, names nothing.
      records.havePath = false;
      records.pathTooLong = valueLength + 1 > pathSize;
      if (valueLength > 0 && !records.pathTooLong && memchr(value, 0, valueLength) == nullptr) {
        memcpy(path, value, valueLength);
        path[valueLength] = '\0';
        records.havePath = true;
      }
    } else if (eq - key == 4 && memcmp(key, "size", 4) == 0) {
      // Decimal digits only; anything else leaves the header's size.
      uint64_t number = 0;
      size_t digits = 0;
      while (digits < valueLength && value[digits] >= '0' && value[digits] <= '9' && number <= (UINT64_MAX >> 4)) {
        number = number * 10 + (value[digits] - '0');
        ++digits;
      }
      records.haveSize = digits > 0 && digits == valueLength && number < (uint64_t{1} << 62);
      records.size = records.haveSize ? number : 0;
    } else if (eq - key == 10 && memcmp(key, "hdrcharset", 10) == 0) {
      records.binary = valueLength == 6 && memcmp(value, "BINARY", 6) == 0;
    }
    pos += length;
  }
  return records;
}

}  // namespace tar
