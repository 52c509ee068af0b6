// Payload Pack container: reader, writer, mixing transform, size query and
// the work folder. Containers are streamed through one 4096-byte buffer; no
// file is ever held in memory. The byte layout is that of the payloads every
// released setup carries, and the log lines are kept line for line so that
// the logs of all releases read alike.
#include "pack.h"
#include "file.h"
#include "link.h"
#include "log.h"
#include "log_lines.h"
#include "sys.h"
#include "workdir_guard.h"
#include <stdio.h>
#include <string.h>

namespace {

const BYTE g_abMagic[PACK_MAGIC_LEN + 1] = PACK_MAGIC;

void SetErr(DWORD* pdwErr, DWORD dwErr)
{
    if (pdwErr)
        *pdwErr = dwErr;
}

// The reader's fixed error line, then the number for the caller.
void UnpackFail(DWORD* pdwErr, DWORD dwErr)
{
    utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack:Err: %d.", (int)dwErr);
    SetErr(pdwErr, dwErr);
}

// A record name as printable text for a log line: a hostile name must not
// be able to add lines of its own (CR, LF) or hide behind a zero byte.
void EscapeName(char* pszOut, size_t cbOut, const BYTE* pbName, DWORD dwLen)
{
    size_t nOut = 0;
    for (DWORD i = 0; i < dwLen && nOut + 5 < cbOut; ++i) {
        BYTE b = pbName[i];
        if (b < 0x20 || b == 0x7F)
            nOut += (size_t)snprintf(pszOut + nOut, cbOut - nOut, "\\x%02X", b);
        else
            pszOut[nOut++] = (char)b;
    }
    pszOut[nOut] = '\0';
}

// 1 when the stored name (dwLen bytes, zero-terminated in the buffer) is the
// end marker: exactly its 11 bytes, compared case-sensitively.
int IsEndName(const char* pszName, DWORD dwLen)
{
    return dwLen == sizeof(PACK_END_NAME) - 1 && memcmp(pszName, PACK_END_NAME, dwLen) == 0;
}

// After a failed system call of the writer: the system's number goes to the
// caller first and to the log; the writer's own number replaces it after.
void PackSysFail(DWORD* pdwErr, const char* pszWhat)
{
    DWORD dwSys = GetLastError();
    SetErr(pdwErr, dwSys);
    utl_LogF(LOG_MODULE_PACK, "utl_FilePack: %s failed with err %d", pszWhat, (int)dwSys);
}

// Writes one record at the container's end: the header first for a new
// container, the two length fields, the name and exactly dwSize bytes of
// content. Returns 0 or the writer's error number.
DWORD WriteRecord(HANDLE hSrc, HANDLE hDst, const char* pszSrc, const char* pszName, DWORD dwSize, int bAdd,
                  DWORD* pdwErr)
{
    BYTE abBuf[PACK_BUF_SIZE];
    if (!bAdd) {
        utl_LogF(LOG_MODULE_PACK, "utl_FilePack: %s !bAdd.", pszSrc);
        if (!utl_PackWriteHeader(hDst, NULL))
            return PACK_ERR_WRITE;
    }
    DWORD dwNameLen = (DWORD)strlen(pszName);
    utl_LogF(LOG_MODULE_PACK, "utl_FilePack: %s dwLenSrcFile = %d sizeof(DWORD) = %d", pszSrc, (int)dwNameLen,
             (int)sizeof(DWORD));
    if (!utl_WriteAll(hDst, &dwNameLen, sizeof(DWORD))) {
        PackSysFail(pdwErr, "WriteFile 1");
        return PACK_ERR_WRITE;
    }
    utl_LogF(LOG_MODULE_PACK, "utl_FilePack: %s dwSizeLow = %d sizeof(DWORD) = %d", pszSrc, (int)dwSize,
             (int)sizeof(DWORD));
    if (!utl_WriteAll(hDst, &dwSize, sizeof(DWORD))) {
        PackSysFail(pdwErr, "WriteFile 2");
        return PACK_ERR_WRITE;
    }
    memcpy(abBuf, pszName, dwNameLen);
    if (!MixAndWrite(hDst, abBuf, dwNameLen)) {
        PackSysFail(pdwErr, "MixAndWrite 1");
        return PACK_ERR_WRITE;
    }
    // Exactly the recorded size is copied: a source that shrank or cannot be
    // read fails the record, one that grew gives only what was recorded.
    unsigned long long ullCopied = 0;
    int nStop = 0;
    if (utl_CopyBytes(hSrc, hDst, dwSize, MixBuffer, abBuf, sizeof(abBuf), &ullCopied, &nStop))
        return 0;
    if (nStop == UTL_COPY_READ) {
        PackSysFail(pdwErr, "ReadFile");
        return PACK_ERR_CONTENT_READ;
    }
    if (nStop == UTL_COPY_ENDED) {
        utl_LogF(LOG_MODULE_PACK, "utl_FilePack: %s ended after %u of %u bytes", pszSrc, (unsigned)ullCopied,
                 (unsigned)dwSize);
        return PACK_ERR_CONTENT_READ;
    }
    PackSysFail(pdwErr, "MixAndWrite 2");
    return PACK_ERR_WRITE;
}

// One walk over the records of a container, shared by the extracting reader
// and the listing reader so that both apply the same checks in the same
// order. With pszDstPath each record becomes a file in that folder and every
// step is logged; without it nothing is created or logged, the content is
// skipped and pfnRecord sees each record instead.
struct WalkArgs {
    HANDLE hHost;
    DWORD dwContainerLen;     // R: bytes from the container's start to the host's end
    const char* pszDstPath;   // extract here; NULL lists only
    PackRecordFn pfnRecord;
    void* pvCtx;
};

// The extracting reader logs its fixed error line; the listing one is silent.
void WalkFail(const WalkArgs& args, DWORD* pdwErr, DWORD dwErr)
{
    if (args.pszDstPath)
        UnpackFail(pdwErr, dwErr);
    else
        SetErr(pdwErr, dwErr);
}

int WalkRecords(const WalkArgs& args, DWORD* pdwErr)
{
    const bool bExtract = args.pszDstPath != NULL;
    const size_t nDstLen = bExtract ? strlen(args.pszDstPath) : 0;
    // Every record is created in this very folder, by its name in it.
    UtlFolder dst;
    dst.hFolder = INVALID_HANDLE_VALUE;
    if (bExtract)
        utl_HoldFolder(args.pszDstPath, 0, &dst, NULL);
    BYTE abBuf[PACK_BUF_SIZE];
    char szName[PACK_MAX_NAME + 1];
    char szOut[UTL_MAX_PATH];
    HANDLE hOut = INVALID_HANDLE_VALUE;
    DWORD dwErr = 0;
    int nResult = 0;
    bool bDone = false;

    if (!ReadAndMix(args.hHost, abBuf, PACK_MAGIC_LEN)) {
        dwErr = PACK_ERR_HEADER_READ;
    } else if (memcmp(abBuf, g_abMagic, PACK_MAGIC_LEN) != 0) {
        if (bExtract)
            utl_LogF(LOG_MODULE_UNPACK, "%d", PACK_MAGIC_LEN);
        dwErr = PACK_ERR_MAGIC;
    }
    // Running total in 64 bits: a hostile data length near 4 GiB must not
    // wrap the total back below the container's length.
    unsigned long long ullTotal = PACK_MAGIC_LEN;
    if (!dwErr && bExtract)
        utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: dwCurTotalLen = %d", (int)(DWORD)ullTotal);
    if (!dwErr && ullTotal >= args.dwContainerLen)
        bDone = true;

    for (int k = 1; !dwErr && !bDone; ++k) {
        if (bExtract)
            utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: unpack time = %d", k);
        DWORD dwRecOffset = (DWORD)ullTotal;

        DWORD dwNameLen = 0, dwRead = 0;
        if (!ReadFile(args.hHost, &dwNameLen, sizeof(DWORD), &dwRead, NULL)) {
            if (bExtract)
                utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: ReadFile failed with err. %d", (int)GetLastError());
            dwErr = PACK_ERR_NAME_LEN;
            break;
        }
        if (bExtract)
            utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: dwBufDataLen = %d dwCurFileNameLen = %d sizeof(DWORD) = %d",
                     (int)dwRead, (int)dwNameLen, (int)sizeof(DWORD));
        // The joined output path (folder, '\', name) must stay below 260.
        if (dwRead < sizeof(DWORD) || dwNameLen > PACK_MAX_NAME
            || (bExtract && nDstLen + 1 + dwNameLen >= UTL_MAX_PATH)) {
            dwErr = PACK_ERR_NAME_LEN;
            break;
        }

        DWORD dwDataLen = 0;
        if (!utl_ReadExact(args.hHost, &dwDataLen, sizeof(DWORD))) {
            dwErr = PACK_ERR_DATA_LEN;
            break;
        }

        // The whole record must lie inside the host before any of it is used.
        ullTotal += 2 * sizeof(DWORD) + (unsigned long long)dwNameLen + dwDataLen;
        if (bExtract)
            utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: dwCurTotalLen = %d", (int)(DWORD)ullTotal);
        if (ullTotal > args.dwContainerLen) {
            dwErr = PACK_ERR_PAST_END;
            break;
        }

        if (!ReadAndMix(args.hHost, (BYTE*)szName, dwNameLen)) {
            dwErr = PACK_ERR_NAME_READ;
            break;
        }
        szName[dwNameLen] = '\0';

        // A name from the payload becomes a path only when it is a bare file
        // name: "..\", a drive, a separator, a stream or a device would reach
        // outside the destination folder or something that is no plain file.
        bool bEnd = IsEndName(szName, dwNameLen) != 0;
        if (!bEnd && (strlen(szName) != dwNameLen || !utl_IsPlainFileName(szName))) {
            if (bExtract) {
                char szShown[PACK_MAX_NAME * 4 + 1];
                EscapeName(szShown, sizeof(szShown), (const BYTE*)szName, dwNameLen);
                utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: refused record name that is not a plain file name: %s",
                         szShown);
            }
            dwErr = PACK_ERR_OUTPUT;
            break;
        }

