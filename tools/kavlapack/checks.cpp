// kavlapack's payload checks: what the install driver does with each file of
// a payload, reported one finding a line.
#include "kavlapack.h"
#include "payload.h"
#include "file.h"
#include "link.h"
#include "proc.h"
#include <windows.h>
#include <map>
#include <set>
#include <ctype.h>
#include <stdio.h>
#include <string.h>

namespace kavlapack {

namespace {

// 7za.exe listing an archive of a few hundred MB takes seconds; a hung one is ended.
const DWORD kSevenZaWaitMs = 120000;

// What a deliberately incomplete test payload may lack: an error for any other.
void ReportIncomplete(Findings& f, const std::string& strFile, const std::string& strWhy)
{
    Report(f, !f.bAllowIncomplete, strFile, strWhy + (f.bAllowIncomplete ? " (allowed by --allow-incomplete)" : ""));
}

// The file system's own letter-case folding (ordinal), not a linguistic one.
bool SameFileName(const std::string& strA, const std::string& strB)
{
    WCHAR wszA[UTL_MAX_PATH], wszB[UTL_MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, strA.c_str(), -1, wszA, UTL_MAX_PATH)
        || !MultiByteToWideChar(CP_ACP, 0, strB.c_str(), -1, wszB, UTL_MAX_PATH))
        return lstrcmpiA(strA.c_str(), strB.c_str()) == 0;
    return CompareStringOrdinal(wszA, -1, wszB, -1, TRUE) == CSTR_EQUAL;
}

// Upper-cased copy; false for a name with bytes beyond ASCII, whose short
// name depends on the OEM code page of the machine that installs.
bool AsciiUpper(const std::string& str, std::string& strUpper)
{
    strUpper = str;
    for (char& c : strUpper) {
        if ((unsigned char)c >= 0x80)
            return false;
        c = (char)toupper((unsigned char)c);
    }
    return true;
}

bool IsShortChar(char c) { return isalnum((unsigned char)c) || strchr("!#$%&'()-@^_`{}~", c); }

// An upper-cased name that is its own short name: 1-8 characters, optionally
// a dot and 1-3 more, all from the set that short names allow.
bool IsShortForm(const std::string& strUpper)
{
    size_t nDot = strUpper.find('.');
    std::string strBase = strUpper.substr(0, nDot);
    std::string strExt = nDot == std::string::npos ? "" : strUpper.substr(nDot + 1);
    if (strBase.empty() || strBase.size() > 8 || strExt.size() > 3 || (nDot != std::string::npos && strExt.empty()))
        return false;
    for (char c : strBase + strExt)
        if (!IsShortChar(c))
            return false;
    return true;
}

// The short name a long name gets as the n-th of its kind: the first six
// usable characters before its last dot, "~n", the first three after it.
std::string ShortAlias(const std::string& strUpper, int n)
{
    size_t nDot = strUpper.find_last_of('.');
    if (nDot == 0)
        nDot = std::string::npos;
    std::string strBase, strExt;
    for (size_t i = 0; i < strUpper.size(); ++i) {
        char c = strUpper[i];
        if (c == ' ' || c == '.')
            continue;
        (nDot != std::string::npos && i > nDot ? strExt : strBase) += IsShortChar(c) ? c : '_';
    }
    if (strBase.empty())
        return "";
    return strBase.substr(0, 6) + "~" + std::to_string(n) + (strExt.empty() ? "" : "." + strExt.substr(0, 3));
}

} // namespace

void Report(Findings& f, bool bError, const std::string& strFile, const std::string& strWhy)
{
    fprintf(stderr, "kavlapack: %s: %s: %s\n", bError ? "error" : "warning", strFile.c_str(), strWhy.c_str());
    ++(bError ? f.nErrors : f.nWarnings);
}

int Summary(const Findings& f, bool bStrict)
{
    fprintf(stderr, "kavlapack: %u error%s, %u warning%s\n", f.nErrors, f.nErrors == 1 ? "" : "s", f.nWarnings,
            f.nWarnings == 1 ? "" : "s");
    return f.nErrors || (bStrict && f.nWarnings) ? kExitFail : kExitOk;
}

std::string SetupEnds(DWORD dwErr) { return "the setup would end with " + std::to_string(dwErr); }

