// The three log writers share one routine that differs only in folder, file
// name stem and line prefix. Files are opened and closed for every line so
// that the setup program and the programs it starts can share them. A line
// is written in one write through an append-only handle, under a byte-range
// lock of one byte far past the end (so that readers are never blocked):
// several processes append to the same file, and an append is not atomic
// under every Windows implementation.
#include "log.h"
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

// <drive>:\KavlaLog of the system drive, C:\KavlaLog when it is unknown.
struct SysLogFolder {
    char sz[UTL_MAX_PATH];
    SysLogFolder()
    {
        char szDrive[261] = {0};
        if (!utl_GetSysDrive("setup", szDrive, sizeof(szDrive)))
            strcpy(szDrive, "C");
        snprintf(sz, sizeof(sz), "%s:\\KavlaLog", szDrive);
    }
};

// The system folder does not move while a process runs: its drive is looked
// up for the first line only (the folder itself is still checked on every
// line). utl_GetSysDrive logs only for a short buffer, never here, so the
// one-time initialisation cannot come back into itself.
const char* LogFolder(LogKind eKind)
{
    if (eKind == LOG_SIMPLE)
        return "c:\\KavlaLog";
    static const SysLogFolder s_folder;
    return s_folder.sz;
}

// Shared for reading and writing from the start: a second process appending
// meanwhile must not lose its line to a sharing violation. Never opened
// through a link: a log file that is a link, or has a second name elsewhere,
// is removed (the name only) and a new file takes its place.
HANDLE OpenLogFile(const char* pszPath, DWORD dwDisposition)
{
    // Append-only (no FILE_WRITE_DATA): every write goes to the end of the
    // file, no seek needed. The link test reads the handle's attributes;
    // Windows locks a byte range only for a handle with read or write data
    // access, and read access changes nothing in the file.
    return utl_OpenOwnFile(pszPath, FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, dwDisposition);
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
        snprintf(szStem, sizeof(szStem), "setup");
    else if (eKind == LOG_UTL)
        snprintf(szStem, sizeof(szStem), "stp_%s", pszModule ? pszModule : "");
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
    // The folder is one of its own: a link planted in its place at the root
    // of the drive would lead every line, and the ring, elsewhere.
    DWORD dwFolder = GetFileAttributesA(pszFolder);
    // Where it cannot be replaced safely, the line is dropped.
    if ((dwFolder == INVALID_FILE_ATTRIBUTES || (dwFolder & FILE_ATTRIBUTE_REPARSE_POINT)
         || !(dwFolder & FILE_ATTRIBUTE_DIRECTORY))
        && !utl_EnsureOwnFolder(pszFolder))
        return 0;
    HANDLE hFile = OpenLogFile(szPath, OPEN_EXISTING);
    if (hFile == INVALID_HANDLE_VALUE && GetFileAttributesA(szPath) == INVALID_FILE_ATTRIBUTES) {
        // The writer's files of the same weekday but of earlier dates go.
        // Today's own file is spared: another process may have created it
        // since this one looked, and deleting it would lose that one's lines.
        utl_DeleteFilesExcept(pszFolder, szPattern, szName);
        hFile = OpenLogFile(szPath, CREATE_NEW);
        // Another process or thread wrote the day's first line meanwhile.
        if (hFile == INVALID_HANDLE_VALUE
            && (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS))
            hFile = OpenLogFile(szPath, OPEN_EXISTING);
    }
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
        strLine += "[DTL] ";
    strLine += szThread;
    strLine += pszMsg ? pszMsg : "";
    strLine += "\r\n";
    // An append-only handle writes at the end without a seek, but Wine
    // takes the end from the file's size and then writes there: two
    // processes can both write at the same old end, and one line is lost.
    // Byte-range locks are mandatory on Windows: one byte far beyond any real
    // offset makes only the log's own writers wait for each other, while
    // readers and other writers of the file go on. Closing the handle
    // releases the lock: an unlock of its own would be one more round trip
    // to the Wine server on every line.
    OVERLAPPED ov;
    memset(&ov, 0, sizeof(ov));
    ov.OffsetHigh = 0x7FFFFFFF;
    LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov);
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
