// kavlapack: builds a Setup.exe from the setup program and the payload files,
// and lists, extracts and checks the Payload Pack of any file. Runs on the
// administrators' Windows machines and, under Wine, on the build machines.
//
//   kavlapack build <setup.exe> <out.exe> <file-or-folder>... [--no-end]
//   kavlapack list <file> [--offset N]
//   kavlapack extract <file> <folder> [--offset N]
//   kavlapack verify <file> [--offset N]
//
// list and extract print one "name<TAB>size" line per record and a summary
// line starting with "# "; verify prints the summary only.
//
// Exit codes: 0 success; 1 refused or failed (message on stderr); 2 wrong
// command line; 150-166 the container error number of the reader or writer.
#include "file.h"
#include "pack.h"
#include <windows.h>
#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const int kExitOk = 0, kExitFail = 1, kExitUsage = 2;

const char kUsage[] =
    "usage:\n"
    "  kavlapack build <setup.exe> <out.exe> <file-or-folder>... [--no-end]\n"
    "      pads the setup program with zero bytes to 3300000, appends the files\n"
    "      (a folder: its files, sorted by name) and the end marker\n"
    "  kavlapack list <file> [--offset N]\n"
    "  kavlapack extract <file> <folder> [--offset N]\n"
    "  kavlapack verify <file> [--offset N]\n"
    "  The offset defaults to 3300000 when the file holds a container there, else 0.\n"
    "exit codes: 0 ok, 1 refused or failed, 2 usage, 150-166 container error number\n";

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

void CloseFileHandle(HANDLE& hFile)
{
    if (hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
        hFile = INVALID_HANDLE_VALUE;
    }
}

std::string FullPath(const std::string& strPath)
{
    char sz[MAX_PATH + 1];
    DWORD dw = GetFullPathNameA(strPath.c_str(), sizeof(sz), sz, NULL);
    return dw == 0 || dw >= sizeof(sz) ? std::string() : std::string(sz);
}

// "C:\a\b.txt" -> "C:\a" and "b.txt", the two halves the pack functions take.
bool SplitPath(const std::string& strFull, std::string& strFolder, std::string& strName)
{
    size_t nPos = strFull.find_last_of('\\');
    if (nPos == std::string::npos || nPos + 1 >= strFull.size())
        return false;
    strFolder = strFull.substr(0, nPos);
    strName = strFull.substr(nPos + 1);
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
    HANDLE h = CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    LARGE_INTEGER liSize, liPos;
    liPos.QuadPart = PACK_SETUP_OFFSET;
    BYTE ab[PACK_MAGIC_LEN];
    if (h != INVALID_HANDLE_VALUE && GetFileSizeEx(h, &liSize) && liSize.QuadPart > PACK_SETUP_OFFSET
        && SetFilePointerEx(h, liPos, NULL, FILE_BEGIN) && ReadAndMix(h, ab, PACK_MAGIC_LEN)
        && memcmp(ab, PACK_MAGIC, PACK_MAGIC_LEN) == 0)
        dwOffset = PACK_SETUP_OFFSET;
    CloseFileHandle(h);
    return dwOffset;
}

