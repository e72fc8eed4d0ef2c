// The registry store file.
//
// Format (UTF-8 text, LF line ends written, CR LF accepted):
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\qv\DorvaneCE]
//   "ExtractPath"="\\My Documents"        REG_SZ, with \\ and \" escapes
//   "MakeDir"=dword:00000001               REG_DWORD
//   @="default value"                      the key's unnamed value
//   "Blob"=hex:01,02,ff                    REG_BINARY
//   "Other"=hex(2):41,00,00,00             any other type: its data bytes
//
// A REG_SZ value is written as text only when its data is exactly one
// terminated UTF-16 string without control characters; otherwise as
// hex(1): with its bytes, so every value reads back exactly as it was set.
// Long hex lines written by other tools may continue after a final "\".
// Keys are written in sorted order, parents before their subkeys.
#include "platform/regstore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host.h"

namespace regstore {

namespace {

constexpr size_t kMaxStoreBytes = 16u << 20;  // larger is not a store of ours
const char16_t* const kRoots[] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER",
                                  u"HKEY_LOCAL_MACHINE"};

// Folded for comparison; "\" sorts before every character so that a key's
// subkeys follow it directly.
std::u16string Folded(const std::u16string& s) {
  std::u16string out(s);
  for (char16_t& c : out) c = c == u'\\' ? char16_t{1} : towupper_w(c);
  return out;
}

bool IsRoot(const std::u16string& path) {
  for (const char16_t* root : kRoots)
    if (SameName(path, root)) return true;
  return false;
}

bool StartsBelow(const std::u16string& path, const std::u16string& parent) {
  return path.size() > parent.size() && path[parent.size()] == u'\\' &&
         SameName(path.substr(0, parent.size()), parent);
}

// ---------------------------------------------------------------- parsing

// Names (of keys and values) hold no control characters: the format has
// no way to write them.
bool HasControl(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string Trim(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t"), end = s.find_last_not_of(" \t");
  return begin == std::string::npos ? "" : s.substr(begin, end - begin + 1);
}

// A quoted string starting at s[at] == '"'; `at` ends past the closing quote.
bool Quoted(const std::string& s, size_t& at, std::string& out) {
  if (at >= s.size() || s[at] != '"') return false;
  out.clear();
  for (++at; at < s.size(); ++at) {
    char c = s[at];
    if (c == '"') {
      ++at;
      return true;
    }
    if (c == '\\') {
      if (++at >= s.size() || (s[at] != '\\' && s[at] != '"')) return false;
      c = s[at];
    }
    out.push_back(c);
  }
  return false;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(c | 0x20);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "01,02,ff" (blanks allowed around the bytes; empty for no bytes).
bool HexBytes(const std::string& text, std::vector<uint8_t>& out) {
  out.clear();
  std::string s = Trim(text);
  if (s.empty()) return true;
  size_t at = 0;
  while (true) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
    if (at + 2 > s.size() || HexDigit(s[at]) < 0 || HexDigit(s[at + 1]) < 0) return false;
    out.push_back(static_cast<uint8_t>(HexDigit(s[at]) << 4 | HexDigit(s[at + 1])));
    at += 2;
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
    if (at == s.size()) return true;
    if (s[at++] != ',') return false;
  }
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

bool ParseValue(const std::string& text, Value& value) {
  if (!text.empty() && text[0] == '"') {
    std::string s;
    size_t at = 0;
    if (!Quoted(text, at, s) || !Trim(text.substr(at)).empty()) return false;
    value.type = REG_SZ;
    value.data = Utf16Bytes(host::FromUtf8(s.data(), s.size()));
    return true;
  }
  if (text.compare(0, 6, "dword:") == 0) {
    std::string digits = Trim(text.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    uint32_t v = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) return false;
      v = v << 4 | static_cast<uint32_t>(HexDigit(c));
    }
    value.type = REG_DWORD;
    value.data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    return true;
  }
  if (text.compare(0, 4, "hex:") == 0) {
    value.type = REG_BINARY;
    return HexBytes(text.substr(4), value.data);
  }
  if (text.compare(0, 4, "hex(") == 0) {
    size_t close = text.find("):", 4);
    if (close == std::string::npos || close == 4 || close > 12) return false;
    uint32_t type = 0;
    for (size_t i = 4; i < close; ++i) {
      if (HexDigit(text[i]) < 0) return false;
      type = type << 4 | static_cast<uint32_t>(HexDigit(text[i]));
    }
    value.type = type;
    return HexBytes(text.substr(close + 2), value.data);
  }
  return false;
}

void SetValue(Key& key, Value value) {
  for (Value& v : key.values)
    if (SameName(v.name, value.name)) {
      v = std::move(value);
      return;
    }
  key.values.push_back(std::move(value));
}

// ---------------------------------------------------------------- writing

void AppendQuoted(std::string& out, const std::u16string& text) {
  out.push_back('"');
  std::string utf8;
  host::AppendUtf8(utf8, text.data(), text.size());
  for (char c : utf8) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

// The data as the text of a REG_SZ line, when it can be one exactly.
bool AsText(const Value& value, std::u16string& text) {
  const std::vector<uint8_t>& d = value.data;
  if (value.type != REG_SZ || d.size() < 2 || d.size() % 2) return false;
  text.clear();
  for (size_t i = 0; i + 2 < d.size(); i += 2) {
    char16_t c = static_cast<char16_t>(d[i] | d[i + 1] << 8);
    if (c < 0x20) return false;
    text.push_back(c);
  }
  if (d[d.size() - 2] || d[d.size() - 1]) return false;
  // Lone surrogates have no UTF-8 form.
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void AppendValue(std::string& out, const Value& value) {
  if (value.name.empty())
    out += "@";
  else
    AppendQuoted(out, value.name);
  out += "=";
  std::u16string text;
  char buffer[32];
  if (AsText(value, text)) {
    AppendQuoted(out, text);
  } else if (value.type == REG_DWORD && value.data.size() == 4) {
    uint32_t v = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                 static_cast<uint32_t>(value.data[3]) << 24;
    snprintf(buffer, sizeof buffer, "dword:%08x", v);
    out += buffer;
  } else {
    if (value.type == REG_BINARY) {
      out += "hex:";
    } else {
      snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
      out += buffer;
    }
    for (size_t i = 0; i < value.data.size(); ++i) {
      snprintf(buffer, sizeof buffer, i ? ",%02x" : "%02x", value.data[i]);
      out += buffer;
    }
  }
  out += "\n";
}

// ---------------------------------------------------------------- files

bool ReadWhole(const std::string& path, std::string& text, int& err) {
  text.clear();
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    err = errno;
    return false;
  }
  char chunk[8192];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0 && text.size() <= kMaxStoreBytes)
    text.append(chunk, got);
  bool ok = !ferror(f) && text.size() <= kMaxStoreBytes;
  err = ok ? 0 : EIO;
  fclose(f);
  return ok;
}

// Makes every missing folder on the way to the file.
void MakeParents(const std::string& file) {
  for (size_t slash = file.find('/', 1); slash != std::string::npos;
       slash = file.find('/', slash + 1))
    mkdir(file.substr(0, slash).c_str(), 0700);
}

bool WriteAtomically(const std::string& path, const std::string& text, int& err) {
  std::string temp = path + ".tmp-XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    err = errno;
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  bool ok = done == text.size() && fsync(fd) == 0;
  err = ok ? 0 : (errno ? errno : EIO);
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) unlink(temp.c_str());
  return ok;
}

Store LoadFrom(const std::string& path, bool& damaged) {
  Store store;
  std::string text;
  int err = 0;
  damaged = false;
  if (!ReadWhole(path, text, err)) {
    damaged = err != ENOENT;
    return store;
  }
  if (!Parse(text, store)) {
    damaged = true;
    store = Store{};
  }
  return store;
}

}  // namespace

