// Payload Pack: a container of named files behind a 17-byte header, every
// byte but the length fields passed through the mixing transform. The setup
// executable carries one at file offset 3,300,000.
#pragma once
#include <windows.h>
#include "held.h"

#define PACK_SETUP_OFFSET 3300000u
#define PACK_MAGIC "^-=Kavla=-^ Vorn "
#define PACK_MAGIC_LEN 17
#define PACK_END_NAME "^Kavla_end^"
#define PACK_MAX_NAME 64
#define PACK_BUF_SIZE 4096

// Error numbers, X(name, number): those that utl_FileUnpack can set (the
// install driver hands them on; the writer sets some of them too), and those
// that only the writer sets. The enum is made of both lists.
#define PACK_READER_ERRORS(X) \
    X(PACK_ERR_NULL_ARG, 150) X(PACK_ERR_PATH_LEN, 151) X(PACK_ERR_NO_SOURCE, 152) X(PACK_ERR_SIZE, 155) \
    X(PACK_ERR_OPEN, 156) X(PACK_ERR_WRITE, 157) X(PACK_ERR_NO_DEST, 158) X(PACK_ERR_HEADER_READ, 159) \
    X(PACK_ERR_MAGIC, 160) X(PACK_ERR_NAME_LEN, 161) X(PACK_ERR_DATA_LEN, 162) X(PACK_ERR_PAST_END, 163) \
    X(PACK_ERR_NAME_READ, 164) X(PACK_ERR_OUTPUT, 165) X(PACK_ERR_CONTENT_READ, 166)
#define PACK_WRITER_ERRORS(X) X(PACK_ERR_NO_CONTAINER, 153) X(PACK_ERR_DELETE, 154)
#define PACK_ERR_ENUM(name, number) name = number,
enum { PACK_READER_ERRORS(PACK_ERR_ENUM) PACK_WRITER_ERRORS(PACK_ERR_ENUM) };

// Replaces every byte by its two's-complement negation, in place.
void MixBuffer(BYTE* pbBuf, DWORD dwLen);
// Mixes the caller's buffer in place and writes it with one write call; a
// write that takes fewer bytes is a failure (ERROR_WRITE_FAULT).
int MixAndWrite(HANDLE hFile, BYTE* pbBuf, DWORD dwLen);
// Reads exactly dwLen bytes with one read call and mixes them in place; a
// short read is a failure and leaves the buffer unmixed.
int ReadAndMix(HANDLE hFile, BYTE* pbBuf, DWORD dwLen);

// The writer's two fixed pieces, written where hFile stands: the header a
// container starts with, and the end-marker record that stops the reader, so
// that a signature appended later is never read as a record. 1 on success,
// else 0 with *pdwErr PACK_ERR_WRITE and the system's number left for GetLastError.
int utl_PackWriteHeader(HANDLE hFile, DWORD* pdwErr);
int utl_PackWriteEndMarker(HANDLE hFile, DWORD* pdwErr);

// Extracts the container at dwOffset of pszSrcPath\pszSrcFile into the
// existing folder pszDstPath. 1 on success, else 0 with *pdwErr set.
int utl_FileUnpack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                   DWORD* pdwErr, DWORD dwOffset);
// Appends pszSrcPath\pszSrcFile as one record named pszSrcFile to the
// container pszDstPath\pszDstFile; bAdd 0 starts a new container.
int utl_FilePack(const char* pszSrcPath, const char* pszSrcFile, const char* pszDstPath,
                 const char* pszDstFile, DWORD* pdwErr, int bAdd);
// 1 and the two halves of the size when pszPath names an existing file.
int utl_GetFileSize(const char* pszPath, DWORD* pdwSizeHigh, DWORD* pdwSizeLow);
// Walks a container the way utl_FileUnpack does (same checks, same order,
// same error numbers) without creating or logging anything: pfnRecord sees
// each record in turn, the end-marker record with bEnd 1, and may return 0
// to stop early. dwRecOffset is the record's offset inside the container.
// 1 when the container reads to its end, else 0 with *pdwErr set.
typedef int (*PackRecordFn)(void* pvCtx, const char* pszName, DWORD dwDataLen, DWORD dwRecOffset, int bEnd);
int utl_PackList(const char* pszHostPath, DWORD dwOffset, PackRecordFn pfnRecord, void* pvCtx, DWORD* pdwErr);
// Makes or reuses <system drive>:\tmp\<prefix><n> as the setup's own folder
// (workdir_guard.h) and copies its path into pszBuf.
int utl_CreateTmpDir(char* pszBuf, DWORD dwBufSize, const char* pszPrefix, int bUseTick, int bClean);
// The same, holding <system drive>:\tmp and the folder in *pTmp and *pWork
// (both released by the caller) when it returns 1.
int utl_CreateTmpDirHeld(char* pszBuf, DWORD dwBufSize, const char* pszPrefix, int bUseTick, int bClean,
                         UtlFolder* pTmp, UtlFolder* pWork);
