// kavlalog's reading side: log file names, reading a file, its entries, the
// merged timeline of a day's files and its runs.
#include "kavlalog.h"
#include "file.h"
#include "handle.h"
#include "log_lines.h"
#include <stdlib.h>
#include <string.h>

namespace kavlalog {

namespace {

int IsDigits(const char* psz, size_t nLen)
{
    for (size_t i = 0; i < nLen; ++i)
        if (psz[i] < '0' || psz[i] > '9')
            return 0;
    return 1;
}

int Num(const char* psz, size_t nLen)
{
    int n = 0;
    for (size_t i = 0; i < nLen; ++i)
        n = n * 10 + (psz[i] - '0');
    return n;
}

// Stem, kind and day of a log file name: stem + YYYYMMDDww + ".log", ww the
// weekday 00 to 06 (the writers' ring). 0 for any other name.
int ParseLogName(const char* pszName, LogFile& file)
{
    size_t nLen = strlen(pszName);
    if (nLen < 14 || _stricmp(pszName + nLen - 4, ".log") != 0)
        return 0;
    const char* pszDate = pszName + nLen - 14;
    if (!IsDigits(pszDate, 10) || !IsValidDay(pszDate) || Num(pszDate + 8, 2) > 6)
        return 0;
    std::string strStem(pszName, nLen - 14);
    if (_stricmp(strStem.c_str(), LOG_STEM_SETUP) == 0)
        file.eKind = FILE_SETUP;
    else if (_stricmp(strStem.c_str(), LOG_MODULE_ADMIN) == 0)
        file.eKind = FILE_ADMIN;
    else if (_strnicmp(strStem.c_str(), LOG_STEM_MODULE, strlen(LOG_STEM_MODULE)) == 0)
        file.eKind = FILE_MODULE;
    else
        return 0;
    file.strName = pszName;
    file.strStem = strStem;
    file.strDay.assign(pszDate, 8);
    return 1;
}

struct ListCtx {
    int bAdminOnly;
    std::vector<LogFile>* pFiles;
};

void AddLogFile(void* pvCtx, const char* pszEntry, const char* pszName, DWORD dwAttributes)
{
    ListCtx* pCtx = (ListCtx*)pvCtx;
    LogFile file;
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && ParseLogName(pszName, file)
        && (!pCtx->bAdminOnly || file.eKind == FILE_ADMIN)) {
        file.strPath = pszEntry;
        pCtx->pFiles->push_back(file);
    }
}

// The writers' "[YYYY-MM-DD hh:mm:ss] " at the start of a line; 0 for
// anything else, which continues the entry before it.
int ParseStamp(const std::string& strLine, unsigned long long* pullKey)
{
    const char* p = strLine.c_str();
    if (strLine.size() < kStampLen || p[0] != '[' || p[5] != '-' || p[8] != '-' || p[11] != ' ' || p[14] != ':'
        || p[17] != ':' || p[20] != ']' || p[21] != ' ')
        return 0;
    if (!IsDigits(p + 1, 4) || !IsDigits(p + 6, 2) || !IsDigits(p + 9, 2) || !IsDigits(p + 12, 2)
        || !IsDigits(p + 15, 2) || !IsDigits(p + 18, 2))
        return 0;
    char szDay[9] = {p[1], p[2], p[3], p[4], p[6], p[7], p[9], p[10], 0};
    if (!IsValidDay(szDay) || Num(p + 12, 2) > 23 || Num(p + 15, 2) > 59 || Num(p + 18, 2) > 60)
        return 0;
    *pullKey = strtoull(szDay, NULL, 10) * 1000000ull + (unsigned long long)Num(p + 12, 2) * 10000
        + Num(p + 15, 2) * 100 + Num(p + 18, 2);
    return 1;
}

// The message of a line, after "[DTL] " (detail lines) and the thread id,
// "[1a4] " or "[0x1a4] ", which it also hands back.
void SplitPrefixes(Entry& entry)
{
    const std::string& strText = entry.strText;
    size_t nPos = StartsWith(strText, LOGLINE_DETAIL) ? strlen(LOGLINE_DETAIL) : 0;
    entry.ulThread = 0;
    entry.bThread = 0;
    if (nPos < strText.size() && strText[nPos] == '[') {
        size_t nClose = strText.find("] ", nPos);
        size_t nHex = nPos + 1 + (strText.compare(nPos + 1, 2, "0x") == 0 ? 2 : 0);
        if (nClose != std::string::npos && nClose > nHex && nClose - nHex <= 8
            && strspn(strText.c_str() + nHex, "0123456789abcdefABCDEF") == nClose - nHex) {
            entry.ulThread = strtoul(strText.c_str() + nHex, NULL, 16);
            entry.bThread = 1;
            nPos = nClose + 2;
        }
    }
    entry.strMsg = strText.substr(nPos);
}

// Whether a line of another file, stamped in the same second as the setup
// log's entry nFrom, was written by a run that starts in that second at or
// after nFrom: the setup program has one thread, and the id of a run's
// start line is on all of its lines.
int StartsLaterInItsSecond(const LogFile& setup, size_t nFrom, const Entry& entry)
{
    for (size_t i = nFrom; i < setup.entries.size() && setup.entries[i].ullKey == entry.ullKey; ++i)
        if (IsFreeSpaceLine(setup, setup.entries[i], NULL) && setup.entries[i].bThread && entry.bThread
            && setup.entries[i].ulThread == entry.ulThread)
            return 1;
    return 0;
}

} // namespace

