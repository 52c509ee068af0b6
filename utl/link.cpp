#include "link.h"
#include <string.h>

namespace {

typedef DWORD(WINAPI* FinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
typedef BOOL(WINAPI* SetInfoFn)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
typedef BOOL(WINAPI* GetInfoFn)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// All three exist from Windows Vista on; looked up so that the program still
// starts where they are missing (then only the attribute and link-count
// tests apply, and attributes and deletes go by path).
// Looked up once per process: the log writer checks every line's file.
// The wide form: the ANSI one asks the system for the name twice (once for
// its length), and every question is a round trip to the Wine server.
FinalPathFn FinalPathFunction(void)
{
    static FinalPathFn s_pfn =
        (FinalPathFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW");
    return s_pfn;
}

GetInfoFn GetInfoFunction(void)
{
    static GetInfoFn s_pfn =
        (GetInfoFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFileInformationByHandleEx");
    return s_pfn;
}

SetInfoFn SetInfoFunction(void)
{
    static SetInfoFn s_pfn =
        (SetInfoFn)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle");
    return s_pfn;
}

void DropTrailingSeparator(char* pszPath)
{
    size_t nLen = strlen(pszPath);
    // "C:\" keeps its separator: it is the root.
    if (nLen > 3 && pszPath[nLen - 1] == '\\')
        pszPath[nLen - 1] = '\0';
}

// Length of pszPrefix when pszPath is that folder or lies in it, else 0.
size_t FolderPrefix(const char* pszPath, const char* pszPrefix)
{
    size_t nLen = strlen(pszPrefix);
    if (!nLen || _strnicmp(pszPath, pszPrefix, nLen) != 0 || (pszPath[nLen] && pszPath[nLen] != '\\'))
        return 0;
    return nLen;
}

// A 32-bit program on 64-bit Windows that opens <windir>\system32\... gets
// <windir>\SysWOW64\...: the system's own redirection, no link. Both
// folders are empty where nothing is redirected, and on systems older than
// the functions that tell (looked up, like the others).
typedef BOOL(WINAPI* IsWow64Fn)(HANDLE, PBOOL);
typedef UINT(WINAPI* Wow64DirFn)(LPSTR, UINT);

struct RedirectedFolders {
    char szSystem[MAX_PATH], szWow64[MAX_PATH];
    RedirectedFolders()
    {
        HMODULE hKernel = GetModuleHandleA("kernel32.dll");
        IsWow64Fn pfnIsWow64 = (IsWow64Fn)(void*)GetProcAddress(hKernel, "IsWow64Process");
        Wow64DirFn pfnWow64Dir = (Wow64DirFn)(void*)GetProcAddress(hKernel, "GetSystemWow64DirectoryA");
        BOOL bWow64 = FALSE;
        UINT uSys = GetSystemDirectoryA(szSystem, sizeof(szSystem));
        UINT uWow = pfnIsWow64 && pfnWow64Dir && pfnIsWow64(GetCurrentProcess(), &bWow64) && bWow64
                        ? pfnWow64Dir(szWow64, sizeof(szWow64)) : 0;
        if (uSys == 0 || uSys >= sizeof(szSystem) || uWow == 0 || uWow >= sizeof(szWow64))
            szSystem[0] = szWow64[0] = '\0';
    }
};

int IsSystemRedirection(const char* pszFull, const char* pszFinal)
{
    static const RedirectedFolders s_folders;
    size_t nSys = FolderPrefix(pszFull, s_folders.szSystem);
    size_t nWow = FolderPrefix(pszFinal, s_folders.szWow64);
    return nSys && nWow && lstrcmpiA(pszFull + nSys, pszFinal + nWow) == 0;
}

// 1 when the handle's final path differs from the full path meant.
int LeadsElsewhere(HANDLE hEntry, const char* pszPath)
{
    FinalPathFn pfnFinal = FinalPathFunction();
    if (!pfnFinal)
        return 0;
    WCHAR wszFinal[2 * MAX_PATH];
    char szFinal[4 * MAX_PATH], szFull[2 * MAX_PATH];
    DWORD dwFinal = pfnFinal(hEntry, wszFinal, ARRAYSIZE(wszFinal), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (dwFinal == 0 || dwFinal >= ARRAYSIZE(wszFinal))
        return 0;
    // In the code page of the ANSI file functions, as pszPath is.
    int nFinal = WideCharToMultiByte(AreFileApisANSI() ? CP_ACP : CP_OEMCP, 0, wszFinal, (int)dwFinal + 1, szFinal,
                                     sizeof(szFinal), NULL, NULL);
    DWORD dwFull = GetFullPathNameA(pszPath, sizeof(szFull), szFull, NULL);
    if (nFinal == 0 || dwFull == 0 || dwFull >= sizeof(szFull))
        return 0;
    const char* pszFinal = szFinal;
    if (strncmp(pszFinal, "\\\\?\\", 4) == 0)
        pszFinal += 4;
    DropTrailingSeparator((char*)pszFinal);
    DropTrailingSeparator(szFull);
    return lstrcmpiA(pszFinal, szFull) != 0 && !IsSystemRedirection(szFull, pszFinal);
}

// Sets the attributes through the handle itself (0 leaves the times alone).
int SetAttributesOnHandle(HANDLE hEntry, DWORD dwAttributes)
{
    SetInfoFn pfnSet = SetInfoFunction();
    if (!pfnSet)
        return 0;
    FILE_BASIC_INFO info;
    memset(&info, 0, sizeof(info));
    info.FileAttributes = dwAttributes;
    return pfnSet(hEntry, FileBasicInfo, &info, sizeof(info)) ? 1 : 0;
}

// The entry's attributes and link count. Asked for by themselves where the
// system can: GetFileInformationByHandle also asks for the volume's serial
// number, which under Wine is a round trip to its mount manager process and
// the dearest part of a log line.
int GetAttributesAndLinks(HANDLE hEntry, DWORD* pdwAttributes, DWORD* pdwLinks)
{
    GetInfoFn pfnGet = GetInfoFunction();
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (pfnGet && pfnGet(hEntry, FileBasicInfo, &basic, sizeof(basic))
        && pfnGet(hEntry, FileStandardInfo, &standard, sizeof(standard))) {
        *pdwAttributes = basic.FileAttributes;
        *pdwLinks = standard.NumberOfLinks;
        return 1;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(hEntry, &info))
        return 0;
    *pdwAttributes = info.dwFileAttributes;
    *pdwLinks = info.nNumberOfLinks;
    return 1;
}

// A handle on what was just opened or created, kept only when it is the
// path's own file: a link made or swapped in on the way is not written through.
HANDLE KeepIfOwn(HANDLE hFile, const char* pszPath)
{
    if (hFile != INVALID_HANDLE_VALUE && utl_IsLinkHandle(hFile, pszPath)) {
        utl_CloseHandle(hFile);
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return hFile;
}

} // namespace

int utl_DeleteOnClose(HANDLE hEntry)
{
    SetInfoFn pfnSet = SetInfoFunction();
    FILE_DISPOSITION_INFO disp;
    disp.DeleteFile = TRUE;
    return pfnSet && pfnSet(hEntry, FileDispositionInfo, &disp, sizeof(disp)) ? 1 : 0;
}

int utl_IsLinkHandle(HANDLE hEntry, const char* pszPath)
{
    DWORD dwAttributes = 0, dwLinks = 0;
    if (GetAttributesAndLinks(hEntry, &dwAttributes, &dwLinks)) {
        if (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return 1;
        // A folder's link count says nothing about other names (Wine gives
        // the unix count of its subfolders).
        if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && dwLinks > 1)
            return 1;
    }
    return LeadsElsewhere(hEntry, pszPath);
}

int utl_IsLink(const char* pszPath)
{
    DWORD dwAttr = GetFileAttributesA(pszPath);
    if (dwAttr == INVALID_FILE_ATTRIBUTES)
        return 0;
    // Judged on the handle, not on the name's attributes: Wine shows a
    // mounted volume (a real folder of its own) as a reparse point by name.
    HANDLE hEntry = utl_OpenShared(pszPath, FILE_READ_ATTRIBUTES, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (hEntry == INVALID_HANDLE_VALUE)
        return (dwAttr & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
    int nLink = utl_IsLinkHandle(hEntry, pszPath);
    utl_CloseHandle(hEntry);
    return nLink;
}

int utl_RemoveLink(const char* pszPath)
{
    // Only the link itself may go, and only through a handle on the link.
    // Windows opens a junction or symbolic link itself with
    // FILE_FLAG_OPEN_REPARSE_POINT; Wine opens a unix symlink's target
    // whatever the flags, and every removal by name (DeleteFileA,
    // RemoveDirectoryA, MoveFileA) then acts on the target. A handle that
    // leads elsewhere, or no handle (a dangling link), leaves the link as it
    // is: the caller's step fails instead.
    HANDLE hLink = utl_OpenShared(pszPath, DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (hLink == INVALID_HANDLE_VALUE)
        return 0;
    DWORD dwAttributes = 0, dwLinks = 0;
    SetInfoFn pfnSet = SetInfoFunction();
    int bRemoved = 0;
    // A read-only hard link stays: making it normal would change the file
    // that its other names share.
    if (pfnSet && GetAttributesAndLinks(hLink, &dwAttributes, &dwLinks) && !LeadsElsewhere(hLink, pszPath)
        && ((dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(dwAttributes & FILE_ATTRIBUTE_READONLY))) {
        bRemoved = utl_DeleteOnClose(hLink);
    }
    utl_CloseHandle(hLink);
    return bRemoved && GetFileAttributesA(pszPath) == INVALID_FILE_ATTRIBUTES;
}

int utl_EnsureOwnFolder(const char* pszFolder)
{
    if (!pszFolder || !*pszFolder)
        return 0;
    // At most: remove a link, create the folder, check what is there.
    for (int i = 0; i < 3; ++i) {
        DWORD dwAttr = GetFileAttributesA(pszFolder);
        if (dwAttr == INVALID_FILE_ATTRIBUTES) {
            // A dangling link makes this fail; it is not created through.
            // Another process that made the folder meanwhile makes it fail
            // too: then the next round finds that folder.
            if (!CreateDirectoryA(pszFolder, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
                return 0;
            continue;
        }
        if (utl_IsLink(pszFolder)) {
            if (!utl_RemoveLink(pszFolder))
                return 0;
            continue;
        }
        return (dwAttr & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    }
    return 0;
}

HANDLE utl_OpenOwnFolder(const char* pszFolder, DWORD dwAccess)
{
    if (!pszFolder || !*pszFolder)
        return INVALID_HANDLE_VALUE;
    // No FILE_SHARE_DELETE: nobody can delete, rename or replace it meanwhile.
    HANDLE hFolder = CreateFileA(pszFolder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | dwAccess,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (hFolder == INVALID_HANDLE_VALUE)
        return hFolder;
    DWORD dwAttributes = 0, dwLinks = 0;
    if (!GetAttributesAndLinks(hFolder, &dwAttributes, &dwLinks) || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
        || utl_IsLinkHandle(hFolder, pszFolder))
        utl_CloseHandle(hFolder);
    return hFolder;
}

int utl_ClearAttributes(HANDLE hEntry, const char* pszPath)
{
    if (SetAttributesOnHandle(hEntry, FILE_ATTRIBUTE_NORMAL))
        return 1;
    return SetInfoFunction() ? 0 : SetFileAttributesA(pszPath, FILE_ATTRIBUTE_NORMAL) != FALSE;
}

int utl_RemoveOwnFolder(const char* pszFolder)
{
    // Removed through a handle on the folder itself, checked, not by a name
    // that may lead elsewhere by now; by name only where the system has no
    // handle functions (before Windows Vista).
    HANDLE hFolder = utl_OpenOwnFolder(pszFolder, DELETE);
    if (hFolder != INVALID_HANDLE_VALUE)
        utl_DeleteOnClose(hFolder);
    else if (!SetInfoFunction())
        RemoveDirectoryA(pszFolder);
    utl_CloseHandle(hFolder);
    return GetFileAttributesA(pszFolder) == INVALID_FILE_ATTRIBUTES;
}

void utl_DeleteOwnFile(const char* pszPath)
{
    HANDLE hFile = utl_OpenShared(pszPath, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    if (utl_IsLinkHandle(hFile, pszPath)) {
        // The link goes as a link, and its target's attributes stay.
        utl_CloseHandle(hFile);
        utl_RemoveLink(pszPath);
        return;
    }
    // A real folder in a file's place is no file to delete.
    DWORD dwAttributes = 0, dwLinks = 0;
    if (!GetAttributesAndLinks(hFile, &dwAttributes, &dwLinks) || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        utl_CloseHandle(hFile);
        return;
    }
    utl_ClearAttributes(hFile, pszPath);
    int bDeleted = utl_DeleteOnClose(hFile);
    utl_CloseHandle(hFile);
    // Without handle functions (before Windows Vista) the name is deleted.
    if (!bDeleted && !SetInfoFunction())
        DeleteFileA(pszPath);
}

HANDLE utl_OpenOwnFile(const char* pszPath, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition)
{
    const DWORD dwFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    const int bMayCreate = dwDisposition != OPEN_EXISTING && dwDisposition != TRUNCATE_EXISTING;
    // Where it may be created, the file is created first: CREATE_NEW is never
    // made through a link, not even a dangling one (anything at the name
    // makes it fail), and the files this is asked to make are mostly new (an
    // unpack into an emptied folder). Asking for a missing name first would
    // cost a second search of the folder, which Wine makes by listing it.
    if (bMayCreate) {
        HANDLE hFile = CreateFileA(pszPath, dwAccess, dwShare, NULL, CREATE_NEW, dwFlags, NULL);
        DWORD dwErr = GetLastError();
        if (hFile != INVALID_HANDLE_VALUE || (dwErr != ERROR_FILE_EXISTS && dwErr != ERROR_ALREADY_EXISTS))
            return KeepIfOwn(hFile, pszPath);
    }
    // Something is there: it is opened as it stands, never created through.
    HANDLE hFile = CreateFileA(pszPath, dwAccess, dwShare, NULL, OPEN_EXISTING, dwFlags, NULL);
    if (hFile != INVALID_HANDLE_VALUE) {
        if (!utl_IsLinkHandle(hFile, pszPath))
            return hFile;
        utl_CloseHandle(hFile);
        if (!utl_RemoveLink(pszPath))
            return INVALID_HANDLE_VALUE;
    } else if (!bMayCreate || GetLastError() != ERROR_FILE_NOT_FOUND) {
        return INVALID_HANDLE_VALUE;
    }
    // The link is gone, or what stood there went meanwhile; a dangling link
    // still stands and makes this fail.
    return KeepIfOwn(CreateFileA(pszPath, dwAccess, dwShare, NULL, CREATE_NEW, dwFlags, NULL), pszPath);
}
