// Registry utilities on HKEY_LOCAL_MACHINE-style keys; see reg.h for the view.
#include "reg.h"
#include "file.h"
#include <string.h>

namespace {

void CloseKey(HKEY& hKey)
{
    if (hKey) {
        RegCloseKey(hKey);
        hKey = NULL;
    }
}

} // namespace

int utl_RegReadDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD* pdwValue)
{
    if (!pdwValue)
        return 0;
    HKEY hKey = NULL;
    if (RegOpenKeyExA(hRoot, pszSubKey, 0, KEY_QUERY_VALUE | UTL_REG_VIEW, &hKey) != ERROR_SUCCESS)
        return 0;
    DWORD dwValue = 0, cbData = sizeof(dwValue);
    // Four bytes whatever the stored type; a longer value fails with ERROR_MORE_DATA.
    LONG lRes = RegQueryValueExA(hKey, pszValue, NULL, NULL, (BYTE*)&dwValue, &cbData);
    CloseKey(hKey);
    if (lRes != ERROR_SUCCESS)
        return 0;
    *pdwValue = dwValue;
    return 1;
}

int utl_RegWriteDword(HKEY hRoot, const char* pszSubKey, const char* pszValue, DWORD dwValue)
{
    HKEY hKey = NULL;
    if (RegCreateKeyExA(hRoot, pszSubKey, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | UTL_REG_VIEW, NULL, &hKey, NULL) != ERROR_SUCCESS)
        return 0;
    LONG lRes = RegSetValueExA(hKey, pszValue, 0, REG_DWORD, (const BYTE*)&dwValue, sizeof(dwValue));
    CloseKey(hKey);
    return lRes == ERROR_SUCCESS ? 1 : 0;
}

int utl_RegReadString(HKEY hRoot, const char* pszSubKey, const char* pszValue, char* pszBuf,
                      DWORD dwBufSize)
{
    if (!pszBuf)
        return 0;
    HKEY hKey = NULL;
    if (RegOpenKeyExA(hRoot, pszSubKey, 0, KEY_QUERY_VALUE | UTL_REG_VIEW, &hKey) != ERROR_SUCCESS)
        return 0;
    // One byte more than a path so that a stored text without terminator is
    // still terminated here.
    char szLocal[UTL_MAX_PATH + 1] = {0};
    DWORD cbData = UTL_MAX_PATH;
    LONG lRes = RegQueryValueExA(hKey, pszValue, NULL, NULL, (BYTE*)szLocal, &cbData);
    CloseKey(hKey);
    if (lRes != ERROR_SUCCESS)
        return 0;
    size_t nLen = strlen(szLocal);
    if (nLen > dwBufSize)
        return 0;
    memcpy(pszBuf, szLocal, nLen + 1);
    return 1;
}
