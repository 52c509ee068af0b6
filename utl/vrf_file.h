// Verification files: 256 bytes, a 240-byte salt and the MD5 digest over a
// protected settings file, the salt, a 32-byte block and the program's key.
// The format itself: the key, the block, the check of one file against its
// verification file, and the writer. None of them logs.
#pragma once
#include <windows.h>

#define VRF_FILE_SIZE 256
#define VRF_SALT_SIZE 240
#define VRF_BLOCK_SIZE 32
#define VRF_MAX_CONTENT 40588u

enum { VRF_ERR_SIZE = 301, VRF_ERR_TOO_BIG = 302, VRF_ERR_OPEN = 303, VRF_ERR_CREATE = 304,
       VRF_ERR_WRITE = 305, VRF_ERR_KEY = 306 };

int MakeVrfKey(const BYTE* pbInput, DWORD dwInputLen, BYTE* pbOutput, DWORD* pdwOutputLen);
// The program's verification key (30 bytes) from its fixed input, into a
// buffer of *pdwKeyLen (at least 30) bytes. Built at run time, never stored.
int utl_BuildVrfKey(BYTE* pbKey, DWORD* pdwKeyLen);

// The default block: 0xFF and 31 zero bytes.
void VrfDefaultBlock(BYTE* pbBlock);
// The block of an icon file: its 32 bytes at offset 512 when it is a file
// below 4 GiB of at least 544 bytes, else the default block. 0 only when
// such an icon cannot be read.
int VrfIconBlock(const char* pszIconPath, BYTE* pbBlock);
// 1 when pszPath is a file (not a folder) of at most VRF_MAX_CONTENT bytes:
// a larger one can never verify.
int VrfContentFits(const char* pszPath);
// 1 when pszVrfPath is the verification file of pszProtectedPath with the
// block pbBlock (VRF_BLOCK_SIZE bytes); any failure on the way (missing
// file, wrong size, unreadable file, key not built) counts as not verified.
int VrfCheckFile(const char* pszProtectedPath, const char* pszVrfPath, const BYTE* pbBlock);
// Writes the verification file of pszProtectedFile with the default block,
// replacing one that stands there (never through a link). 1, or 0 with
// VRF_ERR_* in *pdwErr.
int CreateVrfFile(const char* pszProtectedFile, const char* pszVrfFile, DWORD* pdwErr);
