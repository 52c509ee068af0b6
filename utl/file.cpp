// File and folder utilities. The existence checks go through FindFirstFileA
// so that both plain paths and wildcard patterns are accepted; listings and
// deletes act on held folders, one name at a time.
#include "file.h"
#include "link.h"
#include <stdio.h>
#include <string.h>

namespace {

// 1 when an entry matching the pattern is (bWantFolder) or is not a folder.
int AnyEntry(const char* pszPath, bool bWantFolder)
{
    if (!pszPath || !*pszPath)
        return 0;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA(pszPath, &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    int nFound = 0;
    do {
        bool bFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (bFolder == bWantFolder) {
            nFound = 1;
            break;
        }
    } while (FindNextFileA(hFind, &fd));
    utl_CloseFind(hFind);
    return nFound;
}

} // namespace

int utl_FileExists(const char* pszPath)
{
    return AnyEntry(pszPath, false);
}

int utl_FolderExists(const char* pszPath)
{
    return AnyEntry(pszPath, true);
}

int utl_PathJoin(char* pszOut, size_t cbOut, const char* pszFolder, const char* pszName)
{
    if (!pszOut || cbOut == 0)
        return 0;
    pszOut[0] = '\0';
    if (!pszFolder || !pszName)
        return 0;
    size_t nLen = strlen(pszFolder) + 1 + strlen(pszName);
    if (nLen >= cbOut || nLen >= UTL_MAX_PATH)
        return 0;
    snprintf(pszOut, cbOut, "%s\\%s", pszFolder, pszName);
    return 1;
}

int utl_SplitPath(const char* pszPath, char* pszFolder, size_t cbFolder, const char** ppszName)
{
    if (pszFolder && cbFolder)
        pszFolder[0] = '\0';
    if (ppszName)
        *ppszName = pszPath;
    const char* pszSep = pszPath ? strrchr(pszPath, '\\') : NULL;
    size_t nFolder = pszSep ? (size_t)(pszSep - pszPath) : 0;
    if (!pszSep || !pszFolder || nFolder >= cbFolder)
        return 0;
    memcpy(pszFolder, pszPath, nFolder);
    pszFolder[nFolder] = '\0';
    if (ppszName)
        *ppszName = pszSep + 1;
    return 1;
}

namespace {

struct PathCtx {
    const char* pszFolder;
    EntryFn pfnEntry;
    void* pvCtx;
};

void WithPath(void* pvCtx, const UtlFolder*, const char* pszName, DWORD dwAttributes)
{
    PathCtx* pCtx = (PathCtx*)pvCtx;
    char szEntry[UTL_MAX_PATH];
    if (utl_PathJoin(szEntry, sizeof(szEntry), pCtx->pszFolder, pszName))
        pCtx->pfnEntry(pCtx->pvCtx, szEntry, pszName, dwAttributes);
}

void DeleteFileEntry(void* pvKeep, const UtlFolder* pFolder, const char* pszName, DWORD dwAttributes)
{
    const char* pszKeep = (const char*)pvKeep;
    if ((dwAttributes & FILE_ATTRIBUTE_DIRECTORY) || (pszKeep && lstrcmpiA(pszName, pszKeep) == 0))
        return;
    // A link goes as a link; what cannot be told own stays.
    utl_DeleteAt(pFolder, pszName);
}

int DeleteTree(const UtlFolder* pParent, const char* pszName, int nDepth);

struct TreeCtx {
    int nDepth;
};

void DeleteFolderEntry(void* pvTree, const UtlFolder* pFolder, const char* pszName, DWORD dwAttributes)
{
    if (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
        DeleteTree(pFolder, pszName, ((TreeCtx*)pvTree)->nDepth + 1);
}

int DeleteTree(const UtlFolder* pParent, const char* pszName, int nDepth)
{
    UtlFolder folder;
    DWORD dwErr = 0;
    // Held while it is emptied: it cannot be swapped for a link meanwhile.
    if (!utl_HoldFolderAt(pParent, pszName, FILE_WRITE_ATTRIBUTES, UTL_OPEN, NULL, &folder, &dwErr)) {
        // Nothing there, or a file: no folder to delete. A link goes as a
        // link, never what it leads to.
        if (dwErr == ERROR_FILE_NOT_FOUND || dwErr == ERROR_PATH_NOT_FOUND || dwErr == ERROR_DIRECTORY)
            return 1;
        return utl_RemoveLinkAt(pParent, pszName);
    }
    if (nDepth < UTL_MAX_TREE_DEPTH) {
        TreeCtx tree = {nDepth};
        utl_DeleteFilesAt(&folder, "*.*", NULL);
        utl_ListAt(&folder, "*", DeleteFolderEntry, &tree);
    }
    utl_ReleaseFolder(&folder);
    return utl_DeleteAt(pParent, pszName);
}

} // namespace

int utl_ForEachEntry(const char* pszFolder, const char* pszPattern, EntryFn pfnEntry, void* pvCtx)
{
    UtlFolder folder;
    // Never listed through a link: its entries are another folder's.
    if (!utl_HoldOwnFolder(pszFolder, 0, &folder))
        return 0;
    PathCtx ctx = {pszFolder, pfnEntry, pvCtx};
    int bListed = utl_ListAt(&folder, pszPattern, WithPath, &ctx);
    utl_ReleaseFolder(&folder);
    return bListed;
}

void utl_DeleteFilesAt(const UtlFolder* pFolder, const char* pszPattern, const char* pszKeep)
{
    utl_ListAt(pFolder, pszPattern, DeleteFileEntry, (void*)pszKeep);
}

void utl_DeleteFiles(const char* pszFolder, const char* pszPattern)
{
    utl_DeleteFilesExcept(pszFolder, pszPattern, NULL);
}

void utl_DeleteFilesExcept(const char* pszFolder, const char* pszPattern, const char* pszKeep)
{
    UtlFolder folder;
    if (!utl_HoldOwnFolder(pszFolder, 0, &folder))
        return;
    utl_DeleteFilesAt(&folder, pszPattern, pszKeep);
    utl_ReleaseFolder(&folder);
}

void utl_DeleteSubfolders(const char* pszFolder)
{
    UtlFolder folder;
    if (!utl_HoldOwnFolder(pszFolder, 0, &folder))
        return;
    TreeCtx tree = {0};
    utl_ListAt(&folder, "*", DeleteFolderEntry, &tree);
    utl_ReleaseFolder(&folder);
}

int utl_DeleteTreeAt(const UtlFolder* pParent, const char* pszName)
{
    return DeleteTree(pParent, pszName, 0);
}

int utl_DeleteFolderTree(const char* pszFolder)
{
    UtlFolder parent;
    const char* pszName = NULL;
    if (!utl_HoldParentOf(pszFolder, &parent, &pszName)) {
        DWORD dwErr = GetLastError();
        return dwErr == ERROR_FILE_NOT_FOUND || dwErr == ERROR_PATH_NOT_FOUND;
    }
    int bGone = DeleteTree(&parent, pszName, 0);
    utl_ReleaseFolder(&parent);
    return bGone;
}

void utl_RemoveFolder(const char* pszFolder)
{
    UtlFolder parent, folder;
    const char* pszName = NULL;
    DWORD dwErr = 0;
    if (!utl_HoldParentOf(pszFolder, &parent, &pszName))
        return;
    if (utl_HoldFolderAt(&parent, pszName, 0, UTL_OPEN, NULL, &folder, &dwErr)) {
        utl_DeleteFilesAt(&folder, "*.*", NULL);
        utl_ReleaseFolder(&folder);
        // A folder that still holds anything stays.
        utl_DeleteAt(&parent, pszName);
    } else if (dwErr != ERROR_FILE_NOT_FOUND && dwErr != ERROR_PATH_NOT_FOUND && dwErr != ERROR_DIRECTORY) {
        utl_RemoveLinkAt(&parent, pszName);
    }
    utl_ReleaseFolder(&parent);
}

int utl_IsPlainFileName(const char* pszName)
{
    if (!pszName || !*pszName || strlen(pszName) >= UTL_MAX_PATH)
        return 0;
    // The ANSI file functions convert the name to UTF-16 before they split a
    // path, so the name is judged as they will see it: a GBK trail byte of
    // 0x5C or 0x7C is part of an ideograph, not a separator. A name that does
    // not convert whole (a lead byte without its trail byte), or does not
    // convert back to the same bytes, would be created under another name.
    WCHAR wszName[UTL_MAX_PATH];
    int nWide = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, pszName, -1, wszName, UTL_MAX_PATH);
    if (nWide <= 1)
        return 0;
    char szBack[UTL_MAX_PATH];
    int nBack = WideCharToMultiByte(CP_ACP, 0, wszName, -1, szBack, sizeof(szBack), NULL, NULL);
    if (nBack <= 0 || strcmp(szBack, pszName) != 0)
        return 0;
    size_t nLen = (size_t)nWide - 1;
    if (wcscmp(wszName, L".") == 0 || wcscmp(wszName, L"..") == 0)
        return 0;
    for (size_t i = 0; i < nLen; ++i)
        if (wszName[i] < 0x20 || wcschr(L"\\/:*?\"<>|", wszName[i]))
            return 0;
    // Windows drops trailing dots and spaces, which would change the name.
    if (wszName[nLen - 1] == L'.' || wszName[nLen - 1] == L' ')
        return 0;
    // Device names reach a device, not a file, whatever the extension and
    // however many spaces stand before it: the base is judged only after
    // Windows has dropped those spaces.
    size_t nBase = wcscspn(wszName, L".");
    while (nBase > 0 && wszName[nBase - 1] == L' ')
        --nBase;
    static const WCHAR* const apwszDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const WCHAR* pwszDev : apwszDevices)
        if (nBase == wcslen(pwszDev) && _wcsnicmp(wszName, pwszDev, nBase) == 0)
            return 0;
    // COM1 to COM9 and LPT1 to LPT9; Windows counts the superscript digits
    // one to three as digits too.
    if (nBase == 4 && (_wcsnicmp(wszName, L"COM", 3) == 0 || _wcsnicmp(wszName, L"LPT", 3) == 0)) {
        WCHAR wc = wszName[3];
        if ((wc >= L'1' && wc <= L'9') || wc == 0x00B9 || wc == 0x00B2 || wc == 0x00B3)
            return 0;
    }
    return 1;
}