bool SameName(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && towupper_w(a[i]) != towupper_w(b[i])) return false;
  return true;
}

// ---------------------------------------------------------------- Store

Key* Store::Find(const std::u16string& path) {
  for (Key& key : keys)
    if (SameName(key.path, path)) return &key;
  return nullptr;
}

Key& Store::Create(const std::u16string& path, bool* made) {
  if (made) *made = false;
  if (Key* key = Find(path)) return *key;
  size_t cut = path.rfind(u'\\');
  if (cut != std::u16string::npos && !IsRoot(path.substr(0, cut))) Create(path.substr(0, cut));
  if (made) *made = true;
  keys.push_back(Key{path, {}});
  return keys.back();
}

bool Store::Remove(const std::u16string& path) {
  size_t before = keys.size();
  keys.erase(std::remove_if(keys.begin(), keys.end(),
                            [&](const Key& k) {
                              return SameName(k.path, path) || StartsBelow(k.path, path);
                            }),
             keys.end());
  return keys.size() != before;
}

std::vector<std::u16string> Store::Children(const std::u16string& path) const {
  std::vector<std::u16string> names;
  for (const Key& key : keys)
    if (StartsBelow(key.path, path) && key.path.find(u'\\', path.size() + 1) == std::u16string::npos)
      names.push_back(key.path.substr(path.size() + 1));
  std::sort(names.begin(), names.end(), [](const std::u16string& a, const std::u16string& b) {
    return Folded(a) < Folded(b);
  });
  return names;
}

