// System utilities: administrator check, system drive, free space.
#include "sys.h"
#include "file.h"
#include "handle.h"
#include "log.h"
#include "log_lines.h"
#include <stdlib.h>
#include <string.h>

int IsCurUserAdmin(void)
{
    const char* pszModule = LOG_MODULE_ADMIN;
    HANDLE hToken = NULL;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) {
        utl_SimpleLog(pszModule, "Cannot open process token");
        return 0;
    }
    int nResult = 0;
    TOKEN_GROUPS* pGroups = NULL;
    PSID pAdminSid = NULL;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    DWORD cbGroups = 0;
    GetTokenInformation(hToken, TokenGroups, NULL, 0, &cbGroups);
    if (cbGroups)
        pGroups = (TOKEN_GROUPS*)malloc(cbGroups);
    if (!pGroups || !GetTokenInformation(hToken, TokenGroups, pGroups, cbGroups, &cbGroups)) {
        utl_SimpleLog(pszModule, pGroups ? "GetTokenInformation error"
                                         : "GetTokenInformation error with NULL!");
        goto done;
    }
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &pAdminSid)) {
        char szMsg[128];
        wsprintfA(szMsg, "Cannot create SID for Administrators with Err:%u.", (unsigned)GetLastError());
        utl_SimpleLog(pszModule, szMsg);
        goto done;
    }
    // Deny-only counts too: the group is in the token whatever its attributes.
    for (DWORD i = 0; i < pGroups->GroupCount; ++i) {
        if (EqualSid(pGroups->Groups[i].Sid, pAdminSid)) {
            nResult = 1;
            break;
        }
    }
done:
    if (pAdminSid)
        FreeSid(pAdminSid);
    free(pGroups);
    utl_CloseHandle(hToken);
    return nResult;
}

int utl_GetSystemFolder(char* pszBuf, DWORD dwSize)
{
    // A result as large as the buffer means the folder did not fit.
    UINT uLen = GetSystemDirectoryA(pszBuf, (UINT)dwSize);
    return uLen != 0 && uLen < dwSize;
}

int utl_GetSysDrive(const char* pszModule, char* pszBuf, DWORD dwSize)
{
    if (!pszBuf || dwSize < UTL_MAX_PATH) {
        utl_Log(pszModule, "the len in is too small", 0);
        return 0;
    }
    // Callers give 261 bytes, but 260 are accepted: never offer the system
    // more than the buffer holds.
    if (!utl_GetSystemFolder(pszBuf, dwSize < UTL_MAX_PATH + 1 ? dwSize : UTL_MAX_PATH + 1))
        return 0;
    pszBuf[1] = '\0';
    return 1;
}

char utl_SysDriveLetter(void)
{
    char szDrive[UTL_MAX_PATH + 1] = {0};
    return utl_GetSysDrive(LOG_MODULE_SETUP, szDrive, sizeof(szDrive)) ? szDrive[0] : 'C';
}

unsigned long long utl_GetDiskFreeSpace(const char* pszPath)
{
    UtlGetDiskFreeSpaceExFn pfnEx = utl_KernelApi().pfnGetDiskFreeSpaceEx;
    if (pfnEx) {
        ULARGE_INTEGER uFree, uTotal, uTotalFree;
        if (!pfnEx(pszPath, &uFree, &uTotal, &uTotalFree))
            return ~0ULL;
        return uFree.QuadPart;
    }
    // Clusters are counted in 32 bits, but their bytes exceed 4 GB on any
    // drive of today.
    DWORD dwSpc = 0, dwBps = 0, dwFree = 0, dwTotal = 0;
    if (!GetDiskFreeSpaceA(pszPath, &dwSpc, &dwBps, &dwFree, &dwTotal))
        return ~0ULL;
    return (unsigned long long)dwSpc * dwBps * dwFree;
}

int utl_RestrictDllSearch(void)
{
    // LOAD_LIBRARY_SEARCH_SYSTEM32, which XP's headers do not know.
    const DWORD SEARCH_SYSTEM32 = 0x00000800;
    UtlSetDefaultDllDirectoriesFn pfn = utl_KernelApi().pfnSetDefaultDllDirectories;
    if (pfn && pfn(SEARCH_SYSTEM32))
        return 1;
    // The program's own folder cannot be taken out here, but a DLL folder
    // takes the place of the current one: the system folder, searched anyway.
    char szSystem[UTL_MAX_PATH];
    if (utl_GetSystemFolder(szSystem, sizeof(szSystem)))
        SetDllDirectoryA(szSystem);
    return 0;
}

UtlKernelApi& utl_KernelApi(void)
{
    static HMODULE s_hKernel = GetModuleHandleA("kernel32.dll");
    static UtlKernelApi s_api = {
        (UtlGetDiskFreeSpaceExFn)(void*)GetProcAddress(s_hKernel, "GetDiskFreeSpaceExA"),
        (UtlSetDefaultDllDirectoriesFn)(void*)GetProcAddress(s_hKernel, "SetDefaultDllDirectories"),
    };
    return s_api;
}
