// kavlapack: builds a Setup.exe from the setup program and the payload files,
// and lists, extracts and checks the Payload Pack of any file. Runs on the
// administrators' Windows machines and, under Wine, on the build machines.
//
//   kavlapack build <setup.exe> <out.exe> <file-or-folder>... [--component FOLDER]
//                   [--no-end] [--strict] [--allow-incomplete]
//   kavlapack list <file> [--offset N]
//   kavlapack extract <file> <folder> [--offset N]
//   kavlapack verify <file> [--offset N] [--strict] [--allow-incomplete]
//
// list and extract print one "name<TAB>size" line per record and a summary
// line starting with "# "; verify prints the summary only. build and verify
// check the payload against what the install driver does with each file and
// print one "kavlapack: error: FILE: reason" or "kavlapack: warning: ..."
// line per finding on stderr, then "kavlapack: N errors, M warnings".
//
// Exit codes: see kUsage.
#include "driver.h"
#include "file.h"
#include "link.h"
#include "pack.h"
#include <windows.h>
#include <algorithm>
#include <map>
#include <set>
#include <ctype.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const int kExitOk = 0, kExitFail = 1, kExitUsage = 2;

const char kUsage[] =
    "usage:\n"
    "  kavlapack build <setup.exe> <out.exe> <file-or-folder>... [--component FOLDER]\n"
    "                  [--no-end] [--strict] [--allow-incomplete]\n"
    "      pads the setup program with zero bytes to 3300000, appends the files\n"
    "      (a folder: its files, sorted by name), KavlaComponent.exe made from the\n"
    "      --component folder's files (sorted by name), and the end marker\n"
    "  kavlapack list <file> [--offset N]\n"
    "  kavlapack extract <file> <folder> [--offset N]\n"
    "  kavlapack verify <file> [--offset N] [--strict] [--allow-incomplete]\n"
    "  The offset defaults to 3300000 when the file holds a container there or is a\n"
    "  program (verify), else 0. A container at 3300000 is checked as a setup's payload.\n"
    "checks (build and verify; one line per finding on stderr, then a summary):\n"
    "  errors: pymApxSvr.exe (355) or KavlaSetup.exe (357) missing, a name that is\n"
    "    no plain file name (165) or longer than 64 bytes (161), two names of one\n"
    "    file on Windows (letter case, or the short name an earlier long name gets),\n"
    "    a KavlaComponent.exe that is no whole container (the reader's number), a\n"
    "    setup program larger than 3300000 bytes; build then writes nothing\n"
    "  warnings: Qt.7z without 7za.exe (112), Qt.7z or WebCmdCustomCfg.7z that the\n"
    "    payload's 7za.exe cannot list (it is run when it starts here), a\n"
    "    \"cfg.xml\" name the setup does not place, no end marker, bytes after the\n"
    "    end marker that are no signature\n"
    "  --strict            warnings count as errors\n"
    "  --allow-incomplete  for test payloads only: missing programs and a\n"
    "                      KavlaComponent.exe that is no container are warnings\n"
    "exit codes: 0 ok (warnings allowed without --strict); 1 refused or failed, or an\n"
    "  error found (build leaves no output); 2 usage; 150-166 the container error\n"
    "  number of the reader (list, extract, verify) or the writer (build)\n";

const char* ErrText(DWORD dwErr)
{
    switch (dwErr) {
    case PACK_ERR_NULL_ARG: return "a path or name argument is missing";
    case PACK_ERR_PATH_LEN: return "a path is 260 characters or longer";
    case PACK_ERR_NO_SOURCE: return "the file does not exist";
    case PACK_ERR_NO_CONTAINER: return "the container to append to does not exist";
    case PACK_ERR_DELETE: return "the existing container cannot be deleted";
    case PACK_ERR_SIZE: return "the size is unavailable, 4 GiB or more, or the offset is not inside the file";
    case PACK_ERR_OPEN: return "the file cannot be opened";
    case PACK_ERR_WRITE: return "writing failed";
    case PACK_ERR_NO_DEST: return "the destination folder does not exist";
    case PACK_ERR_HEADER_READ: return "the 17-byte header cannot be read in full";
    case PACK_ERR_MAGIC: return "no Payload Pack header at this offset";
    case PACK_ERR_NAME_LEN: return "a name length cannot be read in full, exceeds 64 or makes the path too long";
    case PACK_ERR_DATA_LEN: return "a data length cannot be read in full";
    case PACK_ERR_PAST_END: return "a record reaches past the end of the file";
    case PACK_ERR_NAME_READ: return "a name cannot be read in full";
    case PACK_ERR_OUTPUT: return "a record name is no plain file name, or its file cannot be created";
    case PACK_ERR_CONTENT_READ: return "content cannot be read in full";
    default: return "unknown error";
    }
}

void Fail(const char* pszCmd, const std::string& strMsg)
{
    fprintf(stderr, "kavlapack: %s: %s\n", pszCmd, strMsg.c_str());
}

