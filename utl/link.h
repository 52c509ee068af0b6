// Link safety on paths. The setup program runs elevated in folders at the
// root of the system drive, where any local user may plant junctions,
// symbolic links, object-manager links and hard links. Whatever it deletes,
// writes, creates or changes attributes of must be its own object, never one
// a link leads to. Each function below holds the folder of the path and acts
// on the last name relative to it (held.h): links among the parent folders
// are followed, as a relocated folder is still that folder; the entry itself
// is never followed. An entry is a link when it is a reparse point, a file
// with more than one name, or when the handle opened on it names another
// object than that name in that folder (how Wine shows unix symlinks). A
// link is removed only as itself, through a handle on the link; where the
// system opens only what a link leads to (Wine with unix symlinks), the link
// stays and the step that needed its place fails: nothing outside is ever
// touched.
#pragma once
#include <windows.h>
#include "handle.h"
#include "held.h"

// What stands at the child pszName of pFolder: 1 with its kind and
// attributes, 0 when nothing does, -1 when something does that cannot be
// opened to be told.
int utl_LookAt(const UtlFolder* pFolder, const char* pszName, UtlEntryKind* peKind, DWORD* pdwAttributes);
// Removes a link at the child pszName as a link; 1 when it is gone.
int utl_RemoveLinkAt(const UtlFolder* pFolder, const char* pszName);

// 1 when pszPath names a link or an entry that cannot be told own (above);
// 0 for a plain entry of its own, or none.
int utl_IsLink(const char* pszPath);
// Makes pszFolder a real folder of its own: a link in its place is removed
// and a folder created; a missing folder is created. 1 when pszFolder is a
// real folder afterwards; 0 when a link there cannot be removed.
int utl_EnsureOwnFolder(const char* pszFolder);
// The same for the child pszName of a held folder, held in *pFolder (with
// dwAccess added) when it is there; a folder it makes gets the security
// descriptor pSd (NULL: inherited).
int utl_HoldOwnFolderAt(const UtlFolder* pParent, const char* pszName, DWORD dwAccess, PSECURITY_DESCRIPTOR pSd,
                        UtlFolder* pFolder);
// Holds the real folder pszFolder for listing, without delete sharing (it
// can be neither renamed nor replaced while held); 0 when it is missing, a
// link or not the program's to tell. dwAccess adds rights.
int utl_HoldOwnFolder(const char* pszFolder, DWORD dwAccess, UtlFolder* pFolder);
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
// The same for the child pszName of a held folder.
HANDLE utl_OpenOwnFileAt(const UtlFolder* pFolder, const char* pszName, DWORD dwAccess, DWORD dwShare,
                         DWORD dwDisposition);
// Opens a plain file of one name for reading. A link or a
// second name of a file is refused (ERROR_ACCESS_DENIED): what the elevated
// program copies from a folder others can write in must be that folder's own.
HANDLE utl_OpenToRead(const char* pszPath);
// Holds the folder of pszPath; *ppszName points at the last name. A path
// without a folder is taken in the current folder.
int utl_HoldParentOf(const char* pszPath, UtlFolder* pFolder, const char** ppszName);
