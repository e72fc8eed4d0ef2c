// File-type association: the dialog (template 110) that registers the
// program in HKEY_CLASSES_ROOT as the opener of the ticked archive types and
// withdraws it from the others, leaving types of other programs alone.
#pragma once

#include "platform/window.h"

struct FileTypeRow {
  int boxId;
  const WCHAR* extensions[2];  // the second may be null
  const WCHAR* progIds[2];
  const WCHAR* descriptions[2];
};
// The rows in the order of the check box ids (401 to 412).
extern const FileTypeRow kFileTypeRows[12];

enum class AssociationState { Unset, Own, Foreign };
enum class AssociationAction { Associate, Remove, Leave };

// The "Default" value of a key under HKEY_CLASSES_ROOT into `buffer`
// (capacity characters); the characters read, 0 when missing.
int ReadDefaultValue(const WCHAR* key, WCHAR* buffer, int capacity);
AssociationState QueryAssociation(const WCHAR* extension, const WCHAR* progId);
AssociationAction DecideAction(bool ticked, const WCHAR* extension, const WCHAR* progId);
bool RegisterType(const WCHAR* extension, const WCHAR* progId, const WCHAR* description, const WCHAR* programPath);
bool UnregisterType(const WCHAR* extension, const WCHAR* progId);

// The program's own full path (from /proc/self/exe, "\"-separated as the
// program sees paths); false when it cannot be had.
bool ProgramPath(WCHAR* path, int size);

INT_PTR AssociationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
