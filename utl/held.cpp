#include "held.h"
#include "file.h"
#include "handle.h"
#include <winternl.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

// Information classes and flags, numbered as in the DDK.
const ULONG NT_FILE_DIRECTORY = 1, NT_FILE_BASIC = 4, NT_FILE_STANDARD = 5, NT_FILE_RENAME = 10, NT_FILE_DISPOSITION = 13,
            NT_FILE_ALTERNATE_NAME = 21,
            NT_FILE_DISPOSITION_EX = 64, NT_FS_ATTRIBUTE = 5, NT_OBJECT_NAME = 1;
const ULONG DISPOSITION_DELETE = 0x1, DISPOSITION_POSIX = 0x2;
const ULONG NT_SYNCHRONOUS_IO = 0x20, NT_OPEN_REPARSE_POINT = 0x200000;
const ULONG NT_FILE_CREATED = 2;
const LONG STATUS_NOT_EMPTY = (LONG)0xC0000101, STATUS_NO_DELETE = (LONG)0xC0000121,
           STATUS_DENIED = (LONG)0xC0000022, STATUS_NO_MORE_FILES = (LONG)0x80000006,
           STATUS_NO_SUCH_FILE = (LONG)0xC000000F;

struct NtDirectoryEntry {
    ULONG ulNext;
    ULONG ulIndex;
    LARGE_INTEGER aTimes[4];
    LARGE_INTEGER llEnd, llAllocated;
    ULONG ulAttributes;
    ULONG cbName;
    WCHAR wszName[1];
};
struct NtDispositionEx { ULONG ulFlags; };
struct NtDisposition { BOOLEAN bDelete; };
struct NtRename {
    BOOLEAN bReplace;
    HANDLE hRoot;
    ULONG cbName;
    WCHAR wszName[UTL_MAX_PATH];
};
struct NtFsAttributes {
    ULONG ulAttributes;
    LONG lMaxComponent;
    ULONG cbName;
    WCHAR wszName[64];
};

typedef ULONG(NTAPI* StatusToErrorFn)(LONG);
typedef BOOLEAN(NTAPI* EqualStringFn)(const UNICODE_STRING*, const UNICODE_STRING*, BOOLEAN);
typedef WCHAR(NTAPI* UpcaseFn)(WCHAR);

