// Held folders. The elevated setup program acts on the entries of folders it
// holds open, one name at a time: a child is opened, created, renamed or
// deleted relative to the folder's handle, never through a path that could
// be swapped meanwhile, and never through a link. Whether an entry is the
// one meant is decided on the objects themselves: its attributes, its link
// count, and the system's own name of it against the system's name of the
// folder held, never against a path the program built. When that cannot be
// told, the entry is not the program's own.
// Only ntdll functions that every NT version exports are called (Windows XP
// included); the one newer request, Windows 10's POSIX delete, falls back
// by itself where the system refuses it.
#pragma once
#include <windows.h>

// What utl_HoldFolderAt says for a link at the name.
#ifndef ERROR_REPARSE_POINT_ENCOUNTERED
#define ERROR_REPARSE_POINT_ENCOUNTERED 4395L
#endif

// Folder trees deeper than this are not walked: no setup makes them.
#define UTL_MAX_TREE_DEPTH 64

// Longest system name of a held folder, in UTF-16 units.
#define UTL_NT_NAME_CHARS 1024

// A folder held open without delete sharing (it can be neither renamed nor
// deleted meanwhile) and the system's name of it.
struct UtlFolder {
    HANDLE hFolder;
    WCHAR wszName[UTL_NT_NAME_CHARS];
};

// What an entry opened by name is, for the folder it was opened in.
enum UtlEntryKind {
    UTL_ENTRY_OWN,      // a plain file of one name, or a real folder, in that folder
    UTL_ENTRY_LINK,     // a junction, symbolic link or hard-linked name: only its name may go
    UTL_ENTRY_FOREIGN   // leads elsewhere, or cannot be told: neither used nor removed
};

// Dispositions of the functions below (those of NtCreateFile).
#define UTL_OPEN 1        // an existing entry
#define UTL_CREATE 2      // a new entry; fails when anything stands at the name
#define UTL_OPEN_IF 3     // either
// Options: the entry must be a folder, or must not be one.
#define UTL_AS_FOLDER 0x1
#define UTL_AS_FILE 0x40

// Holds the folder that the path pszFolder leads to, links followed (a
// relocated folder is still that folder): for the folders of paths the
// program was given. dwAccess adds rights to listing and reading
// attributes. 1 when held; else 0 with the system error number.
int utl_HoldFolder(const char* pszFolder, DWORD dwAccess, UtlFolder* pFolder, DWORD* pdwErr);
// Holds the child folder pszName of pParent: opened, or created with the
// security descriptor pSd (NULL: inherited) as dwDisposition says. A link
// at that name is not held (0 with ERROR_REPARSE_POINT_ENCOUNTERED, or
// ERROR_ACCESS_DENIED when it leads elsewhere).
int utl_HoldFolderAt(const UtlFolder* pParent, const char* pszName, DWORD dwAccess, DWORD dwDisposition,
                     PSECURITY_DESCRIPTOR pSd, UtlFolder* pFolder, DWORD* pdwErr);
// Closes a held folder (a zeroed or released one is left alone).
void utl_ReleaseFolder(UtlFolder* pFolder);

// Opens or creates the child pszName of pFolder (a single name), never
// following a link at it, and says what it is. dwOptions: UTL_AS_FOLDER,
// UTL_AS_FILE or 0. An entry created by this call is the program's own.
// INVALID_HANDLE_VALUE on failure, with the error in GetLastError().
HANDLE utl_OpenAt(const UtlFolder* pFolder, const char* pszName, DWORD dwAccess, DWORD dwShare,
                  DWORD dwDisposition, DWORD dwOptions, UtlEntryKind* peKind);
// What the entry hEntry, opened by the name pszName (a path or a single
// name), is for the folder whose system name is pwszFolder.
UtlEntryKind utl_EntryKind(HANDLE hEntry, const WCHAR* pwszFolder, const char* pszName);

// Calls pfnEntry with the name and attributes of every entry of pFolder
// whose name matches pszPattern ('*' and '?', without regard to case; "*.*"
// is every name), "." and ".." left out. The folder is read whole first, so
// pfnEntry may delete or rename in it. A name that the ANSI file functions
// cannot spell is passed over. 1 when listed; else 0 with the system error.
typedef void (*UtlEntryFn)(void* pvCtx, const UtlFolder* pFolder, const char* pszName, DWORD dwAttributes);
int utl_ListAt(const UtlFolder* pFolder, const char* pszPattern, UtlEntryFn pfnEntry, void* pvCtx);

// Deletes the child pszName of pFolder (a file, an empty folder, or a link
// as a link). Its name is free at once, even while another process keeps
// the entry open. A plain read-only entry is made normal first; a read-only
// hard link stays (its other names share the attribute). 1 when gone or
// not there; 0 when it stays.
int utl_DeleteAt(const UtlFolder* pFolder, const char* pszName);
// Renames the entry hEntry (opened with DELETE) to pszNewName in pFolder,
// never over an existing entry. 1 on success.
int utl_RenameAt(const UtlFolder* pFolder, HANDLE hEntry, const char* pszNewName);
// Sets the attributes of the entry a handle holds (FILE_WRITE_ATTRIBUTES).
int utl_SetAttributes(HANDLE hEntry, DWORD dwAttributes);
// The attributes of the entry a handle holds; INVALID_FILE_ATTRIBUTES on failure.
DWORD utl_GetAttributes(HANDLE hEntry);
// 1 when the volume of the handle keeps security descriptors (not FAT32 or
// exFAT); 0 when it keeps none or cannot tell.
int utl_VolumeKeepsAcls(HANDLE hEntry);

// The last path separator of pszPath (in the ANSI file functions' code
// page, where a double-byte character's trail byte may be 0x5C); NULL when
// there is none.
const char* utl_LastSeparator(const char* pszPath);

// The ntdll functions used here, looked up once. The test build replaces
// entries to simulate answers that only some Windows versions give.
typedef LONG(NTAPI* UtlNtCreateFileFn)(PHANDLE, ACCESS_MASK, PVOID, PVOID, PLARGE_INTEGER, ULONG, ULONG, ULONG,
                                        ULONG, PVOID, ULONG);
typedef LONG(NTAPI* UtlNtFileInfoFn)(HANDLE, PVOID, PVOID, ULONG, ULONG);
typedef LONG(NTAPI* UtlNtQueryObjectFn)(HANDLE, ULONG, PVOID, ULONG, PULONG);
typedef LONG(NTAPI* UtlNtQueryDirectoryFileFn)(HANDLE, HANDLE, PVOID, PVOID, PVOID, PVOID, ULONG, ULONG, BOOLEAN,
                                                PVOID, BOOLEAN);
struct UtlNtApi {
    UtlNtCreateFileFn pfnCreateFile;
    UtlNtFileInfoFn pfnQueryInformationFile;
    UtlNtFileInfoFn pfnSetInformationFile;
    UtlNtFileInfoFn pfnQueryVolumeInformationFile;
    UtlNtQueryObjectFn pfnQueryObject;
    UtlNtQueryDirectoryFileFn pfnQueryDirectoryFile;
};
UtlNtApi& utl_NtApi(void);