        if (!bExtract) {
            if (args.pfnRecord && !args.pfnRecord(args.pvCtx, szName, dwDataLen, dwRecOffset, bEnd ? 1 : 0))
                break;
            if (bEnd) {
                bDone = true;
                break;
            }
            // The bounds are checked above: the content lies inside the host.
            LARGE_INTEGER li;
            li.QuadPart = dwDataLen;
            if (!SetFilePointerEx(args.hHost, li, NULL, FILE_CURRENT)) {
                dwErr = PACK_ERR_CONTENT_READ;
                break;
            }
            if (ullTotal >= args.dwContainerLen)
                bDone = true;
            continue;
        }

        if (!utl_PathJoin(szOut, sizeof(szOut), args.pszDstPath, szName)) {
            dwErr = PACK_ERR_NAME_LEN;
            break;
        }
        utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: szDstAbsFile = %s", szOut);
        if (bEnd) {
            utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: The file is end.");
            bDone = true;
            break;
        }

        // Opened without CREATE_ALWAYS, which refuses an existing hidden or
        // system file, and cut to zero so that a longer old file keeps no tail.
        // Never written through a link: one in its place makes way for a new file.
        hOut = utl_OpenOwnFileAt(&dst, szName, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_ALWAYS);
        if (hOut == INVALID_HANDLE_VALUE || !SetEndOfFile(hOut)) {
            dwErr = PACK_ERR_OUTPUT;
            break;
        }
        int nStop = 0;
        if (!utl_CopyBytes(args.hHost, hOut, dwDataLen, MixBuffer, abBuf, sizeof(abBuf), NULL, &nStop))
            dwErr = nStop == UTL_COPY_WRITE ? PACK_ERR_WRITE : PACK_ERR_CONTENT_READ;
        utl_CloseHandle(hOut);
        if (!dwErr && ullTotal >= args.dwContainerLen)
            bDone = true;
    }

    utl_CloseHandle(hOut);
    utl_ReleaseFolder(&dst);
    if (dwErr)
        WalkFail(args, pdwErr, dwErr);
    else
        nResult = 1;
    return nResult;
}

