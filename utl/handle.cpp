#include "handle.h"

void utl_CloseHandle(HANDLE& hHandle)
{
    if (hHandle != INVALID_HANDLE_VALUE && hHandle != NULL)
        CloseHandle(hHandle);
    hHandle = INVALID_HANDLE_VALUE;
}

void utl_CloseFind(HANDLE& hFind)
{
    if (hFind != INVALID_HANDLE_VALUE && hFind != NULL)
        FindClose(hFind);
    hFind = INVALID_HANDLE_VALUE;
}

HANDLE utl_OpenShared(const char* pszPath, DWORD dwAccess, DWORD dwFlags)
{
    return CreateFileA(pszPath, dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                       OPEN_EXISTING, dwFlags, NULL);
}