int FailPack(const char* pszCmd, const std::string& strWhat, DWORD dwErr)
{
    fprintf(stderr, "kavlapack: %s: %s: error %lu: %s\n", pszCmd, strWhat.c_str(), (unsigned long)dwErr,
            ErrText(dwErr));
    return dwErr >= PACK_ERR_NULL_ARG && dwErr <= PACK_ERR_CONTENT_READ ? (int)dwErr : kExitFail;
}

// The full path in long names where the entry exists: the link checks of
// what is written compare it with the path a handle leads to.
std::string FullPath(const std::string& strPath)
{
    char sz[MAX_PATH + 1], szLong[MAX_PATH + 1];
    DWORD dw = GetFullPathNameA(strPath.c_str(), sizeof(sz), sz, NULL);
    if (dw == 0 || dw >= sizeof(sz))
        return std::string();
    DWORD dwLong = GetLongPathNameA(sz, szLong, sizeof(szLong));
    return std::string(dwLong && dwLong < sizeof(szLong) ? szLong : sz);
}

// A file of our own where nothing stands yet, never made through a link;
// INVALID_HANDLE_VALUE (ERROR_FILE_EXISTS) when anything is there: a file
// already standing there is not ours to write over or delete.
HANDLE NewFile(const std::string& strPath)
{
    if (GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    return utl_OpenOwnFile(strPath.c_str(), GENERIC_WRITE, 0, CREATE_NEW);
}

// "C:\a\b.txt" -> "C:\a" and "b.txt", the two halves the pack functions take.
bool SplitPath(const std::string& strFull, std::string& strFolder, std::string& strName)
{
    char szFolder[UTL_MAX_PATH];
    const char* pszName = NULL;
    if (!utl_SplitPath(strFull.c_str(), szFolder, sizeof(szFolder), &pszName) || !*pszName)
        return false;
    strFolder = szFolder;
    strName = pszName;
    return true;
}

bool IsFolderPath(const std::string& strPath)
{
    DWORD dw = GetFileAttributesA(strPath.c_str());
    return dw != INVALID_FILE_ATTRIBUTES && (dw & FILE_ATTRIBUTE_DIRECTORY);
}

bool ParseOffset(const char* psz, DWORD* pdwOffset)
{
    if (!psz || !*psz || strspn(psz, "0123456789") != strlen(psz) || strlen(psz) > 10)
        return false;
    unsigned long long ull = strtoull(psz, NULL, 10);
    if (ull > 0xFFFFFFFFull)
        return false;
    *pdwOffset = (DWORD)ull;
    return true;
}

// The setup program's container when the file holds the magic at 3300000,
// else a stand-alone container at 0.
DWORD DefaultOffset(const std::string& strPath)
{
    DWORD dwOffset = 0;
    HANDLE h = utl_OpenShared(strPath.c_str(), GENERIC_READ, 0);
    LARGE_INTEGER liSize, liPos;
    liPos.QuadPart = PACK_SETUP_OFFSET;
    BYTE ab[PACK_MAGIC_LEN];
    if (h != INVALID_HANDLE_VALUE && GetFileSizeEx(h, &liSize) && liSize.QuadPart > PACK_SETUP_OFFSET
        && SetFilePointerEx(h, liPos, NULL, FILE_BEGIN) && ReadAndMix(h, ab, PACK_MAGIC_LEN)
        && memcmp(ab, PACK_MAGIC, PACK_MAGIC_LEN) == 0)
        dwOffset = PACK_SETUP_OFFSET;
    utl_CloseHandle(h);
    return dwOffset;
}

// Splits "<positional>... [--offset N]" and, where pbStrict is given, the
// check options; false on a malformed or unknown option.
bool ParseReadArgs(int argc, char** argv, std::vector<std::string>& args, DWORD* pdwOffset, bool* pbOffset,
                   bool* pbStrict, bool* pbIncomplete)
{
    *pbOffset = false;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--offset") == 0) {
            if (i + 1 >= argc || *pbOffset || !ParseOffset(argv[i + 1], pdwOffset))
                return false;
            *pbOffset = true;
            ++i;
        } else if (pbStrict && strcmp(argv[i], "--strict") == 0) {
            *pbStrict = true;
        } else if (pbIncomplete && strcmp(argv[i], "--allow-incomplete") == 0) {
            *pbIncomplete = true;
        } else if (strncmp(argv[i], "--", 2) == 0) {
            return false;
        } else {
            args.push_back(argv[i]);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Listing

const char kPymName[] = "pymApxSvr.exe";
const char kInstallerName[] = "KavlaSetup.exe";
const char kComponentName[] = "KavlaComponent.exe";
const char kSevenZaName[] = "7za.exe";
// 7za.exe listing an archive of a few hundred MB takes seconds; a hung one is ended.
const DWORD kSevenZaWaitMs = 120000;

// One file of a payload as the driver finds it in its work folder.
struct PayloadFile {
    std::string strName;   // the record's name
    std::string strShown;  // how findings name it: the source path, or the record name
    std::string strPath;   // a file with its content; empty until verify copies it out
    DWORD dwContentAt = 0; // verify: where the mixed content starts in the host
    DWORD dwSize = 0;
};

struct ListCtx {
    bool bPrint = false;
    DWORD dwFiles = 0;
    unsigned long long ullBytes = 0;
    bool bEndMarker = false;
    DWORD dwEnd = 0;                          // the container's length as read
    DWORD dwOffset = 0;                       // the container's start in its host
    std::vector<PayloadFile>* pFiles = NULL;  // verify: the records, collected
};

int OnRecord(void* pvCtx, const char* pszName, DWORD dwDataLen, DWORD dwRecOffset, int bEnd)
{
    ListCtx* pCtx = (ListCtx*)pvCtx;
    DWORD dwContent = dwRecOffset + 2 * sizeof(DWORD) + (DWORD)strlen(pszName);
    pCtx->dwEnd = dwContent + dwDataLen;
    if (bEnd) {
        pCtx->bEndMarker = true;
        if (pCtx->bPrint)
            printf("%s\t(end marker)\n", pszName);
        return 1;
    }
    ++pCtx->dwFiles;
    pCtx->ullBytes += dwDataLen;
    if (pCtx->bPrint)
        printf("%s\t%lu\n", pszName, (unsigned long)dwDataLen);
    if (pCtx->pFiles) {
        PayloadFile pf;
        pf.strName = pf.strShown = pszName;
        pf.dwContentAt = pCtx->dwOffset + dwContent;
        pf.dwSize = dwDataLen;
        pCtx->pFiles->push_back(pf);
    }
    return 1;
}

void PrintListSummary(const ListCtx& ctx, DWORD dwOffset)
{
    printf("# %lu files, %llu bytes, container at offset %lu, %s\n", (unsigned long)ctx.dwFiles, ctx.ullBytes,
           (unsigned long)dwOffset,
           ctx.bEndMarker ? "ends with the end marker"
                          : "ends at the end of the file (no end marker: nothing may follow it, no signature)");
}

// ---------------------------------------------------------------------------
// Checks: what the install driver does with each file of a payload

struct Findings {
    unsigned nErrors = 0, nWarnings = 0;
    bool bAllowIncomplete = false;
    std::string strHost;   // verify: the file the records are copied out of
    std::string strTmp;    // verify: where they are copied to, made on first use
};

void Report(Findings& f, bool bError, const std::string& strFile, const std::string& strWhy)
{
    fprintf(stderr, "kavlapack: %s: %s: %s\n", bError ? "error" : "warning", strFile.c_str(), strWhy.c_str());
    ++(bError ? f.nErrors : f.nWarnings);
}

// What a deliberately incomplete test payload may lack: an error for any other.
void ReportIncomplete(Findings& f, const std::string& strFile, const std::string& strWhy)
{
    Report(f, !f.bAllowIncomplete, strFile, strWhy + (f.bAllowIncomplete ? " (allowed by --allow-incomplete)" : ""));
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
    char szTemp[MAX_PATH + 1];
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
    DWORD dwWritten = 0;
    for (DWORD dwDone = 0; bOk && dwDone < pf.dwSize;) {
        DWORD dwChunk = std::min<DWORD>(sizeof(abBuf), pf.dwSize - dwDone);
        bOk = ReadAndMix(hIn, abBuf, dwChunk) && WriteFile(hOut, abBuf, dwChunk, &dwWritten, NULL)
              && dwWritten == dwChunk;
        dwDone += dwChunk;
    }
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
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = hNul;
    PROCESS_INFORMATION pi;
    std::string strCmd = "\"" + strSevenZa + "\" l \"" + strArchive + "\"";
    std::vector<char> cmd(strCmd.begin(), strCmd.end());
    cmd.push_back('\0');
    int bRan = hNul != INVALID_HANDLE_VALUE
               && CreateProcessA(NULL, cmd.data(), NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL, &si, &pi);
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
        const char* pszThen;
    } aArchives[] = {
        {"Qt.7z", "the setup would record 112 and go on"},
        {"WebCmdCustomCfg.7z", "the setup would log \"unpack managecfg fail!\" and go on without it"},
    };
    PayloadFile* pSevenZa = FindFile(files, kSevenZaName);
    bool bNoted = false;
    for (const auto& a : aArchives) {
        PayloadFile* pArchive = FindFile(files, a.pszName);
        DWORD dwExit = 0;
        if (!pArchive)
            continue;
        if (!pSevenZa) {
            Report(f, false, pArchive->strShown, std::string("there is no 7za.exe to extract it; ") + a.pszThen);
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
                                                     + a.pszThen);
        }
    }
}