// Opens the host for reading, moves to the container's start and walks its
// records. The offset is taken as unsigned, so hosts up to 4 GiB are
// positioned correctly.
int OpenAndWalk(const char* pszHost, DWORD dwOffset, WalkArgs args, DWORD* pdwErr)
{
    args.hHost = CreateFileA(pszHost, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (args.hHost == INVALID_HANDLE_VALUE) {
        WalkFail(args, pdwErr, PACK_ERR_OPEN);
        return 0;
    }
    LARGE_INTEGER li;
    li.QuadPart = dwOffset;
    int nResult = 0;
    if (!SetFilePointerEx(args.hHost, li, NULL, FILE_BEGIN))
        WalkFail(args, pdwErr, PACK_ERR_HEADER_READ);
    else
        nResult = WalkRecords(args, pdwErr);
    utl_CloseHandle(args.hHost);
    return nResult;
}

} // namespace

void MixBuffer(BYTE* pbBuf, DWORD dwLen)
{
    if (!pbBuf)
        return;
    for (DWORD i = 0; i < dwLen; ++i)
        pbBuf[i] = (BYTE)(0u - pbBuf[i]);
}

int MixAndWrite(HANDLE hFile, BYTE* pbBuf, DWORD dwLen)
{
    MixBuffer(pbBuf, dwLen);
    return utl_WriteAll(hFile, pbBuf, dwLen);
}

