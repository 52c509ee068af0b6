// The three log writers share one routine that differs only in folder, file
// name stem and line prefix. Files are opened and closed for every line so
// that the setup program and the programs it starts can share them. A line
// is written in one write through an append-only handle, under a byte-range
// lock of one byte far past the end (so that readers are never blocked):
// several processes append to the same file, and an append is not atomic
// under every Windows implementation.
#include "log.h"
#include "log_lines.h"
#include "file.h"
#include "link.h"
#include "sys.h"
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <string>

int g_nLogDetail = 0;

namespace {

enum LogKind { LOG_SETUP, LOG_UTL, LOG_SIMPLE };

// How long a line waits at most for the writers' lock (see LockForLine).
const DWORD LOG_LOCK_WAIT_MS = 200;

// <drive>:\KavlaLog of the system drive, C:\KavlaLog when it is unknown.
struct SysLogFolder {
    char sz[UTL_MAX_PATH];
    SysLogFolder()
    {
        snprintf(sz, sizeof(sz), "%c:\\" LOG_FOLDER_NAME, utl_SysDriveLetter());
    }
};

// The system folder does not move while a process runs: its drive is looked
// up for the first line only (the folder itself is still checked on every
// line). utl_GetSysDrive logs only for a short buffer, never here, so the
// one-time initialisation cannot come back into itself.
const char* LogFolder(LogKind eKind)
{
    if (eKind == LOG_SIMPLE)
        return LOG_PLAIN_FOLDER;
    static const SysLogFolder s_folder;
    return s_folder.sz;
}

// Shared for reading and writing from the start: a second process appending
// meanwhile must not lose its line to a sharing violation. Append-only (no
// FILE_WRITE_DATA): every write goes to the end of the file, no seek
// needed. Windows locks a byte range only for a handle with read or write
// data access, and read access changes nothing in the file.
const DWORD LOG_ACCESS = FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
const DWORD LOG_SHARE = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The system's name of each log folder (the system drive's, c:\KavlaLog),
// as it was when the folder was last held: most lines open their file by
// its path and take it only when it is a plain file of one name right in
// that folder. Anything else (no file yet, a link, a folder swapped for a
// link) takes the way through the held folder.
WCHAR g_awszFolderName[2][UTL_NT_NAME_CHARS];

HANDLE OpenKnownFile(const char* pszPath, const WCHAR* pwszFolderName)
{
    if (!pwszFolderName[0])
        return INVALID_HANDLE_VALUE;
    HANDLE hFile = CreateFileA(pszPath, LOG_ACCESS, LOG_SHARE, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (hFile != INVALID_HANDLE_VALUE && utl_EntryKind(hFile, pwszFolderName, pszPath) != UTL_ENTRY_OWN)
        utl_CloseHandle(hFile);
    return hFile;
}

// Holds the log folder (made when missing; a link in its place is removed as
// a link, or the line dropped) and opens the day's file in it. Never through
// a link: a log file that is a link, or has a second name elsewhere, loses
// that name and a new file takes its place.
HANDLE OpenThroughFolder(const char* pszFolder, const char* pszName, const char* pszPattern,
                         WCHAR* pwszFolderName)
{
    UtlFolder root, folder;
    const char* pszFolderName = NULL;
    if (!utl_HoldParentOf(pszFolder, &root, &pszFolderName))
        return INVALID_HANDLE_VALUE;
    int bHeld = utl_HoldOwnFolderAt(&root, pszFolderName, 0, NULL, &folder);
    utl_ReleaseFolder(&root);
    if (!bHeld)
        return INVALID_HANDLE_VALUE;
    memcpy(pwszFolderName, folder.wszName, sizeof(folder.wszName));
    HANDLE hFile = utl_OpenOwnFileAt(&folder, pszName, LOG_ACCESS, LOG_SHARE, OPEN_EXISTING);
    if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        // The day's first line: the writer's files of the same weekday but
        // of earlier dates go. Today's own file is spared: another process
        // may have created it since this one looked, and deleting it would
        // lose that one's lines.
        utl_DeleteFilesAt(&folder, pszPattern, pszName);
        hFile = utl_OpenOwnFileAt(&folder, pszName, LOG_ACCESS, LOG_SHARE, CREATE_NEW);
        // Another process or thread wrote the day's first line meanwhile.
        if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
            hFile = utl_OpenOwnFileAt(&folder, pszName, LOG_ACCESS, LOG_SHARE, OPEN_EXISTING);
    } else if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        // A link at the name gives way to a new file.
        hFile = utl_OpenOwnFileAt(&folder, pszName, LOG_ACCESS, LOG_SHARE, OPEN_ALWAYS);
    }
    utl_ReleaseFolder(&folder);
    return hFile;
}

