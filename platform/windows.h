// The small stand-in for the handheld's operating-system services.
//
// Every function here keeps the name and the documented Win32 semantics of
// the call the program was written against (return values, error values such
// as INVALID_FILE_ATTRIBUTES), so the program code reads as it would on the
// device. Underneath, Linux does the work:
//   - wide strings are UTF-16 (char16_t), as on the device;
//   - paths use "\" inside the program; each call turns "\" into "/" on the
//     way in (and "/" into "\" where a path comes back); a path that does not
//     start with a separator is relative to the current directory;
//   - host file names are UTF-8;
//   - the registry is a text file in the registry editor's export format
//     (see registry.cpp), located by $DORVANE_REGISTRY or the XDG config dir;
//   - the active code page is 932 (Shift-JIS) unless DORVANE_CODEPAGE names
//     1252 or 65001.
//
// This header includes nothing of the program's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef int BOOL;
typedef void* HANDLE;
typedef DWORD REGSAM;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAX_PATH 260

// ---------------------------------------------------------------- errors
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_NOT_SAME_DEVICE 17L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_GEN_FAILURE 31L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_DIRECTORY 267L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_CANT_RESOLVE_FILENAME 1921L

DWORD GetLastError();
void SetLastError(DWORD code);

// ---------------------------------------------------------------- memory
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)
void* LocalAlloc(UINT flags, size_t bytes);
void* LocalFree(void* block);  // returns nullptr on success

// ---------------------------------------------------------------- files
#define FILE_ATTRIBUTE_READONLY 0x00000001
#define FILE_ATTRIBUTE_HIDDEN 0x00000002
#define FILE_ATTRIBUTE_SYSTEM 0x00000004
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100
#define INVALID_FILE_ATTRIBUTES ((DWORD)0xFFFFFFFF)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5

// 100-nanosecond intervals since 1601-01-01, split in two halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[MAX_PATH];
};

struct SECURITY_ATTRIBUTES;

BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* security);
BOOL RemoveDirectoryW(LPCWSTR path);
BOOL DeleteFileW(LPCWSTR path);
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);
DWORD GetFileAttributesW(LPCWSTR path);
// The process's current folder, "\"-separated, without a final separator
// (except the root "\"). Returns the characters written without the
// terminator; when the buffer is too small, the size it needs (terminator
// included) and nothing written; 0 on failure.
DWORD GetCurrentDirectoryW(DWORD size, LPWSTR buffer);

// Find-first-file over one folder. The pattern's last component may hold "*"
// and "?"; without them the search names one entry exactly.
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* found);
BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* found);
BOOL FindClose(HANDLE search);

// Opens or creates a file (every disposition; access GENERIC_READ and/or
// GENERIC_WRITE; share modes and flags are accepted and ignored), so that
// its times can be set. Folders are refused (ERROR_ACCESS_DENIED).
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);
BOOL CloseHandle(HANDLE object);

// The C library's fopen, taking a wide "\"-separated path.
FILE* _wfopen(LPCWSTR path, LPCWSTR mode);

// The host form of a wide path: UTF-8, "/"-separated. Used where a library
// (zlib, libbzip2) opens files by name itself.
bool HostPathFromWide(LPCWSTR path, char* out, size_t outSize);

// ---------------------------------------------------------------- text
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008

// Converts with the code page (CP_ACP: the active one). cbMultiByte or
// cchWideChar of -1 means "up to and including the terminator". With an
// output size of 0, returns the size needed; otherwise the count written, or
// 0 on failure (GetLastError: ERROR_INSUFFICIENT_BUFFER and friends).
// Nothing is lost silently (see codepage.cpp): narrow bytes that are no
// character come back as the same bytes, and characters code page 932
// cannot hold get user-defined codes for the rest of the run.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* src, int cbMultiByte, LPWSTR dst,
                        int cchWideChar);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int cchWideChar, char* dst,
                        int cbMultiByte, const char* defaultChar, BOOL* usedDefaultChar);

