// kavlalog's verdict on a run: the facts its lines tell, the judgement, and
// the verdict printed with its meaning, step and remedy.
#include "kavlalog.h"
#include "payload.h"
#include "file.h"
#include "log_lines.h"
#include "preconditions.h"
#include <stdio.h>
#include <string.h>

namespace kavlalog {

namespace {

enum Verdict { V_INSTALLED, V_FAILED, V_PASSWORD, V_NOT_ADMIN, V_NO_SPACE, V_UPDATING, V_UNFINISHED, V_UNCLEAR };

// What the lines of one run tell.
struct RunFacts {
    int bStart = 0, bAdmin = 0, bFree = 0, bPromptCheck = 0, bPromptNeeded = 0, bBegin = 0, bExit = 0;
    int bFailed = 0, bEnded = 0, bNotSeen = 0, bMsi = 0;
    long lFreeMB = 0;
    unsigned nSetupAfterFree = 0;
    DWORD dwErr = 0;
    std::string strUnpackFolder, strUnpackFile;
    std::vector<std::string> badArchives;
};

// The archive of a 7-Zip command line the driver logs: <W>\7za.exe x "<archive>" -o"<W>" -y.
int SevenZipArchive(const std::string& strMsg, std::string& strArchive)
{
    const char* const pszCmd = "\\" PAYLOAD_SEVENZA LOGLINE_7ZIP_EXTRACT;
    size_t nCmd = strMsg.find(pszCmd);
    if (nCmd == std::string::npos)
        return 0;
    size_t nFrom = nCmd + strlen(pszCmd);
    size_t nTo = strMsg.find('"', nFrom);
    if (nTo == std::string::npos)
        return 0;
    std::string strPath = strMsg.substr(nFrom, nTo - nFrom);
    std::vector<char> folder(strPath.size() + 1);
    const char* pszName = NULL;
    utl_SplitPath(strPath.c_str(), folder.data(), folder.size(), &pszName);
    strArchive = pszName;
    return 1;
}

RunFacts Gather(const std::vector<LogFile>& files, const Run& run)
{
    RunFacts facts;
    facts.bStart = run.bStart;
    std::string strArchive;
    int bAwaitOutput = 0;
    // Only the run's own lines judge it: other programs (kavlapack, the
    // programs the setup starts) write to the module logs too.
    const Entry* pStart = NULL;
    for (const Entry* pEntry : run.entries)
        if (!pStart && IsRunStart(files[pEntry->nFile], *pEntry))
            pStart = pEntry;
    for (const Entry* pEntry : run.entries) {
        const LogFile& file = files[pEntry->nFile];
        const std::string& strMsg = pEntry->strMsg;
        if (pStart && pStart->bThread && (!pEntry->bThread || pEntry->ulThread != pStart->ulThread))
            continue;
        if (file.eKind == FILE_ADMIN && pEntry->bStamped)
            facts.bAdmin = 1;
        if (file.eKind != FILE_SETUP) {
            if (StartsWith(strMsg, LOGLINE_PROMPT))
                facts.bPromptCheck = 1;
            if (strMsg == LOGLINE_PROMPT LOGLINE_PROMPT_NEEDED || strMsg == LOGLINE_PROMPT LOGLINE_PROMPT_OLD_VERSION)
                facts.bPromptNeeded = 1;
            const size_t nPath = strlen(LOGLINE_UNPACK_SRC_PATH), nName = strlen(LOGLINE_UNPACK_SRC_FILE);
            size_t nFile = strMsg.find(LOGLINE_UNPACK_SRC_FILE), nDst = strMsg.find(LOGLINE_UNPACK_DST_PATH);
            if (StartsWith(strMsg, LOGLINE_UNPACK_SRC_PATH) && nFile != std::string::npos && nDst != std::string::npos
                && nDst > nFile) {
                facts.strUnpackFolder = strMsg.substr(nPath, nFile - nPath);
                facts.strUnpackFile = strMsg.substr(nFile + nName, nDst - nFile - nName);
            }
            continue;
        }
        // The setup-log entry after a 7-Zip command is its output, when it ran.
        if (bAwaitOutput && strMsg.find(LOGLINE_7ZIP_OK) == std::string::npos)
            facts.badArchives.push_back(strArchive);
        bAwaitOutput = SevenZipArchive(strMsg, strArchive);
        long lMB = 0;
        unsigned uErr = 0, uWaits = 0;
        char chEnd = 0;
        if (IsFreeSpaceLine(file, *pEntry, &lMB)) {
            facts.bFree = 1;
            facts.lFreeMB = lMB;
            continue;
        }
        if (facts.bFree)
            ++facts.nSetupAfterFree;
        if (strMsg == LOGLINE_BEGIN_INSTALL)
            facts.bBegin = 1;
        else if (strMsg == LOGLINE_EXIT_MAIN)
            facts.bExit = 1;
        else if (strMsg == LOGLINE_MSI_INSTALL)
            facts.bMsi = 1;
        else if (sscanf(strMsg.c_str(), LOGLINE_INSTALL_FAILED "%u%c", &uErr, &chEnd) == 2 && chEnd == '.') {
            facts.bFailed = 1;
            facts.dwErr = uErr;
        } else if (StartsWith(strMsg, LOGLINE_INSTALLER_ENDED))
            facts.bEnded = 1;
        else if (sscanf(strMsg.c_str(), LOGLINE_INSTALLER_STARTED "%u", &uWaits) == 1
                 && uWaits >= (unsigned)INSTALLER_APPEAR_MAX_POLLS)
            facts.bNotSeen = 1;
    }
    if (bAwaitOutput)
        facts.badArchives.push_back(strArchive);
    return facts;
}

Verdict Judge(const RunFacts& facts)
{
    if (facts.bFailed)
        return V_FAILED;
    if (facts.bEnded && facts.bExit)
        return V_INSTALLED;
    if (facts.bExit && facts.bPromptNeeded && !facts.bBegin && !facts.bEnded)
        return V_PASSWORD;
    if (facts.bExit)
        return V_UNCLEAR;
    // Refusals end the run without a line of their own: what is missing tells.
    if (facts.bAdmin && !facts.bFree)
        return V_NOT_ADMIN;
    if (facts.bFree && !facts.bPromptCheck && facts.nSetupAfterFree == 0)
        return facts.lFreeMB < MIN_FREE_MB ? V_NO_SPACE : V_UPDATING;
    return facts.bStart || facts.bPromptCheck || facts.bBegin ? V_UNFINISHED : V_UNCLEAR;
}

// The step of a failure: the table's, made exact from the log where the
// number comes from more than one step.
std::string StepOf(const RunFacts& facts, const ErrInfo* pInfo)
{
    if (!pInfo)
        return Text(T_UNKNOWN_STEP);
    if (pInfo->dwErr == DRV_ERR_NONE && facts.bMsi)
        return Text(T_STEP_MSI);
    if (pInfo->step.pszEnglish == kReaderStep.pszEnglish && !facts.strUnpackFile.empty()) {
        if (_stricmp(facts.strUnpackFile.c_str(), PAYLOAD_COMPONENT) == 0)
            return Text(T_STEP_COMPONENT);
        char szStep[1024];
        std::string strHost = facts.strUnpackFolder + "\\" + facts.strUnpackFile;
        snprintf(szStep, sizeof(szStep), Text(T_STEP_PAYLOAD), strHost.c_str());
        return szStep;
    }
    return PickText(pInfo->step);
}

// The verdicts but a failure: their text and, for a stop before the
// install, what an administrator can do (T_COUNT: nothing to do).
struct VerdictText {
    Verdict eVerdict;
    ToolText eText, eAction;
};

const VerdictText g_aVerdicts[] = {
    {V_INSTALLED, T_INSTALLED, T_COUNT},
    {V_PASSWORD, T_PASSWORD, T_PASSWORD_ACTION},
    {V_NOT_ADMIN, T_NOT_ADMIN, T_NOT_ADMIN_ACTION},
    {V_NO_SPACE, T_NO_SPACE, T_NO_SPACE_ACTION},
    {V_UPDATING, T_UPDATING, T_UPDATING_ACTION},
    {V_UNFINISHED, T_UNFINISHED, T_COUNT},
    {V_UNCLEAR, T_UNCLEAR, T_COUNT},
};

int PrintVerdict(const RunFacts& facts)
{
    Verdict eVerdict = Judge(facts);
    if (eVerdict == V_FAILED) {
        const ErrInfo* pInfo = FindError(facts.dwErr);
        printf(Text(T_FAILED), (unsigned long)facts.dwErr);
        printf(Text(T_MEANING), pInfo ? PickText(pInfo->meaning) : Text(T_UNKNOWN_ERR));
        printf(Text(T_STEP), StepOf(facts, pInfo).c_str());
        printf(Text(T_ACTION), pInfo ? PickText(pInfo->action) : Text(T_REPORT_IT));
    }
    for (const VerdictText& verdict : g_aVerdicts) {
        if (verdict.eVerdict != eVerdict)
            continue;
        // Only the free-space refusal has figures in its texts: the free
        // megabytes, and the entry's limit, the one figure an action names.
        const long lNeededMB = (long)MIN_FREE_MB;
        if (eVerdict == V_NO_SPACE)
            printf(Text(verdict.eText), facts.lFreeMB, lNeededMB);
        else
            fputs(Text(verdict.eText), stdout);
        if (verdict.eAction != T_COUNT) {
            char szAction[512];
            snprintf(szAction, sizeof(szAction), Text(verdict.eAction), lNeededMB);
            printf(Text(T_ACTION), szAction);
        }
    }
    for (const std::string& strArchive : facts.badArchives)
        printf(Text(T_NOTE_7ZIP), strArchive.c_str());
    if (facts.bNotSeen)
        printf(Text(T_NOTE_NOT_SEEN), (int)(INSTALLER_APPEAR_MAX_POLLS * INSTALLER_APPEAR_POLL_MS / 1000),
               INSTALLER_APPEAR_MAX_POLLS);
    return eVerdict == V_INSTALLED ? kExitInstalled : kExitStopped;
}

} // namespace

int PrintRunVerdict(const std::vector<LogFile>& files, const Run& run)
{
    return PrintVerdict(Gather(files, run));
}

} // namespace kavlalog