// The code page the ANSI file functions convert names with.
UINT FileCodePage(void)
{
    return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

HMODULE Ntdll(void)
{
    static HMODULE s_h = GetModuleHandleA("ntdll.dll");
    return s_h;
}

// Every call's status becomes the thread's last error, as kernel32 does.
int Ok(LONG lStatus)
{
    if (lStatus >= 0)
        return 1;
    static StatusToErrorFn s_pfn = (StatusToErrorFn)(void*)GetProcAddress(Ntdll(), "RtlNtStatusToDosError");
    SetLastError(s_pfn ? s_pfn(lStatus) : ERROR_GEN_FAILURE);
    return 0;
}

// Names compare as the file systems compare them: without regard to case.
int SameName(const WCHAR* pwszA, size_t nA, const WCHAR* pwszB, size_t nB)
{
    static EqualStringFn s_pfn = (EqualStringFn)(void*)GetProcAddress(Ntdll(), "RtlEqualUnicodeString");
    if (!s_pfn || nA != nB || nA > 0x7FFF)
        return 0;
    UNICODE_STRING a = {(USHORT)(nA * 2), (USHORT)(nA * 2), (PWSTR)pwszA};
    UNICODE_STRING b = {(USHORT)(nB * 2), (USHORT)(nB * 2), (PWSTR)pwszB};
    return s_pfn(&a, &b, TRUE) ? 1 : 0;
}

// '*' and '?' as the file functions match them, without regard to case.
int Matches(const WCHAR* pwszName, const WCHAR* pwszPattern)
{
    static UpcaseFn s_pfn = (UpcaseFn)(void*)GetProcAddress(Ntdll(), "RtlUpcaseUnicodeChar");
    if (!s_pfn)
        return 0;
    // The last '*' seen and where in the name it started: a mismatch later
    // lets it take one more character.
    const WCHAR *pwszStar = NULL, *pwszResume = NULL;
    while (*pwszName) {
        if (*pwszPattern == L'*') {
            pwszStar = ++pwszPattern;
            pwszResume = pwszName;
        } else if (*pwszPattern == L'?' || (*pwszPattern && s_pfn(*pwszPattern) == s_pfn(*pwszName))) {
            ++pwszPattern;
            ++pwszName;
        } else if (pwszStar) {
            pwszPattern = pwszStar;
            pwszName = ++pwszResume;
        } else {
            return 0;
        }
    }
    while (*pwszPattern == L'*')
        ++pwszPattern;
    return *pwszPattern == L'\0';
}

// A single name in UTF-16, as the ANSI file functions would convert it; 0
// for anything but one plain component.
int WideName(const char* pszName, WCHAR* pwszOut, int cchOut)
{
    // Judged in UTF-16: a GBK trail byte of 0x5C is part of an ideograph.
    if (!pszName || !*pszName
        || MultiByteToWideChar(FileCodePage(), 0, pszName, -1, pwszOut, cchOut) <= 1
        || wcschr(pwszOut, L'\\') || wcschr(pwszOut, L'/') || wcscmp(pwszOut, L".") == 0 || wcscmp(pwszOut, L"..") == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    return 1;
}

// The system's name of the object a handle holds (for files: the volume's
// device and the path on it), without a trailing separator.
int SystemName(HANDLE hEntry, WCHAR* pwszOut, size_t cchOut)
{
    ULONG_PTR aBuf[(sizeof(UNICODE_STRING) + UTL_NT_NAME_CHARS * sizeof(WCHAR)) / sizeof(ULONG_PTR) + 1];
    ULONG cbRet = 0;
    if (!Ok(utl_NtApi().pfnQueryObject(hEntry, NT_OBJECT_NAME, aBuf, sizeof(aBuf), &cbRet)))
        return 0;
    const UNICODE_STRING* pName = (const UNICODE_STRING*)aBuf;
    size_t nLen = pName->Length / sizeof(WCHAR);
    if (!pName->Buffer || nLen == 0 || nLen >= cchOut) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    memcpy(pwszOut, pName->Buffer, nLen * sizeof(WCHAR));
    if (pwszOut[nLen - 1] == L'\\')
        --nLen;
    pwszOut[nLen] = L'\0';
    return 1;
}

// 1 when pwszLeaf is the short (8.3) name of the entry: another spelling of
// the same name in the same folder.
int IsShortName(HANDLE hEntry, const WCHAR* pwszLeaf)
{
    struct {
        ULONG cbName;
        WCHAR wszName[16];
    } alt;
    IO_STATUS_BLOCK iosb;
    return Ok(utl_NtApi().pfnQueryInformationFile(hEntry, &iosb, &alt, sizeof(alt), NT_FILE_ALTERNATE_NAME))
           && alt.cbName <= sizeof(alt.wszName) && SameName(alt.wszName, alt.cbName / 2, pwszLeaf, wcslen(pwszLeaf));
}

HANDLE CreateAt(HANDLE hRoot, const WCHAR* pwszName, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition,
                DWORD dwOptions, PSECURITY_DESCRIPTOR pSd, ULONG* pulAction, int bFollow = 0)
{
    UNICODE_STRING name = {(USHORT)(wcslen(pwszName) * 2), (USHORT)(wcslen(pwszName) * 2), (PWSTR)pwszName};
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &name, OBJ_CASE_INSENSITIVE, hRoot, pSd);
    IO_STATUS_BLOCK iosb;
    memset(&iosb, 0, sizeof(iosb));
    HANDLE hEntry = INVALID_HANDLE_VALUE;
    // Synchronous, so that ReadFile and WriteFile keep a file position as on
    // a handle of CreateFile; the reparse-point option opens a link itself.
    if (!Ok(utl_NtApi().pfnCreateFile(&hEntry, dwAccess | SYNCHRONIZE, &oa, &iosb, NULL, FILE_ATTRIBUTE_NORMAL,
                                      dwShare, dwDisposition,
                                      dwOptions | NT_SYNCHRONOUS_IO | (bFollow ? 0 : NT_OPEN_REPARSE_POINT),
                                      NULL, 0)))
        return INVALID_HANDLE_VALUE;
    *pulAction = (ULONG)iosb.Information;
    return hEntry;
}

HANDLE OpenAtSd(const UtlFolder* pFolder, const char* pszName, DWORD dwAccess, DWORD dwShare, DWORD dwDisposition,
                DWORD dwOptions, PSECURITY_DESCRIPTOR pSd, UtlEntryKind* peKind)
{
    *peKind = UTL_ENTRY_FOREIGN;
    WCHAR wszName[UTL_MAX_PATH];
    if (!pFolder || pFolder->hFolder == INVALID_HANDLE_VALUE || !pFolder->hFolder) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    if (!WideName(pszName, wszName, UTL_MAX_PATH))
        return INVALID_HANDLE_VALUE;
    ULONG ulAction = 0;
    // The attributes are read on every entry that is not new.
    HANDLE hEntry = CreateAt(pFolder->hFolder, wszName, dwAccess | FILE_READ_ATTRIBUTES, dwShare, dwDisposition,
                             dwOptions, pSd, &ulAction);
    if (hEntry == INVALID_HANDLE_VALUE)
        return hEntry;
    // Made by this call, in the folder held: nothing else can stand there.
    *peKind = ulAction == NT_FILE_CREATED ? UTL_ENTRY_OWN : utl_EntryKind(hEntry, pFolder->wszName, pszName);
    // Wine shows a unix mount point, a real folder, as a reparse point when
    // it is opened as one: followed, it is still that very name. A junction
    // followed is another folder, and stays a link.
    if (*peKind == UTL_ENTRY_LINK && (utl_GetAttributes(hEntry) & FILE_ATTRIBUTE_DIRECTORY)) {
        UtlEntryKind eFollowed = UTL_ENTRY_FOREIGN;
        HANDLE hFollowed = CreateAt(pFolder->hFolder, wszName, dwAccess | FILE_READ_ATTRIBUTES, dwShare, UTL_OPEN,
                                    dwOptions, NULL, &ulAction, 1);
        if (hFollowed != INVALID_HANDLE_VALUE)
            eFollowed = utl_EntryKind(hFollowed, pFolder->wszName, pszName);
        if (eFollowed == UTL_ENTRY_OWN) {
            utl_CloseHandle(hEntry);
            hEntry = hFollowed;
            *peKind = UTL_ENTRY_OWN;
        } else {
            utl_CloseHandle(hFollowed);
        }
    }
    return hEntry;
}

// Marks the entry for deletion so that its name is free at once.
int DeleteOpened(const UtlFolder* pFolder, HANDLE hEntry, const char* pszName, int bFolder)
{
    UtlNtApi& nt = utl_NtApi();
    IO_STATUS_BLOCK iosb;
    // Windows 10 on NTFS: the name goes now, whoever else holds the entry.
    NtDispositionEx ex = {DISPOSITION_DELETE | DISPOSITION_POSIX};
    LONG lStatus = nt.pfnSetInformationFile(hEntry, &iosb, &ex, sizeof(ex), NT_FILE_DISPOSITION_EX);
    if (Ok(lStatus))
        return 1;
    // A folder that is not empty, a read-only entry or a refusal stays so
    // whichever way it is asked.
    if (lStatus == STATUS_NOT_EMPTY || lStatus == STATUS_NO_DELETE || lStatus == STATUS_DENIED)
        return 0;
    // Elsewhere a deleted name stays while any other handle is open (an
    // antivirus scanner's, say), and a new entry of that name is refused
    // meanwhile: a file takes a name of its own in the same folder first. A
    // folder does not (scanners hold files): one that is not empty would be
    // left under that name where the system refuses only when it is closed.
    static LONG s_nDeletes = 0;
    char szAside[64];
    snprintf(szAside, sizeof(szAside), "~kavla-%lx-%lx-%lx.del", (unsigned long)GetCurrentProcessId(),
             (unsigned long)GetTickCount(), (unsigned long)InterlockedIncrement(&s_nDeletes));
    int bAside = !bFolder && utl_RenameAt(pFolder, hEntry, szAside);
    NtDisposition disp = {TRUE};
    if (Ok(nt.pfnSetInformationFile(hEntry, &iosb, &disp, sizeof(disp), NT_FILE_DISPOSITION)))
        return 1;
    // Not deletable after all: it keeps the name it had.
    if (bAside)
        utl_RenameAt(pFolder, hEntry, pszName);
    return 0;
}

} // namespace