// The active code page: 932 unless DORVANE_CODEPAGE says 1252 or 65001.
UINT GetACP();

// Upper-case mapping of one wide character, as the system's case mapping.
WCHAR towupper_w(WCHAR c);

// Wide string helpers the program needs (the C library's are for wchar_t).
size_t wcslen_w(LPCWSTR s);
LPWSTR wcscpy_w(LPWSTR dst, LPCWSTR src);
// Copies at most size-1 units and terminates; false when src did not fit.
bool wcscpy_s_w(LPWSTR dst, size_t size, LPCWSTR src);

// ---------------------------------------------------------------- time
struct SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
};

struct TIME_ZONE_INFORMATION {
  LONG Bias;  // minutes, UTC = local + Bias
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;  // wMonth 0: no daylight rule
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};

#define TIME_ZONE_ID_INVALID ((DWORD)0xFFFFFFFF)
#define TIME_ZONE_ID_UNKNOWN 0
#define TIME_ZONE_ID_STANDARD 1
#define TIME_ZONE_ID_DAYLIGHT 2

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
// Local <-> UTC with the host zone's rules for that instant.
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
// Built from the host zone (TZ, else /etc/localtime): offsets and, where the
// zone has daylight time, its month/week/day rule.
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tzi);

// ---------------------------------------------------------------- registry
struct RegKey;
typedef RegKey* HKEY;
#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

// The store file is read afresh at every call and rewritten atomically under
// a lock at every change (regstore.cpp). RegDeleteKeyW removes the whole
// subtree, as on the device; RegEnumKeyExW lists subkeys in sorted order
// until ERROR_NO_MORE_ITEMS.
LONG RegOpenKeyExW(HKEY parent, LPCWSTR subKey, DWORD options, REGSAM sam, HKEY* result);
LONG RegCreateKeyExW(HKEY parent, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM sam, SECURITY_ATTRIBUTES* security, HKEY* result, DWORD* disposition);
LONG RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteKeyW(HKEY parent, LPCWSTR subKey);
LONG RegDeleteValueW(HKEY key, LPCWSTR name);
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameSize, DWORD* reserved,
                   LPWSTR keyClass, DWORD* classSize, FILETIME* lastWrite);
LONG RegCloseKey(HKEY key);

// ---------------------------------------------------------------- threads
typedef DWORD (*LPTHREAD_START_ROUTINE)(void* parameter);
#define CREATE_SUSPENDED 0x00000004
#define STILL_ACTIVE 259
#define THREAD_PRIORITY_IDLE 7
#define THREAD_PRIORITY_NORMAL 3
#define INFINITE 0xFFFFFFFFu

HANDLE CreateThread(SECURITY_ATTRIBUTES* security, size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* parameter, DWORD flags, DWORD* threadId);
BOOL SetThreadPriority(HANDLE thread, int priority);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
void ExitThread(DWORD exitCode);
void Sleep(DWORD milliseconds);

// ---------------------------------------------------------------- processes
struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
// Starts a program detached and does not wait for it. The device's file
// explorer ("fexplore.exe") is mapped to xdg-open when that is installed.
BOOL CreateProcessW(LPCWSTR image, LPCWSTR commandLine, void*, void*, BOOL, DWORD, void*, LPCWSTR,
                    void*, PROCESS_INFORMATION* info);

// ---------------------------------------------------------------- message boxes
typedef struct Window* HWND;
#define MB_OK 0x00000000
#define MB_YESNO 0x00000004
#define MB_ICONHAND 0x00000010
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONQUESTION 0x00000020
#define MB_ICONEXCLAMATION 0x00000030
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

// The message box. Without a dialog layer installed (a command-line run) it
// prints the caption and text on standard error and answers OK (IDOK, or
// IDYES for Yes/No boxes) at once. A dialog layer can take it over with
// SetMessageBoxHandler.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
typedef int (*MessageBoxHandler)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
void SetMessageBoxHandler(MessageBoxHandler handler);
