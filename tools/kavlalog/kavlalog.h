// kavlalog's own shared pieces: exit codes, texts, the meaning table, the log
// files and their entries, runs, and each subject's entry points.
#pragma once
#include "messages.h"
#include <windows.h>
#include <string>
#include <vector>

namespace kavlalog {

const int kExitInstalled = 0, kExitStopped = 1, kExitUsage = 2, kExitNoLogs = 3;
// "[YYYY-MM-DD hh:mm:ss] ": the writers' time stamp and the space after it.
const size_t kStampLen = 22;

// Texts (texts.cpp): the tool's own, in the language of the system.
enum ToolText {
    T_USAGE, T_UNKNOWN_ARG, T_BAD_DATE, T_NO_FILES, T_NO_FILES_DAY, T_CANNOT_READ, T_HEADER, T_FILE,
    T_RUNS_LAST, T_RUNS_ALL, T_RUN, T_RUN_EARLIER, T_ORPHANS, T_NO_STAMP, T_INSTALLED, T_FAILED,
    T_MEANING, T_STEP, T_ACTION, T_PASSWORD, T_PASSWORD_ACTION, T_NOT_ADMIN, T_NOT_ADMIN_ACTION,
    T_NO_SPACE, T_NO_SPACE_ACTION, T_UPDATING, T_UPDATING_ACTION, T_UNFINISHED, T_UNCLEAR,
    T_NOTE_7ZIP, T_NOTE_NOT_SEEN, T_STEP_PAYLOAD, T_STEP_COMPONENT, T_STEP_MSI, T_UNKNOWN_ERR,
    T_UNKNOWN_STEP, T_REPORT_IT, T_COUNT
};
const char* Text(ToolText eText);

// What an install error number means: the install driver's own numbers, the
// container reader's (the driver hands them on) and DRV_ERR_NONE, which the
// entry logs when a step without a number of its own failed.
struct ErrInfo {
    DWORD dwErr;
    TextPair step, meaning, action;
};
// The step of every container reader's number: the log tells which container.
extern const TextPair kReaderStep;
// The table's entry of dwErr; NULL for a number the setup does not set.
const ErrInfo* FindError(DWORD dwErr);

// Parsing (parse.cpp). One log file of the day: setup<day>.log,
// stp_<module><day>.log or IsCurUserAdmin<day>.log; the stem marks its lines
// in the timeline.
enum FileKind { FILE_SETUP, FILE_MODULE, FILE_ADMIN };

struct Entry {
    unsigned long long ullKey;  // YYYYMMDDhhmmss; an unstamped line takes its file's next stamp
    int bStamped;
    size_t nFile;
    std::string strStamp;  // "[YYYY-MM-DD hh:mm:ss]"
    std::string strText;   // the rest, its own line breaks kept as '\n'
    std::string strMsg;    // strText without the detail and thread prefixes
    unsigned long ulThread;  // the writing thread's id, when the line names one
    int bThread;
};

struct LogFile {
    std::string strPath, strName, strStem, strDay;
    FileKind eKind;
    std::vector<Entry> entries;
};

struct Run {
    std::vector<const Entry*> entries;
    int bStart;
};

int IsValidDay(const char* pszDay);
int StartsWith(const std::string& str, const char* pszPrefix);
void ListLogFiles(const char* pszFolder, int bAdminOnly, std::vector<LogFile>& files);
int ReadLogBytes(const char* pszPath, std::string& strBytes, DWORD* pdwErr);
unsigned ParseEntries(const std::string& strBytes, size_t nFile, std::vector<Entry>& entries);
bool FileOrder(const LogFile& a, const LogFile& b);
int IsFreeSpaceLine(const LogFile& file, const Entry& entry, long* plMB);
int IsRunStart(const LogFile& file, const Entry& entry);
void MergeEntries(const std::vector<LogFile>& files, std::vector<const Entry*>& merged);
void SplitRuns(const std::vector<LogFile>& files, const std::vector<const Entry*>& merged, std::vector<Run>& runs);

// Verdict (verdict.cpp): judges one run and prints the verdict; the exit code.
int PrintRunVerdict(const std::vector<LogFile>& files, const Run& run);

} // namespace kavlalog