// Everything the install driver relies on in a setup's payload.
void CheckSetupPayload(std::vector<PayloadFile>& files, bool bEnd, const std::string& strSetup, Findings& f)
{
    const struct {
        const char* pszName;
        DWORD dwErr;
    } aPrograms[] = {{kPymName, DRV_ERR_NO_PYM}, {kInstallerName, DRV_ERR_NO_SETUP}};
    for (const auto& p : aPrograms)
        if (!FindFile(files, p.pszName))
            ReportIncomplete(f, p.pszName, "missing from the payload; " + SetupEnds(p.dwErr));

    PayloadFile* pComponent = FindFile(files, kComponentName);
    ListCtx ctx;
    DWORD dwErr = 0;
    if (pComponent && CopyOut(*pComponent, f) && !utl_PackList(pComponent->strPath.c_str(), 0, OnRecord, &ctx, &dwErr))
        ReportIncomplete(f, pComponent->strShown, "not a whole container: error " + std::to_string(dwErr) + ": "
                                                      + ErrText(dwErr) + "; " + SetupEnds(dwErr));

    CheckArchives(files, f);

    char szPrefix[UTL_MAX_PATH], szRest[UTL_MAX_PATH];
    for (const PayloadFile& pf : files)
        if (strstr(pf.strName.c_str(), "cfg.xml")
            && !DrvSplitProfileName(pf.strName.c_str(), szPrefix, szRest, UTL_MAX_PATH))
            Report(f, false, pf.strShown, "the name holds \"cfg.xml\" but no \"-\" that splits it into two plain "
                                          "names; the setup does not copy it into data\\<prefix>");
    if (!bEnd)
        Report(f, false, strSetup, "no end marker: nothing may follow the payload, and a signature appended to "
                                   "it would be read as a record");
}

