// kavlalog's command line: arguments, the day's files, the timeline it prints
// and the verdict of each run shown.
//
// kavlalog: the helpdesk's view of the setup log. Merges one day's log files
// of a log folder (the setup's own, or one copied from a user's machine) into
// one timeline, each line marked with its file, and ends with a verdict on the
// setup's run: installed, stopped before the install, or failed with its
// number, its step and what an administrator can do.
//
//   kavlalog [FOLDER] [--date YYYYMMDD] [--all]
//
// The folder is only read: files are opened shared for reading, writing and
// deletion, so a running setup goes on writing, and nothing is ever created.
// Exit codes: 0 installed; 1 install failed, stopped before the install or not
// ended; 2 wrong command line (also after --help); 3 no log files.
#include "kavlalog.h"
#include "log_lines.h"
#include "sys.h"
#include <algorithm>
#include <stdio.h>
#include <string.h>

using namespace kavlalog;

namespace {

// Log text as it is, but control characters other than tab shown as \xNN:
// a damaged file must not move the cursor or end the output on a console.
void PutText(const std::string& strText)
{
    for (unsigned char ch : strText) {
        if (ch < 0x20 && ch != '\t')
            printf("\\x%02x", ch);
        else
            putchar(ch);
    }
}

void PrintEntry(const std::vector<LogFile>& files, const Entry& entry, int nWidth)
{
    std::string strStamp = entry.bStamped ? entry.strStamp : Text(T_NO_STAMP);
    if (strStamp.size() < kStampLen - 1)
        strStamp.resize(kStampLen - 1, ' ');
    printf("%s %-*s ", strStamp.c_str(), nWidth, files[entry.nFile].strStem.c_str());
    std::string strIndent(strStamp.size() + nWidth + 2, ' ');
    size_t nPos = 0;
    for (;;) {
        size_t nEnd = entry.strText.find('\n', nPos);
        PutText(entry.strText.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos));
        putchar('\n');
        if (nEnd == std::string::npos)
            break;
        fputs(strIndent.c_str(), stdout);
        nPos = nEnd + 1;
    }
}

// <system drive>:\KavlaLog, where the setup writes; C:\KavlaLog when the
// drive is unknown, as the setup does.
std::string DefaultFolder(void)
{
    return std::string(1, utl_SysDriveLetter()) + ":\\" LOG_FOLDER_NAME;
}

int Usage(ToolText eText, const char* pszArg)
{
    fprintf(stderr, Text(eText), pszArg);
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    std::string strFolder, strDate;
    int bAll = 0, bFolder = 0;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "/?") == 0) {
            fputs(Text(T_USAGE), stdout);
            return kExitUsage;
        }
        if (strcmp(argv[i], "--all") == 0)
            bAll = 1;
        else if (strcmp(argv[i], "--date") == 0) {
            if (i + 1 >= argc || strlen(argv[i + 1]) != 8 || !IsValidDay(argv[i + 1])) {
                fputs(Text(T_BAD_DATE), stderr);
                return kExitUsage;
            }
            strDate = argv[++i];
        } else if (argv[i][0] == '-' || bFolder)
            return Usage(T_UNKNOWN_ARG, argv[i]);
        else {
            strFolder = argv[i];
            bFolder = 1;
        }
    }
    // "Z:\logs\" and "Z:\logs" name one folder; "Z:" alone is its root.
    while (strFolder.size() > 1 && (strFolder.back() == '\\' || strFolder.back() == '/'))
        strFolder.pop_back();
    if (!bFolder)
        strFolder = DefaultFolder();

    std::vector<LogFile> all;
    ListLogFiles(strFolder.c_str(), 0, all);
    // The administrator check always writes to c:\KavlaLog.
    if (!bFolder && _stricmp(strFolder.c_str(), LOG_PLAIN_FOLDER) != 0)
        ListLogFiles(LOG_PLAIN_FOLDER, 1, all);
    if (all.empty()) {
        fprintf(stderr, Text(T_NO_FILES), strFolder.c_str());
        return kExitNoLogs;
    }
    if (strDate.empty())
        for (const LogFile& file : all)
            strDate = std::max(strDate, file.strDay);

    std::vector<LogFile> files;
    for (const LogFile& file : all)
        if (file.strDay == strDate)
            files.push_back(file);
    std::sort(files.begin(), files.end(), FileOrder);
    unsigned nOrphans = 0;
    std::vector<LogFile> readable;
    for (LogFile& file : files) {
        std::string strBytes;
        DWORD dwErr = 0;
        if (!ReadLogBytes(file.strPath.c_str(), strBytes, &dwErr)) {
            fprintf(stderr, Text(T_CANNOT_READ), file.strPath.c_str(), (unsigned long)dwErr);
            continue;
        }
        nOrphans += ParseEntries(strBytes, readable.size(), file.entries);
        readable.push_back(file);
    }
    if (readable.empty()) {
        fprintf(stderr, Text(T_NO_FILES_DAY), strDate.c_str(), strFolder.c_str());
        return kExitNoLogs;
    }

    // The file list's name column, and the timeline's stem column.
    int nWidth = 0, nStemWidth = 0;
    for (const LogFile& file : readable) {
        nWidth = std::max(nWidth, (int)file.strName.size());
        nStemWidth = std::max(nStemWidth, (int)file.strStem.size());
    }
    std::string strDay = strDate.substr(0, 4) + "-" + strDate.substr(4, 2) + "-" + strDate.substr(6, 2);
    printf(Text(T_HEADER), strFolder.c_str(), strDay.c_str());
    for (const LogFile& file : readable)
        printf(Text(T_FILE), nWidth, file.strName.c_str(), (unsigned)file.entries.size());

    std::vector<const Entry*> merged;
    MergeEntries(readable, merged);
    std::vector<Run> runs;
    SplitRuns(readable, merged, runs);
    if (runs.size() > 1)
        printf(Text(bAll ? T_RUNS_ALL : T_RUNS_LAST), (unsigned)runs.size());
    if (nOrphans)
        printf(Text(T_ORPHANS), nOrphans);
    if (runs.empty()) {
        fputs(Text(T_UNCLEAR), stdout);
        return kExitStopped;
    }

    int nExit = kExitStopped;
    for (size_t r = bAll ? 0 : runs.size() - 1; r < runs.size(); ++r) {
        const Run& run = runs[r];
        putchar('\n');
        if (runs.size() > 1) {
            std::string strFrom;
            for (const Entry* pEntry : run.entries)
                if (pEntry->bStamped && strFrom.empty())
                    strFrom = pEntry->strStamp.substr(12, 8);
            if (run.bStart)
                printf(Text(T_RUN), (unsigned)(r + 1), (unsigned)runs.size(), strFrom.c_str());
            else
                printf(Text(T_RUN_EARLIER), (unsigned)(r + 1), (unsigned)runs.size());
        }
        for (const Entry* pEntry : run.entries)
            PrintEntry(readable, *pEntry, nStemWidth);
        nExit = PrintRunVerdict(readable, run);
    }
    fflush(stdout);
    return nExit;
}
