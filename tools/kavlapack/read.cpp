// kavlapack's reading side: where a container starts, the listing of its
// records, and the list, extract and verify commands.
#include "kavlapack.h"
#include "driver.h"
#include "file.h"
#include "link.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace kavlapack {

namespace {

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

void PrintListSummary(const ListCtx& ctx, DWORD dwOffset)
{
    printf("# %lu files, %llu bytes, container at offset %lu, %s\n", (unsigned long)ctx.dwFiles, ctx.ullBytes,
           (unsigned long)dwOffset,
           ctx.bEndMarker ? "ends with the end marker"
                          : "ends at the end of the file (no end marker: nothing may follow it, no signature)");
}

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

} // namespace

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

} // namespace kavlapack