// The Authenticode certificate table a signing tool appends to a program:
// its file offset and size from the PE headers, 0 and 0 when there is none.
void CertificateTable(const std::string& strPath, DWORD* pdwAt, DWORD* pdwSize)
{
    *pdwAt = *pdwSize = 0;
    std::vector<BYTE> head(4096);
    DWORD dwRead = 0;
    HANDLE h = utl_OpenShared(strPath.c_str(), GENERIC_READ, 0);
    if (h == INVALID_HANDLE_VALUE || !ReadFile(h, head.data(), (DWORD)head.size(), &dwRead, NULL))
        dwRead = 0;
    utl_CloseHandle(h);
    IMAGE_DOS_HEADER dos;
    DWORD dwSig = 0;
    WORD wMagic = 0;
    if (dwRead < sizeof(dos))
        return;
    memcpy(&dos, head.data(), sizeof(dos));
    size_t nOpt = (size_t)dos.e_lfanew + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 || nOpt + sizeof(IMAGE_OPTIONAL_HEADER64) > dwRead)
        return;
    memcpy(&dwSig, &head[dos.e_lfanew], sizeof(dwSig));
    memcpy(&wMagic, &head[nOpt], sizeof(wMagic));
    IMAGE_DATA_DIRECTORY dir = {0, 0};
    if (dwSig == IMAGE_NT_SIGNATURE && wMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        memcpy(&dir, &head[nOpt + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory)
                           + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(dir)], sizeof(dir));
    else if (dwSig == IMAGE_NT_SIGNATURE && wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        memcpy(&dir, &head[nOpt + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                           + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(dir)], sizeof(dir));
    *pdwAt = dir.VirtualAddress;
    *pdwSize = dir.Size;
}

bool StartsWithMz(const std::string& strPath)
{
    char ab[2] = {0, 0};
    DWORD dwRead = 0;
    HANDLE h = utl_OpenShared(strPath.c_str(), GENERIC_READ, 0);
    bool bMz = h != INVALID_HANDLE_VALUE && ReadFile(h, ab, 2, &dwRead, NULL) && dwRead == 2 && ab[0] == 'M'
               && ab[1] == 'Z';
    utl_CloseHandle(h);
    return bMz;
}

// ---------------------------------------------------------------------------
// list, extract and verify

// The host file of list, extract and verify, or an empty string after the
// message; *pnExit is the exit code then.
std::string ReadHost(const char* pszCmd, int argc, char** argv, size_t nArgs, std::vector<std::string>& args,
                     DWORD* pdwOffset, bool* pbOffset, bool* pbStrict, bool* pbIncomplete, int* pnExit)
{
    if (!ParseReadArgs(argc, argv, args, pdwOffset, pbOffset, pbStrict, pbIncomplete) || args.size() != nArgs) {
        fputs(kUsage, stderr);
        *pnExit = kExitUsage;
        return "";
    }
    std::string strFile = FullPath(args[0]);
    if (strFile.empty() || !utl_FileExists(strFile.c_str()) || IsFolderPath(strFile)) {
        Fail(pszCmd, "no such file: " + args[0]);
        *pnExit = kExitFail;
        return "";
    }
    return strFile;
}