int ReadAndMix(HANDLE hFile, BYTE* pbBuf, DWORD dwLen)
{
    if (!utl_ReadExact(hFile, pbBuf, dwLen))
        return 0;
    MixBuffer(pbBuf, dwLen);
    return 1;
}

int utl_PackWriteHeader(HANDLE hFile, DWORD* pdwErr)
{
    BYTE abMagic[PACK_MAGIC_LEN];
    memcpy(abMagic, g_abMagic, PACK_MAGIC_LEN);
    if (MixAndWrite(hFile, abMagic, PACK_MAGIC_LEN))
        return 1;
    SetErr(pdwErr, PACK_ERR_WRITE);
    return 0;
}

// The end marker is a record like any other, with no content: its name's
// length, a zero data length, and the name.
int utl_PackWriteEndMarker(HANDLE hFile, DWORD* pdwErr)
{
    DWORD adwLen[2] = {sizeof(PACK_END_NAME) - 1, 0};
    BYTE abName[sizeof(PACK_END_NAME)];
    memcpy(abName, PACK_END_NAME, sizeof(PACK_END_NAME));
    if (utl_WriteAll(hFile, adwLen, sizeof(adwLen)) && MixAndWrite(hFile, abName, adwLen[0]))
        return 1;
    SetErr(pdwErr, PACK_ERR_WRITE);
    return 0;
}

int utl_GetFileSize(const char* pszPath, DWORD* pdwSizeHigh, DWORD* pdwSizeLow)
{
    if (!pszPath || !pdwSizeHigh || !pdwSizeLow || !utl_FileExists(pszPath))
        return 0;
    if (utl_QueryFileSize(pszPath, pdwSizeHigh, pdwSizeLow))
        return 1;
    // A pattern may match a file while the path itself names a folder: no
    // size, but nothing failed either.
    if (GetLastError() != ERROR_DIRECTORY)
        utl_LogF(LOG_MODULE_UNPACK, "utl_GetFileSize: GetFileAttributesEx failed with err.%u.", (unsigned)GetLastError());
    return 0;
}