const char* utl_LastSeparator(const char* pszPath)
{
    const char* pszLast = NULL;
    // Trail bytes of double-byte characters are skipped: in code page 936
    // one may be 0x5C.
    for (const char* psz = pszPath; psz && *psz; ++psz) {
        if (IsDBCSLeadByteEx(FileCodePage(), (BYTE)*psz) && psz[1])
            ++psz;
        else if (*psz == '\\')
            pszLast = psz;
    }
    return pszLast;
}

UtlNtApi& utl_NtApi(void)
{
    static UtlNtApi s_api = {
        (UtlNtCreateFileFn)(void*)GetProcAddress(Ntdll(), "NtCreateFile"),
        (UtlNtFileInfoFn)(void*)GetProcAddress(Ntdll(), "NtQueryInformationFile"),
        (UtlNtFileInfoFn)(void*)GetProcAddress(Ntdll(), "NtSetInformationFile"),
        (UtlNtFileInfoFn)(void*)GetProcAddress(Ntdll(), "NtQueryVolumeInformationFile"),
        (UtlNtQueryObjectFn)(void*)GetProcAddress(Ntdll(), "NtQueryObject"),
        (UtlNtQueryDirectoryFileFn)(void*)GetProcAddress(Ntdll(), "NtQueryDirectoryFile"),
    };
    return s_api;
}