int ReadCommand(const char* pszCmd, int argc, char** argv)
{
    std::vector<std::string> args;
    DWORD dwOffset = 0;
    bool bOffset = false;
    bool bExtract = strcmp(pszCmd, "extract") == 0;
    int nExit = kExitOk;
    std::string strFile = ReadHost(pszCmd, argc, argv, bExtract ? 2 : 1, args, &dwOffset, &bOffset, NULL, NULL, &nExit);
    if (strFile.empty())
        return nExit;
    if (!bOffset)
        dwOffset = DefaultOffset(strFile);

    if (bExtract) {
        std::string strDst = FullPath(args[1]);
        // Extracted into a real folder of its own: a link in its place is removed.
        if (strDst.empty() || !utl_EnsureOwnFolder(strDst.c_str())) {
            Fail(pszCmd, "cannot create the folder " + args[1]);
            return kExitFail;
        }
        std::string strFolder, strName;
        SplitPath(strFile, strFolder, strName);
        DWORD dwErr = 0;
        if (!utl_FileUnpack(strFolder.c_str(), strName.c_str(), strDst.c_str(), &dwErr, dwOffset))
            return FailPack(pszCmd, strFile, dwErr);
    }

    // Extraction names what it extracted, in the listing's format.
    ListCtx ctx;
    ctx.bPrint = true;
    DWORD dwErr = 0;
    if (!utl_PackList(strFile.c_str(), dwOffset, OnRecord, &ctx, &dwErr))
        return FailPack(pszCmd, strFile, dwErr);
    PrintListSummary(ctx, dwOffset);
    return kExitOk;
}

// The container read as the setup reads it; a setup's payload then checked
// against what the install driver does with each file.
int Verify(int argc, char** argv)
{
    std::vector<std::string> args;
    DWORD dwOffset = 0;
    bool bOffset = false, bStrict = false;
    Findings f;
    int nExit = kExitOk;
    f.strHost = ReadHost("verify", argc, argv, 1, args, &dwOffset, &bOffset, &bStrict, &f.bAllowIncomplete, &nExit);
    if (f.strHost.empty())
        return nExit;
    const std::string& strFile = f.strHost;
    // A program is the setup it would be, whatever stands at its payload offset.
    if (!bOffset)
        dwOffset = StartsWithMz(strFile) ? PACK_SETUP_OFFSET : DefaultOffset(strFile);
    bool bSetup = dwOffset == PACK_SETUP_OFFSET;
    DWORD dwHigh = 0, dwSize = 0;
    utl_GetFileSize(strFile.c_str(), &dwHigh, &dwSize);
    if (bSetup && dwHigh == 0 && dwSize <= PACK_SETUP_OFFSET) {
        Report(f, true, strFile, "no payload: the file ends at or before 3300000; " + SetupEnds(DRV_ERR_CARRIER));
        return Summary(f, bStrict);
    }

    std::vector<PayloadFile> files;
    ListCtx ctx;
    ctx.dwOffset = dwOffset;
    ctx.pFiles = &files;
    DWORD dwErr = 0;
    if (!utl_PackList(strFile.c_str(), dwOffset, OnRecord, &ctx, &dwErr)) {
        Report(f, true, strFile, "the container does not read: error " + std::to_string(dwErr) + ": " + ErrText(dwErr)
                                     + (bSetup ? "; " + SetupEnds(dwErr) : std::string()));
        Summary(f, bStrict);
        return dwErr >= PACK_ERR_NULL_ARG && dwErr <= PACK_ERR_CONTENT_READ ? (int)dwErr : kExitFail;
    }
    PrintListSummary(ctx, dwOffset);
    CheckCollisions(files, f);
    if (bSetup)
        CheckSetupPayload(files, ctx.bEndMarker, strFile, f);
    // The reader never looks behind the end marker: only a signature belongs there.
    unsigned long long ullEnd = (unsigned long long)dwOffset + ctx.dwEnd;
    DWORD dwCertAt = 0, dwCertSize = 0;
    CertificateTable(strFile, &dwCertAt, &dwCertSize);
    bool bSigned = dwCertSize && dwCertAt >= ullEnd && dwCertAt - ullEnd < 8
                   && (unsigned long long)dwCertAt + dwCertSize == dwSize;
    if (ctx.bEndMarker && ullEnd < dwSize && !bSigned)
        Report(f, false, strFile, std::to_string(dwSize - ullEnd) + " bytes follow the end marker and are no "
                                  "signature; the setup never reads them");
    if (!f.strTmp.empty())
        utl_DeleteFolderTree(f.strTmp.c_str());
    return Summary(f, bStrict);
}

// ---------------------------------------------------------------------------
// build

struct Input {
    std::string strFolder, strName;
};

void AddFileName(void* pvNames, const char*, const char* pszName, DWORD dwAttributes)
{
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        ((std::vector<std::string>*)pvNames)->push_back(pszName);
}