int IsValidDay(const char* pszDay)
{
    int nMonth = Num(pszDay + 4, 2), nDay = Num(pszDay + 6, 2);
    return IsDigits(pszDay, 8) && nMonth >= 1 && nMonth <= 12 && nDay >= 1 && nDay <= 31;
}

// The log files of pszFolder (only the administrator-check logs when
// bAdminOnly); a folder that cannot be listed has none.
void ListLogFiles(const char* pszFolder, int bAdminOnly, std::vector<LogFile>& files)
{
    ListCtx ctx = {bAdminOnly, &files};
    utl_ForEachEntry(pszFolder, "*", AddLogFile, &ctx);
}

// The whole file, opened so that writers and the ring's deletions go on.
int ReadLogBytes(const char* pszPath, std::string& strBytes, DWORD* pdwErr)
{
    strBytes.clear();
    HANDLE hFile = utl_OpenShared(pszPath, GENERIC_READ, 0);
    if (hFile == INVALID_HANDLE_VALUE) {
        *pdwErr = GetLastError();
        return 0;
    }
    char ab[65536];
    DWORD dwRead = 0;
    int bOk = 1;
    for (;;) {
        if (!ReadFile(hFile, ab, sizeof(ab), &dwRead, NULL)) {
            *pdwErr = GetLastError();
            bOk = 0;
            break;
        }
        if (dwRead == 0)
            break;
        strBytes.append(ab, dwRead);
    }
    utl_CloseHandle(hFile);
    return bOk;
}

// Splits a file into entries. A line without a stamp belongs to the entry
// before it: messages may hold line breaks (7-Zip's output is logged whole).
// Lines before the first stamp become an unstamped entry of their own.
// Returns the count of lines that no stamp covers.
unsigned ParseEntries(const std::string& strBytes, size_t nFile, std::vector<Entry>& entries)
{
    unsigned nOrphans = 0;
    size_t nPos = 0;
    while (nPos < strBytes.size()) {
        size_t nEnd = strBytes.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = strBytes.size();
        std::string strLine = strBytes.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        if (!strLine.empty() && strLine.back() == '\r')
            strLine.pop_back();
        unsigned long long ullKey = 0;
        if (ParseStamp(strLine, &ullKey)) {
            Entry entry;
            entry.ullKey = ullKey;
            entry.bStamped = 1;
            entry.nFile = nFile;
            entry.strStamp = strLine.substr(0, kStampLen - 1);
            entry.strText = strLine.substr(kStampLen);
            entries.push_back(entry);
        } else if (!entries.empty()) {
            entries.back().strText += "\n" + strLine;
            nOrphans += !entries.back().bStamped;
        } else {
            Entry entry;
            entry.ullKey = 0;
            entry.bStamped = 0;
            entry.nFile = nFile;
            entry.strText = strLine;
            entries.push_back(entry);
            ++nOrphans;
        }
    }
    for (size_t i = 0; i < entries.size(); ++i)
        SplitPrefixes(entries[i]);
    if (!entries.empty() && !entries[0].bStamped && entries.size() > 1)
        entries[0].ullKey = entries[1].ullKey;
    return nOrphans;
}