int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* pdwErr, DWORD dwOffset)
{
    if (!pszSrcPath || !pszSrcFile || !pszDstPath) {
        UnpackFail(pdwErr, PACK_ERR_NULL_ARG);
        return 0;
    }
    utl_LogF(LOG_MODULE_UNPACK, LOGLINE_UNPACK_SRC_PATH "%s" LOGLINE_UNPACK_SRC_FILE "%s" LOGLINE_UNPACK_DST_PATH "%s", pszSrcPath, pszSrcFile,
             pszDstPath);

    char szHost[UTL_MAX_PATH];
    // The joined host path, separator included, must stay below 260.
    if (strlen(pszSrcPath) + strlen(pszSrcFile) >= UTL_MAX_PATH || strlen(pszDstPath) >= UTL_MAX_PATH
        || !utl_PathJoin(szHost, sizeof(szHost), pszSrcPath, pszSrcFile)) {
        UnpackFail(pdwErr, PACK_ERR_PATH_LEN);
        return 0;
    }
    int bHostExists = utl_FileExists(szHost);
    utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: szSrcAbsFile = %s", szHost);
    if (!bHostExists) {
        UnpackFail(pdwErr, PACK_ERR_NO_SOURCE);
        return 0;
    }
    if (!utl_FolderExists(pszDstPath)) {
        UnpackFail(pdwErr, PACK_ERR_NO_DEST);
        return 0;
    }

    DWORD dwSizeHigh = 0, dwSizeLow = 0;
    int bSize = utl_GetFileSize(szHost, &dwSizeHigh, &dwSizeLow);
    utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: dwSizeHigh = %d dwSizeLow = %d", (int)dwSizeHigh, (int)dwSizeLow);
    if (!bSize || dwSizeHigh != 0 || dwOffset >= dwSizeLow) {
        UnpackFail(pdwErr, PACK_ERR_SIZE);
        return 0;
    }
    DWORD dwContainerLen = dwSizeLow - dwOffset;
    utl_LogF(LOG_MODULE_UNPACK, "utl_FileUnpack: dwSizeLow = dwSizeLow - dwOffset= %d", (int)dwContainerLen);

    WalkArgs args = {INVALID_HANDLE_VALUE, dwContainerLen, pszDstPath, NULL, NULL};
    return OpenAndWalk(szHost, dwOffset, args, pdwErr);
}

int utl_PackList(const char* pszHostPath, DWORD dwOffset, PackRecordFn pfnRecord, void* pvCtx, DWORD* pdwErr)
{
    if (!pszHostPath) {
        SetErr(pdwErr, PACK_ERR_NULL_ARG);
        return 0;
    }
    if (strlen(pszHostPath) >= UTL_MAX_PATH) {
        SetErr(pdwErr, PACK_ERR_PATH_LEN);
        return 0;
    }
    DWORD dwSizeHigh = 0, dwSizeLow = 0;
    if (!utl_FileExists(pszHostPath)) {
        SetErr(pdwErr, PACK_ERR_NO_SOURCE);
        return 0;
    }
    if (!utl_GetFileSize(pszHostPath, &dwSizeHigh, &dwSizeLow) || dwSizeHigh != 0 || dwOffset >= dwSizeLow) {
        SetErr(pdwErr, PACK_ERR_SIZE);
        return 0;
    }
    WalkArgs args = {INVALID_HANDLE_VALUE, dwSizeLow - dwOffset, NULL, pfnRecord, pvCtx};
    return OpenAndWalk(pszHostPath, dwOffset, args, pdwErr);
}