// Splits "<positional>... [--offset N]"; false on a malformed option.
bool ParseReadArgs(int argc, char** argv, std::vector<std::string>& args, DWORD* pdwOffset, bool* pbOffset)
{
    *pbOffset = false;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--offset") == 0) {
            if (i + 1 >= argc || *pbOffset || !ParseOffset(argv[i + 1], pdwOffset))
                return false;
            *pbOffset = true;
            ++i;
        } else if (strncmp(argv[i], "--", 2) == 0) {
            return false;
        } else {
            args.push_back(argv[i]);
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// list and verify

struct ListCtx {
    bool bPrint = false;
    DWORD dwFiles = 0;
    unsigned long long ullBytes = 0;
    bool bEndMarker = false;
};

int OnRecord(void* pvCtx, const char* pszName, DWORD dwDataLen, DWORD dwRecOffset, int bEnd)
{
    ListCtx* pCtx = (ListCtx*)pvCtx;
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
    return 1;
}

int ReadCommand(const char* pszCmd, int argc, char** argv)
{
    std::vector<std::string> args;
    DWORD dwOffset = 0;
    bool bOffset = false;
    bool bExtract = strcmp(pszCmd, "extract") == 0;
    if (!ParseReadArgs(argc, argv, args, &dwOffset, &bOffset) || args.size() != (bExtract ? 2u : 1u)) {
        fputs(kUsage, stderr);
        return kExitUsage;
    }
    std::string strFile = FullPath(args[0]);
    if (strFile.empty() || !utl_FileExists(strFile.c_str()) || IsFolderPath(strFile)) {
        Fail(pszCmd, "no such file: " + args[0]);
        return kExitFail;
    }
    if (!bOffset)
        dwOffset = DefaultOffset(strFile);

    if (bExtract) {
        std::string strDst = FullPath(args[1]);
        if (strDst.empty() || (!IsFolderPath(strDst) && !CreateDirectoryA(strDst.c_str(), NULL))) {
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
    ctx.bPrint = strcmp(pszCmd, "verify") != 0;
    DWORD dwErr = 0;
    if (!utl_PackList(strFile.c_str(), dwOffset, OnRecord, &ctx, &dwErr))
        return FailPack(pszCmd, strFile, dwErr);
    printf("# %lu files, %llu bytes, container at offset %lu, %s\n",
           (unsigned long)ctx.dwFiles, ctx.ullBytes, (unsigned long)dwOffset,
           ctx.bEndMarker ? "ends with the end marker"
                          : "ends at the end of the file (no end marker: nothing may follow it, no signature)");
    return kExitOk;
}

// ---------------------------------------------------------------------------
// build

struct Input {
    std::string strFolder, strName;
};

// A payload name must come out of the reader as the same plain file name.
bool CheckName(const std::string& strName, const std::string& strWhere)
{
    std::string strWhy;
    if (!utl_IsPlainFileName(strName.c_str()))
        strWhy = "is not a plain file name";
    else if (strName.size() > PACK_MAX_NAME)
        strWhy = "is longer than 64 bytes";
    else if (strName == PACK_END_NAME)
        strWhy = "is the end marker's name";
    if (!strWhy.empty())
        Fail("build", "the name \"" + strName + "\" of " + strWhere + " " + strWhy);
    return strWhy.empty();
}

bool CollectFolder(const std::string& strFolder, std::vector<Input>& inputs)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((strFolder + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE) {
        Fail("build", "cannot read the folder " + strFolder);
        return false;
    }
    do {
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(fd.cFileName);
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
    std::sort(names.begin(), names.end());
    bool bOk = true;
    for (const std::string& strName : names) {
        bOk = CheckName(strName, strFolder + "\\" + strName) && bOk;
        inputs.push_back(Input{strFolder, strName});
    }
    return bOk;
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
            bOk = CheckName(in.strName, strArg) && bOk;
            inputs.push_back(in);
        } else {
            Fail("build", "no such file or folder: " + strArg);
            bOk = false;
        }
    }
    // The reader writes every record into one folder: a second file of the
    // same name would silently replace the first.
    for (size_t i = 0; bOk && i < inputs.size(); ++i)
        for (size_t j = i + 1; bOk && j < inputs.size(); ++j)
            if (lstrcmpiA(inputs[i].strName.c_str(), inputs[j].strName.c_str()) == 0) {
                Fail("build", "two payload files are named " + inputs[i].strName + ": " + inputs[i].strFolder
                                  + " and " + inputs[j].strFolder);
                bOk = false;
            }
    return bOk;
}

// The setup program, zero bytes up to the payload offset, and the header,
// into a new file (never through a file or link already standing there).
// *pbCreated tells whether the file is ours to delete after a failure.
bool WriteProgramAndHeader(const std::string& strProgram, DWORD dwProgramSize, const std::string& strOut,
                           bool* pbCreated)
{
    *pbCreated = false;
    HANDLE hIn = CreateFileA(strProgram.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    if (hIn == INVALID_HANDLE_VALUE) {
        Fail("build", "cannot open the setup program " + strProgram + " (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    HANDLE hOut = CreateFileA(strOut.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
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
    CloseFileHandle(hIn);
    CloseFileHandle(hOut);
    return bOk;
}

// The end-marker record: its name and two zero-content length fields.
bool AppendEndMarker(const std::string& strOut)
{
    HANDLE h = CreateFileA(strOut.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD adwLen[2] = {sizeof(PACK_END_NAME) - 1, 0};
    BYTE abName[sizeof(PACK_END_NAME)];
    memcpy(abName, PACK_END_NAME, sizeof(PACK_END_NAME));
    DWORD dwWritten = 0;
    bool bOk = h != INVALID_HANDLE_VALUE && SetFilePointer(h, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER
               && WriteFile(h, adwLen, sizeof(adwLen), &dwWritten, NULL) && dwWritten == sizeof(adwLen)
               && MixAndWrite(h, abName, adwLen[0]);
    CloseFileHandle(h);
    return bOk;
}

int Build(int argc, char** argv)
{
    bool bEnd = true, bBadOption = false;
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--no-end") == 0)
            bEnd = false;
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
    if (dwHigh != 0 || dwProgramSize > PACK_SETUP_OFFSET) {
        Fail("build", "the setup program " + args[0] + " is "
                          + std::to_string(((unsigned long long)dwHigh << 32) | dwProgramSize)
                          + " bytes, larger than the " + std::to_string(PACK_SETUP_OFFSET)
                          + " bytes before the payload; it cannot carry one");
        return kExitFail;
    }
    if (strOut.empty() || !SplitPath(strOut, strOutFolder, strOutName) || IsFolderPath(strOut)) {
        Fail("build", "not an output file name: " + args[1]);
        return kExitFail;
    }
    std::vector<Input> inputs;
    if (!CollectInputs(std::vector<std::string>(args.begin() + 2, args.end()), inputs))
        return kExitFail;
    unsigned long long ullTotal = PACK_SETUP_OFFSET + PACK_MAGIC_LEN + (bEnd ? 8 + sizeof(PACK_END_NAME) - 1 : 0);
    for (const Input& in : inputs) {
        std::string strPath = in.strFolder + "\\" + in.strName;
        if (!utl_GetFileSize(strPath.c_str(), &dwHigh, &dwLow)) {
            Fail("build", "cannot read the size of " + strPath);
            return kExitFail;
        }
        ullTotal += 8 + in.strName.size() + (((unsigned long long)dwHigh << 32) | dwLow);
    }
    if (ullTotal >= 0x100000000ull) {
        Fail("build", "the setup would be " + std::to_string(ullTotal) + " bytes; it must stay below 4 GiB");
        return kExitFail;
    }

    // Everything is written beside the output and renamed at the end, so
    // that no half-written setup ever stands under the final name.
    std::string strTmpName = strOutName + ".kavlapack-" + std::to_string(GetCurrentProcessId()) + ".tmp";
    std::string strTmp = strOutFolder + "\\" + strTmpName;
    int nExit = kExitOk;
    bool bCreated = false;
    if (!WriteProgramAndHeader(strProgram, dwProgramSize, strTmp, &bCreated))
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
    if (nExit != kExitOk) {
        if (bCreated)
            DeleteFileA(strTmp.c_str());
        return nExit;
    }
    printf("%s: %lu files, %llu bytes of payload at offset %lu%s\n", strOut.c_str(), (unsigned long)ctx.dwFiles,
           ctx.ullBytes, (unsigned long)PACK_SETUP_OFFSET, bEnd ? ", end marker" : ", no end marker");
    return kExitOk;
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
    if (strcmp(pszCmd, "list") == 0 || strcmp(pszCmd, "extract") == 0 || strcmp(pszCmd, "verify") == 0)
        return ReadCommand(pszCmd, argc - 2, argv + 2);
    if (strcmp(pszCmd, "--help") == 0 || strcmp(pszCmd, "-h") == 0 || strcmp(pszCmd, "help") == 0) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    fprintf(stderr, "kavlapack: unknown command \"%s\"\n", pszCmd);
    fputs(kUsage, stderr);
    return kExitUsage;
}