int StartsWith(const std::string& str, const char* pszPrefix)
{
    return str.compare(0, strlen(pszPrefix), pszPrefix) == 0;
}

// A run begins with the entry's first log line. Every run that passes the
// administrator check writes "The <drive> free space is <n>M." to the setup
// log before anything else; a run that fails the check writes only its one
// line to the administrator-check log (the check logs nothing when it
// passes) and ends there. Lines before a day's first such line belong to a
// run begun earlier. A run refused for a second instance writes no line.
int IsFreeSpaceLine(const LogFile& file, const Entry& entry, long* plMB)
{
    const size_t nEnd = strlen(LOGLINE_FREE_SPACE_END);
    size_t nMark = entry.strMsg.find(LOGLINE_FREE_SPACE_IS);
    if (file.eKind != FILE_SETUP || !entry.bStamped || !StartsWith(entry.strMsg, LOGLINE_FREE_SPACE)
        || nMark == std::string::npos || entry.strMsg.size() < nEnd
        || entry.strMsg.compare(entry.strMsg.size() - nEnd, nEnd, LOGLINE_FREE_SPACE_END) != 0)
        return 0;
    if (plMB)
        *plMB = strtol(entry.strMsg.c_str() + nMark + strlen(LOGLINE_FREE_SPACE_IS), NULL, 10);
    return 1;
}

int IsRunStart(const LogFile& file, const Entry& entry)
{
    return (file.eKind == FILE_ADMIN && entry.bStamped) || IsFreeSpaceLine(file, entry, NULL);
}

// Merges the files by time stamp, each file's entries in their own order.
// Stamps have whole seconds: within one, the setup log's lines are the
// frame, and another file's line comes before the setup log's next line
// (a run's lines are all written before its "Exit main") unless it belongs
// to a run whose first line is still ahead in that second.
void MergeEntries(const std::vector<LogFile>& files, std::vector<const Entry*>& merged)
{
    std::vector<size_t> next(files.size(), 0);
    for (;;) {
        size_t nBest = files.size();
        unsigned long long ullBest = 0;
        for (size_t f = 0; f < files.size(); ++f)
            if (next[f] < files[f].entries.size()
                && (nBest == files.size() || files[f].entries[next[f]].ullKey < ullBest)) {
                nBest = f;
                ullBest = files[f].entries[next[f]].ullKey;
            }
        if (nBest == files.size())
            break;
        // The setup log sorts first: nBest is it whenever it is among the earliest.
        if (files[nBest].eKind == FILE_SETUP) {
            for (size_t f = 0; f < files.size(); ++f) {
                if (f == nBest || next[f] >= files[f].entries.size())
                    continue;
                const Entry& entry = files[f].entries[next[f]];
                if (files[f].eKind != FILE_SETUP && entry.ullKey == ullBest
                    && !StartsLaterInItsSecond(files[nBest], next[nBest], entry)) {
                    nBest = f;
                    break;
                }
            }
        }
        merged.push_back(&files[nBest].entries[next[nBest]++]);
    }
}

// Lines before the first start of a day belong to a run begun earlier, if
// the setup log has any of them; lines of other programs or without a stamp
// alone make no run and go with the run after them.
void SplitRuns(const std::vector<LogFile>& files, const std::vector<const Entry*>& merged, std::vector<Run>& runs)
{
    Run current;
    current.bStart = 0;
    for (const Entry* pEntry : merged) {
        if (IsRunStart(files[pEntry->nFile], *pEntry)) {
            int bSetupLines = 0;
            for (const Entry* p : current.entries)
                bSetupLines |= p->bStamped && files[p->nFile].eKind == FILE_SETUP;
            Run next;
            next.bStart = 1;
            if (current.bStart || bSetupLines)
                runs.push_back(current);
            else
                next.entries = current.entries;
            current = next;
        }
        current.entries.push_back(pEntry);
    }
    if (!current.entries.empty())
        runs.push_back(current);
}

// Setup log first, then the module logs by name, then the administrator
// check: the order of one second's lines that nothing else decides.
bool FileOrder(const LogFile& a, const LogFile& b)
{
    if (a.eKind != b.eKind)
        return a.eKind < b.eKind;
    return _stricmp(a.strName.c_str(), b.strName.c_str()) < 0;
}

} // namespace kavlalog
