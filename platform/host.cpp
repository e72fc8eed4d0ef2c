// UTF-8, host paths, CloseHandle, the thread's last error and local memory.
#include "platform/host.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace host {

void AppendUtf8(std::string& out, const WCHAR* src, size_t units, bool* lossy) {
  for (size_t i = 0; i < units; ++i) {
    char32_t c = src[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && src[i + 1] >= 0xDC00 &&
        src[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (src[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      out.push_back(static_cast<char>(c - 0xDC00));  // a byte kept from decoding
      continue;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
      if (lossy) *lossy = true;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

std::string ToUtf8(const WCHAR* src) {
  std::string out;
  if (src) AppendUtf8(out, src, wcslen_w(src));
  return out;
}

std::u16string FromUtf8(const char* src, size_t bytes) {
  std::u16string out;
  out.reserve(bytes);
  DecodeUtf8(src, bytes, [&](WCHAR u) { out.push_back(u); });
  return out;
}

bool ToHostPath(LPCWSTR path, std::string& out) {
  out.clear();
  if (!path || !*path) return false;
  AppendUtf8(out, path, wcslen_w(path));
  for (char& c : out)
    if (c == '\\') c = '/';
  return true;
}

std::u16string FromHostPath(const char* path) {
  std::u16string out = FromUtf8(path, strlen(path));
  for (WCHAR& c : out)
    if (c == u'/') c = u'\\';
  return out;
}

DWORD ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
    case ETXTBSY: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    default: return ERROR_GEN_FAILURE;
  }
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

BOOL FailWithErrno() { return Fail(ErrorFromErrno(errno)); }

HandleObject* ObjectOf(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  return static_cast<HandleObject*>(handle);
}

}  // namespace host

// Files, threads and processes share CloseHandle; a search is closed by
// FindClose only, as on the device.
BOOL CloseHandle(HANDLE handle) {
  host::HandleObject* object = host::ObjectOf(handle);
  if (object) switch (object->kind) {
      case host::HandleKind::File: return host::CloseFileObject(object);
      case host::HandleKind::Thread: return host::CloseThreadObject(object);
      case host::HandleKind::Process: return host::CloseProcessObject(object);
      default: break;
    }
  return host::Fail(ERROR_INVALID_HANDLE);
}

// The last error is per thread, as on the device: the progress thread's calls
// never disturb the main thread's error value.
static thread_local DWORD t_lastError = ERROR_SUCCESS;

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

void* LocalAlloc(UINT flags, size_t bytes) {
  // A fixed block of size 0 is still a valid, freeable block.
  size_t size = bytes ? bytes : 1;
  void* block = (flags & LMEM_ZEROINIT) ? calloc(1, size) : malloc(size);
  if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return block;
}

void* LocalFree(void* block) {
  free(block);
  return nullptr;
}