// A payload name must come out of the reader as the same plain file name.
void CheckName(const std::string& strName, const std::string& strShown, Findings& f)
{
    if (!utl_IsPlainFileName(strName.c_str()))
        Report(f, true, strShown, "the name is not a plain file name; " + SetupEnds(PACK_ERR_OUTPUT));
    else if (strName.size() > PACK_MAX_NAME)
        Report(f, true, strShown, "the name is longer than 64 bytes; " + SetupEnds(PACK_ERR_NAME_LEN));
    else if (strName == PACK_END_NAME)
        Report(f, true, strShown, "the name is the end marker's name; the setup would stop reading there");
}

// The driver writes every record into one folder, in record order: two
// names of one file there make the later record overwrite the earlier one,
// with no error number. Letter case is certain. Short names are predicted
// as a system drive that makes them (the default) gives them to files
// created one by one in an empty folder: ~1 to ~4 in creation order, after
// that a hash form nobody can foresee; names beyond ASCII are left out.
void CheckCollisions(const std::vector<PayloadFile>& files, Findings& f)
{
    std::set<std::string> taken;             // short names in use, upper case
    std::map<std::string, size_t> aliases;   // short name -> the long name that got it
    for (size_t j = 0; j < files.size(); ++j) {
        const std::string& strName = files[j].strName;
        bool bSame = false;
        for (size_t i = 0; i < j && !bSame; ++i) {
            bSame = SameFileName(files[i].strName, strName);
            if (bSame)
                Report(f, true, files[j].strShown, "two payload files are named " + files[i].strName
                                                       + " on Windows (with " + files[i].strShown
                                                       + "): the later overwrites the earlier, with no error number");
        }
        std::string strUpper;
        if (bSame || !AsciiUpper(strName, strUpper))
            continue;
        if (IsShortForm(strUpper)) {
            auto it = aliases.find(strUpper);
            if (it != aliases.end())
                Report(f, true, files[j].strShown, "two payload files are named " + strUpper + " on Windows (with "
                                                       + files[it->second].strShown
                                                       + ", whose short name it is on a drive that makes them)"
                                                       ": the later overwrites the earlier, with no error number");
            taken.insert(strUpper);
            continue;
        }
        for (int n = 1; n <= 4; ++n) {
            std::string strAlias = ShortAlias(strUpper, n);
            if (strAlias.empty())
                break;
            if (taken.insert(strAlias).second) {
                aliases[strAlias] = j;
                break;
            }
        }
    }
}

namespace {

// The last record of that name: the one whose content the driver finds.
PayloadFile* FindFile(std::vector<PayloadFile>& files, const char* pszName)
{
    for (size_t i = files.size(); i-- > 0;)
        if (SameFileName(files[i].strName, pszName))
            return &files[i];
    return NULL;
}

// Gives a record of the checked host a file of its own, unmixed, named as
// the record: what the driver would find in its work folder.
bool CopyOut(PayloadFile& pf, Findings& f)
{
    if (!pf.strPath.empty())
        return true;
    char szTemp[UTL_MAX_PATH + 1];
    DWORD dw = GetTempPathA(sizeof(szTemp), szTemp);
    if (f.strTmp.empty() && dw > 0 && dw < sizeof(szTemp)) {
        std::string strTmp = FullPath(szTemp) + "kavlapack-" + std::to_string(GetCurrentProcessId());
        if (utl_EnsureOwnFolder(strTmp.c_str()))
            f.strTmp = strTmp;
    }
    std::string strPath = f.strTmp + "\\" + pf.strName;
    HANDLE hIn = utl_OpenShared(f.strHost.c_str(), GENERIC_READ, 0);
    HANDLE hOut = INVALID_HANDLE_VALUE;
    if (!f.strTmp.empty()) {
        utl_DeleteOwnFile(strPath.c_str());
        hOut = utl_OpenOwnFile(strPath.c_str(), GENERIC_WRITE, 0, CREATE_NEW);
    }
    LARGE_INTEGER li;
    li.QuadPart = pf.dwContentAt;
    bool bOk = hIn != INVALID_HANDLE_VALUE && hOut != INVALID_HANDLE_VALUE
               && SetFilePointerEx(hIn, li, NULL, FILE_BEGIN);
    BYTE abBuf[65536];
    bOk = bOk && utl_CopyBytes(hIn, hOut, pf.dwSize, MixBuffer, abBuf, sizeof(abBuf), NULL, NULL);
    utl_CloseHandle(hIn);
    utl_CloseHandle(hOut);
    if (bOk)
        pf.strPath = strPath;
    else
        Fail("verify", "cannot copy " + pf.strName + " out of " + f.strHost + " to check it");
    return bOk;
}

// Runs the payload's 7za.exe with "l" on an archive, its output discarded.
// 1 when it ran, with its exit code (WAIT_TIMEOUT when it was ended); 0
// with the system's error number when it did not start.
int RunSevenZaList(const std::string& strSevenZa, const std::string& strArchive, DWORD* pdwExit)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), NULL, TRUE};
    HANDLE hNul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                              OPEN_EXISTING, 0, NULL);
    PROCESS_INFORMATION pi;
    std::string strCmd = "\"" + strSevenZa + "\" l \"" + strArchive + "\"";
    int bRan = hNul != INVALID_HANDLE_VALUE && utl_StartHidden(strCmd.c_str(), hNul, hNul, &pi);
    if (!bRan)
        *pdwExit = GetLastError();
    if (bRan) {
        if (WaitForSingleObject(pi.hProcess, kSevenZaWaitMs) != WAIT_OBJECT_0) {
            TerminateProcess(pi.hProcess, WAIT_TIMEOUT);
            WaitForSingleObject(pi.hProcess, 5000);
        }
        if (!GetExitCodeProcess(pi.hProcess, pdwExit))
            *pdwExit = WAIT_TIMEOUT;
        utl_CloseHandle(pi.hThread);
        utl_CloseHandle(pi.hProcess);
    }
    utl_CloseHandle(hNul);
    return bRan;
}

