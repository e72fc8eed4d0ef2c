// The registry store behind the Reg* calls: a per-user text file in the
// registry editor's export format, read fresh at every call and rewritten
// whole (temporary file + rename, under an advisory lock) at every change.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/windows.h"

namespace regstore {

struct Value {
  std::u16string name;  // "" for the default value ("@")
  DWORD type = REG_NONE;
  std::vector<uint8_t> data;
};

struct Key {
  std::u16string path;  // full path from the root: "HKEY_CURRENT_USER\Software\qv"
  std::vector<Value> values;
};

// Key paths and value names compare without regard to letter case.
bool SameName(const std::u16string& a, const std::u16string& b);

struct Store {
  std::vector<Key> keys;  // every key, ancestors included (not the roots)

  Key* Find(const std::u16string& path);
  // The key, made with every missing ancestor; `made` tells whether it was new.
  Key& Create(const std::u16string& path, bool* made = nullptr);
  // Removes the key and everything below it; false when it was not there.
  bool Remove(const std::u16string& path);
  // Names of the keys directly below `path`, sorted.
  std::vector<std::u16string> Children(const std::u16string& path) const;
};

// The text format. Parse is strict: anything it does not understand makes
// the whole text damaged (false), never half read.
bool Parse(const std::string& text, Store& store);
std::string Format(const Store& store);

// $DORVANE_REGISTRY, else $XDG_CONFIG_HOME/dorvane/registry.reg, else
// ~/.config/dorvane/registry.reg.
std::string StorePath();

// The store as it is now; a missing store is empty, a damaged or unreadable
// one reads as empty too.
Store Load();

// Runs `change` on a fresh copy of the store while holding the store's
// lock. When it returns ERROR_SUCCESS and sets `changed`, the store is
// written back (a damaged store is first kept aside as <store>.bad). Returns
// the change's result, or the error of writing.
LONG Update(const std::function<LONG(Store& store, bool& changed)>& change);

}  // namespace regstore
