// Handles: one release helper per kind, each checking, closing and marking
// the handle closed, so that every path of a function can release what it
// holds at one place; and the one way to open an entry without locking it.
#pragma once
#include <windows.h>

// Closes a handle that CloseHandle closes (file, folder, snapshot, pipe,
// process, thread, token) once and marks it closed. NULL and
// INVALID_HANDLE_VALUE are left alone.
void utl_CloseHandle(HANDLE& hHandle);
// Closes a FindFirstFileA handle once and marks it closed.
void utl_CloseFind(HANDLE& hFind);
// Opens an existing entry with dwAccess and dwFlags (FILE_FLAG_...) without
// locking it: others may go on reading, writing, renaming and deleting it
// meanwhile (a log being written, a file a user has open). Never creates.
HANDLE utl_OpenShared(const char* pszPath, DWORD dwAccess, DWORD dwFlags);