int utl_FilePack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                 const char* pszDstFile, DWORD* pdwErr, int bAdd)
{
    if (!pszSrcPath || !pszSrcFile || !pszDstPath || !pszDstFile) {
        SetErr(pdwErr, PACK_ERR_NULL_ARG);
        return 0;
    }
    utl_LogF(LOG_MODULE_PACK, "utl_FilePack: pszSrcPath = %s pszSrcFile = %s pszDstPath = %s pszDstFile = %s",
             pszSrcPath, pszSrcFile, pszDstPath, pszDstFile);

    char szSrc[UTL_MAX_PATH], szDst[UTL_MAX_PATH];
    if (strlen(pszSrcPath) + strlen(pszSrcFile) >= UTL_MAX_PATH
        || strlen(pszDstPath) + strlen(pszDstFile) >= UTL_MAX_PATH
        || !utl_PathJoin(szSrc, sizeof(szSrc), pszSrcPath, pszSrcFile)
        || !utl_PathJoin(szDst, sizeof(szDst), pszDstPath, pszDstFile)) {
        SetErr(pdwErr, PACK_ERR_PATH_LEN);
        return 0;
    }
    utl_LogF(LOG_MODULE_UNPACK, "utl_FilePack: szSrcAbsFile = %s szDstAbsFile = %s", szSrc, szDst);
    if (!utl_FileExists(szSrc)) {
        SetErr(pdwErr, PACK_ERR_NO_SOURCE);
        return 0;
    }
    if (utl_FileExists(szDst)) {
        if (!bAdd) {
            // Made normal and deleted through its handle; a link goes as a link.
            utl_DeleteOwnFile(szDst);
            if (utl_FileExists(szDst)) {
                SetErr(pdwErr, PACK_ERR_DELETE);
                return 0;
            }
        }
    } else if (bAdd) {
        SetErr(pdwErr, PACK_ERR_NO_CONTAINER);
        return 0;
    }

    DWORD dwSizeHigh = 0, dwSizeLow = 0;
    int bSize = utl_GetFileSize(szSrc, &dwSizeHigh, &dwSizeLow);
    utl_LogF(LOG_MODULE_PACK, "utl_FilePack: %s dwSizeHigh = %d dwSizeLow = %d", szSrc, (int)dwSizeHigh, (int)dwSizeLow);
    if (!bSize || dwSizeHigh != 0) {
        SetErr(pdwErr, PACK_ERR_SIZE);
        return 0;
    }

    HANDLE hSrc = CreateFileA(szSrc, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    HANDLE hDst = INVALID_HANDLE_VALUE;
    DWORD dwErr = 0;
    if (hSrc == INVALID_HANDLE_VALUE) {
        PackSysFail(pdwErr, "utl_OpenFileForRead");
        dwErr = PACK_ERR_OPEN;
    } else {
        hDst = utl_OpenOwnFile(szDst, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
        if (hDst == INVALID_HANDLE_VALUE) {
            PackSysFail(pdwErr, "utl_NewOrOpenFileForWrite");
            dwErr = PACK_ERR_OPEN;
        }
    }
    // The container's length before this record: a failed record is cut off
    // again, so that no record shorter than its length field stays behind.
    LARGE_INTEGER liZero, liStart;
    liZero.QuadPart = 0;
    liStart.QuadPart = 0;
    bool bAtEnd = !dwErr && SetFilePointerEx(hDst, liZero, &liStart, FILE_END);
    if (!dwErr && !bAtEnd)
        dwErr = PACK_ERR_WRITE;
    if (!dwErr)
        dwErr = WriteRecord(hSrc, hDst, szSrc, pszSrcFile, dwSizeLow, bAdd, pdwErr);
    if (dwErr && bAtEnd && SetFilePointerEx(hDst, liStart, NULL, FILE_BEGIN))
        SetEndOfFile(hDst);
    // A new container whose first record failed is no container at all.
    bool bRemove = dwErr && !bAdd && hDst != INVALID_HANDLE_VALUE;
    utl_CloseHandle(hSrc);
    utl_CloseHandle(hDst);
    if (bRemove)
        utl_DeleteOwnFile(szDst);
    if (dwErr)
        SetErr(pdwErr, dwErr);
    return dwErr ? 0 : 1;
}

int utl_CreateTmpDirHeld(char* pszBuf, DWORD dwBufSize, const char* pszPrefix, int bUseTick, int bClean,
                         UtlFolder* pTmp, UtlFolder* pWork)
{
    if (!pszBuf || !pszPrefix)
        return 0;
    char szDrive[UTL_MAX_PATH + 1] = {0};
    if (!utl_GetSysDrive(LOG_MODULE_UNPACK, szDrive, sizeof(szDrive)))
        return 0;
    char szBase[UTL_MAX_PATH];
    snprintf(szBase, sizeof(szBase), "%s:\\tmp", szDrive);

    unsigned uTick = bUseTick ? (unsigned)GetTickCount() : 0u;
    char szName[UTL_MAX_PATH], szFolder[UTL_MAX_PATH];
    int nName = snprintf(szName, sizeof(szName), "%s%u", pszPrefix, uTick);
    if (nName < 0 || (size_t)nName >= sizeof(szName) || !utl_PathJoin(szFolder, sizeof(szFolder), szBase, szName)
        || strlen(szFolder) >= dwBufSize)
        return 0;
    // Any user may create entries at the root of the system drive.
    if (!utl_GuardWorkFolder(szBase, szName, pTmp, pWork))
        return 0;
    strcpy(pszBuf, szFolder);
    if (bClean)
        utl_DeleteFilesAt(pWork, "*.*", NULL);
    return 1;
}

int utl_CreateTmpDir(char* pszBuf, DWORD dwBufSize, const char* pszPrefix, int bUseTick, int bClean)
{
    UtlFolder tmp, work;
    int bMade = utl_CreateTmpDirHeld(pszBuf, dwBufSize, pszPrefix, bUseTick, bClean, &tmp, &work);
    if (bMade) {
        utl_ReleaseFolder(&work);
        utl_ReleaseFolder(&tmp);
    }
    return bMade;
}
