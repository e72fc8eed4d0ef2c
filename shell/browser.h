// The folder browser: the full-screen picker for the file to unpack
// (PickFile) and the extract path (PickFolder).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/window.h"

constexpr int kPickFile = 0;
constexpr int kPickFolder = 1;

// The wildcard patterns a file name must match to be listed.
struct PatternEntry {
  WCHAR* text;  // owned
  uintptr_t extra;
};
struct PatternList {
  PatternEntry* entries = nullptr;
  int count = 0;
  int capacity = 0;
  int growth = 0;  // 0: the capacity grows to exactly the count
  size_t longest = 0;
};
bool AppendPattern(PatternList* list, const WCHAR* pattern);
void ClearPatterns(PatternList* list);

struct BrowserRequest {
  int Mode;
  int LabelEditing;
  int MustExist;
  PatternList Patterns;
  const WCHAR* Title;
  WCHAR ResultPath[MAX_PATH];
  WCHAR NameField[MAX_PATH];
  WCHAR CurrentFolder[MAX_PATH];
  HIMAGELIST Images;
  WCHAR OldName[MAX_PATH];  // the row's name when a rename started
};

// Mode PickFile, both flags clear, the texts and patterns empty, title "File".
void PrepareRequest(BrowserRequest* request);
// Frees the patterns; may be called more than once.
void ReleaseRequest(BrowserRequest* request);

// Runs the browser from the in/out path (MAX_PATH characters; empty: the
// current folder) with the ";"-separated pattern text. A name typed with "/"
// counts like one with "\", and one that starts with a separator is a path
// from the root. 1 (OK, the path is then the choice) or what
// else ended the dialog (2 for Cancel), the path untouched.
INT_PTR RunBrowser(BrowserRequest* request, HWND owner, WCHAR* inOutPath, const WCHAR* patterns);

INT_PTR BrowserProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Both already upper case; "*.*" also matches names without a dot.
bool WildcardMatch(const WCHAR* pattern, const WCHAR* name);
// The size column: 9999, 10KB, 1,000KB, 100MB.
void FormatSize(DWORD size, WCHAR* out, size_t outSize);