// ---------------------------------------------------------------- text

bool Parse(const std::string& text, Store& store) {
  if (host::DecodeUtf8(text.data(), text.size(), [](WCHAR) {}) != 0) return false;
  std::vector<std::string> lines;
  size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  size_t i = 0;
  while (i < lines.size() && Trim(lines[i]).empty()) ++i;
  if (i == lines.size() || Trim(lines[i]) != "REGEDIT4") return false;

  std::u16string section;  // the key of the lines that follow; none yet
  for (++i; i < lines.size(); ++i) {
    std::string line = Trim(lines[i]);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos || !Trim(line.substr(close + 1)).empty()) return false;
      std::string name = line.substr(1, close - 1);
      if (HasControl(name)) return false;
      std::u16string path = host::FromUtf8(name.data(), name.size());
      size_t cut = path.find(u'\\');
      std::u16string root = path.substr(0, cut);
      bool rootKnown = false;
      for (const char16_t* r : kRoots)
        if (SameName(root, r)) {
          path.replace(0, root.size(), r);  // roots in their usual spelling
          rootKnown = true;
        }
      if (!rootKnown || path.find(u"\\\\") != std::u16string::npos || path.back() == u'\\')
        return false;
      store.Create(path);
      section = path;
      continue;
    }
    if (section.empty()) return false;
    Value value;
    size_t at = 0;
    std::string name;
    if (line[0] == '@') {
      at = 1;
    } else if (!Quoted(line, at, name) || HasControl(name)) {
      return false;
    }
    value.name = host::FromUtf8(name.data(), name.size());
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at >= line.size() || line[at] != '=') return false;
    std::string data = Trim(line.substr(at + 1));
    // hex data may run on over lines ending with "\".
    while (data.compare(0, 3, "hex") == 0 && !data.empty() && data.back() == '\\' &&
           i + 1 < lines.size()) {
      data.pop_back();
      data += Trim(lines[++i]);
    }
    if (!ParseValue(data, value)) return false;
    // Looked up again: a later Create may have moved the keys.
    SetValue(*store.Find(section), std::move(value));
  }
  return true;
}

std::string Format(const Store& store) {
  std::vector<const Key*> keys;
  for (const Key& key : store.keys)
    if (!IsRoot(key.path) || !key.values.empty()) keys.push_back(&key);
  std::sort(keys.begin(), keys.end(),
            [](const Key* a, const Key* b) { return Folded(a->path) < Folded(b->path); });
  std::string out = "REGEDIT4\n";
  for (const Key* key : keys) {
    out += "\n[";
    host::AppendUtf8(out, key->path.data(), key->path.size());
    out += "]\n";
    for (const Value& value : key->values) AppendValue(out, value);
  }
  return out;
}

// ---------------------------------------------------------------- location

std::string StorePath() {
  const char* explicitPath = getenv("DORVANE_REGISTRY");
  if (explicitPath && *explicitPath) return explicitPath;
  const char* config = getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/dorvane/registry.reg";
  const char* home = getenv("HOME");
  if (!home || !*home) {
    const passwd* user = getpwuid(getuid());
    home = user && user->pw_dir ? user->pw_dir : "/tmp";
  }
  return std::string(home) + "/.config/dorvane/registry.reg";
}

Store Load() {
  bool damaged;
  return LoadFrom(StorePath(), damaged);
}

LONG Update(const std::function<LONG(Store& store, bool& changed)>& change) {
  std::string path = StorePath();
  MakeParents(path);
  // A link standing where the lock goes is not followed: the store is then
  // not written.
  int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock < 0) return static_cast<LONG>(host::ErrorFromErrno(errno));
  while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
  }
  bool damaged;
  Store store = LoadFrom(path, damaged);
  bool changed = false;
  LONG result = change(store, changed);
  if (result == ERROR_SUCCESS && changed) {
    if (damaged) rename(path.c_str(), (path + ".bad").c_str());
    int err;
    if (!WriteAtomically(path, Format(store), err))
      result = static_cast<LONG>(host::ErrorFromErrno(err));
  }
  close(lock);  // releases the lock
  return result;
}

}  // namespace regstore