int utl_CopyFileOver(const char* pszSrc, const char* pszDst)
{
    if (!pszSrc || !pszDst)
        return 0;
    HANDLE hSrc = utl_OpenToRead(pszSrc);
    if (hSrc == INVALID_HANDLE_VALUE)
        return 0;
    // The old target goes first: a read-only file cannot be opened for
    // writing, and a link is removed as itself.
    utl_DeleteOwnFile(pszDst);
    HANDLE hDst = utl_OpenOwnFile(pszDst, GENERIC_WRITE, 0, CREATE_NEW);
    const int bOpened = hDst != INVALID_HANDLE_VALUE;
    int bOk = bOpened;
    static BYTE s_abBuf[64 * 1024];
    if (bOk)
        bOk = utl_CopyBytes(hSrc, hDst, UTL_COPY_TO_END, NULL, s_abBuf, sizeof(s_abBuf), NULL, NULL);
    // A target that could not be deleted was opened as it stood: cut off
    // whatever it held beyond the copy.
    if (bOk && !SetEndOfFile(hDst))
        bOk = 0;
    utl_CloseHandle(hSrc);
    utl_CloseHandle(hDst);
    // A half-written copy is no copy.
    if (bOpened && !bOk)
        utl_DeleteOwnFile(pszDst);
    return bOk;
}

