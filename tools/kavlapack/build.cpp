// kavlapack build: a Setup.exe from the setup program, zero padding and the
// payload, checked first and written beside the output until it is whole.
#include "kavlapack.h"
#include "file.h"
#include "link.h"
#include "payload.h"
#include <windows.h>
#include <algorithm>
#include <stdio.h>
#include <string.h>

namespace kavlapack {

namespace {

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
    std::string strPath = strDir + "\\" + PAYLOAD_COMPONENT;
    HANDLE h = NewFile(strPath);
    bool bOk = h != INVALID_HANDLE_VALUE && utl_PackWriteHeader(h, NULL);
    utl_CloseHandle(h);
    if (!bOk) {
        Fail("build", "cannot write " + strPath);
        return kExitFail;
    }
    for (const Input& in : inputs) {
        DWORD dwErr = 0;
        if (!utl_FilePack(in.strFolder.c_str(), in.strName.c_str(), strDir.c_str(), PAYLOAD_COMPONENT, &dwErr, 1))
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
    unsigned long long ullCopied = 0;
    int nStop = 0;
    // A failed read is no end of the program: padding over it would ship a
    // setup whose program is cut short.
    if (bOk && !utl_CopyBytes(hIn, hOut, UTL_COPY_TO_END, NULL, abBuf, sizeof(abBuf), &ullCopied, &nStop)) {
        if (nStop == UTL_COPY_READ)
            Fail("build", "cannot read the setup program " + strProgram + " at byte " + std::to_string(ullCopied)
                              + " (error " + std::to_string(GetLastError()) + ")");
        else
            Fail("build", "cannot write " + strOut + " (error " + std::to_string(GetLastError()) + ")");
        bOk = false;
    }
    DWORD dwTotal = (DWORD)ullCopied;
    if (bOk && ullCopied != dwProgramSize) {
        Fail("build", "the setup program " + strProgram + " changed while it was read: " + std::to_string(ullCopied)
                          + " bytes instead of " + std::to_string(dwProgramSize));
        bOk = false;
    }
    memset(abBuf, 0, sizeof(abBuf));
    while (bOk && dwTotal < PACK_SETUP_OFFSET) {
        DWORD dwChunk = std::min<DWORD>(sizeof(abBuf), PACK_SETUP_OFFSET - dwTotal);
        bOk = utl_WriteAll(hOut, abBuf, dwChunk);
        dwTotal += dwChunk;
    }
    if (bOk && (dwTotal != PACK_SETUP_OFFSET || !utl_PackWriteHeader(hOut, NULL))) {
        Fail("build", "cannot write " + strOut + " (error " + std::to_string(GetLastError()) + ")");
        bOk = false;
    }
    utl_CloseHandle(hIn);
    utl_CloseHandle(hOut);
    return bOk;
}

// The end-marker record behind the last file.
bool AppendEndMarker(const std::string& strOut)
{
    HANDLE h = utl_OpenOwnFile(strOut.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING);
    bool bOk = h != INVALID_HANDLE_VALUE && SetFilePointer(h, 0, NULL, FILE_END) != INVALID_SET_FILE_POINTER
               && utl_PackWriteEndMarker(h, NULL);
    utl_CloseHandle(h);
    return bOk;
}

} // namespace

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
            inputs.push_back(Input{strComponentDir, PAYLOAD_COMPONENT});
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

} // namespace kavlapack
