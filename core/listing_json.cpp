#include "core/listing_json.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "core/charset.h"
#include "core/member_output.h"
#include "core/messages.h"
#include "core/progress.h"

namespace {

bool g_inArchive = false;
bool g_firstArchive = true;
bool g_firstMember = true;

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Program text as a JSON string: "/" between folders, UTF-8, escaped.
std::string JsonString(const char* narrow) {
  if (narrow == nullptr) return "null";
  std::string slashed;
  for (const char* p = narrow; *p != '\0';) {
    const size_t length = CharLength(p);
    if (length == 1 && *p == '\\') {
      slashed.push_back('/');
    } else {
      slashed.append(p, length);
    }
    p += length;
  }
  std::string out = "\"";
  WCHAR* wide = ToWide(slashed.c_str());
  if (wide == nullptr) return "null";
  for (const WCHAR* w = wide; *w != 0; ++w) {
    uint32_t c = *w;
    if (c >= 0xD800 && c <= 0xDBFF && w[1] >= 0xDC00 && w[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[1] - 0xDC00);
      ++w;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      char escape[16];
      snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
      continue;
    }
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      char escape[16];
      snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      AppendUtf8(&out, c);
    }
  }
  LocalFree(wide);
  return out + "\"";
}

std::string JsonNumber(uint64_t value) {
  if (value == kUnknownSize) return "null";
  char text[32];
  snprintf(text, sizeof text, "%" PRIu64, value);
  return text;
}

const char* KindName(MemberKind kind) {
  switch (kind) {
    case MemberKind::kFile: return "file";
    case MemberKind::kFolder: return "folder";
    case MemberKind::kSymlink: return "symlink";
    case MemberKind::kHardLink: return "hardlink";
    case MemberKind::kFifo: return "fifo";
    case MemberKind::kDevice: return "device";
  }
  return "file";
}

void Put(const std::string& text) {
  StatusLineGap gap;
  fputs(text.c_str(), stdout);
  fflush(stdout);
}

}  // namespace

void JsonBeginRun() {
  if (!g_RunOptions.json) return;
  g_firstArchive = true;
  g_inArchive = false;
  Put("{\"archives\": [");
}

void JsonEndRun() {
  if (!g_RunOptions.json) return;
  if (g_inArchive) JsonEndArchive(nullptr);
  Put("\n]}\n");
}

void JsonBeginArchive(const char* path, const char* format) {
  if (!g_RunOptions.json) return;
  if (g_inArchive) JsonEndArchive(nullptr);
  Put(std::string(g_firstArchive ? "\n" : ",\n") + "{\"path\": " + JsonString(path) +
      ", \"format\": " + JsonString(format) + ", \"members\": [");
  g_firstArchive = false;
  g_firstMember = true;
  g_inArchive = true;
}

void JsonEndArchive(const char* verdict) {
  if (!g_RunOptions.json || !g_inArchive) return;
  Put(std::string("]") + (verdict != nullptr ? std::string(", \"verdict\": \"") + verdict + "\"" : "") + "}");
  g_inArchive = false;
}

void JsonMember(const MemberInfo& info, uint64_t size, const char* target, const char* verdict) {
  if (!g_RunOptions.json) return;
  if (!g_inArchive) JsonBeginArchive(nullptr, nullptr);  // files put together from parts
  std::string time = "null";
  SYSTEMTIME st;
  if (info.hasTime && FileTimeToSystemTime(&info.time, &st)) {
    char text[40];
    snprintf(text, sizeof text, "\"%04u-%02u-%02uT%02u:%02u:%02uZ\"", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond);
    time = text;
  }
  std::string mode = "null";
  if (info.hasMode) {
    char text[16];
    snprintf(text, sizeof text, "\"%04" PRIo32 "\"", info.mode & 07777);
    mode = text;
  }
  const bool folder = info.isFolder || info.kind == MemberKind::kFolder;
  std::string line = std::string(g_firstMember ? "\n  " : ",\n  ") + "{\"name\": " + JsonString(info.name) +
                     ", \"kind\": \"" + KindName(folder ? MemberKind::kFolder : info.kind) + "\"" +
                     ", \"size\": " + JsonNumber(size) + ", \"packed_size\": " + JsonNumber(info.packedSize) +
                     ", \"method\": " + (info.method[0] != '\0' ? JsonString(info.method) : "null") +
                     ", \"time\": " + time + ", \"mode\": " + mode + ", \"link_target\": " + JsonString(target) +
                     ", \"encrypted\": " + (info.encrypted ? "true" : "false");
  if (verdict != nullptr) line += std::string(", \"verdict\": \"") + verdict + "\"";
  Put(line + "}");
  g_firstMember = false;
}
