// The three log writers share one routine that differs only in folder, file
// name stem and line prefix. Files are opened and closed for every line so
// that the setup program and the programs it starts can share them. A line
// is written in one write under a byte-range lock (of one byte far past the
// end, so that readers are never blocked): several
// processes append to the same file, and between one writer's seek to the
// end and its write another writer's line would otherwise be overwritten
// (append-only handles are not atomic under every Windows implementation).
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
void GetLogFolder(LogKind eKind, char* pszFolder, size_t cbFolder)
{
    if (eKind == LOG_SIMPLE) {
        snprintf(pszFolder, cbFolder, "c:\\KavlaLog");
        return;
    }
    char szDrive[261] = {0};
    if (!utl_GetSysDrive("setup", szDrive, sizeof(szDrive)))
        strcpy(szDrive, "C");
    snprintf(pszFolder, cbFolder, "%s:\\KavlaLog", szDrive);
}

// Shared for reading and writing from the start: a second process appending
// meanwhile must not lose its line to a sharing violation. Never opened
// through a link: a log file that is a link, or has a second name elsewhere,
// is removed (the name only) and a new file takes its place.
HANDLE OpenLogFile(const char* pszPath, DWORD dwDisposition)
{
    return utl_OpenOwnFile(pszPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, dwDisposition);
}

int WriteLine(LogKind eKind, const char* pszModule, const char* pszMsg, int bDetail)
{
    char szFolder[UTL_MAX_PATH] = {0};
    GetLogFolder(eKind, szFolder, sizeof(szFolder));

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
        || !utl_PathJoin(szPath, sizeof(szPath), szFolder, szName))
        return 0;

    // Most lines go to a file that exists and is opened at once; only the
    // day's first line makes the folder, turns the ring and creates the file.
    // The folder is one of its own: a link planted in its place at the root
    // of the drive would lead every line, and the ring, elsewhere.
    DWORD dwFolder = GetFileAttributesA(szFolder);
    // Where it cannot be replaced safely, the line is dropped.
    if ((dwFolder == INVALID_FILE_ATTRIBUTES || (dwFolder & FILE_ATTRIBUTE_REPARSE_POINT)
         || !(dwFolder & FILE_ATTRIBUTE_DIRECTORY))
        && !utl_EnsureOwnFolder(szFolder))
        return 0;
    HANDLE hFile = OpenLogFile(szPath, OPEN_EXISTING);
    if (hFile == INVALID_HANDLE_VALUE && GetFileAttributesA(szPath) == INVALID_FILE_ATTRIBUTES) {
        // The writer's files of the same weekday but of earlier dates go.
        // Today's own file is spared: another process may have created it
        // since this one looked, and deleting it would lose that one's lines.
        utl_DeleteFilesExcept(szFolder, szPattern, szName);
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
    OVERLAPPED ov;
    memset(&ov, 0, sizeof(ov));
    // Byte-range locks are mandatory on Windows: one byte far beyond any real
    // offset makes only the log's own writers wait for each other, while
    // readers and other writers of the file go on.
    ov.OffsetHigh = 0x7FFFFFFF;
    BOOL bLocked = LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &ov);
    SetFilePointer(hFile, 0, NULL, FILE_END);
    DWORD dwWritten = 0;
    WriteFile(hFile, strLine.data(), (DWORD)strLine.size(), &dwWritten, NULL);
    if (bLocked)
        UnlockFileEx(hFile, 0, 1, 0, &ov);
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
