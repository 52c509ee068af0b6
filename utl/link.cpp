#include "link.h"
#include "file.h"
#include <string.h>

namespace {

const DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

} // namespace

int utl_LookAt(const UtlFolder* pFolder, const char* pszName, UtlEntryKind* peKind, DWORD* pdwAttributes)
{
    HANDLE hEntry = utl_OpenAt(pFolder, pszName, 0, SHARE_ALL, UTL_OPEN, 0, peKind);
    if (hEntry == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND ? 0 : -1;
    *pdwAttributes = utl_GetAttributes(hEntry);
    utl_CloseHandle(hEntry);
    return 1;
}

int utl_RemoveLinkAt(const UtlFolder* pFolder, const char* pszName)
{
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    DWORD dwAttributes = 0;
    return utl_LookAt(pFolder, pszName, &eKind, &dwAttributes) == 1 && eKind == UTL_ENTRY_LINK
           && utl_DeleteAt(pFolder, pszName) && utl_LookAt(pFolder, pszName, &eKind, &dwAttributes) == 0;
}

int utl_HoldParentOf(const char* pszPath, UtlFolder* pFolder, const char** ppszName)
{
    pFolder->hFolder = INVALID_HANDLE_VALUE;
    const char* pszSep = pszPath ? utl_LastSeparator(pszPath) : NULL;
    char szParent[UTL_MAX_PATH] = ".";
    *ppszName = pszSep ? pszSep + 1 : pszPath;
    if (!pszPath || !**ppszName || strlen(pszPath) >= UTL_MAX_PATH)
        return 0;
    if (pszSep) {
        size_t nParent = (size_t)(pszSep - pszPath);
        memcpy(szParent, pszPath, nParent);
        szParent[nParent] = '\0';
        // "C:" alone is the drive's current folder; its root is meant.
        if (nParent == 0 || (nParent == 2 && szParent[1] == ':'))
            strcat(szParent, "\\");
    }
    return utl_HoldFolder(szParent, 0, pFolder, NULL);
}

int utl_IsLink(const char* pszPath)
{
    UtlFolder folder;
    const char* pszName = NULL;
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    DWORD dwAttributes = 0;
    // What cannot be opened to be told is not trusted as the program's own.
    if (!utl_HoldParentOf(pszPath, &folder, &pszName))
        return GetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES;
    int nLook = utl_LookAt(&folder, pszName, &eKind, &dwAttributes);
    utl_ReleaseFolder(&folder);
    return nLook != 0 && (nLook < 0 || eKind != UTL_ENTRY_OWN);
}

int utl_HoldOwnFolderAt(const UtlFolder* pParent, const char* pszName, DWORD dwAccess, PSECURITY_DESCRIPTOR pSd,
                        UtlFolder* pFolder)
{
    // At most: remove a link, then open or create the folder.
    for (int i = 0; i < 2; ++i) {
        DWORD dwErr = 0;
        if (utl_HoldFolderAt(pParent, pszName, dwAccess, UTL_OPEN_IF, pSd, pFolder, &dwErr))
            return 1;
        if (dwErr != ERROR_REPARSE_POINT_ENCOUNTERED || !utl_RemoveLinkAt(pParent, pszName))
            return 0;
    }
    return 0;
}

int utl_EnsureOwnFolder(const char* pszFolder)
{
    UtlFolder parent, folder;
    const char* pszName = NULL;
    if (!utl_HoldParentOf(pszFolder, &parent, &pszName))
        return 0;
    int bOwn = utl_HoldOwnFolderAt(&parent, pszName, 0, NULL, &folder);
    utl_ReleaseFolder(&folder);
    utl_ReleaseFolder(&parent);
    return bOwn;
}

int utl_HoldOwnFolder(const char* pszFolder, DWORD dwAccess, UtlFolder* pFolder)
{
    UtlFolder parent;
    const char* pszName = NULL;
    pFolder->hFolder = INVALID_HANDLE_VALUE;
    if (!utl_HoldParentOf(pszFolder, &parent, &pszName))
        return 0;
    int bHeld = utl_HoldFolderAt(&parent, pszName, dwAccess, UTL_OPEN, NULL, pFolder, NULL);
    utl_ReleaseFolder(&parent);
    return bHeld;
}

void utl_DeleteOwnFile(const char* pszPath)
{
    UtlFolder parent;
    const char* pszName = NULL;
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    DWORD dwAttributes = 0;
    if (!utl_HoldParentOf(pszPath, &parent, &pszName))
        return;
    // A real folder in a file's place is no file to delete; a link goes as
    // a link, whatever it leads to.
    if (utl_LookAt(&parent, pszName, &eKind, &dwAttributes) == 1
        && (eKind == UTL_ENTRY_LINK || (eKind == UTL_ENTRY_OWN && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))))
        utl_DeleteAt(&parent, pszName);
    utl_ReleaseFolder(&parent);
}