int utl_QueryFileSize(const char* pszPath, DWORD* pdwHigh, DWORD* pdwLow)
{
    WIN32_FILE_ATTRIBUTE_DATA fad;
    if (!pszPath || !GetFileAttributesExA(pszPath, GetFileExInfoStandard, &fad))
        return 0;
    if (fad.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_DIRECTORY);
        return 0;
    }
    *pdwHigh = fad.nFileSizeHigh;
    *pdwLow = fad.nFileSizeLow;
    return 1;
}

int utl_ReadExact(HANDLE hFile, void* pvBuf, DWORD dwLen)
{
    DWORD dwRead = 0;
    return ReadFile(hFile, pvBuf, dwLen, &dwRead, NULL) && dwRead == dwLen;
}

int utl_WriteAll(HANDLE hFile, const void* pvBuf, DWORD dwLen)
{
    DWORD dwWritten = 0;
    if (!WriteFile(hFile, pvBuf, dwLen, &dwWritten, NULL))
        return 0;
    if (dwWritten != dwLen) {
        SetLastError(ERROR_WRITE_FAULT);
        return 0;
    }
    return 1;
}

int utl_CopyBytes(HANDLE hSrc, HANDLE hDst, unsigned long long ullLen, UtlChunkFn pfnChunk, BYTE* pbBuf,
                  DWORD dwBufSize, unsigned long long* pullCopied, int* pnStop)
{
    unsigned long long ullCopied = 0;
    int nStop = 0;
    while (ullLen == UTL_COPY_TO_END || ullCopied < ullLen) {
        DWORD dwChunk = dwBufSize;
        if (ullLen != UTL_COPY_TO_END && ullLen - ullCopied < dwBufSize)
            dwChunk = (DWORD)(ullLen - ullCopied);
        DWORD dwRead = 0;
        if (!ReadFile(hSrc, pbBuf, dwChunk, &dwRead, NULL)) {
            nStop = UTL_COPY_READ;
            break;
        }
        // A source that ends before the length asked for is cut short.
        if (dwRead == 0) {
            if (ullLen != UTL_COPY_TO_END)
                nStop = UTL_COPY_ENDED;
            break;
        }
        if (pfnChunk)
            pfnChunk(pbBuf, dwRead);
        if (!utl_WriteAll(hDst, pbBuf, dwRead)) {
            nStop = UTL_COPY_WRITE;
            break;
        }
        ullCopied += dwRead;
    }
    if (pullCopied)
        *pullCopied = ullCopied;
    if (pnStop)
        *pnStop = nStop;
    return nStop == 0;
}

