// The verification-file format: key, block, check and writer.
#include "vrf_file.h"
#include "file.h"
#include "handle.h"
#include "link.h"
#include "mbedtls/md5.h"
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace {

// Digest input: content (at most VRF_MAX_CONTENT), salt, block, and the key
// buffer's capacity, so that the whole input is digested in one pass from one
// fixed buffer. Process-wide: the checks are not re-entrant.
const DWORD VRF_DIGEST_SIZE = 16;
const DWORD VRF_KEY_CAPACITY = 100;
const DWORD VRF_KEY_INPUT_LEN = 6;
const DWORD VRF_ICON_BLOCK_OFFSET = 512;
BYTE g_abDigestInput[VRF_MAX_CONTENT + VRF_SALT_SIZE + VRF_BLOCK_SIZE + VRF_KEY_CAPACITY];

// The key's fixed input and table. Verification files are valid only for
// the key that wrote them, so these must never change once files are out.
const BYTE g_abKeyInput[VRF_KEY_INPUT_LEN] = {0x5A, 0x21, 0x1C, 0x79, 0x8B, 0xDD};
const BYTE g_abKeyTable[128] = {
    0xA9, 0x06, 0x5C, 0x1C, 0x1F, 0xE3, 0xED, 0x13, 0xCA, 0x0E, 0x40, 0x04, 0xCA, 0xD9, 0x50, 0x15,
    0x92, 0xD6, 0x45, 0x5D, 0x75, 0x94, 0x3A, 0xBD, 0x14, 0x86, 0x62, 0x81, 0x83, 0x0F, 0xB6, 0x87,
    0xB5, 0xCD, 0x2A, 0x9B, 0xA9, 0x6C, 0xC8, 0x85, 0xEC, 0x4D, 0x40, 0x86, 0x2A, 0x50, 0x56, 0x6F,
    0x8A, 0x9F, 0x1E, 0x8D, 0xF4, 0x90, 0xFC, 0x4C, 0x3D, 0x92, 0x9A, 0x36, 0x59, 0x11, 0xC8, 0x2C,
    0xBD, 0x68, 0xAC, 0x12, 0xF0, 0x2B, 0x7A, 0xC1, 0x18, 0xAE, 0x64, 0xD7, 0x20, 0xC2, 0x68, 0xAE,
    0xD9, 0xE3, 0x02, 0xBE, 0x9B, 0x3D, 0xAB, 0x07, 0x2D, 0xC7, 0x08, 0x6B, 0x31, 0xB8, 0xE8, 0xD3,
    0x8E, 0x9A, 0x39, 0x44, 0x23, 0xA0, 0x18, 0x78, 0x24, 0x6B, 0x9D, 0xF2, 0x3B, 0xED, 0x75, 0x15,
    0xF9, 0x7C, 0x06, 0x53, 0x23, 0x73, 0x47, 0x66, 0x3A, 0xB8, 0xAE, 0x48, 0x24, 0x89, 0x7B, 0xA0,
};

// Reads exactly dwLen bytes at dwOffset of a file; a short file is a failure.
int ReadFileAt(const char* pszPath, DWORD dwOffset, BYTE* pbBuf, DWORD dwLen)
{
    HANDLE hFile = CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return 0;
    int nOk = 1;
    if (dwOffset && SetFilePointer(hFile, (LONG)dwOffset, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        nOk = 0;
    if (nOk && dwLen && !utl_ReadExact(hFile, pbBuf, dwLen))
        nOk = 0;
    utl_CloseHandle(hFile);
    return nOk;
}

// Appends salt, block and key to the dwContentLen content bytes already in
// the digest buffer and digests the whole input.
int DigestInput(DWORD dwContentLen, const BYTE* pbSalt, const BYTE* pbBlock, BYTE* pbDigest)
{
    BYTE* pb = g_abDigestInput + dwContentLen;
    memcpy(pb, pbSalt, VRF_SALT_SIZE);
    pb += VRF_SALT_SIZE;
    memcpy(pb, pbBlock, VRF_BLOCK_SIZE);
    pb += VRF_BLOCK_SIZE;
    DWORD dwKeyLen = VRF_KEY_CAPACITY;
    if (!utl_BuildVrfKey(pb, &dwKeyLen))
        return 0;
    pb += dwKeyLen;
    int nOk = mbedtls_md5(g_abDigestInput, (size_t)(pb - g_abDigestInput), pbDigest) == 0;
    SecureZeroMemory(g_abDigestInput + dwContentLen + VRF_SALT_SIZE + VRF_BLOCK_SIZE, dwKeyLen);
    return nOk;
}

} // namespace

int MakeVrfKey(const BYTE* pbInput, DWORD dwInputLen, BYTE* pbOutput, DWORD* pdwOutputLen)
{
    if (!pbInput || !pbOutput || !pdwOutputLen || dwInputLen < 6 || dwInputLen > 20
        || *pdwOutputLen < 5 * dwInputLen)
        return 0;
    DWORD dwOut = 0;
    for (DWORD i = 0; i < dwInputLen; ++i) {
        DWORD p = pbInput[i];
        for (int n = 0; n < 5; ++n) {
            p = (p + i) & 0x7F;
            pbOutput[dwOut++] = g_abKeyTable[p];
        }
    }
    *pdwOutputLen = dwOut;
    return 1;
}

int utl_BuildVrfKey(BYTE* pbKey, DWORD* pdwKeyLen)
{
    return MakeVrfKey(g_abKeyInput, VRF_KEY_INPUT_LEN, pbKey, pdwKeyLen);
}

void VrfDefaultBlock(BYTE* pbBlock)
{
    memset(pbBlock, 0, VRF_BLOCK_SIZE);
    pbBlock[0] = 0xFF;
}

int VrfIconBlock(const char* pszIconPath, BYTE* pbBlock)
{
    VrfDefaultBlock(pbBlock);
    DWORD dwHigh = 0, dwLow = 0;
    if (!utl_QueryFileSize(pszIconPath, &dwHigh, &dwLow) || dwHigh != 0
        || dwLow < VRF_ICON_BLOCK_OFFSET + VRF_BLOCK_SIZE)
        return 1;
    return ReadFileAt(pszIconPath, VRF_ICON_BLOCK_OFFSET, pbBlock, VRF_BLOCK_SIZE);
}

int VrfContentFits(const char* pszPath)
{
    DWORD dwHigh = 0, dwLow = 0;
    return utl_QueryFileSize(pszPath, &dwHigh, &dwLow) && dwHigh == 0 && dwLow <= VRF_MAX_CONTENT;
}

int VrfCheckFile(const char* pszProtectedPath, const char* pszVrfPath, const BYTE* pbBlock)
{
    DWORD dwHigh = 0, dwLow = 0;
    if (!utl_QueryFileSize(pszVrfPath, &dwHigh, &dwLow) || dwHigh != 0 || dwLow != VRF_FILE_SIZE)
        return 0;
    BYTE abVrf[VRF_FILE_SIZE];
    if (!ReadFileAt(pszVrfPath, 0, abVrf, VRF_FILE_SIZE))
        return 0;
    if (!utl_QueryFileSize(pszProtectedPath, &dwHigh, &dwLow) || dwHigh != 0 || dwLow > VRF_MAX_CONTENT)
        return 0;
    // The key is built inside DigestInput; a key that cannot be built fails there.
    if (!ReadFileAt(pszProtectedPath, 0, g_abDigestInput, dwLow))
        return 0;
    BYTE abDigest[VRF_DIGEST_SIZE];
    if (!DigestInput(dwLow, abVrf, pbBlock, abDigest))
        return 0;
    return memcmp(abDigest, abVrf + VRF_SALT_SIZE, VRF_DIGEST_SIZE) == 0 ? 1 : 0;
}

int CreateVrfFile(const char* pszProtectedFile, const char* pszVrfFile, DWORD* pdwErr)
{
    DWORD dwErr = 0;
    DWORD dwHigh = 0, dwLow = 0;
    BYTE abVrf[VRF_FILE_SIZE];
    BYTE abBlock[VRF_BLOCK_SIZE];
    BYTE abKey[VRF_KEY_CAPACITY];
    DWORD dwKeyLen = sizeof(abKey);
    HANDLE hFile = INVALID_HANDLE_VALUE;

    if (!pszProtectedFile || !pszVrfFile || !utl_QueryFileSize(pszProtectedFile, &dwHigh, &dwLow))
        dwErr = VRF_ERR_SIZE;
    else if (dwHigh != 0 || dwLow > VRF_MAX_CONTENT)
        dwErr = VRF_ERR_TOO_BIG;
    else if (!utl_BuildVrfKey(abKey, &dwKeyLen))
        dwErr = VRF_ERR_KEY;
    SecureZeroMemory(abKey, sizeof(abKey));

    if (!dwErr) {
        // Salt bytes are 0 to 254: the byte 0xFF never appears in a salt.
        srand((unsigned)time(NULL));
        for (DWORD i = 0; i < VRF_SALT_SIZE; ++i)
            abVrf[i] = (BYTE)(rand() % 255);
        if (!ReadFileAt(pszProtectedFile, 0, g_abDigestInput, dwLow))
            dwErr = VRF_ERR_OPEN;
    }
    if (!dwErr) {
        VrfDefaultBlock(abBlock);
        if (!DigestInput(dwLow, abVrf, abBlock, abVrf + VRF_SALT_SIZE))
            dwErr = VRF_ERR_KEY;
    }
    if (!dwErr) {
        // The old file goes first (made normal, a link removed as a link);
        // one that stays is not written over: the new file is made anew.
        utl_DeleteOwnFile(pszVrfFile);
        if (GetFileAttributesA(pszVrfFile) == INVALID_FILE_ATTRIBUTES)
            hFile = utl_OpenOwnFile(pszVrfFile, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
        if (hFile == INVALID_HANDLE_VALUE)
            dwErr = VRF_ERR_CREATE;
    }
    if (!dwErr) {
        if (!utl_WriteAll(hFile, abVrf, VRF_FILE_SIZE))
            dwErr = VRF_ERR_WRITE;
    }
    utl_CloseHandle(hFile);
    if (dwErr && pdwErr)
        *pdwErr = dwErr;
    return dwErr ? 0 : 1;
}