// The two archives the driver extracts with the payload's 7za.exe.
void CheckArchives(std::vector<PayloadFile>& files, Findings& f)
{
    const struct {
        const char* pszName;
        std::string strThen;
    } aArchives[] = {
        {PAYLOAD_QT_ARCHIVE, "the setup would record " + std::to_string(DRV_ERR_QT) + " and go on"},
        {PAYLOAD_CMDCFG_ARCHIVE, "the setup would log \"unpack managecfg fail!\" and go on without it"},
    };
    PayloadFile* pSevenZa = FindFile(files, PAYLOAD_SEVENZA);
    bool bNoted = false;
    for (const auto& a : aArchives) {
        PayloadFile* pArchive = FindFile(files, a.pszName);
        DWORD dwExit = 0;
        if (!pArchive)
            continue;
        if (!pSevenZa) {
            Report(f, false, pArchive->strShown, std::string("there is no 7za.exe to extract it; ") + a.strThen);
        } else if (!CopyOut(*pSevenZa, f) || !CopyOut(*pArchive, f)) {
            continue;
        } else if (!RunSevenZaList(pSevenZa->strPath, pArchive->strPath, &dwExit)) {
            // 7za.exe of another architecture, or none that this machine runs: optional.
            if (!bNoted)
                fprintf(stderr, "kavlapack: note: %s: cannot be started here (error %lu); the archives are not listed\n",
                        pSevenZa->strShown.c_str(), (unsigned long)dwExit);
            bNoted = true;
        } else if (dwExit != 0) {
            Report(f, false, pArchive->strShown, "7za.exe cannot list it (exit " + std::to_string(dwExit) + "); "
                                                     + a.strThen);
        }
    }
}

} // namespace

// Everything the install driver relies on in a setup's payload.
void CheckSetupPayload(std::vector<PayloadFile>& files, bool bEnd, const std::string& strSetup, Findings& f)
{
    for (const PayloadProgram* p : PAYLOAD_PROGRAMS)
        if (!FindFile(files, p->pszName))
            ReportIncomplete(f, p->pszName, "missing from the payload; " + SetupEnds(p->dwErrMissing));

    PayloadFile* pComponent = FindFile(files, PAYLOAD_COMPONENT);
    ListCtx ctx;
    DWORD dwErr = 0;
    if (pComponent && CopyOut(*pComponent, f) && !utl_PackList(pComponent->strPath.c_str(), 0, OnRecord, &ctx, &dwErr))
        ReportIncomplete(f, pComponent->strShown, "not a whole container: error " + std::to_string(dwErr) + ": "
                                                      + ErrText(dwErr) + "; " + SetupEnds(dwErr));

    CheckArchives(files, f);

    char szPrefix[UTL_MAX_PATH], szRest[UTL_MAX_PATH];
    for (const PayloadFile& pf : files)
        if (IsProfileFileName(pf.strName.c_str())
            && !DrvSplitProfileName(pf.strName.c_str(), szPrefix, szRest, UTL_MAX_PATH))
            Report(f, false, pf.strShown, "the name holds \"cfg.xml\" but no \"-\" that splits it into two plain "
                                          "names; the setup does not copy it into data\\<prefix>");
    if (!bEnd)
        Report(f, false, strSetup, "no end marker: nothing may follow the payload, and a signature appended to "
                                   "it would be read as a record");
}

} // namespace kavlapack