bool CollectFolder(const std::string& strFolder, std::vector<Input>& inputs)
{
    std::vector<std::string> names;
    if (!utl_ForEachEntry(strFolder.c_str(), "*", AddFileName, &names)) {
        Fail("build", "cannot read the folder " + strFolder);
        return false;
    }
    // Byte order, whatever order the folder lists them in: the same files
    // give the same setup.
    std::sort(names.begin(), names.end());
    for (const std::string& strName : names)
        inputs.push_back(Input{strFolder, strName});
    return true;
}

bool CollectInputs(const std::vector<std::string>& args, std::vector<Input>& inputs)
{
    bool bOk = true;
    for (const std::string& strArg : args) {
        std::string strFull = FullPath(strArg);
        Input in;
        if (!strFull.empty() && IsFolderPath(strFull)) {
            bOk = CollectFolder(strFull, inputs) && bOk;
        } else if (!strFull.empty() && utl_FileExists(strFull.c_str()) && SplitPath(strFull, in.strFolder, in.strName)) {
            inputs.push_back(in);
        } else {
            Fail("build", "no such file or folder: " + strArg);
            bOk = false;
        }
    }
    return bOk;
}

// The inputs as the files of a payload, each with its names checked.
std::vector<PayloadFile> CheckedFiles(const std::vector<Input>& inputs, Findings& f)
{
    std::vector<PayloadFile> files;
    for (const Input& in : inputs) {
        PayloadFile pf;
        pf.strName = in.strName;
        pf.strShown = pf.strPath = in.strFolder + "\\" + in.strName;
        CheckName(pf.strName, pf.strShown, f);
        files.push_back(pf);
    }
    CheckCollisions(files, f);
    return files;
}

// KavlaComponent.exe as the driver reads it: a stand-alone container at
// offset 0 of the files in their order, ending with its file.
int BuildComponent(const std::vector<Input>& inputs, const std::string& strDir)
{
    std::string strPath = strDir + "\\" + kComponentName;
    HANDLE h = NewFile(strPath);
    BYTE abMagic[PACK_MAGIC_LEN];
    memcpy(abMagic, PACK_MAGIC, PACK_MAGIC_LEN);
    bool bOk = h != INVALID_HANDLE_VALUE && MixAndWrite(h, abMagic, PACK_MAGIC_LEN);
    utl_CloseHandle(h);
    if (!bOk) {
        Fail("build", "cannot write " + strPath);
        return kExitFail;
    }
    for (const Input& in : inputs) {
        DWORD dwErr = 0;
        if (!utl_FilePack(in.strFolder.c_str(), in.strName.c_str(), strDir.c_str(), kComponentName, &dwErr, 1))
            return FailPack("build", "cannot add " + in.strFolder + "\\" + in.strName + " to " + strPath, dwErr);
    }
    return kExitOk;
}

