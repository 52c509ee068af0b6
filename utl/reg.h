// Registry utilities. Keys are opened in the 32-bit view of
// HKEY_LOCAL_MACHINE\SOFTWARE, where the 32-bit client registers itself; the
// 64-bit test build asks for that view explicitly.
#pragma once
#include <windows.h>

#ifdef _WIN64
#define UTL_REG_VIEW KEY_WOW64_32KEY
#else
#define UTL_REG_VIEW 0
#endif

// Reads 4 bytes of the value, whatever its stored type. 1 on success.
int utl_RegReadDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD* pdwValue);
// Creates or opens the key and sets the value as REG_DWORD. 1 on success.
int utl_RegWriteDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD dwValue);
// Reads a string value of at most 260 bytes; fails when the text (without
// terminator) is longer than dwBufSize characters. Copies the text with its
// terminator, so pszBuf must hold dwBufSize + 1 bytes.
int utl_RegReadString(HKEY hRoot, const char* pszSubKey, const char* pszValue, char* pszBuf, DWORD dwBufSize);
