// kavlapack's own shared pieces: exit codes, messages, the records of a
// payload, the findings of its checks, and each subject's entry points.
#pragma once
#include "pack.h"
#include <windows.h>
#include <string>
#include <vector>

namespace kavlapack {

const int kExitOk = 0, kExitFail = 1, kExitUsage = 2;
extern const char kUsage[];

// Command line (main.cpp): messages and the paths the arguments name.
const char* ErrText(DWORD dwErr);
void Fail(const char* pszCmd, const std::string& strMsg);
// The message of a reader's or writer's error; its number is the exit code.
int FailPack(const char* pszCmd, const std::string& strWhat, DWORD dwErr);
std::string FullPath(const std::string& strPath);
bool SplitPath(const std::string& strFull, std::string& strFolder, std::string& strName);
bool IsFolderPath(const std::string& strPath);

// One file of a payload as the driver finds it in its work folder.
struct PayloadFile {
    std::string strName;   // the record's name
    std::string strShown;  // how findings name it: the source path, or the record name
    std::string strPath;   // a file with its content; empty until verify copies it out
    DWORD dwContentAt = 0; // verify: where the mixed content starts in the host
    DWORD dwSize = 0;
};

// What a walk over a container's records counts, prints or collects.
struct ListCtx {
    bool bPrint = false;
    DWORD dwFiles = 0;
    unsigned long long ullBytes = 0;
    bool bEndMarker = false;
    DWORD dwEnd = 0;                          // the container's length as read
    DWORD dwOffset = 0;                       // the container's start in its host
    std::vector<PayloadFile>* pFiles = NULL;  // verify: the records, collected
};

// Reading (read.cpp): utl_PackList's callback, counting, printing or
// collecting the records as ctx asks; the list, extract and verify commands.
int OnRecord(void* pvCtx, const char* pszName, DWORD dwDataLen, DWORD dwRecOffset, int bEnd);
int ReadCommand(const char* pszCmd, int argc, char** argv);
int Verify(int argc, char** argv);

// Payload checks (checks.cpp): one line on stderr per finding.
struct Findings {
    unsigned nErrors = 0, nWarnings = 0;
    bool bAllowIncomplete = false;
    std::string strHost;   // verify: the file the records are copied out of
    std::string strTmp;    // verify: where they are copied to, made on first use
};

void Report(Findings& f, bool bError, const std::string& strFile, const std::string& strWhy);
// The summary line; the exit code the findings give.
int Summary(const Findings& f, bool bStrict);
std::string SetupEnds(DWORD dwErr);
void CheckName(const std::string& strName, const std::string& strShown, Findings& f);
void CheckCollisions(const std::vector<PayloadFile>& files, Findings& f);
void CheckSetupPayload(std::vector<PayloadFile>& files, bool bEnd, const std::string& strSetup, Findings& f);

// PE headers (pecert.cpp).
void CertificateTable(const std::string& strPath, DWORD* pdwAt, DWORD* pdwSize);
bool StartsWithMz(const std::string& strPath);

// build (build.cpp).
int Build(int argc, char** argv);

} // namespace kavlapack