UtlEntryKind utl_EntryKind(HANDLE hEntry, const WCHAR* pwszFolder, const char* pszName)
{
    FILE_BASIC_INFORMATION basic;
    FILE_STANDARD_INFORMATION standard;
    IO_STATUS_BLOCK iosb;
    WCHAR wszEntry[UTL_NT_NAME_CHARS], wszLeaf[UTL_MAX_PATH];
    const char* pszLeaf = pszName ? utl_LastSeparator(pszName) : NULL;
    pszLeaf = pszLeaf ? pszLeaf + 1 : pszName;
    UtlNtApi& nt = utl_NtApi();
    if (!pwszFolder || !*pwszFolder || !WideName(pszLeaf, wszLeaf, UTL_MAX_PATH)
        || !Ok(nt.pfnQueryInformationFile(hEntry, &iosb, &basic, sizeof(basic), NT_FILE_BASIC))
        || !Ok(nt.pfnQueryInformationFile(hEntry, &iosb, &standard, sizeof(standard), NT_FILE_STANDARD))
        || !SystemName(hEntry, wszEntry, UTL_NT_NAME_CHARS))
        return UTL_ENTRY_FOREIGN;
    // The entry must be the very name opened, in the very folder meant: a
    // handle that a link (Wine's unix symlinks, an object-manager link on
    // the way) led elsewhere names another object. Both names come from the
    // system, so a drive reached by SUBST, a short name or a letter case of
    // the path opened does not count.
    const WCHAR* pwszSep = wcsrchr(wszEntry, L'\\');
    if (!pwszSep || !SameName(wszEntry, (size_t)(pwszSep - wszEntry), pwszFolder, wcslen(pwszFolder))
        || (!SameName(pwszSep + 1, wcslen(pwszSep + 1), wszLeaf, wcslen(wszLeaf)) && !IsShortName(hEntry, wszLeaf)))
        return UTL_ENTRY_FOREIGN;
    if (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return UTL_ENTRY_LINK;
    // A folder's link count says nothing about other names (Wine gives the
    // unix count of its subfolders).
    if (!standard.Directory && standard.NumberOfLinks > 1)
        return UTL_ENTRY_LINK;
    return UTL_ENTRY_OWN;
}

HANDLE utl_OpenAt(const UtlFolder* pFolder, const char* pszName, DWORD dwAccess, DWORD dwShare,
                  DWORD dwDisposition, DWORD dwOptions, UtlEntryKind* peKind)
{
    return OpenAtSd(pFolder, pszName, dwAccess, dwShare, dwDisposition, dwOptions, NULL, peKind);
}

int utl_HoldFolderAt(const UtlFolder* pParent, const char* pszName, DWORD dwAccess, DWORD dwDisposition,
                     PSECURITY_DESCRIPTOR pSd, UtlFolder* pFolder, DWORD* pdwErr)
{
    pFolder->hFolder = INVALID_HANDLE_VALUE;
    pFolder->wszName[0] = L'\0';
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    // No FILE_SHARE_DELETE: nobody can rename or delete it while it is held.
    HANDLE hFolder = OpenAtSd(pParent, pszName, FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL | dwAccess,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, dwDisposition, UTL_AS_FOLDER, pSd, &eKind);
    DWORD dwErr = GetLastError();
    if (hFolder != INVALID_HANDLE_VALUE && eKind != UTL_ENTRY_OWN) {
        utl_CloseHandle(hFolder);
        dwErr = eKind == UTL_ENTRY_LINK ? ERROR_REPARSE_POINT_ENCOUNTERED : ERROR_ACCESS_DENIED;
    }
    if (hFolder != INVALID_HANDLE_VALUE && !SystemName(hFolder, pFolder->wszName, UTL_NT_NAME_CHARS)) {
        dwErr = GetLastError();
        utl_CloseHandle(hFolder);
    }
    pFolder->hFolder = hFolder;
    if (hFolder == INVALID_HANDLE_VALUE && pdwErr)
        *pdwErr = dwErr;
    return hFolder != INVALID_HANDLE_VALUE;
}

int utl_HoldFolder(const char* pszFolder, DWORD dwAccess, UtlFolder* pFolder, DWORD* pdwErr)
{
    pFolder->wszName[0] = L'\0';
    pFolder->hFolder = CreateFileA(pszFolder, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | dwAccess,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                   NULL);
    DWORD dwAttributes = INVALID_FILE_ATTRIBUTES;
    if (pFolder->hFolder != INVALID_HANDLE_VALUE)
        dwAttributes = utl_GetAttributes(pFolder->hFolder);
    if (pFolder->hFolder != INVALID_HANDLE_VALUE
        && (dwAttributes == INVALID_FILE_ATTRIBUTES || !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
            || !SystemName(pFolder->hFolder, pFolder->wszName, UTL_NT_NAME_CHARS))) {
        if (dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
            SetLastError(ERROR_DIRECTORY);
        utl_CloseHandle(pFolder->hFolder);
    }
    if (pFolder->hFolder == INVALID_HANDLE_VALUE && pdwErr)
        *pdwErr = GetLastError();
    return pFolder->hFolder != INVALID_HANDLE_VALUE;
}

void utl_ReleaseFolder(UtlFolder* pFolder)
{
    if (pFolder)
        utl_CloseHandle(pFolder->hFolder);
}

int utl_DeleteAt(const UtlFolder* pFolder, const char* pszName)
{
    UtlEntryKind eKind = UTL_ENTRY_FOREIGN;
    HANDLE hEntry = utl_OpenAt(pFolder, pszName, DELETE | FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, UTL_OPEN, 0, &eKind);
    if (hEntry == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    int bDeleted = 0;
    DWORD dwAttributes = utl_GetAttributes(hEntry);
    if (eKind != UTL_ENTRY_FOREIGN && dwAttributes != INVALID_FILE_ATTRIBUTES) {
        // Read-only entries are made normal first; a hard link's attribute
        // belongs to its other names too and stays: so does that name.
        int bReadOnly = (dwAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (bReadOnly && (eKind == UTL_ENTRY_OWN || (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)))
            bReadOnly = !utl_SetAttributes(hEntry, dwAttributes & ~(DWORD)FILE_ATTRIBUTE_READONLY);
        bDeleted = !bReadOnly
                   && DeleteOpened(pFolder, hEntry, pszName, (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    }
    utl_CloseHandle(hEntry);
    // Some systems refuse a folder that is not empty only when it is closed.
    // (A file's name is gone once it is marked: renamed aside, or deleted.)
    if (bDeleted && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        hEntry = utl_OpenAt(pFolder, pszName, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, UTL_OPEN, 0,
                            &eKind);
        bDeleted = hEntry == INVALID_HANDLE_VALUE;
        utl_CloseHandle(hEntry);
    }
    return bDeleted;
}

int utl_ListAt(const UtlFolder* pFolder, const char* pszPattern, UtlEntryFn pfnEntry, void* pvCtx)
{
    WCHAR wszPattern[UTL_MAX_PATH];
    const UINT uCodePage = FileCodePage();
    if (!pFolder || pFolder->hFolder == INVALID_HANDLE_VALUE || !pFolder->hFolder || !pszPattern
        || MultiByteToWideChar(uCodePage, 0, strcmp(pszPattern, "*.*") == 0 ? "*" : pszPattern, -1, wszPattern,
                               UTL_MAX_PATH) <= 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::vector<std::pair<std::string, DWORD> > entries;
    std::vector<ULONG_PTR> buf(64 * 1024 / sizeof(ULONG_PTR));
    // Each listing reads through a handle of its own on the same folder (an
    // empty name relative to the held one): some systems keep a handle's
    // first listing for as long as the handle is open.
    ULONG ulAction = 0;
    HANDLE hList = CreateAt(pFolder->hFolder, L"", FILE_LIST_DIRECTORY,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, UTL_OPEN, UTL_AS_FOLDER, NULL,
                            &ulAction);
    if (hList == INVALID_HANDLE_VALUE)
        return 0;
    LONG lStatus = 0;
    for (BOOLEAN bRestart = TRUE; lStatus >= 0; bRestart = FALSE) {
        IO_STATUS_BLOCK iosb;
        memset(&iosb, 0, sizeof(iosb));
        lStatus = utl_NtApi().pfnQueryDirectoryFile(hList, NULL, NULL, NULL, &iosb, &buf[0],
                                                    (ULONG)(buf.size() * sizeof(ULONG_PTR)), NT_FILE_DIRECTORY, FALSE,
                                                    NULL, bRestart);
        if (lStatus < 0)
            break;
        for (const BYTE* pb = (const BYTE*)&buf[0];;) {
            const NtDirectoryEntry* pEntry = (const NtDirectoryEntry*)pb;
            WCHAR wszName[UTL_MAX_PATH];
            char szName[UTL_MAX_PATH * 2];
            BOOL bLossy = FALSE;
            size_t nName = pEntry->cbName / sizeof(WCHAR);
            if (nName < UTL_MAX_PATH) {
                memcpy(wszName, pEntry->wszName, nName * sizeof(WCHAR));
                wszName[nName] = L'\0';
                int nBytes = WideCharToMultiByte(uCodePage, WC_NO_BEST_FIT_CHARS, wszName, -1, szName,
                                                 sizeof(szName), NULL, &bLossy);
                if (nBytes > 0 && !bLossy && wcscmp(wszName, L".") != 0 && wcscmp(wszName, L"..") != 0
                    && Matches(wszName, wszPattern))
                    entries.push_back(std::make_pair(std::string(szName), (DWORD)pEntry->ulAttributes));
            }
            if (!pEntry->ulNext)
                break;
            pb += pEntry->ulNext;
        }
    }
    utl_CloseHandle(hList);
    // (An empty listing says "no such file" on some systems.)
    if (lStatus != STATUS_NO_MORE_FILES && lStatus != STATUS_NO_SUCH_FILE && !Ok(lStatus))
        return 0;
    for (size_t i = 0; i < entries.size(); ++i)
        pfnEntry(pvCtx, pFolder, entries[i].first.c_str(), entries[i].second);
    return 1;
}

int utl_RenameAt(const UtlFolder* pFolder, HANDLE hEntry, const char* pszNewName)
{
    NtRename rename;
    memset(&rename, 0, sizeof(rename));
    if (!pFolder || !WideName(pszNewName, rename.wszName, UTL_MAX_PATH))
        return 0;
    rename.bReplace = FALSE;
    rename.hRoot = pFolder->hFolder;
    rename.cbName = (ULONG)(wcslen(rename.wszName) * sizeof(WCHAR));
    IO_STATUS_BLOCK iosb;
    return Ok(utl_NtApi().pfnSetInformationFile(hEntry, &iosb, &rename, sizeof(rename), NT_FILE_RENAME));
}

int utl_SetAttributes(HANDLE hEntry, DWORD dwAttributes)
{
    FILE_BASIC_INFORMATION basic;
    memset(&basic, 0, sizeof(basic));
    // Zero times stay as they are; zero attributes would too.
    basic.FileAttributes = dwAttributes ? dwAttributes : FILE_ATTRIBUTE_NORMAL;
    IO_STATUS_BLOCK iosb;
    return Ok(utl_NtApi().pfnSetInformationFile(hEntry, &iosb, &basic, sizeof(basic), NT_FILE_BASIC));
}

DWORD utl_GetAttributes(HANDLE hEntry)
{
    FILE_BASIC_INFORMATION basic;
    IO_STATUS_BLOCK iosb;
    if (!Ok(utl_NtApi().pfnQueryInformationFile(hEntry, &iosb, &basic, sizeof(basic), NT_FILE_BASIC)))
        return INVALID_FILE_ATTRIBUTES;
    return basic.FileAttributes;
}

int utl_VolumeKeepsAcls(HANDLE hEntry)
{
    NtFsAttributes fs;
    IO_STATUS_BLOCK iosb;
    memset(&fs, 0, sizeof(fs));
    return Ok(utl_NtApi().pfnQueryVolumeInformationFile(hEntry, &iosb, &fs, sizeof(fs), NT_FS_ATTRIBUTE))
           && (fs.ulAttributes & FILE_PERSISTENT_ACLS);
}