int utl_CopyInto(const char* pszSrcFolder, const char* pszDstFolder, const char* pszName)
{
    char szSrc[UTL_MAX_PATH], szDst[UTL_MAX_PATH];
    if (!utl_PathJoin(szSrc, sizeof(szSrc), pszSrcFolder, pszName)
        || !utl_PathJoin(szDst, sizeof(szDst), pszDstFolder, pszName))
        return 0;
    return utl_CopyFileOver(szSrc, szDst);
}

int utl_CreateFolderChain(const char* pszFolder, DWORD* pdwErr)
{
    DWORD dwErr = ERROR_INVALID_PARAMETER;
    if (!pszFolder || !*pszFolder || strlen(pszFolder) >= UTL_MAX_PATH) {
        if (pdwErr)
            *pdwErr = dwErr;
        return 0;
    }
    char szPart[UTL_MAX_PATH];
    strcpy(szPart, pszFolder);
    size_t nLen = strlen(szPart);
    // The root of the path is never created: skip "X:\" or "\\server\share\".
    size_t nStart = 0;
    if (nLen >= 2 && szPart[1] == ':')
        nStart = (nLen >= 3 && szPart[2] == '\\') ? 3 : 2;
    else if (nLen >= 2 && szPart[0] == '\\' && szPart[1] == '\\') {
        const char* pszShare = strchr(szPart + 2, '\\');
        const char* pszRest = pszShare ? strchr(pszShare + 1, '\\') : NULL;
        nStart = pszRest ? (size_t)(pszRest - szPart) + 1 : nLen;
    } else if (szPart[0] == '\\')
        nStart = 1;

    int nOk = 1;
    for (size_t i = nStart; i <= nLen && nOk; ++i) {
        if (szPart[i] != '\\' && szPart[i] != '\0')
            continue;
        if (i == nStart || szPart[i - 1] == '\\')
            continue;                       // doubled separator
        char cSaved = szPart[i];
        szPart[i] = '\0';
        if (!utl_FolderExists(szPart) && !CreateDirectoryA(szPart, NULL)) {
            dwErr = GetLastError();
            // Another process may have made it meanwhile.
            if (!utl_FolderExists(szPart))
                nOk = 0;
        }
        szPart[i] = cSaved;
    }
    if (!nOk && pdwErr)
        *pdwErr = dwErr;
    return nOk;
}
