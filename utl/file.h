// File and folder utilities on ANSI paths of at most 260 bytes. They return a
// success flag and log nothing; none deletes anything outside the folder it
// is given, and read-only files are made normal before they are deleted.
// None of them lists, empties or deletes through a link, nor changes the
// attributes of a link's target: a link met on the way is removed as a link.
#pragma once
#include <windows.h>
#include <stddef.h>
#include "held.h"

// Longest path, terminator included, that the program handles.
#define UTL_MAX_PATH 260

// 1 when at least one entry matching the path or pattern is not a folder.
int utl_FileExists(const char* pszPath);
// 1 when at least one entry matching the path or pattern is a folder.
int utl_FolderExists(const char* pszPath);
// Calls pfnEntry with the joined path, the name and the attributes of every
// entry of pszFolder whose name matches pszPattern (as utl_ListAt), "." and
// ".." left out. Lists nothing when pszFolder is a link. 0 when the folder
// cannot be listed.
typedef void (*EntryFn)(void* pvCtx, const char* pszEntry, const char* pszName, DWORD dwAttributes);
int utl_ForEachEntry(const char* pszFolder, const char* pszPattern, EntryFn pfnEntry, void* pvCtx);
// Deletes every non-folder entry of pszFolder\pszPattern (attributes made
// normal first); individual failures are ignored.
void utl_DeleteFiles(const char* pszFolder, const char* pszPattern);
// The same, sparing the one file named pszKeep (compared without regard to case).
void utl_DeleteFilesExcept(const char* pszFolder, const char* pszPattern, const char* pszKeep);
// The same in a held folder.
void utl_DeleteFilesAt(const UtlFolder* pFolder, const char* pszPattern, const char* pszKeep);
// utl_DeleteFolderTree on every subfolder; the folder's own files stay.
void utl_DeleteSubfolders(const char* pszFolder);
// Deletes the folder with everything in it; 1 when it does not exist or was
// removed, 0 when removing it failed.
int utl_DeleteFolderTree(const char* pszFolder);
// The same for the child pszName of a held folder.
int utl_DeleteTreeAt(const UtlFolder* pParent, const char* pszName);
// Deletes the folder's files and tries to remove it; subfolders are kept, so
// a folder that has any stays.
void utl_RemoveFolder(const char* pszFolder);

// Copies the bytes of pszSrc over pszDst, as CopyFileA would, but a
// read-only target is replaced too and a link in the target's place is
// removed as a link, never written through. The target is not touched when
// the source cannot be opened or is a link (utl_OpenToRead). 1 when pszDst holds a copy of pszSrc.
int utl_CopyFileOver(const char* pszSrc, const char* pszDst);
// utl_CopyFileOver of pszSrcFolder\pszName to pszDstFolder\pszName.
int utl_CopyInto(const char* pszSrcFolder, const char* pszDstFolder, const char* pszName);

// 1 with both halves of the size when pszPath names an existing file; 0 for
// a folder (ERROR_DIRECTORY) or a failed query. Logs nothing.
int utl_QueryFileSize(const char* pszPath, DWORD* pdwHigh, DWORD* pdwLow);
// One read call that must return exactly dwLen bytes; a short read fails.
int utl_ReadExact(HANDLE hFile, void* pvBuf, DWORD dwLen);
// One write call that must take exactly dwLen bytes. WriteFile reports a
// short write (a full volume, a pipe without room) as done; here it fails,
// with ERROR_WRITE_FAULT.
int utl_WriteAll(HANDLE hFile, const void* pvBuf, DWORD dwLen);

// The one byte-copy loop: from hSrc's position to hDst's through the
// caller's buffer, exactly ullLen bytes, or with UTL_COPY_TO_END up to the
// source's end. pfnChunk, when given, changes each chunk between reading and
// writing. 1 when done; else 0 with where it stopped in *pnStop (the system's
// number left for GetLastError). *pullCopied is what was written either way.
#define UTL_COPY_TO_END (~0ULL)
enum { UTL_COPY_READ = 1, UTL_COPY_ENDED = 2, UTL_COPY_WRITE = 3 };
typedef void (*UtlChunkFn)(BYTE* pbBuf, DWORD dwLen);
int utl_CopyBytes(HANDLE hSrc, HANDLE hDst, unsigned long long ullLen, UtlChunkFn pfnChunk, BYTE* pbBuf,
                  DWORD dwBufSize, unsigned long long* pullCopied, int* pnStop);

// Creates pszFolder with every missing parent, one CreateDirectoryA per path
// component (the kernel32 way: no helper library is loaded for it). 1 when
// the folder exists afterwards; else 0 with the system error number of the
// failing step in *pdwErr.
int utl_CreateFolderChain(const char* pszFolder, DWORD* pdwErr);

// Joins a folder and a name with "%s\%s" into pszOut. Fails (0, pszOut
// emptied) instead of cutting when the result does not fit cbOut bytes or
// would reach UTL_MAX_PATH characters. An empty folder gives "\name".
int utl_PathJoin(char* pszOut, size_t cbOut, const char* pszFolder, const char* pszName);

// Splits pszPath at its last backslash: the folder before it goes to
// pszFolder (cbFolder bytes), *ppszName points at the name after it. 0 when
// there is no backslash or the folder does not fit; then pszFolder is empty
// and *ppszName is the whole path.
int utl_SplitPath(const char* pszPath, char* pszFolder, size_t cbFolder, const char** ppszName);

// 1 when pszName is a plain file name that stays inside the folder it is
// joined to: not empty, no '\\', '/' or ':', not "." or "..", no control
// characters, no trailing dot or space, and not a device name (CON, NUL,
// COM1...). Names from outside (payload records, settings values) pass this
// before they are joined.
int utl_IsPlainFileName(const char* pszName);