// An append-only handle writes at the end without a seek, but Wine takes the
// end from the file's size and then writes there: two processes can both
// write at the same old end, and one line is lost. So the log's own writers
// take turns through a lock of one byte far beyond any real offset, which
// blocks neither readers nor the write itself. Closing the handle releases
// it: an unlock of its own would be one more round trip on every line.
// Any process that can read the file can take that byte too, and keep it.
// The lock is therefore asked for without waiting, again every millisecond
// for a bounded time, which covers another writer's single write; once it
// stayed taken for that long, this process asks only once per line from
// then on and writes in any case: a stranger's lock costs one wait at most.
void LockForLine(HANDLE hFile)
{
    static LONG s_nHeldByStranger = 0;
    OVERLAPPED ov;
    memset(&ov, 0, sizeof(ov));
    ov.OffsetHigh = 0x7FFFFFFF;
    const DWORD dwFlags = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
    if (LockFileEx(hFile, dwFlags, 0, 1, 0, &ov) || s_nHeldByStranger)
        return;
    const DWORD dwStart = GetTickCount();
    while (GetTickCount() - dwStart < LOG_LOCK_WAIT_MS) {
        Sleep(1);
        if (LockFileEx(hFile, dwFlags, 0, 1, 0, &ov))
            return;
    }
    s_nHeldByStranger = 1;
}

int WriteLine(LogKind eKind, const char* pszModule, const char* pszMsg, int bDetail)
{
    const char* pszFolder = LogFolder(eKind);

    SYSTEMTIME st;
    GetLocalTime(&st);

    // The stem and the delete pattern of the writer; the last two digits of
    // the date part are the day of the week, which makes the weekly ring.
    char szStem[UTL_MAX_PATH] = {0};
    if (eKind == LOG_SETUP)
        snprintf(szStem, sizeof(szStem), LOG_STEM_SETUP);
    else if (eKind == LOG_UTL)
        snprintf(szStem, sizeof(szStem), LOG_STEM_MODULE "%s", pszModule ? pszModule : "");
    else
        snprintf(szStem, sizeof(szStem), "%s", pszModule ? pszModule : "");

    char szName[UTL_MAX_PATH] = {0}, szPattern[UTL_MAX_PATH] = {0};
    char szPath[UTL_MAX_PATH] = {0};
    int nName = snprintf(szName, sizeof(szName), "%s%04u%02u%02u%02u.log", szStem, st.wYear,
                         st.wMonth, st.wDay, st.wDayOfWeek);
    int nPat = snprintf(szPattern, sizeof(szPattern), "%s*%02u.log", szStem, st.wDayOfWeek);
    if (nName < 0 || nPat < 0 || (size_t)nName >= sizeof(szName) || (size_t)nPat >= sizeof(szPattern)
        || !utl_PathJoin(szPath, sizeof(szPath), pszFolder, szName))
        return 0;

    // Most lines go to a file that exists and is opened at once; only the
    // day's first line makes the folder, turns the ring and creates the file.
    WCHAR* pwszFolderName = g_awszFolderName[eKind == LOG_SIMPLE ? 1 : 0];
    HANDLE hFile = OpenKnownFile(szPath, pwszFolderName);
    if (hFile == INVALID_HANDLE_VALUE)
        hFile = OpenThroughFolder(pszFolder, szName, szPattern, pwszFolderName);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;

    char szStamp[64];
    snprintf(szStamp, sizeof(szStamp), "[%04u-%02u-%02u %02u:%02u:%02u] ", st.wYear, st.wMonth,
             st.wDay, st.wHour, st.wMinute, st.wSecond);
    char szThread[32];
    snprintf(szThread, sizeof(szThread), eKind == LOG_UTL ? "[0x%lx] " : "[%lx] ",
             (unsigned long)GetCurrentThreadId());

    std::string strLine = szStamp;
    if (bDetail)
        strLine += LOGLINE_DETAIL;
    strLine += szThread;
    strLine += pszMsg ? pszMsg : "";
    strLine += "\r\n";
    LockForLine(hFile);
    DWORD dwWritten = 0;
    WriteFile(hFile, strLine.data(), (DWORD)strLine.size(), &dwWritten, NULL);
    utl_CloseHandle(hFile);
    return 1;
}

} // namespace

int SetupLog(const char* pszMsg)
{
    return WriteLine(LOG_SETUP, NULL, pszMsg, 0);
}

int utl_Log(const char* pszModule, const char* pszMsg, int bDetail)
{
    if (bDetail && g_nLogDetail == 0)
        return 0;
    return WriteLine(LOG_UTL, pszModule, pszMsg, bDetail);
}

int utl_SimpleLog(const char* pszModule, const char* pszMsg)
{
    return WriteLine(LOG_SIMPLE, pszModule, pszMsg, 0);
}

int SetupLogF(const char* pszFmt, ...)
{
    char szMsg[2048];
    va_list args;
    va_start(args, pszFmt);
    vsnprintf(szMsg, sizeof(szMsg), pszFmt, args);
    va_end(args);
    return SetupLog(szMsg);
}

int utl_LogF(const char* pszModule, const char* pszFmt, ...)
{
    char szMsg[2048];
    va_list args;
    va_start(args, pszFmt);
    vsnprintf(szMsg, sizeof(szMsg), pszFmt, args);
    va_end(args);
    return utl_Log(pszModule, szMsg, 0);
}