HANDLE utl_OpenOwnFileAt(const UtlFolder* pFolder, const char* pszName, DWORD dwAccess, DWORD dwShare,
                         DWORD dwDisposition)
{
    const int bMayCreate = dwDisposition != OPEN_EXISTING && dwDisposition != TRUNCATE_EXISTING;
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    // Where it may be created, the file is created first: a new entry never
    // goes through a link, not even a dangling one, and the files this is
    // asked to make are mostly new (an unpack into an emptied folder).
    if (bMayCreate) {
        HANDLE hFile = utl_OpenAt(pFolder, pszName, dwAccess, dwShare, UTL_CREATE, UTL_AS_FILE, &eKind);
        if (hFile != INVALID_HANDLE_VALUE)
            return hFile;
        // As CreateFileA says it for CREATE_NEW.
        if (GetLastError() == ERROR_ALREADY_EXISTS)
            SetLastError(ERROR_FILE_EXISTS);
        if (GetLastError() != ERROR_FILE_EXISTS || dwDisposition == CREATE_NEW)
            return hFile;
    }
    // Something is there: it is opened as it stands, never created through.
    HANDLE hFile = utl_OpenAt(pFolder, pszName, dwAccess, dwShare, UTL_OPEN, UTL_AS_FILE, &eKind);
    if (hFile == INVALID_HANDLE_VALUE || eKind == UTL_ENTRY_OWN)
        return hFile;
    utl_CloseHandle(hFile);
    SetLastError(ERROR_ACCESS_DENIED);
    // A link gives way to a new file of the program's own; a dangling or
    // foreign one stays and the open fails.
    if (eKind != UTL_ENTRY_LINK || !bMayCreate || !utl_RemoveLinkAt(pFolder, pszName))
        return INVALID_HANDLE_VALUE;
    return utl_OpenAt(pFolder, pszName, dwAccess, dwShare, UTL_CREATE, UTL_AS_FILE, &eKind);
}

HANDLE utl_OpenOwnFile(const char* pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition)
{
    UtlFolder folder;
    const char* pszName = NULL;
    if (!utl_HoldParentOf(pszPath, &folder, &pszName))
        return INVALID_HANDLE_VALUE;
    HANDLE hFile = utl_OpenOwnFileAt(&folder, pszName, dwAccess, dwShare, dwDisposition);
    DWORD dwErr = GetLastError();
    utl_ReleaseFolder(&folder);
    SetLastError(dwErr);
    return hFile;
}

HANDLE utl_OpenToRead(const char* pszPath)
{
    UtlFolder folder;
    const char* pszName = NULL;
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    if (!utl_HoldParentOf(pszPath, &folder, &pszName))
        return INVALID_HANDLE_VALUE;
    HANDLE hFile = utl_OpenAt(&folder, pszName, GENERIC_READ, FILE_SHARE_READ, UTL_OPEN, UTL_AS_FILE, &eKind);
    DWORD dwErr = GetLastError();
    if (hFile != INVALID_HANDLE_VALUE && eKind != UTL_ENTRY_OWN) {
        utl_CloseHandle(hFile);
        dwErr = ERROR_ACCESS_DENIED;
    }
    utl_ReleaseFolder(&folder);
    SetLastError(dwErr);
    return hFile;
}
