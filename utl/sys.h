// System utilities: administrator check, system drive and free space.
#pragma once
#include <windows.h>

// 1 when the process token holds the Administrators group (enabled or deny-only).
int IsCurUserAdmin(void);
// 1 with the system folder (C:\Windows\system32) in pszBuf; 0 when it does
// not fit in dwSize bytes.
int utl_GetSystemFolder(char* pszBuf, DWORD dwSize);
// 1 with the system folder's drive letter as a one-letter text in pszBuf.
// dwSize must be at least 260 (callers give 261 bytes).
int utl_GetSysDrive(const char* pszModule, char* pszBuf, DWORD dwSize);
// The system drive's letter, or 'C' when it cannot be told: the drive whose
// free space, log folder and paths the setup names then.
char utl_SysDriveLetter(void);
// Bytes free for the caller on the drive of pszPath; all bits set on failure.
unsigned long long utl_GetDiskFreeSpace(const char* pszPath);

// Restricts this process's DLL search to the system folder, so that no DLL
// lying beside the program (a downloads folder) is ever loaded. 1 when
// applied; 0 on a system without SetDefaultDllDirectories (XP to 7 without
// its update), where only the current folder is taken out of the search.
int utl_RestrictDllSearch(void);

// The kernel32 functions that not every supported Windows exports, looked up
// once; NULL where missing. The test build replaces entries to simulate a
// system that lacks one.
typedef BOOL(WINAPI* UtlGetDiskFreeSpaceExFn)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
typedef BOOL(WINAPI* UtlSetDefaultDllDirectoriesFn)(DWORD);
struct UtlKernelApi {
    UtlGetDiskFreeSpaceExFn pfnGetDiskFreeSpaceEx;
    UtlSetDefaultDllDirectoriesFn pfnSetDefaultDllDirectories;
};
UtlKernelApi& utl_KernelApi(void);
