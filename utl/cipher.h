// Password cipher: the stored form of a password is Base64 of its single-DES
// ECB encryption (PKCS #5 padding) under the program's fixed key.
#pragma once
#include <windows.h>

// Result codes of both operations.
enum {
    CIPHER_OK = 0, CIPHER_ERR_KEY = 1, CIPHER_ERR_OUTPUT = 2, CIPHER_ERR_CIPHER = 3,
    CIPHER_ERR_MEMORY = 4, CIPHER_ERR_BASE64 = 5, CIPHER_ERR_LENGTH = 6
};

// Encrypts dwPlainLen bytes into a zero-terminated text in pszOut (dwOutSize bytes).
int EncryptPassword(char* pszOut, DWORD dwOutSize, const BYTE* pbPlain, DWORD dwPlainLen);
// Decrypts a text into pbOut; *pdwLen is the capacity on entry and the count
// of plain bytes on success. No terminator is added.
int DecryptPassword(BYTE* pbOut, DWORD* pdwLen, const char* pszText);

// Base64 of the stored text (alphabet A-Z a-z 0-9 + /, "=" padding).
// Characters of the text for cbData bytes, terminator not included.
size_t utl_Base64TextLen(size_t cbData);
// Writes the text and its terminator; 0 when pszOut (cbOut bytes) is too small.
int utl_Base64Encode(char* pszOut, size_t cbOut, const BYTE* pbData, size_t cbData);
// Decodes nTextLen characters into pbOut (room for nTextLen / 4 * 3 bytes) and
// sets *pcbOut; 0 when the text breaks the stored format's rules.
int utl_Base64Decode(BYTE* pbOut, size_t* pcbOut, const char* pszText, size_t nTextLen);