// The setup program, zero bytes up to the payload offset, and the header,
// into a new file (never through a file or link already standing there).
// *pbCreated tells whether the file is ours to delete after a failure.
bool WriteProgramAndHeader(const std::string& strProgram, DWORD dwProgramSize, const std::string& strOut,
                           bool* pbCreated)
{
    *pbCreated = false;
    HANDLE hIn = utl_OpenShared(strProgram.c_str(), GENERIC_READ, 0);
    if (hIn == INVALID_HANDLE_VALUE) {
        Fail("build", "cannot open the setup program " + strProgram + " (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    HANDLE hOut = NewFile(strOut);
    *pbCreated = hOut != INVALID_HANDLE_VALUE;
    bool bOk = *pbCreated;
    if (!bOk)
        Fail("build", "cannot create " + strOut + " (error " + std::to_string(GetLastError()) + ")");
    BYTE abBuf[65536];
    DWORD dwTotal = 0, dwRead = 0, dwWritten = 0;
    // A failed read is no end of the program: padding over it would ship a
    // setup whose program is cut short.
    while (bOk) {
        if (!ReadFile(hIn, abBuf, sizeof(abBuf), &dwRead, NULL)) {
            Fail("build", "cannot read the setup program " + strProgram + " at byte " + std::to_string(dwTotal)
                              + " (error " + std::to_string(GetLastError()) + ")");
            bOk = false;
        } else if (dwRead == 0) {
            break;
        } else if (!WriteFile(hOut, abBuf, dwRead, &dwWritten, NULL) || dwWritten != dwRead) {
            Fail("build", "cannot write " + strOut + " (error " + std::to_string(GetLastError()) + ")");
            bOk = false;
        }
        dwTotal += dwRead;
    }
    if (bOk && dwTotal != dwProgramSize) {
        Fail("build", "the setup program " + strProgram + " changed while it was read: " + std::to_string(dwTotal)
                          + " bytes instead of " + std::to_string(dwProgramSize));
        bOk = false;
    }
    memset(abBuf, 0, sizeof(abBuf));
    while (bOk && dwTotal < PACK_SETUP_OFFSET) {
        DWORD dwChunk = std::min<DWORD>(sizeof(abBuf), PACK_SETUP_OFFSET - dwTotal);
        bOk = WriteFile(hOut, abBuf, dwChunk, &dwWritten, NULL) && dwWritten == dwChunk;
        dwTotal += dwChunk;
    }
    memcpy(abBuf, PACK_MAGIC, PACK_MAGIC_LEN);
    if (bOk && (dwTotal != PACK_SETUP_OFFSET || !MixAndWrite(hOut, abBuf, PACK_MAGIC_LEN))) {
        Fail("build", "cannot write " + strOut + " (error " + std::to_string(GetLastError()) + ")");
        bOk = false;
    }
    utl_CloseHandle(hIn);
    utl_CloseHandle(hOut);
    return bOk;
}

// The end-marker record: its name and two zero-content length fields.
bool AppendEndMarker(const std::string& strOut)
{
    HANDLE h = utl_OpenOwnFile(strOut.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING);
    DWORD adwLen[2] = {sizeof(PACK_END_NAME) - 1, 0};
    BYTE abName[sizeof(PACK_END_NAME)];
    memcpy(abName, PACK_END_NAME, sizeof(PACK_END_NAME));
    DWORD dwWritten = 0;
    bool bOk = h != INVALID_HANDLE_VALUE && SetFilePointer(h, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER
               && WriteFile(h, adwLen, sizeof(adwLen), &dwWritten, NULL) && dwWritten == sizeof(adwLen)
               && MixAndWrite(h, abName, adwLen[0]);
    utl_CloseHandle(h);
    return bOk;
}

int Build(int argc, char** argv)
{
    bool bEnd = true, bStrict = false, bBadOption = false;
    Findings f;
    std::string strComponentArg;
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--no-end") == 0)
            bEnd = false;
        else if (strcmp(argv[i], "--strict") == 0)
            bStrict = true;
        else if (strcmp(argv[i], "--allow-incomplete") == 0)
            f.bAllowIncomplete = true;
        else if (strcmp(argv[i], "--component") == 0 && i + 1 < argc && strComponentArg.empty())
            strComponentArg = argv[++i];
        else if (strncmp(argv[i], "--", 2) == 0)
            bBadOption = true;
        else
            args.push_back(argv[i]);
    }
    if (bBadOption || args.size() < 3) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::string strProgram = FullPath(args[0]), strOut = FullPath(args[1]);
    std::string strOutFolder, strOutName;
    DWORD dwHigh = 0, dwLow = 0, dwProgramSize = 0;
    if (strProgram.empty() || !utl_GetFileSize(strProgram.c_str(), &dwHigh, &dwProgramSize)) {
        Fail("build", "no such setup program: " + args[0]);
        return kExitFail;
    }
    if (dwHigh != 0 || dwProgramSize > PACK_SETUP_OFFSET)
        Report(f, true, args[0], "the setup program is " + std::to_string(((unsigned long long)dwHigh << 32) | dwProgramSize)
                                     + " bytes, larger than the " + std::to_string(PACK_SETUP_OFFSET)
                                     + " bytes before the payload; it cannot carry one, "
                                     + SetupEnds(PACK_ERR_MAGIC) + " on its own bytes");
    if (strOut.empty() || !SplitPath(strOut, strOutFolder, strOutName) || IsFolderPath(strOut)) {
        Fail("build", "not an output file name: " + args[1]);
        return kExitFail;
    }
    std::vector<Input> inputs, componentInputs;
    std::string strComponent = strComponentArg.empty() ? "" : FullPath(strComponentArg);
    if (!CollectInputs(std::vector<std::string>(args.begin() + 2, args.end()), inputs)
        || (!strComponentArg.empty() && (!IsFolderPath(strComponent) || !CollectFolder(strComponent, componentInputs)))) {
        if (!strComponentArg.empty() && !IsFolderPath(strComponent))
            Fail("build", "no such folder: " + strComponentArg);
        return kExitFail;
    }

    // The component is made beside the output, so that it is checked and
    // packed like any other file; it goes wherever the build ends.
    std::string strTag = ".kavlapack-" + std::to_string(GetCurrentProcessId());
    std::string strComponentDir = strOut + strTag + ".d";
    int nExit = kExitOk;
    bool bComponent = false;
    if (!strComponentArg.empty()) {
        unsigned nErrors = f.nErrors;
        CheckedFiles(componentInputs, f);
        utl_DeleteFolderTree(strComponentDir.c_str());
        bComponent = f.nErrors == nErrors;
        if (bComponent && !CreateDirectoryA(strComponentDir.c_str(), NULL)) {
            Fail("build", "cannot create the folder " + strComponentDir);
            return kExitFail;
        }
        if (bComponent)
            nExit = BuildComponent(componentInputs, strComponentDir);
        if (bComponent)
            inputs.push_back(Input{strComponentDir, kComponentName});
    }
    std::vector<PayloadFile> files = CheckedFiles(inputs, f);
    if (bComponent)
        files.back().strShown = strComponent + " (--component)";
    if (nExit == kExitOk)
        CheckSetupPayload(files, bEnd, strOut, f);
    if (nExit == kExitOk && Summary(f, bStrict) != kExitOk)
        nExit = kExitFail;

    unsigned long long ullTotal = PACK_SETUP_OFFSET + PACK_MAGIC_LEN + (bEnd ? 8 + sizeof(PACK_END_NAME) - 1 : 0);
    for (size_t i = 0; nExit == kExitOk && i < files.size(); ++i) {
        if (!utl_GetFileSize(files[i].strPath.c_str(), &dwHigh, &dwLow)) {
            Fail("build", "cannot read the size of " + files[i].strPath);
            nExit = kExitFail;
        }
        ullTotal += 8 + files[i].strName.size() + (((unsigned long long)dwHigh << 32) | dwLow);
    }
    if (nExit == kExitOk && ullTotal >= 0x100000000ull) {
        Fail("build", "the setup would be " + std::to_string(ullTotal) + " bytes; it must stay below 4 GiB");
        nExit = kExitFail;
    }

    // Everything is written beside the output and renamed at the end, so
    // that no half-written setup ever stands under the final name.
    std::string strTmpName = strOutName + strTag + ".tmp";
    std::string strTmp = strOutFolder + "\\" + strTmpName;
    bool bCreated = false;
    if (nExit == kExitOk && !WriteProgramAndHeader(strProgram, dwProgramSize, strTmp, &bCreated))
        nExit = kExitFail;
    for (size_t i = 0; nExit == kExitOk && i < inputs.size(); ++i) {
        DWORD dwErr = 0;
        if (!utl_FilePack(inputs[i].strFolder.c_str(), inputs[i].strName.c_str(), strOutFolder.c_str(),
                          strTmpName.c_str(), &dwErr, 1))
            nExit = FailPack("build", "cannot add " + inputs[i].strFolder + "\\" + inputs[i].strName, dwErr);
    }
    if (nExit == kExitOk && bEnd && !AppendEndMarker(strTmp)) {
        Fail("build", "cannot write the end marker to " + strTmp);
        nExit = kExitFail;
    }
    // A source that fails to read mid-copy leaves its record short: the
    // file must have exactly the size its parts add up to.
    if (nExit == kExitOk && (!utl_GetFileSize(strTmp.c_str(), &dwHigh, &dwLow) || dwHigh != 0 || dwLow != ullTotal)) {
        Fail("build", "the written setup " + strTmp + " is not the " + std::to_string(ullTotal)
                          + " bytes its parts add up to: a file could not be read in full");
        nExit = kExitFail;
    }
    // What was written must read back as the setup program reads it.
    ListCtx ctx;
    DWORD dwErr = 0;
    if (nExit == kExitOk && !utl_PackList(strTmp.c_str(), PACK_SETUP_OFFSET, OnRecord, &ctx, &dwErr))
        nExit = FailPack("build", "the written payload does not read back", dwErr);
    if (nExit == kExitOk && (ctx.dwFiles != inputs.size() || ctx.bEndMarker != bEnd)) {
        Fail("build", "the written payload does not read back as written");
        nExit = kExitFail;
    }
    if (nExit == kExitOk && !MoveFileExA(strTmp.c_str(), strOut.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Fail("build", "cannot rename " + strTmp + " to " + strOut + " (error " + std::to_string(GetLastError()) + ")");
        nExit = kExitFail;
    }
    if (nExit != kExitOk && bCreated)
        utl_DeleteOwnFile(strTmp.c_str());
    if (bComponent)
        utl_DeleteFolderTree(strComponentDir.c_str());
    if (nExit == kExitOk)
        printf("%s: %lu files, %llu bytes of payload at offset %lu%s\n", strOut.c_str(), (unsigned long)ctx.dwFiles,
               ctx.ullBytes, (unsigned long)PACK_SETUP_OFFSET, bEnd ? ", end marker" : ", no end marker");
    return nExit;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    const char* pszCmd = argv[1];
    if (strcmp(pszCmd, "build") == 0)
        return Build(argc - 2, argv + 2);
    if (strcmp(pszCmd, "verify") == 0)
        return Verify(argc - 2, argv + 2);
    if (strcmp(pszCmd, "list") == 0 || strcmp(pszCmd, "extract") == 0)
        return ReadCommand(pszCmd, argc - 2, argv + 2);
    if (strcmp(pszCmd, "--help") == 0 || strcmp(pszCmd, "-h") == 0 || strcmp(pszCmd, "help") == 0) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    fprintf(stderr, "kavlapack: unknown command \"%s\"\n", pszCmd);
    fputs(kUsage, stderr);
    return kExitUsage;
}
