// Link safety. The setup program runs elevated in folders at the root of the
// system drive, where any local user may plant junctions, symbolic links and
// hard links. Whatever it deletes, writes, creates or changes attributes of
// must be its own object, never one a link leads to. An entry counts as a
// link when it is a reparse point, when a handle opened on it leads to
// another path than the one meant (a link in the entry itself or in one of
// its folders; how Wine shows unix symlinks to files), or when a file has
// more than one name (a hard link: its data and attributes are shared).
// A link is removed only as itself, through a handle on the link (Windows
// opens a reparse point itself); where the system opens only what a link
// leads to (Wine with unix symlinks), the link stays and the step that
// needed its place fails: nothing outside is ever touched.
#pragma once
#include <windows.h>
// What these functions open is released with utl_CloseHandle.
#include "handle.h"

// 1 when the handle, opened on pszPath, is not that path's own object.
int utl_IsLinkHandle(HANDLE hEntry, const char* pszPath);
// 1 when pszPath names a link (see above); 0 for a plain entry or none.
int utl_IsLink(const char* pszPath);
// Removes the link at pszPath, never what it leads to. 1 when it is gone;
// 0 when it cannot be removed safely (see above) and stays.
int utl_RemoveLink(const char* pszPath);
// Makes pszFolder a real folder of its own: a link in its place is removed
// and a folder created; a missing folder is created. 1 when pszFolder is a
// real folder afterwards; 0 when a link there cannot be removed.
int utl_EnsureOwnFolder(const char* pszFolder);
// Opens a folder for listing, reading and changing its security, without
// delete sharing (it can be neither renamed nor replaced while held), and
// only when it is a real folder of its own: INVALID_HANDLE_VALUE otherwise.
// dwAccess adds rights (WRITE_DAC, FILE_WRITE_ATTRIBUTES).
HANDLE utl_OpenOwnFolder(const char* pszFolder, DWORD dwAccess);
// Removes the (empty) real folder pszFolder through a checked handle on
// it. 1 when it is gone.
int utl_RemoveOwnFolder(const char* pszFolder);
// Makes the entry's attributes normal through its handle (by path only
// where the system cannot do it through a handle).
int utl_ClearAttributes(HANDLE hEntry, const char* pszPath);
// Deletes one file entry: a plain file is made normal and deleted through
// one handle; a link is removed as a link and its target's attributes stay.
// A real folder at that path stays.
void utl_DeleteOwnFile(const char* pszPath);
// Opens a file for appending or writing (GENERIC_WRITE or FILE_APPEND_DATA
// in dwAccess) as CreateFileA does with dwDisposition, but never through a
// link: a link in its place is removed and a new file created there. A
// missing file is created only when dwDisposition allows it (CREATE_NEW,
// so a race shows as ERROR_FILE_EXISTS).
HANDLE utl_OpenOwnFile(const char* pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition);
// Marks the entry a handle (opened with DELETE) holds for deletion when the
// handle is closed: the entry itself, whatever its name leads to by then.
int utl_DeleteOnClose(HANDLE hEntry);
